// Opening the session tables and showing the first screen of employees in
// name order must not slow down as registro grows: the large installation
// may take at most 1.5 times what the small one takes, in under 150 MB.
#include "harness.h"

#include "db/collation.h"
#include "db/data_module.h"
#include "db/location.h"

#include <chrono>
#include <stdexcept>

namespace {

using namespace keldo;

// Rows of the employee list that fill the first screen.
constexpr int kScreenRows = 30;

// What the program does from its data module to the first screen of the
// employee window, with a data module of its own as a new process would.
double sessionToFirstScreen() {
    const auto start = std::chrono::steady_clock::now();
    platform::EngineConfig engine;
    db::ensureRunAlias(engine);
    db::TDDados dm(engine);
    dm.setCreateWhenMissing(false); // a missing database must fail, not be measured empty
    dm.resolveDatabaseDirectory();
    dm.bindComponents();
    dm.bindTemporary();
    dm.openPermisso();
    dm.openSessionTables();
    db::Table& funcs = *dm.tbFuncs;
    funcs.setIndexFieldNames(QStringLiteral("nome"));
    funcs.first();
    QStringList names;
    qsizetype characters = 0;
    for (int row = 0; row < kScreenRows && !funcs.eof(); ++row) {
        for (int i = 0; i < funcs.fieldCount(); ++i)
            characters += funcs.field(i).asString().size();
        names << funcs.fieldByName(QStringLiteral("nome")).asString();
        funcs.next();
    }
    const std::chrono::duration<double, std::milli> elapsed =
        std::chrono::steady_clock::now() - start;

    if (names.size() != kScreenRows || characters == 0)
        throw std::runtime_error("the first screen of funciona is not full");
    for (int i = 1; i < names.size(); ++i)
        if (db::compareFolded(names[i - 1], names[i]) > 0)
            throw std::runtime_error("funciona is not in name order");
    return elapsed.count();
}

} // namespace

int main(int argc, char** argv) {
    return keldo::bench::benchMain(
        argc, argv,
        {"bench_db_session: data module start-up, session tables opened, first screen of "
         "funciona in name order",
         sessionToFirstScreen, 1.5, false, 150});
}
