#include "db/data_module.h"
#include "db/demo_data.h"
#include "db/location.h"
#include "db/schema.h"
#include "db/support_console.h"
#include "keldoctl.h"

#include <QFile>
#include <QFileInfo>

namespace keldo::cli {
namespace {

int fail(QTextStream& err, const QString& text) {
    err << text << "\n";
    return 1;
}

} // namespace

int initDb(const QStringList& args, QTextStream& out, QTextStream& err) {
    bool demo = false;
    for (const QString& a : args) {
        if (a == QLatin1String("--demo"))
            demo = true;
        else
            return fail(err, QStringLiteral("init-db: opção desconhecida: %1").arg(a)), 2;
    }
    try {
        platform::EngineConfig engine;
        db::ensureRunAlias(engine);
        QString where;
        std::unique_ptr<db::Database> database = db::createAliasDatabase(engine, &where);
        out << "Banco de dados criado em " << where << "\n";
        if (demo) {
            db::DemoSummary s = db::addDemoData(*database);
            out << "Dados de demonstração: " << s.companies << " empresas, " << s.employees
                << " colaboradores, " << s.holidays << " feriados, " << s.punches << " batidas, "
                << s.anomalies << " anormalidades.\n";
        }
        return 0;
    } catch (const db::DbError& e) {
        return fail(err, e.text());
    }
}

int maintain(const QStringList& args, QTextStream& out, QTextStream& err) {
    if (!args.isEmpty())
        return fail(err, QStringLiteral("maintain: opção desconhecida: %1").arg(args.first())), 2;
    platform::EngineConfig engine;
    db::ensureRunAlias(engine);
    db::TDDados dm(engine);
    dm.setCreateWhenMissing(false);
    dm.resolveDatabaseDirectory();
    db::MaintenanceReport r = dm.runMaintenance([&](const QString& text) { err << text << "\n"; });
    for (const QString& t : r.maintained)
        out << "Tabela " << t << ": índices reconstruídos, tabela compactada.\n";
    if (!r.complete()) {
        out << "Manutenção interrompida na tabela " << r.stoppedAt << ".\n";
        return 1;
    }
    return r.packErrors.isEmpty() ? 0 : 1;
}

int sql(const QStringList& args, QTextStream& out, QTextStream& err) {
    bool rows = false;
    QString text, file;
    for (int i = 0; i < args.size(); ++i) {
        if (args[i] == QLatin1String("--rows"))
            rows = true;
        else if (args[i] == QLatin1String("--file") && i + 1 < args.size())
            file = args[++i];
        else if (text.isEmpty() && !args[i].startsWith(QLatin1String("--")))
            text = args[i];
        else
            return fail(err, QStringLiteral("sql: argumento inesperado: %1").arg(args[i])), 2;
    }
    if (!file.isEmpty()) {
        QFile f(file);
        if (!f.open(QIODevice::ReadOnly))
            return fail(err,
                        QStringLiteral("Não foi possível ler %1: %2").arg(file, f.errorString()));
        text = QString::fromUtf8(f.readAll());
    }
    try {
        VerbSession session;
        db::TDDados& dm = session.dm;
        if (!rows) {
            db::runSupportStatement(*dm.qySQL, text);
            out << "Pronto!\n";
            return 0;
        }
        db::Query& q = *dm.qySQL;
        db::openSupportQuery(q, text);
        out << q.fieldNames().join(QLatin1Char('\t')) << "\n";
        for (; !q.eof(); q.next()) {
            QStringList line;
            for (int i = 0; i < q.fieldCount(); ++i)
                line << q.field(i).asString();
            out << line.join(QLatin1Char('\t')) << "\n";
        }
        q.close();
        return 0;
    } catch (const db::DbError& e) {
        return fail(err, e.text());
    }
}

} // namespace keldo::cli
