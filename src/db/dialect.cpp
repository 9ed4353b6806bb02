#include "dialect.h"

#include "collation.h"
#include "database.h"

#include <QDate>
#include <QDateTime>
#include <QRegularExpression>
#include <QSqlField>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QSqlResult>
#include <QTime>
#include <sqlite3.h>

namespace keldo::db {

bool isTextType(FieldType t) {
    return t == FieldType::String || t == FieldType::Memo;
}

QString Dialect::indexObjectName(const QString& table, const QString& index) {
    return engineTableName(table) + QLatin1Char('_') + index;
}

QStringList Dialect::createTableSql(const TableDef& def) const {
    QStringList cols;
    for (const FieldDef& f : def.fields) {
        QString c = f.name + QLatin1Char(' ') + columnType(f);
        if (f.required)
            c += QStringLiteral(" NOT NULL");
        cols << c;
    }
    if (!def.primaryKey.isEmpty())
        cols << QStringLiteral("PRIMARY KEY (%1)").arg(def.primaryKey.join(QStringLiteral(", ")));
    QStringList out;
    out << QStringLiteral("CREATE TABLE %1 (%2)").arg(def.name, cols.join(QStringLiteral(", ")));
    for (const IndexDef& ix : def.indexes)
        out << createIndexSql(def.name, ix);
    return out;
}

QString Dialect::createIndexSql(const QString& table, const IndexDef& index) const {
    QStringList terms;
    for (const QString& f : index.fields)
        terms << (index.caseInsensitive ? ciField(f) : f);
    return QStringLiteral("CREATE INDEX %1 ON %2 (%3)")
        .arg(indexObjectName(table, index.name), engineTableName(table),
             terms.join(QStringLiteral(", ")));
}

QVariant Dialect::toEngine(const QVariant& value) const {
    // Temporal values travel as text on both engines: SQLite stores them so
    // and PostgreSQL casts the literal to the column's type; Qt's own
    // formatting of date-times would shift them to UTC.
    switch (value.typeId()) {
    case QMetaType::QDate:
        return value.toDate().toString(QStringLiteral("yyyy-MM-dd"));
    case QMetaType::QTime:
        return value.toTime().toString(QStringLiteral("HH:mm:ss"));
    case QMetaType::QDateTime:
        return value.toDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    default:
        return value;
    }
}

namespace {

// The digits of s at [at, at + n), or -1 when one is not a digit. Stored
// dates and times are read in this form first: Qt's format parser costs more
// than the rest of reading a row, and exports read millions of them.
int digitsAt(const QString& s, qsizetype at, qsizetype n) {
    int v = 0;
    for (qsizetype i = at; i < at + n; ++i) {
        const char16_t c = s[i].unicode();
        if (c < u'0' || c > u'9')
            return -1;
        v = v * 10 + (c - u'0');
    }
    return v;
}

QDate parseDate(const QString& s) {
    if (s.size() >= 10 && s[4] == QLatin1Char('-') && s[7] == QLatin1Char('-')) {
        const int y = digitsAt(s, 0, 4), m = digitsAt(s, 5, 2), d = digitsAt(s, 8, 2);
        if (y >= 0 && m >= 0 && d >= 0)
            return QDate(y, m, d);
    }
    return QDate::fromString(s.left(10), QStringLiteral("yyyy-MM-dd"));
}

QTime parseTime(const QString& s) {
    if (s.size() == 8 && s[2] == QLatin1Char(':') && s[5] == QLatin1Char(':')) {
        const QTime v(digitsAt(s, 0, 2), digitsAt(s, 3, 2), digitsAt(s, 6, 2));
        if (v.isValid())
            return v;
    }
    QString t = s.trimmed();
    // A date-time stored where a time belongs keeps its time part.
    if (t.size() > 10 && t[4] == QLatin1Char('-'))
        t = t.mid(11);
    QTime v = QTime::fromString(t.left(8), QStringLiteral("HH:mm:ss"));
    if (!v.isValid())
        v = QTime::fromString(t.left(5), QStringLiteral("HH:mm"));
    return v;
}

QDateTime parseDateTime(const QString& s) {
    QString t = s.trimmed();
    if (t.size() == 10)
        return QDateTime(parseDate(t), QTime(0, 0));
    t[10] = QLatin1Char(' ');
    QDateTime v = QDateTime::fromString(t.left(19), QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    if (!v.isValid())
        v = QDateTime::fromString(t.left(16), QStringLiteral("yyyy-MM-dd HH:mm"));
    return v;
}

} // namespace

QVariant Dialect::fromEngine(const QVariant& raw, FieldType type) const {
    if (raw.isNull())
        return QVariant();
    switch (type) {
    case FieldType::Date:
        if (raw.typeId() == QMetaType::QDate)
            return raw;
        if (raw.typeId() == QMetaType::QDateTime)
            return raw.toDateTime().date();
        return parseDate(raw.toString());
    case FieldType::Time:
        if (raw.typeId() == QMetaType::QTime)
            return raw;
        return parseTime(raw.toString());
    case FieldType::DateTime:
        if (raw.typeId() == QMetaType::QDateTime)
            return raw;
        return parseDateTime(raw.toString());
    case FieldType::SmallInt:
    case FieldType::Integer:
        return raw.toInt();
    case FieldType::Float:
        return raw.toDouble();
    case FieldType::Boolean:
        return raw.toBool();
    case FieldType::Blob:
        return raw.toByteArray();
    case FieldType::String:
    case FieldType::Memo:
        return raw.toString();
    }
    return raw;
}

FieldType fieldTypeOfDeclaration(const QString& decl, int* size) {
    const QString d = decl.trimmed().toUpper();
    if (size)
        *size = 0;
    static const QRegularExpression width(QStringLiteral("\\(\\s*(\\d+)"));
    auto m = width.match(d);
    if (size && m.hasMatch())
        *size = m.captured(1).toInt();
    if (d.startsWith(QLatin1String("SMALLINT")))
        return FieldType::SmallInt;
    if (d.contains(QLatin1String("INT")))
        return FieldType::Integer;
    if (d.startsWith(QLatin1String("DOUBLE")) || d.startsWith(QLatin1String("REAL")) ||
        d.startsWith(QLatin1String("FLOAT")) || d.startsWith(QLatin1String("NUMERIC")) ||
        d.startsWith(QLatin1String("DECIMAL")))
        return FieldType::Float;
    if (d.startsWith(QLatin1String("BOOL")))
        return FieldType::Boolean;
    if (d.startsWith(QLatin1String("TIMESTAMP")) || d.startsWith(QLatin1String("DATETIME")))
        return FieldType::DateTime;
    if (d.startsWith(QLatin1String("DATE")))
        return FieldType::Date;
    if (d.startsWith(QLatin1String("TIME")))
        return FieldType::Time;
    if (d.startsWith(QLatin1String("BLOB")) || d.startsWith(QLatin1String("BYTEA")))
        return FieldType::Blob;
    if (d.startsWith(QLatin1String("TEXT")) || d.startsWith(QLatin1String("MEMO")))
        return FieldType::Memo;
    return FieldType::String;
}

namespace {

QString stripTablePrefix(const QString& table, const QString& objectName) {
    QString prefix = engineTableName(table) + QLatin1Char('_');
    if (objectName.startsWith(prefix, Qt::CaseInsensitive))
        return objectName.mid(prefix.size());
    return objectName;
}

QString quoteLiteral(const QString& s) {
    QString q = s;
    q.replace(QLatin1Char('\''), QLatin1String("''"));
    return QLatin1Char('\'') + q + QLatin1Char('\'');
}

FieldType typeOfMeta(int meta) {
    switch (meta) {
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Short:
        return FieldType::Integer;
    case QMetaType::Double:
    case QMetaType::Float:
        return FieldType::Float;
    case QMetaType::Bool:
        return FieldType::Boolean;
    case QMetaType::QDate:
        return FieldType::Date;
    case QMetaType::QTime:
        return FieldType::Time;
    case QMetaType::QDateTime:
        return FieldType::DateTime;
    case QMetaType::QByteArray:
        return FieldType::Blob;
    default:
        return FieldType::String;
    }
}

class SqliteDialect final : public Dialect {
public:
    Engine engine() const override { return Engine::Sqlite; }
    QString rowIdColumn() const override { return QStringLiteral("rowid"); }
    QString ciField(const QString& field) const override {
        return QLatin1String(kSqliteFoldFunction) + QLatin1Char('(') + field + QLatin1Char(')');
    }
    QString ciValue(const QString& placeholder) const override { return ciField(placeholder); }
    QString returningRowId() const override { return QStringLiteral(" RETURNING rowid"); }
    bool nullsSortFirst() const override { return true; }
    bool streamsWhileOthersRun() const override { return true; }
    // The driver reports every SQLite column as text or number; the declared
    // type says which are dates and times.
    QList<FieldType> resultTypes(QSqlQuery& q) const override {
        sqlite3_stmt* stmt = nullptr;
        const QVariant h = q.result()->handle();
        if (h.isValid() && qstrcmp(h.typeName(), "sqlite3_stmt*") == 0)
            stmt = *static_cast<sqlite3_stmt* const*>(h.constData());
        if (!stmt)
            return Dialect::resultTypes(q);
        QList<FieldType> types;
        const int n = q.record().count();
        for (int i = 0; i < n; ++i)
            types << fieldTypeOfDeclaration(QString::fromLatin1(sqlite3_column_decltype(stmt, i)));
        return types;
    }

    QString columnType(const FieldDef& f) const override {
        switch (f.type) {
        case FieldType::String:
            return f.size > 0 ? QStringLiteral("VARCHAR(%1)").arg(f.size)
                              : QStringLiteral("VARCHAR");
        case FieldType::Memo:
            return QStringLiteral("TEXT");
        case FieldType::SmallInt:
            return QStringLiteral("SMALLINT");
        case FieldType::Integer:
            return QStringLiteral("INTEGER");
        case FieldType::Float:
            return QStringLiteral("DOUBLE");
        case FieldType::Boolean:
            return QStringLiteral("BOOLEAN");
        case FieldType::Date:
            return QStringLiteral("DATE");
        case FieldType::Time:
            return QStringLiteral("TIME");
        case FieldType::DateTime:
            return QStringLiteral("TIMESTAMP");
        case FieldType::Blob:
            return QStringLiteral("BLOB");
        }
        return QStringLiteral("VARCHAR");
    }

    bool tableExists(Database& db, const QString& table) const override {
        return db.scalar(QStringLiteral("SELECT count(*) FROM sqlite_master WHERE type = 'table' "
                                        "AND name = ? COLLATE NOCASE"),
                         {engineTableName(table)})
                   .toInt() > 0;
    }

    QList<FieldDef> readColumns(Database& db, const QString& table) const override {
        QList<FieldDef> out;
        QSqlQuery q = db.exec(
            QStringLiteral("PRAGMA table_info(%1)").arg(quoteLiteral(engineTableName(table))));
        while (q.next()) {
            FieldDef f;
            f.name = q.value(1).toString();
            f.type = fieldTypeOfDeclaration(q.value(2).toString(), &f.size);
            f.required = q.value(3).toInt() != 0;
            out << f;
        }
        return out;
    }

    QList<IndexInfo> readIndexes(Database& db, const QString& table) const override {
        QList<IndexInfo> out;
        const QString t = engineTableName(table);
        // A primary key on one INTEGER column is the rowid itself and has no
        // index object of its own.
        IndexInfo primary;
        primary.primary = true;
        {
            QMap<int, QString> pk;
            QSqlQuery q = db.exec(QStringLiteral("PRAGMA table_info(%1)").arg(quoteLiteral(t)));
            while (q.next())
                if (int pos = q.value(5).toInt(); pos > 0)
                    pk.insert(pos, q.value(1).toString());
            primary.fields = pk.values();
        }
        if (!primary.fields.isEmpty())
            out << primary;
        QList<QPair<QString, QString>> list; // name, origin
        {
            QSqlQuery q = db.exec(QStringLiteral("PRAGMA index_list(%1)").arg(quoteLiteral(t)));
            while (q.next())
                list.append({q.value(1).toString(), q.value(3).toString()});
        }
        for (const auto& [name, origin] : list) {
            if (origin == QLatin1String("pk"))
                continue;
            IndexInfo ix;
            ix.name = stripTablePrefix(t, name);
            QSqlQuery q = db.exec(QStringLiteral("PRAGMA index_xinfo(%1)").arg(quoteLiteral(name)));
            while (q.next()) {
                if (q.value(5).toInt() == 0)
                    continue; // the rowid that every index entry carries
                if (q.value(1).toInt() == -2) {
                    // An expression: ours is the folded key of one field.
                    static const QRegularExpression fold(
                        QStringLiteral("%1\\(\\s*(\\w+)\\s*\\)")
                            .arg(QLatin1String(kSqliteFoldFunction)),
                        QRegularExpression::CaseInsensitiveOption);
                    QString sql = db.scalar(QStringLiteral("SELECT sql FROM sqlite_master WHERE "
                                                           "type = 'index' AND name = ?"),
                                            {name})
                                      .toString();
                    auto m = fold.match(sql);
                    if (m.hasMatch()) {
                        ix.fields << m.captured(1);
                        ix.caseInsensitive = true;
                    }
                    continue;
                }
                ix.fields << q.value(2).toString();
                if (q.value(4).toString().compare(QLatin1String(kSqliteCiCollation),
                                                  Qt::CaseInsensitive) == 0)
                    ix.caseInsensitive = true;
            }
            out << ix;
        }
        return out;
    }

    bool isKeyViolation(const QSqlError& e) const override {
        const QString code = e.nativeErrorCode();
        return code == QLatin1String("1555") || code == QLatin1String("2067") ||
               e.databaseText().contains(QLatin1String("UNIQUE constraint failed"));
    }

    void lockExclusive(Database& db, const QString&) const override {
        // SQLite locks the whole file. Waiting out the busy timeout would only
        // delay the start-up: another writer holds the file for as long as it
        // runs.
        db.exec(QStringLiteral("PRAGMA busy_timeout = 0"));
        try {
            db.exec(QStringLiteral("BEGIN EXCLUSIVE"));
        } catch (...) {
            db.exec(QStringLiteral("PRAGMA busy_timeout = %1").arg(Database::kBusyTimeoutMs));
            throw;
        }
        db.exec(QStringLiteral("PRAGMA busy_timeout = %1").arg(Database::kBusyTimeoutMs));
    }

    void rebuildPrimary(Database& db, const QString& table) const override {
        db.exec(QStringLiteral("REINDEX %1").arg(engineTableName(table)));
    }

    void pack(Database& db, const QString& table) const override {
        // Deleted rows leave holes in half-empty pages; the table is written
        // again without them (its cost is this table's size), then the freed
        // pages go back to the file system. registro is never packed, so
        // the cost does not grow with the punches.
        const QString t = engineTableName(table);
        const QString packed = QStringLiteral("keldo_pack_") + t;
        db.exec(QStringLiteral("BEGIN IMMEDIATE"));
        try {
            QString create = db.scalar(QStringLiteral("SELECT sql FROM sqlite_master WHERE "
                                                      "type = 'table' AND name = ? COLLATE NOCASE"),
                                       {t})
                                 .toString();
            static const QRegularExpression head(
                QStringLiteral("^\\s*CREATE\\s+TABLE\\s+(\"[^\"]+\"|\\S+?)\\s*\\("),
                QRegularExpression::CaseInsensitiveOption);
            auto m = head.match(create);
            if (!m.hasMatch())
                throw DbError(QStringLiteral("Tabela não encontrada: %1").arg(t));
            QStringList indexes;
            {
                QSqlQuery q = db.exec(QStringLiteral("SELECT sql FROM sqlite_master WHERE type = "
                                                     "'index' AND tbl_name = ? COLLATE NOCASE AND "
                                                     "sql IS NOT NULL"),
                                      {t});
                while (q.next())
                    indexes << q.value(0).toString();
            }
            db.exec(QStringLiteral("DROP TABLE IF EXISTS %1").arg(packed));
            db.exec(QStringLiteral("CREATE TABLE %1 (").arg(packed) + create.mid(m.capturedEnd()));
            db.exec(
                QStringLiteral("INSERT INTO %1 SELECT * FROM %2 ORDER BY rowid").arg(packed, t));
            db.exec(QStringLiteral("DROP TABLE %1").arg(t));
            db.exec(QStringLiteral("ALTER TABLE %1 RENAME TO %2").arg(packed, t));
            for (const QString& sql : indexes)
                db.exec(sql);
            db.exec(QStringLiteral("COMMIT"));
        } catch (...) {
            db.rollback();
            throw;
        }
        db.invalidateCatalog();
        // The pragma frees one page a step; sqlite3_exec runs it to its end,
        // which a query object would not. The file shrinks when the log is
        // checkpointed, once, at the end of the maintenance.
        execToEnd(db, "PRAGMA incremental_vacuum");
    }

    void beginMaintenance(Database& db) const override {
        // Every table costs two commits. In WAL mode a NORMAL commit cannot
        // corrupt the file; only the checkpoint at the end needs to reach the
        // disk, and it syncs everything before it. That keeps the start-up
        // from waiting for a dozen disk flushes.
        db.exec(QStringLiteral("PRAGMA synchronous = NORMAL"));
    }

    void endMaintenance(Database& db, bool complete) const override {
        // A TRUNCATE checkpoint waits for readers and writers through the busy
        // timeout; after a run that another writer stopped, a passive one
        // does what it can without waiting.
        try {
            execToEnd(db, complete ? "PRAGMA wal_checkpoint(TRUNCATE)"
                                   : "PRAGMA wal_checkpoint(PASSIVE)");
        } catch (...) {
            db.exec(QStringLiteral("PRAGMA synchronous = FULL"));
            throw;
        }
        db.exec(QStringLiteral("PRAGMA synchronous = FULL"));
    }

private:
    static void execToEnd(Database& db, const char* sql) {
        sqlite3* h = sqliteHandleOf(db);
        char* message = nullptr;
        if (sqlite3_exec(h, sql, nullptr, nullptr, &message) != SQLITE_OK) {
            QString text = QString::fromUtf8(message ? message : sqlite3_errmsg(h));
            sqlite3_free(message);
            throw DbError(text);
        }
    }
};

class PostgresDialect final : public Dialect {
public:
    Engine engine() const override { return Engine::Postgres; }
    QString rowIdColumn() const override { return QStringLiteral("ctid"); }
    QString ciField(const QString& field) const override {
        return field + QStringLiteral(" COLLATE keldo_ci");
    }
    QString ciValue(const QString& placeholder) const override { return placeholder; }
    QString returningRowId() const override { return QStringLiteral(" RETURNING ctid"); }
    bool nullsSortFirst() const override { return false; }
    bool streamsWhileOthersRun() const override { return false; }

    QStringList createTableSql(const TableDef& def) const override {
        QStringList out;
        out << QStringLiteral("CREATE COLLATION IF NOT EXISTS keldo_ci (provider = icu, "
                              "locale = 'und-u-ks-level1', deterministic = false)");
        out << Dialect::createTableSql(def);
        return out;
    }

    QString columnType(const FieldDef& f) const override {
        // Text compares byte for byte, as on SQLite; the insensitive order is
        // the index's business.
        switch (f.type) {
        case FieldType::String:
            return f.size > 0 ? QStringLiteral("varchar(%1) COLLATE \"C\"").arg(f.size)
                              : QStringLiteral("varchar COLLATE \"C\"");
        case FieldType::Memo:
            return QStringLiteral("text COLLATE \"C\"");
        case FieldType::SmallInt:
            return QStringLiteral("smallint");
        case FieldType::Integer:
            return QStringLiteral("integer");
        case FieldType::Float:
            return QStringLiteral("double precision");
        case FieldType::Boolean:
            return QStringLiteral("boolean");
        case FieldType::Date:
            return QStringLiteral("date");
        case FieldType::Time:
            return QStringLiteral("time");
        case FieldType::DateTime:
            return QStringLiteral("timestamp");
        case FieldType::Blob:
            return QStringLiteral("bytea");
        }
        return QStringLiteral("varchar");
    }

    bool tableExists(Database& db, const QString& table) const override {
        return db.scalar(QStringLiteral("SELECT count(*) FROM information_schema.tables WHERE "
                                        "table_schema = current_schema() AND table_name = ?"),
                         {engineTableName(table).toLower()})
                   .toInt() > 0;
    }

    QList<FieldDef> readColumns(Database& db, const QString& table) const override {
        QList<FieldDef> out;
        QSqlQuery q = db.exec(
            QStringLiteral("SELECT column_name, data_type, character_maximum_length, is_nullable "
                           "FROM information_schema.columns WHERE table_schema = current_schema() "
                           "AND table_name = ? ORDER BY ordinal_position"),
            {engineTableName(table).toLower()});
        while (q.next()) {
            FieldDef f;
            f.name = q.value(0).toString();
            QString type = q.value(1).toString();
            int ignored = 0;
            if (type == QLatin1String("character varying") || type == QLatin1String("character"))
                f.type = FieldType::String;
            else if (type == QLatin1String("text"))
                f.type = FieldType::Memo;
            else if (type.startsWith(QLatin1String("time without")))
                f.type = FieldType::Time;
            else if (type.startsWith(QLatin1String("timestamp")))
                f.type = FieldType::DateTime;
            else
                f.type = fieldTypeOfDeclaration(type, &ignored);
            f.size = q.value(2).isNull() ? 0 : q.value(2).toInt();
            f.required = q.value(3).toString() == QLatin1String("NO");
            out << f;
        }
        return out;
    }

    QList<IndexInfo> readIndexes(Database& db, const QString& table) const override {
        QList<IndexInfo> out;
        const QString t = engineTableName(table).toLower();
        QSqlQuery q = db.exec(
            QStringLiteral(
                "SELECT i.relname, ix.indisprimary, "
                " array_to_string(array(SELECT a.attname FROM unnest(ix.indkey::int2[]) WITH "
                "  ORDINALITY k(attnum, ord) JOIN pg_attribute a ON a.attrelid = ix.indrelid AND "
                "  a.attnum = k.attnum ORDER BY k.ord), ','), "
                " EXISTS (SELECT 1 FROM unnest(ix.indcollation::oid[]) c JOIN pg_collation pc ON "
                "  pc.oid = c WHERE pc.collname = 'keldo_ci') "
                "FROM pg_index ix JOIN pg_class i ON i.oid = ix.indexrelid "
                "JOIN pg_class t ON t.oid = ix.indrelid "
                "JOIN pg_namespace n ON n.oid = t.relnamespace "
                "WHERE t.relname = ? AND n.nspname = current_schema() "
                "ORDER BY ix.indisprimary DESC, i.relname"),
            {t});
        while (q.next()) {
            IndexInfo ix;
            ix.primary = q.value(1).toBool();
            ix.name = ix.primary ? QString() : stripTablePrefix(t, q.value(0).toString());
            ix.fields = q.value(2).toString().split(QLatin1Char(','), Qt::SkipEmptyParts);
            ix.caseInsensitive = q.value(3).toBool();
            out << ix;
        }
        return out;
    }

    bool isKeyViolation(const QSqlError& e) const override {
        return e.nativeErrorCode() == QLatin1String("23505");
    }

    void lockExclusive(Database& db, const QString& table) const override {
        db.exec(QStringLiteral("BEGIN"));
        db.exec(QStringLiteral("LOCK TABLE %1 IN ACCESS EXCLUSIVE MODE NOWAIT")
                    .arg(engineTableName(table)));
    }

    void rebuildPrimary(Database& db, const QString& table) const override {
        const QString t = engineTableName(table).toLower();
        QVariant name = db.scalar(
            QStringLiteral("SELECT i.relname FROM pg_index ix JOIN pg_class i ON i.oid = "
                           "ix.indexrelid JOIN pg_class t ON t.oid = ix.indrelid JOIN "
                           "pg_namespace n ON n.oid = t.relnamespace WHERE t.relname = ? AND "
                           "n.nspname = current_schema() AND ix.indisprimary"),
            {t});
        if (!name.isNull())
            db.exec(QStringLiteral("REINDEX INDEX %1").arg(name.toString()));
    }

    void pack(Database& db, const QString& table) const override {
        // VACUUM FULL takes the table again; it must fail, not wait, when
        // another program got hold of it in between.
        db.exec(QStringLiteral("SET lock_timeout = '100ms'"));
        try {
            db.exec(QStringLiteral("VACUUM FULL %1").arg(engineTableName(table)));
        } catch (...) {
            db.exec(QStringLiteral("RESET lock_timeout"));
            throw;
        }
        db.exec(QStringLiteral("RESET lock_timeout"));
    }
};

} // namespace

QList<FieldType> Dialect::resultTypes(QSqlQuery& q) const {
    const QSqlRecord rec = q.record();
    QList<FieldType> types;
    for (int i = 0; i < rec.count(); ++i)
        types << typeOfMeta(rec.field(i).metaType().id());
    return types;
}

std::unique_ptr<Dialect> makeSqliteDialect() {
    return std::make_unique<SqliteDialect>();
}
std::unique_ptr<Dialect> makePostgresDialect() {
    return std::make_unique<PostgresDialect>();
}

} // namespace keldo::db
