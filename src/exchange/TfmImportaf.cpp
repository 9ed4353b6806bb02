#include "TfmImportaf.h"

#include "db/data_module.h"
#include "employee_exchange.h"
#include "platform/ini_file.h"
#include "ui/prompter.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace keldo::exchange {

namespace {

QLineEdit* numberField(QWidget* parent, const char* name) {
    auto* e = new QLineEdit(parent);
    e->setObjectName(QString::fromLatin1(name));
    e->setMaximumWidth(e->fontMetrics().horizontalAdvance(QStringLiteral("00000000")));
    return e;
}

} // namespace

TfmImportaf::TfmImportaf(db::TDDados& dm, QWidget* parent) : FixedDialog(parent), dm_(dm) {
    setObjectName(QStringLiteral("fmImportaf"));
    setWindowTitle(QStringLiteral("Importação de colaboradores"));

    auto* coords = new QGroupBox(QStringLiteral("Cordenadas de cadastro"), this);
    coords->setObjectName(QStringLiteral("GroupBox1"));
    edPosNome = numberField(coords, "edPosNome");
    edTamNom = numberField(coords, "edTamNom");
    edPosMat = numberField(coords, "edPosMat");
    edTamMat = numberField(coords, "edTamMat");
    edPosCod = numberField(coords, "edPosCod");
    edTamCod = numberField(coords, "edTamCod");
    auto* grid = new QGridLayout(coords);
    grid->addWidget(new QLabel(QStringLiteral("Posição"), coords), 0, 1);
    grid->addWidget(new QLabel(QStringLiteral("Tamanho"), coords), 0, 2);
    const struct {
        const char* caption;
        QLineEdit* pos;
        QLineEdit* size;
    } rows[] = {{"Nome", edPosNome, edTamNom},
                {"Matricula", edPosMat, edTamMat},
                {"Código", edPosCod, edTamCod}};
    int r = 1;
    for (const auto& row : rows) {
        auto* label = new QLabel(QString::fromUtf8(row.caption), coords);
        label->setBuddy(row.pos);
        grid->addWidget(label, r, 0);
        grid->addWidget(row.pos, r, 1);
        grid->addWidget(row.size, r, 2);
        ++r;
    }
    // The rows stay together at the top when the memo beside makes the group tall.
    grid->setRowStretch(r, 1);

    auto* info = new QGroupBox(QStringLiteral("Informativo"), this);
    info->setObjectName(QStringLiteral("GroupBox2"));
    Memo1 = new QPlainTextEdit(info);
    Memo1->setObjectName(QStringLiteral("Memo1"));
    Memo1->setReadOnly(true);
    auto* infoLayout = new QVBoxLayout(info);
    infoLayout->addWidget(Memo1);

    Button1 = new QPushButton(QStringLiteral("&Importar"), this);
    Button1->setObjectName(QStringLiteral("Button1"));
    Button1->setDefault(true);
    connect(Button1, &QPushButton::clicked, this, &TfmImportaf::Button1Click);
    Button2 = new QPushButton(QStringLiteral("&Retornar"), this);
    Button2->setObjectName(QStringLiteral("Button2"));
    Button2->setAutoDefault(false);
    connect(Button2, &QPushButton::clicked, this, &QDialog::accept);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(Button1);
    buttons->addWidget(Button2);

    auto* all = new QVBoxLayout(this);
    auto* top = new QHBoxLayout;
    top->addWidget(coords);
    top->addWidget(info, 1);
    all->addLayout(top);
    all->addLayout(buttons);

    if (const platform::IniFile* ini = dm_.session().ini.get()) {
        const ImportColumnTexts t = readImportSettings(*ini);
        for (const auto& [edit, text] : fields())
            edit->setText(t.*text);
    }
    finishLayout(ui::Placement::Designed);
}

TfmImportaf::~TfmImportaf() = default;

// Every way out of a dialog (either button, the close box, Escape) ends here.
void TfmImportaf::done(int result) {
    FormClose();
    FixedDialog::done(result);
}

ImportColumnTexts TfmImportaf::typedTexts() const {
    ImportColumnTexts t;
    for (const auto& [edit, text] : fields())
        t.*text = edit->text();
    return t;
}

std::array<std::pair<QLineEdit*, QString ImportColumnTexts::*>, 6> TfmImportaf::fields() const {
    return {{{edPosNome, &ImportColumnTexts::posNome},
             {edTamNom, &ImportColumnTexts::tamNom},
             {edPosMat, &ImportColumnTexts::posMat},
             {edTamMat, &ImportColumnTexts::tamMat},
             {edPosCod, &ImportColumnTexts::posCod},
             {edTamCod, &ImportColumnTexts::tamCod}}};
}

void TfmImportaf::FormClose() {
    platform::IniFile* ini = dm_.session().ini.get();
    if (!ini)
        return;
    try {
        writeImportSettings(*ini, typedTexts());
    } catch (const std::exception& e) {
        // The window closes all the same; the operator learns the settings
        // were not kept.
        ui::Prompter::current().error(this, QString::fromUtf8(e.what()));
    }
}

void TfmImportaf::Button1Click() {
    ImportColumns columns;
    try {
        columns = parseImportColumns(typedTexts());
        dm_.tbFuncs->setIndexFieldNames(QStringLiteral("Matricula"));
    } catch (const ExchangeError& e) {
        ui::Prompter::current().error(this, e.text());
        return;
    }
    const QString file = ui::Prompter::current().openFile(
        this, QStringLiteral("Selecione o arquivo de colaborador"), QString(),
        ui::dialogFilter(
            QStringLiteral("Arquivos Texto (*.txt)|*.TXT|Todos os arquivos (*.*)|*.*")));
    int count = 0;
    if (!file.isEmpty()) {
        QString failure;
        bool refused = false;
        try {
            ui::BusyCursor busy;
            count = importEmployees(dm_, columns, file);
        } catch (const db::Refusal&) {
            refused = true; // the data module has told the operator
        } catch (const db::DbError& e) {
            failure = e.text();
        } catch (const ExchangeError& e) {
            failure = e.text();
        }
        if (refused)
            return;
        if (!failure.isEmpty()) {
            ui::Prompter::current().error(this, failure);
            return;
        }
    }
    Memo1->clear();
    Memo1->appendPlainText(QStringLiteral("Colaboradores cadastrados: %1").arg(count));
}

} // namespace keldo::exchange
