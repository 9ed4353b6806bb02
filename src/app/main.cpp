#include "app/program.h"
#include "ui/portuguese_qt.h"

#include <QApplication>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    keldo::ui::installPortugueseQt(app);
    return keldo::app::runProgram(app);
}
