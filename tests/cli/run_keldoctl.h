// Runs keldoctl in the test's process, as its main() would, and keeps what it
// printed on each stream.
#pragma once

#include "cli/keldoctl.h"

#include <QString>
#include <QStringList>
#include <QTextStream>

namespace keldo::testing {

struct KeldoctlResult {
    int status;
    QString out;
    QString err;
};

inline KeldoctlResult keldoctl(const QStringList& args) {
    QString out, err;
    QTextStream o(&out), e(&err);
    const int status = cli::run(args, o, e);
    o.flush();
    e.flush();
    return {status, out, err};
}

} // namespace keldo::testing
