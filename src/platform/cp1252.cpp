#include "cp1252.h"

#include <array>
#include <cstdint>

namespace keldo::platform {

namespace {

// Characters of bytes 0x80..0x9F; the remaining bytes are the Latin-1 code points of the
// same value. The undefined bytes map to the C1 control of their own value, like Windows.
constexpr std::array<char32_t, 32> kHighControls = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

constexpr char32_t kInvalid = 0xFFFFFFFF;

// Decodes one UTF-8 sequence at the front of text. Returns kInvalid for an ill-formed one;
// length is then the maximal subpart to skip (at least one byte), as Unicode recommends so
// that one broken character gives one replacement.
char32_t decodeOne(std::string_view text, std::size_t& length) {
    const auto b0 = static_cast<unsigned char>(text[0]);
    length = 1;
    if (b0 < 0x80) {
        return b0;
    }
    int extra = 0;
    char32_t cp = 0;
    unsigned char lo = 0x80;
    unsigned char hi = 0xBF;
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        extra = 1;
        cp = b0 & 0x1F;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        extra = 2;
        cp = b0 & 0x0F;
        if (b0 == 0xE0) {
            lo = 0xA0; // no overlong forms
        } else if (b0 == 0xED) {
            hi = 0x9F; // no surrogates
        }
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        extra = 3;
        cp = b0 & 0x07;
        if (b0 == 0xF0) {
            lo = 0x90;
        } else if (b0 == 0xF4) {
            hi = 0x8F; // nothing above U+10FFFF
        }
    } else {
        return kInvalid;
    }
    for (int i = 1; i <= extra; ++i) {
        if (static_cast<std::size_t>(i) >= text.size()) {
            return kInvalid;
        }
        const auto b = static_cast<unsigned char>(text[i]);
        if (b < lo || b > hi) {
            return kInvalid;
        }
        lo = 0x80;
        hi = 0xBF;
        cp = (cp << 6) | (b & 0x3F);
        length = static_cast<std::size_t>(i) + 1;
    }
    return cp;
}

void appendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

char32_t cp1252Char(unsigned char byte) {
    if (byte >= 0x80 && byte <= 0x9F) {
        return kHighControls[byte - 0x80];
    }
    return byte;
}

// Returns the byte for cp, or -1 when Windows-1252 has none.
int cp1252Byte(char32_t cp) {
    if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) {
        return static_cast<int>(cp);
    }
    for (std::size_t i = 0; i < kHighControls.size(); ++i) {
        if (kHighControls[i] == cp) {
            return static_cast<int>(0x80 + i);
        }
    }
    return -1;
}

char32_t foldChar(char32_t cp) {
    if ((cp >= U'A' && cp <= U'Z') || (cp >= 0xC0 && cp <= 0xDE && cp != 0xD7)) {
        return cp + 0x20;
    }
    if (cp == 0x178) {
        return 0xFF; // Ÿ
    }
    // Latin Extended-A pairs upper/lower as even/odd or odd/even code points; the dotted and
    // dotless I (U+0130, U+0131) have no simple pair and stay as they are.
    if ((cp >= 0x100 && cp <= 0x12F) || (cp >= 0x132 && cp <= 0x137) ||
        (cp >= 0x14A && cp <= 0x177)) {
        return cp | 1;
    }
    if ((cp >= 0x139 && cp <= 0x148) || (cp >= 0x179 && cp <= 0x17E)) {
        return (cp % 2 == 1) ? cp + 1 : cp;
    }
    return cp;
}

} // namespace

std::string utf8ToCp1252(std::string_view utf8, bool* lossless) {
    std::string out;
    out.reserve(utf8.size());
    bool exact = true;
    while (!utf8.empty()) {
        std::size_t length = 0;
        const char32_t cp = decodeOne(utf8, length);
        const int byte = cp == kInvalid ? -1 : cp1252Byte(cp);
        if (byte < 0) {
            out += '?';
            exact = false;
        } else {
            out += static_cast<char>(byte);
        }
        utf8.remove_prefix(length);
    }
    if (lossless != nullptr) {
        *lossless = exact;
    }
    return out;
}

std::string cp1252ToUtf8(std::string_view cp1252) {
    std::string out;
    out.reserve(cp1252.size() + cp1252.size() / 4);
    for (const char c : cp1252) {
        appendUtf8(out, cp1252Char(static_cast<unsigned char>(c)));
    }
    return out;
}

bool utf8Representable(std::string_view utf8) {
    bool lossless = false;
    utf8ToCp1252(utf8, &lossless);
    return lossless;
}

std::string foldCaseCp1252(std::string_view cp1252) {
    std::string out;
    out.reserve(cp1252.size());
    for (const char c : cp1252) {
        const char32_t folded = foldChar(cp1252Char(static_cast<unsigned char>(c)));
        const int byte = cp1252Byte(folded);
        out += byte < 0 ? c : static_cast<char>(byte);
    }
    return out;
}

std::string foldCaseUtf8(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size());
    while (!utf8.empty()) {
        std::size_t length = 0;
        const char32_t cp = decodeOne(utf8, length);
        if (cp == kInvalid) {
            out.append(utf8.substr(0, length));
        } else {
            appendUtf8(out, foldChar(cp));
        }
        utf8.remove_prefix(length);
    }
    return out;
}

} // namespace keldo::platform
