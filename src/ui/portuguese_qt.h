// What Qt draws by itself (file dialogs, standard buttons, calendars, context
// menus) in Brazilian Portuguese, whatever language the desktop runs in: the
// program's own texts are Portuguese, and a dialog that says "Save" and
// "Cancel" among them would look broken to the operator.
//
//   QApplication app(argc, argv);
//   ui::installPortugueseQt(app);
#pragma once

#include <QString>
#include <QStringList>

class QCoreApplication;

namespace keldo::ui {

inline constexpr char kQtTranslationFile[] = "qtbase_pt_BR.qm";

// Where Qt's translation is looked for, in order: Qt's own translations
// folder (filled by the distribution's package), then the program's
// installed share/keldo/translations beside its bin folder. Needs the
// application object for the second.
QStringList qtTranslationFolders();

// The translation file in the first folder that holds it; empty when none does.
QString findQtTranslation(const QStringList& folders);

// Makes Brazilian Portuguese the default locale (dates, numbers, month
// names) and loads Qt's translation into the application. Returns whether
// the translation was found; without it the locale is still set and Qt's
// texts stay English. Calling it again does not load the file twice.
bool installPortugueseQt(QCoreApplication& app);

} // namespace keldo::ui
