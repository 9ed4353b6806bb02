#include "db/data_module.h"
#include "db/location.h"
#include "db/maintenance.h"
#include "test_support.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <gtest/gtest.h>

using namespace keldo;
using keldo::testing::onPostgres;
using keldo::testing::TestDatabase;

namespace {

const QStringList kAllTables = {"anormal",  "empresa", "faixa", "feriados",
                                "funciona", "grupof",  "mens",  "permisso"};

void fillEmployees(db::Database& db, int n) {
    db.begin();
    for (int i = 0; i < n; ++i)
        db.exec("INSERT INTO funciona (matricula, nome, codigo, endereco, obs) VALUES (?, ?, ?, "
                "?, ?)",
                {QString::asprintf("%06d", i), QString("Colaborador Número %1").arg(i),
                 QString::asprintf("C%06d", i), QString(50, 'r'), QString(200, 'o')});
    db.commit();
}

TEST(Maintenance, DoesEveryRegistryTableInOrderAndLeavesOthersAlone) {
    TestDatabase tdb;
    QStringList shown;
    db::TfmReindexa form(&tdb.db(), [&](const QString& t) { shown << t; });
    db::MaintenanceReport r = form.run();
    EXPECT_TRUE(r.complete()) << r.error.toStdString();
    EXPECT_EQ(r.maintained, kAllTables);
    EXPECT_TRUE(shown.isEmpty());
    // The named indexes are back, still case-insensitive.
    bool nomeCi = false, codigoCi = false;
    for (const db::IndexInfo& ix : tdb->indexes("funciona")) {
        if (ix.name == "IDX_NOME")
            nomeCi = ix.caseInsensitive && ix.fields == QStringList{"nome"};
        if (ix.name == "IDX_CODIGO")
            codigoCi = ix.caseInsensitive && ix.fields == QStringList{"codigo"};
    }
    EXPECT_TRUE(nomeCi);
    EXPECT_TRUE(codigoCi);
}

TEST(Maintenance, AMissingNameIndexDoesNotStopIt) {
    TestDatabase tdb;
    tdb->exec("DROP INDEX empresa_IDX_NOME");
    tdb->invalidateCatalog();
    db::TfmReindexa form(&tdb.db(), {});
    EXPECT_TRUE(form.run().complete());
    tdb->invalidateCatalog();
    bool found = false;
    for (const db::IndexInfo& ix : tdb->indexes("empresa"))
        found = found || ix.name == "IDX_NOME";
    EXPECT_TRUE(found);
}

TEST(Maintenance, AfterDeletingHalfTheEmployeesTheFileShrinksAndLookUpsStillWork) {
    if (onPostgres())
        GTEST_SKIP() << "the file size is SQLite's; VACUUM FULL is PostgreSQL's business";
    TestDatabase tdb;
    fillEmployees(tdb.db(), 6000);
    tdb->exec("PRAGMA wal_checkpoint(TRUNCATE)");
    const qint64 before = QFileInfo(tdb.sqliteFile()).size();
    tdb->exec("DELETE FROM funciona WHERE (CAST(matricula AS INTEGER) % 2) = 1");
    db::TfmReindexa form(&tdb.db(), {});
    ASSERT_TRUE(form.run().complete());
    const qint64 after = QFileInfo(tdb.sqliteFile()).size();
    EXPECT_LT(after, before * 3 / 4) << before << " -> " << after;

    db::Table t;
    t.setDatabase(&tdb.db());
    t.setTableName("funciona");
    t.open();
    t.setIndexFieldNames("matricula");
    EXPECT_TRUE(t.findKey({"004242"}));
    EXPECT_FALSE(t.findKey({"004243"}));
    t.setIndexFieldNames("codigo");
    EXPECT_TRUE(t.findKey({"c004242"}));
    t.setIndexFieldNames("nome");
    EXPECT_TRUE(t.findKey({"COLABORADOR NUMERO 4242"}));
    EXPECT_EQ(t.fieldByName("matricula").asString(), "004242");
    EXPECT_EQ(t.recordCount(), 3000);
}

TEST(Maintenance, AnotherWriterOnSqliteStopsAtTheFirstTableWithoutWaiting) {
    if (onPostgres())
        GTEST_SKIP() << "SQLite locks the whole file";
    TestDatabase tdb;
    auto other = tdb.connectAgain();
    other->exec("BEGIN IMMEDIATE");
    QStringList shown;
    db::TfmReindexa form(&tdb.db(), [&](const QString& t) { shown << t; });
    QElapsedTimer clock;
    clock.start();
    db::MaintenanceReport r = form.run();
    EXPECT_LT(clock.elapsed(), db::Database::kBusyTimeoutMs / 2);
    EXPECT_EQ(r.stoppedAt, "anormal");
    EXPECT_TRUE(r.maintained.isEmpty());
    ASSERT_EQ(shown.size(), 1);
    EXPECT_TRUE(shown[0].contains("locked")) << shown[0].toStdString();
    other->rollback();
    // The connection is usable again, with its busy timeout back.
    EXPECT_TRUE(db::TfmReindexa(&tdb.db(), {}).run().complete());
}

// The relation behind each index of a table: rebuilding an index gives it a
// new one.
QStringList indexFiles(db::Database& db, const QString& table) {
    QStringList out;
    QSqlQuery q = db.exec("SELECT c.relfilenode FROM pg_index ix JOIN pg_class c ON c.oid = "
                          "ix.indexrelid JOIN pg_class t ON t.oid = ix.indrelid WHERE t.relname = "
                          "? AND t.relnamespace = (SELECT oid FROM pg_namespace WHERE nspname = "
                          "current_schema()) ORDER BY c.relname",
                          {table});
    while (q.next())
        out << q.value(0).toString();
    return out;
}

TEST(Maintenance, ATableLockedByAnotherProgramStopsItThereOnPostgres) {
    if (!onPostgres())
        GTEST_SKIP() << "table locks are PostgreSQL's";
    TestDatabase tdb;
    QMap<QString, QStringList> before;
    for (const QString& t : kAllTables)
        before[t] = indexFiles(tdb.db(), t);
    auto other = tdb.connectAgain();
    other->begin();
    other->exec("LOCK TABLE faixa");
    QStringList shown;
    db::TfmReindexa form(&tdb.db(), [&](const QString& t) { shown << t; });
    db::MaintenanceReport r = form.run();
    other->rollback();
    EXPECT_EQ(r.maintained, QStringList({"anormal", "empresa"}));
    EXPECT_EQ(r.stoppedAt, "faixa");
    ASSERT_EQ(shown.size(), 1);
    EXPECT_TRUE(shown[0].contains("faixa")) << shown[0].toStdString();
    for (const QString& t : kAllTables) {
        const bool done = t == "anormal" || t == "empresa";
        EXPECT_EQ(indexFiles(tdb.db(), t) != before[t], done) << t.toStdString();
    }
}

TEST(Maintenance, DataModuleReportsAnUnreachableDatabaseAndGoesOn) {
    TestDatabase tdb;
    tdb.writeAlias();
    platform::EngineConfig engine;
    engine.addRunAlias("Keldoran32",
                       {{"PATH", "/nonexistent/keldo"}, {"DEFAULT DRIVER", "SQLITE"}});
    db::TDDados dm(engine);
    dm.setCreateWhenMissing(false);
    QStringList shown;
    db::MaintenanceReport r = dm.runMaintenance([&](const QString& t) { shown << t; });
    EXPECT_FALSE(r.complete());
    ASSERT_EQ(shown.size(), 1);
    EXPECT_TRUE(shown[0].contains("/nonexistent/keldo")) << shown[0].toStdString();
}

} // namespace
