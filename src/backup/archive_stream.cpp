#include "backup/archive_stream.h"

#include "backup/backup_errors.h"
#include "platform/paths.h"

#include <algorithm>
#include <cassert>
#include <cctype>
#include <cstring>

namespace keldo::backup {

namespace msg = archive_messages;

static_assert(TLocalDisk::kMinVolumeSize == kRecordSize);

namespace {

std::string upper(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return out;
}

// The folder part of a path including its trailing separator; empty when it has none.
std::string folderPart(std::string_view path) {
    const auto at = path.find_last_of("\\/");
    return at == std::string_view::npos ? std::string() : std::string(path.substr(0, at + 1));
}

} // namespace

std::string TArchiveStream::volumeName(std::string_view baseName, std::int32_t volume) {
    std::string digits = std::to_string(volume);
    if (digits.size() < 3) {
        digits.insert(0, 3 - digits.size(), '0');
    }
    return std::string(baseName) + "." + digits;
}

std::string TArchiveStream::removeExtension(std::string_view path) {
    const auto nameStart = path.find_last_of("\\/");
    const auto dot = path.rfind('.');
    if (dot == std::string_view::npos || (nameStart != std::string_view::npos && dot < nameStart)) {
        return std::string(path);
    }
    return std::string(path.substr(0, dot));
}

TArchiveStream::TArchiveStream(TArchiveOwner& owner, bool writing, std::string_view archivePath)
    : owner_(owner), disk_(owner.diskMedium()), writing_(writing),
      spanning_(owner.spanDisks() && !owner.backupToTape()),
      baseName_(owner.spanDisks() ? removeExtension(archivePath) : std::string(archivePath)) {
    if (owner_.backupToTape()) {
        tape_ = owner_.createTapeDevice();
        const std::int32_t result = tape_ ? tape_->open() : -1;
        switch (result) {
        case 0:
            break;
        case -2:
            throw EUB_TapeError(msg::kNoHostAdapter);
        case -3:
            throw EUB_TapeError(msg::kNoTapeDrive);
        default:
            throw EUB_TapeError(msg::kNoAspiManager);
        }
        tape_->rewind(true);
        tape_->setBlockLength(static_cast<std::int32_t>(kRecordSize));
    } else {
        const std::filesystem::path file = nativePath(1);
        if (!disk_.createFolders(file.parent_path())) {
            throw EUB_CreateStreamError(msg::kCreateStream);
        }
        if (writing_) {
            eraseTargetFolder();
            file_ = disk_.create(file);
        } else {
            file_ = disk_.openForReading(file);
        }
        if (!file_) {
            throw EUB_CreateStreamError(msg::kCreateStream);
        }
    }
    if (!writing_) {
        fill_ = kRecordSize; // the first read fetches a record
    }
}

TArchiveStream::~TArchiveStream() {
    try {
        close();
    } catch (...) {
        // The archive written so far stays as it is; the run already has its error.
    }
}

std::filesystem::path TArchiveStream::nativePath(std::int32_t volume) const {
    return platform::toNative(spanning_ ? volumeName(baseName_, volume) : baseName_);
}

void TArchiveStream::checkState() const {
    assert(!closed_);
    assert(fill_ <= kRecordSize);
    assert(!(file_ && tape_));
    assert(writing_ || !dirty_);
}

void TArchiveStream::eraseTargetFolder() {
    if (!owner_.eraseTargetDir()) {
        return;
    }
    const std::string folder = folderPart(baseName_);
    if (upper(folder) == "C:\\" || upper(folder) == "C:/") {
        return;
    }
    // The same drive root reached another way ("\", "C:", a native path) and the root of the
    // file system are never emptied.
    std::filesystem::path native = nativePath(1).parent_path();
    if (native.empty()) {
        native = ".";
    }
    const auto canonical = [](const std::filesystem::path& p) {
        std::error_code ec;
        auto result = std::filesystem::weakly_canonical(p, ec);
        return ec ? p.lexically_normal() : result;
    };
    const auto target = canonical(native);
    if (target == target.root_path() || target == canonical(platform::driveFolder('c'))) {
        return;
    }
    disk_.eraseFilesIn(native);
}

void TArchiveStream::write(const void* data, std::size_t count) {
    checkState();
    if (count > kRecordSize) {
        throw EAssertionFailed("Datenblock mit " + std::to_string(count) + " zu groß");
    }
    if (!writing_ || closed_ || (!file_ && !tape_)) {
        throw EAssertionFailed("archive stream is not open for writing");
    }
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    std::size_t done = 0;
    while (done < count) {
        const std::size_t n = std::min(count - done, kRecordSize - fill_);
        std::memcpy(record_.data() + fill_, bytes + done, n);
        fill_ += n;
        done += n;
        dirty_ = true;
        if (fill_ == kRecordSize) {
            flushRecord();
        }
    }
    owner_.addBytesWritten(static_cast<std::int64_t>(count));
}

void TArchiveStream::flushRecord() {
    if (tape_) {
        // Tape results are not examined: a failing tape shows in the archive's own checks.
        tape_->writeBlock(record_.data(), static_cast<std::int32_t>(kRecordSize));
    } else {
        while (!writeRecordToFile()) {
            if (!spanning_) {
                dirty_ = false; // the record is lost with the full disk; do not try it again
                throw EUB_DiskFullError(msg::kDiskFull);
            }
            changeVolumeForWriting();
        }
    }
    dirty_ = false;
    fill_ = 0;
}

bool TArchiveStream::writeRecordToFile() {
    const std::int64_t written = file_->write(record_.data(), kRecordSize);
    if (written != static_cast<std::int64_t>(kRecordSize)) {
        return false;
    }
    // Every record on disk is read back, whatever the engine's verification setting: a
    // removable disk that takes the bytes and loses them must not give a silent bad backup.
    if (!file_->seekBack(kRecordSize)) {
        throw EUB_VerificationFailed(msg::kCheckreadLength);
    }
    const std::int64_t read = file_->read(checkRead_.data(), kRecordSize);
    if (read != static_cast<std::int64_t>(kRecordSize)) {
        throw EUB_VerificationFailed(msg::kCheckreadLength);
    }
    if (std::memcmp(checkRead_.data(), record_.data(), kRecordSize) != 0) {
        throw EUB_VerificationFailed(msg::kCheckreadDiffers);
    }
    return true;
}

void TArchiveStream::closeFile() {
    if (file_) {
        file_->flush();
        file_.reset();
    }
}

// The volume is full: the record that did not fit goes whole onto the next one, and what
// part of it reached the full disk stays there (the reader drops it).
void TArchiveStream::changeVolumeForWriting() {
    ++volume_;
    closeFile();
    for (;;) {
        TReaction reaction = TReaction::AW_IGNORE;
        owner_.nextDisk(volume_, reaction);
        if (reaction == TReaction::AW_ABORT) {
            throw EUB_UserAbortion(msg::kDiskChangeAborted);
        }
        if (reaction == TReaction::AW_RETRY) {
            continue;
        }
        // The previous volume still there means the same disk is still in the drive.
        if (disk_.exists(nativePath(volume_ - 1))) {
            continue;
        }
        eraseTargetFolder();
        const std::filesystem::path file = nativePath(volume_);
        if (disk_.createFolders(file.parent_path())) {
            file_ = disk_.create(file);
        }
        if (file_) {
            return;
        }
        if (owner_.handleFileReadError() == TReaction::AW_ABORT) {
            dirty_ = false;
            throw EUB_CreateStreamError(msg::kCreateStream);
        }
    }
}

std::size_t TArchiveStream::read(void* buffer, std::size_t count) {
    checkState();
    if (writing_ || closed_ || (!file_ && !tape_)) {
        throw EAssertionFailed("archive stream is not open for reading");
    }
    auto* bytes = static_cast<std::uint8_t*>(buffer);
    std::size_t done = 0;
    while (done < count) {
        if (fill_ == kRecordSize) {
            fetchRecord();
            fill_ = 0;
        }
        const std::size_t n = std::min(count - done, kRecordSize - fill_);
        std::memcpy(bytes + done, record_.data() + fill_, n);
        fill_ += n;
        done += n;
    }
    owner_.addBytesRead(static_cast<std::int64_t>(count));
    return count;
}

void TArchiveStream::fetchRecord() {
    if (tape_) {
        std::int32_t delivered = 0;
        tape_->readBlock(record_.data(), static_cast<std::int32_t>(kRecordSize), delivered);
        return;
    }
    for (;;) {
        const std::int64_t got = file_->read(record_.data(), kRecordSize);
        if (got < 0) {
            throw EUB_BackupReadError(msg::kReadIoError);
        }
        if (got == static_cast<std::int64_t>(kRecordSize)) {
            return;
        }
        if (!spanning_) {
            throw EUB_BackupReadError(msg::kEarlyEnd);
        }
        changeVolumeForReading(); // the partial record is read again from the next volume
    }
}

void TArchiveStream::changeVolumeForReading() {
    ++volume_;
    closeFile();
    const std::filesystem::path next = nativePath(volume_);
    // A set copied from its disks into one folder holds every volume side by side: the next
    // one is read as soon as it is there, although the previous one has not gone away.
    if (disk_.exists(next)) {
        file_ = disk_.openForReading(next);
        if (file_) {
            return;
        }
    }
    for (;;) {
        TReaction reaction = TReaction::AW_IGNORE;
        owner_.nextDisk(volume_, reaction);
        if (reaction == TReaction::AW_ABORT) {
            throw EUB_UserAbortion(msg::kDiskChangeAborted);
        }
        if (!disk_.exists(next) && disk_.exists(nativePath(volume_ - 1))) {
            continue; // the same disk is still in the drive
        }
        file_ = disk_.openForReading(next);
        if (file_) {
            return;
        }
        if (owner_.handleFileReadError() == TReaction::AW_ABORT) {
            throw EUB_CreateStreamError(msg::kCreateStream);
        }
    }
}

void TArchiveStream::writeEntry(const TCatalogueEntry& entry) {
    const EntryBytes bytes = encodeEntry(entry);
    write(bytes.data(), bytes.size());
}

TCatalogueEntry TArchiveStream::readEntry() {
    EntryBytes bytes{};
    read(bytes.data(), bytes.size());
    return decodeEntry(bytes);
}

void TArchiveStream::close() {
    if (closed_) {
        return;
    }
    closed_ = true;
    try {
        if (writing_ && dirty_ && (file_ || tape_)) {
            owner_.addBytesWritten(static_cast<std::int64_t>(kRecordSize - fill_));
            flushRecord();
        }
    } catch (...) {
        closeFile();
        tape_.reset();
        throw;
    }
    closeFile();
    tape_.reset(); // releasing the drive rewinds it without waiting
}

} // namespace keldo::backup
