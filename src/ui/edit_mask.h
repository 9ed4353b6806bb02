#pragma once

// The edit masks of the product's date and time fields, in their own notation:
//
//   "!90/90/0000;1;_"   mask characters ; literals kept in the text (1) or not (0) ; blank
//
//   0  digit, required          9  digit, optional
//   #  digit or sign, optional  L  letter, required    l  letter, optional
//   A  letter or digit, req.    a  letter or digit, optional
//   C  any character, req.      c  any character, optional
//   >  upper case from here     <  lower case from here   <>  case as typed
//   \  the next character is a literal;   any other character is a literal
//   !  (first) the blanks of a section's optional positions lead rather than trail
//
// '0' and '9' mean the opposite of Qt's input masks, which is why the masks are
// not handed to QLineEdit::setInputMask.
//
// Two forms of one value: the edit text, what the field shows, every position
// present and unfilled ones showing the blank character ("__/__/____"); and the
// text, what the program reads and stores, unfilled positions as spaces
// ("  /  /    ", or " 9:05" for "9" typed before the colon of "!90:00").
// No QtWidgets here: the widget (mask_edit.h) sits on top.

#include <QChar>
#include <QDate>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QTime>

#include <optional>

namespace keldo::ui {

class EditMask {
public:
    enum class Kind { Literal, Digit, DigitOrSign, Letter, Alnum, Any };
    enum class Case { AsTyped, Upper, Lower };
    struct Position {
        Kind kind = Kind::Literal;
        bool required = false;
        QChar literal; // Literal only
        Case letterCase = Case::AsTyped;
        int section = -1; // index of the run of non-literal positions; -1 for literals
    };

    EditMask() = default;
    // An empty mask accepts any text unchanged.
    explicit EditMask(const QString& mask);

    bool isNull() const { return positions_.isEmpty(); }
    const QString& source() const { return source_; }
    int length() const { return int(positions_.size()); }
    const Position& at(int i) const { return positions_[i]; }
    bool isLiteral(int i) const { return positions_[i].kind == Kind::Literal; }
    QChar blank() const { return blank_; }
    bool keepsLiterals() const { return keepLiterals_; }
    bool leadingBlanks() const { return leadingBlanks_; }

    // Whether position i takes the character; returns it with the position's
    // case applied, or nothing.
    std::optional<QChar> accept(int i, QChar c) const;

    // The edit text of an untouched field: "__/__/____".
    QString emptyEditText() const;
    // The text of an untouched field: "  /  /    ".
    QString emptyText() const { return toText(emptyEditText()); }

    // Edit text -> text: unfilled positions become spaces; with '!', the
    // characters of a section move right past the blanks of its optional
    // positions ("9_" in "90" reads " 9"); literals are left out when the
    // mask does not keep them.
    QString toText(const QString& editText) const;
    // Text (as stored, or typed elsewhere) -> edit text. Text of the mask's
    // full length is taken position by position; shorter text is split at the
    // mask's literals and each part placed in its section ("9:05" -> "_9:05"
    // under "!90:00"). Characters a position does not take are dropped.
    QString toEditText(const QString& text) const;

    // No position filled.
    bool isBlank(const QString& text) const;
    // Every required position filled (and the optional ones are as they may be).
    bool isComplete(const QString& text) const;

    // The sections of a text, spaces removed: " 9:05" -> {"9", "05"}.
    QStringList sections(const QString& text) const;

private:
    QString source_;
    QList<Position> positions_;
    QChar blank_ = QLatin1Char('_');
    bool keepLiterals_ = true;
    bool leadingBlanks_ = false;
    int sectionCount_ = 0;
};

// Readings of the product's masked texts. Each returns nothing when a required
// part is missing or the value does not exist (31/02/2006, 24:00).
// "05/03/2006", " 5/ 3/2006", "5/3/2006" -> 2006-03-05.
std::optional<QDate> readMaskedDate(const QString& text);
// " 9:05", "9:05", "09:05" -> 09:05; "09:05:30" -> 09:05:30.
std::optional<QTime> readMaskedTime(const QString& text);
// "05/03/2006 09:05".
std::optional<QDateTime> readMaskedDateTime(const QString& text);
// The five-character "HH:MM" that this system keeps for times of day, from a
// masked time text; nothing when the text is not a time.
std::optional<QString> normalizedHourMinute(const QString& text);

} // namespace keldo::ui
