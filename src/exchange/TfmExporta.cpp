#include "TfmExporta.h"

#include "db/data_module.h"
#include "ui/prompter.h"
#include "ui/window_names.h"
#include "ui/window_registry.h"

#include <QComboBox>
#include <QDateEdit>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

namespace keldo::exchange {
namespace {

constexpr int kDefaultPeriodDays = 30;

const char* kTextFilter = "Arquivos texto (*.TXT)|*.txt|Todos os arquivos|*.*";
const char* kPtoFilter = "Arquivos Corvaldi (*.PTO)|*.PTO|Todos os arquivos|*.*";

QDateEdit* datePicker(QWidget* parent, const char* name, const QDate& day, const char* hint) {
    auto* d = new QDateEdit(day, parent);
    d->setObjectName(QString::fromLatin1(name));
    d->setCalendarPopup(true);
    // The program's short date form whatever the desktop's language: a
    // machine set to English would otherwise show "10 Nov 2026".
    d->setDisplayFormat(QStringLiteral("dd/MM/yyyy"));
    d->setToolTip(QString::fromUtf8(hint));
    return d;
}

QComboBox* filterList(QWidget* parent, const char* name, const QStringList& items,
                      const char* hint) {
    auto* c = new QComboBox(parent);
    c->setObjectName(QString::fromLatin1(name));
    c->setEditable(true);
    // Typed text filters; it does not become an item of the list.
    c->setInsertPolicy(QComboBox::NoInsert);
    c->addItems(items);
    c->setCurrentIndex(0);
    c->setToolTip(QString::fromUtf8(hint));
    return c;
}

} // namespace

TfmExporta::TfmExporta(db::TDDados& dm, QWidget* parent) : FixedDialog(parent), dm_(dm) {
    setObjectName(QStringLiteral("fmExporta"));
    setWindowTitle(QStringLiteral("Exportação de pontos"));

    const QDate today = QDate::currentDate();
    DateTimePicker1 = datePicker(this, "DateTimePicker1", today.addDays(-kDefaultPeriodDays),
                                 "Período inicial para exportação de pontos");
    DateTimePicker2 =
        datePicker(this, "DateTimePicker2", today, "Periodo final para exportação de pontos");
    ComboBox1 = filterList(this, "ComboBox1", companyChoices(dm_),
                           "Selecione a empresa para exportação de pontos ");
    ComboBox2 = filterList(this, "ComboBox2", employeeChoices(dm_),
                           "Selecione o colaborador para exportção de pontos");

    SpeedButton1 = new QPushButton(QStringLiteral("&Exportar"), this);
    SpeedButton1->setObjectName(QStringLiteral("SpeedButton1"));
    SpeedButton1->setToolTip(
        QStringLiteral("Cria o arquivo de saida referente ao periodo escolhido"));
    SpeedButton1->setAutoDefault(false);
    SpeedButton5 = new QPushButton(QStringLiteral("&Retorna"), this);
    SpeedButton5->setObjectName(QStringLiteral("SpeedButton5"));
    SpeedButton5->setAutoDefault(false);
    Label5 = new QLabel(this);
    Label5->setObjectName(QStringLiteral("Label5"));
    ProgressBar1 = new QProgressBar(this);
    ProgressBar1->setObjectName(QStringLiteral("ProgressBar1"));
    ProgressBar1->setTextVisible(false);
    ProgressBar1->setRange(0, 1);
    ProgressBar1->setValue(0);
    connect(SpeedButton1, &QPushButton::clicked, this, &TfmExporta::SpeedButton1Click);
    connect(SpeedButton5, &QPushButton::clicked, this, &QDialog::reject);

    auto* period = new QHBoxLayout;
    period->addWidget(new QLabel(QStringLiteral("Período de"), this));
    period->addWidget(DateTimePicker1);
    period->addWidget(new QLabel(QStringLiteral("a"), this));
    period->addWidget(DateTimePicker2);
    period->addStretch();

    auto* filtro = new QGroupBox(QStringLiteral("Filtro"), this);
    filtro->setObjectName(QStringLiteral("GroupBox1"));
    auto* grid = new QGridLayout(filtro);
    grid->addWidget(new QLabel(QStringLiteral("Empresa"), filtro), 0, 0);
    grid->addWidget(ComboBox1, 0, 1);
    grid->addWidget(new QLabel(QStringLiteral("Colaborador"), filtro), 1, 0);
    grid->addWidget(ComboBox2, 1, 1);
    grid->setColumnStretch(1, 1);

    auto* bottom = new QHBoxLayout;
    bottom->addWidget(Label5);
    bottom->addWidget(ProgressBar1, 1);
    bottom->addWidget(SpeedButton1);
    bottom->addWidget(SpeedButton5);

    auto* all = new QVBoxLayout(this);
    all->addLayout(period);
    all->addWidget(filtro);
    all->addStretch();
    all->addLayout(bottom);
    finishLayout(ui::Placement::Designed, 520);
}

QString TfmExporta::chooseFile(ExportMode mode) {
    const char* filter = mode == ExportMode::Layout ? kTextFilter : kPtoFilter;
    return ui::Prompter::current().saveFile(this, {}, {},
                                            ui::dialogFilter(QString::fromUtf8(filter)));
}

void TfmExporta::SpeedButton1Click() {
    ui::Prompter& prompter = ui::Prompter::current();
    try {
        const ExportMode mode = configuredExportMode(dm_);
        if (mode == ExportMode::Layout && !bodyMaskDefined(dm_)) {
            if (prompter.confirm(
                    this, QString::fromUtf8(kNoBodyMaskText) + QStringLiteral("\rDefinir agora?"),
                    ui::Buttons::YesNo) == ui::Answer::Yes)
                ui::openWindow(QString::fromLatin1(ui::kTfmLayOutAr), this, dm_);
            return;
        }
        PunchExportJob job;
        job.mode = mode;
        job.from = DateTimePicker1->date();
        job.to = DateTimePicker2->date();
        job.filters = resolveExportFilters(dm_, ComboBox1->currentText(), ComboBox2->currentText());
        job.fileName = chooseFile(mode);
        if (job.fileName.isEmpty())
            return;
        ui::BusyCursor busy(SpeedButton1);
        ui::ProgressDisplay progress(Label5, ProgressBar1);
        progress.start();
        job.progress = [&](qint64 exported, qint64 rows) { progress.show(exported, rows); };
        const PunchExportResult r = exportPunches(dm_, job);
        progress.finish();
        busy.release();
        prompter.information(this, exportFinishedText(r.exported));
    } catch (const ExchangeError& e) {
        prompter.error(this, e.text());
    } catch (const db::DbError& e) {
        prompter.error(this, e.text());
    }
}

} // namespace keldo::exchange
