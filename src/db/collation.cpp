#include "collation.h"

#include <cstdint>

namespace keldo::db {
namespace {

// Base letter of the Latin-1 Supplement letters U+00C0..U+00FF (0 = none).
constexpr char kLatin1Base[64] = {
    'a', 'a', 'a', 'a', 'a', 'a', 'a', 'c', 'e', 'e', 'e', 'e', 'i', 'i', 'i', 'i', // C0-CF
    'd', 'n', 'o', 'o', 'o', 'o', 'o', 0,   'o', 'u', 'u', 'u', 'u', 'y', 't', 's', // D0-DF
    'a', 'a', 'a', 'a', 'a', 'a', 'a', 'c', 'e', 'e', 'e', 'e', 'i', 'i', 'i', 'i', // E0-EF
    'd', 'n', 'o', 'o', 'o', 'o', 'o', 0,   'o', 'u', 'u', 'u', 'u', 'y', 't', 'y', // F0-FF
};

// Base letters of Latin Extended-A, U+0100..U+017F, in pairs (upper, lower)
// for most of the block; good enough for names written in Brazil.
constexpr char kLatinExtendedABase[] = "aaaaaa"
                                       "cccccccc"
                                       "dddd"
                                       "eeeeeeeeee"
                                       "gggggggg"
                                       "hhhh"
                                       "iiiiiiiiii"
                                       "ii"
                                       "jj"
                                       "kkk"
                                       "llllllllll"
                                       "nnnnnnn"
                                       "nn"
                                       "oooooo"
                                       "oo"
                                       "rrrrrr"
                                       "ssssssss"
                                       "tttttt"
                                       "uuuuuuuuuuuu"
                                       "ww"
                                       "yyy"
                                       "zzzzzz"
                                       "s";
static_assert(sizeof(kLatinExtendedABase) == 129, "one base letter for each of U+0100..U+017F");

char latinExtendedABase(char32_t c) {
    return (c >= 0x100 && c < 0x180) ? kLatinExtendedABase[c - 0x100] : 0;
}

// Decodes one UTF-8 sequence; an invalid byte is returned as itself.
char32_t next(std::string_view s, size_t& i) {
    auto b = static_cast<unsigned char>(s[i]);
    int extra = b >= 0xF0 ? 3 : b >= 0xE0 ? 2 : b >= 0xC0 ? 1 : 0;
    if (extra == 0 || i + extra >= s.size()) {
        ++i;
        return b;
    }
    char32_t c = b & (0x3F >> extra);
    for (int k = 1; k <= extra; ++k) {
        auto cb = static_cast<unsigned char>(s[i + k]);
        if ((cb & 0xC0) != 0x80) {
            ++i;
            return b;
        }
        c = (c << 6) | (cb & 0x3F);
    }
    i += extra + 1;
    return c;
}

// Primary weight: a class (blank, punctuation, symbol, digit, letter, other)
// and a value inside it.
uint64_t weight(char32_t c) {
    enum : uint64_t { Blank = 1, Punct, Symbol, Digit, Letter, Other };
    auto w = [](uint64_t cls, uint64_t v) { return (cls << 32) | v; };
    if (c >= 'A' && c <= 'Z')
        return w(Letter, c - 'A' + 'a');
    if (c >= 'a' && c <= 'z')
        return w(Letter, c);
    if (c >= '0' && c <= '9')
        return w(Digit, c);
    if (c == ' ' || c == '\t' || c == 0xA0)
        return w(Blank, c);
    if (c < 0x80) {
        switch (c) {
        case '_':
        case '-':
        case ',':
        case ';':
        case ':':
        case '!':
        case '?':
        case '.':
        case '\'':
        case '"':
        case '(':
        case ')':
        case '[':
        case ']':
        case '{':
        case '}':
        case '@':
        case '*':
        case '/':
        case '\\':
        case '&':
        case '#':
        case '%':
            return w(Punct, c);
        default:
            return w(c < 0x20 ? Blank : Symbol, c);
        }
    }
    if (c >= 0xC0 && c <= 0xFF && kLatin1Base[c - 0xC0])
        return w(Letter, static_cast<unsigned char>(kLatin1Base[c - 0xC0]));
    if (c >= 0x100 && c < 0x180) {
        if (char b = latinExtendedABase(c))
            return w(Letter, static_cast<unsigned char>(b));
    }
    if (c == 0xAA)
        return w(Letter, 'a');
    if (c == 0xBA)
        return w(Letter, 'o');
    return w(Other, c);
}

// Letters that expand to two at the primary level.
const char* expansion(char32_t c) {
    switch (c) {
    case 0xDF:
        return "ss";
    case 0xC6:
    case 0xE6:
        return "ae";
    case 0x152:
    case 0x153:
        return "oe";
    default:
        return nullptr;
    }
}

class Folder {
public:
    explicit Folder(std::string_view s) : s_(s) {}
    bool atEnd() const { return !pending_ && i_ >= s_.size(); }
    uint64_t take() {
        if (pending_) {
            uint64_t w = weight(static_cast<unsigned char>(pending_));
            pending_ = 0;
            return w;
        }
        char32_t c = next(s_, i_);
        if (const char* e = expansion(c)) {
            pending_ = e[1];
            return weight(static_cast<unsigned char>(e[0]));
        }
        return weight(c);
    }

private:
    std::string_view s_;
    size_t i_ = 0;
    char pending_ = 0;
};

} // namespace

QByteArray foldKey(std::string_view utf8) {
    QByteArray key;
    key.reserve(int(utf8.size()) * 4);
    Folder f(utf8);
    while (!f.atEnd()) {
        // class in the top byte, the value in the three below: big-endian
        // so that bytes compare as weights do.
        const uint64_t w = f.take();
        const uint32_t packed = uint32_t((w >> 32) << 24) | uint32_t(w & 0xFFFFFF);
        key.append(char(packed >> 24))
            .append(char(packed >> 16))
            .append(char(packed >> 8))
            .append(char(packed));
    }
    return key;
}

int compareFolded(std::string_view a, std::string_view b) {
    Folder fa(a), fb(b);
    while (!fa.atEnd() && !fb.atEnd()) {
        uint64_t wa = fa.take(), wb = fb.take();
        if (wa != wb)
            return wa < wb ? -1 : 1;
    }
    if (fa.atEnd() && fb.atEnd())
        return 0;
    return fa.atEnd() ? -1 : 1;
}

int compareFolded(const QString& a, const QString& b) {
    QByteArray ua = a.toUtf8(), ub = b.toUtf8();
    return compareFolded(std::string_view(ua.constData(), ua.size()),
                         std::string_view(ub.constData(), ub.size()));
}

} // namespace keldo::db
