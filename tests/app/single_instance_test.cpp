// One copy per user and installation: a second real keldo process hands over
// to the first copy (this test) and ends without login or database work.
#include "../db/test_support.h"
#include "app/TfmMain.h"
#include "app/single_instance.h"
#include "platform/engine_config.h"
#include "qt_print.h"
#include "ui/portuguese_qt.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QLocalSocket>
#include <QProcess>
#include <QSignalSpy>
#include <gtest/gtest.h>

using namespace keldo;

namespace {

TEST(SingleInstanceTest, TitleComesFromTheProgramFile) {
    const struct {
        const char* file;
        const char* title;
    } cases[] = {{"/usr/bin/keldo", "keldo"}, {"KELDO.EXE", "Keldo"}, {"kEL", "kel"}, {"", ""}};
    for (const auto& c : cases)
        EXPECT_EQ(app::applicationTitle(c.file), c.title) << c.file;
}

TEST(SingleInstanceTest, OneFirstCopyPerInstallation) {
    keldo::testing::TempRoot root;
    auto first = std::make_unique<app::SingleInstance>("Probe");
    app::SingleInstance second("Probe");
    EXPECT_FALSE(first->isSecondCopy());
    EXPECT_TRUE(second.isSecondCopy());
    {
        keldo::testing::TempRoot other; // another installation of the same user
        EXPECT_FALSE(app::SingleInstance("Probe").isSecondCopy());
    }
    // Only our request brings the window forward.
    QSignalSpy asked(first.get(), &app::SingleInstance::activationRequested);
    for (const QByteArray& junk : {QByteArray("hello\n"), QByteArray(4096, 'r')}) {
        QLocalSocket s;
        s.connectToServer(first->serverName());
        ASSERT_TRUE(s.waitForConnected(1000));
        s.write(junk);
        s.waitForBytesWritten(1000);
        QDeadlineTimer gone(2000);
        while (s.state() == QLocalSocket::ConnectedState && !gone.hasExpired()) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
            if (s.state() == QLocalSocket::ConnectedState)
                s.waitForDisconnected(10);
        }
        EXPECT_NE(s.state(), QLocalSocket::ConnectedState) << junk.left(10).toStdString();
    }
    EXPECT_EQ(asked.count(), 0);
    first.reset(); // the first copy ended: the next start is a first copy again
    EXPECT_FALSE(app::SingleInstance("Probe").isSecondCopy());
    EXPECT_FALSE(second.activateFirstCopy(200)); // nobody answers
}

TEST(SingleInstanceTest, SecondProcessRestoresTheFirstCopysWindowAndEnds) {
    keldo::testing::TempRoot root;
    app::SingleInstance justOne(app::applicationTitle(KELDO_BINARY));
    ASSERT_FALSE(justOne.isSecondCopy());
    platform::EngineConfig engine;
    app::TfmMain main(engine, &justOne);
    main.show();
    main.setWindowState(Qt::WindowMinimized);
    ASSERT_TRUE(main.windowState() & Qt::WindowMinimized);
    QSignalSpy asked(&justOne, &app::SingleInstance::activationRequested);
    const QStringList before = QDir(root.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);

    QProcess second;
    second.setProcessChannelMode(QProcess::ForwardedChannels);
    second.start(KELDO_BINARY, {});
    ASSERT_TRUE(second.waitForStarted());
    // This copy must keep answering while the other one waits for it.
    QDeadlineTimer deadline(20000);
    while (second.state() != QProcess::NotRunning && !deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        second.waitForFinished(20);
    }
    ASSERT_EQ(second.state(), QProcess::NotRunning) << "the second copy did not end";
    EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second.exitCode(), 0);
    QCoreApplication::processEvents();
    EXPECT_EQ(asked.count(), 1);
    EXPECT_FALSE(main.windowState() & Qt::WindowMinimized);
    EXPECT_TRUE(main.isVisible());
    // No database, no INI file, no alias written: nothing new in KELDO_ROOT.
    EXPECT_EQ(QDir(root.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), before);
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    ui::installPortugueseQt(app);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
