#include "db/data_module.h"
#include "db/location.h"
#include "exchange/punch_export.h"
#include "keldoctl.h"

#include <QMap>

namespace keldo::cli {
namespace {

int usageError(QTextStream& err, const QString& verb, const QString& problem) {
    err << verb << ": " << problem << "\n";
    return 2;
}

// A date as the program's date fields take it, DD/MM/YYYY.
std::optional<QDate> parseDay(const QString& text) {
    const QDate d = QDate::fromString(text, QStringLiteral("dd/MM/yyyy"));
    if (!d.isValid())
        return std::nullopt;
    return d;
}

} // namespace

int exportPunchesVerb(const QStringList& args, QTextStream& out, QTextStream& err) {
    const QString verb = QStringLiteral("export-punches");
    const QStringList withValue = {QStringLiteral("--from"), QStringLiteral("--to"),
                                   QStringLiteral("--company"), QStringLiteral("--employee"),
                                   QStringLiteral("--out")};
    QMap<QString, QString> opt;
    std::optional<exchange::ExportMode> forced;
    for (int i = 0; i < args.size(); ++i) {
        const QString& a = args[i];
        if (a == QLatin1String("--pto") || a == QLatin1String("--layout")) {
            const auto m = a == QLatin1String("--pto") ? exchange::ExportMode::FixedRecord
                                                       : exchange::ExportMode::Layout;
            if (forced && *forced != m)
                return usageError(err, verb,
                                  QStringLiteral("--pto e --layout não podem ser "
                                                 "usados juntos"));
            forced = m;
        } else if (withValue.contains(a)) {
            if (i + 1 >= args.size())
                return usageError(err, verb, QStringLiteral("falta o valor de %1").arg(a));
            if (opt.contains(a))
                return usageError(err, verb, QStringLiteral("%1 foi dado mais de uma vez").arg(a));
            opt[a] = args[++i];
        } else {
            return usageError(err, verb, QStringLiteral("opção desconhecida: %1").arg(a));
        }
    }
    for (const char* required : {"--from", "--to", "--out"})
        if (!opt.contains(QLatin1String(required)))
            return usageError(err, verb, QStringLiteral("falta a opção %1").arg(required));
    const auto from = parseDay(opt[QStringLiteral("--from")]);
    const auto to = parseDay(opt[QStringLiteral("--to")]);
    for (const auto& [day, name] : {std::pair{from, "--from"}, std::pair{to, "--to"}})
        if (!day)
            return usageError(err, verb,
                              QStringLiteral("data inválida em %1: \"%2\" (use DD/MM/AAAA)")
                                  .arg(name, opt[QLatin1String(name)]));
    if (*from > *to)
        return usageError(err, verb,
                          QStringLiteral("o início do período (--from %1) é posterior ao fim "
                                         "(--to %2)")
                              .arg(opt[QStringLiteral("--from")], opt[QStringLiteral("--to")]));
    if (opt[QStringLiteral("--out")].isEmpty())
        return usageError(err, verb, QStringLiteral("--out precisa de um nome de arquivo"));

    try {
        VerbSession session;
        db::TDDados& dm = session.dm;

        exchange::PunchExportJob job;
        job.mode = forced ? *forced : exchange::configuredExportMode(dm);
        job.from = *from;
        job.to = *to;
        job.filters = exchange::resolveExportFilters(
            dm, opt.value(QStringLiteral("--company"), QString::fromUtf8(exchange::kAllCompanies)),
            opt.value(QStringLiteral("--employee"), QString::fromUtf8(exchange::kAllEmployees)),
            exchange::UnknownName::Refuse);
        job.fileName = opt[QStringLiteral("--out")];
        const exchange::PunchExportResult r = exchange::exportPunches(dm, job);
        summaryStream(r.fileName, out, err)
            << "Fim da exportação ! Registros exportados: " << r.exported << "\n"
            << "Arquivo: " << r.fileName << "\n";
        return 0;
    } catch (const exchange::ExchangeError& e) {
        err << e.text() << "\n";
        return 1;
    } catch (const db::DbError& e) {
        err << e.text() << "\n";
        return 1;
    }
}

} // namespace keldo::cli
