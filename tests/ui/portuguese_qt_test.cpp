// What Qt draws by itself comes out in Portuguese on a desktop that runs in
// another language: CTest runs this with LANG=C, and main() makes sure of it
// when the test is started by hand.
#include "ui/portuguese_qt.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCalendarWidget>
#include <QDialogButtonBox>
#include <QFile>
#include <QFileDialog>
#include <QLibraryInfo>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QToolButton>

using namespace keldo;

namespace {

QString withoutMnemonic(QString text) {
    return text.remove(QLatin1Char('&'));
}

QStringList buttonTexts(const QList<QAbstractButton*>& buttons) {
    QStringList texts;
    for (QAbstractButton* b : buttons)
        texts << withoutMnemonic(b->text());
    return texts;
}

class PortugueseQt : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        ASSERT_EQ(QLocale::system().name(), "C") << "the test needs a desktop that is not pt_BR";
        ASSERT_TRUE(ui::installPortugueseQt(*qApp)) << "qtbase_pt_BR.qm not found";
    }
};

TEST_F(PortugueseQt, LocaleIsBrazilianWhateverTheDesktop) {
    EXPECT_EQ(QLocale().name(), "pt_BR");
    EXPECT_TRUE(ui::installPortugueseQt(*qApp)) << "a second call finds it installed";
    EXPECT_EQ(QLocale().toString(1234.5, 'f', 1), "1.234,5");
}

TEST_F(PortugueseQt, FileDialogSaysSalvarAndCancelar) {
    QFileDialog dialog;
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    auto* box = dialog.findChild<QDialogButtonBox*>();
    ASSERT_NE(box, nullptr);
    const QStringList texts = buttonTexts(box->buttons());
    EXPECT_TRUE(texts.contains("Salvar")) << texts.join(", ").toStdString();
    EXPECT_TRUE(texts.contains("Cancelar")) << texts.join(", ").toStdString();
}

TEST_F(PortugueseQt, CalendarNamesTheMonthsInPortuguese) {
    QCalendarWidget calendar;
    EXPECT_EQ(calendar.locale().name(), "pt_BR");
    const struct {
        int month;
        const char* name;
    } months[] = {{1, "janeiro"}, {3, "março"}, {12, "dezembro"}};
    for (const auto& m : months) {
        calendar.setCurrentPage(2026, m.month);
        auto* monthButton = calendar.findChild<QToolButton*>("qt_calendar_monthbutton");
        ASSERT_NE(monthButton, nullptr);
        EXPECT_EQ(monthButton->text().toLower(), QString::fromUtf8(m.name)) << m.month;
    }
}

TEST_F(PortugueseQt, StandardButtonsOfAMessageBox) {
    QMessageBox box;
    box.setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
    const struct {
        QMessageBox::StandardButton button;
        const char* text;
    } buttons[] = {
        {QMessageBox::Yes, "Sim"}, {QMessageBox::No, "Não"}, {QMessageBox::Cancel, "Cancelar"}};
    for (const auto& b : buttons)
        EXPECT_EQ(withoutMnemonic(box.button(b.button)->text()), QString::fromUtf8(b.text));
}

// Qt's folder first; the program's own copy when Qt's folder lacks the file.
TEST(QtTranslationLookup, FirstFolderThatHoldsTheFile) {
    QTemporaryDir empty, own;
    const QString qts = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    ASSERT_TRUE(
        QFile::copy(qts + "/" + ui::kQtTranslationFile, own.filePath(ui::kQtTranslationFile)));
    const struct {
        QStringList folders;
        QString found;
    } cases[] = {
        {{qts, own.path()}, qts + "/" + ui::kQtTranslationFile},
        {{empty.path(), own.path()}, own.filePath(ui::kQtTranslationFile)},
        {{QString(), own.path()}, own.filePath(ui::kQtTranslationFile)},
        {{empty.path()}, QString()},
    };
    for (const auto& c : cases)
        EXPECT_EQ(QFileInfo(ui::findQtTranslation(c.folders)).canonicalFilePath(),
                  QFileInfo(c.found).canonicalFilePath())
            << c.folders.join(";").toStdString();
    const QStringList order = ui::qtTranslationFolders();
    ASSERT_EQ(order.size(), 2);
    EXPECT_EQ(order[0], qts);
    EXPECT_EQ(QDir::cleanPath(order[1]), QDir::cleanPath(QCoreApplication::applicationDirPath() +
                                                         "/../share/keldo/translations"));
}

} // namespace

int main(int argc, char** argv) {
    // As a desktop in another language; set before the application reads it.
    qputenv("LANG", "C");
    qputenv("LC_ALL", "C");
    qunsetenv("LANGUAGE");
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
