#include "ui/edit_mask.h"

#include <QRegularExpression>

#include <algorithm>

namespace keldo::ui {

EditMask::EditMask(const QString& mask) : source_(mask) {
    QString body = mask;
    // The two trailing fields, ";1;_": literals kept, blank character. Only
    // an unescaped ';' separates them.
    auto splitLast = [](QString& s) -> std::optional<QString> {
        for (int i = int(s.size()) - 1; i >= 0; --i) {
            if (s[i] != QLatin1Char(';'))
                continue;
            if (i > 0 && s[i - 1] == QLatin1Char('\\'))
                return std::nullopt;
            QString tail = s.mid(i + 1);
            s.truncate(i);
            return tail;
        }
        return std::nullopt;
    };
    QString copy = body;
    auto last = splitLast(copy);
    if (last) {
        QString copy2 = copy;
        auto middle = splitLast(copy2);
        if (middle) {
            // mask;keep;blank
            keepLiterals_ = middle->trimmed() != QLatin1String("0");
            if (!last->isEmpty())
                blank_ = last->at(0);
            body = copy2;
        } else {
            // mask;keep
            keepLiterals_ = last->trimmed() != QLatin1String("0");
            body = copy;
        }
    }

    Case currentCase = Case::AsTyped;
    bool inSection = false;
    for (int i = 0; i < body.size(); ++i) {
        const QChar c = body[i];
        Position p;
        if (c == QLatin1Char('!') && i == 0) {
            leadingBlanks_ = true;
            continue;
        }
        if (c == QLatin1Char('>')) {
            currentCase = Case::Upper;
            continue;
        }
        if (c == QLatin1Char('<')) {
            if (i + 1 < body.size() && body[i + 1] == QLatin1Char('>')) {
                ++i;
                currentCase = Case::AsTyped;
            } else {
                currentCase = Case::Lower;
            }
            continue;
        }
        switch (c.unicode()) {
        case '0':
            p.kind = Kind::Digit;
            p.required = true;
            break;
        case '9':
            p.kind = Kind::Digit;
            break;
        case '#':
            p.kind = Kind::DigitOrSign;
            break;
        case 'L':
            p.kind = Kind::Letter;
            p.required = true;
            break;
        case 'l':
            p.kind = Kind::Letter;
            break;
        case 'A':
            p.kind = Kind::Alnum;
            p.required = true;
            break;
        case 'a':
            p.kind = Kind::Alnum;
            break;
        case 'C':
            p.kind = Kind::Any;
            p.required = true;
            break;
        case 'c':
            p.kind = Kind::Any;
            break;
        case '\\':
            if (i + 1 < body.size())
                ++i;
            p.literal = body[i];
            break;
        default:
            p.literal = c;
            break;
        }
        if (p.kind == Kind::Literal) {
            inSection = false;
        } else {
            if (!inSection)
                ++sectionCount_;
            inSection = true;
            p.section = sectionCount_ - 1;
            p.letterCase = currentCase;
        }
        positions_.push_back(p);
    }
}

std::optional<QChar> EditMask::accept(int i, QChar c) const {
    if (i < 0 || i >= length())
        return std::nullopt;
    const Position& p = positions_[i];
    bool ok = false;
    switch (p.kind) {
    case Kind::Literal:
        return std::nullopt;
    case Kind::Digit:
        ok = c >= QLatin1Char('0') && c <= QLatin1Char('9');
        break;
    case Kind::DigitOrSign:
        ok = (c >= QLatin1Char('0') && c <= QLatin1Char('9')) || c == QLatin1Char('+') ||
             c == QLatin1Char('-');
        break;
    case Kind::Letter:
        ok = c.isLetter();
        break;
    case Kind::Alnum:
        ok = c.isLetterOrNumber();
        break;
    case Kind::Any:
        ok = c.isPrint() && c != blank_;
        break;
    }
    if (!ok)
        return std::nullopt;
    if (p.letterCase == Case::Upper)
        return c.toUpper();
    if (p.letterCase == Case::Lower)
        return c.toLower();
    return c;
}

QString EditMask::emptyEditText() const {
    QString out;
    for (const Position& p : positions_)
        out += p.kind == Kind::Literal ? p.literal : blank_;
    return out;
}

QString EditMask::toText(const QString& editText) const {
    if (isNull())
        return editText;
    // Position by position first; then move each section's characters past
    // the blanks of its optional positions when every character still lands
    // on a position that takes it.
    QString full = toEditText(editText);
    for (int i = 0; i < length(); ++i)
        if (!isLiteral(i) && full[i] == blank_)
            full[i] = QLatin1Char(' ');

    for (int s = 0; s < sectionCount_; ++s) {
        QList<int> idx;
        for (int i = 0; i < length(); ++i)
            if (positions_[i].section == s)
                idx << i;
        QString filled;
        for (int i : idx)
            if (full[i] != QLatin1Char(' '))
                filled += full[i];
        const int blanks = int(idx.size() - filled.size());
        if (blanks == 0 || filled.isEmpty())
            continue;
        QString moved = leadingBlanks_ ? QString(blanks, QLatin1Char(' ')) + filled
                                       : filled + QString(blanks, QLatin1Char(' '));
        bool fits = true;
        for (int k = 0; k < idx.size() && fits; ++k) {
            const Position& p = positions_[idx[k]];
            if (moved[k] == QLatin1Char(' '))
                fits = !p.required;
            else
                fits = accept(idx[k], moved[k]).has_value();
        }
        if (!fits)
            continue;
        for (int k = 0; k < idx.size(); ++k)
            full[idx[k]] = moved[k];
    }
    if (keepLiterals_)
        return full;
    QString out;
    for (int i = 0; i < length(); ++i)
        if (!isLiteral(i))
            out += full[i];
    return out;
}

QString EditMask::toEditText(const QString& text) const {
    if (isNull())
        return text;
    QString out = emptyEditText();
    auto put = [&](int i, QChar c) {
        if (c == QLatin1Char(' ') || c == blank_)
            return;
        if (auto a = accept(i, c))
            out[i] = *a;
    };

    int nonLiterals = 0;
    for (const Position& p : positions_)
        nonLiterals += p.kind != Kind::Literal;

    // The edit text, or the text as this mask writes it with its literals:
    // position by position.
    if (text.size() == length()) {
        bool literalsMatch = true;
        for (int i = 0; i < length() && literalsMatch; ++i)
            if (isLiteral(i))
                literalsMatch = text[i] == positions_[i].literal;
        if (literalsMatch) {
            for (int i = 0; i < length(); ++i)
                if (!isLiteral(i))
                    put(i, text[i]);
            return out;
        }
    }
    if (!keepLiterals_ && text.size() == nonLiterals) {
        int k = 0;
        for (int i = 0; i < length(); ++i)
            if (!isLiteral(i))
                put(i, text[k++]);
        return out;
    }

    // Otherwise split at the literals that separate the sections.
    QList<QList<int>> sectionPositions(sectionCount_);
    QList<QChar> separators; // separators[s]: the literal that ends section s
    for (int i = 0; i < length(); ++i) {
        if (positions_[i].section >= 0) {
            sectionPositions[positions_[i].section] << i;
        } else {
            const int s = i > 0 ? positions_[i - 1].section : -1;
            if (s >= 0 && separators.size() == s)
                separators << positions_[i].literal;
        }
    }
    QStringList parts(sectionCount_);
    int s = 0;
    for (QChar c : text) {
        if (s >= sectionCount_)
            break;
        if (s < separators.size() && c == separators[s]) {
            ++s;
            continue;
        }
        parts[s] += c;
    }
    for (int k = 0; k < sectionCount_; ++k) {
        const QList<int>& idx = sectionPositions[k];
        QString raw = parts[k].trimmed();
        raw.remove(blank_);
        // Keep what some position of the section takes: "ab12" gives "12".
        QString part;
        for (QChar c : raw)
            if (std::any_of(idx.begin(), idx.end(),
                            [&](int i) { return accept(i, c).has_value(); }))
                part += c;
        if (part.size() > idx.size())
            part.truncate(idx.size());
        const int offset = leadingBlanks_ ? int(idx.size() - part.size()) : 0;
        for (int j = 0; j < part.size(); ++j)
            put(idx[offset + j], part[j]);
    }
    return out;
}

bool EditMask::isBlank(const QString& text) const {
    const QString e = toEditText(text);
    for (int i = 0; i < length(); ++i)
        if (!isLiteral(i) && e[i] != blank_)
            return false;
    return true;
}

bool EditMask::isComplete(const QString& text) const {
    // Read through the text form so that a section's characters sit where the
    // mask puts them (" 9" rather than "9_").
    const QString e = toEditText(toText(toEditText(text)));
    for (int i = 0; i < length(); ++i)
        if (positions_[i].required && e[i] == blank_)
            return false;
    return true;
}

QStringList EditMask::sections(const QString& text) const {
    const QString e = toEditText(text);
    QStringList out(sectionCount_);
    for (int i = 0; i < length(); ++i)
        if (positions_[i].section >= 0 && e[i] != blank_)
            out[positions_[i].section] += e[i];
    return out;
}

// ---- readings -------------------------------------------------------------

namespace {

const QRegularExpression& dateRe() {
    static const QRegularExpression re(
        QStringLiteral("^\\s*(\\d{1,2})\\s*/\\s*(\\d{1,2})\\s*/(\\d{4})"));
    return re;
}

std::optional<QTime> timeFrom(const QString& text) {
    static const QRegularExpression re(
        QStringLiteral("^\\s*(\\d{1,2})\\s*:(\\d{2})(?::(\\d{2}))?\\s*$"));
    const auto m = re.match(text);
    if (!m.hasMatch())
        return std::nullopt;
    QTime t(m.captured(1).toInt(), m.captured(2).toInt(),
            m.captured(3).isEmpty() ? 0 : m.captured(3).toInt());
    if (!t.isValid())
        return std::nullopt;
    return t;
}

} // namespace

std::optional<QDate> readMaskedDate(const QString& text) {
    const auto m = dateRe().match(text);
    if (!m.hasMatch() || !text.mid(m.capturedEnd()).trimmed().isEmpty())
        return std::nullopt;
    QDate d(m.captured(3).toInt(), m.captured(2).toInt(), m.captured(1).toInt());
    if (!d.isValid())
        return std::nullopt;
    return d;
}

std::optional<QTime> readMaskedTime(const QString& text) {
    return timeFrom(text);
}

std::optional<QDateTime> readMaskedDateTime(const QString& text) {
    const auto m = dateRe().match(text);
    if (!m.hasMatch())
        return std::nullopt;
    const QString rest = text.mid(m.capturedEnd());
    if (rest.isEmpty() || rest[0] != QLatin1Char(' '))
        return std::nullopt;
    QDate d(m.captured(3).toInt(), m.captured(2).toInt(), m.captured(1).toInt());
    auto t = timeFrom(rest);
    if (!d.isValid() || !t)
        return std::nullopt;
    return QDateTime(d, *t);
}

std::optional<QString> normalizedHourMinute(const QString& text) {
    auto t = timeFrom(text);
    if (!t)
        return std::nullopt;
    return t->toString(QStringLiteral("HH:mm"));
}

} // namespace keldo::ui
