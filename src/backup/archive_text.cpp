#include "backup/archive_text.h"

#include "backup/name_match.h"
#include "platform/cp1252.h"
#include "platform/paths.h"

#include <cstdint>

namespace keldo::backup {

namespace {

bool wellFormedUtf8(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size()) {
        const auto c = static_cast<unsigned char>(text[i]);
        std::size_t extra = 0;
        std::uint32_t cp = 0;
        if (c < 0x80) {
            ++i;
            continue;
        } else if (c >= 0xC2 && c <= 0xDF) {
            extra = 1;
            cp = c & 0x1F;
        } else if (c >= 0xE0 && c <= 0xEF) {
            extra = 2;
            cp = c & 0x0F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            extra = 3;
            cp = c & 0x07;
        } else {
            return false;
        }
        if (i + extra >= text.size()) {
            return false;
        }
        for (std::size_t k = 1; k <= extra; ++k) {
            const auto d = static_cast<unsigned char>(text[i + k]);
            if ((d & 0xC0) != 0x80) {
                return false;
            }
            cp = (cp << 6) | (d & 0x3F);
        }
        if ((extra == 2 && (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF))) ||
            (extra == 3 && (cp < 0x10000 || cp > 0x10FFFF))) {
            return false;
        }
        i += extra + 1;
    }
    return true;
}

} // namespace

std::string toArchiveText(std::string_view utf8) {
    bool lossless = false;
    std::string bytes = platform::utf8ToCp1252(utf8, &lossless);
    return lossless ? bytes : std::string(utf8);
}

std::string fromArchiveText(std::string_view stored) {
    // Only a name that Windows-1252 could not hold was stored as UTF-8, so bytes that are
    // well-formed UTF-8 of such a name are taken as they are.
    if (wellFormedUtf8(stored) && !platform::utf8Representable(stored)) {
        return std::string(stored);
    }
    return platform::cp1252ToUtf8(stored);
}

std::filesystem::path archiveNativePath(std::string_view stored) {
    return platform::toNative(fromArchiveText(stored));
}

bool hasParentComponent(std::string_view path) {
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = start;
        while (end < path.size() && !isFolderSeparator(path[end])) {
            ++end;
        }
        if (path.substr(start, end - start) == "..") {
            return true;
        }
        start = end + 1;
    }
    return false;
}

} // namespace keldo::backup
