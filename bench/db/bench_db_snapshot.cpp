// The copy of the live database that a backup archives must be quick and must
// not hold back the collector: 2,000,000 punches copied in under 5 s while a
// writer inserting a punch every 5 ms never waits longer than 200 ms for one.
//
// The copy is taken from a scratch copy of the cached installation, so the
// writer's rows never reach the installation other benchmarks reuse.
//
//   bench_db_snapshot [--punches N] [--rounds N]
#include "installation.h"

#include "db/database.h"
#include "db/database_copy.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace keldo;
using Clock = std::chrono::steady_clock;

constexpr double kCopyLimitMs = 5000;
constexpr double kWaitLimitMs = 200;

struct Writer {
    std::atomic<bool> stop{false};
    std::atomic<int> inserted{0};
    double longestMs = 0;
    std::string failure;

    void run(const QString& file) {
        try {
            auto db = db::Database::openSqlite(file, false);
            for (int i = 0; !stop; ++i) {
                const auto start = Clock::now();
                db->exec(QStringLiteral("INSERT INTO registro (matricula, data, hora) "
                                        "VALUES (?, '2026-12-11', '08:00:00')"),
                         {QStringLiteral("W%1").arg(i)});
                longestMs = std::max(
                    longestMs,
                    std::chrono::duration<double, std::milli>(Clock::now() - start).count());
                ++inserted;
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
        } catch (const std::exception& e) {
            failure = e.what();
        }
    }
};

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    bench::InstallationSize size{2'000'000};
    int rounds = 3;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        const long value = std::strtol(argv[i + 1], nullptr, 10);
        if (option == "--punches" && value > 0)
            size.punches = value;
        else if (option == "--rounds" && value > 0)
            rounds = int(value);
        else {
            std::fprintf(stderr, "usage: bench_db_snapshot [--punches N] [--rounds N]\n");
            return 2;
        }
    }
    try {
        const auto root = bench::cachedRoot(size);
        bench::prepareInstallation(root, size);
        bench::useRoot(root);
        QTemporaryDir scratch(QDir(QString::fromStdString(root.parent_path().string()))
                                  .filePath(QStringLiteral("snapshot-XXXXXX")));
        const QString live = scratch.filePath(QStringLiteral("keldoran32.sqlite"));
        if (!scratch.isValid() || !QFile::copy(bench::aliasDatabaseFile(), live))
            throw std::runtime_error("could not make the scratch copy of the installation");

        Writer writer;
        std::thread thread([&] { writer.run(live); });
        while (writer.inserted == 0 && writer.failure.empty())
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        std::vector<double> times;
        for (int r = 0; r < rounds && writer.failure.empty(); ++r) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            const auto start = Clock::now();
            const QString copy =
                db::copyLiveDatabase(live, scratch.filePath(QStringLiteral("out")));
            times.push_back(
                std::chrono::duration<double, std::milli>(Clock::now() - start).count());
            QFile::remove(copy);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        writer.stop = true;
        thread.join();
        if (!writer.failure.empty())
            throw std::runtime_error("the writer failed: " + writer.failure);

        const double slowest = *std::max_element(times.begin(), times.end());
        std::printf("bench_db_snapshot: copy of the live database with %lld punches\n",
                    static_cast<long long>(size.punches));
        std::printf("  copy: slowest %.0f ms of %d (target < %.0f ms)\n", slowest, rounds,
                    kCopyLimitMs);
        std::printf("  writer: %d inserts, longest wait %.1f ms (target <= %.0f ms)\n",
                    writer.inserted.load(), writer.longestMs, kWaitLimitMs);
        const bool copyOk = slowest < kCopyLimitMs, waitOk = writer.longestMs <= kWaitLimitMs;
        std::printf("%s copy time\n%s writer wait\n", copyOk ? "PASS" : "FAIL",
                    waitOk ? "PASS" : "FAIL");
        return copyOk && waitOk ? 0 : 1;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_db_snapshot: %s\n", e.what());
        return 2;
    }
}
