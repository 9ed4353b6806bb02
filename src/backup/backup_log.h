#pragma once

// TLogFile: the plain-text log of one backup or restore run. Lines are Windows-1252 with
// CR LF, each written as soon as it arises. A backup places its run summary before the
// per-file lines of the run: the position is noted when the log is opened, and
// writeSummary puts the summary lines there, keeping what was logged since after them.
// The log is replaced as a whole for that step (a temporary file beside it, renamed over
// it), so a crash leaves either the old or the new log, never a truncated one.
//
// Every failure raises std::system_error: errors of the log are I/O errors of the run.
//
// Usage: TLogFile log(path, TLogFile::Mode::Append);  log.writeLine("File x backed up");
//        log.writeSummary({"Start backup to ...", ...});  log.close();

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace keldo::backup {

class TLogFile {
public:
    enum class Mode { CreateNew, Append };

    // Opens the log (created empty, or appended to and created when missing) and notes the
    // summary position: the top for CreateNew, the end of the existing lines for Append.
    TLogFile(const std::filesystem::path& file, Mode mode);
    ~TLogFile();
    TLogFile(const TLogFile&) = delete;
    TLogFile& operator=(const TLogFile&) = delete;

    // One line (UTF-8 text; CR LF is added). Nothing is written once the log is closed.
    void writeLine(std::string_view utf8);
    // The summary lines at the noted position, before the lines logged since.
    void writeSummary(const std::vector<std::string>& lines);
    void close();
    bool isOpen() const { return fd_ >= 0; }

private:
    void openForAppend(bool truncate);

    std::filesystem::path file_;
    int fd_ = -1;
    std::uint64_t summaryPosition_ = 0;
};

} // namespace keldo::backup
