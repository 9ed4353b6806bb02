#include "backup/disk_medium.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <stdexcept>
#include <string>
#include <system_error>

namespace keldo::backup {

namespace {

class LocalFile : public TDiskFile {
public:
    LocalFile(int fd, std::uint64_t limit) : fd_(fd), limit_(limit) {}
    ~LocalFile() override { ::close(fd_); }
    LocalFile(const LocalFile&) = delete;
    LocalFile& operator=(const LocalFile&) = delete;

    std::int64_t write(const std::uint8_t* data, std::size_t size) override {
        std::size_t allowed = size;
        if (limit_ != 0) {
            const off_t at = ::lseek(fd_, 0, SEEK_CUR);
            if (at < 0) {
                return -1;
            }
            const auto position = static_cast<std::uint64_t>(at);
            allowed =
                position >= limit_
                    ? 0
                    : static_cast<std::size_t>(std::min<std::uint64_t>(size, limit_ - position));
        }
        std::size_t done = 0;
        while (done < allowed) {
            const ssize_t n = ::write(fd_, data + done, allowed - done);
            if (n < 0) {
                if (errno == EINTR) {
                    continue;
                }
                // A full disk after some bytes is a short write, not an I/O error.
                return (errno == ENOSPC || errno == EDQUOT) ? static_cast<std::int64_t>(done) : -1;
            }
            done += static_cast<std::size_t>(n);
        }
        return static_cast<std::int64_t>(done);
    }

    std::int64_t read(std::uint8_t* data, std::size_t size) override {
        std::size_t done = 0;
        while (done < size) {
            const ssize_t n = ::read(fd_, data + done, size - done);
            if (n < 0) {
                if (errno == EINTR) {
                    continue;
                }
                return -1;
            }
            if (n == 0) {
                break;
            }
            done += static_cast<std::size_t>(n);
        }
        return static_cast<std::int64_t>(done);
    }

    bool seekBack(std::size_t size) override {
        const off_t at = ::lseek(fd_, 0, SEEK_CUR);
        if (at < 0) {
            return false;
        }
        const off_t to = at > static_cast<off_t>(size) ? at - static_cast<off_t>(size) : 0;
        return ::lseek(fd_, to, SEEK_SET) == to;
    }

    bool flush() override { return ::fsync(fd_) == 0 || errno == EINVAL; }

private:
    int fd_;
    std::uint64_t limit_;
};

} // namespace

TLocalDisk::TLocalDisk(std::uint64_t volumeSizeLimit) : limit_(volumeSizeLimit) {
    if (limit_ != 0 && limit_ < kMinVolumeSize) {
        throw std::invalid_argument("volume size below " + std::to_string(kMinVolumeSize) +
                                    " bytes");
    }
}

std::unique_ptr<TDiskFile> TLocalDisk::create(const std::filesystem::path& file) {
    const int fd = ::open(file.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        return nullptr;
    }
    return std::make_unique<LocalFile>(fd, limit_);
}

std::unique_ptr<TDiskFile> TLocalDisk::createNew(const std::filesystem::path& file) {
    // Exclusive creation never follows a link planted at the name.
    const int fd = ::open(file.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0) {
        return nullptr;
    }
    return std::make_unique<LocalFile>(fd, limit_);
}

std::unique_ptr<TDiskFile> TLocalDisk::openForReading(const std::filesystem::path& file) {
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return nullptr;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return nullptr;
    }
    return std::make_unique<LocalFile>(fd, 0);
}

bool TLocalDisk::exists(const std::filesystem::path& file) {
    std::error_code ec;
    return std::filesystem::exists(std::filesystem::symlink_status(file, ec));
}

bool TLocalDisk::replaceFile(const std::filesystem::path& from, const std::filesystem::path& to) {
    std::error_code ec;
    std::filesystem::rename(from, to, ec);
    return !ec;
}

void TLocalDisk::removeFile(const std::filesystem::path& file) {
    std::error_code ec;
    std::filesystem::remove(file, ec);
}

bool TLocalDisk::createFolders(const std::filesystem::path& folder) {
    if (folder.empty()) {
        return true;
    }
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    return !ec && std::filesystem::is_directory(folder, ec);
}

void TLocalDisk::eraseFilesIn(const std::filesystem::path& folder) {
    std::error_code ec;
    for (auto it = std::filesystem::directory_iterator(folder, ec);
         !ec && it != std::filesystem::directory_iterator(); it.increment(ec)) {
        std::error_code entryError;
        if (it->is_directory(entryError)) {
            continue;
        }
        // Read-only files go too; on Linux only the folder's permission decides.
        std::filesystem::remove(it->path(), entryError);
    }
}

TDiskMedium& localDisk() {
    static TLocalDisk disk;
    return disk;
}

} // namespace keldo::backup
