#include "TfmMain.h"

#include "TfmLogin.h"
#include "TfmSobre.h"
#include "db/data_module.h"
#include "db/location.h"
#include "external_programs.h"
#include "permissions.h"
#include "pictures.h"
#include "single_instance.h"
#include "ui/prompter.h"
#include "ui/window_registry.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QLabel>
#include <QMenuBar>
#include <QPainter>
#include <QStatusBar>
#include <QUrl>

namespace keldo::app {
namespace {

constexpr QSize kClientSize(800, 540);

// Runs `undo` when the scope ends, however it ends.
class Finally {
public:
    explicit Finally(std::function<void()> undo) : undo_(std::move(undo)) {}
    ~Finally() { undo_(); }
    Finally(const Finally&) = delete;
    Finally& operator=(const Finally&) = delete;

private:
    std::function<void()> undo_;
};

// The picture that fills the client area, painted when first shown so
// that it costs nothing before the login.
class Picture : public QWidget {
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent*) override {
        if (cache_.size() != size())
            cache_ = backgroundPicture(size());
        QPainter(this).drawPixmap(0, 0, cache_);
    }

private:
    QPixmap cache_;
};

} // namespace

TfmMain::TfmMain(platform::EngineConfig& engine, SingleInstance* justOne, QWidget* parent)
    : QMainWindow(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                              Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                              Qt::WindowCloseButtonHint) {
    setObjectName(QStringLiteral("fmMain"));
    setWindowTitle(QString::fromUtf8(kProductName));
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, Qt::white);
    setPalette(pal);

    auto* picture = new Picture(this);
    picture->setObjectName(QStringLiteral("Image1"));
    setCentralWidget(picture);
    panel_ = new QLabel(this);
    panel_->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    panel_->setObjectName(QStringLiteral("StatusBar1Panel"));
    statusBar()->setObjectName(QStringLiteral("StatusBar1"));
    statusBar()->setSizeGripEnabled(false);
    statusBar()->addWidget(panel_, 1);
    buildMenu();
    picture->setFixedSize(kClientSize);
    setFixedSize(sizeHint());

    db::ensureRunAlias(engine);
    move(-2, -2);
    if (justOne) {
        if (justOne->isSecondCopy()) {
            justOne->activateFirstCopy();
            secondCopy_ = true;
        } else {
            connect(justOne, &SingleInstance::activationRequested, this, &TfmMain::bringForward);
        }
    }
}

TfmMain::~TfmMain() = default;

void TfmMain::buildMenu() {
    for (const MenuDef& m : mainMenu()) {
        const QString name = QString::fromLatin1(m.name);
        if (m.entries.isEmpty()) {
            QAction* a = menuBar()->addAction(QString::fromUtf8(m.caption));
            a->setObjectName(name);
            actions_.insert(name, a);
            MenuEntry self;
            self.caption = m.caption;
            self.name = m.name;
            self.action = m.action;
            connect(a, &QAction::triggered, this, [this, self] { run(self); });
            continue;
        }
        QMenu* menu = menuBar()->addMenu(QString::fromUtf8(m.caption));
        menu->setObjectName(name);
        menu->menuAction()->setObjectName(name);
        menu->setToolTipsVisible(true);
        menus_.insert(name, menu);
        for (const MenuEntry& e : m.entries) {
            if (!e.caption) {
                menu->addSeparator();
                continue;
            }
            QAction* a = menu->addAction(QString::fromUtf8(e.caption));
            a->setObjectName(QString::fromLatin1(e.name));
            a->setVisible(!e.hiddenAsDesigned);
            actions_.insert(a->objectName(), a);
            connect(a, &QAction::triggered, this, [this, e] { run(e); });
        }
    }
    updateEnabled();
}

bool TfmMain::available(const MenuEntry& e) const {
    const bool opensWindow =
        e.action == EntryAction::Window || e.action == EntryAction::Permissions;
    return !opensWindow || ui::hasWindow(QString::fromLatin1(e.target));
}

void TfmMain::updateEnabled() {
    const auto permitted = [this](const char* name) {
        return permitted_.value(QString::fromLatin1(name), true);
    };
    for (const MenuDef& m : mainMenu()) {
        const bool menuOn = permitted(m.name);
        if (QMenu* menu = menus_.value(QString::fromLatin1(m.name)))
            menu->menuAction()->setEnabled(menuOn);
        for (const MenuEntry& e : m.entries) {
            if (!e.caption)
                continue;
            QAction* a = actions_.value(QString::fromLatin1(e.name));
            const bool exists = available(e);
            // A disabled menu takes its entries with it.
            a->setEnabled(menuOn && permitted(e.name) && exists);
            const QString hint = exists ? QString() : QString::fromUtf8(kComingSoonHint);
            a->setToolTip(hint.isEmpty() ? a->text() : hint);
            a->setStatusTip(hint);
        }
    }
}

void TfmMain::showBackupEntry() {
    if (QAction* a = entry(QStringLiteral("Backupdosistema1")))
        a->setVisible(true);
}

void TfmMain::showOperator(const QString& login) {
    panel_->setText(login);
}

QString TfmMain::statusText() const {
    return panel_->text();
}

void TfmMain::setEntryPermitted(const QString& name, bool permitted) {
    permitted_.insert(name, permitted);
    updateEnabled();
}

void TfmMain::bringForward() {
    if (!isVisible()) {
        // Still starting (the login is up): that dialog comes forward.
        if (QWidget* modal = QApplication::activeModalWidget()) {
            modal->raise();
            modal->activateWindow();
        }
        return;
    }
    if (windowState() & Qt::WindowMinimized)
        setWindowState((windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    show();
    raise();
    activateWindow();
}

void TfmMain::run(const MenuEntry& e) {
    try {
        switch (e.action) {
        case EntryAction::Window:
            openEntryWindow(e);
            break;
        case EntryAction::Program: {
            QString error;
            if (!startExternalProgram(QString::fromLatin1(e.target), &error))
                ui::Prompter::current().error(this, error);
            break;
        }
        case EntryAction::SupportPage:
            if (!QDesktopServices::openUrl(QUrl(QString::fromLatin1(kSupportPageUrl))))
                ui::Prompter::current().error(
                    this, QStringLiteral("Não foi possível abrir a página de suporte online "
                                         "(%1).")
                              .arg(QString::fromLatin1(kSupportPageUrl)));
            break;
        case EntryAction::About: {
            if (!dm_)
                return;
            TfmSobre about(*dm_, this);
            about.exec();
            break;
        }
        case EntryAction::Permissions:
            editPermissions(e);
            break;
        case EntryAction::Exit:
            close();
            break;
        }
    } catch (const db::DbError& err) {
        ui::Prompter::current().error(this, err.text());
    } catch (const db::Abort&) {
    } catch (const std::exception& err) {
        ui::Prompter::current().error(this, QString::fromUtf8(err.what()));
    }
}

void TfmMain::openEntryWindow(const MenuEntry& e) {
    if (!dm_)
        return;
    db::TDDados& dm = *dm_;
    QList<db::DataSet*> reopen;
    QList<db::DataSet*> opened;
    Finally restore([&] {
        for (db::DataSet* ds : opened)
            ds->close();
        if (e.photoSwitch)
            dm.session().photoDisplay = false;
        for (db::DataSet* ds : reopen) {
            try {
                ds->open();
            } catch (const db::DbError& err) {
                ui::Prompter::current().error(this, err.text());
            }
        }
    });
    if (e.closesDataSets) {
        for (db::DataSet* ds : dm.dataSets())
            if (ds->isActive()) {
                ds->close();
                reopen << ds;
            }
    }
    if (e.tables) {
        const QStringList names = QString::fromLatin1(e.tables).split(QLatin1Char(';'));
        for (const QString& n : names)
            for (db::DataSet* ds : dm.dataSets())
                if (ds->objectName() == n) {
                    ds->open();
                    opened << ds;
                }
    }
    if (e.photoSwitch)
        dm.session().photoDisplay = true;
    ui::openWindow(QString::fromLatin1(e.target), this, dm);
}

void TfmMain::editPermissions(const MenuEntry& e) {
    if (!dm_)
        return;
    ui::openWindow(QString::fromLatin1(e.target), this, *dm_);
    LoginDialogHost relogin(this);
    if (!applyPermissions(*dm_, relogin))
        endProgram();
}

void TfmMain::endProgram() {
    ending_ = true;
    close();
    emit programEnded();
}

void TfmMain::closeEvent(QCloseEvent* event) {
    if (!ending_) {
        if (ui::Prompter::current().confirm(this, QString::fromUtf8(kExitQuestion),
                                            ui::Buttons::YesNo) != ui::Answer::Yes) {
            event->ignore();
            return;
        }
        ending_ = true;
        event->accept();
        emit programEnded();
        return;
    }
    event->accept();
}

void TfmMain::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (shownOnce_ || !dm_)
        return;
    shownOnce_ = true;
    try {
        // Matricula order from the first row is where the session starts; a
        // failure on the way leaves the table as it was.
        db::OrderGuard guard(*dm_->tbFuncs);
        dm_->tbFuncs->setIndexFieldNames(QStringLiteral("matricula"));
        if (dm_->tbFuncs->isActive())
            dm_->tbFuncs->first();
        guard.keep();
    } catch (const db::DbError& err) {
        ui::Prompter::current().error(this, err.text());
    }
}

} // namespace keldo::app
