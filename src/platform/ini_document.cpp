#include "ini_document.h"

#include "cp1252.h"

#include <algorithm>
#include <stdexcept>

namespace keldo::platform {

namespace {

constexpr std::string_view kBlanks = " \t\r\v\f";
constexpr std::string_view kLineEnd = "\r\n";
constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

std::string_view trim(std::string_view text) {
    const std::size_t first = text.find_first_not_of(kBlanks);
    if (first == std::string_view::npos) {
        return {};
    }
    const std::size_t last = text.find_last_not_of(kBlanks);
    return text.substr(first, last - first + 1);
}

bool hasLineBreakOrNul(std::string_view text) {
    return text.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

std::string keyLine(std::string_view key, std::string_view value) {
    std::string line;
    line.reserve(key.size() + value.size() + 3);
    line.append(key).append("=").append(value).append(kLineEnd);
    return line;
}

} // namespace

IniDocument::IniDocument(std::string bytes) : bytes_(std::move(bytes)) {
    parse();
}

void IniDocument::parse() {
    lines_.clear();
    sections_.clear();
    std::size_t pos = 0;
    while (pos < bytes_.size()) {
        Line line;
        line.begin = pos;
        const std::size_t newline = bytes_.find('\n', pos);
        if (newline == std::string::npos) {
            line.contentEnd = line.end = bytes_.size();
        } else {
            line.end = newline + 1;
            line.contentEnd =
                (newline > pos && bytes_[newline - 1] == '\r') ? newline - 1 : newline;
        }
        pos = line.end;

        std::string_view content(bytes_.data() + line.begin, line.contentEnd - line.begin);
        if (line.begin == 0 && content.starts_with(kUtf8Bom)) {
            content.remove_prefix(kUtf8Bom.size()); // left by editors that save as UTF-8
        }
        const std::string_view text = trim(content);
        const std::size_t equals = text.find('=');
        const std::size_t close = text.find(']');
        if (text.empty()) {
            line.kind = Kind::Blank;
        } else if (text.front() == ';') {
            line.kind = Kind::Comment;
        } else if (text.front() == '[' && close != std::string_view::npos) {
            line.kind = Kind::Section;
            line.name = trim(text.substr(1, close - 1));
        } else if (equals != std::string_view::npos && !trim(text.substr(0, equals)).empty()) {
            line.kind = Kind::Key;
            line.name = trim(text.substr(0, equals));
            line.value = trim(text.substr(equals + 1));
        }
        if (line.kind == Kind::Section || line.kind == Kind::Key) {
            line.folded = foldCaseCp1252(line.name);
        }
        lines_.push_back(std::move(line));
    }

    for (std::size_t i = 0; i < lines_.size(); ++i) {
        if (lines_[i].kind == Kind::Section) {
            if (!sections_.empty()) {
                sections_.back().end = i;
            }
            sections_.push_back({i, lines_.size()});
        }
    }
}

const IniDocument::Section* IniDocument::findSection(std::string_view folded) const {
    for (const Section& section : sections_) {
        if (lines_[section.header].folded == folded) {
            return &section;
        }
    }
    return nullptr;
}

std::vector<std::size_t> IniDocument::findKeyLines(const Section& section,
                                                   std::string_view folded) const {
    std::vector<std::size_t> found;
    for (std::size_t i = section.header + 1; i < section.end; ++i) {
        if (lines_[i].kind == Kind::Key && lines_[i].folded == folded) {
            found.push_back(i);
        }
    }
    return found;
}

void IniDocument::splice(std::size_t begin, std::size_t end, std::string_view replacement) {
    bytes_.replace(begin, end - begin, replacement);
}

bool IniDocument::hasSection(std::string_view section) const {
    return findSection(foldCaseCp1252(trim(section))) != nullptr;
}

std::optional<std::string> IniDocument::value(std::string_view section,
                                              std::string_view key) const {
    const Section* found = findSection(foldCaseCp1252(trim(section)));
    if (found == nullptr) {
        return std::nullopt;
    }
    const std::vector<std::size_t> keyLines = findKeyLines(*found, foldCaseCp1252(trim(key)));
    if (keyLines.empty()) {
        return std::nullopt;
    }
    std::string_view text = lines_[keyLines.front()].value;
    if (text.size() >= 2 && (text.front() == '"' || text.front() == '\'') &&
        text.back() == text.front()) {
        text = text.substr(1, text.size() - 2);
    }
    return std::string(text.substr(0, kMaxValueLength));
}

std::vector<std::string> IniDocument::keys(std::string_view section) const {
    std::vector<std::string> names;
    const Section* found = findSection(foldCaseCp1252(trim(section)));
    if (found == nullptr) {
        return names;
    }
    std::vector<std::string_view> seen;
    for (std::size_t i = found->header + 1; i < found->end; ++i) {
        const Line& line = lines_[i];
        if (line.kind == Kind::Key &&
            std::find(seen.begin(), seen.end(), line.folded) == seen.end()) {
            seen.push_back(line.folded);
            names.push_back(line.name);
        }
    }
    return names;
}

IniDocument::Entries IniDocument::entries(std::string_view section) const {
    Entries result;
    for (std::string& key : keys(section)) {
        std::optional<std::string> text = value(section, key);
        result.emplace_back(std::move(key), text.value_or(std::string()));
    }
    return result;
}

std::vector<std::string> IniDocument::sections() const {
    std::vector<std::string> names;
    std::vector<std::string_view> seen;
    for (const Section& section : sections_) {
        const Line& header = lines_[section.header];
        if (std::find(seen.begin(), seen.end(), header.folded) == seen.end()) {
            seen.push_back(header.folded);
            names.push_back(header.name);
        }
    }
    return names;
}

bool IniDocument::validSectionName(std::string_view section) {
    return !trim(section).empty() && section.find(']') == std::string_view::npos &&
           !hasLineBreakOrNul(section);
}

bool IniDocument::validKeyName(std::string_view key) {
    const std::string_view name = trim(key);
    return !name.empty() && name.front() != ';' && name.front() != '[' &&
           key.find('=') == std::string_view::npos && !hasLineBreakOrNul(key);
}

bool IniDocument::validValue(std::string_view value) {
    return !hasLineBreakOrNul(value);
}

std::string IniDocument::newSectionText(std::string_view section, const Entries& entries) {
    std::string text;
    text.append("[").append(trim(section)).append("]").append(kLineEnd);
    for (const auto& [key, value] : entries) {
        text += keyLine(trim(key), value);
    }
    return text;
}

void IniDocument::setValue(std::string_view section, std::string_view key, std::string_view value) {
    if (!validSectionName(section)) {
        throw std::invalid_argument("invalid INI section name");
    }
    if (!validKeyName(key)) {
        throw std::invalid_argument("invalid INI key name");
    }
    if (!validValue(value)) {
        throw std::invalid_argument("INI value with a line break");
    }
    const Section* found = findSection(foldCaseCp1252(trim(section)));
    if (found == nullptr) {
        std::string text;
        if (!bytes_.empty() && bytes_.back() != '\n') {
            text = kLineEnd;
        }
        text += newSectionText(section, {{std::string(key), std::string(value)}});
        splice(bytes_.size(), bytes_.size(), text);
        parse();
        return;
    }
    const std::vector<std::size_t> keyLines = findKeyLines(*found, foldCaseCp1252(trim(key)));
    if (!keyLines.empty()) {
        const Line& line = lines_[keyLines.front()];
        std::string text = keyLine(line.name, value);
        text.resize(text.size() - kLineEnd.size()); // the line keeps its own end
        splice(line.begin, line.contentEnd, text);
        parse();
        return;
    }
    std::size_t last = found->header;
    for (std::size_t i = found->header + 1; i < found->end; ++i) {
        if (lines_[i].kind != Kind::Blank && lines_[i].kind != Kind::Comment) {
            last = i;
        }
    }
    const Line& after = lines_[last];
    std::string text = after.end == after.contentEnd ? std::string(kLineEnd) : std::string();
    text += keyLine(trim(key), value);
    splice(after.end, after.end, text);
    parse();
}

bool IniDocument::removeKey(std::string_view section, std::string_view key) {
    const Section* found = findSection(foldCaseCp1252(trim(section)));
    if (found == nullptr) {
        return false;
    }
    const std::vector<std::size_t> keyLines = findKeyLines(*found, foldCaseCp1252(trim(key)));
    for (auto it = keyLines.rbegin(); it != keyLines.rend(); ++it) {
        splice(lines_[*it].begin, lines_[*it].end, {});
    }
    parse();
    return !keyLines.empty();
}

bool IniDocument::removeSection(std::string_view section) {
    const std::string folded = foldCaseCp1252(trim(section));
    bool removed = false;
    for (auto it = sections_.rbegin(); it != sections_.rend(); ++it) {
        if (lines_[it->header].folded == folded) {
            splice(lines_[it->header].begin, lines_[it->end - 1].end, {});
            removed = true;
        }
    }
    parse();
    return removed;
}

void IniDocument::replaceSection(std::string_view section, const Entries& entries) {
    if (!validSectionName(section)) {
        throw std::invalid_argument("invalid INI section name");
    }
    for (const auto& [key, value] : entries) {
        if (!validKeyName(key)) {
            throw std::invalid_argument("invalid INI key name");
        }
        if (!validValue(value)) {
            throw std::invalid_argument("INI value with a line break");
        }
    }
    const std::string folded = foldCaseCp1252(trim(section));
    const Section* first = findSection(folded);
    if (first == nullptr) {
        std::string text;
        if (!bytes_.empty() && bytes_.back() != '\n') {
            text = kLineEnd;
        }
        text += newSectionText(section, entries);
        splice(bytes_.size(), bytes_.size(), text);
        parse();
        return;
    }
    // Later duplicates go first so that the positions of the first section stay valid.
    for (auto it = sections_.rbegin(); &*it != first; ++it) {
        if (lines_[it->header].folded == folded) {
            splice(lines_[it->header].begin, lines_[it->end - 1].end, {});
        }
    }
    std::string body;
    for (const auto& [key, value] : entries) {
        body += keyLine(trim(key), value);
    }
    const Line& header = lines_[first->header];
    std::size_t replaceEnd = header.end;
    for (std::size_t i = first->header + 1; i < first->end; ++i) {
        if (lines_[i].kind != Kind::Blank) {
            replaceEnd = lines_[i].end;
        }
    }
    if (header.end == header.contentEnd) {
        body.insert(0, kLineEnd); // the header was the unended last line
    }
    splice(header.end, replaceEnd, body);
    parse();
}

} // namespace keldo::platform
