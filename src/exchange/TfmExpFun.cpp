#include "TfmExpFun.h"

#include "db/data_module.h"
#include "employee_exchange.h"
#include "ui/prompter.h"

#include <QComboBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

namespace keldo::exchange {

TfmExpFun::TfmExpFun(db::TDDados& dm, QWidget* parent) : FixedDialog(parent), dm_(dm) {
    setObjectName(QStringLiteral("fmExpFun"));
    setWindowTitle(QStringLiteral("Exportação de colaboradores"));

    auto* filtro = new QGroupBox(QStringLiteral("Filtro"), this);
    filtro->setObjectName(QStringLiteral("GroupBox1"));
    auto* empresa = new QLabel(QStringLiteral("Empresa"), filtro);
    ComboBox1 = new QComboBox(filtro);
    ComboBox1->setObjectName(QStringLiteral("ComboBox1"));
    ComboBox1->setEditable(true);
    ComboBox1->setInsertPolicy(QComboBox::NoInsert);
    ComboBox1->setMinimumContentsLength(30);
    ComboBox1->setToolTip(QStringLiteral("Selecione a empresa para exportação de pontos "));
    empresa->setBuddy(ComboBox1);
    auto* filtroLayout = new QHBoxLayout(filtro);
    filtroLayout->addWidget(empresa);
    filtroLayout->addWidget(ComboBox1, 1);

    Label5 = new QLabel(this);
    Label5->setObjectName(QStringLiteral("Label5"));
    Label5->setMinimumWidth(
        Label5->fontMetrics().horizontalAdvance(QStringLiteral("Exportando... 000000/000000")));
    ProgressBar1 = new QProgressBar(this);
    ProgressBar1->setObjectName(QStringLiteral("ProgressBar1"));
    ProgressBar1->setTextVisible(false);
    ProgressBar1->setValue(0);
    auto* progress = new QHBoxLayout;
    progress->addWidget(Label5);
    progress->addWidget(ProgressBar1, 1);

    SpeedButton1 = new QPushButton(QStringLiteral("&Exportar"), this);
    SpeedButton1->setObjectName(QStringLiteral("SpeedButton1"));
    SpeedButton1->setToolTip(
        QStringLiteral("Cria o arquivo de saida referente ao periodo escolhido"));
    SpeedButton1->setAutoDefault(false);
    connect(SpeedButton1, &QPushButton::clicked, this, &TfmExpFun::SpeedButton1Click);
    SpeedButton5 = new QPushButton(QStringLiteral("&Retorna"), this);
    SpeedButton5->setObjectName(QStringLiteral("SpeedButton5"));
    SpeedButton5->setAutoDefault(false);
    connect(SpeedButton5, &QPushButton::clicked, this, &QDialog::accept);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(SpeedButton1);
    buttons->addWidget(SpeedButton5);

    auto* all = new QVBoxLayout(this);
    all->addWidget(filtro);
    all->addLayout(progress);
    all->addLayout(buttons);

    fillCompanies();
    finishLayout(ui::Placement::Designed);
}

TfmExpFun::~TfmExpFun() = default;

void TfmExpFun::fillCompanies() {
    try {
        ComboBox1->addItems(companyChoices(dm_));
    } catch (const db::DbError& e) {
        ComboBox1->addItem(QString::fromUtf8(kAllCompanies));
        ui::Prompter::current().error(this, e.text());
    }
    ComboBox1->setCurrentIndex(0);
}

void TfmExpFun::SpeedButton1Click() {
    const QString chosen = ui::Prompter::current().saveFile(
        this, QString(), QString(),
        ui::dialogFilter(QStringLiteral("Arquivos texto (*.TXT)|*.txt|Todos os arquivos|*.*")));
    if (chosen.isEmpty()) {
        SpeedButton1->setEnabled(true);
        return;
    }
    int count = 0;
    QString failure;
    {
        ui::BusyCursor busy(SpeedButton1);
        ui::ProgressDisplay progress(Label5, ProgressBar1);
        progress.start();
        try {
            count = exportEmployees(dm_, ComboBox1->currentText(), chosen,
                                    [&](int n, int total) { progress.show(n, total); });
            progress.finish();
        } catch (const ExchangeError& e) {
            failure = e.text();
        } catch (const db::DbError& e) {
            failure = e.text();
        }
    }
    if (failure.isEmpty())
        ui::Prompter::current().information(
            this, QStringLiteral("Fim da exportação !\r\rColaboradores exportados: %1").arg(count));
    else
        ui::Prompter::current().error(this, failure);
}

} // namespace keldo::exchange
