#pragma once

// A private-profile INI file with the semantics of the Windows GetPrivateProfileString /
// WritePrivateProfileString family as Delphi's TIniFile uses them. The object is only a
// name: nothing is cached, every call reads or rewrites the file, so another program (the
// collector module) sharing the file always sees the latest values and vice versa.
//
// Text in the API is UTF-8; the file is Windows-1252 with CR LF line ends. The format, the
// comparison of names and the reading of duplicates are those of IniDocument.
//
// Usage: keldo::platform::IniFile ini("KELDO32.INI");             // C:\WINDOWS\KELDO32.INI
//        bool som = ini.readBool("CONFMEN", "SOM", true);
//        ini.writeString("CONFMEN", "MENSAGEM", "Bom dia");       // may throw IniWriteError

#include <filesystem>
#include <stdexcept>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace keldo::platform {

// A write that the file system refused. what() is exactly "Unable to write to <name>" with
// the file name as given to IniFile (as Delphi reports it); path() and reason() tell where
// and why.
class IniWriteError : public std::runtime_error {
public:
    IniWriteError(const std::string& fileName, std::filesystem::path path, std::error_code reason);
    const std::filesystem::path& path() const { return path_; }
    std::error_code reason() const { return reason_; }

private:
    std::filesystem::path path_;
    std::error_code reason_;
};

class IniFile {
public:
    // fileName without a directory (no "\" or "/" and no drive) lives in the Windows
    // directory; a Windows-form path is mapped with toNative; a native path is used as is.
    explicit IniFile(std::string fileName);

    // The name as given.
    const std::string& fileName() const { return fileName_; }
    // The native file, mapped anew (matching existing folders without regard to case).
    std::filesystem::path path() const;

    // Reads never fail: a missing or unreadable file, section or key gives the default,
    // which is returned as given. Section and key names that Windows-1252 cannot hold are
    // never found.
    //
    // The value without surrounding blanks and one pair of enclosing quotes, cut to 1023
    // bytes of the file (Windows-1252 characters), converted to UTF-8.
    std::string readString(std::string_view section, std::string_view key,
                           std::string_view defaultValue) const;
    // The value read as TIniFile.ReadInteger does: a value longer than two characters that
    // starts with "0x" or "0X" is hexadecimal (up to FFFFFFFF, taken as a 32-bit two's
    // complement value, so 0xFFFFFFFF is -1); anything else is decimal with an optional
    // "+" or "-" and must fit in 32 bits. Anything else, "12abc", "0x", "-0x10" or an empty
    // value included, gives the default.
    int readInteger(std::string_view section, std::string_view key, int defaultValue) const;
    // readInteger with the default 1 or 0; any non-zero number is true.
    bool readBool(std::string_view section, std::string_view key, bool defaultValue) const;

    // Writes rewrite the file atomically (IniDocument::setValue decides which bytes change;
    // characters that Windows-1252 cannot hold become "?"). The file and its folders are
    // created when missing. Throw IniWriteError when the file cannot be read (its contents
    // would be lost), written or replaced, and std::invalid_argument for a section or key
    // name that the format or Windows-1252 cannot hold, or a value with a line break.
    void writeString(std::string_view section, std::string_view key, std::string_view value);
    void writeInteger(std::string_view section, std::string_view key, int value); // decimal
    void writeBool(std::string_view section, std::string_view key, bool value);   // "1"/"0"

    // True when the section's header is in the file, even with no keys (Delphi's
    // SectionExists wants at least one key; an empty section is a section here).
    bool sectionExists(std::string_view section) const;
    bool valueExists(std::string_view section, std::string_view key) const;
    // Key names of the section in file order, each once.
    std::vector<std::string> readSection(std::string_view section) const;
    // "key=value" for each key of readSection, the value as readString reads it.
    std::vector<std::string> readSectionValues(std::string_view section) const;
    // Section names in file order, each once.
    std::vector<std::string> readSections() const;

    // Remove every section of that name with its lines / every line of the key. Nothing is
    // written when there is nothing to remove. Throw IniWriteError like the writes.
    void eraseSection(std::string_view section);
    void deleteKey(std::string_view section, std::string_view key);

private:
    std::string load() const;
    template <typename Edit> void update(Edit&& edit);

    std::string fileName_;
};

} // namespace keldo::platform
