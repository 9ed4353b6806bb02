#include "db/location.h"
#include "platform/paths.h"
#include "test_support.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

using namespace keldo;
using keldo::testing::TempRoot;

namespace {

void writeConfig(const QString& root, const char* text) {
    QFile f(QDir(root).filePath("engine.cfg"));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(text);
}

TEST(AliasLocation, AbsentAliasIsAddedForTheRunWithTheDefaultDirectory) {
    TempRoot root;
    platform::EngineConfig engine;
    db::ensureRunAlias(engine); // the main window's step
    EXPECT_EQ(db::resolveDatabaseDirectory(engine), "C:\\KELDORAN32\\DADOS\\");
    EXPECT_TRUE(engine.aliasExists("keldoran32"));
    EXPECT_FALSE(QFile::exists(QDir(root.path()).filePath("engine.cfg"))); // not saved
    db::AliasConnection c = db::aliasConnection(engine);
    EXPECT_EQ(c.engine, db::Engine::Sqlite);
    EXPECT_EQ(c.sqliteFile, root.path() + "/c/KELDORAN32/DADOS/keldoran32.sqlite");
}

TEST(AliasLocation, AliasWithoutParametersUsesTheProgramFolder) {
    TempRoot root;
    writeConfig(root.path(), "[KELDORAN32]\r\n\r\n[Outro]\r\nPATH=C:\\X\r\n");
    platform::EngineConfig engine;
    db::ensureRunAlias(engine);
    EXPECT_EQ(db::resolveDatabaseDirectory(engine), "C:\\KELDORAN32\\dados\\");
    // Table access still goes through the alias, to the same folder.
    EXPECT_EQ(db::aliasConnection(engine).sqliteFile,
              root.path() + "/c/KELDORAN32/dados/keldoran32.sqlite");
}

TEST(AliasLocation, PathIsFoundByNameAndNativePathsWork) {
    TempRoot root;
    writeConfig(root.path(), "[Keldoran32]\r\nDEFAULT DRIVER=SQLITE\r\nPATH=/srv/ponto\r\n");
    platform::EngineConfig engine;
    EXPECT_EQ(db::resolveDatabaseDirectory(engine), "/srv/ponto/");
    EXPECT_EQ(db::aliasConnection(engine).sqliteFile, "/srv/ponto/keldoran32.sqlite");
}

TEST(AliasLocation, UnreadableConfigurationGivesAnEmptyDirectoryAndAStandardAlias) {
    TempRoot root;
    ASSERT_TRUE(QDir(root.path()).mkdir("engine.cfg")); // cannot be read at all
    platform::EngineConfig engine;
    db::ensureRunAlias(engine);
    EXPECT_EQ(db::resolveDatabaseDirectory(engine), "");
    // The standard alias could not be saved, but the run knows it.
    EXPECT_EQ(db::aliasConnection(engine).sqliteFile,
              root.path() + "/c/keldoran32/DADOS/keldoran32.sqlite");
}

TEST(AliasLocation, AliasUnknownAtTheDataModuleIsSavedForTheNextStart) {
    TempRoot root;
    platform::EngineConfig engine; // no main window step: nothing added for the run
    EXPECT_EQ(db::resolveDatabaseDirectory(engine), "");
    platform::EngineConfig next;
    EXPECT_EQ(db::resolveDatabaseDirectory(next), "C:\\keldoran32\\DADOS\\");
}

TEST(AliasLocation, UnknownDriverIsAnError) {
    TempRoot root;
    writeConfig(root.path(), "[Keldoran32]\r\nPATH=C:\\D\r\nDEFAULT DRIVER=ORACLE\r\n");
    platform::EngineConfig engine;
    EXPECT_THROW(db::aliasConnection(engine), db::DbError);
}

} // namespace
