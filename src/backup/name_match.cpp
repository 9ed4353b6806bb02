#include "backup/name_match.h"

#include "platform/cp1252.h"

namespace keldo::backup {

namespace {

// Lower case and one separator, so that folders compare alike however they were typed.
std::string folded(std::string_view text) {
    std::string out = platform::foldCaseCp1252(text);
    for (char& c : out) {
        if (c == '/') {
            c = '\\';
        }
    }
    return out;
}

bool globMatch(std::string_view mask, std::string_view name) {
    // Iterative wildcard matching with one back-tracking point: linear in practice and
    // never recursive, so a hostile mask cannot exhaust the stack.
    std::size_t m = 0, n = 0, starM = std::string_view::npos, starN = 0;
    while (n < name.size()) {
        if (m < mask.size() && (mask[m] == '?' || mask[m] == name[n])) {
            ++m;
            ++n;
        } else if (m < mask.size() && mask[m] == '*') {
            starM = m++;
            starN = n;
        } else if (starM != std::string_view::npos) {
            m = starM + 1;
            n = ++starN;
        } else {
            return false;
        }
    }
    while (m < mask.size() && mask[m] == '*') {
        ++m;
    }
    return m == mask.size();
}

} // namespace

std::string_view folderPart(std::string_view path) {
    for (std::size_t i = path.size(); i > 0; --i) {
        if (isFolderSeparator(path[i - 1])) {
            return path.substr(0, i);
        }
    }
    return {};
}

std::string_view namePart(std::string_view path) {
    return path.substr(folderPart(path).size());
}

std::string withTrailingSeparator(std::string_view folder) {
    std::string out(folder);
    if (!out.empty() && !isFolderSeparator(out.back())) {
        out += out.front() == '/' ? '/' : '\\';
    }
    return out;
}

std::size_t separatorCount(std::string_view text) {
    std::size_t count = 0;
    for (char c : text) {
        count += isFolderSeparator(c) ? 1 : 0;
    }
    return count;
}

bool MatchName(std::string_view patternText, std::string_view nameText) {
    const std::string pattern = platform::foldCaseCp1252(patternText);
    const std::string name = platform::foldCaseCp1252(nameText);
    // Zero-based p and n; "last position" is size - 1.
    std::size_t p = 0, n = 0;
    while (n < name.size() && p < pattern.size()) {
        const char x = pattern[p];
        if (x == '?' || x == name[n]) {
            ++p;
            ++n;
            continue;
        }
        if (x != '*') {
            break;
        }
        if (p + 1 == pattern.size() || n + 1 == name.size()) {
            p = pattern.size();
            break;
        }
        ++n;
        if (name[n] == pattern[p + 1]) {
            ++p;
        }
    }
    return p >= pattern.size();
}

bool Match(std::string_view spec, std::string_view path, bool subfolders) {
    if (!MatchName(namePart(spec), namePart(path))) {
        return false;
    }
    const std::string specFolder = folded(folderPart(spec));
    if (specFolder.empty()) {
        return true;
    }
    const std::string pathFolder = folded(folderPart(path));
    if (subfolders) {
        return pathFolder.find(specFolder) != std::string::npos;
    }
    return pathFolder == specFolder;
}

bool cutSubfolderSwitch(std::string& line) {
    if (line.size() >= 2 && line[line.size() - 2] == '/' &&
        (line.back() == 'S' || line.back() == 's')) {
        line.resize(line.size() - 2);
        return true;
    }
    return false;
}

bool cutExcludeSubfolderSwitch(std::string& line) {
    if (!line.empty() && line.front() == '/') {
        const std::size_t end = line.find_last_not_of(' ');
        if (end == std::string::npos)
            return false;
        std::string trimmed = line.substr(0, end + 1);
        if (!cutSubfolderSwitch(trimmed))
            return false;
        line = std::move(trimmed);
        return true;
    }
    for (std::size_t i = 0; i + 1 < line.size(); ++i) {
        if (line[i] == '/' && (line[i + 1] == 'S' || line[i + 1] == 's')) {
            line.resize(i);
            return true;
        }
    }
    return false;
}

bool MatchListingMask(std::string_view maskText, std::string_view nameText) {
    const std::string mask = platform::foldCaseCp1252(maskText);
    const std::string name = platform::foldCaseCp1252(nameText);
    if (mask.empty()) {
        return false;
    }
    if (mask == "*" || mask == "*.*") {
        return true;
    }
    if (globMatch(mask, name)) {
        return true;
    }
    // A name without an extension matches as if it ended in ".": "README" is found by
    // "*.*"-style masks such as "READ*.*" or "README.".
    if (name.find('.') == std::string::npos) {
        const std::string dotted = name + '.';
        if (globMatch(mask, dotted)) {
            return true;
        }
        if (mask.size() >= 2 && mask.compare(mask.size() - 2, 2, ".*") == 0 &&
            globMatch(mask.substr(0, mask.size() - 2), name)) {
            return true;
        }
    }
    return false;
}

} // namespace keldo::backup
