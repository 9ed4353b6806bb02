#include "program.h"

#include "TfmExecSQL.h"
#include "TfmLogin.h"
#include "TfmPermisso.h"
#include "db/data_module.h"
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
    main_->setDataModule(dm_.get());
    WindowsStartupHost host(*this, startupWait);
    if (login)
        return runSessionStartup(*dm_, host, *login, arguments_);
    LoginDialogHost dialog(main_.get());
    return runSessionStartup(*dm_, host, dialog, arguments_);
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
