// Widget tests need a QApplication; they run on the offscreen platform, with
// Qt's own texts in Portuguese as the program has them.
#include "ui/portuguese_qt.h"

#include <gtest/gtest.h>

#include <QApplication>

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setApplicationDisplayName(QStringLiteral("Cronalto"));
    keldo::ui::installPortugueseQt(app);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
