// A lookup list over 50,000 employees opens and paints at once: it counts the
// list, finds the stored row and its place and reads the page it is on. The
// median of fresh lists (a new table cursor each) must stay under 50 ms.
//
//   bench_lookup [--employees N] [--runs N]
#include "db/database.h"
#include "db/dataset.h"
#include "db/schema.h"
#include "ui/data_controls.h"

#include <QApplication>
#include <QTemporaryDir>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <sys/resource.h>
#include <vector>

namespace {

using namespace keldo;
using Clock = std::chrono::steady_clock;

constexpr double kLimitMs = 50;

double openAndPaint(db::Database& database, const QString& stored, const QString& expected) {
    const auto start = Clock::now();
    db::Table funcs, groups;
    funcs.setDatabase(&database);
    funcs.setTableName(QStringLiteral("funciona"));
    funcs.setIndexFieldNames(QStringLiteral("nome"));
    funcs.open();
    groups.setDatabase(&database);
    groups.setTableName(QStringLiteral("grupof"));
    groups.open();
    db::DataSource list, bound;
    list.setDataSet(&funcs);
    bound.setDataSet(&groups);
    ui::DBLookupComboBox combo;
    combo.setListSource(&list);
    combo.setKeyField(QStringLiteral("matricula"));
    combo.setListField(QStringLiteral("nome"));
    combo.setDataSource(&bound);
    combo.setDataField(QStringLiteral("matricula"));
    combo.resize(300, combo.sizeHint().height());
    const QPixmap painted = combo.grab();
    const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    if (painted.isNull() || combo.currentText() != expected ||
        combo.keyAt(combo.currentIndex()).toString() != stored)
        throw std::runtime_error("the list does not show the stored employee");
    return ms;
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    int employees = 50000, runs = 9;
    for (int i = 1; i + 1 < argc; i += 2) {
        const int v = std::atoi(argv[i + 1]);
        if (!std::strcmp(argv[i], "--employees") && v > 0)
            employees = v;
        else if (!std::strcmp(argv[i], "--runs") && v > 0)
            runs = v;
        else {
            std::fprintf(stderr, "usage: %s [--employees N] [--runs N]\n", argv[0]);
            return 2;
        }
    }
    try {
        QTemporaryDir dir;
        auto database =
            db::Database::openSqlite(dir.filePath(QStringLiteral("lookup.sqlite")), true);
        db::createDeliveredSchema(*database);
        database->exec(QStringLiteral("INSERT INTO funciona (matricula, nome, codigo) WITH "
                                      "RECURSIVE s(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM s "
                                      "WHERE i < %1) SELECT CAST(i AS VARCHAR(20)), "
                                      "'Colaborador ' || CAST(i AS VARCHAR(20)), CAST(i AS "
                                      "VARCHAR(20)) FROM s")
                           .arg(employees));
        // The stored employee sits far down the list's order.
        const QString stored = QString::number(employees - 1);
        database->exec(QStringLiteral("INSERT INTO grupof (matricula, faixa) VALUES (?, '001')"),
                       {stored});
        const QString expected = QStringLiteral("Colaborador ") + stored;
        openAndPaint(*database, stored, expected); // warm-up
        std::vector<double> samples;
        for (int r = 0; r < runs; ++r)
            samples.push_back(openAndPaint(*database, stored, expected));
        std::sort(samples.begin(), samples.end());
        const double med = samples[samples.size() / 2];
        rusage usage{};
        getrusage(RUSAGE_SELF, &usage);
        std::printf("bench_lookup: lookup list over %d employees opened and painted, the stored "
                    "one far down the order\n  median %.3f ms (%d runs, min %.3f, max %.3f), "
                    "peak memory %.1f MB\n",
                    employees, med, runs, samples.front(), samples.back(),
                    usage.ru_maxrss * 1024.0 / 1e6);
        const bool ok = med < kLimitMs;
        std::printf("%s: median %.3f ms, limit under %.0f ms\n", ok ? "PASS" : "FAIL", med,
                    kLimitMs);
        return ok ? 0 : 1;
    } catch (const std::exception& e) {
        std::printf("FAIL: %s\n", e.what());
        return 2;
    }
}
