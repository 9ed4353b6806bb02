#pragma once

// DOS file attributes and last-write date-times on Linux, as the backup engine reads and
// writes them. Linux keeps no such bits, so each one is derived:
//  - read-only (0x01): the owner has no write permission; setting or clearing it changes
//    that permission bit;
//  - hidden (0x02): the name starts with "."; cannot be set;
//  - system (0x04): never;
//  - archive (0x20): emulated by a record, under keldoRoot(), of the size and modification
//    time each file had when its archive attribute was last cleared. It reads as set when
//    the file has no record or has changed since (size or modification time differ).
//    Clearing it writes the record, setting it removes the record.
// Last-write date-times are local time cut to 2 seconds (what a packed DOS date-and-time
// holds), as days since 1899-12-30 00:00 with the time of day as the fraction.
//
// Usage: if (auto a = keldo::platform::fileAttributes(p); a && (*a & kFaArchive))
//            keldo::platform::setFileAttributes(p, *a & ~kFaArchive);

#include <cstdint>
#include <ctime>
#include <filesystem>
#include <optional>
#include <vector>

namespace keldo::platform {

inline constexpr std::int32_t kFaReadOnly = 0x01;
inline constexpr std::int32_t kFaHidden = 0x02;
inline constexpr std::int32_t kFaSystem = 0x04;
inline constexpr std::int32_t kFaArchive = 0x20;

// The attributes of a file or folder; nullopt when it cannot be examined (missing, no
// permission on a parent). The archive record is consulted only for regular files.
std::optional<std::int32_t> fileAttributes(const std::filesystem::path& file);

// The attributes of many files with one reading of the archive record (a folder scan).
std::vector<std::optional<std::int32_t>>
fileAttributesOf(const std::vector<std::filesystem::path>& files);

// Applies the read-only and archive bits of attributes (hidden and system are ignored: a
// name or nothing decides them). False when the file cannot be examined or changed.
bool setFileAttributes(const std::filesystem::path& file, std::int32_t attributes);

// Clears the archive attribute of many files with one update of the record; the result
// holds, per file, whether it could be examined. Same effect as setFileAttributes without
// 0x20 on each file, without rewriting the record once per file.
std::vector<bool> clearArchiveAttributes(const std::vector<std::filesystem::path>& files);

// The file holding the archive records: keldoRoot()/archive-flags.
std::filesystem::path archiveRecordFile();

// Date-time conversions (local time).
double dateTimeFromTimeT(std::time_t when);     // full seconds
double dosDateTimeFromTimeT(std::time_t when);  // cut to even seconds
std::time_t timeTFromDateTime(double dateTime); // rounded to the nearest second
double dateTimeFromParts(int year, int month, int day, int hour, int minute, int second);
struct DateTimeParts {
    int year = 1899, month = 12, day = 30, hour = 0, minute = 0, second = 0;
};
// Rounded to the nearest second; values far outside years 1..9999 give 1899-12-30 00:00.
DateTimeParts dateTimeToParts(double dateTime);

// The last-write date-time of a file as a directory listing reports it (2-second
// resolution); nullopt when it cannot be examined.
std::optional<double> fileLastWrite(const std::filesystem::path& file);

} // namespace keldo::platform
