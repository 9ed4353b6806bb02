// The shell's windows, driven as the operator drives them: the program start
// with the real login dialog, the main menu and its permissions, the exit
// question, the support console and the About window.
#include "../db/test_support.h"
#include "app/TfmExecSQL.h"
#include "app/TfmLogin.h"
#include "app/TfmMain.h"
#include "app/TfmPermisso.h"
#include "app/TfmSobre.h"
#include "app/program.h"
#include "db/data_module.h"
#include "db/location.h"
#include "gui_driver.h"
#include "ui/navigator.h"
#include "ui/portuguese_qt.h"
#include "ui/prompter.h"
#include "ui/window_names.h"
#include "ui/window_registry.h"

#include <QCheckBox>
#include <QFile>
#include <QLabel>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QStatusBar>
#include <gtest/gtest.h>

using namespace keldo;
using keldo::testing::ModalDriver;
using keldo::testing::TestDatabase;
using Kind = ui::ScriptedPrompter::Kind;

namespace {

// Every window the menu names, as later subsystems will register them; each
// counts its openings.
QHash<QString, int>& openings() {
    static QHash<QString, int> n;
    return n;
}
void registerAllWindows() {
    for (const app::MenuDef& m : app::mainMenu())
        for (const app::MenuEntry& e : m.entries)
            if (e.caption && e.target && e.action != app::EntryAction::Program) {
                const QString name = QString::fromLatin1(e.target);
                ui::registerWindow(name, [name](QWidget*, db::TDDados&) { ++openings()[name]; });
            }
}

class WindowsTest : public ::testing::Test {
protected:
    TestDatabase tdb;
    ui::ScriptedPrompter prompter;
    ModalDriver driver;

    void SetUp() override {
        tdb.writeAlias();
        registerAllWindows();
    }
    void TearDown() override {
        EXPECT_TRUE(driver.failures.isEmpty()) << driver.failures.join("; ").toStdString();
        EXPECT_TRUE(prompter.failures.empty());
    }
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
    std::unique_ptr<app::Program> program(const QStringList& args = {}) {
        auto p = std::make_unique<app::Program>(args);
        p->startupWait = [] {};
        EXPECT_TRUE(p->start(nullptr));
        return p;
    }
    QStringList errors() const { return prompter.texts(Kind::Error); }
};

TEST_F(WindowsTest, MainWindowCarriesTheWholeMenuInOrder) {
    ui::registerWindow("TfmEmpresa", {}); // one window that does not exist yet
    platform::EngineConfig engine;
    app::TfmMain main(engine);
    EXPECT_EQ(main.windowTitle(), "Cronalto");
    EXPECT_EQ(main.pos(), QPoint(-2, -2));
    EXPECT_EQ(main.minimumSize(), main.maximumSize());
    EXPECT_FALSE(main.windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_TRUE(main.windowFlags() & Qt::WindowMinimizeButtonHint);
    main.show();
    const QRect status = main.statusBar()->geometry();
    EXPECT_TRUE(main.rect().contains(status)) << status.y() << "+" << status.height();
    EXPECT_GE(status.height(), main.statusBar()->sizeHint().height());
    main.hide();

    QStringList bar;
    for (QAction* a : main.menuBar()->actions())
        bar << a->objectName() + "=" + a->text();
    EXPECT_EQ(bar, QStringList({"Cadastro1=&Cadastro", "Sistema1=&Sistema",
                                "Configuraes1=C&onfigurações", "Relatrios1=&Relatórios",
                                "Utilitrios1=Utilitários", "Ajuda1=&Ajuda", "Sair1=Sair"}));
    const auto entries = [&](const char* menu) {
        QStringList names;
        for (QAction* a : main.menu(menu)->actions())
            names << (a->isSeparator() ? QString("-") : a->objectName() + "=" + a->text());
        return names;
    };
    EXPECT_EQ(entries("Cadastro1"),
              QStringList({"Empresas1=Empresas", "Funcionrios1=Colaboradores", "Feriados1=Feriados",
                           "-", "Faixasdehorrios1=Faixas de horários",
                           "Associaodefaixasdehorriosparacontroledeacesso1=Associação de faixas "
                           "de horários para controle de acesso",
                           "Mensagens1=Mensagens", "Sirene1=Sirene"}));
    EXPECT_EQ(entries("Sistema1"),
              QStringList({"Exportarpontos1=Exportar pontos",
                           "Exportarcadastrodefuncionrios1=Exportar cadastro de colaboradores",
                           "Importarcadastrodefuncionrios1=Importar cadastro de colaboradores",
                           "Exclusodemovimentos1=Exclusão de movimentos",
                           "Senhasdeacesso1=Senhas de acesso", "N3=Manutenção de Pontos"}));
    EXPECT_EQ(entries("Configuraes1"),
              QStringList({"Formatodoarquivodesada1=Formato de exportação do arquivo de saída",
                           "Coletadedados1=Configurações gerais",
                           "Relgiodetemporeal1=Relógio de tempo real", "Tavrun1=Tavrun"}));
    EXPECT_EQ(entries("Relatrios1"),
              QStringList({"Funcionrios2=Colaboradores", "Batidas1=Batidas",
                           "Anormalidades1=Anormalidades", "CartodePonto1=Cartão de Ponto"}));
    EXPECT_EQ(entries("Utilitrios1"),
              QStringList({"Calculadora1=Calculadora", "Calculadoradehoras1=Calculadora de horas",
                           "Blocodenotas1=Bloco de notas", "Backupdosistema1=Backup do sistema"}));
    EXPECT_EQ(entries("Ajuda1"), QStringList({"Sobre1=Sobre", "SuporteOnline1=Suporte Online",
                                              "Acionarsuporte1=Acionar suporte"}));

    EXPECT_FALSE(main.entry("Backupdosistema1")->isVisible());
    main.showBackupEntry();
    EXPECT_TRUE(main.entry("Backupdosistema1")->isVisible());
    // A window that is not part of the program yet is offered disabled, with a hint.
    EXPECT_FALSE(main.entry("Empresas1")->isEnabled());
    EXPECT_EQ(main.entry("Empresas1")->toolTip(), "Disponível em breve");
    EXPECT_TRUE(main.entry("Feriados1")->isEnabled());
    EXPECT_TRUE(main.entry("Sobre1")->isEnabled());
}

TEST_F(WindowsTest, LoginAtTheThirdAttemptOpensTheSession) {
    addOperator("ana", "123");
    auto p = program();
    driver.typeLogin<app::TfmLogin>("ana", "12");
    driver.typeLogin<app::TfmLogin>("Ana", "123"); // the case counts
    driver.typeLogin<app::TfmLogin>("ana", "123");
    EXPECT_EQ(p->startSession(), app::StartupOutcome::Ready);
    EXPECT_TRUE(driver.done());
    EXPECT_EQ(errors(), QStringList({"Operador não cadastrado!", "Operador não cadastrado!"}));
    EXPECT_EQ(p->mainWindow().statusText(), "ana");
    EXPECT_EQ(p->splash()->status(), "Concluído");
    p->showMainWindow();
    EXPECT_EQ(p->splash(), nullptr);
    EXPECT_TRUE(p->mainWindow().isVisible());
    EXPECT_EQ(p->dataModule().tbFuncs->indexFieldNames(), "matricula");
}

TEST_F(WindowsTest, ThreeFailuresEndTheProgram) {
    addOperator("ana", "123");
    auto p = program();
    for (const char* pw : {"1", "2", "3"})
        driver.typeLogin<app::TfmLogin>("ana", pw);
    driver.typeLogin<app::TfmLogin>("ana", "123"); // never asked
    QSignalSpy ended(&p->mainWindow(), &app::TfmMain::programEnded);
    EXPECT_EQ(p->startSession(), app::StartupOutcome::EndProgram);
    EXPECT_EQ(driver.shown, 3);
    EXPECT_EQ(errors(), QStringList(3, "Operador não cadastrado!"));
    EXPECT_EQ(prompter.calls.size(), 3u); // nothing after the third
    EXPECT_FALSE(p->mainWindow().isVisible());
}

TEST_F(WindowsTest, AFailedStartStillOpensTheMainWindow) {
    const struct {
        const char* table;
        bool loggedIn;
    } cases[] = {{"sirene", true}, {"permisso", false}}; // the second start lacks both
    for (const auto& c : cases) {
        tdb->exec(QString("DROP TABLE %1").arg(c.table));
        auto p = program();
        if (c.loggedIn)
            driver.typeLogin<app::TfmLogin>("", "");
        EXPECT_EQ(p->startSession(), app::StartupOutcome::Failed) << c.table;
        // permisso is also maintained first: that error is shown and the start goes on.
        ASSERT_FALSE(errors().isEmpty()) << c.table;
        EXPECT_TRUE(errors().last().contains(c.table, Qt::CaseInsensitive))
            << errors().last().toStdString();
        EXPECT_NE(p->splash()->status(), "Concluído");
        p->showMainWindow();
        app::TfmMain& main = p->mainWindow();
        EXPECT_TRUE(main.isVisible());
        // Without a login, nothing the rights govern is open.
        EXPECT_EQ(main.menu("Cadastro1")->menuAction()->isEnabled(), c.loggedIn) << c.table;
        EXPECT_TRUE(main.entry("Calculadora1")->isEnabled());
        EXPECT_TRUE(main.entry("Sair1")->isEnabled());
        prompter.calls.clear();
    }
}

TEST_F(WindowsTest, PermissionsEnableTheMenu) {
    addOperator("cad", "", {{"Cadastro", -1}, {"Empresa", 0}, {"sirene", -1}});
    addOperator("livre", "");
    const struct {
        const char* login;
        bool cadastro;
    } cases[] = {{"cad", false}, {"livre", true}};
    for (const auto& c : cases) {
        auto p = program();
        driver.typeLogin<app::TfmLogin>(c.login, "");
        ASSERT_EQ(p->startSession(), app::StartupOutcome::Ready) << c.login;
        app::TfmMain& main = p->mainWindow();
        EXPECT_EQ(main.menu("Cadastro1")->menuAction()->isEnabled(), c.cadastro) << c.login;
        for (QAction* a : main.menu("Cadastro1")->actions()) {
            if (!a->isSeparator()) {
                EXPECT_EQ(a->isEnabled(), c.cadastro) << a->objectName().toStdString();
            }
        }
        // Every other entry is enabled: governed ones by their empty flags,
        // the others always.
        for (const char* m : {"Sistema1", "Configuraes1", "Relatrios1", "Utilitrios1", "Ajuda1"}) {
            EXPECT_TRUE(main.menu(m)->menuAction()->isEnabled()) << m;
            for (QAction* a : main.menu(m)->actions()) {
                if (!a->isSeparator()) {
                    EXPECT_TRUE(a->isEnabled()) << a->objectName().toStdString();
                }
            }
        }
        EXPECT_TRUE(main.entry("Sair1")->isEnabled());
    }
}

TEST_F(WindowsTest, EntriesOpenTheirWindowsWithTheirTables) {
    auto p = program();
    driver.typeLogin<app::TfmLogin>("", "");
    ASSERT_EQ(p->startSession(), app::StartupOutcome::Ready);
    db::TDDados& dm = p->dataModule();
    bool photo = false, faixaOpen = false, grupoOpen = false, funcsOpen = true;
    ui::registerWindow("TfmFuncs",
                       [&](QWidget*, db::TDDados& d) { photo = d.session().photoDisplay; });
    ui::registerWindow("TfmGrupof", [&](QWidget*, db::TDDados& d) {
        faixaOpen = d.tbFaixaH->isActive();
        grupoOpen = d.tbGrupof->isActive() && d.qyGrupof->isActive();
    });
    ui::registerWindow("TfmBackRest",
                       [&](QWidget*, db::TDDados& d) { funcsOpen = d.tbFuncs->isActive(); });
    app::TfmMain& main = p->mainWindow();
    main.entry("Funcionrios1")->trigger();
    EXPECT_TRUE(photo);
    EXPECT_FALSE(dm.session().photoDisplay);
    main.entry("Associaodefaixasdehorriosparacontroledeacesso1")->trigger();
    EXPECT_TRUE(faixaOpen && grupoOpen);
    EXPECT_FALSE(dm.tbFaixaH->isActive() || dm.tbGrupof->isActive() || dm.qyGrupof->isActive());
    main.entry("Backupdosistema1")->trigger();
    EXPECT_FALSE(funcsOpen);
    EXPECT_TRUE(dm.tbFuncs->isActive() && dm.tbSirene->isActive() && dm.tbPermisso->isActive());
    EXPECT_FALSE(dm.tbMens->isActive()); // closed before, closed after
    main.entry("Feriados1")->trigger();
    EXPECT_EQ(openings().value("TfmFeriados"), 1);
}

TEST_F(WindowsTest, ChangingOnesOwnPasswordAsksForAnotherLogin) {
    addOperator("ana", "velha");
    addOperator("bia", "b", {{"Cadastro", -1}});
    auto p = program();
    driver.typeLogin<app::TfmLogin>("ana", "velha");
    ASSERT_EQ(p->startSession(), app::StartupOutcome::Ready);
    p->showMainWindow();
    app::TfmMain& main = p->mainWindow();
    QSignalSpy ended(&main, &app::TfmMain::programEnded);
    // The editor works on the operator's own row and is closed by its close
    // box with the change still pending.
    const auto editor = [](const char* password) {
        return [password](QWidget*, db::TDDados& dm) {
            dm.tbPermisso->edit();
            dm.tbPermisso->fieldByName("Senha").setValue(password);
        };
    };
    ui::registerWindow("TfmPermisso", editor("nova"));
    driver.typeLogin<app::TfmLogin>("ana", "velha");
    driver.typeLogin<app::TfmLogin>("bia", "b");
    main.entry("Senhasdeacesso1")->trigger();
    EXPECT_TRUE(driver.done());
    EXPECT_EQ(errors(), QStringList({"Operador não cadastrado!"}));
    EXPECT_EQ(main.statusText(), "bia");
    EXPECT_FALSE(main.menu("Cadastro1")->menuAction()->isEnabled()); // bia's rights now
    EXPECT_EQ(ended.count(), 0);

    // Again, and the login is cancelled: the program ends without a question.
    ui::registerWindow("TfmPermisso", editor("outra"));
    driver.cancelLogin<app::TfmLogin>();
    main.entry("Senhasdeacesso1")->trigger();
    EXPECT_EQ(ended.count(), 1);
    EXPECT_FALSE(main.isVisible());
    EXPECT_TRUE(prompter.texts(Kind::Confirm).isEmpty());
}

TEST_F(WindowsTest, PermissionEditorEditsTheOperatorsOwnRow) {
    addOperator("ana", "velha");
    auto p = program();
    driver.typeLogin<app::TfmLogin>("ana", "velha");
    ASSERT_EQ(p->startSession(), app::StartupOutcome::Ready);
    p->showMainWindow();
    app::TfmMain& main = p->mainWindow();
    app::registerPermissionEditor();
    const auto inEditor = [&](std::function<void(QWidget*)> act) {
        driver.then([act](QWidget* w) {
            if (!qobject_cast<app::TfmPermisso*>(w))
                return false;
            act(w);
            return true;
        });
    };
    const auto box = [](QWidget* w, const char* field) {
        return w->findChild<QCheckBox*>(QString("cb") + field);
    };

    // Rights: Cadastro and Sirene unchecked, stored with the navigator.
    inEditor([&](QWidget* w) {
        EXPECT_EQ(w->windowTitle(), "Permissões de acesso");
        EXPECT_EQ(w->findChild<QLineEdit*>("edLogin")->text(), "ana"); // the operator's row
        EXPECT_FALSE(box(w, "Cadastro")->isChecked()); // empty flag: unchecked, yet granted
        EXPECT_EQ(box(w, "Cadastro")->toolTip(), "Menu Cadastro");
        EXPECT_EQ(box(w, "ModuloColeta")->toolTip(), "Permite acesso ao Módulo Coleta de dados");
        for (const char* f : {"Cadastro", "sirene"}) {
            box(w, f)->click(); // checked: 0
            box(w, f)->click(); // unchecked: -1
        }
        auto* nav = w->findChild<ui::DBNavigator*>("DBNavigator1");
        EXPECT_EQ(nav->button(ui::NavButton::Post)->toolTip(), "Confirma");
        nav->click(ui::NavButton::Post);
        w->close();
    });
    main.entry("Senhasdeacesso1")->trigger();
    EXPECT_TRUE(driver.done());
    EXPECT_FALSE(main.menu("Cadastro1")->menuAction()->isEnabled());
    EXPECT_FALSE(main.entry("Sirene1")->isEnabled()); // with its menu only
    EXPECT_TRUE(main.entry("Exportarpontos1")->isEnabled());
    EXPECT_EQ(p->dataModule().tbPermisso->fieldByName("sirene").asInteger(), -1);

    // "&Retorna" drops a changed password: no new login.
    inEditor([&](QWidget* w) {
        QTest::keyClicks(w->findChild<QLineEdit*>("edSenha"), "x");
        QTest::mouseClick(w->findChild<QPushButton*>("btRetorna"), Qt::LeftButton);
    });
    main.entry("Senhasdeacesso1")->trigger();
    EXPECT_TRUE(driver.done());
    EXPECT_EQ(p->dataModule().session().password, "velha");

    // A changed password left pending by the close box is stored; the
    // operator logs in again with it.
    inEditor([&](QWidget* w) {
        auto* senha = w->findChild<QLineEdit*>("edSenha");
        EXPECT_EQ(senha->displayText(), "*****");
        senha->selectAll();
        QTest::keyClicks(senha, "nova");
        w->close();
    });
    driver.typeLogin<app::TfmLogin>("ana", "nova");
    main.entry("Senhasdeacesso1")->trigger();
    EXPECT_TRUE(driver.done());
    EXPECT_EQ(p->dataModule().session().password, "nova");
    EXPECT_EQ(main.statusText(), "ana");
    EXPECT_TRUE(errors().isEmpty());
}

TEST_F(WindowsTest, UtilitiesStartProgramsByName) {
    {
        QFile cfg(tdb.root() + "/platform.cfg");
        ASSERT_TRUE(cfg.open(QIODevice::WriteOnly));
        cfg.write("[programs]\r\nCALC=programa-que-nao-existe\r\nnotepad=true --ignorado\r\n");
    }
    platform::EngineConfig engine;
    app::TfmMain main(engine);
    const struct {
        const char* entry;
        const char* program;
        bool started;
    } cases[] = {
        {"Calculadora1", "CALC", false},         // configured, but not installed
        {"Blocodenotas1", "notepad", true},      // configured, with arguments
        {"Calculadoradehoras1", "HORIX", false}, // neither configured nor on the path
    };
    for (const auto& c : cases) {
        prompter.calls.clear();
        main.entry(c.entry)->trigger();
        if (c.started) {
            EXPECT_TRUE(errors().isEmpty()) << c.entry;
        } else {
            ASSERT_EQ(errors().size(), 1) << c.entry;
            EXPECT_TRUE(errors()[0].contains(QString("\"%1\"").arg(c.program)))
                << errors()[0].toStdString();
            EXPECT_TRUE(errors()[0].contains("não foi encontrado")) << errors()[0].toStdString();
        }
    }
}

TEST_F(WindowsTest, SairAnsweredNoLeavesEverythingAsItWas) {
    auto p = program();
    driver.typeLogin<app::TfmLogin>("", "");
    ASSERT_EQ(p->startSession(), app::StartupOutcome::Ready);
    p->showMainWindow();
    app::TfmMain& main = p->mainWindow();
    db::TDDados& dm = p->dataModule();
    QSignalSpy ended(&main, &app::TfmMain::programEnded);
    dm.tbFuncs->first();
    const QVariant row = dm.tbFuncs->bookmark();

    prompter.answers = {ui::Answer::No, ui::Answer::No};
    main.entry("Sair1")->trigger();
    main.close(); // the close box asks the same
    EXPECT_TRUE(main.isVisible());
    EXPECT_EQ(ended.count(), 0);
    EXPECT_TRUE(dm.tbFuncs->isActive());
    EXPECT_EQ(dm.tbFuncs->bookmark(), row);
    EXPECT_EQ(main.statusText(), "");
    ASSERT_EQ(prompter.calls.size(), 2u);
    for (const auto& c : prompter.calls) {
        EXPECT_EQ(c.text, "Deseja sair?");
        EXPECT_EQ(c.buttons, ui::Buttons::YesNo);
    }

    prompter.answers = {ui::Answer::Yes};
    main.entry("Sair1")->trigger();
    EXPECT_EQ(ended.count(), 1);
    EXPECT_FALSE(main.isVisible());
}

TEST_F(WindowsTest, SupportConsoleRunsStatementsBeforeAnyLogin) {
    tdb->exec("INSERT INTO mens (data, matricula, Observacao) VALUES (?, '1', 'Oi')",
              {QDate(2006, 3, 5)});
    auto p = program({"SUPORTE"});
    const auto run = [&](const QString& text) {
        driver.then([=](QWidget* w) {
            if (!qobject_cast<app::TfmExecSQL*>(w))
                return false;
            w->findChild<QPlainTextEdit*>("Memo1")->setPlainText(text);
            QTest::mouseClick(w->findChild<QPushButton*>("Button1"), Qt::LeftButton);
            return true;
        });
    };
    run("delete from\nmens");
    run("");
    run("delete from tabela_que_nao_existe");
    driver.then([](QWidget* w) {
        if (!w->isVisible())
            return false;
        w->close(); // the close box
        return true;
    });
    EXPECT_EQ(p->startSession(), app::StartupOutcome::EndProgram);
    EXPECT_TRUE(driver.done());
    EXPECT_EQ(prompter.texts(Kind::Information), QStringList({"Pronto!"}));
    ASSERT_EQ(errors().size(), 2);
    EXPECT_FALSE(errors()[0].isEmpty());
    EXPECT_TRUE(errors()[1].contains("tabela_que_nao_existe", Qt::CaseInsensitive))
        << errors()[1].toStdString();
    QSqlQuery left = tdb->exec("SELECT count(*) FROM mens");
    ASSERT_TRUE(left.next());
    EXPECT_EQ(left.value(0).toInt(), 0);
    EXPECT_FALSE(p->dataModule().tbPermisso->isActive()); // no login was prepared
}

TEST_F(WindowsTest, AboutNamesTheEngineAndHidesTheGame) {
    platform::EngineConfig engine;
    db::ensureRunAlias(engine);
    db::TDDados dm(engine);
    EXPECT_EQ(app::databaseKind(dm), "MySQL");
    dm.resolveDatabaseDirectory();
    dm.bindComponents();
    EXPECT_EQ(app::databaseKind(dm), keldo::testing::onPostgres() ? "PostgreSQL" : "SQLite");

    int games = 0;
    app::TfmSobre about(dm);
    EXPECT_EQ(about.windowTitle(), "Sobre");
    EXPECT_EQ(about.findChild<QLabel*>("lbVersao")->text(), "Versão 2.6.2");
    EXPECT_EQ(about.findChild<QLabel*>("lbBanco")->text(), app::databaseKind(dm));
    QTest::keyClick(&about, Qt::Key_F2, Qt::ControlModifier | Qt::ShiftModifier); // absent: nothing
    ui::registerWindow(ui::kTfmFolks, [&](QWidget*, db::TDDados&) { ++games; });
    const struct {
        Qt::KeyboardModifiers mods;
        int games;
    } keys[] = {
        {Qt::ControlModifier | Qt::ShiftModifier, 1},
        {Qt::ControlModifier, 0},
        {Qt::ShiftModifier, 0},
        {Qt::ControlModifier | Qt::ShiftModifier | Qt::AltModifier, 0},
    };
    for (const auto& k : keys) {
        games = 0;
        QTest::keyClick(&about, Qt::Key_F2, k.mods);
        EXPECT_EQ(games, k.games) << int(k.mods);
    }
    ui::registerWindow(ui::kTfmFolks, {});
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    ui::installPortugueseQt(app);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
