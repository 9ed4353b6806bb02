#include "database_copy.h"

#include "database.h"
#include "errors.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUrl>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <sqlite3.h>
#include <thread>
#include <unistd.h>

namespace keldo::db {
namespace {

// How long a bring-in waits for the write lock before it gives up: the
// collector's transactions are short, so this is only ever reached when
// something holds the database for good.
constexpr auto kWriteLockPatience = std::chrono::seconds(30);

class Connection {
public:
    Connection(const QString& uri, int flags, const QString& shown) : shown_(shown) {
        const int rc =
            sqlite3_open_v2(uri.toUtf8().constData(), &h_, flags | SQLITE_OPEN_URI, nullptr);
        if (rc != SQLITE_OK)
            fail(QStringLiteral("Não foi possível abrir %1").arg(shown_));
        sqlite3_busy_timeout(h_, Database::kBusyTimeoutMs);
        installSqliteFunctions(h_);
    }
    ~Connection() { sqlite3_close_v2(h_); }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    sqlite3* handle() const { return h_; }

    // The first column of the statement's rows, joined by new lines.
    QString text(const char* sql, int* rc = nullptr) const {
        sqlite3_stmt* stmt = nullptr;
        int r = sqlite3_prepare_v2(h_, sql, -1, &stmt, nullptr);
        QStringList rows;
        while (r == SQLITE_OK || r == SQLITE_ROW) {
            r = sqlite3_step(stmt);
            if (r == SQLITE_ROW)
                rows << QString::fromUtf8(
                    reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0)));
        }
        sqlite3_finalize(stmt);
        if (rc)
            *rc = r == SQLITE_DONE ? SQLITE_OK : r;
        else if (r != SQLITE_DONE)
            fail(QStringLiteral("Lendo %1").arg(shown_));
        return rows.join(QLatin1Char('\n'));
    }

    [[noreturn]] void fail(const QString& what) const {
        throw DbError(QStringLiteral("%1 (%2)").arg(what, h_ ? QString::fromUtf8(sqlite3_errmsg(h_))
                                                             : QStringLiteral("sem memória")));
    }

private:
    sqlite3* h_ = nullptr;
    QString shown_;
};

QString fileUri(const QString& file, const char* parameters) {
    const QByteArray path = QUrl::toPercentEncoding(QFileInfo(file).absoluteFilePath(), "/");
    return QStringLiteral("file:%1?%2").arg(QString::fromLatin1(path), QLatin1String(parameters));
}

bool isBusy(int rc) {
    return (rc & 0xff) == SQLITE_BUSY || (rc & 0xff) == SQLITE_LOCKED;
}

// A whole-database copy from `from` into `to`: one step, so that it reads
// under a single read transaction (a step-by-step copy would start over at
// every commit of another connection, and never end beside a busy collector).
// A lock held by another connection is waited out, up to kWriteLockPatience.
int copyPages(sqlite3* to, sqlite3* from) {
    const auto giveUp = std::chrono::steady_clock::now() + kWriteLockPatience;
    for (;;) {
        sqlite3_backup* b = sqlite3_backup_init(to, "main", from, "main");
        if (!b)
            return sqlite3_errcode(to);
        int rc = sqlite3_backup_step(b, -1);
        const int finished = sqlite3_backup_finish(b);
        if (rc == SQLITE_DONE)
            rc = finished;
        if (rc == SQLITE_DONE)
            return SQLITE_OK;
        if (!isBusy(rc) || std::chrono::steady_clock::now() >= giveUp)
            return rc;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

} // namespace

QStringList sqliteJournalSuffixes() {
    return {QStringLiteral("-wal"), QStringLiteral("-shm"), QStringLiteral("-journal")};
}

QString copyLiveDatabase(const QString& liveFile, const QString& folder) {
    if (!QFileInfo::exists(liveFile))
        throw DbError(QStringLiteral("Banco de dados não encontrado: %1").arg(liveFile));
    if (!QDir().mkpath(folder))
        throw DbError(QStringLiteral("Não foi possível criar a pasta temporária %1").arg(folder));
    const QString copy = QDir(folder).filePath(
        QStringLiteral("%1.copia-%2-%3")
            .arg(QFileInfo(liveFile).fileName())
            .arg(::getpid())
            .arg(std::chrono::steady_clock::now().time_since_epoch().count()));
    Connection live(fileUri(liveFile, "mode=rw"), SQLITE_OPEN_READWRITE, liveFile);
    // In rollback mode the copy's read lock would hold back every writer
    // until the copy ends.
    if (live.text("PRAGMA journal_mode").compare(QLatin1String("wal"), Qt::CaseInsensitive) != 0)
        live.text("PRAGMA journal_mode = WAL");
    {
        Connection out(fileUri(copy, "mode=rwc"), SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, copy);
        // The copy is a scratch file until it is archived: no journal is needed.
        out.text("PRAGMA journal_mode = OFF");
        out.text("PRAGMA synchronous = OFF");
        const int rc = copyPages(out.handle(), live.handle());
        if (rc != SQLITE_OK) {
            QFile::remove(copy);
            throw DbError(QStringLiteral("Não foi possível copiar o banco de dados %1 (%2)")
                              .arg(liveFile, QString::fromUtf8(sqlite3_errstr(rc))));
        }
    }
    return copy;
}

void bringInDatabase(const QString& restored, const QString& liveFile) {
    {
        // Nothing may write the restored file while it is checked: it is opened as
        // immutable, which also keeps SQLite from putting a log beside it.
        Connection in(fileUri(restored, "mode=ro&immutable=1"), SQLITE_OPEN_READONLY, restored);
        int rc = SQLITE_OK;
        const QString verdict = in.text("PRAGMA integrity_check", &rc);
        if (rc != SQLITE_OK || verdict != QLatin1String("ok"))
            throw DbError(QStringLiteral("O banco de dados restaurado não passou na verificação de "
                                         "integridade (%1); o banco de dados atual %2 foi mantido.")
                              .arg(rc != SQLITE_OK ? QString::fromUtf8(sqlite3_errstr(rc))
                                                   : verdict.section(QLatin1Char('\n'), 0, 0),
                                   liveFile));

        Connection live(fileUri(liveFile, "mode=rw"), SQLITE_OPEN_READWRITE, liveFile);
        int readable = SQLITE_OK;
        live.text("SELECT count(*) FROM sqlite_master", &readable);
        if ((readable & 0xff) == SQLITE_NOTADB || (readable & 0xff) == SQLITE_CORRUPT) {
            // No connection can be using a file the engine cannot read; its
            // journals belong to whatever it was and must not be replayed
            // over the restored file.
            for (const QString& suffix : sqliteJournalSuffixes())
                QFile::remove(liveFile + suffix);
            if (::rename(QFile::encodeName(restored).constData(),
                         QFile::encodeName(liveFile).constData()) != 0)
                throw DbError(QStringLiteral("Não foi possível substituir %1 (%2)")
                                  .arg(liveFile, QString::fromLocal8Bit(strerror(errno))));
            return;
        }
        // A database in WAL mode keeps its page size; the engine would only
        // say it is read-only.
        const QString inPage = in.text("PRAGMA page_size"),
                      livePage = live.text("PRAGMA page_size");
        if (inPage != livePage)
            throw DbError(QStringLiteral("O banco de dados restaurado tem páginas de %1 bytes e o "
                                         "atual %2 de %3 bytes, que não mudam enquanto ele está em "
                                         "uso; o banco de dados atual foi mantido.")
                              .arg(inPage, liveFile, livePage));
        rc = copyPages(live.handle(), in.handle());
        if (rc != SQLITE_OK)
            throw DbError(QStringLiteral("Não foi possível restaurar o banco de dados %1 (%2); o "
                                         "banco de dados atual foi mantido.")
                              .arg(liveFile, QString::fromUtf8(sqlite3_errstr(rc))));
        // The log now holds the restored pages; folding it into the file
        // keeps it from growing to the database's size. Readers may hold it
        // back, which leaves the restored state just as readable.
        int ignored = SQLITE_OK;
        live.text("PRAGMA wal_checkpoint(TRUNCATE)", &ignored);
    }
}

} // namespace keldo::db
