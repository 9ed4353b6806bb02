// Where the database is: the alias "Keldoran32" of the engine configuration.
//
// The alias gives the database directory (PATH), used to name files
// directly (backups archive its files), and the engine behind it (DEFAULT
// DRIVER: SQLITE, the embedded default, or POSTGRESQL with HOST, PORT,
// DATABASE, USER, PASSWORD and, optionally, SCHEMA). The original's "PARADOX" reads as the embedded
// default.
#pragma once

#include "database.h"
#include "platform/engine_config.h"

#include <QString>
#include <memory>

namespace keldo::db {

inline constexpr const char* kAliasName = "Keldoran32";
inline constexpr const char* kDefaultDatabaseDirectory = "C:\\KELDORAN32\\DADOS";

// When the main window is created: an alias the engine does not know is
// added for this run with the default directory. A configuration that
// cannot be read is left for resolveDatabaseDirectory to report.
void ensureRunAlias(platform::EngineConfig& engine);

// When the data module is created: the database directory with its
// trailing backslash (Windows form as configured, or a native path with a
// trailing '/'). An alias without parameters gives the program folder plus
// "dados\". An alias that cannot be read at all makes the engine save a
// standard alias "keldoran32" at "C:\keldoran32\DADOS" and gives "".
QString resolveDatabaseDirectory(platform::EngineConfig& engine);

struct AliasConnection {
    Engine engine = Engine::Sqlite;
    QString directory;  // database directory as resolveDatabaseDirectory gives it
    QString sqliteFile; // native path of the database file (SQLite)
    PostgresParams postgres;
};

// How the alias reaches its tables. Throws DbError when the alias is
// unknown, the configuration unreadable, or the driver one we do not have.
AliasConnection aliasConnection(platform::EngineConfig& engine);

// Opens the alias's database. With `createWhenMissing`, an SQLite database
// directory without a database file gets the delivered database (the first
// start of a new installation); otherwise a missing file is an error.
std::unique_ptr<Database> connectAlias(platform::EngineConfig& engine,
                                       bool createWhenMissing = false);

// The alias's database made anew with the delivered schema, for `keldoctl
// init-db`: resolved exactly as the program resolves it. `where` receives the
// file, or the database and server. Throws DbError "Já existe um banco de
// dados em …; nada foi alterado." when the alias already has a database
// (the SQLite file, or PostgreSQL tables), and leaves it untouched.
std::unique_ptr<Database> createAliasDatabase(platform::EngineConfig& engine, QString* where);

// A folder (Windows form or native) as a native path.
QString nativePath(const QString& path);
// Joins a folder that ends in its separator and a name, keeping the folder's
// kind of separator.
QString withSeparator(const QString& folder);

} // namespace keldo::db
