#include "backup/name_match.h"

#include <gtest/gtest.h>

namespace keldo::backup {
namespace {

struct NameCase {
    const char* pattern;
    const char* name;
    bool matches;
};

TEST(NamePattern, TableOfCases) {
    const NameCase cases[] = {
        {"*.db", "a.db", true},
        {"*.DB", "A.db", true}, // case ignored
        {"a?c", "abc", true},
        {"abc", "abcd", true}, // the scan stops when the pattern is used up
        {"*.db", "ab", true},  // the star reaches the last character of the name
        {"*.db", "a.txt", false},
        {"*.db", "x.y.db", false}, // the star leaves at the first "." it meets
        {"abcd", "abc", false},    // the name is used up first
        {"*", "anything", true},
        {"", "anything", true},
        {"a*", "a", false}, // the name ends before the star is reached
        {"a*", "ab", true},
        {"?", "", false},
        {"\xE7\xE3o.db", "\xC7\xC3O.DB", true}, // Windows-1252 letters fold too
    };
    for (const NameCase& c : cases) {
        EXPECT_EQ(MatchName(c.pattern, c.name), c.matches) << c.pattern << " vs " << c.name;
    }
}

struct MatchCase {
    const char* spec;
    const char* path;
    bool subfolders;
    bool matches;
};

TEST(Match, FolderRules) {
    const MatchCase cases[] = {
        {"*.TMP", "C:\\DATA\\SUB\\x.tmp", false, true}, // no folder: any folder
        {"C:\\DATA\\*.TMP", "C:\\DATA\\x.tmp", false, true},
        {"C:\\DATA\\*.TMP", "C:\\DATA\\SUB\\x.tmp", false, false},
        {"C:\\DATA\\*.TMP", "C:\\DATA\\SUB\\x.tmp", true, true},
        {"C:\\DATA\\*.TMP", "D:\\OLD\\C:\\DATA\\x.tmp", true, true}, // "anywhere" in the folder
        {"c:\\data\\*.tmp", "C:\\DATA\\x.TMP", false, true},
        {"C:/DATA/*.TMP", "C:\\DATA\\x.tmp", false, true}, // both separators alike
        {"/srv/dados/*.db", "/srv/dados/a.db", false, true},
        {"/srv/dados/*.db", "/srv/dados/b/a.db", false, false},
    };
    for (const MatchCase& c : cases) {
        EXPECT_EQ(Match(c.spec, c.path, c.subfolders), c.matches)
            << c.spec << " vs " << c.path << " sub=" << c.subfolders;
    }
}

TEST(Match, SubfolderSwitchOnlyAtTheEnd) {
    struct {
        const char* line;
        const char* rest;
        bool cut;
    } cases[] = {
        {"C:\\DATA\\*.DB/S", "C:\\DATA\\*.DB", true},
        {"C:\\DATA\\*.DB/s", "C:\\DATA\\*.DB", true},
        {"/srv/dados/*.db", "/srv/dados/*.db", false}, // "/s" inside a native path stays
        {"*.DB", "*.DB", false},
    };
    for (const auto& c : cases) {
        std::string line = c.line;
        EXPECT_EQ(cutSubfolderSwitch(line), c.cut) << c.line;
        EXPECT_EQ(line, c.rest);
    }
}

TEST(Match, ExcludeSwitchAnywhereInAWindowsLine) {
    struct {
        const char* line;
        const char* rest;
        bool cut;
    } cases[] = {
        {"C:\\TMP\\*.TMP/S ", "C:\\TMP\\*.TMP", true},
        {"C:\\TMP\\*.TMP/s", "C:\\TMP\\*.TMP", true},
        {"*.BAK/S/X", "*.BAK", true},
        {"C:\\TMP\\*.TMP", "C:\\TMP\\*.TMP", false},
        {"/srv/dados/*.tmp", "/srv/dados/*.tmp", false},
        {"/srv/dados/*.tmp/S", "/srv/dados/*.tmp", true},
        {"/srv/dados/*.tmp/S  ", "/srv/dados/*.tmp", true},
    };
    for (const auto& c : cases) {
        std::string line = c.line;
        EXPECT_EQ(cutExcludeSubfolderSwitch(line), c.cut) << c.line;
        EXPECT_EQ(line, c.rest) << c.line;
    }
}

TEST(ListingMask, FileSystemWildcards) {
    EXPECT_TRUE(MatchListingMask("*.*", "README"));
    EXPECT_TRUE(MatchListingMask("*.db", "A.DB"));
    EXPECT_FALSE(MatchListingMask("*.db", "a.dbx"));
    EXPECT_TRUE(MatchListingMask("a?c.*", "abc.txt"));
    EXPECT_FALSE(MatchListingMask("abc", "abcd")); // unlike the engine's own pattern
    EXPECT_TRUE(MatchListingMask("READ*.*", "README"));
}

} // namespace
} // namespace keldo::backup
