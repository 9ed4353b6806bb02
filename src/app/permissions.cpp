#include "permissions.h"

#include "db/data_module.h"

namespace keldo::app {

const QList<PermissionRule>& permissionRules() {
    static const QList<PermissionRule> rules = {
        {"SISTEMA", "Sistema1"},
        {"EXPORTARPONTOS", "Exportarpontos1"},
        {"EXCLUSAODEMOVIMENTOS", "Exclusodemovimentos1"},
        {"SENHADEACESSO", "Senhasdeacesso1"},
        {"CADASTRO", "Cadastro1"},
        {"EMPRESA", "Empresas1"},
        {"FUNCIONARIOS", "Funcionrios1"},
        {"FERIADOS", "Feriados1"},
        {"FAIXASDEHORARIOS", "Faixasdehorrios1"},
        {"ASSOCIACAODEFAIXAS", "Associaodefaixasdehorriosparacontroledeacesso1"},
        {"MENSAGENSPARAFUNCIONARIOS", "Mensagens1"},
        {"CONFIGURACOES", "Configuraes1"},
        {"FORMATOEXPORTACAO", "Formatodoarquivodesada1"},
        {"CONFIGURACOESGERAIS", "Coletadedados1"},
        {"RELOGIODETEMPOREAL", "Relgiodetemporeal1"},
        {"RELATORIOS", "Relatrios1"},
        {"RELFUNCIONARIOS", "Funcionrios2"},
        {"RELBATIDAS", "Batidas1"},
        {"RELANORMALIDADES", "Anormalidades1"},
        {"ManutencaodePontos", "N3"},
    };
    return rules;
}

bool findOperator(db::TDDados& dm, const Credentials& who) {
    db::Table& t = *dm.tbPermisso;
    if (!t.isActive())
        t.open();
    return t.locate(QStringList{QStringLiteral("Login"), QStringLiteral("Senha")},
                    QVariantList{who.login, who.password});
}

QList<QPair<QString, bool>> permissionStates(db::DataSet& permisso) {
    QList<QPair<QString, bool>> states;
    for (const PermissionRule& r : permissionRules())
        states.append({QString::fromLatin1(r.entry),
                       permisso.fieldByName(QString::fromLatin1(r.field)).asInteger() == 0});
    return states;
}

namespace {

void setEntries(db::TDDados& dm, LoginHost& host) {
    for (const auto& [entry, on] : permissionStates(*dm.tbPermisso))
        host.setEntryPermitted(entry, on);
}

void becomeOperator(db::TDDados& dm, const Credentials& who) {
    dm.session().login = who.login;
    dm.session().password = who.password;
}

} // namespace

bool loginAtStartup(db::TDDados& dm, LoginHost& host) {
    constexpr int kAttempts = 3;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        const std::optional<Credentials> who = host.askCredentials();
        if (!who)
            return false;
        becomeOperator(dm, *who);
        if (findOperator(dm, *who))
            return applyPermissions(dm, host);
        host.operatorNotFound();
    }
    return false;
}

bool applyPermissions(db::TDDados& dm, LoginHost& host) {
    const Credentials current{dm.session().login, dm.session().password};
    if (!findOperator(dm, current)) {
        for (;;) {
            const std::optional<Credentials> who = host.askCredentials();
            if (!who)
                return false;
            if (findOperator(dm, *who)) {
                becomeOperator(dm, *who);
                host.showOperator(who->login);
                break;
            }
            host.operatorNotFound();
        }
    }
    setEntries(dm, host);
    return true;
}

} // namespace keldo::app
