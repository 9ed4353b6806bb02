#include "session_startup.h"

#include "db/data_module.h"

namespace keldo::app {

bool isSupportMode(const QStringList& arguments) {
    return !arguments.isEmpty() && arguments.first().toLower() == QLatin1String("suporte");
}

StartupOutcome runSessionStartup(db::TDDados& dm, StartupHost& host, LoginHost& login,
                                 const QStringList& arguments) {
    try {
        dm.resolveDatabaseDirectory();
        host.showBackupEntry();
        dm.runMaintenance([&](const QString& text) { host.showError(text); });
        dm.takeStartupDirectory();
        dm.createIniHandle();
        host.setStatus(QString::fromUtf8(kStatusConnecting));
        dm.readSessionFolders();
        host.startupWait();
        dm.bindComponents();
        if (isSupportMode(arguments)) {
            host.runSupportConsole();
            return StartupOutcome::EndProgram;
        }
        dm.bindTemporary();
        dm.openPermisso();
        if (!loginAtStartup(dm, login))
            return StartupOutcome::EndProgram;
        login.showOperator(dm.session().login);
        dm.openSessionTables([&](const QString& text) {
            host.setStatus(text);
            host.processEvents();
        });
        host.setStatus(QString::fromUtf8(kStatusDone));
        host.startupWait();
        return StartupOutcome::Ready;
    } catch (const db::DbError& e) {
        host.showError(e.text());
    } catch (const std::exception& e) {
        // Configuration, INI and file-system errors carry Portuguese texts.
        host.showError(QString::fromUtf8(e.what()));
    }
    return StartupOutcome::Failed;
}

} // namespace keldo::app
