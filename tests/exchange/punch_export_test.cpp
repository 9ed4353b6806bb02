#include "../cli/run_keldoctl.h"
#include "db/data_module.h"
#include "db/location.h"
#include "exchange/punch_export.h"
#include "platform/ini_file.h"
#include "platform/paths.h"
#include "test_support.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace keldo;
using namespace keldo::exchange;

namespace {

const Separators kSlashColon{QLatin1Char('/'), QLatin1Char(':')};
const QDate kFrom(2026, 3, 1), kTo(2026, 3, 31);
const QString kLongMatricula = "123456789012345";        // 15 characters
const QString kLongName = QString(45, QLatin1Char('N')); // 45 characters

QByteArray readAll(const QString& file) {
    QFile f(file);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Two companies and four employees: Ana and Bruno of their companies, one
// of a company code that matches no company (a long matricula and name),
// one with a name Windows-1252 cannot hold entirely. Each punches on the
// first and the last day of March and once outside it on either side.
class PunchExportTest : public ::testing::Test {
protected:
    keldo::testing::TestDatabase tdb;
    keldo::testing::BoundDataModule dm{tdb};
    QTemporaryDir out;

    void SetUp() override {
        tdb->exec("INSERT INTO empresa (codigo, nome) VALUES (1, 'Alfa'), (2, 'Beta')");
        const struct {
            QString matricula, nome;
            int empresa;
            QString codigo;
        } employees[] = {{"101", "Ana", 1, "C-101"},
                         {"102", "Bruno", 2, "C-102"},
                         {kLongMatricula, kLongName, 9, "C-103"},
                         {"104", QString::fromUtf8("Ação Łukasz"), 1, "C-104"}};
        for (const auto& e : employees) {
            tdb->exec("INSERT INTO funciona (matricula, nome, empresa, codigo) VALUES (?, ?, ?, ?)",
                      {e.matricula, e.nome, e.empresa, e.codigo});
            for (QDate d : {kFrom.addDays(-1), kFrom, kTo, kTo.addDays(1)})
                tdb->exec("INSERT INTO registro (matricula, data, hora) VALUES (?, ?, ?)",
                          {e.matricula, d, QTime(7, 5, 30)});
        }
    }

    void setLayout(const QString& body, int cabecalho = -1, const QString& header = {}) {
        tdb->exec("UPDATE layoutar SET Corpo_mascara = ?, Cabecalho = ?, Cabecalho_mascara = ?, "
                  "Data_formato = 'DD/MM/YYYY HH:NN', Matri_tam = 4, Nome_tam = 5, "
                  "Empresa_tam = 4",
                  {body, cabecalho, header});
        dm->tbLayOut->close();
    }

    PunchExportJob job(ExportMode mode, const QString& name, ExportFilters f = {}) {
        PunchExportJob j;
        j.mode = mode;
        j.from = kFrom;
        j.to = kTo;
        j.filters = f;
        j.fileName = out.filePath(name);
        j.separators = kSlashColon;
        j.started = QDateTime(QDate(2026, 4, 2), QTime(8, 5, 9));
        return j;
    }
};

QByteArray record(const char* date, const char* time, const QByteArray& mat, const QByteArray& name,
                  const QByteArray& company) {
    auto item = [](const QByteArray& text, int size) {
        return char(text.size()) + text + QByteArray(size - text.size(), ' ');
    };
    return item(date, 10) + item(time, 5) + item(mat, 10) + item(name, 40) + item("0000", 4) +
           item(company, 30);
}

TEST_F(PunchExportTest, FixedRecordsHoldTheItemsInTheirSlots) {
    const PunchExportResult r = exportPunches(*dm, job(ExportMode::FixedRecord, "pontos"));
    EXPECT_EQ(r.fileName, out.filePath("pontos.pto"));
    EXPECT_EQ(r.exported, 8); // start and end day of four employees
    EXPECT_EQ(r.rows, 8);
    const QByteArray file = readAll(r.fileName);
    ASSERT_EQ(file.size(), 8 * pto::kRecordSize);

    QList<QByteArray> records;
    for (int i = 0; i < 8; ++i)
        records << file.mid(i * pto::kRecordSize, pto::kRecordSize);
    // The engine returns the rows in an order of its own.
    const QList<QByteArray> expected = {
        record("2026/03/01", "07:05", "101", "Ana", "Alfa"),
        record("2026/03/31", "07:05", "101", "Ana", "Alfa"),
        record("2026/03/01", "07:05", "102", "Bruno", "Beta"),
        record("2026/03/31", "07:05", "102", "Bruno", "Beta"),
        record("2026/03/01", "07:05", "1234567890", QByteArray(40, 'N'), ""),
        record("2026/03/31", "07:05", "1234567890", QByteArray(40, 'N'), ""),
        record("2026/03/01", "07:05", "104", "A\xE7\xE3o ?ukasz", "Alfa"),
        record("2026/03/31", "07:05", "104", "A\xE7\xE3o ?ukasz", "Alfa"),
    };
    for (const QByteArray& e : expected)
        EXPECT_TRUE(records.contains(e)) << e.toHex().toStdString();
}

TEST_F(PunchExportTest, LayoutLinesWithHeaderCrLfAndWindows1252) {
    setLayout("0|1|2|3|4", 0, "H1-4-3");
    const PunchExportResult r = exportPunches(
        *dm, job(ExportMode::Layout, "linhas", resolveExportFilters(*dm, "Todas", "Todos")));
    EXPECT_EQ(r.fileName, out.filePath("linhas.txt"));
    EXPECT_EQ(r.exported, 8);
    QList<QByteArray> lines = readAll(r.fileName).split('\n');
    ASSERT_EQ(lines.size(), 10); // header, 8 punches, nothing after the last CR LF
    EXPECT_EQ(lines.takeLast(), "");
    for (const QByteArray& l : lines)
        EXPECT_TRUE(l.endsWith('\r')) << l.toStdString();
    // Once, first, with the time the export started.
    EXPECT_EQ(lines.takeFirst(), "H1-02/04/2026 08:05-CORV\r");
    for (const char* l :
         {"C-101|0101|Ana  |Alfa|01/03/2026 07:05\r", "C-101|0101|Ana  |Alfa|31/03/2026 07:05\r",
          "C-102|0102|Bruno|Beta|01/03/2026 07:05\r", "C-103|1234|NNNNN|    |31/03/2026 07:05\r",
          "C-104|0104|A\xE7\xE3o |Alfa|01/03/2026 07:05\r"})
        EXPECT_TRUE(lines.contains(l)) << l;

    setLayout("1", -1);
    EXPECT_EQ(readAll(exportPunches(*dm, job(ExportMode::Layout, "linhas")).fileName),
              "0101\r\n0101\r\n0102\r\n0102\r\n1234\r\n1234\r\n0104\r\n0104\r\n")
        << "no header with Cabecalho -1";
}

// Widths far beyond the columns (a damaged or hostile layout row) export at
// the columns' capacities: 20 for the matricula, 50 for name and company.
TEST_F(PunchExportTest, HugeStoredWidthsExportAtTheColumnCapacities) {
    tdb->exec("UPDATE layoutar SET Corpo_mascara = '1|2|3|1', Cabecalho = 0, "
              "Cabecalho_mascara = '<3>', Matri_tam = 100000000, Nome_tam = 100000000, "
              "Empresa_tam = 100000000, Matri_align = 'E', Matri_brancos = '*'");
    dm->tbLayOut->close();
    const PunchExportResult r = exportPunches(
        *dm, job(ExportMode::Layout, "largo.txt", resolveExportFilters(*dm, "Todas", "Ana")));
    EXPECT_EQ(r.exported, 2);
    // Field 1 takes, at both places, the literal before its last reference.
    const QByteArray body = "|101" + QByteArray(17, '*') + "|Ana" + QByteArray(47, ' ') + "|Alfa" +
                            QByteArray(46, ' ') + "|101" + QByteArray(17, '*') + "\r\n";
    EXPECT_EQ(readAll(r.fileName),
              "<CORVALDI SISTEMAS INTELIGENTES" + QByteArray(20, ' ') + ">\r\n" + body + body);
}

TEST_F(PunchExportTest, FiltersAndTheirProgress) {
    const struct {
        const char* company;
        const char* employee;
        qint64 exported;
    } cases[] = {
        {"Todas", "Todos", 8},
        {"Alfa", "Todos", 4},    // Ana and Ação; the others' rows are not counted
        {"Todas", "Ana", 2},     //
        {"Alfa", "Bruno", 0},    // an employee of another company
        {"Todas", "Ninguém", 8}, // a text naming nobody filters nothing
        {"Gama", "Todos", 8},
        {"alfa", "Todos", 8}, // names match exactly
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.company) + " / " + c.employee);
        PunchExportJob j = job(
            ExportMode::FixedRecord, "f.pto",
            resolveExportFilters(*dm, QString::fromUtf8(c.company), QString::fromUtf8(c.employee)));
        QList<QPair<qint64, qint64>> seen;
        j.progress = [&](qint64 done, qint64 rows) { seen << qMakePair(done, rows); };
        const PunchExportResult r = exportPunches(*dm, j);
        EXPECT_EQ(r.exported, c.exported);
        EXPECT_EQ(readAll(r.fileName).size(), c.exported * pto::kRecordSize);
        // One call per row of the query, counted against all of them.
        const qint64 rows = j.filters.matricula ? 2 : 8;
        ASSERT_EQ(seen.size(), rows);
        EXPECT_EQ(seen.last(), qMakePair(c.exported, rows));
    }
}

TEST_F(PunchExportTest, ChoicesAndFiltersComeFromTheNamesInNameOrder) {
    tdb->exec("INSERT INTO funciona (matricula, nome, empresa) VALUES ('099', 'Ana', 2)");
    EXPECT_EQ(companyChoices(*dm), QStringList({"Todas", "Alfa", "Beta"}));
    EXPECT_EQ(employeeChoices(*dm),
              QStringList({"Todos", "Ação Łukasz", "Ana", "Ana", "Bruno", kLongName}));
    const ExportFilters f = resolveExportFilters(*dm, "Beta", "Bruno");
    EXPECT_EQ(f.company, 2);
    EXPECT_EQ(f.matricula, "102");
    EXPECT_FALSE(resolveExportFilters(*dm, "Todas", "Todos").company);
    EXPECT_FALSE(resolveExportFilters(*dm, "Todas", "Todos").matricula);
    EXPECT_TRUE(resolveExportFilters(*dm, "Todas", "Ana").matricula.has_value());
}

TEST_F(PunchExportTest, PeriodBoundsInBothModes) {
    setLayout("4");
    for (ExportMode mode : {ExportMode::FixedRecord, ExportMode::Layout}) {
        SCOPED_TRACE(int(mode));
        PunchExportJob j = job(mode, "p.dat", resolveExportFilters(*dm, "Todas", "Ana"));
        j.from = j.to = kTo; // a one-day period
        EXPECT_EQ(exportPunches(*dm, j).exported, 1);
        j.to = kFrom;
        EXPECT_EQ(exportPunches(*dm, j).exported, 0);
        EXPECT_EQ(readAll(out.filePath("p.dat")), "") << "start after end: nothing";
    }
    setLayout("4", 0, "CAB");
    PunchExportJob j = job(ExportMode::Layout, "p.dat");
    j.from = kTo;
    j.to = kFrom;
    EXPECT_EQ(exportPunches(*dm, j).exported, 0);
    EXPECT_EQ(readAll(out.filePath("p.dat")), "CAB\r\n");
}

TEST_F(PunchExportTest, ModeComesFromTheCollectorConfiguration) {
    EXPECT_EQ(configuredExportMode(*dm), ExportMode::FixedRecord) << "key absent";
    platform::ensureDirectory(platform::windowsDirectory());
    platform::IniFile ini("KELDO32.INI");
    ini.writeBool("CONFMEN", "EXPORTAPTO", false);
    EXPECT_EQ(configuredExportMode(*dm), ExportMode::Layout);
    ini.writeBool("CONFMEN", "EXPORTAPTO", true);
    EXPECT_EQ(configuredExportMode(*dm), ExportMode::FixedRecord);
}

TEST(PunchExportName, ExtensionAddedOnlyWhenMissing) {
    const struct {
        const char* chosen;
        ExportMode mode;
        const char* file;
    } cases[] = {{"/x/pontos", ExportMode::Layout, "/x/pontos.txt"},
                 {"/x/pontos", ExportMode::FixedRecord, "/x/pontos.pto"},
                 {"/x/pontos.dat", ExportMode::Layout, "/x/pontos.dat"},
                 {"/x/pontos.TXT", ExportMode::FixedRecord, "/x/pontos.TXT"},
                 {"/x.d/pontos", ExportMode::FixedRecord, "/x.d/pontos.pto"}};
    for (const auto& c : cases)
        EXPECT_EQ(exportFileName(c.chosen, c.mode), c.file) << c.chosen;
}

TEST_F(PunchExportTest, FailuresLeaveNothingHalfWritten) {
    // Without a body mask the layout mode does nothing at all.
    setLayout("");
    EXPECT_FALSE(bodyMaskDefined(*dm));
    try {
        exportPunches(*dm, job(ExportMode::Layout, "sem"));
        ADD_FAILURE() << "exported without a body mask";
    } catch (const PunchExportError& e) {
        EXPECT_EQ(e.kind(), PunchExportError::Kind::NoBodyMask);
    }
    EXPECT_FALSE(QFile::exists(out.filePath("sem.txt")));

    // A file that cannot be created is named in the error.
    try {
        exportPunches(*dm, job(ExportMode::FixedRecord, "falta/x.pto"));
        ADD_FAILURE() << "wrote into a missing folder";
    } catch (const PunchExportError& e) {
        EXPECT_EQ(e.kind(), PunchExportError::Kind::File);
        EXPECT_TRUE(e.text().contains(out.filePath("falta/x.pto"))) << e.text().toStdString();
    }

    // An export stopped halfway keeps the file it would have replaced, and
    // leaves no temporary file beside it; a complete one replaces it.
    QFile old(out.filePath("x.pto"));
    ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    old.write("anterior");
    old.close();
    PunchExportJob j = job(ExportMode::FixedRecord, "x.pto");
    j.progress = [](qint64 done, qint64) {
        if (done == 3)
            throw db::DbError("conexão perdida");
    };
    EXPECT_THROW(exportPunches(*dm, j), db::DbError);
    EXPECT_EQ(readAll(out.filePath("x.pto")), "anterior");
    EXPECT_EQ(QDir(out.path()).entryList(QDir::Files), QStringList{"x.pto"});
    j.progress = {};
    EXPECT_EQ(exportPunches(*dm, j).exported, 8);
    EXPECT_EQ(readAll(out.filePath("x.pto")).size(), 8 * pto::kRecordSize);
}

TEST_F(PunchExportTest, KeldoctlExportsWithTheSameFunction) {
    using keldo::testing::keldoctl;
    platform::ensureDirectory(platform::windowsDirectory());
    platform::IniFile("KELDO32.INI").writeBool("CONFMEN", "EXPORTAPTO", false);
    setLayout("1");
    auto r = keldoctl({"export-punches", "--from", "01/03/2026", "--to", "31/03/2026", "--company",
                       "Alfa", "--out", out.filePath("cli")});
    ASSERT_EQ(r.status, 0) << r.err.toStdString();
    EXPECT_TRUE(r.out.contains("Registros exportados: 4")) << r.out.toStdString();
    EXPECT_EQ(readAll(out.filePath("cli.txt")).count("\r\n"), 4) << "layout, from the INI";

    r = keldoctl({"export-punches", "--from", "01/03/2026", "--to", "31/03/2026", "--employee",
                  "Bruno", "--out", out.filePath("cli"), "--pto"});
    ASSERT_EQ(r.status, 0) << r.err.toStdString();
    EXPECT_EQ(readAll(out.filePath("cli.pto")).size(), 2 * pto::kRecordSize);

    const struct {
        QStringList args;
        int status;
        const char* says;
    } bad[] = {
        {{"--from", "32/03/2026", "--to", "31/03/2026", "--out", "x"}, 2, "data inválida"},
        {{"--from", "01/03/2026", "--to", "31/03/2026"}, 2, "--out"},
        {{"--from", "01/03/2026", "--to", "31/03/2026", "--out", "x", "--zip"}, 2, "--zip"},
        {{"--from", "01/03/2026", "--to", "31/03/2026", "--out", out.filePath("n"), "--layout"},
         1,
         "Nenhuma Máscara"},
        // A name that names nobody is refused on the command line: a typing
        // mistake must not export every company or employee.
        {{"--from", "01/03/2026", "--to", "31/03/2026", "--company", "CORVALDI", "--out",
          out.filePath("n")},
         1,
         "Empresa não encontrada: \"CORVALDI\"; nada foi exportado."},
        {{"--from", "01/03/2026", "--to", "31/03/2026", "--employee", "Zé", "--out",
          out.filePath("n")},
         1,
         "Colaborador não encontrado: \"Zé\"; nada foi exportado."},
        {{"--from", "31/03/2026", "--to", "01/03/2026", "--out", out.filePath("n")},
         2,
         "é posterior ao fim"},
    };
    setLayout("");
    for (const auto& c : bad) {
        SCOPED_TRACE(c.args.join(' ').toStdString());
        r = keldoctl(QStringList{"export-punches"} + c.args);
        EXPECT_EQ(r.status, c.status);
        EXPECT_TRUE(r.err.contains(QString::fromUtf8(c.says))) << r.err.toStdString();
    }
    EXPECT_FALSE(QFile::exists(out.filePath("n.txt")));
    EXPECT_FALSE(QFile::exists(out.filePath("n.pto")));
}

} // namespace
