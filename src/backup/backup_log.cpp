#include "backup/backup_log.h"

#include "platform/cp1252.h"
#include "platform/file_io.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace keldo::backup {

namespace {

[[noreturn]] void raise(const std::filesystem::path& file, const char* what) {
    throw std::system_error(errno, std::generic_category(),
                            std::string(what) + " " + file.string());
}

} // namespace

TLogFile::TLogFile(const std::filesystem::path& file, Mode mode) : file_(file) {
    openForAppend(mode == Mode::CreateNew);
    struct stat st {};
    if (::fstat(fd_, &st) != 0) {
        const int saved = errno;
        ::close(fd_);
        fd_ = -1;
        errno = saved;
        raise(file_, "Cannot examine the log file");
    }
    summaryPosition_ = static_cast<std::uint64_t>(st.st_size);
}

TLogFile::~TLogFile() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

void TLogFile::openForAppend(bool truncate) {
    int flags = O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC;
    if (truncate) {
        flags |= O_TRUNC;
    }
    fd_ = ::open(file_.c_str(), flags, 0666);
    if (fd_ < 0) {
        raise(file_, "Cannot open the log file");
    }
}

void TLogFile::writeLine(std::string_view utf8) {
    if (fd_ < 0) {
        return;
    }
    std::string bytes = platform::utf8ToCp1252(utf8) + "\r\n";
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            raise(file_, "Cannot write to the log file");
        }
        done += static_cast<std::size_t>(n);
    }
}

void TLogFile::writeSummary(const std::vector<std::string>& lines) {
    if (fd_ < 0) {
        return;
    }
    ::close(fd_);
    fd_ = -1;
    std::string log = platform::readWholeFile(file_).value_or(std::string());
    const std::size_t at =
        summaryPosition_ < log.size() ? static_cast<std::size_t>(summaryPosition_) : log.size();
    std::string summary;
    for (const std::string& line : lines) {
        summary += platform::utf8ToCp1252(line) + "\r\n";
    }
    log.insert(at, summary);
    platform::replaceFileAtomically(file_, log);
    summaryPosition_ = at + summary.size();
    openForAppend(false);
}

void TLogFile::close() {
    if (fd_ >= 0) {
        const int result = ::close(fd_);
        fd_ = -1;
        if (result != 0) {
            raise(file_, "Cannot close the log file");
        }
    }
}

} // namespace keldo::backup
