#include "db/data_module.h"
#include "db/location.h"
#include "platform/ini_file.h"
#include "platform/paths.h"
#include "test_support.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

using namespace keldo;
using keldo::testing::TestDatabase;

namespace {

// The database steps of the session start-up, in their order.
void startSession(db::TDDados& dm, QStringList* progress = nullptr) {
    dm.resolveDatabaseDirectory();
    dm.runMaintenance({});
    dm.takeStartupDirectory();
    dm.createIniHandle();
    dm.readSessionFolders();
    dm.bindComponents();
    dm.bindTemporary();
    dm.openPermisso();
    dm.openSessionTables([&](const QString& t) {
        if (progress)
            *progress << t;
    });
}

class DataModuleTest : public ::testing::Test {
protected:
    TestDatabase tdb;
    void SetUp() override { tdb.writeAlias(); }
};

TEST_F(DataModuleTest, NewInstallationStartsWithDefaultsAndOneEmptyOperator) {
    const QString program = tdb.root() + "/c/KELDORAN32";
    QDir().mkpath(program);
    const QString oldCwd = QDir::currentPath();
    QDir::setCurrent(program);
    platform::EngineConfig engine;
    db::ensureRunAlias(engine);
    db::TDDados dm(engine);
    QStringList progress;
    startSession(dm, &progress);
    QDir::setCurrent(oldCwd);

    db::SessionState& s = dm.session();
    EXPECT_EQ(s.databaseDirectory, tdb.root() + "/");
    EXPECT_EQ(s.startupDirectory, "C:\\KELDORAN32\\");
    // No INI file: the folders of the start-up directory.
    EXPECT_EQ(s.photoFolder, "C:\\KELDORAN32\\FOTOS\\");
    EXPECT_EQ(s.fingerprintFolder, "C:\\KELDORAN32\\DIGITAIS");
    EXPECT_FALSE(s.fingerprintsInUse);
    EXPECT_TRUE(s.boundToAlias);
    EXPECT_EQ(s.temporaryDirectory, "C:\\WINDOWS\\TEMP");
    EXPECT_EQ(dm.engineName(), keldo::testing::onPostgres() ? "PostgreSQL" : "SQLite");

    EXPECT_EQ(dm.tbPermisso->recordCount(), 1);
    EXPECT_EQ(dm.tbPermisso->fieldByName("Login").asString(), "");
    EXPECT_TRUE(dm.tbPermisso->locate(QStringList{"Login", "Senha"}, QVariantList{"", ""}));
    EXPECT_EQ(progress, QStringList({"Abrindo tabela de colaboradores",
                                     "Abrindo tabela de registros", "Abrindo tabela de layout",
                                     "Abrindo tabela de feriados", "Abrindo tabela de empresas",
                                     "Abrindo tabela de acionamento de sirene"}));
    for (db::DataSet* ds :
         {static_cast<db::DataSet*>(dm.tbFuncs), static_cast<db::DataSet*>(dm.tbRegistros),
          static_cast<db::DataSet*>(dm.tbLayOut), static_cast<db::DataSet*>(dm.tbFeriados),
          static_cast<db::DataSet*>(dm.tbEmpresas), static_cast<db::DataSet*>(dm.tbSirene)})
        EXPECT_TRUE(ds->isActive()) << ds->objectName().toStdString();
    EXPECT_EQ(dm.tbLayOut->recordCount(), 1);

    // The scratch components work in the temporary directory.
    dm.tbTemp->setTableName("tmp");
    dm.tbTemp->createTable({{"matricula", db::FieldType::String, 50, false}});
    dm.tbTemp->open();
    dm.tbTemp->append();
    dm.tbTemp->fieldByName("matricula").setValue("1");
    dm.tbTemp->post();
    EXPECT_TRUE(QFile::exists(QString::fromStdString(
        platform::toNative("C:\\WINDOWS\\TEMP\\keldoran32.sqlite").string())));
}

TEST_F(DataModuleTest, FoldersAndFingerprintSwitchComeFromTheIni) {
    platform::IniFile ini("KELDO32.INI");
    ini.writeString("CONFMEN", "PATHIMAGENS", "C:\\FOTOS\\FUNC");
    ini.writeString("DIGITAIS", "PATH", "C:\\DIG\\");
    ini.writeBool("CONFMEN", "DIGITAIS", false);
    ini.writeString("CONFMEN", "esperaponto", "0x10");
    platform::EngineConfig engine;
    db::ensureRunAlias(engine);
    db::TDDados dm(engine);
    dm.takeStartupDirectory();
    dm.createIniHandle();
    dm.readSessionFolders();
    EXPECT_EQ(dm.session().photoFolder, "C:\\FOTOS\\FUNC\\");
    EXPECT_EQ(dm.session().fingerprintFolder, "C:\\DIG");
    EXPECT_TRUE(dm.session().fingerprintsInUse); // esperaponto, read as a number
}

TEST_F(DataModuleTest, ComponentsHaveTheirTablesOrdersAndQueries) {
    platform::EngineConfig engine;
    db::ensureRunAlias(engine);
    db::TDDados dm(engine);
    dm.resolveDatabaseDirectory();
    dm.bindComponents();
    EXPECT_EQ(dm.tbFuncs->indexFieldNames(), "nome");
    EXPECT_EQ(dm.tbGrupof->indexFieldNames(), "matricula;faixa");
    EXPECT_EQ(dm.qyGrupof->masterSource(), dm.dsFuncs);
    EXPECT_EQ(dm.qyPontos->masterSource(), dm.dsFuncs);
    ASSERT_EQ(dm.qyExporta->params().size(), 2);
    EXPECT_EQ(dm.qyExporta->params()[0].name, "dini");
    EXPECT_EQ(dm.dataSets().size(), 23);

    // qyGrupof follows the employee that tbFuncs stands on.
    tdb->exec("INSERT INTO funciona (matricula, nome, codigo) VALUES ('1', 'Ana', '1'), ('2', "
              "'Bia', '2')");
    tdb->exec("INSERT INTO faixa (Cod_faixa, Descricao) VALUES ('001', 'MANHA'), ('002', 'TARDE')");
    tdb->exec("INSERT INTO grupof (matricula, faixa) VALUES ('1', '001'), ('1', '002'), ('2', "
              "'002')");
    dm.tbFuncs->open();
    dm.qyGrupof->open();
    EXPECT_EQ(dm.qyGrupof->recordCount(), 2);
    dm.tbFuncs->next();
    EXPECT_EQ(dm.qyGrupof->recordCount(), 1);
    EXPECT_EQ(dm.qyGrupof->fieldByName("descricao").asString(), "TARDE");
}

TEST_F(DataModuleTest, NewEmployeesStartWithAccessAndNeedMatriculaNameAndCode) {
    platform::EngineConfig engine;
    db::ensureRunAlias(engine);
    db::TDDados dm(engine);
    dm.resolveDatabaseDirectory();
    dm.bindComponents();
    QStringList told;
    dm.tellOperator = [&](const QString& t) { told << t; };
    db::Table& f = *dm.tbFuncs;
    f.open();
    f.insert();
    EXPECT_EQ(f.fieldByName("acesso").asString(), "0");

    // The checks run in this order, and the first one that fails is the one told.
    const struct {
        const char *matricula, *nome, *codigo, *message;
    } cases[] = {
        {"", "", "", "Digite uma matrícula para esse colaborador!"},
        {"", "Ana", "7", "Digite uma matrícula para esse colaborador!"},
        {"10", "", "", "Digite um nome para esse colaborador!"},
        {"10", "Ana", "", "Digite um código para esse colaborador!"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message);
        told.clear();
        f.fieldByName("matricula").setAsString(c.matricula);
        f.fieldByName("nome").setAsString(c.nome);
        f.fieldByName("codigo").setAsString(c.codigo);
        try {
            f.post();
            ADD_FAILURE() << "stored";
        } catch (const db::Refusal& r) {
            EXPECT_EQ(r.text(), QString::fromUtf8(c.message));
        }
        EXPECT_EQ(told, QStringList{QString::fromUtf8(c.message)});
        EXPECT_EQ(f.state(), db::DataSetState::Insert);
        EXPECT_EQ(tdb->scalar("SELECT COUNT(*) FROM funciona").toInt(), 0);
    }
    f.fieldByName("codigo").setAsString("7");
    f.post();
    EXPECT_EQ(tdb->scalar("SELECT acesso FROM funciona WHERE matricula = '10'").toInt(), 0);
}

// A new company takes the lowest free code from 1, filling gaps.
TEST_F(DataModuleTest, NewCompanyTakesTheFirstFreeCode) {
    keldo::testing::BoundDataModule bound{tdb};
    db::TDDados& dm = *bound;
    db::Table& e = *dm.tbEmpresas;
    e.open();
    auto add = [&](const char* nome) {
        e.insert();
        const int code = e.fieldByName("codigo").asInteger();
        e.fieldByName("nome").setAsString(nome);
        e.post();
        return code;
    };
    EXPECT_EQ(add("Primeira"), 1);
    EXPECT_EQ(add("Segunda"), 2);
    tdb->exec("INSERT INTO empresa (codigo, nome) VALUES (4, 'Quarta')");
    e.refresh();
    EXPECT_EQ(add("Terceira"), 3);
    EXPECT_EQ(add("Quinta"), 5);
    tdb->exec("DELETE FROM empresa WHERE codigo = 2");
    e.refresh();
    EXPECT_EQ(add("Outra"), 2);
    // The search leaves tbAux open on the companies in code order.
    EXPECT_TRUE(dm.tbAux->isActive());
    EXPECT_EQ(dm.tbAux->tableName(), "empresa");
}

// The fingerprint file goes with its employee only while fingerprints are in
// use, found whatever the case of its extension; a matricula never names a
// file outside the folder. The photo display follows the current row while
// its switch is on.
TEST_F(DataModuleTest, DeletingAnEmployeeTakesItsFingerprintFileAndThePhotoFollowsTheRow) {
    keldo::testing::BoundDataModule bound{tdb};
    db::TDDados& dm = *bound;
    const QString folder = tdb.root() + "/digitais";
    QDir().mkpath(folder);
    dm.session().fingerprintFolder = folder;
    dm.session().photoFolder = tdb.root() + "/fotos/";
    auto touch = [](const QString& file) {
        QFile f(file);
        return f.open(QIODevice::WriteOnly);
    };
    tdb->exec("INSERT INTO funciona (matricula, nome, codigo, imagem) VALUES "
              "('10', 'Ana', '1', 'ana.jpg'), ('20', 'Bia', '2', ''), ('..', 'Cid', '3', '')");
    ASSERT_TRUE(touch(folder + "/10.DIG"));
    ASSERT_TRUE(touch(folder + "/20.dig"));
    ASSERT_TRUE(touch(tdb.root() + "/..dig"));
    db::Table& f = *dm.tbFuncs;
    f.setIndexFieldNames("matricula");

    QStringList shown;
    dm.showEmployeePhoto = [&](const QString& file) { shown << file; };
    dm.session().photoDisplay = true;
    f.open();
    ASSERT_FALSE(shown.isEmpty());
    EXPECT_EQ(shown.last(), ""); // "..": no photo named
    f.last();
    f.prior();
    EXPECT_EQ(shown.last(), QDir(tdb.root() + "/fotos").filePath("ana.jpg"));
    dm.session().photoDisplay = false;
    const int calls = shown.size();
    f.next();
    EXPECT_EQ(shown.size(), calls);

    dm.session().fingerprintsInUse = false;
    ASSERT_TRUE(f.locate("matricula", "10"));
    f.deleteRecord();
    EXPECT_TRUE(QFile::exists(folder + "/10.DIG"));
    dm.session().fingerprintsInUse = true;
    for (const char* m : {"20", ".."}) {
        ASSERT_TRUE(f.locate("matricula", m));
        f.deleteRecord();
    }
    EXPECT_FALSE(QFile::exists(folder + "/20.dig"));
    EXPECT_TRUE(QFile::exists(tdb.root() + "/..dig"));
    EXPECT_EQ(tdb->scalar("SELECT COUNT(*) FROM funciona").toInt(), 0);
}

// A window adds its handler to tbFuncs' chains; the module's rules still run,
// first, and the window's handler goes when the window does.
TEST_F(DataModuleTest, WindowHandlersRunAfterTheModulesRulesAndLeaveWithTheWindow) {
    keldo::testing::BoundDataModule bound{tdb};
    db::TDDados& dm = *bound;
    db::Table& f = *dm.tbFuncs;
    f.open();
    QStringList log;
    dm.tellOperator = [&](const QString& t) { log << t; };
    {
        db::EventSubscriptions window;
        window.add(f.beforePost, [&](db::DataSet& ds) {
            log << "janela " + ds.fieldByName("matricula").asString();
        });
        window.add(f.afterInsert, [&](db::DataSet& ds) {
            log << "acesso " + ds.fieldByName("acesso").asString();
        });
        f.insert();
        EXPECT_THROW(f.post(), db::Refusal); // the module's rule stops the chain
        f.fieldByName("matricula").setAsString("10");
        f.fieldByName("nome").setAsString("Ana");
        f.fieldByName("codigo").setAsString("7");
        f.post();
        EXPECT_EQ(log, QStringList({"acesso 0", "Digite uma matrícula para esse colaborador!",
                                    "janela 10"}));
    }
    log.clear();
    f.insert();
    EXPECT_EQ(f.fieldByName("acesso").asString(), "0");
    EXPECT_THROW(f.post(), db::Refusal);
    EXPECT_EQ(log, QStringList{"Digite uma matrícula para esse colaborador!"});
    f.cancel();
}

// Logic that changes tbFuncs' order and row and then fails leaves both as
// they were; logic that keeps its changes on success keeps them.
TEST_F(DataModuleTest, OrderGuardPutsOrderAndRowBackWhenTheLogicFails) {
    keldo::testing::BoundDataModule bound{tdb};
    db::TDDados& dm = *bound;
    db::Table& f = *dm.tbFuncs;
    f.open();
    for (const char* m : {"30", "10", "20"}) {
        f.insert();
        f.fieldByName("matricula").setAsString(m);
        f.fieldByName("nome").setAsString(QStringLiteral("Nome %1").arg(m));
        f.fieldByName("codigo").setAsString(m);
        f.post();
    }
    ASSERT_TRUE(f.locate("matricula", "20"));
    const QString order = f.indexFieldNames();
    try {
        db::OrderGuard guard(f);
        f.setIndexFieldNames("matricula");
        f.first();
        f.edit();
        f.fieldByName("nome").setAsString("mudado");
        throw db::DbError("falhou no meio");
    } catch (const db::DbError&) {
    }
    EXPECT_EQ(f.indexFieldNames(), order);
    EXPECT_EQ(f.state(), db::DataSetState::Browse);
    EXPECT_EQ(f.fieldByName("matricula").asString(), "20");
    f.next();
    EXPECT_EQ(f.fieldByName("matricula").asString(), "30"); // name order again
    EXPECT_EQ(tdb->scalar("SELECT nome FROM funciona WHERE matricula = '10'").toString(),
              "Nome 10");

    {
        db::OrderGuard guard(f);
        f.setIndexFieldNames("matricula");
        f.first();
        guard.keep();
    }
    EXPECT_EQ(f.indexFieldNames(), "matricula");
    EXPECT_EQ(f.fieldByName("matricula").asString(), "10");
}

} // namespace
