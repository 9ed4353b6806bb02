// Arbitrary bytes as an INI file: every read must hold up, and an edit must change exactly
// what it says and nothing that another section or key reads. The same bytes also go
// through the Windows-1252 / UTF-8 conversions, which must round-trip.

#include "platform/cp1252.h"
#include "platform/ini_document.h"
#include "platform/ini_file.h"

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <stdexcept>
#include <string>

using keldo::platform::IniDocument;

namespace {

void check(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "check failed: %s\n", what);
        std::abort();
    }
}

using Snapshot = std::map<std::string, IniDocument::Entries>;

// What every section reads, keyed by its folded name.
Snapshot snapshot(const IniDocument& document) {
    Snapshot result;
    for (const std::string& section : document.sections()) {
        result[keldo::platform::foldCaseCp1252(section)] = document.entries(section);
    }
    return result;
}

void readEverything(const IniDocument& document) {
    for (const std::string& section : document.sections()) {
        check(document.hasSection(section), "a listed section exists");
        for (const auto& [key, value] : document.entries(section)) {
            check(value.size() <= IniDocument::kMaxValueLength, "value cut to 1023 bytes");
            check(document.value(section, key) == value, "entries agree with value()");
        }
    }
}

// Sets one key and checks that only that key's value changed.
void checkSetValue(const IniDocument& original, const std::string& section,
                   const std::string& key) {
    const std::string value = "fuzz value";
    IniDocument edited = original;
    edited.setValue(section, key, value);
    check(edited.value(section, key) == value, "written value reads back");

    Snapshot before = snapshot(original);
    Snapshot after = snapshot(edited);
    const std::string target = keldo::platform::foldCaseCp1252(section);
    const std::string targetKey = keldo::platform::foldCaseCp1252(key);
    auto dropKey = [&targetKey](IniDocument::Entries& entries) {
        std::erase_if(entries, [&targetKey](const auto& entry) {
            return keldo::platform::foldCaseCp1252(entry.first) == targetKey;
        });
    };
    dropKey(before[target]);
    dropKey(after[target]);
    check(before == after, "no other key changed");
}

void checkRemovals(const IniDocument& original, const std::string& section,
                   const std::string& key) {
    IniDocument withoutKey = original;
    withoutKey.removeKey(section, key);
    check(!withoutKey.value(section, key), "removed key is gone");
    IniDocument withoutSection = original;
    withoutSection.removeSection(section);
    check(!withoutSection.hasSection(section), "removed section is gone");
    Snapshot before = snapshot(original);
    before.erase(keldo::platform::foldCaseCp1252(section));
    check(snapshot(withoutSection) == before, "other sections survive a section removal");
}

void fuzzIni(const std::string& bytes) {
    const IniDocument document(bytes);
    readEverything(document);

    std::string section = "FUZZ";
    std::string key = "KEY";
    const std::vector<std::string> sections = document.sections();
    if (!sections.empty() && IniDocument::validSectionName(sections.front())) {
        section = sections.front();
        const std::vector<std::string> keys = document.keys(section);
        if (!keys.empty() && IniDocument::validKeyName(keys.back())) {
            key = keys.back();
        }
    }
    checkSetValue(document, section, key);
    checkSetValue(document, "FUZZ NEW", "NEW KEY");
    checkRemovals(document, section, key);

    IniDocument replaced = document;
    replaced.replaceSection(section, {{"A", "1"}, {"B", "2"}});
    check(replaced.entries(section) == IniDocument::Entries{{"A", "1"}, {"B", "2"}},
          "replaced section holds exactly its entries");
}

void fuzzFile(const std::string& bytes) {
    static const std::filesystem::path folder = [] {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "keldo-fuzz-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) {
            std::abort();
        }
        ::setenv("KELDO_ROOT", pattern.c_str(), 1);
        return std::filesystem::path(pattern);
    }();
    static const bool cleanUp = [] {
        std::atexit([] {
            std::error_code ec;
            std::filesystem::remove_all(folder, ec);
        });
        return true;
    }();
    (void)cleanUp;
    const std::filesystem::path file = folder / "fuzz.ini";
    {
        std::ofstream out(file, std::ios::binary | std::ios::trunc);
        out << bytes;
    }
    keldo::platform::IniFile ini(file.string());
    for (const std::string& section : ini.readSections()) {
        for (const std::string& line : ini.readSectionValues(section)) {
            check(line.find('=') != std::string::npos, "section values are key=value");
        }
        for (const std::string& key : ini.readSection(section)) {
            ini.readInteger(section, key, 0);
            check(ini.valueExists(section, key), "a listed key exists");
        }
    }
    ini.writeInteger("FUZZ", "COUNT", 42);
    check(ini.readInteger("fuzz", "count", 0) == 42, "written integer reads back");
}

void fuzzText(const std::string& bytes) {
    const std::string utf8 = keldo::platform::cp1252ToUtf8(bytes);
    bool lossless = false;
    check(keldo::platform::utf8ToCp1252(utf8, &lossless) == bytes && lossless,
          "Windows-1252 round-trips through UTF-8");
    const std::string converted = keldo::platform::utf8ToCp1252(bytes, &lossless);
    check(converted.size() <= bytes.size(), "one byte at most per UTF-8 byte");
    check(lossless == keldo::platform::utf8Representable(bytes), "representable agrees");
    if (lossless) {
        check(keldo::platform::cp1252ToUtf8(converted) == bytes, "UTF-8 round-trips");
    }
    keldo::platform::foldCaseUtf8(bytes);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    fuzzText(bytes);
    fuzzIni(bytes);
    // Each file write is flushed to disk; only some inputs take that slower road.
    if (size > 0 && data[0] % 8 == 0) {
        fuzzFile(bytes);
    }
    return 0;
}
