// Table maintenance, run silently at every start before the login: each
// registry table is taken exclusively, its indexes rebuilt (the named
// secondary ones dropped and created again, the primary rebuilt) and the
// space of its deleted rows given back.
//
//   TfmReindexa form(&db, [&](const QString& text) { prompter.error(text); });
//   MaintenanceReport r = form.run();
//
// An error while taking a table or building its indexes ends the maintenance
// at that table (the ones after it are not touched); an error of the pack is
// reported and the maintenance goes on. registro, layoutar and sirene are
// never maintained: their cost would grow with every punch.
#pragma once

#include "dataset.h"

#include <functional>

namespace keldo::db {

struct MaintenanceStep {
    QString table;           // "empresa.db"
    QStringList indexFiles;  // the original's index files ("empresa.xg0"), for the record
    QList<IndexDef> indexes; // in creation order; the primary (no name) first
};

// The tables maintained, in the order processed.
const QList<MaintenanceStep>& maintenanceList();

// A table component that can pack its table.
class TPackTable : public Table {
    Q_OBJECT
public:
    explicit TPackTable(QObject* parent = nullptr);
    // Gives the space of deleted rows back and leaves the component open or
    // closed as it was. An engine error is passed to the message sink (a
    // plain message with the engine's text) and not thrown.
    void pack();
    std::function<void(const QString&)> onMessage;
};

struct MaintenanceReport {
    QStringList maintained; // tables fully done, in order
    QString stoppedAt;      // the table at which an error ended the maintenance
    QString error;          // the engine's text of that error
    QStringList packErrors; // "table: text" of packs that failed
    bool complete() const { return stoppedAt.isEmpty(); }
};

// The maintenance form: never shown; it runs the maintenance and reports
// errors through the sink it is given.
class TfmReindexa {
public:
    TfmReindexa(Database* db, std::function<void(const QString&)> showMessage);
    MaintenanceReport run();

private:
    Database* db_;
    std::function<void(const QString&)> show_;
};

} // namespace keldo::db
