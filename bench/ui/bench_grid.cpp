// A grid over registro must move as fast over 2,000,000 punches as over
// 20,000: opened on the shared tbRegistros in day order, then moved to the
// last row and to the first punch of the employee in the middle. The slowest
// of the three moves is measured: under 50 ms, at most 1.5 times the small
// installation's, in a process under 100 MB.
#include "../db/harness.h"

#include "db/data_module.h"
#include "db/location.h"
#include "db/schema.h"
#include "ui/data_grid.h"

#include <QApplication>
#include <algorithm>
#include <chrono>
#include <cstring>
#include <stdexcept>

namespace {

using namespace keldo;
using Clock = std::chrono::steady_clock;

double since(Clock::time_point t) {
    return std::chrono::duration<double, std::milli>(Clock::now() - t).count();
}

// The grid has shown the dataset's current row, selected.
void check(ui::DBGrid& grid, db::DataSet& ds, const char* what) {
    ui::DataSetModel& m = *grid.dataModel();
    const int row = m.currentRow();
    if (row < 0 || grid.currentIndex().row() != row ||
        m.data(m.index(row, 0)).toString() !=
            ds.fieldByName(QStringLiteral("matricula")).asString())
        throw std::runtime_error(std::string("the grid does not show the current row after ") +
                                 what);
}

double slowestMove() {
    platform::EngineConfig engine;
    const std::unique_ptr<db::TDDados> module = bench::bindDataModule(engine);
    db::TDDados& dm = *module;
    // The employee in the middle, looked up before the clock runs.
    const QString middle =
        dm.database()
            .scalar(QStringLiteral("SELECT matricula FROM funciona ORDER BY matricula LIMIT 1 "
                                   "OFFSET (SELECT count(*) / 2 FROM funciona)"))
            .toString();
    db::Table& punches = *dm.tbRegistros;
    punches.setIndexFieldNames(QStringLiteral("matricula;data;hora"));
    db::DataSource source;
    source.setDataSet(&punches);
    ui::DBGrid grid;
    grid.resize(640, 480);
    grid.setColumns(
        {{QStringLiteral("matricula")}, {QStringLiteral("data")}, {QStringLiteral("hora")}});
    grid.show();
    QCoreApplication::processEvents();

    auto t = Clock::now();
    punches.open();
    grid.setDataSource(&source);
    QCoreApplication::processEvents();
    double slowest = since(t);
    check(grid, punches, "open");

    t = Clock::now();
    punches.last();
    QCoreApplication::processEvents();
    slowest = std::max(slowest, since(t));
    check(grid, punches, "last");

    t = Clock::now();
    if (!punches.findKey({middle}))
        throw std::runtime_error("no punch of the middle employee");
    QCoreApplication::processEvents();
    slowest = std::max(slowest, since(t));
    check(grid, punches, "find");
    return slowest;
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    keldo::bench::Comparison c{
        "bench_grid: grid over registro in day order, opened, moved to the last row and to "
        "the middle employee's first punch (slowest move)",
        slowestMove, 1.5, true, 100};
    c.timeLimitMs = 50;
    c.ownApplication = true;
    return keldo::bench::benchMain(argc, argv, c);
}
