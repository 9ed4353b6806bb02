#include "program.h"

#include "TfmExecSQL.h"
#include "TfmLogin.h"
#include "TfmPermisso.h"
#include "db/data_module.h"
#include "exchange/exchange_windows.h"
#include "pictures.h"
#include "platform/engine_config.h"
#include "single_instance.h"
#include "ui/hints.h"
#include "ui/prompter.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QTimer>

namespace keldo::app {
namespace {

// The windows' side of the session start-up.
class WindowsStartupHost : public StartupHost {
public:
    WindowsStartupHost(Program& p, std::function<void()> wait) : p_(p), wait_(std::move(wait)) {}
    void showBackupEntry() override { p_.mainWindow().showBackupEntry(); }
    void setStatus(const QString& text) override {
        if (p_.splash())
            p_.splash()->setStatus(text);
    }
    void processEvents() override { QCoreApplication::processEvents(); }
    void startupWait() override { wait_(); }
    void showError(const QString& text) override { ui::Prompter::current().error(nullptr, text); }
    void runSupportConsole() override {
        TfmExecSQL console(p_.dataModule());
        console.exec();
    }

private:
    Program& p_;
    std::function<void()> wait_;
};

// Passes everything on and notes whether permissions were applied, that is
// whether an operator logged in.
class Tracked : public LoginHost {
public:
    explicit Tracked(LoginHost& inner) : inner_(inner) {}
    bool applied = false;
    std::optional<Credentials> askCredentials() override { return inner_.askCredentials(); }
    void operatorNotFound() override { inner_.operatorNotFound(); }
    void showOperator(const QString& login) override { inner_.showOperator(login); }
    void setEntryPermitted(const QString& entry, bool permitted) override {
        applied = true;
        inner_.setEntryPermitted(entry, permitted);
    }

private:
    LoginHost& inner_;
};

} // namespace

void processMessagesFor(int milliseconds) {
    QEventLoop loop;
    QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
    loop.exec();
}

Program::Program(QStringList arguments)
    : startupWait([] { processMessagesFor(1000); }), arguments_(std::move(arguments)) {}

Program::~Program() {
    // The windows go before the data module whose components they show.
    splash_.reset();
    main_.reset();
    dm_.reset();
}

bool Program::start(SingleInstance* justOne) {
    ui::installHintDuration(qApp);
    splash_ = std::make_unique<TfmSplash>();
    splash_->show();
    splash_->repaint();
    QCoreApplication::processEvents();
    QCoreApplication::setApplicationName(QString::fromUtf8(kProductName));
    engine_ = std::make_unique<platform::EngineConfig>();
    main_ = std::make_unique<TfmMain>(*engine_, justOne);
    return !main_->isSecondCopy();
}

StartupOutcome Program::startSession(LoginHost* login) {
    dm_ = std::make_unique<db::TDDados>(*engine_);
    dm_->tellOperator = [](const QString& text) {
        ui::Prompter::current().information(QApplication::activeWindow(), text);
    };
    main_->setDataModule(dm_.get());
    WindowsStartupHost host(*this, startupWait);
    LoginDialogHost dialog(main_.get());
    Tracked tracked(login ? *login : dialog);
    const StartupOutcome outcome = runSessionStartup(*dm_, host, tracked, arguments_);
    if (outcome == StartupOutcome::Failed && !tracked.applied) {
        // The start-up failed before anybody logged in: the main window
        // opens, but what the rights govern stays closed to an operator who
        // never identified himself.
        for (const PermissionRule& r : permissionRules())
            main_->setEntryPermitted(QString::fromLatin1(r.entry), false);
    }
    return outcome;
}

void Program::showMainWindow() {
    splash_.reset();
    main_->show();
}

int runProgram(QApplication& app) {
    QStringList arguments = app.arguments();
    const QString title = applicationTitle(arguments.isEmpty() ? QString() : arguments.first());
    if (!arguments.isEmpty())
        arguments.removeFirst();
    // The windows of the menu, by subsystem.
    registerPermissionEditor();
    exchange::registerExchangeWindows();
    // Before any window, as the original's named mutex.
    SingleInstance justOne(title);
    Program program(arguments);
    if (!program.start(&justOne))
        return 0;
    if (program.startSession() == StartupOutcome::EndProgram)
        return 0;
    program.showMainWindow();
    QObject::connect(&program.mainWindow(), &TfmMain::programEnded, &app, &QCoreApplication::quit,
                     Qt::QueuedConnection);
    app.setQuitOnLastWindowClosed(false);
    return app.exec();
}

} // namespace keldo::app
