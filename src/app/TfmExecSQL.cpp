#include "TfmExecSQL.h"

#include "db/data_module.h"
#include "db/support_console.h"
#include "ui/prompter.h"

#include <QHBoxLayout>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace keldo::app {

TfmExecSQL::TfmExecSQL(db::TDDados& dm, QWidget* parent) : FixedDialog(parent), dm_(dm) {
    setObjectName(QStringLiteral("fmExecSQL"));
    setWindowTitle(QStringLiteral("Suporte Corvaldi"));
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
    finishLayout(ui::Placement::ScreenCentre, 560, 360);
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
