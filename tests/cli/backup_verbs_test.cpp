#include "../db/test_support.h"
#include "run_keldoctl.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

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
    Result r = keldoctl({"restore", "--archive", root.path() + "/bk/SET.002", "--span"});
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

} // namespace
