// What every database test needs: a fresh KELDO_ROOT and a fresh database on
// the engine under test. The suite runs on SQLite; when KELDO_TEST_PG names a
// PostgreSQL server ("host=/tmp/sock port=5432 dbname=x user=y"), the same
// tests run there instead, each in a schema of its own.
#pragma once

#include "db/data_module.h"
#include "db/database.h"
#include "platform/engine_config.h"

#include <QTemporaryDir>
#include <memory>

namespace keldo::testing {

bool onPostgres();
db::PostgresParams postgresParams();

// A temporary KELDO_ROOT for the life of the object.
class TempRoot {
public:
    TempRoot();
    ~TempRoot();
    QString path() const { return dir_.path(); }

private:
    QTemporaryDir dir_;
    QByteArray old_;
    bool hadOld_;
};

// An empty database on the engine under test; with `delivered`, holding the
// delivered schema.
class TestDatabase {
public:
    explicit TestDatabase(bool delivered = true);
    ~TestDatabase();
    db::Database& db() { return *db_; }
    db::Database* operator->() { return db_.get(); }
    // A second connection to the same database (another program).
    std::unique_ptr<db::Database> connectAgain();
    QString schema() const { return schema_; }
    QString sqliteFile() const;
    QString root() const { return root_.path(); }
    // Writes KELDO_ROOT/engine.cfg with the alias Keldoran32 pointing at this
    // database, as an installation would.
    void writeAlias() const;

private:
    TempRoot root_;
    QString schema_;
    std::unique_ptr<db::Database> db_;
};

// The program's data module on a test database, as the windows find it once
// the program has started (no maintenance, no login): the alias written, the
// INI handle made, every component bound; no table opened.
class BoundDataModule {
public:
    explicit BoundDataModule(TestDatabase& tdb);
    db::TDDados& operator*() { return *dm_; }
    db::TDDados* operator->() { return dm_.get(); }

private:
    platform::EngineConfig engine_;
    std::unique_ptr<db::TDDados> dm_;
};

// Selects the test's schema on a PostgreSQL connection.
void useSchema(db::Database& db, const QString& schema);

} // namespace keldo::testing
