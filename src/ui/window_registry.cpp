#include "window_registry.h"

#include <QHash>

namespace keldo::ui {
namespace {

QHash<QString, WindowOpener>& openers() {
    static QHash<QString, WindowOpener> table;
    return table;
}

} // namespace

void registerWindow(const QString& name, WindowOpener opener) {
    if (opener)
        openers().insert(name, std::move(opener));
    else
        openers().remove(name);
}

bool hasWindow(const QString& name) {
    return openers().contains(name);
}

bool openWindow(const QString& name, QWidget* parent, db::TDDados& dm) {
    // A copy: the opener may register or remove windows while it runs.
    const WindowOpener opener = openers().value(name);
    if (!opener)
        return false;
    opener(parent, dm);
    return true;
}

QStringList registeredWindows() {
    QStringList names = openers().keys();
    names.sort();
    return names;
}

} // namespace keldo::ui
