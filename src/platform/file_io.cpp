#include "file_io.h"

#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace fs = std::filesystem;

namespace keldo::platform {

namespace {

[[noreturn]] void throwErrno(int error, const std::string& what) {
    throw std::system_error(error, std::generic_category(), what);
}

// Closes a descriptor on every path out of a function.
class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    ~FileDescriptor() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    int get() const { return fd_; }
    // Closes now and reports the error of close itself (a late write error shows here).
    int close() {
        const int result = ::close(fd_);
        fd_ = -1;
        return result;
    }

private:
    int fd_;
};

void writeAll(int fd, std::string_view bytes, const std::string& what) {
    while (!bytes.empty()) {
        const ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            throwErrno(errno, what);
        }
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
}

// A name beside target that no other writer (of this or another process) is using.
fs::path temporaryName(const fs::path& target, unsigned attempt) {
    static std::atomic<unsigned> counter{0};
    return target.parent_path() /
           ("." + target.filename().string() + ".tmp" + std::to_string(::getpid()) + "-" +
            std::to_string(counter.fetch_add(1)) + "-" + std::to_string(attempt));
}

// Links followed before a name is taken to loop, as the kernel's own limit.
constexpr int kMaxLinks = 40;

// The folders whose entries are the open descriptors of a process. Their entries look
// like links, but a pipe's or a socket's names no path ("pipe:[1234]"): only the kernel
// can open them, so they are not followed.
bool isDescriptorFolder(const fs::path& folder) {
    return folder.filename() == "fd" && folder.string().starts_with("/proc/");
}

void syncFolder(const fs::path& file) {
    const int dir = ::open(file.has_parent_path() ? file.parent_path().c_str() : ".",
                           O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
}

} // namespace

std::optional<std::string> readWholeFile(const fs::path& file) {
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT || errno == ENOTDIR) {
            return std::nullopt;
        }
        throwErrno(errno, file.string());
    }
    FileDescriptor guard(fd);
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        throwErrno(errno, file.string());
    }
    if (S_ISDIR(info.st_mode)) {
        throwErrno(EISDIR, file.string());
    }
    std::string bytes;
    if (S_ISREG(info.st_mode) && info.st_size > 0) {
        bytes.reserve(static_cast<std::size_t>(info.st_size));
    }
    char buffer[65536];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            throwErrno(errno, file.string());
        }
        if (got == 0) {
            break;
        }
        bytes.append(buffer, static_cast<std::size_t>(got));
    }
    return bytes;
}

void replaceFileAtomically(const fs::path& file, std::string_view bytes) {
    std::error_code ec;
    fs::path target = file;
    if (fs::is_symlink(fs::symlink_status(file, ec))) {
        target = fs::weakly_canonical(file, ec);
        if (ec) {
            throwErrno(ec.value(), file.string());
        }
    }
    if (target.has_parent_path()) {
        fs::create_directories(target.parent_path(), ec);
        if (ec) {
            throwErrno(ec.value(), target.parent_path().string());
        }
    }

    struct stat original {};
    const bool exists = ::stat(target.c_str(), &original) == 0;
    if (!exists && errno != ENOENT) {
        throwErrno(errno, target.string());
    }
    if (exists) {
        if (S_ISDIR(original.st_mode)) {
            throwErrno(EISDIR, target.string());
        }
        if (!S_ISREG(original.st_mode)) {
            throwErrno(EINVAL, target.string()); // a device or a pipe cannot be renamed over
        }
        if ((original.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0 ||
            ::access(target.c_str(), W_OK) != 0) {
            throwErrno(EACCES, target.string());
        }
    }

    fs::path temporary;
    int fd = -1;
    for (unsigned attempt = 0; fd < 0; ++attempt) {
        temporary = temporaryName(target, attempt);
        // 0666 lets the umask decide the permissions of a new file, as for any other file.
        fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && (errno != EEXIST || attempt > 100)) {
            throwErrno(errno, target.string());
        }
    }
    FileDescriptor guard(fd);
    try {
        if (exists) {
            if (::fchmod(fd, original.st_mode & 07777) != 0) {
                throwErrno(errno, target.string());
            }
            // Only the superuser may give the file back to its owner; others keep theirs.
            if (::fchown(fd, original.st_uid, original.st_gid) != 0 && errno != EPERM) {
                throwErrno(errno, target.string());
            }
        }
        writeAll(fd, bytes, target.string());
        if (::fsync(fd) != 0) {
            throwErrno(errno, target.string());
        }
        if (guard.close() != 0) {
            throwErrno(errno, target.string());
        }
        if (::rename(temporary.c_str(), target.c_str()) != 0) {
            throwErrno(errno, target.string());
        }
    } catch (...) {
        ::unlink(temporary.c_str());
        throw;
    }
    // Make the rename itself durable; the new file is already complete, so a failure to sync
    // the folder is not worth reporting as a failed write.
    syncFolder(target);
}

OutputTarget resolveOutputTarget(const fs::path& name) {
    if (name.empty()) {
        throwErrno(ENOENT, name.string());
    }
    fs::path p = fs::absolute(name);
    for (int hop = 0;; ++hop) {
        if (hop > kMaxLinks) {
            throwErrno(ELOOP, name.string());
        }
        std::error_code ec;
        const fs::path folder = fs::canonical(p.parent_path(), ec);
        if (ec) {
            throwErrno(ec.value(), name.string());
        }
        p = folder / p.filename();
        if (isDescriptorFolder(folder)) {
            return {p, true};
        }
        struct stat entry {};
        if (::lstat(p.c_str(), &entry) != 0 || !S_ISLNK(entry.st_mode)) {
            break;
        }
        const fs::path link = fs::read_symlink(p, ec);
        if (ec) {
            throwErrno(ec.value(), name.string());
        }
        p = link.is_absolute() ? link : folder / link;
    }
    struct stat info {};
    const bool special =
        ::stat(p.c_str(), &info) == 0 && !S_ISREG(info.st_mode) && !S_ISDIR(info.st_mode);
    return {p, special};
}

OutputFile::OutputFile(const fs::path& name) : target_(resolveOutputTarget(name)) {
    const std::string what = name.string();
    const char* file = target_.file.c_str();
    struct stat original {};
    const bool exists = ::stat(file, &original) == 0;
    if (!exists && errno != ENOENT) {
        throwErrno(errno, what);
    }
    if (exists && S_ISDIR(original.st_mode)) {
        throwErrno(EISDIR, what);
    }
    if (target_.inPlace) {
        // A descriptor the shell opened on a file ("> f", ">> f") is continued, not
        // truncated again nor overwritten from its start.
        const int append = exists && S_ISREG(original.st_mode) ? O_APPEND : 0;
        do {
            fd_ = ::open(file, O_WRONLY | O_NOCTTY | O_CLOEXEC | append);
        } while (fd_ < 0 && errno == EINTR);
        if (fd_ < 0) {
            throwErrno(errno, what);
        }
        return;
    }
    if (exists && ::access(file, W_OK) != 0) {
        throwErrno(EACCES, what);
    }
    for (unsigned attempt = 0; fd_ < 0; ++attempt) {
        temporary_ = temporaryName(target_.file, attempt);
        // 0666 lets the umask decide the permissions of a new file, as for any other file.
        fd_ = ::open(temporary_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd_ < 0 && (errno != EEXIST || attempt > 100)) {
            const int error = errno;
            temporary_.clear();
            throwErrno(error, what);
        }
    }
    if (exists) {
        // Only the superuser may give the file back to its owner; others keep theirs.
        if (::fchmod(fd_, original.st_mode & 07777) != 0 ||
            (::fchown(fd_, original.st_uid, original.st_gid) != 0 && errno != EPERM)) {
            const int error = errno;
            discard();
            throwErrno(error, what);
        }
    }
}

OutputFile::~OutputFile() {
    discard();
}

void OutputFile::write(std::string_view bytes) {
    if (fd_ < 0) {
        throwErrno(EBADF, target_.file.string());
    }
    writeAll(fd_, bytes, target_.file.string());
}

void OutputFile::commit() {
    const std::string what = target_.file.string();
    if (fd_ < 0) {
        throwErrno(EBADF, what);
    }
    // A device or a pipe has nothing to flush to disk.
    if (!temporary_.empty() && ::fsync(fd_) != 0) {
        throwErrno(errno, what);
    }
    const int closed = ::close(fd_);
    fd_ = -1;
    if (closed != 0) {
        throwErrno(errno, what);
    }
    if (temporary_.empty()) {
        return;
    }
    if (::rename(temporary_.c_str(), target_.file.c_str()) != 0) {
        throwErrno(errno, what);
    }
    temporary_.clear();
    syncFolder(target_.file);
}

void OutputFile::discard() noexcept {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    if (!temporary_.empty()) {
        ::unlink(temporary_.c_str());
        temporary_.clear();
    }
}

} // namespace keldo::platform
