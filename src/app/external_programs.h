// The external programs of the "Utilitários" menu, started by their Windows
// names ("CALC", "HORIX", "notepad").
//
// A name is looked up in [programs] of $KELDO_ROOT/platform.cfg first
// ("CALC=gnome-calculator", a command line with arguments allowed), then on
// the program search path as written and in lower case, then among the usual
// desktop programs for that name.
#pragma once

#include <QString>
#include <QStringList>

namespace keldo::app {

struct ProgramCommand {
    QString program; // absolute path; empty when nothing was found
    QStringList arguments;
};

ProgramCommand findExternalProgram(const QString& name);

// Starts the program detached from this one. On failure returns false and
// sets `error` to a Portuguese sentence naming the program.
bool startExternalProgram(const QString& name, QString* error);

} // namespace keldo::app
