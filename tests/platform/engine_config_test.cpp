#include "platform/engine_config.h"

#include "temp_root.h"

#include <gtest/gtest.h>

#include <unistd.h>

namespace fs = std::filesystem;

namespace keldo::platform {
namespace {

using testing::readBytes;
using testing::TempRoot;
using testing::writeBytes;

const char* const kConfig = "[Keldoran32]\r\n"
                            "PATH=C:\\KELDORAN32\\DADOS\r\n"
                            "DEFAULT DRIVER=SQLITE\r\n"
                            "\r\n"
                            "[Vazio]\r\n"
                            "\r\n"
                            "[REDE]\r\n"
                            "DEFAULT DRIVER=POSTGRESQL\r\n"
                            "HOST = servidor\r\n"
                            "PORT=5432\r\n"
                            "DATABASE=ponto\r\n"
                            "USER=keldo\r\n"
                            "PASSWORD=\"s3 cr=t\"\r\n";

class EngineConfigTest : public ::testing::Test {
protected:
    fs::path cfg() const { return root_.path() / "engine.cfg"; }
    TempRoot root_;
};

TEST_F(EngineConfigTest, ReadsAliasParametersInFileOrder) {
    writeBytes(cfg(), kConfig);
    EngineConfig engine;
    EXPECT_EQ(engine.file(), cfg());
    EXPECT_EQ(engine.aliasParams("KELDORAN32"),
              (AliasParams{{"PATH", "C:\\KELDORAN32\\DADOS"}, {"DEFAULT DRIVER", "SQLITE"}}));
    EXPECT_EQ(engine.aliasParams("rede"), (AliasParams{{"DEFAULT DRIVER", "POSTGRESQL"},
                                                       {"HOST", "servidor"},
                                                       {"PORT", "5432"},
                                                       {"DATABASE", "ponto"},
                                                       {"USER", "keldo"},
                                                       {"PASSWORD", "s3 cr=t"}}));
    // A section without lines is an alias without parameters, not an unknown alias.
    EXPECT_EQ(engine.aliasParams("vazio"), AliasParams{});
    EXPECT_TRUE(engine.aliasExists("Vazio"));
    EXPECT_EQ(engine.aliasParams("MyCronalto"), std::nullopt);
    EXPECT_FALSE(engine.aliasExists("MyCronalto"));
}

TEST_F(EngineConfigTest, MissingFileKnowsNoAlias) {
    EngineConfig engine;
    EXPECT_EQ(engine.aliasParams("Keldoran32"), std::nullopt);
    EXPECT_FALSE(engine.aliasExists("Keldoran32"));
}

TEST_F(EngineConfigTest, UnreadableFileIsAnErrorNamingTheFile) {
    fs::create_directories(cfg()); // a folder in place of the file
    EngineConfig engine;
    try {
        engine.aliasParams("Keldoran32");
        ADD_FAILURE() << "no error";
    } catch (const EngineConfigError& error) {
        EXPECT_NE(std::string(error.what()).find(cfg().string()), std::string::npos)
            << error.what();
    }
    EXPECT_THROW(engine.aliasExists("Keldoran32"), EngineConfigError);
}

TEST_F(EngineConfigTest, FileWithoutReadPermissionIsAnError) {
    if (::geteuid() == 0) {
        GTEST_SKIP() << "the superuser reads any file";
    }
    writeBytes(cfg(), kConfig);
    fs::permissions(cfg(), fs::perms::none);
    EXPECT_THROW(EngineConfig().aliasParams("Keldoran32"), EngineConfigError);
}

TEST_F(EngineConfigTest, RunAliasesAreKnownButNeverWritten) {
    writeBytes(cfg(), kConfig);
    EngineConfig engine;
    engine.addRunAlias("keldoran32", {{"PATH", "C:\\OUTRO"}});
    engine.addRunAlias("Temporario", {});
    EXPECT_EQ(engine.aliasParams("KELDORAN32"), (AliasParams{{"PATH", "C:\\OUTRO"}}));
    EXPECT_TRUE(engine.aliasExists("TEMPORARIO"));
    engine.save();
    EXPECT_EQ(readBytes(cfg()), kConfig);
    EXPECT_FALSE(EngineConfig().aliasExists("Temporario"));
}

TEST_F(EngineConfigTest, SavedAliasesKeepOtherAliasesByteForByte) {
    writeBytes(cfg(), kConfig);
    EngineConfig engine;
    engine.addAlias("vazio", {{"PATH", "C:\\keldoran32\\DADOS"}, {"DEFAULT DRIVER", "SQLITE"}});
    engine.addAlias("Novo", {{"PATH", "C:\\Ação"}});
    EXPECT_EQ(engine.aliasParams("NOVO"), (AliasParams{{"PATH", "C:\\Ação"}}));
    engine.save();

    std::string expected = kConfig;
    expected.replace(expected.find("[Vazio]\r\n"), 9,
                     "[Vazio]\r\nPATH=C:\\keldoran32\\DADOS\r\nDEFAULT DRIVER=SQLITE\r\n");
    expected += "[Novo]\r\nPATH=C:\\A\xE7\xE3o\r\n";
    EXPECT_EQ(readBytes(cfg()), expected);

    EngineConfig later;
    EXPECT_EQ(later.aliasParams("novo"), (AliasParams{{"PATH", "C:\\Ação"}}));
    EXPECT_EQ(later.aliasParams("Vazio")->size(), 2u);
}

TEST_F(EngineConfigTest, SaveCreatesTheFileAndReportsAFailedWrite) {
    {
        EngineConfig engine;
        engine.addAlias("keldoran32", {{"PATH", "C:\\keldoran32\\DADOS"}});
        engine.save();
        EXPECT_EQ(readBytes(cfg()), "[keldoran32]\r\nPATH=C:\\keldoran32\\DADOS\r\n");
    }
    fs::permissions(cfg(), fs::perms::owner_read);
    EngineConfig engine;
    engine.addAlias("Outro", {});
    EXPECT_THROW(engine.save(), EngineConfigError);
    EXPECT_TRUE(engine.aliasExists("Outro")) << "a failed save keeps the alias pending";
    EXPECT_EQ(readBytes(cfg()), "[keldoran32]\r\nPATH=C:\\keldoran32\\DADOS\r\n");
    EXPECT_THROW(engine.addAlias("bad]name", {}), std::invalid_argument);
    EXPECT_THROW(engine.addAlias("x", {{"PATH", "a\nb"}}), std::invalid_argument);
}

} // namespace
} // namespace keldo::platform
