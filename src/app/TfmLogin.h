// The login dialog, and the LoginHost that the session uses at start-up and
// after the permission editor: it keeps one dialog (and so the typed texts)
// for all its attempts and reports to the main window.
#pragma once

#include "permissions.h"

#include "ui/window_kit.h"

#include <memory>

class QLineEdit;
class QPushButton;

namespace keldo::app {

class TfmMain;

class TfmLogin : public ui::FixedDialog {
    Q_OBJECT
public:
    static constexpr int kMaxLength = 10;
    explicit TfmLogin(QWidget* parent = nullptr);
    Credentials credentials() const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QLineEdit* edLogin;
    QLineEdit* edSenha;
    QPushButton* btOK;
    QPushButton* btCancela;
};

class LoginDialogHost : public LoginHost {
public:
    explicit LoginDialogHost(TfmMain* main) : main_(main) {}
    ~LoginDialogHost() override;
    std::optional<Credentials> askCredentials() override;
    void operatorNotFound() override;
    void showOperator(const QString& login) override;
    void setEntryPermitted(const QString& entry, bool permitted) override;

private:
    TfmMain* main_;
    std::unique_ptr<TfmLogin> dialog_;
};

} // namespace keldo::app
