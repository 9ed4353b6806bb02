#include "app/program.h"

#include <QApplication>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    return keldo::app::runProgram(app);
}
