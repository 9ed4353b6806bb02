// The session start-up and the login rules, on the logic alone: a recording
// host stands for the splash, the main window and the login dialog.
#include "../db/test_support.h"
#include "app/permissions.h"
#include "app/session_startup.h"
#include "db/data_module.h"
#include "db/location.h"
#include "qt_print.h"

#include <QDir>
#include <deque>
#include <gtest/gtest.h>

using namespace keldo;
using keldo::testing::TestDatabase;

namespace {

class RecordingHost : public app::StartupHost, public app::LoginHost {
public:
    explicit RecordingHost(db::TDDados& dm) : dm_(dm) {}
    QStringList log;
    std::deque<std::optional<app::Credentials>> typed; // empty: cancel
    QHash<QString, bool> permitted;
    std::function<void()> onWait;

    void showBackupEntry() override { log << "backup"; }
    void setStatus(const QString& t) override { log << "status " + t; }
    void processEvents() override { log << "events"; }
    void startupWait() override {
        log << "wait";
        if (onWait)
            onWait();
    }
    void showError(const QString& t) override { log << "error " + t; }
    void runSupportConsole() override { log << "console"; }
    std::optional<app::Credentials> askCredentials() override {
        log << "login";
        if (typed.empty())
            return std::nullopt;
        auto c = typed.front();
        typed.pop_front();
        return c;
    }
    void operatorNotFound() override { log << "not found"; }
    void showOperator(const QString& l) override { log << "operator " + l; }
    void setEntryPermitted(const QString& e, bool on) override { permitted.insert(e, on); }

private:
    db::TDDados& dm_;
};

class SessionTest : public ::testing::Test {
protected:
    TestDatabase tdb;
    platform::EngineConfig engine;
    std::unique_ptr<db::TDDados> dm;
    std::unique_ptr<RecordingHost> host;

    void SetUp() override {
        tdb.writeAlias();
        db::ensureRunAlias(engine);
        dm = std::make_unique<db::TDDados>(engine);
        host = std::make_unique<RecordingHost>(*dm);
    }
    app::StartupOutcome start(const QStringList& args = {}) {
        return app::runSessionStartup(*dm, *host, *host, args);
    }
    // Operators straight into permisso, as the editor would store them.
    void addOperator(const QString& login, const QString& password, const QVariantMap& flags = {}) {
        QString cols = "Login, Senha", vals = "?, ?";
        QVariantList params{login, password};
        for (auto it = flags.begin(); it != flags.end(); ++it) {
            cols += ", " + it.key();
            vals += ", ?";
            params << it.value();
        }
        tdb->exec("INSERT INTO permisso (" + cols + ") VALUES (" + vals + ")", params);
    }
};

TEST_F(SessionTest, StepsRunInOrderAndAnEmptyPermissoAdmitsTheEmptyOperator) {
    host->typed.push_back(app::Credentials{"", ""});
    bool boundAtFirstWait = true;
    host->onWait = [&] {
        if (host->log.count("wait") == 1)
            boundAtFirstWait = dm->session().boundToAlias;
    };
    ASSERT_EQ(start(), app::StartupOutcome::Ready);
    EXPECT_FALSE(boundAtFirstWait); // the components are bound after the first wait
    const QStringList expected = {
        "backup",    "status Conectando ao servidor...",
        "wait",      "login",
        "operator ", "status Abrindo tabela de colaboradores",
        "events",    "status Abrindo tabela de registros",
        "events",    "status Abrindo tabela de layout",
        "events",    "status Abrindo tabela de feriados",
        "events",    "status Abrindo tabela de empresas",
        "events",    "status Abrindo tabela de acionamento de sirene",
        "events",    "status Concluído",
        "wait",
    };
    EXPECT_EQ(host->log, expected);
    EXPECT_EQ(dm->tbPermisso->recordCount(), 1);
    ASSERT_EQ(host->permitted.size(), app::permissionRules().size());
    for (auto it = host->permitted.begin(); it != host->permitted.end(); ++it)
        EXPECT_TRUE(it.value()) << it.key().toStdString();
    EXPECT_TRUE(dm->tbFuncs->isActive());
    EXPECT_TRUE(dm->tbSirene->isActive());
}

TEST_F(SessionTest, SupportSwitchShowsTheConsoleInsteadOfTheLogin) {
    const struct {
        QStringList args;
        bool console;
    } cases[] = {
        {{"suporte"}, true},       {{"SUPORTE"}, true},   {{"Suporte", "x"}, true},
        {{"x", "suporte"}, false}, {{"suporte2"}, false}, {{}, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(app::isSupportMode(c.args), c.console) << c.args.join(' ').toStdString();
    }
    EXPECT_EQ(start({"SuPoRtE"}), app::StartupOutcome::EndProgram);
    EXPECT_EQ(host->log.last(), "console");
    EXPECT_FALSE(host->log.contains("login"));
    EXPECT_TRUE(dm->session().boundToAlias);
    EXPECT_FALSE(dm->tbPermisso->isActive());
}

TEST_F(SessionTest, AnErrorIsShownAndTheRemainingStepsAreSkipped) {
    addOperator("ana", "1");
    tdb->exec("DROP TABLE feriados");
    host->typed.push_back(app::Credentials{"ana", "1"});
    EXPECT_EQ(start(), app::StartupOutcome::Failed);
    ASSERT_TRUE(host->log.contains("status Abrindo tabela de feriados"));
    const QString last = host->log.last();
    EXPECT_TRUE(last.startsWith("error ")) << last.toStdString();
    EXPECT_GT(last.size(), 6); // the engine's text
    EXPECT_FALSE(host->log.contains("status Abrindo tabela de empresas"));
    EXPECT_FALSE(host->log.contains("status Concluído"));
    EXPECT_FALSE(dm->tbEmpresas->isActive());
    EXPECT_EQ(dm->session().login, "ana");
}

TEST_F(SessionTest, LoginAttempts) {
    addOperator("Ana", "s1");
    addOperator("Ana", "s2"); // same login, another operator
    using C = app::Credentials;
    const struct {
        const char* what;
        std::vector<std::optional<C>> typed;
        bool ok;
        int notFound;
    } cases[] = {
        {"third attempt", {C{"x", "y"}, C{"ana", "s1"}, C{"Ana", "s1"}}, true, 2},
        {"second password", {C{"Ana", "s2"}}, true, 0},
        {"three failures", {C{"x", ""}, C{"y", ""}, C{"z", ""}, C{"Ana", "s1"}}, false, 3},
        {"case differs", {C{"ANA", "s1"}, C{"Ana", "S1"}, C{"ana", "s1"}}, false, 3},
        {"blanks kept", {C{"Ana ", "s1"}, C{" Ana", "s1"}, C{"Ana", "s1 "}}, false, 3},
        {"cancelled", {C{"x", "y"}, std::nullopt, C{"Ana", "s1"}}, false, 1},
        {"empty pair absent", {C{"", ""}, C{"", ""}, C{"", ""}}, false, 3},
    };
    dm->resolveDatabaseDirectory();
    dm->bindComponents();
    dm->openPermisso();
    for (const auto& c : cases) {
        RecordingHost h(*dm);
        h.typed.assign(c.typed.begin(), c.typed.end());
        EXPECT_EQ(app::loginAtStartup(*dm, h), c.ok) << c.what;
        EXPECT_EQ(h.log.count("not found"), c.notFound) << c.what;
        // Never more than three dialogs, and none after the third failure.
        EXPECT_LE(h.log.count("login"), 3) << c.what;
        if (c.notFound == 3) {
            EXPECT_EQ(h.log.last(), "not found") << c.what; // nothing after the third
        }
        EXPECT_EQ(h.permitted.size(), c.ok ? app::permissionRules().size() : 0) << c.what;
    }
}

TEST_F(SessionTest, FlagsGovernTheirEntries) {
    addOperator("op", "",
                {{"Cadastro", -1},
                 {"Empresa", 0},
                 {"RelBatidas", -1},
                 {"sirene", -1},
                 {"ModuloColeta", -1},
                 {"Exportarpontos", 5}});
    addOperator("vazio", "");
    dm->resolveDatabaseDirectory();
    dm->bindComponents();
    dm->openPermisso();
    host->typed.push_back(app::Credentials{"op", ""});
    ASSERT_TRUE(app::loginAtStartup(*dm, *host));
    QStringList denied;
    for (auto it = host->permitted.begin(); it != host->permitted.end(); ++it)
        if (!it.value())
            denied << it.key();
    denied.sort();
    // Any value but 0 denies; sirene and ModuloColeta govern nothing here.
    EXPECT_EQ(denied, QStringList({"Batidas1", "Cadastro1", "Exportarpontos1"}));
    EXPECT_TRUE(host->permitted.value("Empresas1"));

    // Applied in the order of the table.
    QStringList order;
    struct OrderHost : RecordingHost {
        using RecordingHost::RecordingHost;
        QStringList* order;
        void setEntryPermitted(const QString& e, bool) override { *order << e; }
    } h(*dm);
    h.order = &order;
    ASSERT_TRUE(app::applyPermissions(*dm, h));
    ASSERT_EQ(order.size(), 20);
    EXPECT_EQ(order.first(), "Sistema1");
    EXPECT_EQ(order[4], "Cadastro1");
    EXPECT_EQ(order.last(), "N3");
}

TEST_F(SessionTest, ChangedOwnRowAsksForAnotherLoginWithoutLimit) {
    addOperator("ana", "velha");
    addOperator("bia", "b");
    dm->resolveDatabaseDirectory();
    dm->bindComponents();
    dm->openPermisso();
    host->typed.push_back(app::Credentials{"ana", "velha"});
    ASSERT_TRUE(app::loginAtStartup(*dm, *host));
    // The editor changes the current row (the operator's own) and leaves it pending.
    dm->tbPermisso->edit();
    dm->tbPermisso->fieldByName("Senha").setValue("nova");

    RecordingHost again(*dm);
    using C = app::Credentials;
    again.typed = {C{"ana", "velha"}, C{"x", ""}, C{"ana", "x"}, C{"y", ""}, C{"ana", "nova"}};
    ASSERT_TRUE(app::applyPermissions(*dm, again));
    EXPECT_EQ(again.log.count("not found"), 4);
    EXPECT_EQ(again.log.last(), "operator ana");
    EXPECT_EQ(dm->session().password, "nova");
    EXPECT_EQ(again.permitted.size(), 20);

    // A row that is still there needs no login.
    RecordingHost same(*dm);
    ASSERT_TRUE(app::applyPermissions(*dm, same));
    EXPECT_TRUE(same.log.isEmpty());

    // Gone, and the dialog cancelled: the program ends.
    tdb->exec("DELETE FROM permisso WHERE Login = 'ana'");
    dm->tbPermisso->refresh();
    RecordingHost cancel(*dm);
    cancel.typed = {C{"ana", "nova"}};
    EXPECT_FALSE(app::applyPermissions(*dm, cancel));
    EXPECT_EQ(cancel.log, QStringList({"login", "not found", "login"}));
    EXPECT_EQ(dm->session().login, "ana"); // unchanged by the failed attempts
}

} // namespace
