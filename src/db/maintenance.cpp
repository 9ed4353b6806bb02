#include "maintenance.h"

#include "database.h"

namespace keldo::db {

const QList<MaintenanceStep>& maintenanceList() {
    static const QList<MaintenanceStep> list = [] {
        auto pk = [](std::initializer_list<const char*> fields) {
            IndexDef ix;
            for (const char* f : fields)
                ix.fields << QString::fromLatin1(f);
            return ix;
        };
        auto ci = [](const char* name, const char* field) {
            return IndexDef{QString::fromLatin1(name), {QString::fromLatin1(field)}, true};
        };
        return QList<MaintenanceStep>{
            {"anormal.db", {"anormal.px"}, {pk({"contador"})}},
            {"empresa.db",
             {"empresa.px", "empresa.xg0", "empresa.yg0"},
             {pk({"codigo"}), ci("IDX_NOME", "nome")}},
            {"faixa.db", {"faixa.px"}, {pk({"Cod_faixa"})}},
            {"feriados.db", {"feriados.px"}, {pk({"dia"})}},
            {"funciona.db",
             {"funciona.px"},
             {pk({"matricula"}), ci("IDX_CODIGO", "CODIGO"), ci("IDX_NOME", "NOME")}},
            {"grupof.db", {"grupof.px"}, {pk({"matricula", "faixa"})}},
            {"mens.db", {"mens.px"}, {pk({"data", "matricula"})}},
            {"permisso.db", {"permisso.px"}, {pk({"login", "senha"})}},
        };
    }();
    return list;
}

TPackTable::TPackTable(QObject* parent) : Table(parent) {}

void TPackTable::pack() {
    const bool wasOpen = isActive();
    disableControls();
    try {
        // The engine packs a table nobody has open.
        if (wasOpen)
            close();
        database()->dialect().pack(*database(), engineTableName(tableName()));
    } catch (const DbError& e) {
        if (onMessage)
            onMessage(e.text());
    }
    if (wasOpen)
        open();
    enableControls();
}

TfmReindexa::TfmReindexa(Database* db, std::function<void(const QString&)> showMessage)
    : db_(db), show_(std::move(showMessage)) {}

MaintenanceReport TfmReindexa::run() {
    MaintenanceReport report;
    TPackTable table;
    table.setObjectName(QStringLiteral("PackTable"));
    table.setDatabase(db_);
    const Dialect& dialect = db_->dialect();
    dialect.beginMaintenance(*db_);
    // However the run ends, the engine's deferred work is done once.
    struct End {
        Database* db;
        const Dialect& dialect;
        const MaintenanceReport& report;
        ~End() {
            try {
                dialect.endMaintenance(*db, report.complete());
            } catch (const DbError&) {
                // The tables are maintained; the log is checkpointed later.
            }
        }
    } end{db_, dialect, report};
    for (const MaintenanceStep& step : maintenanceList()) {
        const QString name = engineTableName(step.table);
        table.close();
        table.setTableName(step.table);
        try {
            dialect.lockExclusive(*db_, name);
            // What stands for the original's index files: the named indexes
            // go, whether they exist or not.
            for (const IndexDef& ix : step.indexes)
                if (!ix.name.isEmpty())
                    db_->exec(QStringLiteral("DROP INDEX IF EXISTS %1")
                                  .arg(Dialect::indexObjectName(name, ix.name)));
            for (const IndexDef& ix : step.indexes)
                table.addIndex(ix);
            db_->exec(QStringLiteral("COMMIT"));
        } catch (const DbError& e) {
            db_->rollback();
            db_->invalidateCatalog();
            report.stoppedAt = name;
            report.error = e.text();
            if (show_)
                show_(e.text());
            return report;
        }
        table.onMessage = [&](const QString& text) {
            report.packErrors << name + QStringLiteral(": ") + text;
            if (show_)
                show_(text);
        };
        table.pack();
        report.maintained << name;
    }
    return report;
}

} // namespace keldo::db
