#include "location.h"

#include "platform/paths.h"
#include "schema.h"

#include <QDir>
#include <QFileInfo>

namespace keldo::db {
namespace {

QString q(const std::string& s) {
    return QString::fromStdString(s);
}

const std::string* param(const platform::AliasParams& params, const char* key) {
    for (const auto& [k, v] : params)
        if (QString::fromStdString(k).compare(QLatin1String(key), Qt::CaseInsensitive) == 0)
            return &v;
    return nullptr;
}

} // namespace

QString nativePath(const QString& path) {
    return QString::fromStdString(platform::toNative(path.toStdString()).string());
}

QString withSeparator(const QString& folder) {
    if (folder.isEmpty() || folder.endsWith(QLatin1Char('\\')) || folder.endsWith(QLatin1Char('/')))
        return folder;
    return folder + (folder.startsWith(QLatin1Char('/')) ? QLatin1Char('/') : QLatin1Char('\\'));
}

void ensureRunAlias(platform::EngineConfig& engine) {
    try {
        if (!engine.aliasExists(kAliasName))
            engine.addRunAlias(kAliasName,
                               {{"PATH", kDefaultDatabaseDirectory}, {"DEFAULT DRIVER", "SQLITE"}});
    } catch (const platform::EngineConfigError&) {
        // The data module meets the same error and handles it.
    }
}

QString resolveDatabaseDirectory(platform::EngineConfig& engine) {
    std::optional<platform::AliasParams> params;
    try {
        params = engine.aliasParams(kAliasName);
    } catch (const platform::EngineConfigError&) {
        params.reset();
    }
    if (!params) {
        // The alias cannot be read at all: a standard one is made to last.
        try {
            engine.addAlias("keldoran32",
                            {{"PATH", "C:\\keldoran32\\DADOS"}, {"DEFAULT DRIVER", "SQLITE"}});
            engine.save();
        } catch (const std::exception&) {
            // Saved or not, the alias is known for this run.
        }
        return QString();
    }
    if (params->empty())
        return q(platform::programFolder()) + QStringLiteral("dados\\");
    // The PATH parameter; a configuration written by hand may list it after
    // the driver, so it is looked up by name before falling back on the
    // first line.
    const std::string* path = param(*params, "PATH");
    return withSeparator(q(path ? *path : params->front().second));
}

AliasConnection aliasConnection(platform::EngineConfig& engine) {
    std::optional<platform::AliasParams> params;
    try {
        params = engine.aliasParams(kAliasName);
    } catch (const platform::EngineConfigError& e) {
        throw DbError(QString::fromUtf8(e.what()));
    }
    if (!params)
        throw DbError(QStringLiteral("Alias %1 não encontrado na configuração do banco de dados.")
                          .arg(QLatin1String(kAliasName)));
    AliasConnection c;
    c.directory = resolveDatabaseDirectory(engine);
    const std::string* driver = param(*params, "DEFAULT DRIVER");
    const QString d = driver ? q(*driver).trimmed().toUpper() : QString();
    if (d.isEmpty() || d == QLatin1String("SQLITE") || d == QLatin1String("PARADOX")) {
        c.engine = Engine::Sqlite;
        QString dir = c.directory.isEmpty()
                          ? q(platform::programFolder()) + QStringLiteral("dados\\")
                          : c.directory;
        c.sqliteFile = QDir(nativePath(dir)).filePath(QLatin1String(Database::kSqliteFileName));
        return c;
    }
    if (d != QLatin1String("POSTGRESQL"))
        throw DbError(QStringLiteral("Driver de banco de dados desconhecido: %1").arg(d));
    c.engine = Engine::Postgres;
    auto get = [&](const char* key) {
        const std::string* v = param(*params, key);
        return v ? q(*v) : QString();
    };
    c.postgres.host = get("HOST");
    c.postgres.port = get("PORT").isEmpty() ? 5432 : get("PORT").toInt();
    c.postgres.database = get("DATABASE");
    c.postgres.user = get("USER");
    c.postgres.password = get("PASSWORD");
    c.postgres.schema = get("SCHEMA");
    return c;
}

std::unique_ptr<Database> createAliasDatabase(platform::EngineConfig& engine, QString* where) {
    const AliasConnection c = aliasConnection(engine);
    auto refuse = [](const QString& at) {
        return DbError(
            QStringLiteral("Já existe um banco de dados em %1; nada foi alterado.").arg(at));
    };
    std::unique_ptr<Database> db;
    QString at;
    if (c.engine == Engine::Postgres) {
        at = QStringLiteral("%1 (servidor %2)").arg(c.postgres.database, c.postgres.host);
        db = Database::openPostgres(c.postgres);
        if (db->tableExists(QStringLiteral("funciona")))
            throw refuse(at);
    } else {
        at = c.sqliteFile;
        if (QFileInfo::exists(c.sqliteFile))
            throw refuse(at);
        db = Database::openSqlite(c.sqliteFile, true);
    }
    createDeliveredSchema(*db);
    if (where)
        *where = at;
    return db;
}

std::unique_ptr<Database> connectAlias(platform::EngineConfig& engine, bool createWhenMissing) {
    AliasConnection c = aliasConnection(engine);
    if (c.engine == Engine::Postgres)
        return Database::openPostgres(c.postgres);
    if (createWhenMissing && !QFileInfo::exists(c.sqliteFile)) {
        auto db = Database::openSqlite(c.sqliteFile, true);
        createDeliveredSchema(*db);
        return db;
    }
    return Database::openSqlite(c.sqliteFile);
}

} // namespace keldo::db
