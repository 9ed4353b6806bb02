#pragma once

// A disk in memory for the archive stream's tests and fuzzing, with faults on demand:
//  - a volume capacity: no file grows beyond it, the write that would pass it stores what
//    fits and reports the short count (a removable disk that fills);
//  - countdown faults, counted per kind of call from the moment they are armed: the Nth
//    write fails with an I/O error, the Nth write stores one wrong byte (so its read-back
//    differs), the Nth read fails with an I/O error, the Nth create fails; each once or,
//    with persistent, from then on.
//
// Usage: TMemoryDisk disk; disk.setVolumeCapacity(10000); disk.corruptWrite.arm(3);

#include "backup/disk_medium.h"

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace keldo::backup::sim {

struct Countdown {
    // Fires at the nth call from now (1 = the next one).
    void arm(int nth, bool persistentFromThen = false) {
        remaining = nth;
        persistent = persistentFromThen;
    }
    void disarm() { remaining = 0; }
    // Counts one call; true when the fault fires on it.
    bool fires();

    int remaining = 0;
    bool persistent = false;
    bool firing = false;
};

class TMemoryDisk : public TDiskMedium {
public:
    using Bytes = std::vector<std::uint8_t>;

    std::unique_ptr<TDiskFile> create(const std::filesystem::path& file) override;
    std::unique_ptr<TDiskFile> openForReading(const std::filesystem::path& file) override;
    bool exists(const std::filesystem::path& file) override;
    bool createFolders(const std::filesystem::path& folder) override;
    void eraseFilesIn(const std::filesystem::path& folder) override;
    bool replaceFile(const std::filesystem::path& from, const std::filesystem::path& to) override;
    void removeFile(const std::filesystem::path& file) override { remove(file); }

    void setVolumeCapacity(std::size_t bytes) { capacity_ = bytes; }

    // The files, by lexically normal path. A removed file stays readable through a handle
    // that is already open, as on a real file system.
    bool contains(const std::filesystem::path& file) const;
    Bytes bytes(const std::filesystem::path& file) const; // empty when missing
    void put(const std::filesystem::path& file, Bytes bytes);
    void remove(const std::filesystem::path& file);
    std::vector<std::filesystem::path> fileNames() const;

    // Every path opened for writing, in order, kept or not: what a test or
    // fuzz target checks to know nothing was written where it must not be.
    std::vector<std::filesystem::path> created;
    // Every path a file was put in the place of, in order.
    std::vector<std::filesystem::path> replaced;

    Countdown failWrite;
    Countdown corruptWrite;
    Countdown failRead;
    Countdown failCreate;

private:
    friend class MemoryFile;
    std::map<std::filesystem::path, std::shared_ptr<Bytes>> files_;
    std::set<std::filesystem::path> folders_;
    std::size_t capacity_ = 0;
};

} // namespace keldo::backup::sim
