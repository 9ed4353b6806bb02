#include "paths.h"

#include "cp1252.h"

#include <cstdlib>
#include <pwd.h>
#include <system_error>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace keldo::platform {

namespace {

bool isSeparator(char c) {
    return c == '\\' || c == '/';
}

bool isAsciiLetter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

char lowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string envValue(const char* name) {
    const char* value = std::getenv(name);
    return value == nullptr ? std::string() : std::string(value);
}

fs::path homeFolder() {
    std::string home = envValue("HOME");
    if (home.empty()) {
        if (const passwd* entry = getpwuid(getuid()); entry != nullptr && entry->pw_dir) {
            home = entry->pw_dir;
        }
    }
    return home;
}

// Splits the part of a Windows path after its drive into components, applying "." and ".."
// the way Windows normalises a full path: lexically, and never above the root.
std::vector<std::string> windowsComponents(std::string_view rest) {
    std::vector<std::string> parts;
    std::size_t pos = 0;
    while (pos <= rest.size()) {
        std::size_t end = pos;
        while (end < rest.size() && !isSeparator(rest[end])) {
            ++end;
        }
        const std::string_view part = rest.substr(pos, end - pos);
        if (part == "..") {
            if (!parts.empty()) {
                parts.pop_back();
            }
        } else if (!part.empty() && part != ".") {
            parts.emplace_back(part);
        }
        pos = end + 1;
    }
    return parts;
}

// The name of the entry of dir that matches name without regard to case: name itself when
// it exists as written, else the first matching spelling in byte order.
std::optional<std::string> findEntry(const fs::path& dir, const std::string& name) {
    std::error_code ec;
    if (fs::exists(fs::symlink_status(dir / name, ec))) {
        return name;
    }
    const std::string wanted = foldCaseUtf8(name);
    std::optional<std::string> best;
    fs::directory_iterator it(dir, ec);
    for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
        std::string candidate = it->path().filename().string();
        if (foldCaseUtf8(candidate) == wanted && (!best || candidate < *best)) {
            best = std::move(candidate);
        }
    }
    return best;
}

// Components of a path without the empty one that a trailing separator leaves.
std::vector<fs::path> pathComponents(const fs::path& p) {
    std::vector<fs::path> parts;
    for (const fs::path& part : p) {
        if (!part.empty()) {
            parts.push_back(part);
        }
    }
    return parts;
}

} // namespace

fs::path keldoRoot() {
    if (std::string root = envValue("KELDO_ROOT"); !root.empty()) {
        return root;
    }
    // The XDG rules ignore a relative XDG_DATA_HOME.
    if (std::string data = envValue("XDG_DATA_HOME"); !data.empty() && data.front() == '/') {
        return fs::path(data) / "keldoran";
    }
    return homeFolder() / ".local" / "share" / "keldoran";
}

fs::path driveFolder(char letter) {
    if (!isAsciiLetter(letter)) {
        return {};
    }
    return keldoRoot() / std::string(1, lowerAscii(letter));
}

fs::path toNative(std::string_view path) {
    if (path.empty()) {
        return {};
    }
    if (path.front() == '/') {
        return fs::path(std::string(path));
    }
    char drive = 0;
    std::string_view rest;
    if (path.size() >= 2 && isAsciiLetter(path[0]) && path[1] == ':') {
        drive = path[0];
        rest = path.substr(2);
    } else if (isSeparator(path[0]) && !(path.size() >= 2 && isSeparator(path[1]))) {
        drive = 'c';
        rest = path;
    } else {
        std::string relative(path);
        for (char& c : relative) {
            if (c == '\\') {
                c = '/';
            }
        }
        return fs::path(relative);
    }

    fs::path current = driveFolder(drive);
    bool matching = true;
    for (const std::string& part : windowsComponents(rest)) {
        if (matching) {
            if (std::optional<std::string> found = findEntry(current, part)) {
                current /= *found;
                continue;
            }
            matching = false;
        }
        current /= part;
    }
    return current;
}

std::optional<std::string> toWindows(const fs::path& native) {
    std::error_code ec;
    const fs::path full = fs::absolute(native, ec).lexically_normal();
    if (ec) {
        return std::nullopt;
    }
    const fs::path root = fs::absolute(keldoRoot(), ec).lexically_normal();
    if (ec) {
        return std::nullopt;
    }
    const std::vector<fs::path> parts = pathComponents(full);
    const std::vector<fs::path> rootParts = pathComponents(root);
    if (parts.size() <= rootParts.size()) {
        return std::nullopt;
    }
    for (std::size_t i = 0; i < rootParts.size(); ++i) {
        if (parts[i] != rootParts[i]) {
            return std::nullopt;
        }
    }
    const std::string drive = parts[rootParts.size()].string();
    if (drive.size() != 1 || drive[0] < 'a' || drive[0] > 'z') {
        return std::nullopt;
    }
    std::string windows(1, static_cast<char>(drive[0] - 'a' + 'A'));
    windows += ":\\";
    for (std::size_t i = rootParts.size() + 1; i < parts.size(); ++i) {
        if (i > rootParts.size() + 1) {
            windows += '\\';
        }
        windows += parts[i].string();
    }
    return windows;
}

std::string windowsDirectory() {
    return "C:\\WINDOWS";
}

std::string temporaryDirectory() {
    return windowsDirectory() + "\\TEMP";
}

std::string programFolder() {
    return "C:\\KELDORAN32\\";
}

fs::path ensureDirectory(std::string_view windowsOrNative) {
    const fs::path folder = toNative(windowsOrNative);
    fs::create_directories(folder);
    if (!fs::is_directory(folder)) {
        throw fs::filesystem_error("not a directory", folder,
                                   std::make_error_code(std::errc::not_a_directory));
    }
    return folder;
}

} // namespace keldo::platform
