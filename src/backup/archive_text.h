#pragma once

// Texts inside an archive (paths, comment, key) are Windows-1252 bytes; inside the program
// they are UTF-8. A file name that Windows-1252 cannot hold goes into the archive as its
// UTF-8 bytes and comes back as such.
//
// Paths: a file under a mapped drive is stored as "C:\..." (platform::toWindows); any other
// file keeps its native path. archiveNativePath gives the file system path of a stored one.

#include <filesystem>
#include <string>
#include <string_view>

namespace keldo::backup {

std::string toArchiveText(std::string_view utf8);
std::string fromArchiveText(std::string_view stored);

// A stored (Windows-1252) path in Windows form or native form as a native path.
std::filesystem::path archiveNativePath(std::string_view stored);

// True when a path has a ".." component (either separator).
bool hasParentComponent(std::string_view path);

} // namespace keldo::backup
