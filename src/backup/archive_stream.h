#pragma once

// TArchiveStream: the archive as one logical byte stream, moved to and from its medium in
// records of kRecordSize bytes. The medium is one disk file, a series of volume files (one
// per removable disk, when the owner spans disks), or a tape. The engine creates one stream
// per run and is its only writer and reader.
//
// States and transitions (checked at every public entry in debug builds):
//
//   writing, open ──write() fills the record──▶ flushRecord()
//        │   flushRecord: write + read-back check ──ok──▶ open (record empty)
//        │                write fails, no spanning ──▶ EUB_DiskFullError (dirty cleared)
//        │                write fails, spanning ──▶ changeVolumeForWriting(): closed,
//        │                    disk prompt until a new volume is open ──▶ record written again
//   reading, open ──read() empties the record──▶ fetchRecord()
//        │   short record, no spanning ──▶ EUB_BackupReadError "Early end of file detected"
//        │   short record, spanning ──▶ changeVolumeForReading(): the partial record is
//        │                    dropped and read again from the next volume
//   any ──close() / destructor──▶ closed: a dirty record is written whole, the file flushed
//        and closed, the tape released.
//
// Volume n of a spanned archive is base name + "." + n with at least three digits
// (Backup.001 ... Backup.999, Backup.1000); the first volume is ".001" even when it is the
// only one. Tape records are written and read with no check, no read-back, no volumes.
//
// Usage (backup):  TArchiveStream s(owner, true, "C:\\KELDORAN32\\BACKUP\\Backup");
//                  s.write(header.data(), header.size()); ...; s.close();
// Usage (restore): TArchiveStream s(owner, false, path); s.read(buf, kHeaderSize); ...

#include "backup/archive_format.h"
#include "backup/backup_types.h"
#include "backup/disk_medium.h"
#include "backup/tape_device.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace keldo::backup {

// What the stream needs from the engine that owns it (TUBackPro implements it).
class TArchiveOwner {
public:
    virtual ~TArchiveOwner() = default;

    virtual bool spanDisks() const = 0;
    virtual bool backupToTape() const = 0;
    virtual bool eraseTargetDir() const = 0;
    // Decides whether a volume that cannot be created or opened ends the run (AW_ABORT) or
    // is asked for again.
    virtual TReaction handleFileReadError() const = 0;

    // The next disk is needed: raise OnNextDisk(diskNo, reaction), or show the default disk
    // prompt when no handler is assigned. reaction arrives as AW_IGNORE.
    virtual void nextDisk(std::int32_t diskNo, TReaction& reaction) = 0;

    // Run statistics: archive bytes moved (BytesWritten, BytesRead).
    virtual void addBytesWritten(std::int64_t count) = 0;
    virtual void addBytesRead(std::int64_t count) = 0;

    // The tape drive for BackupToTape (normally a TSCSITape); asked once per stream.
    virtual std::unique_ptr<TTapeDevice> createTapeDevice() = 0;
    // The disk that holds the archive files; the real file system unless overridden.
    virtual TDiskMedium& diskMedium() { return localDisk(); }
};

class TArchiveStream {
public:
    // Prepares the record buffer and opens the medium:
    //  - tape: createTapeDevice(), open (-1/-2/-3 raise EUB_TapeError "ASPI-Manager not
    //    found" / "No SCSI host adapter found" / "No SCSI tape drive found"), rewind and
    //    wait, block length 4096;
    //  - disk: creates the missing folders of archivePath (Windows form or native); the file
    //    is base name + ".001" when spanning, else archivePath itself. Writing first erases
    //    the target folder (when the owner asks for it) and creates the file empty; reading
    //    opens the existing file. Failure raises EUB_CreateStreamError "Backup file could
    //    not be created/accessed".
    // With spanning the base name is archivePath without its extension.
    TArchiveStream(TArchiveOwner& owner, bool writing, std::string_view archivePath);
    // Closes as close() does when it was not closed yet; errors are swallowed (the archive
    // written so far stays on the medium).
    ~TArchiveStream();
    TArchiveStream(const TArchiveStream&) = delete;
    TArchiveStream& operator=(const TArchiveStream&) = delete;

    // Appends count bytes (at most kRecordSize; more raises EAssertionFailed "Datenblock mit
    // <count> zu groß") and adds count to BytesWritten. Every full record goes to the medium;
    // on disk it is read back and compared (EUB_VerificationFailed when it differs or comes
    // back short). A full disk raises EUB_DiskFullError without spanning, or changes the
    // volume with spanning (EUB_UserAbortion when the prompt is aborted,
    // EUB_CreateStreamError when the new volume cannot be created and HandleFileReadError
    // is AW_ABORT).
    void write(const void* data, std::size_t count);

    // Delivers exactly count bytes, or raises: EUB_BackupReadError "File I/O error during
    // read of backup archive" on an I/O error, "Early end of file detected" when a file ends
    // early without spanning; with spanning the next volume is asked for (errors as for
    // write). Adds count to BytesRead. Returns count.
    std::size_t read(void* buffer, std::size_t count);

    // One catalogue entry, kCatalogueEntrySize bytes.
    void writeEntry(const TCatalogueEntry& entry);
    TCatalogueEntry readEntry();

    // Flushes a dirty record whole (its unfilled rest is added to BytesWritten) while a disk
    // file is open or the medium is tape, then flushes and closes the file and releases the
    // tape. Raises what write raises; the stream is closed afterwards in any case. A second
    // call does nothing.
    void close();

    bool writing() const { return writing_; }
    const std::string& baseName() const { return baseName_; }
    std::int32_t volumeNumber() const { return volume_; }
    std::size_t fillPosition() const { return fill_; }
    bool dirty() const { return dirty_; }
    bool isOpen() const { return file_ != nullptr; }
    bool onTape() const { return tape_ != nullptr; }

    // Volume n's name for a base name: base + "." + n with at least three digits.
    static std::string volumeName(std::string_view baseName, std::int32_t volume);
    // The path without the extension of its file-name part ("C:\B\Backup.x" → "C:\B\Backup").
    static std::string removeExtension(std::string_view path);

private:
    void flushRecord();
    void fetchRecord();
    bool writeRecordToFile();
    void changeVolumeForWriting();
    void changeVolumeForReading();
    void closeFile();
    void eraseTargetFolder();
    std::filesystem::path nativePath(std::int32_t volume) const;
    void checkState() const;

    TArchiveOwner& owner_;
    TDiskMedium& disk_;
    bool writing_;
    bool spanning_;
    bool closed_ = false;
    std::string baseName_; // Windows form or native, as the engine passed it
    std::int32_t volume_ = 1;
    std::array<std::uint8_t, kRecordSize> record_{};
    std::array<std::uint8_t, kRecordSize> checkRead_{};
    std::size_t fill_ = 0;
    bool dirty_ = false;
    std::unique_ptr<TDiskFile> file_;
    std::unique_ptr<TTapeDevice> tape_;
};

} // namespace keldo::backup
