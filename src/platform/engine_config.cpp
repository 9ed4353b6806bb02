#include "engine_config.h"

#include "cp1252.h"
#include "file_io.h"
#include "ini_document.h"
#include "paths.h"

#include <system_error>

namespace keldo::platform {

namespace {

std::string readErrorText(const std::filesystem::path& file, const std::system_error& error) {
    return "Não foi possível ler a configuração do banco de dados \"" + file.string() +
           "\": " + error.code().message();
}

std::string writeErrorText(const std::filesystem::path& file, const std::system_error& error) {
    return "Não foi possível gravar a configuração do banco de dados \"" + file.string() +
           "\": " + error.code().message();
}

} // namespace

EngineConfig::EngineConfig() : EngineConfig(keldoRoot() / "engine.cfg") {}

EngineConfig::EngineConfig(std::filesystem::path file) : file_(std::move(file)) {}

const EngineConfig::Alias* EngineConfig::find(const std::vector<Alias>& aliases,
                                              std::string_view name) {
    const std::string folded = foldCaseUtf8(name);
    for (const Alias& alias : aliases) {
        if (foldCaseUtf8(alias.name) == folded) {
            return &alias;
        }
    }
    return nullptr;
}

void EngineConfig::put(std::vector<Alias>& aliases, std::string name, AliasParams params) {
    const std::string folded = foldCaseUtf8(name);
    for (Alias& alias : aliases) {
        if (foldCaseUtf8(alias.name) == folded) {
            alias = {std::move(name), std::move(params)};
            return;
        }
    }
    aliases.push_back({std::move(name), std::move(params)});
}

std::string EngineConfig::readFile() const {
    try {
        return readWholeFile(file_).value_or(std::string());
    } catch (const std::system_error& error) {
        throw EngineConfigError(readErrorText(file_, error));
    }
}

std::optional<AliasParams> EngineConfig::aliasParams(std::string_view alias) const {
    if (const Alias* added = find(pendingAliases_, alias)) {
        return added->params;
    }
    if (const Alias* added = find(runAliases_, alias)) {
        return added->params;
    }
    bool lossless = false;
    const std::string section = utf8ToCp1252(alias, &lossless);
    const IniDocument document(readFile());
    if (!lossless || !IniDocument::validSectionName(section) || !document.hasSection(section)) {
        return std::nullopt;
    }
    AliasParams params;
    for (const auto& [key, value] : document.entries(section)) {
        params.emplace_back(cp1252ToUtf8(key), cp1252ToUtf8(value));
    }
    return params;
}

bool EngineConfig::aliasExists(std::string_view alias) const {
    return aliasParams(alias).has_value();
}

void EngineConfig::addRunAlias(std::string name, AliasParams params) {
    put(runAliases_, std::move(name), std::move(params));
}

void EngineConfig::addAlias(std::string name, AliasParams params) {
    bool lossless = true;
    auto check = [&lossless](std::string_view text) {
        bool exact = false;
        std::string bytes = utf8ToCp1252(text, &exact);
        lossless = lossless && exact;
        return bytes;
    };
    bool valid = IniDocument::validSectionName(check(name));
    for (const auto& [key, value] : params) {
        valid =
            valid && IniDocument::validKeyName(check(key)) && IniDocument::validValue(check(value));
    }
    if (!valid || !lossless) {
        throw std::invalid_argument("alias \"" + name + "\" cannot be stored in " + file_.string());
    }
    put(pendingAliases_, std::move(name), std::move(params));
}

void EngineConfig::save() {
    if (pendingAliases_.empty()) {
        return;
    }
    IniDocument document(readFile());
    for (const Alias& alias : pendingAliases_) {
        IniDocument::Entries entries;
        for (const auto& [key, value] : alias.params) {
            entries.emplace_back(utf8ToCp1252(key), utf8ToCp1252(value));
        }
        document.replaceSection(utf8ToCp1252(alias.name), entries);
    }
    try {
        replaceFileAtomically(file_, document.bytes());
    } catch (const std::system_error& error) {
        throw EngineConfigError(writeErrorText(file_, error));
    }
    pendingAliases_.clear();
}

} // namespace keldo::platform
