#include "database.h"

#include "collation.h"
#include "schema.h"

#include <QAtomicInt>
#include <QDir>
#include <QFileInfo>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlRecord>
#include <sqlite3.h>

namespace keldo::db {

QString engineTableName(const QString& name) {
    QString n = name.trimmed();
    if (n.endsWith(QLatin1String(".db"), Qt::CaseInsensitive))
        n.chop(3);
    return n;
}

namespace {

int ciCompare(void*, int la, const void* a, int lb, const void* b) {
    return compareFolded(std::string_view(static_cast<const char*>(a), la),
                         std::string_view(static_cast<const char*>(b), lb));
}

void foldFunction(sqlite3_context* ctx, int, sqlite3_value** argv) {
    if (sqlite3_value_type(argv[0]) == SQLITE_NULL) {
        sqlite3_result_null(ctx);
        return;
    }
    const auto* text = reinterpret_cast<const char*>(sqlite3_value_text(argv[0]));
    const int n = sqlite3_value_bytes(argv[0]);
    const QByteArray key = foldKey(std::string_view(text ? text : "", size_t(n)));
    sqlite3_result_blob(ctx, key.constData(), int(key.size()), SQLITE_TRANSIENT);
}

sqlite3* sqliteHandle(QSqlDatabase& db) {
    QVariant v = db.driver()->handle();
    if (v.isValid() && qstrcmp(v.typeName(), "sqlite3*") == 0)
        return *static_cast<sqlite3* const*>(v.constData());
    return nullptr;
}

} // namespace

sqlite3* sqliteHandleOf(Database& db) {
    return sqliteHandle(db.connection());
}

void installSqliteFunctions(sqlite3* h) {
    sqlite3_create_collation_v2(h, kSqliteCiCollation, SQLITE_UTF8, nullptr, ciCompare, nullptr);
    sqlite3_create_function_v2(h, kSqliteFoldFunction, 1,
                               SQLITE_UTF8 | SQLITE_DETERMINISTIC | SQLITE_INNOCUOUS, nullptr,
                               foldFunction, nullptr, nullptr, nullptr);
}

QString Database::nextConnectionName() {
    static QAtomicInt counter;
    return QStringLiteral("keldo_%1").arg(counter.fetchAndAddRelaxed(1));
}

Database::Database(QSqlDatabase db, std::unique_ptr<Dialect> dialect, QString file)
    : db_(std::move(db)), dialect_(std::move(dialect)), file_(std::move(file)) {}

Database::~Database() {
    const QString name = db_.connectionName();
    db_.close();
    db_ = QSqlDatabase();
    QSqlDatabase::removeDatabase(name);
}

std::unique_ptr<Database> Database::openSqlite(const QString& file, bool create) {
    const bool exists = QFileInfo::exists(file);
    if (!exists && !create)
        throw DbError(QStringLiteral("Banco de dados não encontrado: %1").arg(file));
    if (!exists)
        QDir().mkpath(QFileInfo(file).absolutePath());
    const QString name = nextConnectionName();
    QSqlDatabase qdb = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
    qdb.setDatabaseName(file);
    qdb.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(kBusyTimeoutMs));
    std::unique_ptr<Database> db(new Database(qdb, makeSqliteDialect(), file));
    if (!db->db_.open())
        db->raise(db->db_.lastError(), QStringLiteral("Abrindo %1").arg(file));
    sqlite3* h = sqliteHandle(db->db_);
    if (!h)
        throw DbError(QStringLiteral("O driver SQLite não expõe sua conexão."));
    installSqliteFunctions(h);
    // The first statement that reads the file tells a database from any other
    // file; the auto-vacuum mode only takes on a file without tables.
    if (!exists)
        db->exec(QStringLiteral("PRAGMA auto_vacuum = INCREMENTAL"));
    db->exec(QStringLiteral("PRAGMA journal_mode = WAL"));
    db->exec(QStringLiteral("SELECT count(*) FROM sqlite_master"));
    return db;
}

std::unique_ptr<Database> Database::openDirectory(const QString& folder) {
    QDir().mkpath(folder);
    return openSqlite(QDir(folder).filePath(QLatin1String(kSqliteFileName)), true);
}

std::unique_ptr<Database> Database::openPostgres(const PostgresParams& p) {
    const QString name = nextConnectionName();
    QSqlDatabase qdb = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), name);
    qdb.setHostName(p.host);
    qdb.setPort(p.port);
    qdb.setDatabaseName(p.database);
    qdb.setUserName(p.user);
    qdb.setPassword(p.password);
    qdb.setConnectOptions(QStringLiteral("connect_timeout=5"));
    std::unique_ptr<Database> db(new Database(qdb, makePostgresDialect(), QString()));
    if (!db->db_.open())
        db->raise(db->db_.lastError(),
                  QStringLiteral("Conectando ao servidor PostgreSQL %1").arg(p.host));
    db->exec(QStringLiteral("SET client_min_messages = warning"));
    db->exec(QStringLiteral("SET datestyle = ISO"));
    if (!p.schema.isEmpty())
        db->exec(QStringLiteral("SET search_path TO %1").arg(p.schema));
    return db;
}

QString Database::engineName() const {
    return dialect_->engine() == Engine::Sqlite ? QStringLiteral("SQLite")
                                                : QStringLiteral("PostgreSQL");
}

void Database::raise(const QSqlError& error, const QString& context) const {
    const bool key = dialect_->isKeyViolation(error);
    QString text = error.databaseText().trimmed();
    if (text.isEmpty())
        text = error.driverText().trimmed();
    if (text.isEmpty())
        text = error.text().trimmed();
    if (key)
        text = QString::fromUtf8(kKeyViolationText) + QLatin1Char('\n') + text;
    else if (!context.isEmpty())
        text = context + QStringLiteral(": ") + text;
    throw DbError(text, key);
}

QSqlQuery Database::exec(const QString& sql, const QVariantList& params) {
    QSqlQuery q(db_);
    q.setForwardOnly(true);
    if (params.isEmpty()) {
        if (!q.exec(sql))
            raise(q.lastError());
        return q;
    }
    if (!q.prepare(sql))
        raise(q.lastError());
    for (int i = 0; i < params.size(); ++i)
        q.bindValue(i, dialect_->toEngine(params[i]));
    if (!q.exec())
        raise(q.lastError());
    return q;
}

QVariant Database::scalar(const QString& sql, const QVariantList& params) {
    QSqlQuery q = exec(sql, params);
    if (!q.next())
        return QVariant();
    return q.value(0);
}

void Database::begin() {
    exec(QStringLiteral("BEGIN"));
    inTransaction_ = true;
}

void Database::commit() {
    exec(QStringLiteral("COMMIT"));
    inTransaction_ = false;
}

void Database::rollback() {
    inTransaction_ = false;
    QSqlQuery q(db_);
    q.exec(QStringLiteral("ROLLBACK")); // nothing to undo is not an error
}

bool Database::tableExists(const QString& table) {
    return dialect_->tableExists(*this, table);
}

const QList<FieldDef>& Database::columns(const QString& table) {
    const QString key = engineTableName(table).toLower();
    auto it = columns_.find(key);
    if (it != columns_.end())
        return *it;
    QList<FieldDef> cols = dialect_->readColumns(*this, table);
    if (cols.isEmpty()) {
        // Let the engine say why: the table does not exist, the file is
        // damaged...
        exec(QStringLiteral("SELECT * FROM %1 WHERE 1 = 0").arg(engineTableName(table)));
        throw DbError(QStringLiteral("Tabela sem campos: %1").arg(table));
    }
    for (FieldDef& f : cols)
        f.name = programFieldName(table, f.name);
    return *columns_.insert(key, cols);
}

const QList<IndexInfo>& Database::indexes(const QString& table) {
    const QString key = engineTableName(table).toLower();
    auto it = indexes_.find(key);
    if (it != indexes_.end())
        return *it;
    QList<IndexInfo> list = dialect_->readIndexes(*this, table);
    for (IndexInfo& ix : list) {
        ix.name = programIndexName(table, ix.name);
        for (QString& f : ix.fields)
            f = programFieldName(table, f);
    }
    return *indexes_.insert(key, list);
}

void Database::invalidateCatalog() {
    columns_.clear();
    indexes_.clear();
}

} // namespace keldo::db
