#pragma once

// The Windows private-profile ("INI") text format held in memory as the file's own bytes,
// so that an edit changes only the lines it must and every other byte stays as it was.
// Names and values are Windows-1252 bytes here; IniFile converts to and from UTF-8.
//
// Format as read: a line "[NAME]" (blanks around NAME ignored, text after "]" ignored)
// starts a section; a line "KEY=VALUE" inside a section is a key (blanks around KEY and
// VALUE ignored). Lines are ended by LF or CR LF; the last one needs no end. Blank lines,
// comment lines (first non-blank ";"), lines without "=", and keys before the first section
// are not keys. Section and key names are compared without regard to case (ASCII and the
// accented letters of Windows-1252). When a section appears twice the first one is the
// section; when a key appears twice in it the first one is the key.
//
// Usage: IniDocument doc(bytes); doc.setValue("CONFMEN", "SOM", "1"); write(doc.bytes());

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace keldo::platform {

class IniDocument {
public:
    using Entries = std::vector<std::pair<std::string, std::string>>;

    // Windows reads a value into a 1024-byte buffer: 1023 bytes and the terminator.
    static constexpr std::size_t kMaxValueLength = 1023;

    IniDocument() = default;
    explicit IniDocument(std::string bytes);

    // The whole file as it stands after the edits made so far.
    const std::string& bytes() const { return bytes_; }

    bool hasSection(std::string_view section) const;
    // The value as Windows' GetPrivateProfileString gives it: without the blanks around it,
    // without one pair of matching enclosing quotes (' or "), cut to kMaxValueLength bytes.
    // nullopt when the section or the key is missing.
    std::optional<std::string> value(std::string_view section, std::string_view key) const;
    // Key names of the section in file order, each once, spelled as in the file.
    std::vector<std::string> keys(std::string_view section) const;
    // The keys of the section with their values (as value() reads them), in file order.
    Entries entries(std::string_view section) const;
    // Section names in file order, each once, spelled as in the file.
    std::vector<std::string> sections() const;

    // Edits. Each throws std::invalid_argument for a name or value that the format cannot
    // hold (see the checks below) and then leaves the document unchanged.
    //
    // Sets the value of a key: an existing key's line is rewritten in place as KEY=value
    // (KEY spelled as in the file, its line end kept); a new key is inserted after the last
    // line of its section that is not blank or a comment; a new section "[section]" with
    // the key is appended at the end of the file. New lines end in CR LF; a last line
    // without an end is given one first.
    void setValue(std::string_view section, std::string_view key, std::string_view value);
    // Removes every line of the key in its section. Returns false when there was none.
    bool removeKey(std::string_view section, std::string_view key);
    // Removes every section of that name, from its header up to the next section header.
    // Returns false when there was none.
    bool removeSection(std::string_view section);
    // Makes the section hold exactly entries, in order: the header line of the first section
    // of that name stays, the lines after it up to its last non-blank line are replaced (the
    // blank lines before the next section stay), later sections of that name are removed; a
    // missing section is appended as setValue appends one.
    void replaceSection(std::string_view section, const Entries& entries);

    // A section name is not empty (blanks aside) and has no "]", CR, LF or NUL.
    static bool validSectionName(std::string_view section);
    // A key name is not empty (blanks aside), has no "=", CR, LF or NUL, and does not start
    // with ";" or "[" (such a line would read back as a comment or a section).
    static bool validKeyName(std::string_view key);
    // A value has no CR, LF or NUL: it would end the line and turn the rest into other keys.
    static bool validValue(std::string_view value);

private:
    enum class Kind { Blank, Comment, Section, Key, Other };
    struct Line {
        std::size_t begin = 0;      // first byte of the line
        std::size_t contentEnd = 0; // first byte of the line end ("\r\n" or "\n")
        std::size_t end = 0;        // first byte of the next line
        Kind kind = Kind::Other;
        std::string name;   // section or key name, trimmed, as in the file
        std::string folded; // name folded for comparison
        std::string value;  // key value, trimmed, as in the file
    };
    struct Section {
        std::size_t header = 0; // index of the header line
        std::size_t end = 0;    // index of the first line after the section
    };

    void parse();
    const Section* findSection(std::string_view folded) const;
    std::vector<std::size_t> findKeyLines(const Section& section, std::string_view folded) const;
    void splice(std::size_t begin, std::size_t end, std::string_view replacement);
    static std::string newSectionText(std::string_view section, const Entries& entries);

    std::string bytes_;
    std::vector<Line> lines_;
    std::vector<Section> sections_;
};

} // namespace keldo::platform
