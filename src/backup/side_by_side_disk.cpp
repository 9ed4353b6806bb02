#include "backup/side_by_side_disk.h"

namespace keldo::backup {

std::unique_ptr<TDiskFile> TSideBySideDisk::create(const std::filesystem::path& file) {
    auto created = disk_.create(file);
    if (created) {
        written_.insert(file.lexically_normal());
    }
    return created;
}

bool TSideBySideDisk::exists(const std::filesystem::path& file) {
    // The stream asks only about the volume it has just closed; that disk is out of the
    // drive, whatever the folder says.
    if (written_.count(file.lexically_normal()) != 0) {
        return false;
    }
    return disk_.exists(file);
}

} // namespace keldo::backup
