// The table maintenance that runs at every start must not grow with the
// punches: with 2,000,000 in registro it must cost under 1.3 times what it
// costs with 20,000.
#include "harness.h"

#include "db/data_module.h"
#include "db/location.h"

#include <chrono>
#include <stdexcept>

namespace {

using namespace keldo;

double startupMaintenance() {
    const auto start = std::chrono::steady_clock::now();
    platform::EngineConfig engine;
    db::ensureRunAlias(engine);
    db::TDDados dm(engine);
    dm.setCreateWhenMissing(false);
    dm.resolveDatabaseDirectory();
    QStringList errors;
    const db::MaintenanceReport r = dm.runMaintenance([&](const QString& e) { errors << e; });
    const std::chrono::duration<double, std::milli> elapsed =
        std::chrono::steady_clock::now() - start;

    if (!r.complete() || !r.packErrors.isEmpty() ||
        r.maintained.size() != db::maintenanceList().size())
        throw std::runtime_error("the maintenance did not complete: " +
                                 errors.join(QStringLiteral("; ")).toStdString());
    return elapsed.count();
}

} // namespace

int main(int argc, char** argv) {
    return keldo::bench::benchMain(
        argc, argv,
        {"bench_db_maintenance: start-up table maintenance (TDDados::runMaintenance)",
         startupMaintenance, 1.3, true, 0});
}
