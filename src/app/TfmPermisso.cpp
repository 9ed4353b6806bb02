#include "TfmPermisso.h"

#include "db/data_module.h"
#include "ui/bound_controls.h"
#include "ui/navigator.h"
#include "ui/window_names.h"
#include "ui/window_registry.h"

#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QPushButton>
#include <QVBoxLayout>

namespace keldo::app {
namespace {

struct Flag {
    const char* caption;
    const char* field;
    const char* hint = nullptr;
};

struct Group {
    const char* title;
    QList<Flag> flags;
};

const QList<Group>& groups() {
    static const QList<Group> g = {
        {"Menu Cadastro",
         {{"Cadastro", "Cadastro", "Menu Cadastro"},
          {"Empresa", "Empresa"},
          {"Colaboradores", "Funcionarios"},
          {"Feriados", "Feriados"},
          {"Faixas de horários", "Faixasdehorarios"},
          {"Associação de faixas", "Associacaodefaixas"},
          {"Mensagens para funcionários", "Mensagensparafuncionarios"},
          {"Sirene", "sirene"}}},
        {"Menu Sistema",
         {{"Sistema", "Sistema", "Menu Sistema"},
          {"Exportar pontos", "Exportarpontos"},
          {"Exclusão de movimentos", "Exclusaodemovimentos"},
          {"Senhas de acesso", "Senhadeacesso"},
          {"Manutenção de pontos", "ManutencaodePontos"}}},
        {"Menu Configurações",
         {{"Configurações", "Configuracoes", "Menu Configurações"},
          {"Formato de exportação", "Formatoexportacao"},
          {"Configurações gerais", "Configuracoesgerais"},
          {"Relógio de tempo real", "Relogiodetemporeal"}}},
        {"Menu Relatórios",
         {{"Relatórios", "Relatorios", "Menu Relatórios"},
          {"Colaboradores", "RelFuncionarios"},
          {"Batidas", "RelBatidas"},
          {"Anormalidades", "RelAnormalidades"}}},
        {"Módulo coleta",
         {{"Módulo coleta", "ModuloColeta", "Permite acesso ao Módulo Coleta de dados"}}},
    };
    return g;
}

} // namespace

TfmPermisso::TfmPermisso(db::TDDados& dm, QWidget* parent) : FixedDialog(parent), dm_(dm) {
    setObjectName(QStringLiteral("fmPermisso"));
    setWindowTitle(QStringLiteral("Permissões de acesso"));
    dsPermisso = new db::DataSource(this);
    dsPermisso->setObjectName(QStringLiteral("dsPermisso"));
    dsPermisso->setDataSet(dm.tbPermisso);

    DBNavigator1 = new ui::DBNavigator(this);
    DBNavigator1->setObjectName(QStringLiteral("DBNavigator1"));
    DBNavigator1->setVisibleButtons(
        {ui::NavButton::First, ui::NavButton::Prior, ui::NavButton::Next, ui::NavButton::Last,
         ui::NavButton::Insert, ui::NavButton::Delete, ui::NavButton::Post, ui::NavButton::Cancel});
    DBNavigator1->setDataSource(dsPermisso);

    // Both take at most the width of their field (10, as typed at the login).
    auto* edLogin =
        ui::bound<ui::DBEdit>(this, "edLogin", dsPermisso, "Login",
                              "Caracteres que serão digitados no campo login ao iniciar o sistema");
    auto* edSenha =
        ui::bound<ui::DBEdit>(this, "edSenha", dsPermisso, "Senha",
                              "Caracteres que serão digitados no campo senha ao iniciar o sistema");
    edSenha->setEchoMode(QLineEdit::Password);
    edSenha->setStyleSheet(QStringLiteral("lineedit-password-character: 42;")); // '*'

    auto* who = new QFormLayout;
    who->addRow(QStringLiteral("Login"), edLogin);
    who->addRow(QStringLiteral("Senha"), edSenha);

    auto* grid = new QGridLayout;
    int column = 0;
    for (const Group& g : groups()) {
        auto* box = new QGroupBox(QString::fromUtf8(g.title), this);
        auto* lay = new QVBoxLayout(box);
        for (const Flag& f : g.flags) {
            const QString field = QString::fromLatin1(f.field);
            lay->addWidget(ui::bound<ui::DBCheckBox>(box, QString::fromUtf8(f.caption),
                                                     QStringLiteral("cb") + field, dsPermisso,
                                                     field, QString::fromUtf8(f.hint)));
        }
        lay->addStretch();
        grid->addWidget(box, column / 3, column % 3);
        ++column;
    }

    auto* retorna = new QPushButton(QStringLiteral("&Retorna"), this);
    retorna->setObjectName(QStringLiteral("btRetorna"));
    retorna->setAutoDefault(false);
    connect(retorna, &QPushButton::clicked, this, &TfmPermisso::RetornaClick);

    auto* bottom = new QHBoxLayout;
    bottom->addStretch();
    bottom->addWidget(retorna);
    auto* all = new QVBoxLayout(this);
    all->addWidget(DBNavigator1);
    all->addLayout(who);
    all->addLayout(grid);
    all->addLayout(bottom);
    finishLayout(ui::Placement::ScreenCentre);
}

TfmPermisso::~TfmPermisso() = default;

void TfmPermisso::RetornaClick() {
    if (dm_.tbPermisso->isEditing())
        dm_.tbPermisso->cancel();
    accept();
}

void registerPermissionEditor() {
    ui::registerWindow(QString::fromLatin1(ui::kTfmPermisso), [](QWidget* parent, db::TDDados& dm) {
        TfmPermisso editor(dm, parent);
        editor.exec();
    });
}

} // namespace keldo::app
