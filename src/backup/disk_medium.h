#pragma once

// The disk under the archive stream: volume files and their folder. The stream reaches the
// file system only through this interface, so that tests can give it a disk that fills at
// a chosen byte, a write that does not read back, or a read that fails.
//
// Paths are native paths (the stream maps Windows-form archive names with
// platform::toNative first).
//
// TLocalDisk is the real file system. Its volume size limit plays a small removable disk:
// a volume file never grows beyond the limit, the write that would pass it stores what fits
// and reports the short count, as a full disk does. keldoctl's --volume-size and the tests
// use it; 0 means no limit. TMemoryDisk (sim/backup) keeps the files in memory.

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>

namespace keldo::backup {

class TDiskFile {
public:
    virtual ~TDiskFile() = default;
    // Writes at the current position. The bytes written (fewer when the disk is full), or
    // -1 on an I/O error.
    virtual std::int64_t write(const std::uint8_t* data, std::size_t size) = 0;
    // Reads from the current position. The bytes read (fewer at the end of the file), or -1
    // on an I/O error.
    virtual std::int64_t read(std::uint8_t* data, std::size_t size) = 0;
    // Moves the position size bytes back (never before the start). False on failure.
    virtual bool seekBack(std::size_t size) = 0;
    // Flushes the operating system's buffers to the medium. False on failure.
    virtual bool flush() = 0;
};

class TDiskMedium {
public:
    virtual ~TDiskMedium() = default;
    // Creates file empty (truncating an existing one) for reading and writing; nullptr on
    // failure. The folder must exist.
    virtual std::unique_ptr<TDiskFile> create(const std::filesystem::path& file) = 0;
    // Creates file, which must not exist yet (not even as a link), for reading and writing;
    // nullptr on failure, errno EEXIST when something is there.
    virtual std::unique_ptr<TDiskFile> createNew(const std::filesystem::path& file) {
        if (exists(file)) {
            errno = EEXIST;
            return nullptr;
        }
        return create(file);
    }
    // Opens an existing regular file for reading; nullptr when it is missing or cannot be
    // opened.
    virtual std::unique_ptr<TDiskFile> openForReading(const std::filesystem::path& file) = 0;
    // True when a file (or anything else) exists at that path.
    virtual bool exists(const std::filesystem::path& file) = 0;
    // Creates every missing folder of the path. False on failure.
    virtual bool createFolders(const std::filesystem::path& folder) = 0;
    // Deletes every file directly in folder, whatever its permissions; subfolders stay.
    // Failures are ignored.
    virtual void eraseFilesIn(const std::filesystem::path& folder) = 0;
    // Puts the file `from` in the place of `to`, replacing what is there in
    // one step. False on failure (both stay as they were).
    virtual bool replaceFile(const std::filesystem::path& from,
                             const std::filesystem::path& to) = 0;
    // Removes a file; a missing one is no failure. Failures are ignored.
    virtual void removeFile(const std::filesystem::path& file) = 0;
};

class TLocalDisk : public TDiskMedium {
public:
    // The smallest volume that can take one whole record; a smaller one could never hold the
    // record that is written again at the start of each new volume.
    static constexpr std::uint64_t kMinVolumeSize = 4096;

    // Raises std::invalid_argument for a limit from 1 to kMinVolumeSize - 1.
    explicit TLocalDisk(std::uint64_t volumeSizeLimit = 0);

    std::unique_ptr<TDiskFile> create(const std::filesystem::path& file) override;
    std::unique_ptr<TDiskFile> createNew(const std::filesystem::path& file) override;
    std::unique_ptr<TDiskFile> openForReading(const std::filesystem::path& file) override;
    bool exists(const std::filesystem::path& file) override;
    bool createFolders(const std::filesystem::path& folder) override;
    void eraseFilesIn(const std::filesystem::path& folder) override;
    bool replaceFile(const std::filesystem::path& from, const std::filesystem::path& to) override;
    void removeFile(const std::filesystem::path& file) override;

    std::uint64_t volumeSizeLimit() const { return limit_; }

private:
    std::uint64_t limit_;
};

// A process-wide unlimited local disk, the default medium of every stream.
TDiskMedium& localDisk();

} // namespace keldo::backup
