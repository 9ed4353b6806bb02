#include "db/data_module.h"
#include "db/location.h"
#include "exchange/employee_exchange.h"
#include "keldoctl.h"
#include "platform/ini_file.h"

#include <algorithm>
#include <functional>

namespace keldo::cli {
namespace {

int fail(QTextStream& err, const QString& text, int status = 1) {
    err << text << "\n";
    return status;
}

// "--name value" options: the word after the name is its value, whatever it
// looks like ("--out --help" names a file "--help"). Empty when all were
// taken; otherwise the complaint, for status 2.
QString takeOptions(const char* verb, const QStringList& args,
                    const QList<std::pair<const char*, QString*>>& options) {
    for (int i = 0; i < args.size(); ++i) {
        auto named = std::find_if(options.begin(), options.end(),
                                  [&](const auto& o) { return args[i] == QLatin1String(o.first); });
        if (named == options.end())
            return QStringLiteral("%1: argumento inesperado: %2").arg(verb, args[i]);
        if (i + 1 >= args.size())
            return QStringLiteral("%1: falta o valor de %2").arg(verb, args[i]);
        *named->second = args[++i];
    }
    return {};
}

// Runs a verb's work on the data module; what stops it goes to err with
// status 1.
int withDataModule(QTextStream& err, const std::function<void(db::TDDados&)>& work) {
    try {
        VerbSession session;
        work(session.dm);
        return 0;
    } catch (const exchange::ExchangeError& e) {
        return fail(err, e.text());
    } catch (const db::Refusal& e) {
        return fail(err, e.text());
    } catch (const db::DbError& e) {
        return fail(err, e.text());
    }
}

} // namespace

int exportEmployeesVerb(const QStringList& args, QTextStream& out, QTextStream& err) {
    QString company = QString::fromUtf8(exchange::kAllCompanies);
    QString file;
    if (const QString problem =
            takeOptions("export-employees", args, {{"--company", &company}, {"--out", &file}});
        !problem.isEmpty())
        return fail(err, problem, 2);
    if (file.isEmpty())
        return fail(err, QStringLiteral("export-employees: falta --out ARQUIVO"), 2);
    return withDataModule(err, [&](db::TDDados& dm) {
        exchange::knownCompanyCode(dm, company);
        const int n = exchange::exportEmployees(dm, company, file);
        summaryStream(exchange::exportFileName(file), out, err)
            << "Colaboradores exportados: " << n << "\n";
    });
}

int importEmployeesVerb(const QStringList& args, QTextStream& out, QTextStream& err) {
    QString file;
    if (const QString problem = takeOptions("import-employees", args, {{"--file", &file}});
        !problem.isEmpty())
        return fail(err, problem, 2);
    if (file.isEmpty())
        return fail(err, QStringLiteral("import-employees: falta --file ARQUIVO"), 2);
    return withDataModule(err, [&](db::TDDados& dm) {
        const exchange::ImportColumns columns =
            exchange::parseImportColumns(exchange::readImportSettings(*dm.session().ini));
        const int n = exchange::importEmployees(dm, columns, file);
        out << "Colaboradores cadastrados: " << n << "\n";
    });
}

} // namespace keldo::cli
