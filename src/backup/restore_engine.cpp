#include "backup/archive_text.h"
#include "backup/backup_engine.h"
#include "backup/backup_errors.h"
#include "backup/block_codec.h"
#include "backup/checksum.h"
#include "backup/engine_common.h"
#include "backup/name_match.h"
#include "platform/file_attributes.h"
#include "platform/paths.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <optional>

namespace fs = std::filesystem;

namespace keldo::backup {

namespace {

constexpr const char* kCrcMismatch =
    "CRC checksum is different from original file and data most likely damaged";
constexpr const char* kShortWrite = "Error writing data file couldn´´t write all bytes";
// An entry whose path climbs out of its folder is never written: restoring it could
// overwrite any file the user may write.
constexpr const char* kParentComponent =
    "Path contains a \"..\" component and would lead outside its folder";

bool baseHasExtensionDot(const std::string& base) {
    return base.find('.') != std::string::npos;
}

} // namespace

void TUBackPro::waitForFirstVolume() {
    const std::string first =
        withTrailingSeparator(BackupDestination) + std::string(namePart(ArchiveBaseName)) + ".001";
    const fs::path native = platform::toNative(first);
    for (;;) {
        TReaction reaction = TReaction::AW_IGNORE;
        if (diskMedium().exists(native)) {
            return;
        }
        nextDisk(1, reaction);
        if (reaction != TReaction::AW_IGNORE) {
            throw EUB_WrongMedium("Couldn´t detect first medium");
        }
    }
}

void TUBackPro::readArchiveCatalogue(TArchiveStream& stream, TArchiveHeader& header) {
    HeaderBytes headerBytes{};
    stream.read(headerBytes.data(), headerBytes.size());
    header = decodeHeader(headerBytes);
    if (header.magic != kArchiveMagic) {
        throw EUB_NoProperBackup("Magic number not found");
    }
    std::uint8_t countBytes[kEntryCountSize];
    stream.read(countBytes, sizeof countBytes);
    const std::int32_t count = getInt32(countBytes);
    if (count < 0) {
        throw EUB_NoProperBackup("Invalid number of catalogue entries");
    }
    fileList_.clear();
    nativePaths_.clear();
    // No reserve(count): the count comes from the archive, and each entry read proves that
    // its bytes exist.
    for (std::int32_t i = 0; i < count; ++i) {
        fileList_.push_back(stream.readEntry());
    }
}

std::int32_t TUBackPro::ReadCatalog() {
    try {
        if ((BackupDestination.empty() || ArchiveBaseName.empty()) && !BackupToTape) {
            throw EUB_ParameterError("Needs backup source to take backup stream from");
        }
        if (SpanDisks && baseHasExtensionDot(ArchiveBaseName)) {
            throw EUB_ParameterError("In multi disk spanning mode no extension must be given");
        }
        if (SpanDisks) {
            waitForFirstVolume();
        }
        TArchiveStream stream(*this, false, archivePath());
        TArchiveHeader header;
        readArchiveCatalogue(stream, header);
        stream.close();
        return kResultOk;
    } catch (const std::exception& e) {
        const std::int32_t code = familyCode(e);
        if (code >= kResultParameter && code <= kResultTape) {
            return code;
        }
        throw;
    }
}

void TUBackPro::checkRestoreParameters() const {
    if (RedirectRestore && RestoreTo.empty()) {
        throw EUB_ParameterError("Needs location to restore to");
    }
    if ((BackupDestination.empty() || ArchiveBaseName.empty()) && !BackupToTape) {
        throw EUB_ParameterError("Provide location of backup data");
    }
    if (EncryptData && EncryptKey.empty()) {
        throw EUB_ParameterError("Provide password to decrypt data");
    }
    if (SpanDisks && baseHasExtensionDot(ArchiveBaseName)) {
        throw EUB_ParameterError("In multi disk spanning mode no extension must be given");
    }
}

std::int32_t TUBackPro::Restore() {
    setUpCipher();
    stat_ = {};
    openLog(); // a log that cannot be opened raises here, before the first step

    failures_.clear();
    std::int32_t code = kResultOk;
    std::exception_ptr unclassified;
    try {
        if (BackupToTape) {
            logLine("Start restore from tape at " + formatDateTimeC(nowDateTime()));
        } else {
            logLine("Start restore from " + BackupDestination + " at " +
                    formatDateTimeC(nowDateTime()));
        }
        logLine(RedirectRestore ? "Restore to " + RestoreTo + " instead of original locations"
                                : std::string("Restore to original locations"));
        logLine("");
        checkRestoreParameters();
        if (SpanDisks) {
            waitForFirstVolume();
        }
        TArchiveStream stream(*this, false, archivePath());
        TArchiveHeader header;
        readArchiveCatalogue(stream, header);

        std::vector<std::string> specs;
        for (const std::string& line : IncludeNames) {
            if (!line.empty()) {
                specs.push_back(toArchiveText(catalogueSpec(line)));
            }
        }
        for (TCatalogueEntry& entry : fileList_) {
            entry.selected = 0;
            for (const std::string& spec : specs) {
                if (Match(spec, entry.path, RecurseSubDir)) {
                    entry.selected = 1;
                    break;
                }
            }
        }
        stat_ = {};
        for (const TCatalogueEntry& entry : fileList_) {
            if (entry.selected) {
                stat_.TotalBytes += entry.size;
            }
        }
        restoreEntries(stream, header);
        stream.close();
    } catch (...) {
        code = failureCode(std::current_exception(), kResultVerification, unclassified);
    }
    if (log_) {
        std::unique_ptr<TLogFile> log = std::move(log_);
        try {
            if (code == kResultOk) {
                log->writeLine("");
                log->writeLine("Restore ended at " + formatDateTimeC(nowDateTime()));
                log->close();
            } else {
                log->writeLine(ErrorText(code));
                log->close();
            }
        } catch (const std::exception&) {
            if (code == kResultOk) {
                throw;
            }
        }
    }
    if (unclassified) {
        std::rethrow_exception(unclassified);
    }
    return code;
}

std::string TUBackPro::restoreTarget(const std::string& entryPath, std::size_t k,
                                     std::size_t common, bool* byNameOnly) const {
    *byNameOnly = false;
    if (!RedirectRestore) {
        return entryPath;
    }
    const std::string to = withTrailingSeparator(RestoreTo);
    // Below a native target the stored path's folders are native folders too.
    auto under = [&](std::string tail) {
        if (!to.empty() && to.front() == '/')
            std::replace(tail.begin(), tail.end(), '\\', '/');
        return to + tail;
    };
    if (RedirectBelowCommonFolder) {
        return under(entryPath.substr(std::min(common, entryPath.size())));
    }
    std::size_t seen = 0;
    for (std::size_t i = 0; i < entryPath.size(); ++i) {
        if (isFolderSeparator(entryPath[i]) && ++seen == k) {
            return under(entryPath.substr(i + 1));
        }
    }
    // Fewer folders than the target has: keeping the stored path would write
    // outside the target (over the live database, for a backup of its
    // folder), so the entry goes into the target by its name.
    *byNameOnly = true;
    return to + std::string(namePart(entryPath));
}

namespace {

// The length of the deepest folder (with its separator) that every selected
// entry's path starts with; "\" and "/" are alike, letters compared as
// Windows compares them.
std::size_t commonFolderLength(const std::vector<TCatalogueEntry>& entries) {
    std::optional<std::string> common;
    for (const TCatalogueEntry& entry : entries) {
        if (!entry.selected)
            continue;
        const std::string path = fromArchiveText(entry.path);
        const std::string folder(folderPart(path));
        if (!common) {
            common = folder;
            continue;
        }
        std::size_t n = 0;
        while (n < common->size() && n < folder.size() &&
               (std::tolower(static_cast<unsigned char>((*common)[n])) ==
                    std::tolower(static_cast<unsigned char>(folder[n])) ||
                (isFolderSeparator((*common)[n]) && isFolderSeparator(folder[n]))))
            ++n;
        // Back to the end of a whole folder.
        while (n > 0 && !isFolderSeparator((*common)[n - 1]))
            --n;
        common->resize(n);
    }
    return common ? common->size() : 0;
}

} // namespace

namespace {

// Whether `path` names something below `root` (not root itself); both
// absolute, compared by their components.
bool isBelow(const fs::path& path, const fs::path& root) {
    const fs::path relative = path.lexically_normal().lexically_relative(root.lexically_normal());
    return !relative.empty() && *relative.begin() != ".." && relative != ".";
}

} // namespace

std::optional<fs::path> TUBackPro::finalTarget(const std::string& entryPath,
                                               const std::string& target,
                                               std::string& refusal) const {
    if (entryPath.empty() || target.empty()) {
        refusal = "Path is empty";
        return std::nullopt;
    }
    if (entryPath.find('\0') != std::string::npos) {
        refusal = "Path contains a NUL character";
        return std::nullopt;
    }
    if (hasParentComponent(entryPath) || hasParentComponent(target)) {
        refusal = kParentComponent;
        return std::nullopt;
    }
    std::error_code ec;
    const fs::path native = fs::absolute(platform::toNative(target), ec).lexically_normal();
    if (!RedirectRestore) {
        // Back to its stored path, an entry may only land in the drive
        // folders: a native or folderless name could be any file the user may
        // write (or the current folder's).
        if (folderPart(entryPath).empty()) {
            refusal = "Path has no folder; restore it to a target folder";
            return std::nullopt;
        }
        if (!platform::toWindows(native) || native.filename().empty()) {
            refusal = "Path lies outside the drive folders; restore it to a target folder";
            return std::nullopt;
        }
        return native;
    }
    const fs::path root = fs::absolute(platform::toNative(RestoreTo), ec);
    if (ec || !isBelow(native, root)) {
        refusal = "Path would lead outside the target folder";
        return std::nullopt;
    }
    // A linked folder inside the target may lead anywhere.
    const fs::path realRoot = fs::weakly_canonical(root, ec);
    const fs::path realFolder = fs::weakly_canonical(native.parent_path(), ec);
    if (ec || (realFolder != realRoot && !isBelow(realFolder, realRoot))) {
        refusal = "Path leads outside the target folder through a linked folder";
        return std::nullopt;
    }
    return native;
}

bool TUBackPro::shouldWrite(const fs::path& target, const TCatalogueEntry& entry) {
    if (RestoreMode == TRestoreMode::RM_All) {
        return true;
    }
    const bool exists = diskMedium().exists(target);
    if (exists) {
        if (auto lastWrite = platform::fileLastWrite(target);
            lastWrite && *lastWrite >= entry.lastWrite) {
            return false;
        }
    }
    return RestoreMode == TRestoreMode::RM_Newer ? exists : true;
}

void TUBackPro::extract(TBlockReader& reader, const fs::path& target,
                        const TCatalogueEntry& entry) {
    std::string error;
    std::unique_ptr<TDiskFile> out;
    const fs::path folder = target.parent_path();
    // The entry is written beside its target, under a name created anew
    // (a link planted there is never followed), and takes the target's place
    // by a rename only once all of its data decoded: a wrong key or a corrupt
    // block leaves what stood there as it was, and a link at the target is
    // replaced, not written through.
    fs::path partial;
    struct Cleanup {
        TDiskMedium& disk;
        const fs::path& file;
        bool armed = false;
        ~Cleanup() {
            if (armed)
                disk.removeFile(file);
        }
    } cleanup{diskMedium(), partial};
    errno = 0;
    if (!folder.empty() && !diskMedium().createFolders(folder)) {
        error = "File I/O error (#" + std::to_string(errno) + ") during creation of temporary file";
    } else {
        // A name left by an interrupted run (or put there by someone else)
        // is passed over for the next.
        for (int n = 0; n < 100 && !out; ++n) {
            partial = target;
            partial +=
                n == 0 ? std::string(".keldo-parcial") : ".keldo-parcial-" + std::to_string(n);
            errno = 0;
            out = diskMedium().createNew(partial);
            if (!out && errno != EEXIST)
                break;
        }
        if (out) {
            cleanup.armed = true;
        } else {
            error =
                "File I/O error (#" + std::to_string(errno) + ") during creation of temporary file";
        }
    }
    for (;;) {
        const std::span<const std::uint8_t> data = reader.readBlock();
        if (data.empty()) {
            break;
        }
        if (out && error.empty()) {
            const std::int64_t written = out->write(data.data(), data.size());
            if (written != static_cast<std::int64_t>(data.size())) {
                error = kShortWrite;
            }
        }
    }
    if (out && error.empty() && !out->flush()) {
        error = kShortWrite;
    }
    out.reset();
    if (!error.empty()) {
        throw EUB_FileWriteError(error);
    }
    // The check is of what the disk gives back, not of what was handed to it.
    std::uint32_t checksum = kChecksumStart;
    {
        errno = 0;
        const std::unique_ptr<TDiskFile> in = diskMedium().openForReading(partial);
        if (!in) {
            throw EUB_FileWriteError("File I/O error (#" + std::to_string(errno) +
                                     ") during reading back of temporary file");
        }
        std::uint8_t piece[kMaxBlockData];
        for (;;) {
            const std::int64_t n = in->read(piece, sizeof piece);
            if (n < 0) {
                throw EUB_FileWriteError("File I/O error (#" + std::to_string(errno) +
                                         ") during reading back of temporary file");
            }
            if (n == 0) {
                break;
            }
            checksum = checksumUpdate(checksum, piece, static_cast<std::size_t>(n));
        }
    }
    const bool checksumOk = checksum == entry.checksum;
    bool placed = false;
    if (OnPlaceFile) {
        try {
            placed = OnPlaceFile(target, partial, checksumOk);
        } catch (const std::exception& e) {
            throw EUB_FileWriteError(e.what());
        }
    }
    if (!placed) {
        if (!diskMedium().replaceFile(partial, target)) {
            throw EUB_FileWriteError("File I/O error (#" + std::to_string(errno) +
                                     ") during renaming of temporary file");
        }
        cleanup.armed = false;
    }
    if (!checksumOk) {
        throw EUB_CRCError(kCrcMismatch);
    }
}

void TUBackPro::restoreEntries(TArchiveStream& stream, const TArchiveHeader& header) {
    TBlockReader reader(stream, header.encrypted ? &cipher_ : nullptr);
    const std::size_t k = RedirectRestore ? separatorCount(withTrailingSeparator(RestoreTo)) : 0;
    const std::size_t common = RedirectBelowCommonFolder ? commonFolderLength(fileList_) : 0;
    for (const TCatalogueEntry& entry : fileList_) {
        if (!entry.selected) {
            reader.skipDataSection();
            continue;
        }
        const std::string path = fromArchiveText(entry.path);
        bool byNameOnly = false;
        const std::string target = restoreTarget(path, k, common, &byNameOnly);
        auto logError = [&](const std::string& message) {
            logLine("Error (" + message + ") occured during restore of " + path);
            failures_.push_back({path, message});
        };
        std::string refusal;
        const std::optional<fs::path> native = finalTarget(path, target, refusal);
        if (!native) {
            logError(refusal);
            reader.skipDataSection();
        } else if (!shouldWrite(*native, entry)) {
            reader.skipDataSection();
        } else {
            try {
                extract(reader, *native, entry);
                logLine(path + " successfully restored to " + target +
                        (byNameOnly ? " (fewer folders than the target: written into it by name)"
                                    : ""));
            } catch (const EUB_CRCError& e) {
                logError(e.what());
            } catch (const EUB_FileWriteError& e) {
                logError(e.what());
            } catch (const EUB_BackupReadError& e) {
                // The archive cannot be read past this point: what follows would be
                // garbage or nothing, so the restore stops here and reports it.
                logError(e.what());
                throw;
            } catch (const EZDecompressionError& e) {
                failures_.push_back({path, e.what()});
                throw;
            } catch (const EUB_ZipError& e) {
                failures_.push_back({path, e.what()});
                throw;
            }
        }
        stat_.BytesWritten += entry.size;
        ++stat_.FilesDone;
        stat_.PercentDone = percentOf(stat_.BytesWritten, stat_.TotalBytes);
        stat_.CurrentFile = path;
        processMessages();
        raiseStatistic(OnStatistic, "Aborted by application/user");
    }
}

} // namespace keldo::backup
