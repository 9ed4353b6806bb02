#include "../db/test_support.h"
#include "db/location.h"
#include "run_keldoctl.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

using namespace keldo;
using keldo::testing::TempRoot;
using keldo::testing::TestDatabase;

namespace {

using Result = keldo::testing::KeldoctlResult;
using keldo::testing::keldoctl;

TEST(Keldoctl, HelpListsTheVerbs) {
    Result r = keldoctl({"--help"});
    EXPECT_EQ(r.status, 0);
    for (const char* verb : {"init-db", "maintain", "sql"})
        EXPECT_TRUE(r.out.contains(verb)) << verb;
    EXPECT_EQ(keldoctl({"nada"}).status, 2);
}

TEST(Keldoctl, InitDbCreatesTheDemoInstallationOnceAndRefusesAfterwards) {
    if (keldo::testing::onPostgres())
        GTEST_SKIP() << "init-db on PostgreSQL is the same code after the connection";
    TempRoot root;
    Result r = keldoctl({"init-db", "--demo"});
    ASSERT_EQ(r.status, 0) << r.err.toStdString();
    const QString file = root.path() + "/c/KELDORAN32/DADOS/keldoran32.sqlite";
    EXPECT_TRUE(r.out.contains(file)) << r.out.toStdString();
    EXPECT_TRUE(QFile::exists(file));

    Result counts = keldoctl({"sql", "--rows",
                              "select (select count(*) from empresa), (select count(*) from "
                              "funciona), (select count(*) from permisso), (select count(*) from "
                              "anormal) > 0, (select count(*) from registro) > 1000"});
    ASSERT_EQ(counts.status, 0) << counts.err.toStdString();
    EXPECT_EQ(counts.out.split('\n')[1], "3\t40\t1\t1\t1");

    const QByteArray before = [&] {
        QFile f(file);
        f.open(QIODevice::ReadOnly);
        return f.readAll();
    }();
    Result again = keldoctl({"init-db"});
    EXPECT_EQ(again.status, 1);
    EXPECT_TRUE(again.err.contains(QString::fromUtf8("Já existe"))) << again.err.toStdString();
    QFile f(file);
    f.open(QIODevice::ReadOnly);
    EXPECT_EQ(f.readAll(), before);
}

class KeldoctlOnDatabase : public ::testing::Test {
protected:
    TestDatabase tdb;
    void SetUp() override { tdb.writeAlias(); }
};

TEST_F(KeldoctlOnDatabase, SqlRunsLikeTheSupportConsole) {
    tdb->exec("INSERT INTO mens (data, matricula, Observacao) VALUES ('2026-01-05', '1', 'Oi')");
    Result r = keldoctl({"sql", "delete from mens"});
    EXPECT_EQ(r.status, 0) << r.err.toStdString();
    EXPECT_EQ(r.out, "Pronto!\n");
    EXPECT_EQ(tdb->scalar("select count(*) from mens").toInt(), 0);

    Result bad = keldoctl({"sql", "delete from nada_disso"});
    EXPECT_EQ(bad.status, 1);
    EXPECT_TRUE(bad.out.isEmpty());
    EXPECT_TRUE(bad.err.contains("nada_disso")) << bad.err.toStdString();

    Result empty = keldoctl({"sql", "  "});
    EXPECT_EQ(empty.status, 1);
    EXPECT_FALSE(empty.err.isEmpty());
}

TEST_F(KeldoctlOnDatabase, SqlRowsPrintsAHeaderAndTabSeparatedLines) {
    tdb->exec("INSERT INTO empresa (codigo, nome) VALUES (2, 'Beta'), (1, 'álfa')");
    QFile f(tdb.root() + "/q.sql");
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("select codigo, nome from empresa\norder by nome collate KELDO_CI");
    f.close();
    Result r = keldoctl({"sql", "--rows", "--file", f.fileName()});
    ASSERT_EQ(r.status, 0) << r.err.toStdString();
    EXPECT_EQ(r.out, QString::fromUtf8("codigo\tnome\n1\tálfa\n2\tBeta\n"));
}

TEST_F(KeldoctlOnDatabase, MaintainSaysWhatItDid) {
    Result r = keldoctl({"maintain"});
    EXPECT_EQ(r.status, 0) << r.err.toStdString();
    EXPECT_EQ(r.out.count('\n'), 8);
    EXPECT_TRUE(r.out.startsWith("Tabela anormal")) << r.out.toStdString();
}

} // namespace
