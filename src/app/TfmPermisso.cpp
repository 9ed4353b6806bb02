#include "TfmPermisso.h"

#include "db/data_module.h"
#include "ui/data_controls.h"
#include "ui/hints.h"
#include "ui/navigator.h"
#include "ui/window_registry.h"

#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QPushButton>
#include <QScreen>
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

TfmPermisso::TfmPermisso(db::TDDados& dm, QWidget* parent) : QDialog(parent), dm_(dm) {
    setObjectName(QStringLiteral("fmPermisso"));
    setWindowTitle(QStringLiteral("Permissões de acesso"));
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint);
    dsPermisso = new db::DataSource(this);
    dsPermisso->setObjectName(QStringLiteral("dsPermisso"));
    dsPermisso->setDataSet(dm.tbPermisso);

    DBNavigator1 = new ui::DBNavigator(this);
    DBNavigator1->setObjectName(QStringLiteral("DBNavigator1"));
    DBNavigator1->setVisibleButtons(
        {ui::NavButton::First, ui::NavButton::Prior, ui::NavButton::Next, ui::NavButton::Last,
         ui::NavButton::Insert, ui::NavButton::Delete, ui::NavButton::Post, ui::NavButton::Cancel});
    const QList<QPair<ui::NavButton, const char*>> hints = {
        {ui::NavButton::First, "Início"},  {ui::NavButton::Prior, "Anterior"},
        {ui::NavButton::Next, "Próximo"},  {ui::NavButton::Last, "Fim"},
        {ui::NavButton::Insert, "Inclui"}, {ui::NavButton::Delete, "Exclui"},
        {ui::NavButton::Post, "Confirma"}, {ui::NavButton::Cancel, "Cancela"},
    };
    for (const auto& [b, hint] : hints)
        DBNavigator1->setHint(b, QString::fromUtf8(hint));
    DBNavigator1->setDataSource(dsPermisso);

    // Both take at most the width of their field (10, as typed at the login).
    auto* edLogin = new ui::DBEdit(this);
    edLogin->setObjectName(QStringLiteral("edLogin"));
    edLogin->setDataSource(dsPermisso);
    edLogin->setDataField(QStringLiteral("Login"));
    edLogin->setToolTip(
        QStringLiteral("Caracteres que serão digitados no campo login ao iniciar o sistema"));
    auto* edSenha = new ui::DBEdit(this);
    edSenha->setObjectName(QStringLiteral("edSenha"));
    edSenha->setDataSource(dsPermisso);
    edSenha->setDataField(QStringLiteral("Senha"));
    edSenha->setEchoMode(QLineEdit::Password);
    edSenha->setStyleSheet(QStringLiteral("lineedit-password-character: 42;")); // '*'
    edSenha->setToolTip(
        QStringLiteral("Caracteres que serão digitados no campo senha ao iniciar o sistema"));

    auto* who = new QFormLayout;
    who->addRow(QStringLiteral("Login"), edLogin);
    who->addRow(QStringLiteral("Senha"), edSenha);

    auto* grid = new QGridLayout;
    int column = 0;
    for (const Group& g : groups()) {
        auto* box = new QGroupBox(QString::fromUtf8(g.title), this);
        auto* lay = new QVBoxLayout(box);
        for (const Flag& f : g.flags) {
            auto* cb = new ui::DBCheckBox(QString::fromUtf8(f.caption), box);
            cb->setObjectName(QStringLiteral("cb") + QString::fromLatin1(f.field));
            cb->setDataSource(dsPermisso);
            cb->setDataField(QString::fromLatin1(f.field));
            if (f.hint)
                cb->setToolTip(QString::fromUtf8(f.hint));
            lay->addWidget(cb);
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
    ui::setHintDuration(this);
    setFixedSize(sizeHint());
    if (QScreen* s = QGuiApplication::primaryScreen())
        move(s->geometry().center() - rect().center());
}

TfmPermisso::~TfmPermisso() = default;

void TfmPermisso::RetornaClick() {
    if (dm_.tbPermisso->isEditing())
        dm_.tbPermisso->cancel();
    accept();
}

void registerPermissionEditor() {
    ui::registerWindow(QString::fromLatin1(kPermissionEditor),
                       [](QWidget* parent, db::TDDados& dm) {
                           TfmPermisso editor(dm, parent);
                           editor.exec();
                       });
}

} // namespace keldo::app
