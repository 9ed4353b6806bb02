#include "../db/test_support.h"
#include "run_keldoctl.h"

#include "db/database.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <atomic>
#include <chrono>
#include <gtest/gtest.h>
#include <thread>

using keldo::testing::TempRoot;

namespace {

using Result = keldo::testing::KeldoctlResult;
using keldo::testing::keldoctl;

void writeFile(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
}

QByteArray readFile(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QByteArray noise(int size) {
    QByteArray b(size, '\0');
    quint32 x = 7;
    for (char& c : b) {
        x = x * 1664525u + 1013904223u;
        c = static_cast<char>(x >> 24);
    }
    return b;
}

TEST(BackupVerbs, BackupCatalogRestoreRoundTrip) {
    TempRoot root;
    const QString data = root.path() + "/dados";
    writeFile(data + "/a.db", QByteArray(10000, 'a'));
    writeFile(data + "/sub/b.db", "bee");
    writeFile(data + "/skip.tmp", "tmp");

    Result b = keldoctl({"backup", "--dest", root.path() + "/bk", "--name", "set.arc", "--include",
                         data + "/*.*/S", "--exclude", "*.tmp", "--key", "chave comprida",
                         "--comment", "teste", "--log", root.path() + "/b.log"});
    ASSERT_EQ(b.status, 0) << b.out.toStdString() << b.err.toStdString();
    EXPECT_TRUE(b.out.contains("Resultado 0"));

    Result c = keldoctl({"catalog", "--archive", root.path() + "/bk/set.arc"});
    ASSERT_EQ(c.status, 0) << c.out.toStdString();
    const QStringList lines = c.out.split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 3) << c.out.toStdString(); // two entries and the result
    const QStringList first = lines[0].split('\t');
    ASSERT_EQ(first.size(), 5);
    EXPECT_EQ(first[0], data + "/a.db");
    EXPECT_EQ(first[1], "10000");
    EXPECT_EQ(first[3], "---A");
    EXPECT_TRUE(lines[1].startsWith(data + "/sub/b.db\t3\t"));

    Result wrongKey = keldoctl(
        {"restore", "--archive", root.path() + "/bk/set.arc", "--to", root.path() + "/out"});
    // Without the key the archive's own flag still decrypts, into garbage: never a success.
    EXPECT_NE(wrongKey.status, 0) << wrongKey.out.toStdString();

    // A wrong key of a valid length: what stood at the target stays, no
    // half-written file is left, and the operator is told why in Portuguese.
    writeFile(root.path() + "/out2/a.db", "antes");
    Result wrong = keldoctl({"restore", "--archive", root.path() + "/bk/set.arc", "--to",
                             root.path() + "/out2", "--key", "chaveerrad"});
    EXPECT_NE(wrong.status, 0) << wrong.out.toStdString();
    EXPECT_EQ(readFile(root.path() + "/out2/a.db"), "antes");
    EXPECT_EQ(QDir(root.path() + "/out2").entryList(QDir::Files | QDir::Hidden),
              QStringList{"a.db"});
    EXPECT_FALSE(QFileInfo::exists(root.path() + "/out2/sub/b.db"));
    EXPECT_TRUE(
        wrong.err.contains(QString::fromUtf8("chave incorreta ou arquivo de backup corrompido: ") +
                           root.path() + "/bk/set.arc"))
        << wrong.err.toStdString();

    Result r = keldoctl({"restore", "--archive", root.path() + "/bk/set.arc", "--to",
                         root.path() + "/out", "--key", "chave comprida"});
    ASSERT_EQ(r.status, 0) << r.out.toStdString() << r.err.toStdString();
    // "/root/dados/a.db" redirected to "/root/out/": the separators of --to are cut.
    const int k = (root.path() + "/out/").count('/');
    const QString rest = (data + "/a.db").section('/', k);
    EXPECT_EQ(readFile(root.path() + "/out/" + rest), QByteArray(10000, 'a'));
}

TEST(BackupVerbs, SpannedVolumesSideBySide) {
    TempRoot root;
    const QString data = root.path() + "/dados";
    writeFile(data + "/big.db", noise(30000));
    Result b = keldoctl({"backup", "--dest", root.path() + "/bk", "--name", "SET", "--include",
                         data + "/big.db", "--level", "quick", "--span", "--volume-size", "10000"});
    ASSERT_EQ(b.status, 0) << b.out.toStdString() << b.err.toStdString();
    const QStringList volumes = QDir(root.path() + "/bk").entryList(QDir::Files, QDir::Name);
    ASSERT_GE(volumes.size(), 4) << volumes.join(' ').toStdString();
    EXPECT_EQ(volumes.first(), "SET.001");
    for (const QString& v : volumes)
        EXPECT_LE(QFileInfo(root.path() + "/bk/" + v).size(), 10000);

    QFile::remove(data + "/big.db");
    Result r =
        keldoctl({"restore", "--archive", root.path() + "/bk/SET.002", "--span", "--to", data});
    ASSERT_EQ(r.status, 0) << r.out.toStdString() << r.err.toStdString();
    EXPECT_EQ(readFile(data + "/big.db"), noise(30000));

    // A missing last volume cannot be "inserted": the run ends instead of asking for ever.
    QFile::remove(root.path() + "/bk/" + volumes.last());
    Result cut = keldoctl({"restore", "--archive", root.path() + "/bk/SET", "--span"});
    EXPECT_EQ(cut.status, 12) << cut.out.toStdString();
    Result none = keldoctl({"catalog", "--archive", root.path() + "/nada/SET", "--span"});
    EXPECT_EQ(none.status, 13) << none.out.toStdString();
}

TEST(BackupVerbs, ResultCodesAndBadOptions) {
    TempRoot root;
    struct {
        QStringList args;
        int status;
        const char* text;
    } cases[] = {
        {{"catalog", "--archive", root.path() + "/missing.arc"},
         7,
         "Error creating the backup archive"},
        {{"backup", "--dest", root.path(), "--name", "a.b", "--include", "x", "--span"},
         1,
         "Error due to illegal values of parameters"},
        {{"backup", "--dest", root.path()}, 1, "Error due to illegal values of parameters"},
        {{"backup", "--dest", root.path(), "--name", "x", "--mode", "special"}, 1, ""},
        {{"restore", "--archive", "x", "--bogus"}, 1, ""},
    };
    for (const auto& c : cases) {
        Result r = keldoctl(c.args);
        EXPECT_EQ(r.status, c.status) << c.args.join(' ').toStdString();
        EXPECT_TRUE(r.out.contains(c.text)) << r.out.toStdString();
    }
    writeFile(root.path() + "/junk.arc", QByteArray(5000, 'j'));
    EXPECT_EQ(keldoctl({"catalog", "--archive", root.path() + "/junk.arc"}).status, 8);

    Result missing = keldoctl({"restore", "--archive", root.path() + "/missing.arc"});
    EXPECT_NE(missing.status, 0);
    EXPECT_TRUE(missing.err.contains(QString::fromUtf8("Arquivo de backup não encontrado: ") +
                                     root.path() + "/missing.arc"))
        << missing.err.toStdString();
}

// A key the format's cipher would throw away protects nothing: refused
// before anything is written. The limits themselves are taken.
TEST(BackupVerbs, KeysThatWouldNotEncryptAreRefused) {
    TempRoot root;
    writeFile(root.path() + "/dados/a.db", QByteArray(1000, 'a'));
    const struct {
        QString key;
        int status;
    } cases[] = {
        {"segredo", 2}, {QString(66, 'k'), 2}, {"", 2}, {"oitochar", 0}, {QString(65, 'k'), 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.key.size());
        const QString name = QStringLiteral("k%1.arc").arg(c.key.size());
        Result r = keldoctl({"backup", "--dest", root.path() + "/bk", "--name", name, "--include",
                             root.path() + "/dados/*.*", "--key", c.key});
        EXPECT_EQ(r.status, c.status) << r.out.toStdString() << r.err.toStdString();
        EXPECT_EQ(QFile::exists(root.path() + "/bk/" + name), c.status == 0);
        if (c.status == 2) {
            EXPECT_TRUE(r.err.contains(QString::fromUtf8("não cifraria nada")))
                << r.err.toStdString();
        }
    }
}

TEST(BackupVerbs, WithoutIncludeTakesTheDatabaseDirectory) {
    TempRoot root;
    ASSERT_EQ(keldoctl({"init-db"}).status, 0);
    Result b = keldoctl({"backup", "--dest", root.path() + "/bk", "--name", "db.arc"});
    ASSERT_EQ(b.status, 0) << b.out.toStdString() << b.err.toStdString();
    Result c = keldoctl({"catalog", "--archive", root.path() + "/bk/db.arc"});
    EXPECT_TRUE(c.out.contains("C:\\KELDORAN32\\DADOS\\keldoran32.sqlite\t"))
        << c.out.toStdString();

    // Restored elsewhere, the database lands directly in the folder named,
    // however deep, and the live one is not touched.
    const QString live = root.path() + "/c/KELDORAN32/DADOS/keldoran32.sqlite";
    const QByteArray before = readFile(live);
    const QDateTime liveTime = QFileInfo(live).lastModified();
    const QString to = root.path() + "/restaurado/a/b/c/d/e/f";
    Result r = keldoctl({"restore", "--archive", root.path() + "/bk/db.arc", "--to", to});
    ASSERT_EQ(r.status, 0) << r.out.toStdString() << r.err.toStdString();
    EXPECT_EQ(readFile(to + "/keldoran32.sqlite").left(15), QByteArray("SQLite format 3"));
    EXPECT_EQ(readFile(live), before);
    EXPECT_EQ(QFileInfo(live).lastModified(), liveTime);
}

// The format's result stays 0 when an entry fails its checksum; the exit
// status and the listing say it. A wrong key on an archive without
// compression decodes to garbage that only the checksum catches.
TEST(BackupVerbs, RestoreWithFailedFilesExitsFourAndListsThem) {
    TempRoot root;
    const QString data = root.path() + "/dados";
    writeFile(data + "/a.db", noise(5000));
    writeFile(data + "/b.db", "bbbb");
    Result b = keldoctl({"backup", "--dest", root.path() + "/bk", "--name", "set.arc", "--include",
                         data + "/*.db", "--level", "none", "--key", "chave-certa"});
    ASSERT_EQ(b.status, 0) << b.out.toStdString() << b.err.toStdString();
    const QString to = root.path() + "/out";
    Result r = keldoctl(
        {"restore", "--archive", root.path() + "/bk/set.arc", "--to", to, "--key", "chave-errada"});
    EXPECT_EQ(r.status, 4) << r.out.toStdString() << r.err.toStdString();
    EXPECT_TRUE(r.out.contains("restaurado com erros: 2 arquivos não foram restaurados"))
        << r.out.toStdString();
    EXPECT_TRUE(r.out.contains(data + "/a.db (CRC checksum")) << r.out.toStdString();
    EXPECT_TRUE(r.out.endsWith("Resultado 0\n")) << r.out.toStdString();

    Result good = keldoctl(
        {"restore", "--archive", root.path() + "/bk/set.arc", "--to", to, "--key", "chave-certa"});
    EXPECT_EQ(good.status, 0) << good.out.toStdString();
    EXPECT_FALSE(good.out.contains("restaurado com erros"));
    EXPECT_EQ(readFile(to + "/a.db"), noise(5000));
}

// The collector's way of writing: one punch per transaction, on its own
// connection, for as long as it runs.
class Collector {
public:
    explicit Collector(const QString& file) : file_(file) {
        thread_ = std::thread([this] { run(); });
        while (inserted_ == 0 && failure_.empty())
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ~Collector() { stop(); }
    void stop() {
        stop_ = true;
        if (thread_.joinable())
            thread_.join();
    }
    int inserted() const { return inserted_; }
    const std::string& failure() const { return failure_; }
    std::chrono::milliseconds longestWait() const { return longest_; }

private:
    void run() {
        try {
            auto db = keldo::db::Database::openSqlite(file_, false);
            for (int i = 0; !stop_; ++i) {
                const auto start = std::chrono::steady_clock::now();
                db->exec("INSERT INTO registro (matricula, data, hora) VALUES (?, ?, ?)",
                         {QStringLiteral("C%1").arg(i), QStringLiteral("2026-12-11"),
                          QStringLiteral("08:00:00")});
                longest_ = std::max(longest_, std::chrono::duration_cast<std::chrono::milliseconds>(
                                                  std::chrono::steady_clock::now() - start));
                ++inserted_;
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
            }
        } catch (const std::exception& e) {
            failure_ = e.what();
        }
    }
    QString file_;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::atomic<int> inserted_{0};
    std::string failure_;
    std::chrono::milliseconds longest_{0};
};

int countOf(keldo::db::Database& db, const char* sql) {
    QSqlQuery q = db.exec(sql);
    return q.next() ? q.value(0).toInt() : -1;
}

QString integrity(keldo::db::Database& db) {
    QSqlQuery q = db.exec("PRAGMA integrity_check");
    return q.next() ? q.value(0).toString() : QString();
}

TEST(BackupVerbs, LiveDatabaseIsArchivedAtOneCommitWhileTheCollectorWrites) {
    TempRoot root;
    ASSERT_EQ(keldoctl({"init-db"}).status, 0);
    const QString live = root.path() + "/c/KELDORAN32/DADOS/keldoran32.sqlite";
    int before = 0;
    {
        // Enough rows that the copy takes a while, most of them still in the
        // write-ahead log where a copy of the file alone would miss them.
        auto db = keldo::db::Database::openSqlite(live, false);
        db->exec("PRAGMA wal_autocheckpoint = 0");
        db->exec("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 30000) "
                 "INSERT INTO registro (matricula, data, hora) "
                 "SELECT 'P' || i, '2026-12-10', '07:00:00' FROM n");
        before = countOf(*db, "SELECT count(*) FROM registro");
    }
    Collector collector(live);
    Result b = keldoctl({"backup", "--dest", root.path() + "/bk", "--name", "db.arc"});
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    collector.stop();
    ASSERT_EQ(b.status, 0) << b.out.toStdString() << b.err.toStdString();
    EXPECT_EQ(collector.failure(), "");
    EXPECT_GT(collector.inserted(), 1);

    // The archive holds the database and none of its journals.
    Result c = keldoctl({"catalog", "--archive", root.path() + "/bk/db.arc"});
    EXPECT_TRUE(c.out.contains("keldoran32.sqlite\t"));
    EXPECT_FALSE(c.out.contains("-wal")) << c.out.toStdString();
    EXPECT_FALSE(c.out.contains("-shm")) << c.out.toStdString();

    const QString to = root.path() + "/restaurado";
    Result r = keldoctl({"restore", "--archive", root.path() + "/bk/db.arc", "--to", to});
    ASSERT_EQ(r.status, 0) << r.out.toStdString() << r.err.toStdString();
    ASSERT_FALSE(QFileInfo::exists(to + "/keldoran32.sqlite-wal"));
    auto restored = keldo::db::Database::openSqlite(to + "/keldoran32.sqlite", false);
    EXPECT_EQ(integrity(*restored), "ok");
    EXPECT_EQ(countOf(*restored, "SELECT count(*) FROM registro WHERE matricula LIKE 'P%'"),
              before);
    // The collector's rows it holds are a prefix: a copy at one commit.
    const int collected =
        countOf(*restored, "SELECT count(*) FROM registro WHERE matricula LIKE 'C%'");
    EXPECT_LE(collected, collector.inserted());
    EXPECT_EQ(countOf(*restored, "SELECT coalesce(max(CAST(substr(matricula, 2) AS INTEGER)) "
                                 "+ 1, 0) FROM registro WHERE matricula LIKE 'C%'"),
              collected);
    // Nothing of the backup is left in the temporary folder.
    EXPECT_TRUE(QDir(root.path() + "/c/WINDOWS/TEMP")
                    .entryList(QDir::Files | QDir::NoDotAndDotDot)
                    .isEmpty());
}

TEST(BackupVerbs, RestoreOverTheLiveDatabaseReachesItsOpenConnections) {
    TempRoot root;
    ASSERT_EQ(keldoctl({"init-db"}).status, 0);
    const QString live = root.path() + "/c/KELDORAN32/DADOS/keldoran32.sqlite";
    auto other = keldo::db::Database::openSqlite(live, false);
    other->exec("INSERT INTO registro (matricula, data, hora) VALUES "
                "('1', '2026-12-01', '08:00:00'), ('1', '2026-12-01', '12:00:00')");
    Result b = keldoctl({"backup", "--dest", root.path() + "/bk", "--name", "db.arc"});
    ASSERT_EQ(b.status, 0) << b.out.toStdString() << b.err.toStdString();
    // Rows of after the backup, still in the log of the connection that
    // stays open through the restore.
    other->exec("PRAGMA wal_autocheckpoint = 0");
    other->exec("INSERT INTO registro (matricula, data, hora) VALUES "
                "('2', '2026-12-02', '08:00:00'), ('2', '2026-12-02', '09:00:00'), "
                "('2', '2026-12-02', '10:00:00')");
    ASSERT_EQ(countOf(*other, "SELECT count(*) FROM registro"), 5);

    Result r = keldoctl({"restore", "--archive", root.path() + "/bk/db.arc", "--log",
                         root.path() + "/restore.log"});
    ASSERT_EQ(r.status, 0) << r.out.toStdString() << r.err.toStdString();
    EXPECT_EQ(countOf(*other, "SELECT count(*) FROM registro"), 2);
    EXPECT_EQ(integrity(*other), "ok");
    auto fresh = keldo::db::Database::openSqlite(live, false);
    EXPECT_EQ(countOf(*fresh, "SELECT count(*) FROM registro"), 2);
    EXPECT_EQ(integrity(*fresh), "ok");
    // The open connection goes on writing into the restored database.
    other->exec("INSERT INTO registro (matricula, data, hora) VALUES ('3', '2026-12-03', "
                "'08:00:00')");
    EXPECT_EQ(countOf(*fresh, "SELECT count(*) FROM registro"), 3);
    EXPECT_TRUE(
        QDir(QFileInfo(live).path()).entryList({"*.keldo-parcial*"}, QDir::Files).isEmpty());
}

TEST(BackupVerbs, RestoredDatabaseThatFailsItsCheckLeavesTheLiveOne) {
    TempRoot root;
    ASSERT_EQ(keldoctl({"init-db"}).status, 0);
    const QString data = root.path() + "/c/KELDORAN32/DADOS";
    const QString live = data + "/keldoran32.sqlite";
    // An archive whose database entry is damaged past its header: it is
    // written, but not a database that passes its check.
    const QString staging = root.path() + "/staging/KELDORAN32/DADOS";
    QByteArray damaged = readFile(live);
    ASSERT_GT(damaged.size(), 8192);
    for (int i = 4096; i < 8192; ++i)
        damaged[i] = char(0x5a);
    writeFile(staging + "/keldoran32.sqlite", damaged);
    Result b = keldoctl({"backup", "--dest", root.path() + "/bk", "--name", "bad.arc", "--include",
                         staging + "/keldoran32.sqlite"});
    ASSERT_EQ(b.status, 0) << b.out.toStdString() << b.err.toStdString();
    // Restoring it to the live file's folder.
    const QByteArray before = readFile(live);
    Result r = keldoctl({"restore", "--archive", root.path() + "/bk/bad.arc", "--to", data, "--log",
                         root.path() + "/restore.log"});
    EXPECT_EQ(readFile(live), before);
    EXPECT_TRUE(readFile(root.path() + "/restore.log").contains("integridade"))
        << readFile(root.path() + "/restore.log").toStdString();
    auto db = keldo::db::Database::openSqlite(live, false);
    EXPECT_EQ(integrity(*db), "ok");
}

} // namespace
