#pragma once

// The database engine's alias configuration, $KELDO_ROOT/engine.cfg: INI format, one section
// per alias, the alias's parameter lines in order, e.g.
//
//   [Keldoran32]
//   PATH=C:\KELDORAN32\DADOS
//   DEFAULT DRIVER=SQLITE
//
// (POSTGRESQL aliases add HOST, PORT, DATABASE, USER, PASSWORD.) The object plays the
// engine's session: it knows the aliases of the file, aliases added for the run only, and
// aliases added to be saved. Alias names are compared without regard to case. Values are
// read as IniFile reads them (blanks and enclosing quotes dropped, Windows-1252 text).
//
// Usage: keldo::platform::EngineConfig engine;
//        if (!engine.aliasExists("Keldoran32"))
//            engine.addRunAlias("Keldoran32", {{"PATH", "C:\\KELDORAN32\\DADOS"},
//                                              {"DEFAULT DRIVER", "SQLITE"}});

#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace keldo::platform {

// The configuration file exists but cannot be read (a folder, no read permission, an I/O
// error), or save() could not write it. The message is in Portuguese and names the file.
class EngineConfigError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

using AliasParams = std::vector<std::pair<std::string, std::string>>;

class EngineConfig {
public:
    // The file is keldoRoot()/"engine.cfg", taken when the object is made.
    EngineConfig();
    explicit EngineConfig(std::filesystem::path file);

    const std::filesystem::path& file() const { return file_; }

    // The alias's parameters in order: an alias added to this object (addAlias not yet
    // saved, then addRunAlias) hides one of the same name in the file. An alias whose
    // section has no parameter lines gives an empty list; an unknown alias nullopt (also
    // when the file is missing). Throws EngineConfigError when the file has to be consulted
    // and exists but cannot be read.
    std::optional<AliasParams> aliasParams(std::string_view alias) const;
    // aliasParams(alias).has_value(), with the same error.
    bool aliasExists(std::string_view alias) const;

    // Makes an alias known for the life of this object; it is never written. Replaces a run
    // alias of the same name.
    void addRunAlias(std::string name, AliasParams params);
    // Makes an alias known at once and writes it to the file at the next save(). Replaces a
    // pending alias of the same name. Throws std::invalid_argument when the name or a
    // parameter cannot be held by the file (see IniDocument; Windows-1252 text).
    void addAlias(std::string name, AliasParams params);
    // Writes the pending aliases into the file, each as a section holding exactly its
    // parameters (an alias already in the file is replaced in place), keeping every other
    // alias's lines byte for byte; the file is replaced atomically and created when missing.
    // Nothing is written when nothing is pending. Throws EngineConfigError when the file
    // cannot be read or written; the pending aliases then stay pending.
    void save();

private:
    struct Alias {
        std::string name;
        AliasParams params;
    };
    static const Alias* find(const std::vector<Alias>& aliases, std::string_view name);
    static void put(std::vector<Alias>& aliases, std::string name, AliasParams params);
    std::string readFile() const;

    std::filesystem::path file_;
    std::vector<Alias> runAliases_;
    std::vector<Alias> pendingAliases_;
};

} // namespace keldo::platform
