// The differences between SQLite and PostgreSQL, in one place. Business code
// never asks which engine it runs on; the datasets, the schema and the
// maintenance ask the dialect of their connection.
#pragma once

#include "schema_types.h"

#include <QSqlError>

class QSqlQuery;
#include <QStringList>
#include <QVariant>
#include <memory>

namespace keldo::db {

class Database;

enum class Engine { Sqlite, Postgres };

// The field type of a column declared as `decl` on either engine ("VARCHAR(70)",
// "SMALLINT", "TIMESTAMP", "BYTEA"...); `size` receives the declared width, 0
// when there is none. Undeclared or unknown types are strings.
FieldType fieldTypeOfDeclaration(const QString& decl, int* size = nullptr);

class Dialect {
public:
    virtual ~Dialect() = default;
    virtual Engine engine() const = 0;

    // The hidden column that identifies a row: "rowid" or "ctid". It breaks
    // ties in every order, so a cursor over a table without a unique key
    // (registro) still visits each row once.
    virtual QString rowIdColumn() const = 0;
    // A term in the case- and accent-insensitive order: the field side
    // ("keldo_fold(nome)" or "nome COLLATE keldo_ci") and the side of a value
    // compared with it. SQLite indexes a folded key rather than using a
    // collation, so that programs without our collation can still read the
    // tables; queries written by hand may say "COLLATE KELDO_CI" on both
    // engines.
    virtual QString ciField(const QString& field) const = 0;
    virtual QString ciValue(const QString& placeholder) const = 0;
    // Where empty (null) values sort in an ascending order: SQLite puts them
    // first, PostgreSQL last. Each engine keeps its own habit so that its
    // indexes serve the order; cursors take it into account.
    virtual bool nullsSortFirst() const = 0;

    // DDL of a table with its primary key and secondary indexes.
    virtual QStringList createTableSql(const TableDef& def) const;
    virtual QString createIndexSql(const QString& table, const IndexDef& index) const;
    virtual QString columnType(const FieldDef& field) const = 0;
    // The engine object name of a program index ("funciona_IDX_NOME").
    static QString indexObjectName(const QString& table, const QString& index);

    virtual QList<FieldDef> readColumns(Database& db, const QString& table) const = 0;
    virtual QList<IndexInfo> readIndexes(Database& db, const QString& table) const = 0;
    virtual bool tableExists(Database& db, const QString& table) const = 0;

    // Values as bound to a statement and as read back for a field of `type`.
    virtual QVariant toEngine(const QVariant& value) const;
    virtual QVariant fromEngine(const QVariant& raw, FieldType type) const;

    virtual bool isKeyViolation(const QSqlError& error) const = 0;

    // Whether a result can be read row by row while other statements run on
    // the same connection. SQLite can; PostgreSQL's driver cannot, so there a
    // result that others may interleave with comes whole.
    virtual bool streamsWhileOthersRun() const = 0;
    // The field types of an executed query's result columns: the declared
    // column types where the engine tells them, else what the driver reports.
    virtual QList<FieldType> resultTypes(QSqlQuery& q) const;

    // INSERT that yields the new row's id as its only result column; empty
    // when the engine reports it through lastInsertId().
    virtual QString returningRowId() const = 0;

    // Table maintenance, inside a transaction the caller opened: take the
    // table for ourselves without waiting for other programs' locks.
    virtual void lockExclusive(Database& db, const QString& table) const = 0;
    // Rebuilds the primary index.
    virtual void rebuildPrimary(Database& db, const QString& table) const = 0;
    // Gives the space of deleted rows back; outside any transaction.
    virtual void pack(Database& db, const QString& table) const = 0;
    // Around a whole maintenance run: what the engine can defer from each
    // table to the end. `complete` says whether every table was done; a run
    // stopped by another program's lock must not wait for it at the end.
    virtual void beginMaintenance(Database&) const {}
    virtual void endMaintenance(Database&, bool /*complete*/) const {}
};

std::unique_ptr<Dialect> makeSqliteDialect();
std::unique_ptr<Dialect> makePostgresDialect();

} // namespace keldo::db
