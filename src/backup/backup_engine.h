#pragma once

// TUBackPro: the backup and restore engine. The caller sets the properties below, assigns
// the events it wants, and runs one of three operations, each returning a result code
// (0 = success; ErrorText gives the English text):
//   Backup      - scans IncludeNames (less ExcludeNames, by BackupMode), writes the archive
//                 on BackupDestination + ArchiveBaseName, clears archive attributes, logs;
//   ReadCatalog - reads the archive's header and catalogue into the file list;
//   Restore     - reads the archive and writes the entries that IncludeNames selects,
//                 each checked against its stored checksum.
// Backup and Restore give 99 for an error outside the archive family and then raise it
// again, once the stream and the log are closed; ReadCatalog lets everything but codes
// 1-10 through. A log file that cannot be opened raises std::system_error before anything.
//
// Everything runs on the caller's thread; events are called synchronously. With
// RunInBackground the engine calls ProcessMessages at the points a window needs to stay
// responsive, so the caller must keep the user from starting another run meanwhile.
//
// Paths: include and exclude lines, BackupDestination and RestoreTo are UTF-8, in Windows
// form ("C:\KELDORAN32\DADOS\*.*", mapped with platform::toNative) or native
// ("/srv/dados/*.db"); "\" and "/" are alike for folders. A file under a mapped drive is
// catalogued as "C:\...", others by their native path.
//
// Usage: TUBackPro e;  e.IncludeNames = {"C:\\KELDORAN32\\DADOS\\*.*"};
//        e.BackupDestination = "C:\\KELDORAN32\\BACKUP";  e.ArchiveBaseName = "031225";
//        e.SpanDisks = true;  int rc = e.Backup();  if (rc) log(TUBackPro::ErrorText(rc));

#include "backup/archive_format.h"
#include "backup/archive_stream.h"
#include "backup/aspi.h"
#include "backup/backup_log.h"
#include "backup/backup_types.h"
#include "backup/blowfish.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace keldo::backup {

enum class TLogFileMode { LFM_NoLog, LFM_CreateNew, LFM_Append };
enum class TBackupMode { BM_Full, BM_Incremental, BM_Differential, BM_Special };
enum class TRestoreMode { RM_All, RM_Newer, RM_NewerAndNew };

// Run statistics, reset at the start of each run. The byte counts are 64-bit so that a run
// beyond 2 GiB cannot overflow; below that they hold what 32-bit counters would.
struct TBackupStatistic {
    std::int32_t PercentDone = 0;
    std::int64_t TotalBytes = 0;
    std::int64_t BytesRead = 0;
    std::int64_t BytesWritten = 0;
    std::int64_t BytesVerified = 0;
    std::int32_t FilesDone = 0;
    std::string CurrentFile; // UTF-8
};

using TStatisticEvent = std::function<void(TBackupStatistic& StatData, bool& CancelOperation)>;
using TNextDiskEvent = std::function<void(std::int32_t DiskNo, TReaction& Reaction)>;
using TAskFileReaction = std::function<void(const std::string& FileName, TReaction& Reaction)>;
using TScanEvent = std::function<void(const std::string& DirName, TReaction& Reaction)>;
// A restored entry, decoded whole, before it takes its target's place: the
// caller may put it in place itself (an open database cannot be overwritten
// under its connections) and returns true; false lets the engine rename it
// over the target. `checksumOk` tells whether the data matched the catalogue.
// An exception refuses the entry: the target stays as it was and the
// exception's text is the entry's error in the log.
using TPlaceFileEvent = std::function<bool(
    const std::filesystem::path& Target, const std::filesystem::path& Extracted, bool checksumOk)>;
// A file the caller has copied itself before the backup (a live database,
// copied consistently while others write it): the entry the scan makes for
// `file` keeps that file's path, attributes and date, and takes its size,
// checksum and data from `copy`. Files beside it named as it plus one of
// `leftOut` (its journals, which belong to the live file and not to the
// copy) are not archived.
struct TStandIn {
    std::filesystem::path file;
    std::filesystem::path copy;
    std::vector<std::string> leftOut;
};
// An entry that a restore selected and did not write whole: its path (UTF-8)
// and the reason its log line gives.
struct TRestoreFailure {
    std::string path;
    std::string reason;
};
// The default disk prompt: show text in an information box with OK and Abort; return
// AW_IGNORE for OK, AW_ABORT for Abort.
using TDiskPrompt = std::function<TReaction(const std::string& text)>;

// Result codes.
enum : std::int32_t {
    kResultOk = 0,
    kResultParameter = 1,
    kResultDiskFull = 2,
    kResultZip = 3,
    kResultFileOpen = 4,
    kResultFileRead = 5,
    kResultBackupWrite = 6,
    kResultCreateStream = 7,
    kResultNoProperBackup = 8,
    kResultBackupRead = 9,
    kResultTape = 10,
    kResultFileWrite = 11,
    kResultUserAbortion = 12,
    kResultWrongMedium = 13,
    kResultVerification = 98,
    kResultOther = 99,
};

inline constexpr const char* kDefaultDiskPrompt =
    "Please insert the Disk No. %d into drive %s and press OK or ABORT to stop processing";

class TUBackPro final : private TArchiveOwner {
public:
    TUBackPro();
    ~TUBackPro() override;
    TUBackPro(const TUBackPro&) = delete;
    TUBackPro& operator=(const TUBackPro&) = delete;

    // Properties.
    TLogFileMode LogFileMode = TLogFileMode::LFM_NoLog;
    std::string LogFileName;
    bool EncryptData = false;
    std::string EncryptKey;
    TCompressData CompressData = TCompressData::CDM_NoCompression;
    std::string Comment;
    bool RunInBackground = false;
    std::vector<std::string> Messages{kDefaultDiskPrompt};
    std::vector<std::string> IncludeNames;
    std::vector<std::string> ExcludeNames;
    bool RecurseSubDir = false;
    bool BackupHiddenSysFiles = false;
    bool BackupOpenFiles = false;
    TBackupMode BackupMode = TBackupMode::BM_Full;
    double SpecialBackupDate = 0; // days since 1899-12-30, local time
    bool VerifyDuringBackup = false;
    TReaction HandleOpenError = TReaction::AW_RETRY;
    TReaction HandleFileReadError = TReaction::AW_RETRY;
    std::string BackupDestination;
    std::string ArchiveBaseName;
    bool BackupToTape = false;
    bool EraseTargetDir = false;
    bool SpanDisks = false;
    bool KeepArchiveFlags = false;
    bool RedirectRestore = false;
    std::string RestoreTo;
    // With RedirectRestore: each selected entry goes to RestoreTo followed by
    // its path below the deepest folder all selected entries share, instead
    // of the product's rule (cut the stored path after as many separators as
    // RestoreTo has). Either way no entry is written outside RestoreTo.
    bool RedirectBelowCommonFolder = false;
    TRestoreMode RestoreMode = TRestoreMode::RM_All;
    std::vector<TStandIn> StandIns;

    // Events.
    TStatisticEvent OnStatistic;
    TStatisticEvent OnResetAttributes;
    TNextDiskEvent OnNextDisk;
    TAskFileReaction OnCantOpenFile;
    TAskFileReaction OnCantReadFromFile;
    TScanEvent OnStartFileScan;
    TScanEvent OnScanNextDir;
    TAskFileReaction OnScanNextFile;
    TScanEvent OnEndFileScan;
    TPlaceFileEvent OnPlaceFile;

    // What the window provides: letting pending window messages be processed, and the box
    // of the default disk prompt. Without a prompt box a needed disk cannot be asked for
    // and the answer is AW_ABORT.
    std::function<void()> ProcessMessages;
    TDiskPrompt DiskPrompt;
    // The SCSI layer under the tape drive of BackupToTape (a TSCSITape on it); the
    // platform's pass-through unless a test gives a simulated bus. nullptr: no ASPI manager.
    std::shared_ptr<AspiLibrary> AspiManager = systemAspiLibrary();
    // The disk under the archive files; nullptr = the real file system.
    TDiskMedium* DiskMedium = nullptr;

    // Operations.
    std::int32_t Backup();
    std::int32_t Restore();
    std::int32_t ReadCatalog();
    static std::string ErrorText(std::int32_t code);

    // The file list of the last run (catalogue entries, paths in Windows-1252).
    std::size_t FileCount() const { return fileList_.size(); }
    const TCatalogueEntry& FileEntry(std::size_t index) const { return fileList_.at(index); }
    const std::vector<TCatalogueEntry>& FileList() const { return fileList_; }
    const TBackupStatistic& Statistic() const { return stat_; }
    std::int32_t ErrorCount() const { return errors_; }
    // The entries of the last restore that failed (checksum, decoding, a refused
    // name, a write error), in archive order; the result code does not count
    // them, as the format defines it.
    const std::vector<TRestoreFailure>& RestoreFailures() const { return failures_; }
    std::int32_t WarningCount() const { return warnings_; }

    // The default disk prompt's text: the first line of Messages with "%d" and "%s" given
    // the disk number and BackupDestination.
    std::string DiskPromptText(std::int32_t diskNo) const;

private:
    // TArchiveOwner.
    bool spanDisks() const override { return SpanDisks; }
    bool backupToTape() const override { return BackupToTape; }
    bool eraseTargetDir() const override { return EraseTargetDir; }
    TReaction handleFileReadError() const override { return HandleFileReadError; }
    void nextDisk(std::int32_t diskNo, TReaction& reaction) override;
    void addBytesWritten(std::int64_t count) override { stat_.BytesWritten += count; }
    void addBytesRead(std::int64_t count) override { stat_.BytesRead += count; }
    std::unique_ptr<TTapeDevice> createTapeDevice() override;
    TDiskMedium& diskMedium() override;

    // Backup steps.
    std::int32_t backupRun(double& startDateTime, std::int64_t& startTicks);
    void checkBackupParameters() const;
    std::int32_t scan(const std::string& spec, bool subfolders);
    void applyExcludes();
    void backupFile(std::size_t index, class TBlockWriter& writer);
    void resetArchiveAttributes();
    std::vector<std::string> summaryLines(double startDateTime, std::int64_t startTicks,
                                          bool archiveWritten) const;

    // Restore steps.
    void checkRestoreParameters() const;
    void waitForFirstVolume();
    void readArchiveCatalogue(TArchiveStream& stream, TArchiveHeader& header);
    // Where a selected entry is written, and whether the redirect put it
    // under the target by its name alone.
    std::string restoreTarget(const std::string& entryPath, std::size_t k, std::size_t common,
                              bool* byNameOnly) const;
    // The native path an entry is written at, or nullopt with the reason it is
    // refused: a name that is empty, holds a NUL, climbs with "..", lies
    // outside the drive folders (to stored paths) or outside RestoreTo, or
    // reaches it through a linked folder.
    std::optional<std::filesystem::path> finalTarget(const std::string& entryPath,
                                                     const std::string& target,
                                                     std::string& refusal) const;
    bool shouldWrite(const std::filesystem::path& target, const TCatalogueEntry& entry);
    // Writes the entry at `target`; throws EUB_CRCError once it is in place
    // when its data does not match the catalogue.
    void extract(class TBlockReader& reader, const std::filesystem::path& target,
                 const TCatalogueEntry& entry);
    void restoreEntries(TArchiveStream& stream, const TArchiveHeader& header);

    // Shared.
    std::string archivePath() const;
    void processMessages() const;
    void logLine(const std::string& line);
    void setUpCipher();
    void openLog();
    void raiseStatistic(const TStatisticEvent& event, const char* abortMessage);

    std::vector<TCatalogueEntry> fileList_;
    std::vector<std::filesystem::path> nativePaths_; // of a backup's file list, in step
    std::vector<std::filesystem::path> sourcePaths_; // where each entry's data is read
    TBackupStatistic stat_;
    std::vector<TRestoreFailure> failures_;
    std::int32_t errors_ = 0;
    std::int32_t warnings_ = 0;
    std::unique_ptr<TLogFile> log_;
    TBlowfish cipher_;
};

} // namespace keldo::backup
