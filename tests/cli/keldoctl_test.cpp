#include "../db/test_support.h"
#include "db/location.h"
#include "run_keldoctl.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <fcntl.h>
#include <functional>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace keldo;
using keldo::testing::TempRoot;
using keldo::testing::TestDatabase;

namespace {

using Result = keldo::testing::KeldoctlResult;
using keldo::testing::keldoctl;

TEST(Keldoctl, HelpListsTheVerbs) {
    Result r = keldoctl({"--help"});
    EXPECT_EQ(r.status, 0);
    for (const char* verb : {"init-db", "maintain", "sql"})
        EXPECT_TRUE(r.out.contains(verb)) << verb;
    EXPECT_EQ(keldoctl({"nada"}).status, 2);
}

TEST(Keldoctl, InitDbCreatesTheDemoInstallationOnceAndRefusesAfterwards) {
    if (keldo::testing::onPostgres())
        GTEST_SKIP() << "init-db on PostgreSQL is the same code after the connection";
    TempRoot root;
    Result r = keldoctl({"init-db", "--demo"});
    ASSERT_EQ(r.status, 0) << r.err.toStdString();
    const QString file = root.path() + "/c/KELDORAN32/DADOS/keldoran32.sqlite";
    EXPECT_TRUE(r.out.contains(file)) << r.out.toStdString();
    EXPECT_TRUE(QFile::exists(file));

    Result counts = keldoctl({"sql", "--rows",
                              "select (select count(*) from empresa), (select count(*) from "
                              "funciona), (select count(*) from permisso), (select count(*) from "
                              "anormal) > 0, (select count(*) from registro) > 1000"});
    ASSERT_EQ(counts.status, 0) << counts.err.toStdString();
    EXPECT_EQ(counts.out.split('\n')[1], "3\t40\t1\t1\t1");

    const QByteArray before = [&] {
        QFile f(file);
        f.open(QIODevice::ReadOnly);
        return f.readAll();
    }();
    Result again = keldoctl({"init-db"});
    EXPECT_EQ(again.status, 1);
    EXPECT_TRUE(again.err.contains(QString::fromUtf8("Já existe"))) << again.err.toStdString();
    QFile f(file);
    f.open(QIODevice::ReadOnly);
    EXPECT_EQ(f.readAll(), before);
}

class KeldoctlOnDatabase : public ::testing::Test {
protected:
    TestDatabase tdb;
    void SetUp() override { tdb.writeAlias(); }
};

TEST_F(KeldoctlOnDatabase, SqlRunsLikeTheSupportConsole) {
    tdb->exec("INSERT INTO mens (data, matricula, Observacao) VALUES ('2026-01-05', '1', 'Oi')");
    Result r = keldoctl({"sql", "delete from mens"});
    EXPECT_EQ(r.status, 0) << r.err.toStdString();
    EXPECT_EQ(r.out, "Pronto!\n");
    EXPECT_EQ(tdb->scalar("select count(*) from mens").toInt(), 0);

    Result bad = keldoctl({"sql", "delete from nada_disso"});
    EXPECT_EQ(bad.status, 1);
    EXPECT_TRUE(bad.out.isEmpty());
    EXPECT_TRUE(bad.err.contains("nada_disso")) << bad.err.toStdString();

    Result empty = keldoctl({"sql", "  "});
    EXPECT_EQ(empty.status, 1);
    EXPECT_FALSE(empty.err.isEmpty());
}

TEST_F(KeldoctlOnDatabase, SqlRowsPrintsAHeaderAndTabSeparatedLines) {
    tdb->exec("INSERT INTO empresa (codigo, nome) VALUES (2, 'Beta'), (1, 'álfa')");
    QFile f(tdb.root() + "/q.sql");
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("select codigo, nome from empresa\norder by nome collate KELDO_CI");
    f.close();
    Result r = keldoctl({"sql", "--rows", "--file", f.fileName()});
    ASSERT_EQ(r.status, 0) << r.err.toStdString();
    EXPECT_EQ(r.out, QString::fromUtf8("codigo\tnome\n1\tálfa\n2\tBeta\n"));
}

// Everything that can be read from a descriptor until its writers are gone (or, for
// one that does not wait, until nothing is left).
QByteArray drain(int fd) {
    QByteArray got;
    char buffer[4096];
    ssize_t n;
    while ((n = ::read(fd, buffer, sizeof buffer)) > 0)
        got.append(buffer, qsizetype(n));
    return got;
}

// What `work` wrote to the process's standard output, which meanwhile is a pipe (as
// under "keldoctl ... | programa").
QByteArray capturedStdout(const std::function<void()>& work) {
    std::fflush(stdout);
    int ends[2];
    if (::pipe(ends) != 0)
        return "pipe failed";
    const int saved = ::dup(STDOUT_FILENO);
    ::dup2(ends[1], STDOUT_FILENO);
    ::close(ends[1]);
    QByteArray got;
    std::thread reader([&] { got = drain(ends[0]); });
    work();
    std::fflush(stdout);
    ::dup2(saved, STDOUT_FILENO); // the last write end goes: the reader sees the end
    ::close(saved);
    reader.join();
    ::close(ends[0]);
    return got;
}

QByteArray fileBytes(const QString& name) {
    QFile f(name);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("(não existe)");
}

// An export given a link to a file elsewhere, a link to a FIFO or the standard output
// writes what it writes into a plain file, and leaves the link a link, the FIFO a FIFO.
TEST_F(KeldoctlOnDatabase, ExportsWriteThroughLinksFifosAndStandardOutput) {
    tdb->exec("INSERT INTO empresa (codigo, nome) VALUES (1, 'Alfa')");
    tdb->exec("INSERT INTO funciona (matricula, codigo, nome, empresa) VALUES "
              "('10', '100', 'Ana', 1), ('20', '200', 'Bruno', 1)");
    tdb->exec("INSERT INTO registro (matricula, data, hora) VALUES ('10', ?, ?), ('20', ?, ?)",
              {QDate(2026, 3, 2), QTime(8, 0), QDate(2026, 3, 3), QTime(17, 30)});
    const QDir root(tdb.root());
    root.mkpath("exporta");
    root.mkpath("outra");
    const QString folder = root.filePath("exporta"), other = root.filePath("outra");

    const struct {
        const char* verb;
        QStringList args; // before --out
        const char* extension;
        const char* says;
    } verbs[] = {
        {"export-employees", {}, ".txt", "Colaboradores exportados: 2"},
        {"export-punches",
         {"--from", "01/03/2026", "--to", "31/03/2026", "--pto"},
         ".pto",
         "Registros exportados: 2"},
    };
    for (const auto& v : verbs) {
        SCOPED_TRACE(v.verb);
        const QStringList command = QStringList{v.verb} + v.args << "--out";
        const QString reference = other + "/referencia" + v.extension;
        Result r = keldoctl(command + QStringList{reference});
        ASSERT_EQ(r.status, 0) << r.err.toStdString();
        const QByteArray expected = fileBytes(reference);
        ASSERT_FALSE(expected.isEmpty());

        // A link to a file in another folder: that file gets the export.
        const QString real = other + "/real" + v.extension;
        QFile old(real);
        ASSERT_TRUE(old.open(QIODevice::WriteOnly));
        old.write("antigo");
        old.close();
        const QString link = folder + "/fora" + v.extension;
        ASSERT_TRUE(QFile::link(real, link));
        r = keldoctl(command + QStringList{link});
        ASSERT_EQ(r.status, 0) << r.err.toStdString();
        EXPECT_EQ(fileBytes(real), expected);
        EXPECT_EQ(QFileInfo(link).symLinkTarget(), real);

        // A link to a FIFO, named without extension: the FIFO's reader gets the export.
        const QString fifo = other + "/canal-" + v.verb;
        ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
        const QString toFifo = folder + "/canal";
        ASSERT_TRUE(QFile::link(fifo, toFifo));
        // The reader is there before the export, without waiting for it; the export
        // is small enough for the FIFO's buffer, so it is read once keldoctl is done.
        // A FIFO that the export replaced would give nothing rather than hang.
        const int reader = ::open(QFile::encodeName(fifo).constData(), O_RDONLY | O_NONBLOCK);
        ASSERT_GE(reader, 0);
        r = keldoctl(command + QStringList{toFifo});
        const QByteArray received = drain(reader);
        ::close(reader);
        EXPECT_EQ(r.status, 0) << r.err.toStdString();
        EXPECT_EQ(received, expected);
        struct stat info {};
        ASSERT_EQ(::stat(QFile::encodeName(fifo).constData(), &info), 0);
        EXPECT_TRUE(S_ISFIFO(info.st_mode));
        EXPECT_EQ(QDir(folder).entryList(QDir::Files | QDir::System | QDir::Hidden),
                  (QStringList{"canal", QString("fora") + v.extension}));
        QFile::remove(toFifo);
        QFile::remove(link);

        // The standard output prints the export alone; the summary goes to stderr.
        const QByteArray printed =
            capturedStdout([&] { r = keldoctl(command + QStringList{"/dev/stdout"}); });
        EXPECT_EQ(r.status, 0) << r.err.toStdString();
        EXPECT_EQ(printed, expected);
        EXPECT_EQ(r.out, "");
        EXPECT_TRUE(r.err.contains(v.says)) << r.err.toStdString();
    }
}

// "--help" asks for help only as the verb or right after it; anywhere else it is an
// option's value or an unknown argument, and the verb does what the rest of the line says.
TEST_F(KeldoctlOnDatabase, HelpOnlyAsTheVerbOrItsFirstOption) {
    tdb->exec("INSERT INTO funciona (matricula, codigo, nome) VALUES ('10', '100', 'Ana')");
    const QString cwd = tdb.root() + "/cwd";
    QDir().mkpath(cwd);
    const QString before = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(cwd));
    const struct {
        QStringList args;
        int status;
        const char* out; // what the output starts with; "" for nothing at all
        const char* err; // what stderr contains
        QStringList written;
    } cases[] = {
        {{"--help"}, 0, "Uso: keldoctl VERBO", "", {}},
        {{"export-employees", "--help"}, 0, "Uso: keldoctl export-employees", "", {}},
        {{"export-employees", "--out", "--help"},
         0,
         "Colaboradores exportados: 1",
         "",
         {"--help.txt"}},
        {{"export-employees", "--out", "saida.txt", "--help"},
         2,
         "",
         "argumento inesperado: --help",
         {}},
        {{"export-employees", "--company", "--help", "--out", "saida.txt"},
         1,
         "",
         "Empresa não encontrada: \"--help\"",
         {}},
        {{"export-employees", "--out"}, 2, "", "falta o valor de --out", {}},
        {{"export-punches", "--from", "--help", "--to", "31/03/2026", "--out", "p.txt"},
         2,
         "",
         "data inválida em --from: \"--help\"",
         {}},
        {{"export-punches", "--from", "01/03/2026", "--to", "31/03/2026", "--out", "p.pto",
          "--help"},
         2,
         "",
         "opção desconhecida: --help",
         {}},
        {{"import-employees", "--file", "--help"}, 1, "", "--help", {}},
        {{"sql", "--file", "--help"}, 1, "", "Não foi possível ler --help", {}},
        {{"sql", "select 1", "--help"}, 2, "", "argumento inesperado: --help", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.join(' ').toStdString());
        const Result r = keldoctl(c.args);
        EXPECT_EQ(r.status, c.status) << r.err.toStdString();
        if (*c.out == '\0')
            EXPECT_EQ(r.out, "");
        else
            EXPECT_TRUE(r.out.startsWith(QString::fromUtf8(c.out))) << r.out.toStdString();
        EXPECT_TRUE(r.err.contains(QString::fromUtf8(c.err))) << r.err.toStdString();
        EXPECT_EQ(QDir(cwd).entryList(QDir::Files), c.written);
        for (const QString& f : c.written)
            QFile::remove(f);
    }
    QDir::setCurrent(before);
}

TEST_F(KeldoctlOnDatabase, MaintainSaysWhatItDid) {
    Result r = keldoctl({"maintain"});
    EXPECT_EQ(r.status, 0) << r.err.toStdString();
    EXPECT_EQ(r.out.count('\n'), 8);
    EXPECT_TRUE(r.out.startsWith("Tabela anormal")) << r.out.toStdString();
}

} // namespace
