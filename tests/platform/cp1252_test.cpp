#include "platform/cp1252.h"

#include <gtest/gtest.h>

#include <string>

namespace keldo::platform {
namespace {

struct ToCp1252Case {
    const char* name;
    std::string utf8;
    std::string cp1252;
    bool lossless;
};

TEST(Cp1252, ConvertsFromUtf8) {
    const ToCp1252Case cases[] = {
        {"ascii", "KELDO32.INI", "KELDO32.INI", true},
        {"accents", "Ação", "A\xE7\xE3o", true},
        {"latin1 edge", "\xC2\xA0\xC3\xBF", "\xA0\xFF", true},
        {"euro and quotes", "€“”", "\x80\x93\x94", true},
        {"s caron and y diaeresis", "ŠŸ", "\x8A\x9F", true},
        {"undefined byte 0x81", "\xC2\x81", "\x81", true},
        {"undefined byte 0x9D", "\xC2\x9D", "\x9D", true},
        {"C1 control without a byte", "\xC2\x80", "?", false},
        {"letter outside the code page", "Āx", "?x", false},
        {"emoji is one character", "a\xF0\x9F\x98\x80z", "a?z", false},
        {"truncated sequence",
         "\xE2\x82"
         "A",
         "?A", false},
        {"stray continuation",
         "\x80"
         "A",
         "?A", false},
        {"overlong slash", "\xC0\xAF", "??", false},
        {"surrogate", "\xED\xA0\x80", "???", false},
        {"above U+10FFFF", "\xF4\x90\x80\x80", "????", false},
        {"embedded NUL", std::string("a\0b", 3), std::string("a\0b", 3), true},
    };
    for (const auto& c : cases) {
        bool lossless = !c.lossless;
        EXPECT_EQ(utf8ToCp1252(c.utf8, &lossless), c.cp1252) << c.name;
        EXPECT_EQ(lossless, c.lossless) << c.name;
        EXPECT_EQ(utf8Representable(c.utf8), c.lossless) << c.name;
    }
}

TEST(Cp1252, EveryByteRoundTrips) {
    std::string all;
    for (int b = 0; b < 256; ++b) {
        all += static_cast<char>(b);
    }
    const std::string utf8 = cp1252ToUtf8(all);
    EXPECT_TRUE(utf8Representable(utf8));
    EXPECT_EQ(utf8ToCp1252(utf8), all);
    EXPECT_EQ(cp1252ToUtf8("A\xE7\xE3o \x80 \x81"), "Ação € \xC2\x81");
}

TEST(Cp1252, FoldsCaseOfAccentedLetters) {
    EXPECT_EQ(foldCaseCp1252(utf8ToCp1252("AÇÃO ÉÀÖ ŠŒŽŸ")),
              foldCaseCp1252(utf8ToCp1252("ação éàö šœžÿ")));
    EXPECT_NE(foldCaseCp1252("\xD7"), foldCaseCp1252("\xF7")); // × and ÷ are not letters
    EXPECT_EQ(foldCaseUtf8("DADOS Ação ÉDIFÍCIO ŁÓDŹ"), "dados ação édifício łódź");
    EXPECT_EQ(foldCaseUtf8("\xFF"
                           "A"),
              "\xFF"
              "a"); // ill-formed bytes are kept
}

} // namespace
} // namespace keldo::platform
