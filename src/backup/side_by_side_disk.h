#pragma once

// TSideBySideDisk: volumes of a spanned archive written next to each other in one folder,
// each at most a given size, with no disk to change. The size limit plays the full disk
// (TLocalDisk's volume limit); a volume that this disk wrote earlier in the run counts as
// a disk already taken out of the drive (exists() is false for it), so the stream's "same disk
// still in the drive" check lets the next volume be created beside it. Used by keldoctl's
// --volume-size.
//
// Usage: TSideBySideDisk disk(1440 * 1024);  engine.DiskMedium = &disk;
//        engine.OnNextDisk = [](auto, TReaction& r) { r = TReaction::AW_IGNORE; };

#include "backup/disk_medium.h"

#include <set>

namespace keldo::backup {

class TSideBySideDisk : public TDiskMedium {
public:
    explicit TSideBySideDisk(std::uint64_t volumeSizeLimit) : disk_(volumeSizeLimit) {}

    std::unique_ptr<TDiskFile> create(const std::filesystem::path& file) override;
    std::unique_ptr<TDiskFile> createNew(const std::filesystem::path& file) override {
        return disk_.createNew(file);
    }
    std::unique_ptr<TDiskFile> openForReading(const std::filesystem::path& file) override {
        return disk_.openForReading(file);
    }
    bool exists(const std::filesystem::path& file) override;
    bool createFolders(const std::filesystem::path& folder) override {
        return disk_.createFolders(folder);
    }
    void eraseFilesIn(const std::filesystem::path& folder) override { disk_.eraseFilesIn(folder); }
    bool replaceFile(const std::filesystem::path& from, const std::filesystem::path& to) override {
        return disk_.replaceFile(from, to);
    }
    void removeFile(const std::filesystem::path& file) override { disk_.removeFile(file); }

private:
    TLocalDisk disk_;
    std::set<std::filesystem::path> written_; // volumes of this run: each on its own "disk"
};

} // namespace keldo::backup
