#pragma once

// The installation root and the mapping of the fixed Windows paths of the product onto it.
// Drive X: is the folder keldoRoot()/x; the components of a Windows path are matched without
// regard to case against what exists, so C:\KELDORAN32\DADOS finds an existing
// .../c/keldoran32/dados.
//
// Usage: std::filesystem::path dir = keldo::platform::toNative("C:\\KELDORAN32\\DADOS");

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace keldo::platform {

// KELDO_ROOT when set and not empty, else $XDG_DATA_HOME/keldoran (when XDG_DATA_HOME is an
// absolute path), else ~/.local/share/keldoran. The environment is read on every call.
std::filesystem::path keldoRoot();

// The folder that stands for drive letter (any case): keldoRoot()/<lower-case letter>.
// letter must be an ASCII letter; anything else gives an empty path.
std::filesystem::path driveFolder(char letter);

// Maps a Windows-form path to its native path:
//  - "C:\A\B" (either separator, trailing separator allowed) becomes keldoRoot()/c/A/B where
//    each component reuses, whatever its case, the name of an entry that already exists on
//    disk; from the first component that does not exist the rest is kept as written. An
//    exact-case entry wins over other spellings. "." is dropped and ".." goes up, but never
//    above the drive folder. "C:\" is the drive folder itself.
//  - a drive-relative "C:A\B" is taken from the drive's root (there is no per-drive current
//    directory), and a rooted "\A\B" is on drive C:, the drive the program runs from.
//  - a path that starts with "/" is already native and is returned unchanged.
//  - anything else (a relative path, a UNC name) stays as written with '\' turned into '/'.
// Never throws; folders that cannot be listed count as not matching.
std::filesystem::path toNative(std::string_view path);

// The reverse of toNative for a path inside a drive folder: keldoRoot()/c/a/b gives
// "C:\a\b" and the drive folder itself "C:\". The comparison is lexical (a relative path is
// taken from the current directory first). nullopt for anything outside the drive folders.
std::optional<std::string> toWindows(const std::filesystem::path& native);

// The fixed Windows folders of the installation, in Windows form; map them with toNative.
std::string windowsDirectory();   // "C:\WINDOWS"
std::string temporaryDirectory(); // "C:\WINDOWS\TEMP"
std::string programFolder();      // "C:\KELDORAN32\" (with its trailing backslash)

// Creates the folder named by a Windows-form or native path, parents included, reusing
// existing components whatever their case. Returns the native folder. Throws
// std::filesystem::filesystem_error when it cannot be created.
std::filesystem::path ensureDirectory(std::string_view windowsOrNative);

} // namespace keldo::platform
