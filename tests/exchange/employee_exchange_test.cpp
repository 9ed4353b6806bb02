#include "../db/test_support.h"
#include "db/data_module.h"
#include "db/location.h"
#include "exchange/employee_exchange.h"
#include "platform/ini_file.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QSqlQuery>
#include <climits>
#include <gtest/gtest.h>

using namespace keldo;
using namespace keldo::exchange;

namespace {

// The data module bound to a fresh database, as the windows find it.
class EmployeeExchange : public ::testing::Test {
protected:
    EmployeeExchange() {
        dm.tellOperator = [this](const QString& text) { told << text; };
    }

    void addCompany(int codigo, const QString& nome) {
        tdb->exec("insert into empresa (codigo, nome) values (?, ?)", {codigo, nome});
    }
    void addEmployee(const QString& matricula, const QString& codigo, const QString& nome,
                     const QVariant& empresa = QVariant()) {
        tdb->exec("insert into funciona (matricula, codigo, nome, empresa, acesso) "
                  "values (?, ?, ?, ?, 0)",
                  {matricula, codigo, nome, empresa});
    }
    // matricula|codigo|nome of every employee, sorted (engines differ in
    // the order they return rows).
    QStringList employees() {
        QStringList rows;
        QSqlQuery q = tdb->exec("select matricula, codigo, nome, acesso from funciona");
        while (q.next())
            rows << QStringList{q.value(0).toString(), q.value(1).toString(), q.value(2).toString(),
                                q.value(3).toString()}
                        .join(QLatin1Char('|'));
        rows.sort();
        return rows;
    }
    QString path(const QString& name) const { return QDir(tdb.root()).filePath(name); }
    QByteArray read(const QString& name) const {
        QFile f(path(name));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
    }
    void write(const QString& name, const QByteArray& bytes) const {
        QFile f(path(name));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }
    // Lines of an export file, sorted; every line must end in CR LF.
    QList<QByteArray> exportedLines(const QString& name) const {
        QByteArray bytes = read(name);
        EXPECT_TRUE(bytes.isEmpty() || bytes.endsWith("\r\n"));
        QList<QByteArray> lines = bytes.split('\n');
        lines.removeLast();
        for (QByteArray& l : lines) {
            EXPECT_TRUE(l.endsWith('\r'));
            l.chop(1);
        }
        std::sort(lines.begin(), lines.end());
        return lines;
    }

    keldo::testing::TestDatabase tdb;
    keldo::testing::BoundDataModule bound{tdb};
    db::TDDados& dm = *bound;
    QStringList told;
};

QByteArray pad(QByteArray s, int width) {
    s.resize(width, ' ');
    return s;
}

TEST(EmployeeExportLine, ColumnsAreCutOrPaddedToTheirWidths) {
    const struct {
        const char* what;
        QString matricula, codigo, nome;
        QByteArray expected;
    } cases[] = {
        {"a 25-character matricula keeps its first 20", "1234567890123456789012345", "7", "Ana",
         "12345678901234567890" + pad("7", 20) + pad("Ana", 70)},
        {"a 10-character name is followed by 60 spaces", "1", "2", "Maria Lima",
         pad("1", 20) + pad("2", 20) + "Maria Lima" + QByteArray(60, ' ')},
        {"a long name is cut at 70", "1", "2", QString(80, QLatin1Char('x')),
         pad("1", 20) + pad("2", 20) + QByteArray(70, 'x')},
        {"accents take one byte of Windows-1252", QString::fromUtf8("Ç1"), "2",
         QString::fromUtf8("João"),
         pad("\xC7"
             "1",
             20) +
             pad("2", 20) + pad("Jo\xE3o", 70)},
        {"what Windows-1252 cannot hold is a question mark", "1", "2", QString::fromUtf8("Ωmega 😀"),
         pad("1", 20) + pad("2", 20) + pad("?mega ?", 70)},
        {"a line break inside a value does not split the line", "1", "2", "Ana\r\nLima",
         pad("1", 20) + pad("2", 20) + pad("Ana  Lima", 70)},
        {"empty values are spaces", "", "", "", QByteArray(110, ' ')},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string line = employeeExportLine(c.matricula, c.codigo, c.nome);
        EXPECT_EQ(line.size(), std::size_t(kEmployeeLineLength));
        EXPECT_EQ(QByteArray::fromStdString(line), c.expected);
    }
}

TEST(EmployeeExportLine, FileNameWithoutExtensionGetsTxt) {
    const struct {
        const char* chosen;
        const char* expected;
    } cases[] = {{"/tmp/func", "/tmp/func.txt"},
                 {"/tmp/func.dat", "/tmp/func.dat"},
                 {"/tmp/func.TXT", "/tmp/func.TXT"},
                 {"/tmp/dados.old/func", "/tmp/dados.old/func.txt"}};
    for (const auto& c : cases)
        EXPECT_EQ(exportFileName(QString::fromUtf8(c.chosen)), QString::fromUtf8(c.expected));
}

TEST_F(EmployeeExchange, ExportFiltersOnTheChosenCompany) {
    addCompany(1, "Alfa");
    addCompany(2, "Beta");
    addEmployee("10", "100", "Ana", 1);
    addEmployee("20", "200", "Bruno", 2);
    addEmployee("30", "300", "Carla", 2);
    addEmployee("40", "400", "Davi");
    const QByteArray ana = pad("10", 20) + pad("100", 20) + pad("Ana", 70);
    const QByteArray bruno = pad("20", 20) + pad("200", 20) + pad("Bruno", 70);
    const QByteArray carla = pad("30", 20) + pad("300", 20) + pad("Carla", 70);
    const QByteArray davi = pad("40", 20) + pad("400", 20) + pad("Davi", 70);
    const struct {
        const char* company;
        QList<QByteArray> expected;
    } cases[] = {{"Todas", {ana, bruno, carla, davi}},
                 {"Beta", {bruno, carla}},
                 {"Alfa", {ana}},
                 {"Nenhuma", {ana, bruno, carla, davi}}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.company);
        QList<QPair<int, int>> steps;
        const int n =
            exportEmployees(dm, QString::fromUtf8(c.company), path("func"),
                            [&](int count, int total) { steps << qMakePair(count, total); });
        EXPECT_EQ(n, c.expected.size());
        EXPECT_EQ(exportedLines("func.txt"), c.expected);
        ASSERT_EQ(steps.size(), n);
        EXPECT_EQ(steps.last(), qMakePair(n, n));
    }
}

TEST_F(EmployeeExchange, FailedExportLeavesTheOldFileAndNamesTheFile) {
    write("func.txt", "antigo");
    tdb->exec("drop table funciona");
    EXPECT_THROW(exportEmployees(dm, "Todas", path("func.txt")), db::DbError);
    EXPECT_EQ(read("func.txt"), "antigo");

    const QString missing = path("sem/pasta/func.txt");
    try {
        exportEmployees(dm, "Todas", missing);
        FAIL() << "exported into a missing folder";
    } catch (const ExchangeError& e) {
        EXPECT_TRUE(e.text().contains(missing)) << e.text().toStdString();
    }
}

TEST_F(EmployeeExchange, ExportReadsBackCompletelyAndOnlyOnce) {
    addEmployee("12345678901234567890", "C-1", QString::fromUtf8("José da Conceição"));
    addEmployee("521", "0521", QString(70, QLatin1Char('N')));
    addEmployee("7", "12345678901234567890", "Ana");
    const QStringList before = employees();
    ASSERT_EQ(exportEmployees(dm, "Todas", path("func.txt")), 3);
    tdb->exec("delete from funciona");

    const ImportColumns columns = parseImportColumns({"41", "70", "1", "20", "21", "20"});
    EXPECT_EQ(importEmployees(dm, columns, path("func.txt")), 3);
    EXPECT_EQ(employees(), before);
    EXPECT_EQ(importEmployees(dm, columns, path("func.txt")), 0);
    EXPECT_EQ(employees(), before);
    EXPECT_EQ(dm.tbFuncs->indexFieldNames(), "Matricula");
}

TEST_F(EmployeeExchange, DefaultSettingsGiveOneCharacterSlices) {
    write("lista.txt", "ABC\r\nxyz\n");
    const ImportColumnTexts texts = readImportSettings(*dm.session().ini);
    EXPECT_EQ(texts, ImportColumnTexts{});
    EXPECT_EQ(importEmployees(dm, parseImportColumns(texts), path("lista.txt")), 2);
    EXPECT_EQ(employees(), (QStringList{"A|A|A|0", "x|x|x|0"}));
}

TEST_F(EmployeeExchange, EmptySliceStopsTheImportAndKeepsWhatCameBefore) {
    addEmployee("1", "1", "Antigo");
    // Matricula in columns 1-3, code 4-6, name from 7.
    write("lista.txt", "1  001Antigo\r\n"
                       "2  002Bia\r\n"
                       "   003Sem matricula\r\n"
                       "4  004Depois\r\n");
    const ImportColumns columns = parseImportColumns({"7", "30", "1", "3", "4", "3"});
    const QString refusal = QString::fromUtf8("Digite uma matrícula para esse colaborador!");
    try {
        importEmployees(dm, columns, path("lista.txt"));
        FAIL() << "an empty matricula was imported";
    } catch (const db::Refusal& e) {
        EXPECT_EQ(e.text(), refusal);
    }
    EXPECT_EQ(told, QStringList{refusal});
    EXPECT_EQ(employees(), (QStringList{"1|1|Antigo|0", "2|002|Bia|0"}));
    EXPECT_EQ(dm.tbFuncs->state(), db::DataSetState::Browse);
}

TEST(EmployeeImportColumns, FirstFieldThatIsNotANumberIsNamed) {
    using T = ImportColumnTexts;
    const struct {
        T texts;
        const char* label; // nullptr: all numbers
        ImportColumns expected;
    } cases[] = {
        {T{"x", "x", "x", "x", "x", "x"}, "Posição do nome", {}},
        {T{"1", "x", "x", "1", "1", "1"}, "Posição da matrícula", {}},
        {T{"1", "x", "1", "1", "", "1"}, "Posição do código", {}},
        {T{"1", "x", "1", "x", "1", "1"}, "Tamanho do nome", {}},
        {T{"1", "1", "1", "2.5", "1", "1"}, "Tamanho da matrícula", {}},
        {T{"1", "1", "1", "1", "1", "99999999999"}, "Tamanho do código", {}},
        {T{" 41 ", "+70", "1", "20", "21", "-3"}, nullptr, {41, 70, 1, 20, 21, -3}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label ? c.label : "numbers");
        try {
            const ImportColumns got = parseImportColumns(c.texts);
            EXPECT_EQ(c.label, nullptr);
            EXPECT_EQ(got.posNome, c.expected.posNome);
            EXPECT_EQ(got.tamNome, c.expected.tamNome);
            EXPECT_EQ(got.posMat, c.expected.posMat);
            EXPECT_EQ(got.tamMat, c.expected.tamMat);
            EXPECT_EQ(got.posCod, c.expected.posCod);
            EXPECT_EQ(got.tamCod, c.expected.tamCod);
        } catch (const ExchangeError& e) {
            ASSERT_NE(c.label, nullptr);
            EXPECT_EQ(e.text(), QString::fromUtf8(c.label) +
                                    QString::fromUtf8(" não é um valor inteiro válido!"));
        }
    }
}

TEST(EmployeeImportColumns, SlicesFollowCopyAndDropTrailingSpaces) {
    const struct {
        int position, size;
        const char* expected;
    } cases[] = {
        {1, 3, "abc"},
        {4, 3, " de"},
        {6, 9, "e  f"},
        {7, 1, ""},
        {100, 5, ""},
        {0, 2, "ab"},
        {-5, 2, "ab"},
        {2, 0, ""},
        {2, -4, ""},
        {INT_MAX, INT_MAX, ""},
        {1, INT_MAX, "abc de  f"},
        {9, 2, "f"},
        {7, 2, ""},
    };
    const std::string_view line = "abc de  f";
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.position << "/" << c.size);
        EXPECT_EQ(sliceColumn(line, c.position, c.size), std::string_view(c.expected));
    }
}

TEST(EmployeeImportColumns, LinesEndInCrLfOrLf) {
    const struct {
        QByteArray file;
        QList<QByteArray> lines;
    } cases[] = {
        {"", {}},
        {"a\r\nb\r\n", {"a", "b"}},
        {"a\nb", {"a", "b"}},
        {"a\r\n\r\nb\r\n", {"a", "", "b"}},
        {"a\rb\n", {"a\rb"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file.toStdString());
        QBuffer buffer;
        buffer.setData(c.file);
        buffer.open(QIODevice::ReadOnly);
        QList<QByteArray> got;
        std::string line;
        while (readImportLine(buffer, line))
            got << QByteArray::fromStdString(line);
        EXPECT_EQ(got, c.lines);
    }
}

TEST_F(EmployeeExchange, SettingsAreWrittenAsTyped) {
    const ImportColumnTexts typed{"abc", "", "7 x", QString::fromUtf8("dez é"), "41", "-1"};
    writeImportSettings(*dm.session().ini, typed);
    platform::IniFile again("KELDO32.INI");
    EXPECT_EQ(readImportSettings(again), typed);
    EXPECT_EQ(again.readString("CORDENADAS", "POScod", "?"), "41");
}

} // namespace
