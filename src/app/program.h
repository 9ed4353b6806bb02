// The program start, in order:
//   1 hints stay visible 60 seconds       5 the data module and its session start-up
//   2 the splash, painted at once          6 the splash freed
//   3 the application title "Cronalto"     7 the main window shown (tbFuncs by matricula)
//   4 the main window (alias check, single-instance check)
// then the message loop. A second copy ends after step 4.
//
//   int main(int argc, char** argv) { QApplication a(argc, argv); return runProgram(a); }
#pragma once

#include "TfmMain.h"
#include "TfmSplash.h"
#include "session_startup.h"

#include <QPointer>
#include <functional>
#include <memory>

namespace keldo::db {
class TDDados;
}
namespace keldo::platform {
class EngineConfig;
}

namespace keldo::app {

class SingleInstance;

// The start-up wait: one second of processing window messages.
void processMessagesFor(int milliseconds);

class Program {
public:
    // `arguments` without the program's name.
    explicit Program(QStringList arguments);
    ~Program();

    // Replaces the one-second start-up waits (benchmarks leave them out).
    std::function<void()> startupWait;

    // Steps 1 to 4. False for a second copy, which has handed over to the
    // first one and must end.
    bool start(SingleInstance* justOne);
    // Step 5, with the login through `login` (the login dialog when null).
    StartupOutcome startSession(LoginHost* login = nullptr);
    // Steps 6 and 7.
    void showMainWindow();

    TfmMain& mainWindow() { return *main_; }
    TfmSplash* splash() { return splash_.get(); }
    db::TDDados& dataModule() { return *dm_; }

private:
    QStringList arguments_;
    std::unique_ptr<platform::EngineConfig> engine_;
    std::unique_ptr<TfmSplash> splash_;
    std::unique_ptr<TfmMain> main_;
    std::unique_ptr<db::TDDados> dm_;
};

// The whole program: start, session, message loop. Returns the exit status.
int runProgram(QApplication& app);

} // namespace keldo::app
