// The main window: a picture, the main menu and a status bar with the
// operator's login. Every entry opens its window modally (see main_menu.h);
// entries are enabled by the permissions of the logged-in operator and by
// whether their window is part of the program yet.
#pragma once

#include "main_menu.h"

#include <QHash>
#include <QMainWindow>

class QLabel;

namespace keldo::db {
class TDDados;
}
namespace keldo::platform {
class EngineConfig;
}

namespace keldo::app {

class SingleInstance;

class TfmMain : public QMainWindow {
    Q_OBJECT
public:
    // Checks the alias (adding it for the run when the engine lacks it) and,
    // with `justOne`, the single-instance rule: a second copy hands over to
    // the first copy and isSecondCopy() is then true.
    explicit TfmMain(platform::EngineConfig& engine, SingleInstance* justOne = nullptr,
                     QWidget* parent = nullptr);
    ~TfmMain() override;

    void setDataModule(db::TDDados* dm) { dm_ = dm; }
    bool isSecondCopy() const { return secondCopy_; }

    void showBackupEntry();
    void showOperator(const QString& login);
    QString statusText() const;
    void setEntryPermitted(const QString& name, bool permitted);
    // The entry or the menu bar item of that designer name.
    QAction* entry(const QString& name) const { return actions_.value(name); }
    QMenu* menu(const QString& name) const { return menus_.value(name); }

    // Restores a minimised window, or brings it to the top.
    void bringForward();

signals:
    // The operator left (Sair, the close box) or a re-login was cancelled.
    void programEnded();

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void buildMenu();
    void updateEnabled();
    bool available(const MenuEntry& e) const;
    void run(const MenuEntry& e);
    void openEntryWindow(const MenuEntry& e);
    void editPermissions(const MenuEntry& e);
    void endProgram();

    db::TDDados* dm_ = nullptr;
    bool secondCopy_ = false;
    bool ending_ = false;
    bool shownOnce_ = false;
    QLabel* panel_;
    QHash<QString, QAction*> actions_;
    QHash<QString, QMenu*> menus_;
    QHash<QString, bool> permitted_;
};

} // namespace keldo::app
