#include "keldoctl.h"

#include <QCoreApplication>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QTextStream out(stdout), err(stderr);
    return keldo::cli::run(app.arguments().mid(1), out, err);
}
