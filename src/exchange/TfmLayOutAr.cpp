#include "TfmLayOutAr.h"

#include "db/data_module.h"
#include "ui/bound_controls.h"
#include "ui/data_controls.h"
#include "ui/prompter.h"

#include <QFontDatabase>
#include <QFormLayout>
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

const char* const kNoMaskText = "Nenhuma Máscara definida!";
const char* const kNotSavedText = "Dados não foram salvos. Salvar?";
const char* const kNoRowText =
    "O formato do arquivo de saída não foi encontrado: a tabela layoutar não tem "
    "nenhum registro.\nO banco de dados pode estar danificado; restaure uma cópia "
    "de segurança ou chame o suporte.";

const char* const kHelpText =
    "Como montar a linha do arquivo de saída\n"
    "\n"
    "Cada item configurado nesta janela tem um número (índice). Digite na "
    "Máscara do Corpo do Arquivo os números dos itens, na ordem desejada, com "
    "os símbolos e espaços que devem sair entre eles; se quiser um cabeçalho, "
    "faça o mesmo na Máscara do Cabeçalho.\n"
    "\n"
    "0 - Número do código do colaborador\n"
    "1 - Matrícula do colaborador\n"
    "2 - Nome do colaborador\n"
    "3 - Nome da Empresa\n"
    "4 - Data e hora, no formato escolhido\n"
    "5, 6 e 7 - Colunas fixas\n"
    "8 e 9 - não geram nada no corpo\n"
    "\n"
    "Exemplo: 1;2;4 gera a matrícula, o nome e a data separados por ponto e "
    "vírgula. Antes do primeiro número cabem até 20 caracteres; entre dois "
    "números, até 10.\n"
    "\n"
    "No cabeçalho, 3 gera o nome do sistema, 4 a data e hora atuais e 5, 6 e 7 "
    "as colunas fixas; os demais caracteres saem como foram digitados.\n"
    "\n"
    "Aplicar mostra um exemplo do resultado, sem gravar nada.";

const char* const kApplyHint = "Prepara um resultado exemplo para a máscara especificada";

QString utf8(const char* s) {
    return QString::fromUtf8(s);
}

QPushButton* button(QWidget* parent, const char* name, const char* caption) {
    auto* b = new QPushButton(utf8(caption), parent);
    b->setObjectName(QLatin1String(name));
    b->setAutoDefault(false);
    return b;
}

QLineEdit* resultField(QWidget* parent, const char* name, const char* hint) {
    auto* ed = new QLineEdit(parent);
    ed->setObjectName(QLatin1String(name));
    ed->setReadOnly(true);
    ed->setToolTip(utf8(hint));
    ed->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    return ed;
}

// A width field is a few digits wide.
void narrow(QLineEdit* ed) {
    ed->setFixedWidth(ed->fontMetrics().horizontalAdvance(QLatin1Char('0')) * 6 + 16);
}

} // namespace

int widthFromText(const QString& text) {
    // An empty field is no number either: only a stored row reads an empty
    // width as 0, the operator's field must say what it means.
    bool ok = false;
    const int n = text.trimmed().toInt(&ok);
    if (!ok)
        throw db::DbError(QStringLiteral("'%1' não é um número inteiro válido.").arg(text));
    return n;
}

TfmLayOutAr::TfmLayOutAr(db::TDDados& dm, QWidget* parent) : FixedDialog(parent), dm_(dm) {
    setObjectName(QStringLiteral("fmLayOutAr"));
    setWindowTitle(utf8("Configuração Arquivo de Saída"));
    const QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);

    dsLayOut = new db::DataSource(this);
    dsLayOut->setObjectName(QStringLiteral("dsLayOut"));
    dsLayOut->setDataSet(dm.tbLayOut);

    // --- 1 - matricula
    auto* gbMatricula = new QGroupBox(utf8("1 - Matrícula do colaborador"), this);
    gbMatricula->setObjectName(QStringLiteral("gbMatricula"));
    edMatriTam = ui::bound<ui::DBEdit>(gbMatricula, "edMatriTam", dsLayOut, "Matri_tam",
                                       "Tamanho da coluna Matrícula do colaborador");
    narrow(edMatriTam);
    rgAlinhamento = ui::bound<ui::DBRadioGroup>(
        gbMatricula, QStringLiteral("Alinhamento"), "rgAlinhamento", dsLayOut, "Matri_align",
        "Alinhamento da Matricula do colaborador a esquerda ou a direita");
    rgAlinhamento->addItem(QStringLiteral("Direita"), QStringLiteral("D"));
    rgAlinhamento->addItem(QStringLiteral("Esquerda"), QStringLiteral("E"));
    edMatriBrancos = ui::bound<ui::DBEdit>(
        gbMatricula, "edMatriBrancos", dsLayOut, "Matri_brancos",
        "Caractere usado para preenchimento dos espaços em branco no campo Matrícula");
    narrow(edMatriBrancos);
    auto* matricula = new QFormLayout(gbMatricula);
    matricula->addRow(QStringLiteral("Tamanho"), edMatriTam);
    matricula->addRow(rgAlinhamento);
    matricula->addRow(QStringLiteral("Preenchimento"), edMatriBrancos);

    // --- 2 - name, 3 - company: a width each
    auto widthGroup = [&](const char* title, const char* name, ui::DBEdit*& ed, const char* edName,
                          const char* field, const char* hint) {
        auto* gb = new QGroupBox(utf8(title), this);
        gb->setObjectName(QLatin1String(name));
        ed = ui::bound<ui::DBEdit>(gb, edName, dsLayOut, field, hint);
        narrow(ed);
        (new QFormLayout(gb))->addRow(QStringLiteral("Tamanho"), ed);
        return gb;
    };
    QGroupBox* gbNome = widthGroup("2 - Nome do colaborador", "gbNome", edNomeTam, "edNomeTam",
                                   "Nome_tam", "Tamanho da coluna nome do colaborador");
    QGroupBox* gbEmpresa =
        widthGroup("3 - Nome da Empresa", "gbEmpresa", edEmpresaTam, "edEmpresaTam", "Empresa_tam",
                   "Tamanho da coluna nome da empresa");

    // --- 4 - date
    auto* gbData = new QGroupBox(utf8("4 - Data ( DDMMYYYY HHMMSS)"), this);
    gbData->setObjectName(QStringLiteral("gbData"));
    edDataFormato = ui::bound<ui::DBEdit>(
        gbData, "edDataFormato", dsLayOut, "Data_formato",
        "DD - dia, MM - mes, YY ou YYYY - ano, HH - hora, MM - minuto e SS - segundo");
    edDataFormato->setUpperCase(true);
    edDataFormato->setFont(fixed);
    (new QFormLayout(gbData))->addRow(QStringLiteral("Formato"), edDataFormato);

    // --- 5, 6, 7 - fixed columns
    auto* gbFixas = new QGroupBox(utf8("Conteúdo de Colunas fixas"), this);
    gbFixas->setObjectName(QStringLiteral("gbFixas"));
    const char* fixedHint = "Conteúdo fíxo de uma coluna";
    edConteudo6 = ui::bound<ui::DBEdit>(gbFixas, "edConteudo6", dsLayOut, "Conteudo6", fixedHint);
    edConteudo7 = ui::bound<ui::DBEdit>(gbFixas, "edConteudo7", dsLayOut, "Conteudo7", fixedHint);
    edConteudo8 = ui::bound<ui::DBEdit>(gbFixas, "edConteudo8", dsLayOut, "Conteudo8", fixedHint);
    auto* fixas = new QFormLayout(gbFixas);
    fixas->addRow(utf8("5 - Coluna Fíxa"), edConteudo6);
    fixas->addRow(utf8("6 - Coluna Fíxa"), edConteudo7);
    fixas->addRow(utf8("7 - Coluna Fíxa"), edConteudo8);

    // A mask, its Aplicar button and the Resultado below them, from grid row
    // `row` on.
    struct MaskPart {
        ui::DBEdit** ed;
        const char *name, *field, *hint;
    };
    struct ResultPart {
        QLineEdit** ed;
        const char *name, *hint;
    };
    struct ApplyPart {
        QPushButton** bt;
        const char* name;
    };
    auto previewRows = [&](QGroupBox* gb, QGridLayout* grid, int row, MaskPart mask,
                           ResultPart result, ApplyPart apply) {
        *mask.ed = ui::bound<ui::DBEdit>(gb, mask.name, dsLayOut, mask.field, mask.hint);
        (*mask.ed)->setFont(fixed);
        *result.ed = resultField(gb, result.name, result.hint);
        *apply.bt = button(gb, apply.name, "Aplicar");
        (*apply.bt)->setToolTip(utf8(kApplyHint));
        grid->addWidget(new QLabel(utf8("Máscara"), gb), row, 0);
        grid->addWidget(*mask.ed, row, 1);
        grid->addWidget(*apply.bt, row, 2);
        grid->addWidget(new QLabel(QStringLiteral("Resultado"), gb), row + 1, 0);
        grid->addWidget(*result.ed, row + 1, 1, 1, 2);
        grid->setColumnStretch(1, 1);
    };

    // --- header
    auto* gbCabecalho = new QGroupBox(utf8("Cabeçalho"), this);
    gbCabecalho->setObjectName(QStringLiteral("gbCabecalho"));
    gbCabecalho->setToolTip(
        utf8("Campos permitidos para serem usados na máscara do cabeçalho: 3,4,5,6,7,8  e 9"));
    cbCabecalho =
        ui::bound<ui::DBCheckBox>(gbCabecalho, utf8("Gerar Cabeçalho"), "cbCabecalho", dsLayOut,
                                  "Cabecalho", "Gerar Cabeçalho no Arquivo de Saída");
    auto* cabecalho = new QGridLayout(gbCabecalho);
    cabecalho->addWidget(cbCabecalho, 0, 1);
    previewRows(gbCabecalho, cabecalho, 1,
                {&edCabecalhoMascara, "edCabecalhoMascara", "Cabecalho_mascara", "Exemplo: 3 - 4"},
                {&edResultadoCabecalho, "edResultadoCabecalho",
                 "Resultado da máscara especificada acima para o Cabeçalho  do arquivo"},
                {&btAplicarCabecalho, "btAplicarCabecalho"});

    // --- body
    auto* gbCorpo = new QGroupBox(QStringLiteral("Corpo do Arquivo"), this);
    gbCorpo->setObjectName(QStringLiteral("gbCorpo"));
    previewRows(gbCorpo, new QGridLayout(gbCorpo), 0,
                {&edCorpoMascara, "edCorpoMascara", "Corpo_mascara", "Exemplo: 1;2;4;5"},
                {&edResultadoCorpo, "edResultadoCorpo",
                 "Resultado da máscara especificada acima para o Corpo do arquivo"},
                {&btAplicarCorpo, "btAplicarCorpo"});

    // --- help panel
    mmAjuda = new QPlainTextEdit(utf8(kHelpText), this);
    mmAjuda->setObjectName(QStringLiteral("mmAjuda"));
    mmAjuda->setReadOnly(true);
    mmAjuda->setFocusPolicy(Qt::NoFocus);
    mmAjuda->setFixedWidth(300);
    mmAjuda->setMinimumHeight(450);
    QPalette pale = mmAjuda->palette();
    pale.setColor(QPalette::Base, QColor(0xFF, 0xFF, 0xE1));
    pale.setColor(QPalette::Text, Qt::black);
    mmAjuda->setPalette(pale);

    // --- bottom bar
    btGrava = button(this, "btGrava", "&Grava");
    btRetorna = button(this, "btRetorna", "&Retorna");

    connect(cbCabecalho, &QCheckBox::clicked, this, &TfmLayOutAr::CabecalhoClick);
    connect(btAplicarCabecalho, &QPushButton::clicked, this, &TfmLayOutAr::AplicarCabecalhoClick);
    connect(btAplicarCorpo, &QPushButton::clicked, this, &TfmLayOutAr::AplicarCorpoClick);
    connect(btGrava, &QPushButton::clicked, this, &TfmLayOutAr::GravaClick);
    connect(btRetorna, &QPushButton::clicked, this, &TfmLayOutAr::RetornaClick);

    auto* names = new QVBoxLayout;
    names->addWidget(gbNome);
    names->addWidget(gbEmpresa);
    names->addStretch();
    auto* dateAndFixed = new QVBoxLayout;
    dateAndFixed->addWidget(gbData);
    dateAndFixed->addWidget(gbFixas);
    auto* fields = new QHBoxLayout;
    fields->addWidget(gbMatricula);
    fields->addLayout(names);
    fields->addLayout(dateAndFixed, 1);
    auto* left = new QVBoxLayout;
    left->addLayout(fields);
    left->addWidget(gbCabecalho);
    left->addWidget(gbCorpo);
    left->addStretch();
    auto* top = new QHBoxLayout;
    top->addLayout(left, 1);
    top->addWidget(mmAjuda);
    auto* bottom = new QHBoxLayout;
    bottom->addStretch();
    bottom->addWidget(btGrava);
    bottom->addWidget(btRetorna);
    auto* all = new QVBoxLayout(this);
    all->addLayout(top);
    all->addLayout(bottom);

    // The row is opened at start-up; a window opened without it opens it.
    db::Table* layout = dm.tbLayOut;
    try {
        if (!layout->isActive())
            layout->open();
        hasRow_ = !layout->isEmpty();
        if (!hasRow_)
            ui::Prompter::current().error(parent, utf8(kNoRowText));
    } catch (const db::DbError& e) {
        ui::Prompter::current().error(parent, e.text());
    }
    if (!hasRow_)
        for (QWidget* w : QList<QWidget*>{edMatriTam, rgAlinhamento, edMatriBrancos, edNomeTam,
                                          edEmpresaTam, edDataFormato, edConteudo6, edConteudo7,
                                          edConteudo8, cbCabecalho, edCorpoMascara, btAplicarCorpo})
            w->setEnabled(false);
    applyHeaderRule();

    finishLayout(ui::Placement::ScreenCentre, 900);
}

TfmLayOutAr::~TfmLayOutAr() = default;

void TfmLayOutAr::applyHeaderRule() {
    const bool on = hasRow_ && cbCabecalho->isChecked();
    edCabecalhoMascara->setEnabled(on);
    btAplicarCabecalho->setEnabled(on);
}

void TfmLayOutAr::CabecalhoClick() {
    applyHeaderRule();
}

LayoutRow TfmLayOutAr::rowFromFields() const {
    LayoutRow r;
    r.matriTam = widthFromText(edMatriTam->text());
    r.matriAlign = rgAlinhamento->value().toString();
    r.matriBrancos = edMatriBrancos->text();
    r.nomeTam = widthFromText(edNomeTam->text());
    r.empresaTam = widthFromText(edEmpresaTam->text());
    r.dataFormato = edDataFormato->text();
    r.conteudo6 = edConteudo6->text();
    r.conteudo7 = edConteudo7->text();
    r.conteudo8 = edConteudo8->text();
    r.cabecalho = cbCabecalho->isChecked() ? 0 : -1;
    r.cabecalhoMascara = edCabecalhoMascara->text();
    r.corpoMascara = edCorpoMascara->text();
    return r;
}

void TfmLayOutAr::AplicarCabecalhoClick() {
    edResultadoCabecalho->clear();
    try {
        const LayoutRow row = rowFromFields();
        edResultadoCabecalho->setText(renderHeaderLine(row, QDateTime::currentDateTime()));
    } catch (const db::DbError& e) {
        ui::Prompter::current().error(this, e.text());
    }
}

void TfmLayOutAr::AplicarCorpoClick() {
    edResultadoCorpo->clear();
    if (edCorpoMascara->text().isEmpty()) {
        ui::Prompter::current().error(this, utf8(kNoMaskText));
        return;
    }
    try {
        const LayoutRow row = rowFromFields();
        const PunchValues sample{utf8(kSampleEmployeeCode), utf8(kSampleMatricula),
                                 utf8(kSampleName), utf8(kSampleCompany),
                                 QDateTime::currentDateTime()};
        edResultadoCorpo->setText(renderBodyLine(compileBodyMask(row.corpoMascara), row, sample));
    } catch (const db::DbError& e) {
        ui::Prompter::current().error(this, e.text());
    }
}

bool TfmLayOutAr::store() {
    db::Table* layout = dm_.tbLayOut;
    try {
        if (layout->isEditing())
            layout->post();
    } catch (const db::Abort&) {
        return false;
    } catch (const db::DbError& e) {
        ui::Prompter::current().error(this, e.text());
        return false;
    }
    return true;
}

void TfmLayOutAr::GravaClick() {
    if (dm_.tbLayOut->isEditing() && !store())
        return;
    accept();
}

void TfmLayOutAr::RetornaClick() {
    if (dm_.tbLayOut->isEditing()) {
        if (ui::Prompter::current().confirm(this, utf8(kNotSavedText), ui::Buttons::YesNo) ==
            ui::Answer::Yes) {
            if (!store())
                return;
        } else {
            dm_.tbLayOut->cancel();
        }
    }
    accept();
}

void TfmLayOutAr::done(int result) {
    db::Table* layout = dm_.tbLayOut;
    if (layout->isEditing()) {
        try {
            layout->cancel();
        } catch (const db::DbError& e) {
            ui::Prompter::current().error(this, e.text());
        }
    }
    FixedDialog::done(result);
}

} // namespace keldo::exchange
