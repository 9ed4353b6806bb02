#include "platform/paths.h"

#include "temp_root.h"

#include <gtest/gtest.h>

namespace fs = std::filesystem;

namespace keldo::platform {
namespace {

using testing::ScopedEnv;
using testing::TempRoot;

TEST(KeldoRoot, FollowsTheEnvironmentOnEveryCall) {
    ScopedEnv root("KELDO_ROOT", "/srv/keldo");
    ScopedEnv data("XDG_DATA_HOME", "/data");
    ScopedEnv home("HOME", "/home/ana");
    EXPECT_EQ(keldoRoot(), fs::path("/srv/keldo"));
    ::setenv("KELDO_ROOT", "", 1);
    EXPECT_EQ(keldoRoot(), fs::path("/data/keldoran"));
    ::setenv("XDG_DATA_HOME", "relative/ignored", 1);
    EXPECT_EQ(keldoRoot(), fs::path("/home/ana/.local/share/keldoran"));
    ::unsetenv("XDG_DATA_HOME");
    EXPECT_EQ(keldoRoot(), fs::path("/home/ana/.local/share/keldoran"));
    EXPECT_EQ(driveFolder('D'), fs::path("/home/ana/.local/share/keldoran/d"));
}

TEST(ToNative, MatchesExistingComponentsWithoutRegardToCase) {
    TempRoot root;
    const fs::path c = root.path() / "c";
    fs::create_directories(c / "KeLdoran32" / "Dados");
    fs::create_directories(c / "Ação" / "Relatórios");
    fs::create_directories(c / "both" / "dados");
    fs::create_directories(c / "both" / "DADOS");

    struct Case {
        const char* windows;
        fs::path native;
    };
    const Case cases[] = {
        {"C:\\KELDORAN32\\DADOS", c / "KeLdoran32" / "Dados"},
        {"c:\\keldoran32\\dados", c / "KeLdoran32" / "Dados"},
        {"C:/keldoran32/DADOS/", c / "KeLdoran32" / "Dados"},
        {"C:\\\\KELDORAN32\\\\dados\\\\", c / "KeLdoran32" / "Dados"},
        {"C:\\keldoran32\\DADOS\\Novo\\X.db", c / "KeLdoran32" / "Dados" / "Novo" / "X.db"},
        {"C:\\KELDORAN32\\.\\x\\..\\DADOS", c / "KeLdoran32" / "Dados"},
        {"C:\\..\\..\\etc\\passwd", c / "etc" / "passwd"},
        {"C:\\AÇÃO\\relatórios", c / "Ação" / "Relatórios"},
        {"C:\\BOTH\\DADOS", c / "both" / "DADOS"}, // the exact spelling wins
        {"C:\\BOTH\\Dados", c / "both" / "DADOS"}, // else the first in byte order
        {"C:\\", c},
        {"C:", c},
        {"C:keldoran32", c / "KeLdoran32"},
        {"\\KELDORAN32", c / "KeLdoran32"},
        {"e:\\Backup", root.path() / "e" / "Backup"},
        {"/var/tmp/Already/Native", "/var/tmp/Already/Native"},
        {"dados\\x.db", "dados/x.db"},
    };
    for (const auto& [windows, native] : cases) {
        EXPECT_EQ(toNative(windows), native) << windows;
    }
}

TEST(ToWindows, ReversesPathsUnderADriveFolder) {
    TempRoot root;
    fs::create_directories(root.path() / "c" / "KeLdoran32" / "Dados");
    EXPECT_EQ(toWindows(root.path() / "c" / "a" / "b"), "C:\\a\\b");
    EXPECT_EQ(toWindows(root.path() / "c"), "C:\\");
    EXPECT_EQ(toWindows(root.path() / "d" / ""), "D:\\");
    EXPECT_EQ(toWindows(root.path() / "c" / "x" / ".." / "y"), "C:\\y");
    EXPECT_EQ(toWindows(toNative("C:\\KELDORAN32\\DADOS")), "C:\\KeLdoran32\\Dados");
    EXPECT_EQ(toWindows(root.path()), std::nullopt);
    EXPECT_EQ(toWindows(root.path() / "cc" / "x"), std::nullopt);
    EXPECT_EQ(toWindows(root.path() / "C" / "x"), std::nullopt);
    EXPECT_EQ(toWindows("/etc/passwd"), std::nullopt);
    EXPECT_EQ(toWindows(root.path().string() + "x/c/a"), std::nullopt);
}

TEST(FixedFolders, AreWindowsFormAndMapUnderDriveC) {
    TempRoot root;
    EXPECT_EQ(windowsDirectory(), "C:\\WINDOWS");
    EXPECT_EQ(temporaryDirectory(), "C:\\WINDOWS\\TEMP");
    EXPECT_EQ(programFolder(), "C:\\KELDORAN32\\");
    EXPECT_EQ(toNative(programFolder()), root.path() / "c" / "KELDORAN32");
}

TEST(EnsureDirectory, ReusesExistingComponentsWhateverTheirCase) {
    TempRoot root;
    fs::create_directories(root.path() / "c" / "windows");
    EXPECT_EQ(ensureDirectory(temporaryDirectory()), root.path() / "c" / "windows" / "TEMP");
    EXPECT_TRUE(fs::is_directory(root.path() / "c" / "windows" / "TEMP"));
    EXPECT_FALSE(fs::exists(root.path() / "c" / "WINDOWS"));
    EXPECT_EQ(ensureDirectory("c:\\Windows\\temp"), root.path() / "c" / "windows" / "TEMP");

    testing::writeBytes(root.path() / "c" / "file", "x");
    EXPECT_THROW(ensureDirectory("C:\\FILE"), fs::filesystem_error);
    EXPECT_THROW(ensureDirectory("C:\\FILE\\sub"), fs::filesystem_error);
}

} // namespace
} // namespace keldo::platform
