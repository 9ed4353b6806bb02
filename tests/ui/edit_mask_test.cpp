#include "ui/edit_mask.h"
#include "ui/mask_edit.h"

#include <gtest/gtest.h>

#include <QTest>

using namespace keldo::ui;

namespace {
const QString kDate = QStringLiteral("!90/90/0000;1;_");
const QString kHour = QStringLiteral("!90:00;1;_");
const QString kDateHour = QStringLiteral("!99/99/0000 00:00;1;_");
const QString kYear = QStringLiteral("!0000;1;_");
const QString kSeconds = QStringLiteral("!90:00:00;1;_");
} // namespace

// What the operator types, key by key, and what the field then holds.
TEST(MaskEdit, TypedKeysGiveTheTextOfTheMask) {
    struct Case {
        QString mask;
        QString keys;
        QString editText; // shown
        QString text;     // read by the program
        bool complete;
    };
    const Case cases[] = {
        {kDate, "", "__/__/____", "  /  /    ", false},          // untouched
        {kDate, "0503", "05/03/____", "05/03/    ", false},      // partial
        {kDate, "05032006", "05/03/2006", "05/03/2006", true},   // full date
        {kDate, "5/3/2006", "5_/3_/2006", " 5/ 3/2006", true},   // optional first digits
        {kDate, "x05a032006", "05/03/2006", "05/03/2006", true}, // refused keys
        {kHour, "9:05", "9_:05", " 9:05", true},                 // optional first hour digit
        {kHour, "0905", "09:05", "09:05", true},
        {kHour, "9", "9_:__", " 9:  ", false},
        {kDateHour, "050320060905", "05/03/2006 09:05", "05/03/2006 09:05", true},
        {kDateHour, "5/3/2006 905", "5_/3_/2006 90:5_", " 5/ 3/2006 90:5 ", false},
        {kYear, "2026", "2026", "2026", true},
        {kYear, "20", "20__", "20  ", false}, // required digits never shift
        {kSeconds, "235959", "23:59:59", "23:59:59", true},
        {kSeconds, "7:30:00", "7_:30:00", " 7:30:00", true},
        // literals left out of the text, two of them side by side
        {QStringLiteral("!(00) 0000-0000;0;_"), "1133334444", "(11) 3333-4444", "1133334444", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE((c.mask + " keys=" + c.keys).toStdString());
        MaskEdit ed(c.mask);
        QTest::keyClicks(&ed, c.keys);
        EXPECT_EQ(ed.editText(), c.editText);
        EXPECT_EQ(ed.text(), c.text);
        EXPECT_EQ(ed.isComplete(), c.complete);
        EXPECT_EQ(ed.isBlank(), c.keys.isEmpty());
    }
}

TEST(MaskEdit, BackspaceAndDeleteClearWithoutShifting) {
    MaskEdit ed(kDate);
    QTest::keyClicks(&ed, "05032006");
    QTest::keyClick(&ed, Qt::Key_Backspace); // cursor at end: clears the last year digit
    EXPECT_EQ(ed.editText(), "05/03/200_");
    ed.setCursorPosition(3);
    QTest::keyClick(&ed, Qt::Key_Delete);
    EXPECT_EQ(ed.editText(), "05/_3/200_");
    ed.selectAll();
    QTest::keyClick(&ed, Qt::Key_Backspace);
    EXPECT_EQ(ed.text(), "  /  /    ");

    // Text that arrives without a key press (context-menu paste, a drop)
    // is put back into the mask's shape.
    ed.selectAll();
    ed.QLineEdit::insert("25/12/2026");
    EXPECT_EQ(ed.editText(), "25/12/2026");
    ed.QLineEdit::setText("ab12");
    EXPECT_EQ(ed.editText().size(), 10);
    EXPECT_EQ(ed.text(), "12/  /    ");
}

// Stored or program-set text shown through the mask, and read back.
TEST(EditMask, TextFromElsewhereAndReadings) {
    struct Case {
        QString mask;
        QString in;
        QString editText;
        QString text;
    };
    const Case cases[] = {
        {kHour, "9:05", "_9:05", " 9:05"},
        {kHour, "09:05", "09:05", "09:05"},
        {kHour, "", "__:__", "  :  "},
        {kDate, "05/03/2006", "05/03/2006", "05/03/2006"},
        {kDate, "5/3/2006", "_5/_3/2006", " 5/ 3/2006"},
        {kDate, "  /  /    ", "__/__/____", "  /  /    "},
        {kDateHour, "05/03/2006 09:05", "05/03/2006 09:05", "05/03/2006 09:05"},
        {QStringLiteral("!90:00;0;_"), "0905", "09:05", "0905"}, // literals not kept
    };
    for (const Case& c : cases) {
        SCOPED_TRACE((c.mask + " in=" + c.in).toStdString());
        EditMask m(c.mask);
        EXPECT_EQ(m.toEditText(c.in), c.editText);
        EXPECT_EQ(m.toText(m.toEditText(c.in)), c.text);
    }
    EXPECT_EQ(EditMask(kDate).emptyText(), "  /  /    ");
    EXPECT_EQ(EditMask(kHour).blank(), QChar('_'));

    EXPECT_EQ(readMaskedTime(" 9:05"), QTime(9, 5));
    EXPECT_EQ(readMaskedTime("9:05"), QTime(9, 5));
    EXPECT_EQ(normalizedHourMinute(" 9:05"), QString("09:05"));
    EXPECT_EQ(readMaskedTime(" 7:30:15"), QTime(7, 30, 15));
    EXPECT_EQ(readMaskedDate(" 5/ 3/2006"), QDate(2006, 3, 5));
    EXPECT_EQ(readMaskedDateTime("05/03/2006 09:05"), QDateTime(QDate(2006, 3, 5), QTime(9, 5)));
    for (const QString& bad : QStringList{"  :  ", "24:00", "9: 5", "12:60"})
        EXPECT_FALSE(readMaskedTime(bad)) << bad.toStdString();
    for (const QString& bad : QStringList{"  /  /    ", "31/02/2006", "05/03/    ", "05/03/06"})
        EXPECT_FALSE(readMaskedDate(bad)) << bad.toStdString();
    EXPECT_FALSE(readMaskedDateTime("05/03/2006   :  "));
}
