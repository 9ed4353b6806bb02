// keldoctl: the command-line companion of the program. Every verb calls the
// functions the windows call; it has no logic of its own.
//
//   int status = keldo::cli::run({"sql", "delete from mens"}, out, err);
#pragma once

#include "db/data_module.h"
#include "platform/engine_config.h"

#include <QStringList>
#include <QTextStream>
#include <functional>

namespace keldo::cli {

struct Verb {
    const char* name;
    const char* usage;   // "sql STATEMENT | --file F [--rows]"
    const char* summary; // one line, Portuguese
    std::function<int(const QStringList& args, QTextStream& out, QTextStream& err)> run;
};

// The verbs, in the order --help lists them. Subsystems add theirs here.
const QList<Verb>& verbs();

// The data module as the windows find it once the program has started, for
// the verbs that work on the data: bound to the alias Keldoran32, with the
// INI handle; no maintenance and no login, and an SQLite database directory
// without its database is an error rather than a new database. Throws
// db::DbError.
struct VerbSession {
    VerbSession();
    platform::EngineConfig engine;
    db::TDDados dm;
};

// Where a verb that wrote `fileName` says what it did: `err` when that file
// is this process's standard output ("--out /dev/stdout"), so that the
// output holds the file alone; `out` otherwise.
QTextStream& summaryStream(const QString& fileName, QTextStream& out, QTextStream& err);

// Runs a command line (without the program name); returns the exit status.
int run(const QStringList& args, QTextStream& out, QTextStream& err);

// Verbs of the database subsystem.
int initDb(const QStringList& args, QTextStream& out, QTextStream& err);
int maintain(const QStringList& args, QTextStream& out, QTextStream& err);
int sql(const QStringList& args, QTextStream& out, QTextStream& err);

// Verbs of the backup subsystem.
int backupVerb(const QStringList& args, QTextStream& out, QTextStream& err);
int catalogVerb(const QStringList& args, QTextStream& out, QTextStream& err);
int restoreVerb(const QStringList& args, QTextStream& out, QTextStream& err);

// Verbs of the export and import subsystem.
int exportPunchesVerb(const QStringList& args, QTextStream& out, QTextStream& err);
int exportEmployeesVerb(const QStringList& args, QTextStream& out, QTextStream& err);
int importEmployeesVerb(const QStringList& args, QTextStream& out, QTextStream& err);

} // namespace keldo::cli
