// TDDados, the data module: the session state and every shared table and
// query component, for the whole run. Windows work on these components, so
// the current row, the order and the query text of each are shared.
//
// The session start-up (splash, login, windows) belongs to the program; the
// steps that concern the data are here, to be called in this order:
//
//   TDDados dm(engine);
//   dm.resolveDatabaseDirectory();     // step 1
//   dm.runMaintenance(showError);      // step 3
//   dm.takeStartupDirectory();         // step 4
//   dm.createIniHandle();              // step 5
//   dm.readSessionFolders();           // step 7
//   dm.bindComponents();               // steps 9 and 10
//   dm.bindTemporary();                // step 12
//   dm.openPermisso();                 // step 13
//   dm.openSessionTables(progress);    // step 16
#pragma once

#include "dataset.h"
#include "maintenance.h"
#include "platform/engine_config.h"
#include "platform/ini_file.h"

#include <QObject>
#include <functional>
#include <memory>

namespace keldo::db {

struct SessionState {
    QString databaseDirectory; // ends in a backslash (or '/' when native); may be empty
    QString startupDirectory;  // current directory at start, with its separator
    std::unique_ptr<platform::IniFile> ini; // KELDO32.INI in the Windows directory
    QString photoFolder;                    // ends in its separator
    QString fingerprintFolder;              // without a trailing separator
    bool fingerprintsInUse = false;
    bool boundToAlias = false;  // every component bound to Keldoran32
    QString temporaryDirectory; // the Windows directory plus "\TEMP"
    QString login;
    QString password;
    bool photoDisplay = false; // on while the employee window is open
};

class TDDados : public QObject {
    Q_OBJECT
public:
    explicit TDDados(platform::EngineConfig& engine, QObject* parent = nullptr);
    ~TDDados() override;

    SessionState& session() { return session_; }
    platform::EngineConfig& engine() { return engine_; }

    // --- session start-up steps that belong to the data
    void resolveDatabaseDirectory();
    // Runs the table maintenance on the alias's database; errors go to the
    // sink (and end the maintenance as the maintenance decides). A database
    // that cannot be reached is reported the same way.
    MaintenanceReport runMaintenance(const std::function<void(const QString&)>& showError);
    void takeStartupDirectory();
    void createIniHandle();
    void readSessionFolders();
    // Connects to the alias (creating the delivered database in an empty
    // SQLite database directory) and binds every component to it.
    void bindComponents();
    void bindTemporary();
    // Opens tbPermisso; an empty table gets one empty operator row.
    void openPermisso();
    // Opens the six session tables, telling `progress` each one's text first.
    void openSessionTables(const std::function<void(const QString&)>& progress = {});

    // The connection behind the alias (opened on first use) and the one of
    // the temporary directory.
    Database& database();
    Database* temporaryDatabase() { return temp_.get(); }
    bool isConnected() const { return db_ != nullptr; }
    // Whether the first connection gives an SQLite database directory
    // without a database file the delivered database (the program's first
    // start) or fails (keldoctl). On by default.
    void setCreateWhenMissing(bool on) { createWhenMissing_ = on; }
    // "SQLite" or "PostgreSQL" once bound.
    QString engineName() const;

    // How the rules of the module tell the operator why they refused a change
    // (the program shows an information box). The refusal itself is thrown
    // as a Refusal carrying the same text, whether or not this is set.
    std::function<void(const QString&)> tellOperator;

    // Where the employee window shows the current employee's photo while the
    // photo display switch is on: called on every data change of dsFuncs
    // with the native path of the photo (empty when the row names none).
    std::function<void(const QString& photoFile)> showEmployeePhoto;
    // The native path of a photo named by `imagem`: the photo folder holds it.
    QString employeePhotoFile(const QString& imagem) const;
    // The employee's fingerprint file in the fingerprint folder, whatever the
    // letter case of its ".DIG"; empty when there is none.
    QString fingerprintFile(const QString& matricula) const;
    // The lowest company code from 1 not used yet; leaves tbAux open on
    // empresa in code order, as the code search always did.
    int firstFreeCompanyCode();

    // Every dataset of the module, in the order the backup entry closes them.
    QList<DataSet*> dataSets() const;

    // --- components
    Table* tbFuncs;
    DataSource* dsFuncs;
    Table* tbEmpresas;
    Table* tbFaixaH;
    Table* tbGrupof;
    Table* tbFeriados;
    Table* tbMens;
    Table* tbPermisso;
    Table* tbSirene;
    Table* tbRegistros;
    Table* tbLayOut;
    Table* tbAux;
    Table* tbTemp;
    Query* qyTemp;
    Query* qyGrupof;
    Query* qyPontos;
    Query* qyExporta;
    Query* qyEmpresas;
    Query* qyAux;
    Query* qySQL;
    Query* qyApaga;
    Query* qyPontos2;
    Query* qyFuncs;
    Query* qyCria;

private:
    void installEmployeeRules();
    void installCompanyRules();
    [[noreturn]] void refuse(const QString& text);
    Table* table(const char* name, const char* tableName);
    Query* query(const char* name, const QStringList& lines);

    platform::EngineConfig& engine_;
    SessionState session_;
    bool createWhenMissing_ = true;
    std::unique_ptr<Database> db_;
    std::unique_ptr<Database> temp_;
    QList<Table*> tables_;
    QList<Query*> queries_;
};

} // namespace keldo::db
