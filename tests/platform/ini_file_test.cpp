#include "platform/ini_file.h"

#include "platform/paths.h"
#include "temp_root.h"

#include <gtest/gtest.h>

#include <climits>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace keldo::platform {
namespace {

using testing::readBytes;
using testing::TempRoot;
using testing::writeBytes;

// One INI file in the Windows directory of a fresh root.
class IniFileTest : public ::testing::Test {
protected:
    fs::path iniPath() const { return root_.path() / "c" / "WINDOWS" / "KELDO32.INI"; }
    void give(const std::string& bytes) const { writeBytes(iniPath(), bytes); }
    std::string contents() const { return readBytes(iniPath()); }

    TempRoot root_;
    IniFile ini_{"KELDO32.INI"};
};

TEST_F(IniFileTest, ReadsValuesAsWindowsDoes) {
    give("[CONFMEN]\r\n"
         "HEX=0x10\r\n"
         "HEXUP=0X1F\r\n"
         "HEXLOW=0xff\r\n"
         "HEXMAX=0xFFFFFFFF\r\n"
         "HEXBIG=0x100000000\r\n"
         "HEXBAD=0x1G\r\n"
         "ZEROX=0x\r\n"
         "NEGHEX=-0x10\r\n"
         "NEG=-5\r\n"
         "PLUS=+7\r\n"
         "ZERO=0\r\n"
         "MIN=-2147483648\r\n"
         "BIG=2147483648\r\n"
         "ABC=abc\r\n"
         "TRAIL=12abc\r\n"
         "SPACED=  \t 42  \r\n"
         "EMPTY=\r\n"
         "DQ=\"  quoted  \"\r\n"
         "SQ='single'\r\n"
         "MIXQ=\"mixed'\r\n"
         "ONEQ=\"\r\n"
         "INNER=a \"b\" c\r\n"
         "ACENTO=A\xE7\xE3o\r\n"
         "  Spaced Key  =  v  \r\n"
         "DUP=first\r\n"
         "DUP=second\r\n"
         "; COMMENTED=1\r\n"
         "NOEQUALS\r\n"
         "[A\xC7\xC3O]\r\n"
         "X=accented section\r\n"
         "[confmen]\r\n"
         "LATER=1\r\n");

    struct Case {
        const char* section;
        const char* key;
        const char* text; // readString with the default "dflt"
        int number;       // readInteger with the default -7
        bool whenFalse;   // readBool with the default false
        bool whenTrue;    // readBool with the default true
    };
    const Case cases[] = {
        {"CONFMEN", "HEX", "0x10", 16, true, true},
        {"confmen", "hex", "0x10", 16, true, true},
        {"CONFMEN", "HEXUP", "0X1F", 31, true, true},
        {"CONFMEN", "HEXLOW", "0xff", 255, true, true},
        {"CONFMEN", "HEXMAX", "0xFFFFFFFF", -1, true, true},
        {"CONFMEN", "HEXBIG", "0x100000000", -7, false, true},
        {"CONFMEN", "HEXBAD", "0x1G", -7, false, true},
        {"CONFMEN", "ZEROX", "0x", -7, false, true},
        {"CONFMEN", "NEGHEX", "-0x10", -7, false, true},
        {"CONFMEN", "NEG", "-5", -5, true, true},
        {"CONFMEN", "PLUS", "+7", 7, true, true},
        {"CONFMEN", "ZERO", "0", 0, false, false},
        {"CONFMEN", "MIN", "-2147483648", INT_MIN, true, true},
        {"CONFMEN", "BIG", "2147483648", -7, false, true},
        {"CONFMEN", "ABC", "abc", -7, false, true},
        {"CONFMEN", "TRAIL", "12abc", -7, false, true},
        {"CONFMEN", "SPACED", "42", 42, true, true},
        {"CONFMEN", "EMPTY", "", -7, false, true},
        {"CONFMEN", "DQ", "  quoted  ", -7, false, true},
        {"CONFMEN", "SQ", "single", -7, false, true},
        {"CONFMEN", "MIXQ", "\"mixed'", -7, false, true},
        {"CONFMEN", "ONEQ", "\"", -7, false, true},
        {"CONFMEN", "INNER", "a \"b\" c", -7, false, true},
        {"CONFMEN", "ACENTO", "Ação", -7, false, true},
        {"CONFMEN", "spaced key", "v", -7, false, true},
        {"CONFMEN", "DUP", "first", -7, false, true},
        {"CONFMEN", "; COMMENTED", "dflt", -7, false, true},
        {"CONFMEN", "NOEQUALS", "dflt", -7, false, true},
        {"CONFMEN", "MISSING", "dflt", -7, false, true},
        {"ação", "x", "accented section", -7, false, true},
        {"CONFMEN", "LATER", "dflt", -7, false, true}, // the first [CONFMEN] is the section
        {"NOSECTION", "HEX", "dflt", -7, false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.section) + "/" + c.key);
        EXPECT_EQ(ini_.readString(c.section, c.key, "dflt"), c.text);
        EXPECT_EQ(ini_.readInteger(c.section, c.key, -7), c.number);
        EXPECT_EQ(ini_.readBool(c.section, c.key, false), c.whenFalse);
        EXPECT_EQ(ini_.readBool(c.section, c.key, true), c.whenTrue);
    }
}

TEST_F(IniFileTest, MissingOrUnreadableFileGivesDefaults) {
    EXPECT_EQ(ini_.readString("CONFMEN", "MENSAGEM", "DIGITE SUA MENSAGEM"), "DIGITE SUA MENSAGEM");
    EXPECT_EQ(ini_.readInteger("CONFMEN", "TEMPOPASSAGEM", 3), 3);
    EXPECT_TRUE(ini_.readBool("CONFMEN", "SOM", true));
    EXPECT_FALSE(ini_.sectionExists("CONFMEN"));
    fs::create_directories(iniPath()); // a folder where the file should be
    EXPECT_EQ(ini_.readString("CONFMEN", "MENSAGEM", "d"), "d");
    EXPECT_TRUE(ini_.readSections().empty());
}

TEST_F(IniFileTest, ToleratesLfOnlyAndAMissingFinalNewline) {
    give("\xEF\xBB\xBF[A]\nX=1\n\n[B]\r\nY = two\nZ=3");
    EXPECT_EQ(ini_.readInteger("A", "X", 0), 1);
    EXPECT_EQ(ini_.readString("B", "Y", ""), "two");
    EXPECT_EQ(ini_.readInteger("B", "Z", 0), 3);
}

TEST_F(IniFileTest, CutsValuesTo1023CharactersOfTheFile) {
    const std::string longAscii(2000, 'x');
    std::string longAccented;
    for (int i = 0; i < 2000; ++i) {
        longAccented += '\xE9'; // é: one byte in the file, two in UTF-8
    }
    give("[S]\r\nA=" + longAscii + "\r\nE=" + longAccented + "\r\nQ=\"" + longAscii + "\"\r\n");

    EXPECT_EQ(ini_.readString("S", "A", ""), std::string(1023, 'x'));
    std::string expected;
    for (int i = 0; i < 1023; ++i) {
        expected += "é";
    }
    EXPECT_EQ(ini_.readString("S", "E", ""), expected);
    EXPECT_EQ(ini_.readString("S", "Q", ""), std::string(1023, 'x'));
}

TEST_F(IniFileTest, WriteChangesOnlyTheKeyLine) {
    const std::string before = "; shared with the collector\r\n"
                               "[CONFMEN]\r\n"
                               "MENSAGEM = Bom dia  \r\n"
                               "  som = 1  \r\n"
                               "odd line without equals\r\n"
                               "\r\n"
                               "[DIGITAIS]\n"
                               "PATH=C:\\KELDORAN32\\DIGITAIS\n"
                               "\t\r\n"
                               "[ENVIAR]\r\n"
                               "PARA=suporte@example.com";
    give(before);
    ini_.writeBool("CONFMEN", "SOM", false);
    std::string expected = before;
    expected.replace(expected.find("  som = 1  "), 11, "som=0");
    EXPECT_EQ(contents(), expected);

    ini_.writeString("enviar", "para", "outro@example.com");
    expected.replace(expected.find("PARA=suporte@example.com"), 24, "PARA=outro@example.com");
    EXPECT_EQ(contents(), expected);

    ini_.writeString("DIGITAIS", "PATH", "D:\\DIG");
    expected.replace(expected.find("PATH=C:\\KELDORAN32\\DIGITAIS\n"), 28, "PATH=D:\\DIG\n");
    EXPECT_EQ(contents(), expected);
}

TEST_F(IniFileTest, NewKeyGoesAfterTheLastLineOfItsSection) {
    give("[CONFMEN]\r\nSOM=1\r\n; about DIGITAIS\r\n\r\n[DIGITAIS]\r\nPATH=x\r\n");
    ini_.writeInteger("CONFMEN", "TEMPOPASSAGEM", -5);
    ini_.writeString("DIGITAIS", "NOVA", "v");
    EXPECT_EQ(contents(), "[CONFMEN]\r\nSOM=1\r\nTEMPOPASSAGEM=-5\r\n; about DIGITAIS\r\n\r\n"
                          "[DIGITAIS]\r\nPATH=x\r\nNOVA=v\r\n");

    give("[EMPTY]\r\n\r\n[LAST]\r\nK=1"); // sections without keys, last line without an end
    ini_.writeString("empty", "A", "1");
    ini_.writeString("LAST", "B", "2");
    EXPECT_EQ(contents(), "[EMPTY]\r\nA=1\r\n\r\n[LAST]\r\nK=1\r\nB=2\r\n");
}

TEST_F(IniFileTest, NewSectionGoesAtTheEndOfTheFile) {
    give("[CONFMEN]\r\nSOM=1\r\n");
    ini_.writeString("CORDENADAS", "POSNOME", "10");
    EXPECT_EQ(contents(), "[CONFMEN]\r\nSOM=1\r\n[CORDENADAS]\r\nPOSNOME=10\r\n");

    give("[CONFMEN]\nSOM=1");
    ini_.writeString("CORDENADAS", "POSNOME", "10");
    EXPECT_EQ(contents(), "[CONFMEN]\nSOM=1\r\n[CORDENADAS]\r\nPOSNOME=10\r\n");
}

TEST_F(IniFileTest, CreatesTheFileInTheWindowsDirectoryAsWindows1252) {
    ini_.writeString("CONFMEN", "MENSAGEM", "Ação € ✓");
    EXPECT_EQ(contents(), "[CONFMEN]\r\nMENSAGEM=A\xE7\xE3o \x80 ?\r\n");
    EXPECT_EQ(ini_.readString("CONFMEN", "MENSAGEM", ""), "Ação € ?");
    EXPECT_EQ(ini_.path(), iniPath());
}

TEST_F(IniFileTest, FindsTheWindowsDirectoryAndFileWhateverTheirCase) {
    const fs::path existing = root_.path() / "c" / "windows" / "keldo32.ini";
    writeBytes(existing, "[CONFMEN]\r\nSOM=0\r\n");
    EXPECT_EQ(ini_.path(), existing);
    EXPECT_FALSE(ini_.readBool("confmen", "som", true));
    ini_.writeBool("CONFMEN", "SOM", true);
    EXPECT_EQ(readBytes(existing), "[CONFMEN]\r\nSOM=1\r\n");
    EXPECT_FALSE(fs::exists(root_.path() / "c" / "WINDOWS"));

    IniFile mapped("C:\\KELDORAN32\\outro.ini");
    EXPECT_EQ(mapped.path(), root_.path() / "c" / "KELDORAN32" / "outro.ini");
    IniFile native((root_.path() / "native.ini").string());
    native.writeString("S", "K", "v");
    EXPECT_EQ(readBytes(root_.path() / "native.ini"), "[S]\r\nK=v\r\n");
}

TEST_F(IniFileTest, WriteIsAtomicAndKeepsPermissions) {
    give("[S]\r\nK=1\r\n");
    fs::permissions(iniPath(),
                    fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    ini_.writeString("S", "K", "2");
    EXPECT_EQ(fs::status(iniPath()).permissions(),
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    int entries = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator(iniPath().parent_path())) {
        ++entries;
    }
    EXPECT_EQ(entries, 1) << "no temporary file is left behind";

    // Through a symbolic link the target is rewritten and the link stays.
    const fs::path link = root_.path() / "link.ini";
    fs::create_symlink(iniPath(), link);
    IniFile(link.string()).writeString("S", "K", "3");
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(contents(), "[S]\r\nK=3\r\n");
}

TEST_F(IniFileTest, FailedWriteReportsTheFileNameAndChangesNothing) {
    struct Case {
        const char* name;
        void (*setUp)(const fs::path& root, const fs::path& ini);
    };
    const Case cases[] = {
        {"folder cannot be created",
         [](const fs::path& root, const fs::path&) { writeBytes(root / "c", "not a folder"); }},
        {"read-only file",
         [](const fs::path&, const fs::path& ini) {
             writeBytes(ini, "[S]\r\nK=1\r\n");
             fs::permissions(ini, fs::perms::owner_read | fs::perms::group_read);
         }},
        {"a folder in place of the file",
         [](const fs::path&, const fs::path& ini) { fs::create_directories(ini); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempRoot root;
        const fs::path ini = root.path() / "c" / "WINDOWS" / "KELDO32.INI";
        c.setUp(root.path(), ini);
        const std::string before = fs::is_regular_file(ini) ? readBytes(ini) : "";
        try {
            IniFile("KELDO32.INI").writeString("S", "K", "2");
            ADD_FAILURE() << "the write succeeded";
        } catch (const IniWriteError& error) {
            EXPECT_STREQ(error.what(), "Unable to write to KELDO32.INI");
            EXPECT_TRUE(error.reason());
        }
        if (fs::is_regular_file(ini)) {
            EXPECT_EQ(readBytes(ini), before);
        }
    }
}

TEST_F(IniFileTest, RefusesNamesAndValuesThatWouldBreakTheFile) {
    give("[S]\r\nK=1\r\n");
    EXPECT_THROW(ini_.writeString("S", "K", "two\r\n[EVIL]\r\nX=1"), std::invalid_argument);
    EXPECT_THROW(ini_.writeString("S]", "K", "1"), std::invalid_argument);
    EXPECT_THROW(ini_.writeString("S", "A=B", "1"), std::invalid_argument);
    EXPECT_THROW(ini_.writeString("S", ";K", "1"), std::invalid_argument);
    EXPECT_THROW(ini_.writeString("S", " ", "1"), std::invalid_argument);
    EXPECT_THROW(ini_.writeString("S", "✓", "1"), std::invalid_argument);
    EXPECT_EQ(contents(), "[S]\r\nK=1\r\n");
}

TEST_F(IniFileTest, ListsAndRemovesSectionsAndKeys) {
    give("[A]\r\nX=1\r\nnoise\r\n;Y=2\r\ny = ' 2 "
         "'\r\nx=dup\r\n\r\n[B]\r\n[a]\r\nZ=3\r\n[C]\r\nK=1\r\n");
    EXPECT_EQ(ini_.readSections(), (std::vector<std::string>{"A", "B", "C"}));
    EXPECT_EQ(ini_.readSection("a"), (std::vector<std::string>{"X", "y"}));
    EXPECT_EQ(ini_.readSectionValues("A"), (std::vector<std::string>{"X=1", "y= 2 "}));
    EXPECT_TRUE(ini_.sectionExists("b"));
    EXPECT_TRUE(ini_.readSection("B").empty());
    EXPECT_TRUE(ini_.valueExists("A", "Y"));
    EXPECT_FALSE(ini_.valueExists("A", "Z"));
    EXPECT_FALSE(ini_.valueExists("A", "noise"));

    ini_.deleteKey("a", "x"); // every line of the key goes
    EXPECT_EQ(contents(),
              "[A]\r\nnoise\r\n;Y=2\r\ny = ' 2 '\r\n\r\n[B]\r\n[a]\r\nZ=3\r\n[C]\r\nK=1\r\n");
    ini_.eraseSection("A"); // both sections of that name go
    EXPECT_EQ(contents(), "[B]\r\n[C]\r\nK=1\r\n");
    EXPECT_FALSE(ini_.sectionExists("A"));

    const auto modified = fs::last_write_time(iniPath());
    ini_.deleteKey("C", "MISSING");
    ini_.eraseSection("MISSING");
    EXPECT_EQ(fs::last_write_time(iniPath()), modified);
    EXPECT_EQ(contents(), "[B]\r\n[C]\r\nK=1\r\n");
}

} // namespace
} // namespace keldo::platform
