// The live SQLite database copied out and brought back in while other
// programs hold it open. The collector writes punches at any moment, so a
// backup must not read the file byte by byte (it may hold half a commit, or
// lack what still sits in its write-ahead log) and a restore must not write
// over it (the other connections would keep reading their old pages and
// WAL). Both go through SQLite's online backup, which works page by page
// inside the engine's own locking.
//
//   const QString copy = copyLiveDatabase(live, "/tmp/x");   // before the archive's data pass
//   bringInDatabase(restoredFile, live);                     // instead of renaming over live
#pragma once

#include <QString>
#include <QStringList>

namespace keldo::db {

// The files beside a database file that belong to its present state (write-ahead log, its
// index, a rollback journal): they must never be archived or restored with a copy.
QStringList sqliteJournalSuffixes();

// Copies the database at `liveFile` into a new file in `folder`, as it stood at one commit,
// and returns the copy's path. Readers never block writers in WAL mode and the copy reads
// under one read transaction, so a writer goes on meanwhile; the live file is switched to
// WAL first if it is not (the program opens it so anyway). Throws DbError (Portuguese).
QString copyLiveDatabase(const QString& liveFile, const QString& folder);

// Checks `restored` (PRAGMA integrity_check) and brings its contents into the database at
// `liveFile` in one write transaction: connections that hold the live database read the
// restored rows afterwards and nothing of its old log survives. A live file that is not a
// database at all (damaged beyond opening) is replaced by renaming, its journals removed.
// Throws DbError (Portuguese) and leaves the live database as it was when the restored
// file fails its check or the write lock cannot be had.
void bringInDatabase(const QString& restored, const QString& liveFile);

} // namespace keldo::db
