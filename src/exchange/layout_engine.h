// The output layout: how one punch becomes one line of the payroll file.
//
// The operator describes the line once, in the single row of `layoutar`: a
// body mask that places numbered fields and literal characters, the width,
// alignment and filler of the fields, a date pattern, three fixed columns and
// an optional header mask. The same three operations render the samples of
// the layout window and every line of the punch export:
//
//   LayoutRow row = readLayoutRow(*dm.tbLayOut);
//   CompiledMask mask = compileBodyMask(row.corpoMascara);
//   if (row.producesHeader()) write(renderHeaderLine(row, started));
//   for (each punch) write(renderBodyLine(mask, row, values));
//
// Field digits of the masks: 0 employee code, 1 matricula, 2 name, 3 company
// name, 4 date and time, 5 6 7 the fixed columns (stored in Conteudo6,
// Conteudo7, Conteudo8: one higher than their digit), 8 and 9 nothing.
//
// Plain Qt Core: no widgets, so keldoctl, the tests and the benchmark call it.
#pragma once

#include <QChar>
#include <QDateTime>
#include <QList>
#include <QString>
#include <array>
#include <limits>

namespace keldo::db {
class DataSet;
}

namespace keldo::exchange {

// Capacities of the rendering, in characters.
inline constexpr int kMaskLength = 80;       // of the body and the header mask
inline constexpr int kLeadLength = 20;       // text before the first field digit
inline constexpr int kLiteralLength = 10;    // text before a field, and after the last
inline constexpr int kMaxFieldRefs = 20;     // field digits rendered from one body mask
inline constexpr int kCodeLength = 12;       // employee code
inline constexpr int kMatriculaLength = 20;  // matricula column
inline constexpr int kTextColumnLength = 50; // name and company name columns
inline constexpr int kLineLength = 250;      // a whole line, body or header

// What field 3 of the header shows, brought to the company width.
inline constexpr const char* kHeaderCompanyText = "CORVALDI SISTEMAS INTELIGENTES";

// The one row of `layoutar`, as the renderer reads it. Empty stored widths
// read as 0, an empty Cabecalho as 0 (a header is produced).
struct LayoutRow {
    int matriTam = 0;
    QString matriAlign;   // "E": left-aligned, filler behind; anything else: right
    QString matriBrancos; // its first character is the filler; empty: a space
    int nomeTam = 0;
    int empresaTam = 0;
    QString dataFormato;
    QString conteudo6, conteudo7, conteudo8; // fixed columns 5, 6, 7
    int cabecalho = 0;                       // 0 checked, -1 unchecked
    QString cabecalhoMascara;
    QString corpoMascara;

    bool producesHeader() const { return cabecalho >= 0; }
};

// The current row of a dataset over `layoutar` (the data module's tbLayOut).
// A dataset without a row gives the defaults above. Throws db::DbError.
LayoutRow readLayoutRow(db::DataSet& layout);

// A body mask taken apart. A field has one literal: when a digit appears
// twice, both places use the literal that stood before its last reference.
struct CompiledMask {
    QString lead;                    // at most kLeadLength
    std::array<QString, 8> literals; // per field digit 0-7, at most kLiteralLength
    QList<int> fields;               // digits 0-9 in mask order, at most kMaxFieldRefs
    QString trail;                   // at most kLiteralLength
};

CompiledMask compileBodyMask(const QString& mask);

// The values of one exported punch; each is cut to its capacity when rendered.
struct PunchValues {
    QString employeeCode;
    QString matricula;
    QString name;
    QString companyName;
    QDateTime dateTime;
};

// The date and time separators that "/" and ":" of a date pattern stand for.
struct Separators {
    QChar date = QLatin1Char('/');
    QChar time = QLatin1Char(':');
    // Those of the locale in use (QLocale()), read off its short formats:
    // "/" and ":" for pt_BR.
    static Separators ofLocale();
};

// A date pattern, read once and applied to many date-times. Tokens, without
// regard to case: D DD day, M MM month (minutes when they follow an hour
// token with no other letter in between), YY YYYY year, H HH hour 0-23,
// N NN minutes, S SS seconds; "/" and ":" are the separators; any other
// character stands for itself. An empty pattern gives the locale's short
// date and its long time, the time left out at exactly midnight.
class DatePattern {
public:
    explicit DatePattern(const QString& pattern, Separators separators = Separators::ofLocale());
    // At most `limit` characters: a line holds no more than kLineLength, so
    // the renderer asks only for what still fits.
    QString format(const QDateTime& when,
                   qsizetype limit = std::numeric_limits<qsizetype>::max()) const;

private:
    enum class Token : quint8 {
        Text,
        Day,
        Day2,
        Month,
        Month2,
        Year2,
        Year4,
        Hour,
        Hour2,
        Minute,
        Minute2,
        Second,
        Second2
    };
    struct Piece {
        Token token;
        QString text; // for Text
    };
    QList<Piece> pieces_;
    bool empty_ = false;
};

// Formats `when` with a date pattern (see DatePattern).
QString formatDateTime(const QString& pattern, const QDateTime& when,
                       Separators separators = Separators::ofLocale());

// One body line of at most kLineLength characters. A width of 0 renders only
// the field's literal. Widths beyond a column's capacity render as the
// capacity allows, and cost no more than it: a stored width of any size is
// safe.
QString renderBodyLine(const CompiledMask& mask, const LayoutRow& row, const PunchValues& values);

// The same with the row's date pattern read once, for long exports.
class BodyRenderer {
public:
    BodyRenderer(const CompiledMask& mask, const LayoutRow& row,
                 Separators separators = Separators::ofLocale());
    QString render(const PunchValues& values) const;

private:
    CompiledMask mask_;
    LayoutRow row_;
    DatePattern date_;
    QChar filler_;
    bool leftAligned_;
};

// The header line of at most kLineLength characters, copied from the first
// kMaskLength characters of Cabecalho_mascara character by character, with
// 3, 4, 5, 6 and 7 replaced by their texts and every other character kept.
QString renderHeaderLine(const LayoutRow& row, const QDateTime& when,
                         Separators separators = Separators::ofLocale());

} // namespace keldo::exchange
