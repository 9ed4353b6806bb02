#include "db/data_module.h"
#include "db/location.h"
#include "exchange/employee_exchange.h"
#include "keldoctl.h"
#include "platform/ini_file.h"

#include <functional>

namespace keldo::cli {
namespace {

int fail(QTextStream& err, const QString& text, int status = 1) {
    err << text << "\n";
    return status;
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
    for (int i = 0; i < args.size(); ++i) {
        if (args[i] == QLatin1String("--company") && i + 1 < args.size())
            company = args[++i];
        else if (args[i] == QLatin1String("--out") && i + 1 < args.size())
            file = args[++i];
        else
            return fail(
                err, QStringLiteral("export-employees: argumento inesperado: %1").arg(args[i]), 2);
    }
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
    for (int i = 0; i < args.size(); ++i) {
        if (args[i] == QLatin1String("--file") && i + 1 < args.size())
            file = args[++i];
        else
            return fail(
                err, QStringLiteral("import-employees: argumento inesperado: %1").arg(args[i]), 2);
    }
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
