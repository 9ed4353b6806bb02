#include "layout_engine.h"

#include "db/dataset.h"

#include <QLocale>
#include <algorithm>

namespace keldo::exchange {
namespace {

bool isFieldDigit(QChar c) {
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

// Appends as much of `text` as the line still holds.
void appendCut(QString& line, const QString& text) {
    const qsizetype room = kLineLength - line.size();
    if (room > 0)
        line += text.size() <= room ? text : text.left(room);
}

// A negative width behaves as 0 (only the literal), never as "no limit",
// which is what QString::left would make of it.
int width(int w) {
    return std::max(w, 0);
}

// Fields 2 and 3, and the header's company text: space padding behind, or
// cut, then the column's capacity. The width is brought to the capacity
// first: a stored width may be anything, and a column is never built wider
// than it can be written.
QString textColumn(const QString& value, int w) {
    QString s = value.left(kTextColumnLength);
    w = std::min(width(w), kTextColumnLength);
    if (s.size() < w)
        s = s.leftJustified(w, QLatin1Char(' '));
    else
        s.truncate(w);
    s.truncate(kTextColumnLength);
    return s;
}

QChar separatorOf(const QString& format, QChar fallback) {
    bool quoted = false;
    for (QChar c : format) {
        if (c == QLatin1Char('\''))
            quoted = !quoted;
        else if (!quoted && !c.isLetter() && !c.isSpace())
            return c;
    }
    return fallback;
}

// The locale's long time form without the time zone that Qt adds to it.
QString longTimeFormat(const QLocale& loc) {
    QString f = loc.timeFormat(QLocale::LongFormat);
    f.remove(QLatin1Char('t'));
    return f.trimmed();
}

} // namespace

LayoutRow readLayoutRow(db::DataSet& layout) {
    LayoutRow r;
    if (layout.isEmpty())
        return r;
    auto text = [&](const char* name) {
        return layout.fieldByName(QLatin1String(name)).asString();
    };
    auto number = [&](const char* name) {
        return layout.fieldByName(QLatin1String(name)).asInteger();
    };
    r.matriTam = number("Matri_tam");
    r.matriAlign = text("Matri_align");
    r.matriBrancos = text("Matri_brancos");
    r.nomeTam = number("Nome_tam");
    r.empresaTam = number("Empresa_tam");
    r.dataFormato = text("Data_formato");
    r.conteudo6 = text("Conteudo6");
    r.conteudo7 = text("Conteudo7");
    r.conteudo8 = text("Conteudo8");
    r.cabecalho = number("Cabecalho");
    r.cabecalhoMascara = text("Cabecalho_mascara");
    r.corpoMascara = text("Corpo_mascara");
    return r;
}

CompiledMask compileBodyMask(const QString& mask) {
    CompiledMask c;
    const QString m = mask.left(kMaskLength);
    qsizetype i = 0;
    for (; i < m.size() && !isFieldDigit(m[i]); ++i)
        if (c.lead.size() < kLeadLength)
            c.lead += m[i];
    QString pending;
    for (; i < m.size(); ++i) {
        const QChar ch = m[i];
        if (!isFieldDigit(ch)) {
            if (pending.size() < kLiteralLength)
                pending += ch;
            continue;
        }
        const int digit = ch.unicode() - '0';
        // 8 and 9 show nothing, not even the text that led up to them.
        if (digit <= 7)
            c.literals[size_t(digit)] = pending;
        if (c.fields.size() < kMaxFieldRefs)
            c.fields << digit;
        pending.clear();
    }
    c.trail = pending;
    return c;
}

Separators Separators::ofLocale() {
    const QLocale loc;
    return {separatorOf(loc.dateFormat(QLocale::ShortFormat), QLatin1Char('/')),
            separatorOf(loc.timeFormat(QLocale::ShortFormat), QLatin1Char(':'))};
}

DatePattern::DatePattern(const QString& pattern, Separators sep) : empty_(pattern.isEmpty()) {
    auto text = [&](QChar c) {
        if (!pieces_.isEmpty() && pieces_.last().token == Token::Text)
            pieces_.last().text += c;
        else
            pieces_.append({Token::Text, QString(c)});
    };
    // Minutes may be written MM right after an hour, as long as no other
    // letter comes between them.
    bool afterHour = false;
    const qsizetype n = pattern.size();
    for (qsizetype i = 0; i < n;) {
        const QChar c = pattern[i];
        const QChar up = c.toUpper();
        // No token is longer than YYYY: counting further would only make a
        // long run of one letter cost its length at every step.
        qsizetype run = 1;
        while (run < 4 && i + run < n && pattern[i + run].toUpper() == up)
            ++run;
        auto take = [&](Token one, Token two) {
            pieces_.append({run >= 2 ? two : one, {}});
            i += run >= 2 ? 2 : 1;
        };
        if (up == QLatin1Char('D')) {
            take(Token::Day, Token::Day2);
            afterHour = false;
        } else if (up == QLatin1Char('M')) {
            if (afterHour)
                take(Token::Minute, Token::Minute2);
            else
                take(Token::Month, Token::Month2);
            afterHour = false;
        } else if (up == QLatin1Char('Y')) {
            // YYYY is the whole year; Y, YY and YYY the last two digits.
            const bool four = run >= 4;
            pieces_.append({four ? Token::Year4 : Token::Year2, {}});
            i += four ? 4 : run;
            afterHour = false;
        } else if (up == QLatin1Char('H')) {
            take(Token::Hour, Token::Hour2);
            afterHour = true;
        } else if (up == QLatin1Char('N')) {
            take(Token::Minute, Token::Minute2);
            afterHour = false;
        } else if (up == QLatin1Char('S')) {
            take(Token::Second, Token::Second2);
            afterHour = false;
        } else {
            if (c == QLatin1Char('/'))
                text(sep.date);
            else if (c == QLatin1Char(':'))
                text(sep.time);
            else
                text(c);
            if (c.isLetter())
                afterHour = false;
            ++i;
        }
    }
}

QString DatePattern::format(const QDateTime& when, qsizetype limit) const {
    const QDate d = when.date();
    const QTime t = when.time();
    limit = std::max<qsizetype>(limit, 0);
    if (empty_) {
        const QLocale loc;
        QString s = loc.toString(d, QLocale::ShortFormat);
        if (t != QTime(0, 0))
            s += QLatin1Char(' ') + loc.toString(t, longTimeFormat(loc));
        s.truncate(limit);
        return s;
    }
    QString out;
    out.reserve(std::min<qsizetype>(pieces_.size() * 2, limit) + 4);
    auto two = [&](int v) {
        out += QLatin1Char(char('0' + v / 10 % 10));
        out += QLatin1Char(char('0' + v % 10));
    };
    for (const Piece& p : pieces_) {
        if (out.size() >= limit)
            break;
        switch (p.token) {
        case Token::Text:
            out += QStringView(p.text).left(limit - out.size());
            break;
        case Token::Day:
            out += QString::number(d.day());
            break;
        case Token::Day2:
            two(d.day());
            break;
        case Token::Month:
            out += QString::number(d.month());
            break;
        case Token::Month2:
            two(d.month());
            break;
        case Token::Year2:
            two(d.year() % 100);
            break;
        case Token::Year4:
            out += QString::number(d.year()).rightJustified(4, QLatin1Char('0'));
            break;
        case Token::Hour:
            out += QString::number(t.hour());
            break;
        case Token::Hour2:
            two(t.hour());
            break;
        case Token::Minute:
            out += QString::number(t.minute());
            break;
        case Token::Minute2:
            two(t.minute());
            break;
        case Token::Second:
            out += QString::number(t.second());
            break;
        case Token::Second2:
            two(t.second());
            break;
        }
    }
    out.truncate(limit);
    return out;
}

QString formatDateTime(const QString& pattern, const QDateTime& when, Separators separators) {
    return DatePattern(pattern, separators).format(when);
}

BodyRenderer::BodyRenderer(const CompiledMask& mask, const LayoutRow& row, Separators separators)
    : mask_(mask), row_(row), date_(row.dataFormato, separators),
      filler_(row.matriBrancos.isEmpty() ? QLatin1Char(' ') : row.matriBrancos.front()),
      leftAligned_(row.matriAlign == QLatin1String("E")) {}

QString BodyRenderer::render(const PunchValues& v) const {
    QString line;
    line.reserve(128);
    appendCut(line, mask_.lead);
    for (int digit : mask_.fields) {
        if (digit <= 7)
            appendCut(line, mask_.literals[size_t(digit)]);
        switch (digit) {
        case 0:
            appendCut(line, v.employeeCode.left(kCodeLength));
            break;
        case 1: {
            QString m = v.matricula.left(kMatriculaLength);
            // The padded matricula is cut to the column's capacity, so more
            // filler than that capacity never shows: the width is brought
            // down to it before any filler is made.
            const int w = std::min(width(row_.matriTam), int(m.size()) + kMatriculaLength);
            if (m.size() < w) {
                const QString fill(w - m.size(), filler_);
                m = leftAligned_ ? m + fill : fill + m;
            }
            // A matricula wider than its column loses its right end, whatever
            // the alignment.
            m.truncate(kMatriculaLength);
            m.truncate(w);
            appendCut(line, m);
            break;
        }
        case 2:
            appendCut(line, textColumn(v.name, row_.nomeTam));
            break;
        case 3:
            appendCut(line, textColumn(v.companyName, row_.empresaTam));
            break;
        case 4:
            appendCut(line, date_.format(v.dateTime, kLineLength - line.size()));
            break;
        case 5:
            appendCut(line, row_.conteudo6);
            break;
        case 6:
            appendCut(line, row_.conteudo7);
            break;
        case 7:
            appendCut(line, row_.conteudo8);
            break;
        default:
            break; // 8 and 9
        }
    }
    appendCut(line, mask_.trail);
    return line;
}

QString renderBodyLine(const CompiledMask& mask, const LayoutRow& row, const PunchValues& values) {
    return BodyRenderer(mask, row).render(values);
}

QString renderHeaderLine(const LayoutRow& row, const QDateTime& when, Separators separators) {
    QString line;
    const QString mask = row.cabecalhoMascara.left(kMaskLength);
    const DatePattern date(row.dataFormato, separators);
    for (QChar c : mask) {
        switch (c.unicode()) {
        case '3':
            appendCut(line, textColumn(QString::fromLatin1(kHeaderCompanyText), row.empresaTam));
            break;
        case '4':
            appendCut(line, date.format(when, kLineLength - line.size()));
            break;
        case '5':
            appendCut(line, row.conteudo6);
            break;
        case '6':
            appendCut(line, row.conteudo7);
            break;
        case '7':
            appendCut(line, row.conteudo8);
            break;
        default:
            appendCut(line, QString(c));
            break;
        }
    }
    return line;
}

} // namespace keldo::exchange
