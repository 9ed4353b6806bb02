// The session start-up that runs when the data module is created, step by
// step, with the windows reached through StartupHost (the splash, the main
// window, the support console) and LoginHost (the login).
//
//   TDDados dm(engine);
//   switch (runSessionStartup(dm, splash, login, arguments)) { ... }
//
// Steps, in order:
//   1 database directory from the alias          10 bound mark set (with 9)
//   2 "Backup do sistema" made visible           11 "suporte": console, then end
//   3 table maintenance (errors shown, go on)    12 temporary directory bound
//   4 start-up directory                         13 permisso opened (empty: one row)
//   5 INI handle on KELDO32.INI                  14 login (cancel/3 failures: end)
//   6 status "Conectando ao servidor..."         15 status bar shows the login
//   7 session folders from the INI file          16 the six session tables opened
//   8 start-up wait                              17 status "Concluído", start-up wait
//   9 every component bound to the alias
// An error in any step is shown with its text and the steps after it are
// skipped; the program still goes on to the main window.
#pragma once

#include "permissions.h"

#include <QString>
#include <QStringList>

namespace keldo::app {

inline constexpr const char* kStatusConnecting = "Conectando ao servidor...";
inline constexpr const char* kStatusDone = "Concluído";

class StartupHost {
public:
    virtual ~StartupHost() = default;
    virtual void showBackupEntry() = 0;
    // The splash status line, painted at once.
    virtual void setStatus(const QString& text) = 0;
    virtual void processEvents() = 0;
    // One second during which window messages keep being processed.
    virtual void startupWait() = 0;
    virtual void showError(const QString& text) = 0;
    // Shows the support console modally; returns when it is closed.
    virtual void runSupportConsole() = 0;
};

enum class StartupOutcome {
    Ready,     // logged in, session tables open
    Failed,    // an error was shown; the main window opens anyway
    EndProgram // support console closed, or the login was not made
};

// Whether the arguments (without the program's name) ask for the support
// console: the first one is "suporte" in any case.
bool isSupportMode(const QStringList& arguments);

StartupOutcome runSessionStartup(db::TDDados& dm, StartupHost& host, LoginHost& login,
                                 const QStringList& arguments);

} // namespace keldo::app
