#include "db/data_module.h"
#include "db/location.h"
#include "exchange/layout_engine.h"
#include "test_support.h"

#include <QLocale>
#include <functional>
#include <gtest/gtest.h>
#include <limits>

using namespace keldo;
using namespace keldo::exchange;

namespace {} // namespace

QT_BEGIN_NAMESPACE
inline void PrintTo(const QString& s, std::ostream* os) {
    *os << '"' << s.toStdString() << '"';
}
QT_END_NAMESPACE

namespace {

const Separators kSlashColon{QLatin1Char('/'), QLatin1Char(':')};
const QDateTime kWhen(QDate(2026, 3, 7), QTime(8, 5, 9));

// The layout of the window's example: matricula 6 wide, right-aligned,
// filled with zeros; name 10; company 15; the date as DDMMYYYY.
LayoutRow exampleRow() {
    LayoutRow r;
    r.matriTam = 6;
    r.matriAlign = "D";
    r.matriBrancos = "0";
    r.nomeTam = 10;
    r.empresaTam = 15;
    r.dataFormato = "DDMMYYYY";
    r.conteudo6 = "X";
    r.conteudo7 = "Y";
    r.conteudo8 = "Z";
    return r;
}

// The sample values of the layout window.
PunchValues sampleValues() {
    return {"123456789012", "521", "NOME DO FUNCIONARIO", "NOME DA EMPRESA", kWhen};
}

QString render(const QString& mask, const LayoutRow& row, const PunchValues& v) {
    return BodyRenderer(compileBodyMask(mask), row, kSlashColon).render(v);
}

TEST(LayoutEngine, BodyMasks) {
    using Change = std::function<void(LayoutRow&, PunchValues&)>;
    const Change none = [](LayoutRow&, PunchValues&) {};
    const struct {
        const char* what;
        QString mask;
        Change change;
        QString expected;
    } cases[] = {
        {"the window's example", "1;2;4", none, "000521;NOME DO FU;07032026"},
        {"every field", "<0|1|2|3|4|5|6|7>", none,
         "<123456789012|000521|NOME DO FU|NOME DA EMPRESA|07032026|X|Y|Z>"},
        {"no digits: the first 20 characters", "ABCDEFGHIJKLMNOPQRSTUVWXYZ", none,
         "ABCDEFGHIJKLMNOPQRST"},
        {"11 characters between two digits: the first 10", "1ABCDEFGHIJK2", none,
         "000521ABCDEFGHIJNOME DO FU"},
        {"8 and 9 and what leads up to them vanish", "1-x8+y9=2", none, "000521=NOME DO FU"},
        {"21 field digits: 20 rendered, all with the last literal",
         "5" + QString(",5").repeated(20) + "!", none, QString(",X").repeated(20) + "!"},
        {"a trail of more than 10 characters", "1ABCDEFGHIJKL", none, "000521ABCDEFGHIJ"},
        {"1-1: the matricula twice, each after a hyphen", "1-1", none, "-000521-000521"},
        {"the literal before the last reference wins", "[1]1", none, "[]000521]000521"},
        {"left-aligned filler behind", "1",
         [](LayoutRow& r, PunchValues&) {
             r.matriTam = 8;
             r.matriBrancos = "*";
             r.matriAlign = "E";
         },
         "521*****"},
        {"right-aligned filler in front", "1",
         [](LayoutRow& r, PunchValues&) {
             r.matriTam = 8;
             r.matriBrancos = "*";
         },
         "*****521"},
        {"an alignment other than E is right", "1",
         [](LayoutRow& r, PunchValues&) { r.matriAlign = "x"; }, "000521"},
        {"only the filler's first character counts", "1",
         [](LayoutRow& r, PunchValues&) { r.matriBrancos = "#@"; }, "###521"},
        {"an empty filler is a space", "1", [](LayoutRow& r, PunchValues&) { r.matriBrancos = ""; },
         "   521"},
        {"width 25 gives a 20-character column", "1",
         [](LayoutRow& r, PunchValues&) { r.matriTam = 25; }, "00000000000000000000"},
        {"a long matricula is cut on the right, aligned right", "1",
         [](LayoutRow& r, PunchValues& v) {
             r.matriTam = 4;
             v.matricula = "123456789";
         },
         "1234"},
        {"a long matricula is cut on the right, aligned left", "1",
         [](LayoutRow& r, PunchValues& v) {
             r.matriTam = 4;
             r.matriAlign = "E";
             v.matricula = "123456789";
         },
         "1234"},
        {"a matricula beyond 20 characters", "1",
         [](LayoutRow& r, PunchValues& v) {
             r.matriTam = 30;
             r.matriAlign = "E";
             v.matricula = "ABCDEFGHIJKLMNOPQRSTUVWXY";
         },
         "ABCDEFGHIJKLMNOPQRST"},
        {"a short name is padded with spaces", "2|",
         [](LayoutRow& r, PunchValues& v) {
             r.nomeTam = 40;
             v.name = "MARIA";
         },
         "MARIA" + QString(35, ' ') + "|"},
        {"names and companies stop at 50", "2|3",
         [](LayoutRow& r, PunchValues& v) {
             r.nomeTam = 60;
             r.empresaTam = 60;
             v.name = QString(55, 'N');
         },
         QString(50, 'N') + "|NOME DA EMPRESA" + QString(35, ' ')},
        {"the employee code stops at 12", "0",
         [](LayoutRow&, PunchValues& v) { v.employeeCode = "12345678901234"; }, "123456789012"},
        {"width 0 renders only the literal", "[1]",
         [](LayoutRow& r, PunchValues&) { r.matriTam = 0; }, "[]"},
        {"a negative width is width 0", "[2]", [](LayoutRow& r, PunchValues&) { r.nomeTam = -5; },
         "[]"},
        {"only the first 80 characters of the mask count", QString(80, '-') + "1", none,
         QString(20, '-')},
        {"the line stops at 250", "2222222",
         [](LayoutRow& r, PunchValues& v) {
             r.nomeTam = 50;
             v.name = QString(50, 'A');
         },
         QString(250, 'A')},
        // A stored width may be anything: it never costs more than the
        // column it fills.
        {"huge widths, left-aligned: the capacities", "1|2|3",
         [](LayoutRow& r, PunchValues&) {
             r.matriTam = r.nomeTam = r.empresaTam = std::numeric_limits<int>::max();
             r.matriAlign = "E";
         },
         "521" + QString(17, '0') + "|NOME DO FUNCIONARIO" + QString(31, ' ') + "|NOME DA EMPRESA" +
             QString(35, ' ')},
        {"a huge width, right-aligned: filler only, as width 25", "1",
         [](LayoutRow& r, PunchValues&) { r.matriTam = 100'000'000; }, QString(20, '0')},
        {"a huge date pattern: what the line holds", "[4",
         [](LayoutRow& r, PunchValues&) { r.dataFormato = QString(1'000'000, 'D'); },
         "[" + QString("07").repeated(124) + "0"},
        {"fixed columns as stored, cut only by the line", "5",
         [](LayoutRow& r, PunchValues&) { r.conteudo6 = QString(260, 'c'); }, QString(250, 'c')},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        LayoutRow row = exampleRow();
        PunchValues v = sampleValues();
        c.change(row, v);
        EXPECT_EQ(render(c.mask, row, v), c.expected);
    }
}

TEST(LayoutEngine, CompiledMaskKeepsItsParts) {
    const CompiledMask m = compileBodyMask("ab1-2+8x9tail");
    EXPECT_EQ(m.lead, "ab");
    EXPECT_EQ(m.literals[2], "-");
    EXPECT_EQ(m.fields, (QList<int>{1, 2, 8, 9}));
    EXPECT_EQ(m.trail, "tail");
    // Without the row's date pattern read once, the plain function agrees.
    LayoutRow row = exampleRow();
    QLocale::setDefault(QLocale(QLocale::Portuguese, QLocale::Brazil));
    EXPECT_EQ(renderBodyLine(m, row, sampleValues()), "ab000521-NOME DO FUtail");
}

TEST(LayoutEngine, DatePatterns) {
    const struct {
        const char* pattern;
        Separators sep;
        QDateTime when;
        const char* expected;
    } cases[] = {
        {"DDMMYYYY HHMMSS", kSlashColon, kWhen, "07032026 080509"},
        {"D/M/YY", kSlashColon, kWhen, "7/3/26"},
        {"HH:MM", kSlashColon, kWhen, "08:05"},
        {"H:N:S", kSlashColon, kWhen, "8:5:9"},
        {"HHNNSS", kSlashColon, kWhen, "080509"},
        {"hh:mm dd/mm/yyyy", kSlashColon, kWhen, "08:05 07/03/2026"},
        // Another letter between the hour and M makes it the month again.
        {"HH X MM", kSlashColon, kWhen, "08 X 03"},
        {"HHMM MM", kSlashColon, kWhen, "0805 03"},
        {"YYYY-MM-DD", kSlashColon, kWhen, "2026-03-07"},
        {"DD/MM HH:NN", {QLatin1Char('.'), QLatin1Char('-')}, kWhen, "07.03 08-05"},
        {"DD/MM/YYYY", kSlashColon, QDateTime(QDate(905, 12, 31), QTime(23, 59)), "31/12/0905"},
        {"HH", kSlashColon, QDateTime(QDate(2026, 1, 1), QTime(0, 0)), "00"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pattern);
        EXPECT_EQ(formatDateTime(c.pattern, c.when, c.sep), c.expected);
    }
}

TEST(LayoutEngine, EmptyPatternAndSeparatorsFollowTheLocale) {
    const QLocale before;
    QLocale::setDefault(QLocale(QLocale::Portuguese, QLocale::Brazil));
    const Separators br = Separators::ofLocale();
    EXPECT_EQ(br.date, '/');
    EXPECT_EQ(br.time, ':');
    EXPECT_EQ(formatDateTime("", kWhen), "07/03/2026 08:05:09");
    EXPECT_EQ(formatDateTime("", QDateTime(QDate(2026, 3, 7), QTime(0, 0))), "07/03/2026");
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    EXPECT_EQ(Separators::ofLocale().date, '.');
    EXPECT_EQ(formatDateTime("DD/MM", kWhen), "07.03");
    QLocale::setDefault(before);
}

TEST(LayoutEngine, HeaderCopiesTheMaskReplacingThreeToSeven) {
    LayoutRow row = exampleRow();
    row.empresaTam = 10;
    row.dataFormato = "DDMMYY";
    row.cabecalhoMascara = "0 1 2 3 4 5 6 7 8 9;";
    EXPECT_EQ(renderHeaderLine(row, kWhen, kSlashColon), "0 1 2 CORVALDI S 070326 X Y Z 8 9;");
    row.empresaTam = 35;
    row.cabecalhoMascara = "3|";
    EXPECT_EQ(renderHeaderLine(row, kWhen, kSlashColon), QString(kHeaderCompanyText) + "     |");
    row.empresaTam = 30;
    row.cabecalhoMascara = QString(10, '3');
    EXPECT_EQ(renderHeaderLine(row, kWhen, kSlashColon).size(), kLineLength);
    row.cabecalhoMascara = QString(80, '-') + "3";
    EXPECT_EQ(renderHeaderLine(row, kWhen, kSlashColon), QString(80, '-'));
    row.empresaTam = std::numeric_limits<int>::max();
    row.dataFormato = QString(1'000'000, 'Y');
    row.cabecalhoMascara = "3|4";
    EXPECT_EQ(renderHeaderLine(row, kWhen, kSlashColon),
              QString(kHeaderCompanyText) + QString(20, ' ') + "|" +
                  QString("2026").repeated(50).left(kLineLength - 51));
}

TEST(LayoutEngine, StoredRowIsReadWithEmptyValuesAsZero) {
    keldo::testing::TestDatabase tdb;
    keldo::testing::BoundDataModule bound(tdb);
    db::TDDados& dm = *bound;
    const struct {
        QVariant cabecalho;
        bool header;
    } cases[] = {{QVariant(), true}, {0, true}, {-1, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.cabecalho.toString().toStdString());
        tdb->exec("UPDATE layoutar SET Cabecalho = ?, Matri_tam = NULL, Corpo_mascara = '1;2'",
                  {c.cabecalho});
        dm.tbLayOut->close();
        dm.tbLayOut->open();
        const LayoutRow r = readLayoutRow(*dm.tbLayOut);
        EXPECT_EQ(r.producesHeader(), c.header);
        EXPECT_EQ(r.matriTam, 0);
        EXPECT_EQ(r.nomeTam, 40); // as delivered
        EXPECT_EQ(r.corpoMascara, "1;2");
    }
}

} // namespace
