// A connection to the engine behind the alias: SQLite (the embedded default,
// one file in the database directory) or PostgreSQL (installations where
// several PCs share one database).
//
//   auto db = Database::openSqlite("/.../dados/keldoran32.sqlite");
//   QSqlQuery q = db->exec("select nome from funciona where matricula = ?", {m});
//
// Every failure throws DbError with the engine's text. The connection belongs
// to the thread that opened it (QtSql's rule).
#pragma once

#include "dialect.h"
#include "errors.h"
#include "schema_types.h"

#include <QHash>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QVariant>
#include <memory>

struct sqlite3;

namespace keldo::db {

struct PostgresParams {
    QString host; // a host name, or a folder holding the server's Unix socket
    int port = 5432;
    QString database;
    QString user;
    QString password;
    QString schema; // when set, the tables live in this schema
};

class Database {
public:
    // Name of the database file inside a database directory.
    static constexpr const char* kSqliteFileName = "keldoran32.sqlite";

    // Opens (creating when `create` is true) an SQLite database file: WAL
    // journal, a busy timeout of kBusyTimeoutMs, incremental auto-vacuum on a
    // new file, the case-insensitive collation registered. A file that is not
    // a database fails here with the engine's text.
    static std::unique_ptr<Database> openSqlite(const QString& file, bool create = false);
    // The "directory database" of working tables in `folder` (created when
    // missing).
    static std::unique_ptr<Database> openDirectory(const QString& folder);
    static std::unique_ptr<Database> openPostgres(const PostgresParams& params);

    ~Database();
    Database(const Database&) = delete;
    Database& operator=(const Database&) = delete;

    static constexpr int kBusyTimeoutMs = 5000;

    const Dialect& dialect() const { return *dialect_; }
    QSqlDatabase& connection() { return db_; }
    // "SQLite" or "PostgreSQL".
    QString engineName() const;
    // The file of an SQLite database; empty on PostgreSQL.
    QString fileName() const { return file_; }

    // Runs one statement with positional ('?') parameters. The returned query
    // is forward-only and positioned before its first row.
    QSqlQuery exec(const QString& sql, const QVariantList& params = {});
    // Runs a statement and returns the first column of its first row (null
    // when there is none).
    QVariant scalar(const QString& sql, const QVariantList& params = {});

    // Rows the datasets have read from the engine on this connection: how
    // tests and benchmarks see that a reader read only around its rows.
    quint64 rowsRead() const { return rowsRead_; }
    void countRowsRead(quint64 n) { rowsRead_ += n; }

    void begin();
    void commit();
    void rollback();
    bool inTransaction() const { return inTransaction_; }

    bool tableExists(const QString& table);
    // The columns and indexes of a table as the engine has them, cached until
    // invalidateCatalog(); names are spelled as the program spells them where
    // the delivered schema knows the field.
    const QList<FieldDef>& columns(const QString& table);
    const QList<IndexInfo>& indexes(const QString& table);
    void invalidateCatalog();

    // Throws DbError built from a failed query's error.
    [[noreturn]] void raise(const QSqlError& error, const QString& context = {}) const;

private:
    Database(QSqlDatabase db, std::unique_ptr<Dialect> dialect, QString file);
    static QString nextConnectionName();

    QSqlDatabase db_;
    std::unique_ptr<Dialect> dialect_;
    QString file_;
    bool inTransaction_ = false;
    quint64 rowsRead_ = 0;
    QHash<QString, QList<FieldDef>> columns_;
    QHash<QString, QList<IndexInfo>> indexes_;
};

// The SQLite connection behind a database, for what QtSql cannot do (run a
// pragma to its end, register functions); nullptr on PostgreSQL.
sqlite3* sqliteHandleOf(Database& db);

// The program's collation and function on a raw SQLite connection (every
// connection the program opens has them), so that a file whose indexes use
// them can be read and checked.
void installSqliteFunctions(sqlite3* handle);

// The table name as the engine knows it: "funciona.db" and "FUNCIONA" both
// name funciona.
QString engineTableName(const QString& name);

} // namespace keldo::db
