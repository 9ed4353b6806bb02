// The punch export against the sqlite3 shell writing the same join as CSV.
//
// On an installation of 1,000,000 punches of 5,000 employees, times
//   sqlite3 -csv DB "select <the columns an export needs> from registro join
//                    funciona ... left join empresa ..." > file
// and our export of every punch in layout mode and in fixed-record mode,
// each export in a process of its own. PASS when each export's median is at
// most 3 times sqlite3's, and when its peak memory on the large installation
// stays within kFlatMemoryMb of the same export on a small one (memory does
// not grow with the punches). Exits 1 when a target fails, 2 when it could
// not measure.
//
//   bench_export [--large N] [--small N] [--employees N] [--rounds N]
//
// Children: bench_export --export ROOT layout|pto FILE
#include "../db/harness.h"
#include "../db/installation.h"
#include "db/data_module.h"
#include "db/database.h"
#include "db/location.h"
#include "exchange/punch_export.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <sys/resource.h>
#include <vector>

namespace fs = std::filesystem;
using namespace keldo;

namespace {

constexpr double kRatioLimit = 3.0;
constexpr double kFlatMemoryMb = 16.0;

// A period that holds every generated punch.
const QDate kFrom(2000, 1, 1), kTo(2099, 12, 31);

// What an export reads: the punch, its employee and the employee's company.
const char* kJoinSql =
    "select registro.data, registro.hora, registro.matricula, funciona.matricula, "
    "funciona.nome, funciona.codigo, empresa.nome from registro join funciona on "
    "registro.matricula = funciona.matricula left join empresa on empresa.codigo = "
    "funciona.empresa where registro.data between '2000-01-01' and '2099-12-31'";

struct Run {
    double ms = 0;
    long peakKb = 0;
    long long exported = 0;
};

// --export ROOT MODE FILE, in the child.
int exportChild(const fs::path& root, const std::string& mode, const QString& file) {
    bench::useRoot(root);
    platform::EngineConfig engine;
    const std::unique_ptr<db::TDDados> module = bench::bindDataModule(engine);
    db::TDDados& dm = *module;
    exchange::PunchExportJob job;
    job.mode = mode == "layout" ? exchange::ExportMode::Layout : exchange::ExportMode::FixedRecord;
    job.from = kFrom;
    job.to = kTo;
    job.fileName = file;
    qint64 calls = 0;
    job.progress = [&](qint64, qint64) { ++calls; }; // as cheap as the window's throttle
    QElapsedTimer t;
    t.start();
    const exchange::PunchExportResult r = exchange::exportPunches(dm, job);
    const double ms = double(t.nsecsElapsed()) / 1e6;
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("ms %.3f\npeak_rss_kb %ld\nexported %lld\n", ms, usage.ru_maxrss,
                (long long)r.exported);
    return calls == r.rows ? 0 : 2;
}

bool runExport(const fs::path& root, const char* mode, const QString& file, Run* run) {
    QProcess p;
    p.start(QCoreApplication::applicationFilePath(),
            {QStringLiteral("--export"), QString::fromStdString(root.string()),
             QString::fromLatin1(mode), file});
    if (!p.waitForFinished(-1) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        std::fprintf(stderr, "%s", p.readAllStandardError().constData());
        return false;
    }
    for (const QByteArray& line : p.readAllStandardOutput().split('\n')) {
        std::sscanf(line.constData(), "ms %lf", &run->ms);
        std::sscanf(line.constData(), "peak_rss_kb %ld", &run->peakKb);
        std::sscanf(line.constData(), "exported %lld", &run->exported);
    }
    return true;
}

bool runSqlite3(const QString& database, const QString& file, double* ms) {
    QProcess p;
    p.setStandardOutputFile(file);
    QElapsedTimer t;
    t.start();
    p.start(QStringLiteral("sqlite3"),
            {QStringLiteral("-csv"), database, QString::fromLatin1(kJoinSql)});
    if (!p.waitForFinished(-1) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
        return false;
    *ms = double(t.nsecsElapsed()) / 1e6;
    return true;
}

// The layout an operator would use: every field, a header line.
void defineLayout() {
    auto db = db::Database::openSqlite(bench::aliasDatabaseFile());
    db->exec(QStringLiteral("UPDATE layoutar SET Corpo_mascara = '0;1;2;3;4;5', Cabecalho = 0, "
                            "Cabecalho_mascara = '3 4', Conteudo6 = 'X'"));
    db->exec(QStringLiteral("PRAGMA wal_checkpoint(TRUNCATE)"));
}

// The database benchmarks' options, with this program's sizes.
struct Options : bench::BenchOptions {
    Options() {
        large.punches = 1'000'000;
        small.punches = 100'000;
    }
};

int compare(const Options& o) {
    const fs::path largeRoot = bench::cachedRoot(o.large), smallRoot = bench::cachedRoot(o.small);
    QString largeDb;
    for (const auto& [root, size] :
         {std::pair{smallRoot, o.small}, std::pair{largeRoot, o.large}}) {
        bench::prepareInstallation(root, size);
        bench::useRoot(root);
        defineLayout();
        if (root == largeRoot)
            largeDb = bench::aliasDatabaseFile();
    }
    QTemporaryDir out(QString::fromStdString((largeRoot.parent_path() / "out-XXXXXX").string()));
    if (!out.isValid()) {
        std::printf("FAIL: no folder for the output files\n");
        return 2;
    }
    const QString csv = out.filePath(QStringLiteral("join.csv"));
    const QString txt = out.filePath(QStringLiteral("pontos.txt"));
    const QString pto = out.filePath(QStringLiteral("pontos.pto"));

    double warm = 0;
    if (!runSqlite3(largeDb, csv, &warm)) { // also brings the file into the page cache
        std::printf("FAIL: sqlite3 could not run the join (is the sqlite3 shell installed?)\n");
        return 2;
    }
    std::vector<double> shell, layout, fixed;
    long layoutPeak = 0, fixedPeak = 0;
    long long exported = 0;
    for (int r = 0; r < o.rounds; ++r) {
        double ms = 0;
        Run a, b;
        if (!runSqlite3(largeDb, csv, &ms) || !runExport(largeRoot, "layout", txt, &a) ||
            !runExport(largeRoot, "pto", pto, &b)) {
            std::printf("FAIL: a measurement did not complete\n");
            return 2;
        }
        shell.push_back(ms);
        layout.push_back(a.ms);
        fixed.push_back(b.ms);
        layoutPeak = std::max(layoutPeak, a.peakKb);
        fixedPeak = std::max(fixedPeak, b.peakKb);
        exported = b.exported;
    }
    Run smallLayout, smallFixed;
    if (!runExport(smallRoot, "layout", txt, &smallLayout) ||
        !runExport(smallRoot, "pto", pto, &smallFixed)) {
        std::printf("FAIL: a measurement on the small installation did not complete\n");
        return 2;
    }
    if (exported != o.large.punches) {
        std::printf("FAIL: %lld punches exported of %lld\n", exported, (long long)o.large.punches);
        return 1;
    }

    const double base = bench::median(shell);
    std::printf("Punch export of %lld punches of %d employees, against sqlite3 -csv of the same "
                "join\n  (%d rounds; medians of wall-clock times; each export in its own "
                "process)\n",
                (long long)o.large.punches, o.large.employees, o.rounds);
    std::printf("  sqlite3 -csv       median %9.1f ms\n", base);
    bool ok = true;
    const struct {
        const char* name;
        const std::vector<double>& times;
        long peakKb, smallPeakKb;
    } rows[] = {{"layout mode", layout, layoutPeak, smallLayout.peakKb},
                {"fixed records", fixed, fixedPeak, smallFixed.peakKb}};
    for (const auto& r : rows) {
        const double m = bench::median(r.times), ratio = m / base;
        std::printf("  %-18s median %9.1f ms  ratio %.2f  peak memory %.1f MB (%lld punches: "
                    "%.1f MB)\n",
                    r.name, m, ratio, bench::megabytes(r.peakKb), (long long)o.small.punches,
                    bench::megabytes(r.smallPeakKb));
        const bool fast = ratio <= kRatioLimit;
        const double growth = bench::megabytes(r.peakKb) - bench::megabytes(r.smallPeakKb);
        const bool flat = growth <= kFlatMemoryMb;
        std::printf("%s: %s at most %.1f times sqlite3 (%.2f)\n", fast ? "PASS" : "FAIL", r.name,
                    kRatioLimit, ratio);
        std::printf("%s: %s peak memory grows %.1f MB from %lld to %lld punches, limit %.0f MB\n",
                    flat ? "PASS" : "FAIL", r.name, growth, (long long)o.small.punches,
                    (long long)o.large.punches, kFlatMemoryMb);
        ok = ok && fast && flat;
    }
    return ok ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    // QtSql loads its drivers through the application object.
    QCoreApplication app(argc, argv);
    try {
        if (argc == 5 && !std::strcmp(argv[1], "--export"))
            return exportChild(argv[2], argv[3], QString::fromLocal8Bit(argv[4]));
        Options o;
        if (!bench::parseBenchOptions(argc, argv, &o)) {
            std::fprintf(stderr, "usage: %s [--large N] [--small N] [--employees N] [--rounds N]\n",
                         argv[0]);
            return 2;
        }
        return compare(o);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s: %s\n", argv[0], e.what());
        std::printf("FAIL: %s\n", e.what());
        return 2;
    }
}
