// keldoctl: the command-line companion of the program. Every verb calls the
// functions the windows call; it has no logic of its own.
//
//   int status = keldo::cli::run({"sql", "delete from mens"}, out, err);
#pragma once

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
