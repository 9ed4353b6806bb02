#pragma once

// The engine's name rules: splitting an include line or a path into folder and file name,
// the name pattern of include and exclude lines, and Match. "\" and "/" are both folder
// separators everywhere here. Texts are compared without regard to case, byte by byte in
// Windows-1252 (the form paths have in the catalogue).
//
// The name pattern is not a shell glob: the scan stops as soon as the pattern is used up,
// so "abc" matches "abcd", and a "*" that reaches the last character of the name matches
// whatever is left, so "*.db" matches "ab".
//
// Usage: if (Match("C:\\DATA\\*.TMP", entry.path, true)) ...

#include <cstddef>
#include <string>
#include <string_view>

namespace keldo::backup {

inline bool isFolderSeparator(char c) {
    return c == '\\' || c == '/';
}

// The folder part (up to and including the last separator; empty when there is none) and
// the file-name part (the rest).
std::string_view folderPart(std::string_view path);
std::string_view namePart(std::string_view path);

// folder with a trailing separator added when it is not empty and has none: "/" for a
// native path (starting with "/"), "\" otherwise.
std::string withTrailingSeparator(std::string_view folder);

// Number of separators in text.
std::size_t separatorCount(std::string_view text);

// The name pattern (both sides compared in lower case).
bool MatchName(std::string_view pattern, std::string_view name);

// True when the file-name part of path matches that of spec by the name pattern, and the
// folder part of spec is empty, or (with subfolders) occurs anywhere in path's folder part,
// or (without) equals it; all ignoring case, "\" and "/" alike.
bool Match(std::string_view spec, std::string_view path, bool subfolders);

// Cuts a trailing "/S" (any case) off an include line; true when it was there.
bool cutSubfolderSwitch(std::string& line);

// The same for an exclude line, where the switch may stand anywhere: a
// Windows-form line is cut before its first "/S" (any case), whatever
// follows ("C:\TMP\*.TMP/S " too). A native line ("/srv/...") has slashes
// of its own, so there only a final "/S", spaces after it allowed, is the
// switch.
bool cutExcludeSubfolderSwitch(std::string& line);

// The file system's own wildcard rules for a directory listing mask: "*" any run, "?" any
// one character, case ignored; "*.*" and "*" match every name, and a name without a dot
// also matches a mask ending in "." or ".*" after its stem ("*.*" style).
bool MatchListingMask(std::string_view mask, std::string_view name);

} // namespace keldo::backup
