#include "TfmExecSQL.h"

#include "db/data_module.h"
#include "db/support_console.h"
#include "ui/prompter.h"

#include <QGuiApplication>
#include <QHBoxLayout>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

namespace keldo::app {

TfmExecSQL::TfmExecSQL(db::TDDados& dm, QWidget* parent) : QDialog(parent), dm_(dm) {
    setObjectName(QStringLiteral("fmExecSQL"));
    setWindowTitle(QStringLiteral("Suporte Corvaldi"));
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint);
    Memo1 = new QPlainTextEdit(this);
    Memo1->setObjectName(QStringLiteral("Memo1"));
    Memo1->setFont(QFont(QStringLiteral("monospace")));
    auto* run = new QPushButton(QStringLiteral("Executar"), this);
    run->setObjectName(QStringLiteral("Button1"));
    run->setAutoDefault(false);
    auto* close = new QPushButton(QStringLiteral("Fechar"), this);
    close->setObjectName(QStringLiteral("Button2"));
    close->setAutoDefault(false);
    connect(run, &QPushButton::clicked, this, &TfmExecSQL::Button1Click);
    connect(close, &QPushButton::clicked, this, &QDialog::reject);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(run);
    buttons->addWidget(close);
    auto* all = new QVBoxLayout(this);
    all->addWidget(Memo1);
    all->addLayout(buttons);
    setFixedSize(560, 360);
    if (QScreen* s = QGuiApplication::primaryScreen())
        move(s->geometry().center() - rect().center());
}

void TfmExecSQL::Button1Click() {
    try {
        db::runSupportStatement(*dm_.qySQL, Memo1->toPlainText());
    } catch (const db::DbError& e) {
        ui::Prompter::current().error(this, e.text());
        return;
    }
    ui::Prompter::current().information(this, QString::fromUtf8(kDoneText));
}

} // namespace keldo::app
