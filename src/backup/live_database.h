// The installation's own database around one run of the engine. keldoctl and
// the backup window both wrap their runs in it, so the database is archived
// and restored the same way whichever started the run.
//
//   LiveDatabase live(engineConfig);
//   live.prepareBackup(e);  e.Backup();     // the archive holds a consistent copy
//   live.prepareRestore(e); e.Restore();    // an entry for the live file is brought in
#pragma once

#include "backup/backup_engine.h"
#include "platform/engine_config.h"

#include <QString>

namespace keldo::backup {

class LiveDatabase {
public:
    // Resolves the alias. A PostgreSQL installation has no database file to
    // guard. Throws db::DbError when the alias cannot be resolved.
    explicit LiveDatabase(platform::EngineConfig& engine);
    // Removes the copy taken for a backup.
    ~LiveDatabase();
    LiveDatabase(const LiveDatabase&) = delete;
    LiveDatabase& operator=(const LiveDatabase&) = delete;

    // Before Backup: copies the live database (when there is one) into the
    // temporary folder at one commit and gives the engine the copy in place
    // of the file, its journals left out. Throws db::DbError.
    void prepareBackup(TUBackPro& e);
    // Before Restore: an entry whose target is the live database file is
    // checked and brought into it through the engine instead of renamed over
    // it; other entries, database files elsewhere included, are written as
    // the engine writes them.
    void prepareRestore(TUBackPro& e);

    // Whether the file at `nativePath` is one of the live database's
    // journals, which a backup leaves out (a list of the database directory
    // names the files to archive without them).
    bool isJournal(const QString& nativePath) const;

    // The native path of the live database file; empty on PostgreSQL.
    const QString& file() const { return file_; }

private:
    QString file_;
    QString copy_;
};

} // namespace keldo::backup
