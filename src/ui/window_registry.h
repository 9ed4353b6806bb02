// Who opens which window. The main menu knows its windows only by name
// ("TfmEmpresa", "TfmFuncs", ..., spelt through window_names.h); each
// subsystem registers an opener for the windows it builds, once at start,
// before the main window exists:
//
//   ui::registerWindow(QString::fromLatin1(ui::kTfmEmpresa),
//                      [](QWidget* parent, db::TDDados& dm) { TfmEmpresa(dm, parent).exec(); });
//
// An opener creates its window, shows it modally and frees it when it
// closes. A name without an opener is a window that does not exist yet: the
// menu shows its entry disabled. Registration goes through a function the
// program calls (not static initialisers, which a static library drops).
#pragma once

#include <QString>
#include <QStringList>
#include <functional>

class QWidget;

namespace keldo::db {
class TDDados;
}

namespace keldo::ui {

using WindowOpener = std::function<void(QWidget* parent, db::TDDados& dm)>;

// Replaces an opener of the same name; an empty opener removes it.
void registerWindow(const QString& name, WindowOpener opener);
bool hasWindow(const QString& name);
// Runs the opener; false when none is registered.
bool openWindow(const QString& name, QWidget* parent, db::TDDados& dm);
QStringList registeredWindows();

} // namespace keldo::ui
