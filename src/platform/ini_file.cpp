#include "ini_file.h"

#include "cp1252.h"
#include "file_io.h"
#include "ini_document.h"
#include "paths.h"

#include <cstdint>
#include <limits>
#include <optional>

namespace keldo::platform {

namespace {

// A name's Windows-1252 bytes, or nullopt when it has characters the file cannot hold (no
// such name can be in the file).
std::optional<std::string> toFileText(std::string_view utf8) {
    bool lossless = false;
    std::string bytes = utf8ToCp1252(utf8, &lossless);
    if (!lossless) {
        return std::nullopt;
    }
    return bytes;
}

std::string toFileTextForWrite(std::string_view utf8) {
    std::optional<std::string> bytes = toFileText(utf8);
    if (!bytes) {
        throw std::invalid_argument("INI name not representable in Windows-1252");
    }
    return *bytes;
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

std::optional<int> parseInteger(std::string_view text) {
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        std::uint64_t value = 0;
        for (const char c : text.substr(2)) {
            const int digit = hexDigit(c);
            if (digit < 0) {
                return std::nullopt;
            }
            value = value * 16 + static_cast<unsigned>(digit);
            if (value > 0xFFFFFFFFu) {
                return std::nullopt;
            }
        }
        return static_cast<int>(static_cast<std::uint32_t>(value));
    }
    bool negative = false;
    if (!text.empty() && (text[0] == '+' || text[0] == '-')) {
        negative = text[0] == '-';
        text.remove_prefix(1);
    }
    if (text.empty()) {
        return std::nullopt;
    }
    std::int64_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        value = value * 10 + (c - '0');
        if (value > static_cast<std::int64_t>(std::numeric_limits<int>::max()) + 1) {
            return std::nullopt;
        }
    }
    value = negative ? -value : value;
    if (value > std::numeric_limits<int>::max()) {
        return std::nullopt;
    }
    return static_cast<int>(value);
}

} // namespace

IniWriteError::IniWriteError(const std::string& fileName, std::filesystem::path path,
                             std::error_code reason)
    : std::runtime_error("Unable to write to " + fileName), path_(std::move(path)),
      reason_(reason) {}

IniFile::IniFile(std::string fileName) : fileName_(std::move(fileName)) {}

std::filesystem::path IniFile::path() const {
    const bool hasDirectory = fileName_.find_first_of("\\/") != std::string::npos ||
                              (fileName_.size() >= 2 && fileName_[1] == ':');
    if (hasDirectory) {
        return toNative(fileName_);
    }
    return toNative(windowsDirectory() + "\\" + fileName_);
}

std::string IniFile::load() const {
    try {
        return readWholeFile(path()).value_or(std::string());
    } catch (const std::system_error&) {
        return {}; // Windows reads an unreadable file as an empty one
    }
}

template <typename Edit> void IniFile::update(Edit&& edit) {
    const std::filesystem::path file = path();
    std::optional<std::string> bytes;
    try {
        bytes = readWholeFile(file);
    } catch (const std::system_error& error) {
        throw IniWriteError(fileName_, file, error.code());
    }
    IniDocument document(bytes.value_or(std::string()));
    if (!edit(document)) {
        return;
    }
    try {
        replaceFileAtomically(file, document.bytes());
    } catch (const std::system_error& error) {
        throw IniWriteError(fileName_, file, error.code());
    }
}

std::string IniFile::readString(std::string_view section, std::string_view key,
                                std::string_view defaultValue) const {
    const std::optional<std::string> sectionName = toFileText(section);
    const std::optional<std::string> keyName = toFileText(key);
    if (!sectionName || !keyName) {
        return std::string(defaultValue);
    }
    const std::optional<std::string> value = IniDocument(load()).value(*sectionName, *keyName);
    return value ? cp1252ToUtf8(*value) : std::string(defaultValue);
}

int IniFile::readInteger(std::string_view section, std::string_view key, int defaultValue) const {
    return parseInteger(readString(section, key, "")).value_or(defaultValue);
}

bool IniFile::readBool(std::string_view section, std::string_view key, bool defaultValue) const {
    return readInteger(section, key, defaultValue ? 1 : 0) != 0;
}

void IniFile::writeString(std::string_view section, std::string_view key, std::string_view value) {
    const std::string sectionName = toFileTextForWrite(section);
    const std::string keyName = toFileTextForWrite(key);
    const std::string bytes = utf8ToCp1252(value);
    if (!IniDocument::validSectionName(sectionName) || !IniDocument::validKeyName(keyName) ||
        !IniDocument::validValue(bytes)) {
        throw std::invalid_argument("invalid INI section, key or value");
    }
    update([&](IniDocument& document) {
        document.setValue(sectionName, keyName, bytes);
        return true;
    });
}

void IniFile::writeInteger(std::string_view section, std::string_view key, int value) {
    writeString(section, key, std::to_string(value));
}

void IniFile::writeBool(std::string_view section, std::string_view key, bool value) {
    writeString(section, key, value ? "1" : "0");
}

bool IniFile::sectionExists(std::string_view section) const {
    const std::optional<std::string> name = toFileText(section);
    return name && IniDocument(load()).hasSection(*name);
}

bool IniFile::valueExists(std::string_view section, std::string_view key) const {
    const std::optional<std::string> sectionName = toFileText(section);
    const std::optional<std::string> keyName = toFileText(key);
    return sectionName && keyName && IniDocument(load()).value(*sectionName, *keyName);
}

std::vector<std::string> IniFile::readSection(std::string_view section) const {
    std::vector<std::string> names;
    if (const std::optional<std::string> name = toFileText(section)) {
        for (const std::string& key : IniDocument(load()).keys(*name)) {
            names.push_back(cp1252ToUtf8(key));
        }
    }
    return names;
}

std::vector<std::string> IniFile::readSectionValues(std::string_view section) const {
    std::vector<std::string> lines;
    if (const std::optional<std::string> name = toFileText(section)) {
        for (const auto& [key, value] : IniDocument(load()).entries(*name)) {
            lines.push_back(cp1252ToUtf8(key) + "=" + cp1252ToUtf8(value));
        }
    }
    return lines;
}

std::vector<std::string> IniFile::readSections() const {
    std::vector<std::string> names;
    for (const std::string& section : IniDocument(load()).sections()) {
        names.push_back(cp1252ToUtf8(section));
    }
    return names;
}

void IniFile::eraseSection(std::string_view section) {
    const std::optional<std::string> name = toFileText(section);
    if (!name) {
        return;
    }
    update([&](IniDocument& document) { return document.removeSection(*name); });
}

void IniFile::deleteKey(std::string_view section, std::string_view key) {
    const std::optional<std::string> sectionName = toFileText(section);
    const std::optional<std::string> keyName = toFileText(key);
    if (!sectionName || !keyName) {
        return;
    }
    update([&](IniDocument& document) { return document.removeKey(*sectionName, *keyName); });
}

} // namespace keldo::platform
