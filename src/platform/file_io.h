#pragma once

// Whole-file reads and crash-safe whole-file replacement, for the small configuration
// files that several programs share (the INI file, the engine's alias configuration).
//
// Usage: if (auto bytes = keldo::platform::readWholeFile(p)) { ... }
//        keldo::platform::replaceFileAtomically(p, newBytes);

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace keldo::platform {

// The bytes of file; nullopt when it does not exist (ENOENT, or a parent that is not a
// folder). Throws std::system_error when it exists but cannot be read: a folder, no read
// permission, an I/O error.
std::optional<std::string> readWholeFile(const std::filesystem::path& file);

// Replaces the contents of file with bytes so that a reader sees either the old or the new
// file, never a mix, even after a crash: the bytes go to a temporary file in the same folder,
// are flushed to disk, and the temporary file is renamed over the original. The missing
// folders are created. An existing file keeps its permissions (and owner, where the process
// may set it); a symbolic link is followed and its target replaced. A file whose permissions
// forbid writing is refused, as Windows refuses a read-only file, even for the superuser.
// Throws std::system_error on any failure; the original file is then untouched.
void replaceFileAtomically(const std::filesystem::path& file, std::string_view bytes);

} // namespace keldo::platform
