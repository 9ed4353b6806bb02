#include "backup/backup_engine.h"

#include "backup/archive_text.h"
#include "backup/backup_errors.h"
#include "backup/block_codec.h"
#include "backup/checksum.h"
#include "backup/engine_common.h"
#include "backup/name_match.h"
#include "backup/scsi_tape.h"
#include "platform/cp1252.h"
#include "platform/file_attributes.h"
#include "platform/paths.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <limits>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace keldo::backup {

namespace {

// A file descriptor closed on every path out of a scope.
// What a scanned file is to the caller's stand-ins: one of their files, a
// journal of one, or neither.
struct StandInMatch {
    const TStandIn* standIn = nullptr;
    bool journal = false;
};

StandInMatch matchStandIn(const std::vector<TStandIn>& standIns, const fs::path& native,
                          const struct stat& st) {
    for (const TStandIn& s : standIns) {
        struct stat live {};
        if (::stat(s.file.c_str(), &live) == 0 && live.st_dev == st.st_dev &&
            live.st_ino == st.st_ino) {
            return {&s, false};
        }
        const std::string name = native.filename().string();
        const std::string liveName = s.file.filename().string();
        for (const std::string& suffix : s.leftOut) {
            std::error_code ec;
            if (name == liveName + suffix &&
                fs::equivalent(native.parent_path().empty() ? fs::path(".") : native.parent_path(),
                               s.file.parent_path().empty() ? fs::path(".") : s.file.parent_path(),
                               ec)) {
                return {&s, true};
            }
        }
    }
    return {};
}

class Fd {
public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    ~Fd() { reset(); }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }
    void reset(int fd = -1) {
        if (fd_ >= 0) {
            ::close(fd_);
        }
        fd_ = fd;
    }

private:
    int fd_;
};

ssize_t readSome(int fd, std::uint8_t* buffer, std::size_t size) {
    for (;;) {
        const ssize_t n = ::read(fd, buffer, size);
        if (n >= 0 || errno != EINTR) {
            return n;
        }
    }
}

std::uint32_t checksumOfFile(const fs::path& file, const std::string& shown) {
    Fd fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0) {
        throw Exception("Cannot open " + shown + " to compute its checksum");
    }
    std::uint8_t piece[1024];
    std::uint32_t sum = kChecksumStart;
    for (;;) {
        const ssize_t n = readSome(fd.get(), piece, sizeof piece);
        if (n < 0) {
            throw Exception("Cannot read " + shown + " to compute its checksum");
        }
        if (n == 0) {
            return sum;
        }
        sum = checksumUpdate(sum, piece, static_cast<std::size_t>(n));
    }
}

// The folder of an include line as the catalogue keeps it: a native folder under a mapped
// drive in its "C:\..." form, anything else as written.
std::string catalogueFolder(std::string_view folder) {
    if (!folder.empty() && folder.front() == '/') {
        if (auto windows = platform::toWindows(fs::path(std::string(folder)))) {
            return withTrailingSeparator(*windows);
        }
    }
    return std::string(folder);
}

std::string percentText(double value) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%4.1f", value);
    return buffer;
}

} // namespace

std::string catalogueSpec(std::string_view line) {
    return catalogueFolder(folderPart(line)) + std::string(namePart(line));
}

std::int32_t percentOf(std::int64_t part, std::int64_t total) {
    if (total <= 0) {
        return 100;
    }
    return static_cast<std::int32_t>(
        std::llround(static_cast<double>(part) * 100.0 / static_cast<double>(total)));
}

std::string formatDateTimeC(double dateTime) {
    const platform::DateTimeParts p = platform::dateTimeToParts(dateTime);
    char buffer[64];
    if (p.hour == 0 && p.minute == 0 && p.second == 0) {
        std::snprintf(buffer, sizeof buffer, "%02d/%02d/%04d", p.day, p.month, p.year);
    } else {
        std::snprintf(buffer, sizeof buffer, "%02d/%02d/%04d %02d:%02d:%02d", p.day, p.month,
                      p.year, p.hour, p.minute, p.second);
    }
    return buffer;
}

double nowDateTime() {
    return platform::dateTimeFromTimeT(std::time(nullptr));
}

std::string sizeText(double n) {
    char buffer[64];
    if (n < 2048) {
        std::snprintf(buffer, sizeof buffer, "%6.0f", n);
    } else if (n < 2097152) {
        std::snprintf(buffer, sizeof buffer, "%6.1fk", n / 1024);
    } else {
        std::snprintf(buffer, sizeof buffer, "%6.1fM", n / 1048576);
    }
    return buffer;
}

std::int32_t familyCode(const std::exception& e) {
    if (dynamic_cast<const EUB_ParameterError*>(&e))
        return kResultParameter;
    if (dynamic_cast<const EUB_DiskFullError*>(&e))
        return kResultDiskFull;
    if (dynamic_cast<const EUB_ZipError*>(&e))
        return kResultZip;
    if (dynamic_cast<const EUB_FileOpenError*>(&e))
        return kResultFileOpen;
    if (dynamic_cast<const EUB_FileReadError*>(&e))
        return kResultFileRead;
    if (dynamic_cast<const EUB_BackupWriteError*>(&e))
        return kResultBackupWrite;
    if (dynamic_cast<const EUB_CreateStreamError*>(&e))
        return kResultCreateStream;
    if (dynamic_cast<const EUB_NoProperBackup*>(&e))
        return kResultNoProperBackup;
    if (dynamic_cast<const EUB_BackupReadError*>(&e))
        return kResultBackupRead;
    if (dynamic_cast<const EUB_TapeError*>(&e))
        return kResultTape;
    if (dynamic_cast<const EUB_FileWriteError*>(&e))
        return kResultFileWrite;
    if (dynamic_cast<const EUB_UserAbortion*>(&e))
        return kResultUserAbortion;
    if (dynamic_cast<const EUB_WrongMedium*>(&e))
        return kResultWrongMedium;
    if (dynamic_cast<const EUB_VerificationFailed*>(&e))
        return kResultVerification;
    return kResultOther;
}

std::int32_t failureCode(std::exception_ptr failure, std::int32_t unreported,
                         std::exception_ptr& rethrow) {
    std::int32_t code = kResultOther;
    try {
        std::rethrow_exception(failure);
    } catch (const std::exception& e) {
        code = familyCode(e);
    } catch (...) {
    }
    if (code == unreported) {
        code = kResultOther;
    }
    if (code == kResultOther) {
        rethrow = failure;
    }
    return code;
}

TUBackPro::TUBackPro() = default;
TUBackPro::~TUBackPro() = default;

std::string TUBackPro::ErrorText(std::int32_t code) {
    switch (code) {
    case kResultOk:
        return "";
    case kResultParameter:
        return "Error due to illegal values of parameters";
    case kResultDiskFull:
        return "Error due to a full disk";
    case kResultZip:
        return "Internal error compressing the data";
    case kResultFileOpen:
        return "Error due to a file which was held open by another process";
    case kResultFileRead:
        return "Error during read of a file";
    case kResultBackupWrite:
        return "Error during writing data to the backup archive";
    case kResultCreateStream:
        return "Error creating the backup archive";
    case kResultNoProperBackup:
        return "Error because backup archive contained no valid header and is probably no or a "
               "damaged archive";
    case kResultBackupRead:
        return "Error during read of a backup archive";
    case kResultTape:
        return "Error using the tape device";
    case kResultFileWrite:
        return "Error during creation of a temporary file";
    case kResultUserAbortion:
        return "Abortion by the calling application / user";
    case kResultWrongMedium:
        return "Failed to detect first medium";
    case kResultVerification:
        return "Error during verification of files";
    case kResultOther:
        return "Other error with no specific reason";
    default:
        return "Other error (Error code " + std::to_string(code) + ")";
    }
}

std::string TUBackPro::DiskPromptText(std::int32_t diskNo) const {
    const std::string format = Messages.empty() ? std::string() : Messages.front();
    // Only %d, %s and %% are given values; anything else is kept as written, so a changed
    // prompt text can never read arguments that are not there.
    std::string out;
    bool numberUsed = false, textUsed = false;
    for (std::size_t i = 0; i < format.size(); ++i) {
        if (format[i] == '%' && i + 1 < format.size()) {
            const char k = format[i + 1];
            if (k == '%') {
                out += '%';
                ++i;
                continue;
            }
            if ((k == 'd' || k == 'D') && !numberUsed) {
                out += std::to_string(diskNo);
                numberUsed = true;
                ++i;
                continue;
            }
            if ((k == 's' || k == 'S') && !textUsed) {
                out += BackupDestination;
                textUsed = true;
                ++i;
                continue;
            }
        }
        out += format[i];
    }
    return out;
}

void TUBackPro::nextDisk(std::int32_t diskNo, TReaction& reaction) {
    reaction = TReaction::AW_IGNORE;
    if (OnNextDisk) {
        OnNextDisk(diskNo, reaction);
    } else {
        reaction = DiskPrompt ? DiskPrompt(DiskPromptText(diskNo)) : TReaction::AW_ABORT;
    }
}

std::unique_ptr<TTapeDevice> TUBackPro::createTapeDevice() {
    if (!AspiManager) {
        throw EUB_TapeError(archive_messages::kNoAspiManager);
    }
    return std::make_unique<TSCSITape>(AspiManager, [this] { processMessages(); });
}

TDiskMedium& TUBackPro::diskMedium() {
    return DiskMedium != nullptr ? *DiskMedium : localDisk();
}

std::string TUBackPro::archivePath() const {
    return withTrailingSeparator(BackupDestination) + ArchiveBaseName;
}

void TUBackPro::processMessages() const {
    if (RunInBackground && ProcessMessages) {
        ProcessMessages();
    }
}

void TUBackPro::logLine(const std::string& line) {
    if (log_) {
        log_->writeLine(line);
    }
}

void TUBackPro::setUpCipher() {
    cipher_.setKey(toArchiveText(EncryptKey));
}

void TUBackPro::openLog() {
    log_.reset();
    if (LogFileMode != TLogFileMode::LFM_NoLog) {
        log_ = std::make_unique<TLogFile>(platform::toNative(LogFileName),
                                          LogFileMode == TLogFileMode::LFM_CreateNew
                                              ? TLogFile::Mode::CreateNew
                                              : TLogFile::Mode::Append);
    }
}

void TUBackPro::raiseStatistic(const TStatisticEvent& event, const char* abortMessage) {
    if (!event) {
        return;
    }
    bool cancel = false;
    event(stat_, cancel);
    if (cancel) {
        throw EUB_UserAbortion(abortMessage);
    }
}

namespace {

void askScan(const TScanEvent& event, const std::string& dir, const char* abortMessage) {
    if (!event) {
        return;
    }
    TReaction reaction = TReaction::AW_IGNORE;
    event(dir, reaction);
    if (reaction == TReaction::AW_ABORT) {
        throw EUB_UserAbortion(abortMessage);
    }
}

constexpr const char* kScanAborted = "Terminated by user during file scan";

} // namespace

std::int32_t TUBackPro::Backup() {
    setUpCipher();
    errors_ = 0;
    warnings_ = 0;
    stat_ = {};
    openLog(); // a log that cannot be opened raises here, before any check

    double start = nowDateTime();
    std::int64_t startTicks = 0;
    std::int32_t code = kResultOk;
    std::exception_ptr unclassified;
    try {
        code = backupRun(start, startTicks);
    } catch (...) {
        code = failureCode(std::current_exception(), kResultFileWrite, unclassified);
    }
    if (code != kResultOk && log_) {
        try {
            log_->writeLine("Backup aborted due to " + ErrorText(code));
            log_->close();
        } catch (const std::exception&) {
            // The run already failed; its own error is the one to report.
        }
    }
    if (log_) {
        std::unique_ptr<TLogFile> log = std::move(log_);
        if (code == kResultOk) {
            log->close();
        }
    }
    if (unclassified) {
        std::rethrow_exception(unclassified);
    }
    return code;
}

void TUBackPro::checkBackupParameters() const {
    if (EncryptData && EncryptKey.empty()) {
        throw EUB_ParameterError("No encryption key given");
    }
    if (IncludeNames.empty()) {
        throw EUB_ParameterError("No files to backup");
    }
    if (SpanDisks && ArchiveBaseName.find('.') != std::string::npos) {
        throw EUB_ParameterError("In multi disk spanning mode no extension must be given");
    }
    if (VerifyDuringBackup && BackupToTape) {
        throw EUB_ParameterError("Can´t verify tape backups during tape writes");
    }
}

std::int32_t TUBackPro::backupRun(double& startDateTime, std::int64_t& startTicks) {
    checkBackupParameters();
    stat_ = {};
    askScan(OnStartFileScan, "", kScanAborted);
    fileList_.clear();
    nativePaths_.clear();
    sourcePaths_.clear();

    for (const std::string& includeLine : IncludeNames) {
        if (includeLine.empty()) {
            continue;
        }
        std::string spec = includeLine;
        const bool subfolders = cutSubfolderSwitch(spec) || RecurseSubDir;
        if (scan(catalogueSpec(spec), subfolders) == 0 && log_) {
            ++warnings_;
            logLine("WARNING #" + std::to_string(warnings_) + ": " + spec + " was not found");
        }
    }
    applyExcludes();
    stat_.TotalBytes = 0;
    for (const TCatalogueEntry& entry : fileList_) {
        stat_.TotalBytes += entry.size;
    }
    askScan(OnEndFileScan, "", "Terminated by user by end of file scan");

    bool archiveWritten = false;
    if (!fileList_.empty()) {
        TArchiveStream stream(*this, true, archivePath());
        TArchiveHeader header;
        header.compressed = CompressData != TCompressData::CDM_NoCompression;
        header.encrypted = EncryptData;
        header.spanned = SpanDisks;
        header.comment = toArchiveText(Comment);
        const HeaderBytes headerBytes = encodeHeader(header);
        stream.write(headerBytes.data(), headerBytes.size());
        startDateTime = nowDateTime();
        startTicks = std::chrono::duration_cast<std::chrono::milliseconds>(
                         std::chrono::steady_clock::now().time_since_epoch())
                         .count();

        std::uint8_t count[kEntryCountSize];
        putInt32(count, static_cast<std::int32_t>(fileList_.size()));
        stream.write(count, sizeof count);
        for (const TCatalogueEntry& entry : fileList_) {
            stream.writeEntry(entry);
        }

        TBlockWriter writer(stream, CompressData, EncryptData ? &cipher_ : nullptr);
        for (std::size_t i = 0; i < fileList_.size(); ++i) {
            backupFile(i, writer);
            stat_.CurrentFile = fromArchiveText(fileList_[i].path);
            processMessages();
            raiseStatistic(OnStatistic, "User aborted backup operation");
        }
        if (!KeepArchiveFlags &&
            (BackupMode == TBackupMode::BM_Full || BackupMode == TBackupMode::BM_Incremental)) {
            resetArchiveAttributes();
        }
        stream.close();
        archiveWritten = true;
    }
    if (log_) {
        log_->writeSummary(summaryLines(startDateTime, startTicks, archiveWritten));
    }
    return kResultOk;
}

std::int32_t TUBackPro::scan(const std::string& spec, bool subfolders) {
    processMessages();
    const std::string folder = withTrailingSeparator(folderPart(spec));
    const std::string mask(namePart(spec));
    askScan(OnScanNextDir, folder, kScanAborted);

    const fs::path nativeFolder = folder.empty() ? fs::path(".") : platform::toNative(folder);
    std::vector<std::string> files, folders;
    std::error_code ec;
    for (fs::directory_iterator it(nativeFolder, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        std::error_code sec;
        const fs::file_status linkStatus = it->symlink_status(sec);
        if (sec) {
            continue;
        }
        // A folder reached through a link is not entered: a link back up would never end.
        if (fs::is_directory(linkStatus)) {
            folders.push_back(name);
            continue;
        }
        const fs::file_status status = it->status(sec);
        // Only regular files are backed up: reading a pipe or a device could block for ever.
        if (!sec && fs::is_regular_file(status) &&
            MatchListingMask(toArchiveText(mask), toArchiveText(name))) {
            files.push_back(name);
        }
    }
    auto byFoldedName = [](const std::string& a, const std::string& b) {
        return platform::foldCaseUtf8(a) < platform::foldCaseUtf8(b);
    };
    std::sort(files.begin(), files.end(), byFoldedName);
    std::sort(folders.begin(), folders.end(), byFoldedName);

    std::vector<fs::path> natives;
    natives.reserve(files.size());
    for (const std::string& name : files) {
        natives.push_back(nativeFolder / name);
    }
    const auto attributes = platform::fileAttributesOf(natives);

    std::int32_t added = 0;
    for (std::size_t i = 0; i < files.size(); ++i) {
        if (OnScanNextFile) {
            TReaction reaction = TReaction::AW_IGNORE;
            OnScanNextFile(files[i], reaction);
            if (reaction == TReaction::AW_ABORT) {
                throw EUB_UserAbortion(kScanAborted);
            }
            processMessages();
        }
        struct stat st {};
        if (!attributes[i] || ::stat(natives[i].c_str(), &st) != 0) {
            continue; // gone since the listing
        }
        const StandInMatch standIn = matchStandIn(StandIns, natives[i], st);
        if (standIn.journal) {
            continue;
        }
        const fs::path source = standIn.standIn ? standIn.standIn->copy : natives[i];
        struct stat sourceStat = st;
        if (standIn.standIn && ::stat(source.c_str(), &sourceStat) != 0) {
            throw Exception("The copy of " + natives[i].string() + " is missing");
        }
        const std::int32_t attr = *attributes[i];
        const double lastWrite = platform::dosDateTimeFromTimeT(st.st_mtim.tv_sec);
        bool selected = false;
        switch (BackupMode) {
        case TBackupMode::BM_Full:
            selected = true;
            break;
        case TBackupMode::BM_Incremental:
        case TBackupMode::BM_Differential:
            selected = (attr & kAttrArchive) != 0;
            break;
        case TBackupMode::BM_Special:
            selected = lastWrite >= SpecialBackupDate;
            break;
        }
        if ((attr & (kAttrHidden | kAttrSystem)) && !BackupHiddenSysFiles) {
            selected = false;
        }
        if (!selected) {
            continue;
        }
        const std::string shown = folder + files[i];
        if (sourceStat.st_size > std::numeric_limits<std::int32_t>::max()) {
            throw Exception("File " + shown + " is too large for a backup archive");
        }
        TCatalogueEntry entry;
        entry.path = toArchiveText(shown);
        if (entry.path.size() > kPathCapacity) {
            entry.path.resize(kPathCapacity);
        }
        entry.size = static_cast<std::int32_t>(sourceStat.st_size);
        entry.attributes = attr;
        entry.lastWrite = lastWrite;
        // The file itself, not the (possibly cut) catalogue path, gives the checksum.
        entry.checksum = checksumOfFile(source, shown);
        fileList_.push_back(std::move(entry));
        nativePaths_.push_back(natives[i]);
        sourcePaths_.push_back(source);
        ++added;
    }

    if (subfolders) {
        const std::string separator = (!folder.empty() && folder.front() == '/') ? "/" : "\\";
        for (const std::string& sub : folders) {
            if (sub == "." || sub == "..") {
                continue;
            }
            added += scan(folder + sub + separator + mask, true);
        }
    }
    return added;
}

void TUBackPro::applyExcludes() {
    for (const std::string& excludeLine : ExcludeNames) {
        if (excludeLine.empty()) {
            continue;
        }
        std::string line = excludeLine;
        const bool subfolders = cutExcludeSubfolderSwitch(line) || RecurseSubDir;
        const std::string spec = toArchiveText(catalogueSpec(line));
        std::size_t kept = 0;
        for (std::size_t i = 0; i < fileList_.size(); ++i) {
            if (Match(spec, fileList_[i].path, subfolders)) {
                continue;
            }
            if (kept != i) {
                fileList_[kept] = std::move(fileList_[i]);
                nativePaths_[kept] = std::move(nativePaths_[i]);
                sourcePaths_[kept] = std::move(sourcePaths_[i]);
            }
            ++kept;
        }
        fileList_.resize(kept);
        nativePaths_.resize(kept);
        sourcePaths_.resize(kept);
    }
}

void TUBackPro::backupFile(std::size_t index, TBlockWriter& writer) {
    const TCatalogueEntry& entry = fileList_[index];
    const fs::path& native = sourcePaths_[index];
    const std::string path = fromArchiveText(entry.path);

    Fd fd;
    TReaction reaction = TReaction::AW_IGNORE;
    for (;;) {
        // Opening for writing tells whether another program may be changing the file (or it
        // is read-only); the handle is not kept, reading goes through a read-only one.
        const auto attr = platform::fileAttributes(native);
        int probe = ::open(native.c_str(), O_RDWR | O_CLOEXEC | O_NONBLOCK);
        const bool writable = probe >= 0 && attr && (*attr & kAttrReadOnly) == 0;
        if (probe >= 0) {
            ::close(probe);
        }
        if (writable || BackupOpenFiles) {
            fd.reset(::open(native.c_str(), O_RDONLY | O_CLOEXEC));
        }
        if (fd.get() >= 0) {
            break;
        }
        reaction = TReaction::AW_IGNORE;
        if (OnCantOpenFile) {
            OnCantOpenFile(path, reaction);
        } else {
            reaction = HandleOpenError;
        }
        if (reaction != TReaction::AW_RETRY) {
            break;
        }
    }
    if (fd.get() < 0) {
        ++errors_;
        if (reaction == TReaction::AW_ABORT) {
            logLine("ERROR #" + std::to_string(errors_) + ": Backup aborted due to open error of " +
                    path);
            throw EUB_FileOpenError("Could not open file " + path);
        }
        logLine("ERROR #" + std::to_string(errors_) + ": File " + path +
                " not backed up due to open error");
        writer.writeEndBlock();
        return;
    }

    std::uint8_t piece[kMaxBlockData];
    for (;;) {
        const ssize_t n = readSome(fd.get(), piece, sizeof piece);
        if (n == 0) {
            break;
        }
        if (n < 0) {
            fd.reset();
            reaction = TReaction::AW_IGNORE;
            if (OnCantReadFromFile) {
                OnCantReadFromFile(path, reaction);
            } else {
                reaction = HandleFileReadError;
            }
            if (reaction == TReaction::AW_IGNORE) {
                logLine("File " + path + " not backed up due to read errors");
                writer.writeEndBlock();
                return;
            }
            ++errors_;
            logLine("ERROR #" + std::to_string(errors_) +
                    ": Backup aborted due to read errors at file " + path);
            throw EUB_FileReadError("Cannot read from file " + path);
        }
        writer.writeBlock(piece, static_cast<std::size_t>(n));
    }
    writer.writeEndBlock();
    fd.reset();
    stat_.BytesRead += entry.size;
    stat_.BytesVerified = VerifyDuringBackup ? stat_.BytesWritten : 0;
    stat_.PercentDone = percentOf(stat_.BytesRead, stat_.TotalBytes);
    logLine(
        "File " + path +
        (VerifyDuringBackup ? " backed up and verified successfully" : " backed up successfully"));
    ++stat_.FilesDone;
}

void TUBackPro::resetArchiveAttributes() {
    std::vector<fs::path> pending;
    auto clearPending = [&] {
        // A file whose attributes cannot be read is passed over.
        platform::clearArchiveAttributes(pending);
        pending.clear();
    };
    const std::size_t count = fileList_.size();
    for (std::size_t i = 0; i < count; ++i) {
        if (OnResetAttributes && i % 500 == 0) {
            clearPending();
            stat_.PercentDone =
                percentOf(static_cast<std::int64_t>(i) + 1, static_cast<std::int64_t>(count));
            stat_.FilesDone = static_cast<std::int32_t>(i);
            stat_.CurrentFile = fromArchiveText(fileList_[i].path);
            raiseStatistic(OnResetAttributes, "User cancelled during resetting files attributes");
            processMessages();
        }
        pending.push_back(nativePaths_[i]);
    }
    clearPending();
}

std::vector<std::string> TUBackPro::summaryLines(double startDateTime, std::int64_t startTicks,
                                                 bool archiveWritten) const {
    std::vector<std::string> lines;
    const std::string start = formatDateTimeC(startDateTime);
    if (BackupToTape) {
        lines.push_back("Start backup to tape at " + start);
    } else {
        lines.push_back("Start backup to " + archivePath() + " at " + start);
    }
    switch (BackupMode) {
    case TBackupMode::BM_Full:
        lines.push_back("Full backup performed");
        break;
    case TBackupMode::BM_Incremental:
        lines.push_back("Incremental backup performed");
        break;
    case TBackupMode::BM_Differential:
        lines.push_back("Differential backup performed");
        break;
    case TBackupMode::BM_Special:
        lines.push_back("Special backup (files newer than " + formatDateTimeC(SpecialBackupDate) +
                        ")");
        break;
    }
    if (VerifyDuringBackup) {
        lines.push_back("Verifying files during backup");
    }
    lines.push_back("Backup ended at " + formatDateTimeC(nowDateTime()));
    lines.push_back(errors_ == 0 ? std::string("No Errors during backup")
                                 : "Errors during backup: " + std::to_string(errors_));
    if (warnings_ > 0) {
        lines.push_back("Warnings during backup: " + std::to_string(warnings_));
    }
    lines.push_back("Backed up " + std::to_string(stat_.FilesDone) + " files");
    lines.push_back(sizeText(static_cast<double>(stat_.BytesRead)) + " read");
    lines.push_back(sizeText(static_cast<double>(stat_.BytesWritten)) + " written");
    if (CompressData == TCompressData::CDM_NoCompression || stat_.BytesRead == 0 ||
        stat_.BytesWritten == 0) {
        lines.push_back("No compression");
    } else if (stat_.BytesWritten < stat_.BytesRead) {
        lines.push_back("Compression : 1:" + percentText(static_cast<double>(stat_.BytesRead) /
                                                         static_cast<double>(stat_.BytesWritten)));
    } else {
        lines.push_back("Compression : 1:1 (no compression)");
    }
    std::int64_t elapsed = 1;
    if (archiveWritten) {
        const std::int64_t now = std::chrono::duration_cast<std::chrono::milliseconds>(
                                     std::chrono::steady_clock::now().time_since_epoch())
                                     .count();
        elapsed = std::max<std::int64_t>(1, now - startTicks);
    }
    lines.push_back("Backed up at " +
                    sizeText(std::round(static_cast<double>(stat_.BytesRead) * 60000.0 /
                                        static_cast<double>(elapsed))) +
                    " per Minute");
    return lines;
}

} // namespace keldo::backup
