#pragma once

// The exception family of the backup subsystem. Every failure of the archive layer and of
// the engine travels as one of the fifteen EUB_ classes below; the engine turns them into
// its numeric result codes at the top of each operation. All of them, and the two
// unclassified errors at the end, derive directly from Exception, the base of every error
// this subsystem raises, and carry nothing but their message text.
//
// Usage: try { ... } catch (const EUB_CRCError& e) { log(e.what()); }

#include <stdexcept>
#include <string>

namespace keldo::backup {

class Exception : public std::runtime_error {
public:
    explicit Exception(const std::string& message) : std::runtime_error(message) {}
};

#define KELDO_BACKUP_EXCEPTION(Name)                                                               \
    class Name : public Exception {                                                                \
    public:                                                                                        \
        explicit Name(const std::string& message) : Exception(message) {}                          \
    }

KELDO_BACKUP_EXCEPTION(EUB_ZipError);
KELDO_BACKUP_EXCEPTION(EUB_DiskFullError);
KELDO_BACKUP_EXCEPTION(EUB_FileOpenError);
KELDO_BACKUP_EXCEPTION(EUB_FileReadError);
KELDO_BACKUP_EXCEPTION(EUB_FileWriteError);
KELDO_BACKUP_EXCEPTION(EUB_ParameterError);
KELDO_BACKUP_EXCEPTION(EUB_BackupWriteError);
KELDO_BACKUP_EXCEPTION(EUB_BackupReadError);
KELDO_BACKUP_EXCEPTION(EUB_CreateStreamError);
KELDO_BACKUP_EXCEPTION(EUB_NoProperBackup);
KELDO_BACKUP_EXCEPTION(EUB_TapeError);
KELDO_BACKUP_EXCEPTION(EUB_CRCError);
KELDO_BACKUP_EXCEPTION(EUB_UserAbortion);
KELDO_BACKUP_EXCEPTION(EUB_VerificationFailed);
KELDO_BACKUP_EXCEPTION(EUB_WrongMedium);

// Not of the family (the engine maps them to its "other error" code 99):
// a malformed zlib stream in a block, with zlib's own text...
KELDO_BACKUP_EXCEPTION(EZDecompressionError);
// ...and a broken programming contract, such as a write of more than one record at once.
KELDO_BACKUP_EXCEPTION(EAssertionFailed);

#undef KELDO_BACKUP_EXCEPTION

// The texts the archive layer raises, so that callers and tests name them once.
namespace archive_messages {
inline constexpr const char* kNoAspiManager = "ASPI-Manager not found";
inline constexpr const char* kNoHostAdapter = "No SCSI host adapter found";
inline constexpr const char* kNoTapeDrive = "No SCSI tape drive found";
inline constexpr const char* kCreateStream = "Backup file could not be created/accessed";
inline constexpr const char* kDiskFull = "Disk full during write of archive";
inline constexpr const char* kCheckreadLength =
    "Checkread block is of different length than original block during verification";
inline constexpr const char* kCheckreadDiffers =
    "Checkread block differs from original block during verification";
inline constexpr const char* kDiskChangeAborted = "Terminated by user during disk change";
inline constexpr const char* kReadIoError = "File I/O error during read of backup archive";
inline constexpr const char* kEarlyEnd = "Early end of file detected";
inline constexpr const char* kDecompressedLength = "Decompressed block has not the right length";
// A block header whose lengths no writer produces: the archive is damaged at that point and
// nothing after it can be found again, so it is a read error of the archive.
inline constexpr const char* kBadBlockHeader = "Invalid block header in backup archive";
} // namespace archive_messages

} // namespace keldo::backup
