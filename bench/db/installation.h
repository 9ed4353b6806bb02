// Installations for the database benchmarks: a KELDO_ROOT holding the
// delivered SQLite database at the default alias path, filled with a given
// number of employees and punches. Generated installations are kept under
// the benchmarks' build folder and reused while their description matches.
//
//   InstallationSize size{2'000'000, 5'000};
//   std::filesystem::path root = cachedRoot(size);
//   prepareInstallation(root, size); // generates when missing, then checkpoints
#pragma once

#include "db/data_module.h"

#include <QString>
#include <cstdint>
#include <filesystem>
#include <memory>

namespace keldo::bench {

struct InstallationSize {
    std::int64_t punches = 0;
    int employees = 5'000;
};

// Where the installation of that size is kept: $KELDO_BENCH_DATA when set,
// else the "data" folder beside the running benchmark.
std::filesystem::path cachedRoot(const InstallationSize& size);

// Makes `root` hold an installation of `size`: an existing one is reused when
// it was generated for that size and still holds every punch, otherwise it is
// generated again (into a fresh folder renamed into place, so an interrupted
// run leaves nothing half made). Either way the database ends checkpointed,
// without a write-ahead log to replay. Throws std::runtime_error (DbError
// included) when the database cannot be made or read.
void prepareInstallation(const std::filesystem::path& root, const InstallationSize& size);

// Points KELDO_ROOT, which the platform layer reads on every call, at `root`.
void useRoot(const std::filesystem::path& root);

// The native path of the SQLite database of the installation under the
// current KELDO_ROOT, as the alias gives it.
QString aliasDatabaseFile();

// The program's data module on the installation of the current KELDO_ROOT,
// every component bound and nothing opened; a missing database fails rather
// than being created empty. `engine` must outlive it.
std::unique_ptr<db::TDDados> bindDataModule(platform::EngineConfig& engine);

} // namespace keldo::bench
