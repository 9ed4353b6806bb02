#include "TfmLogin.h"

#include "TfmMain.h"
#include "ui/prompter.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace keldo::app {

TfmLogin::TfmLogin(QWidget* parent) : FixedDialog(parent) {
    setObjectName(QStringLiteral("fmLogin"));
    setWindowTitle(QStringLiteral("Login"));
    edLogin = new QLineEdit(this);
    edLogin->setObjectName(QStringLiteral("edLogin"));
    edLogin->setMaxLength(kMaxLength);
    edSenha = new QLineEdit(this);
    edSenha->setObjectName(QStringLiteral("edSenha"));
    edSenha->setMaxLength(kMaxLength);
    edSenha->setEchoMode(QLineEdit::Password);
    edSenha->setStyleSheet(QStringLiteral("lineedit-password-character: 42;")); // '*'
    edLogin->installEventFilter(this);

    btOK = new QPushButton(QStringLiteral("OK"), this);
    btOK->setObjectName(QStringLiteral("btOK"));
    btOK->setDefault(true);
    btCancela = new QPushButton(QStringLiteral("Cancela"), this);
    btCancela->setObjectName(QStringLiteral("btCancela"));
    btCancela->setAutoDefault(false);
    connect(btOK, &QPushButton::clicked, this, &QDialog::accept);
    connect(btCancela, &QPushButton::clicked, this, &QDialog::reject);

    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("Login"), edLogin);
    form->addRow(QStringLiteral("Senha"), edSenha);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(btOK);
    buttons->addWidget(btCancela);
    auto* all = new QVBoxLayout(this);
    all->addLayout(form);
    all->addLayout(buttons);
    finishLayout(ui::Placement::ScreenCentre, 280);
    edLogin->setFocus();
}

Credentials TfmLogin::credentials() const {
    return {edLogin->text(), edSenha->text()};
}

bool TfmLogin::eventFilter(QObject* watched, QEvent* event) {
    // Enter in the login field goes on to the password instead of pressing OK.
    if (watched == edLogin && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            edSenha->setFocus();
            return true;
        }
    }
    return FixedDialog::eventFilter(watched, event);
}

LoginDialogHost::~LoginDialogHost() = default;

std::optional<Credentials> LoginDialogHost::askCredentials() {
    if (!dialog_)
        dialog_ = std::make_unique<TfmLogin>(main_ && main_->isVisible() ? main_ : nullptr);
    if (dialog_->exec() != QDialog::Accepted)
        return std::nullopt;
    return dialog_->credentials();
}

void LoginDialogHost::operatorNotFound() {
    ui::Prompter::current().error(dialog_.get(), QString::fromUtf8(kOperatorNotFound));
}

void LoginDialogHost::showOperator(const QString& login) {
    if (main_)
        main_->showOperator(login);
}

void LoginDialogHost::setEntryPermitted(const QString& entry, bool permitted) {
    if (main_)
        main_->setEntryPermitted(entry, permitted);
}

} // namespace keldo::app
