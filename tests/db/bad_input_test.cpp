#include "db/database.h"
#include "db/location.h"
#include "test_support.h"

#include <QFile>
#include <gtest/gtest.h>

using namespace keldo;
using keldo::testing::TempRoot;

namespace {

TEST(BadInput, ANonDatabaseFileGivesTheEngineText) {
    TempRoot root;
    const QString file = root.path() + "/keldoran32.sqlite";
    struct Case {
        const char* what;
        QByteArray bytes;
    };
    const QList<Case> cases = {
        {"text", QByteArray("Isto não é um banco de dados.\r\n").repeated(200)},
        {"damaged header", QByteArray("SQLite format 3\0", 16) + QByteArray(4080, '\xff')},
    };
    for (const Case& c : cases) {
        QFile f(file);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(c.bytes);
        f.close();
        try {
            db::Database::openSqlite(file);
            ADD_FAILURE() << c.what << ": opened";
        } catch (const db::DbError& e) {
            EXPECT_FALSE(e.text().isEmpty()) << c.what;
            EXPECT_TRUE(e.text().contains("not a database") || e.text().contains("malformed"))
                << c.what << ": " << e.text().toStdString();
        }
        // Nothing was written into the file.
        QFile g(file);
        g.open(QIODevice::ReadOnly);
        EXPECT_EQ(g.readAll(), c.bytes) << c.what;
    }
}

TEST(BadInput, APostgresServerThatIsDownGivesTheConnectionError) {
    TempRoot root;
    platform::EngineConfig engine;
    engine.addRunAlias("Keldoran32", {{"PATH", "C:\\KELDORAN32\\DADOS"},
                                      {"DEFAULT DRIVER", "POSTGRESQL"},
                                      {"HOST", root.path().toStdString()},
                                      {"PORT", "1"},
                                      {"DATABASE", "keldo"},
                                      {"USER", "keldo"}});
    try {
        db::connectAlias(engine);
        FAIL() << "connected to nothing";
    } catch (const db::DbError& e) {
        EXPECT_TRUE(e.text().contains("connect") || e.text().contains("conex"))
            << e.text().toStdString();
    }
}

} // namespace
