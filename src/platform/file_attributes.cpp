#include "file_attributes.h"

#include "file_io.h"
#include "paths.h"

#include <cmath>
#include <map>
#include <string>
#include <sys/stat.h>
#include <system_error>

namespace fs = std::filesystem;

namespace keldo::platform {

namespace {

// What a file looked like when its archive attribute was cleared.
struct Stamp {
    std::int64_t size = 0;
    std::int64_t seconds = 0;
    std::int64_t nanoseconds = 0;
    bool operator==(const Stamp&) const = default;
};

using Records = std::map<std::string, Stamp>;

std::optional<struct stat> statOf(const fs::path& file) {
    struct stat st {};
    if (::stat(file.c_str(), &st) != 0) {
        return std::nullopt;
    }
    return st;
}

Stamp stampOf(const struct stat& st) {
    return {static_cast<std::int64_t>(st.st_size), static_cast<std::int64_t>(st.st_mtim.tv_sec),
            static_cast<std::int64_t>(st.st_mtim.tv_nsec)};
}

std::string recordKey(const fs::path& file) {
    std::error_code ec;
    fs::path absolute = fs::absolute(file, ec);
    return (ec ? file : absolute).lexically_normal().string();
}

// One record a line: "<size> <seconds> <nanoseconds> <length>:<path>". The length prefix
// lets a path hold any byte, new lines included. A damaged line ends the reading: what
// follows it counts as never recorded, so the files read as changed and are backed up again.
Records loadRecords() {
    Records records;
    std::optional<std::string> bytes;
    try {
        bytes = readWholeFile(archiveRecordFile());
    } catch (const std::system_error&) {
        return records;
    }
    if (!bytes) {
        return records;
    }
    const std::string& text = *bytes;
    std::size_t pos = 0;
    auto number = [&](char end, std::int64_t& out) {
        std::size_t stop = text.find(end, pos);
        if (stop == std::string::npos || stop == pos || stop - pos > 19) {
            return false;
        }
        std::int64_t value = 0;
        for (std::size_t i = pos; i < stop; ++i) {
            if (text[i] < '0' || text[i] > '9') {
                return false;
            }
            value = value * 10 + (text[i] - '0');
        }
        out = value;
        pos = stop + 1;
        return true;
    };
    while (pos < text.size()) {
        Stamp stamp;
        std::int64_t length = 0;
        if (!number(' ', stamp.size) || !number(' ', stamp.seconds) ||
            !number(' ', stamp.nanoseconds) || !number(':', length) ||
            static_cast<std::uint64_t>(length) > text.size() - pos ||
            pos + static_cast<std::size_t>(length) >= text.size() ||
            text[pos + static_cast<std::size_t>(length)] != '\n') {
            break;
        }
        records[text.substr(pos, static_cast<std::size_t>(length))] = stamp;
        pos += static_cast<std::size_t>(length) + 1;
    }
    return records;
}

bool saveRecords(const Records& records) {
    std::string text;
    for (const auto& [path, stamp] : records) {
        text += std::to_string(stamp.size) + ' ' + std::to_string(stamp.seconds) + ' ' +
                std::to_string(stamp.nanoseconds) + ' ' + std::to_string(path.size()) + ':' + path +
                '\n';
    }
    try {
        replaceFileAtomically(archiveRecordFile(), text);
    } catch (const std::system_error&) {
        return false;
    }
    return true;
}

std::int32_t attributesOf(const fs::path& file, const struct stat& st, const Records& records) {
    std::int32_t attributes = 0;
    if ((st.st_mode & S_IWUSR) == 0) {
        attributes |= kFaReadOnly;
    }
    const std::string name = file.filename().string();
    if (!name.empty() && name[0] == '.' && name != "." && name != "..") {
        attributes |= kFaHidden;
    }
    if (S_ISREG(st.st_mode)) {
        auto found = records.find(recordKey(file));
        if (found == records.end() || !(found->second == stampOf(st))) {
            attributes |= kFaArchive;
        }
    }
    return attributes;
}

// Days from 1970-01-01 of a civil date (proleptic Gregorian).
std::int64_t daysFromCivil(std::int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

void civilFromDays(std::int64_t z, int& year, int& month, int& day) {
    z += 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const std::int64_t y = static_cast<std::int64_t>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    year = static_cast<int>(y + (month <= 2));
}

constexpr std::int64_t kDaysFrom1899To1970 = 25569;

} // namespace

fs::path archiveRecordFile() {
    return keldoRoot() / "archive-flags";
}

std::optional<std::int32_t> fileAttributes(const fs::path& file) {
    auto st = statOf(file);
    if (!st) {
        return std::nullopt;
    }
    return attributesOf(file, *st, S_ISREG(st->st_mode) ? loadRecords() : Records{});
}

std::vector<std::optional<std::int32_t>> fileAttributesOf(const std::vector<fs::path>& files) {
    std::vector<std::optional<std::int32_t>> result(files.size());
    if (files.empty()) {
        return result;
    }
    const Records records = loadRecords();
    for (std::size_t i = 0; i < files.size(); ++i) {
        if (auto st = statOf(files[i])) {
            result[i] = attributesOf(files[i], *st, records);
        }
    }
    return result;
}

bool setFileAttributes(const fs::path& file, std::int32_t attributes) {
    auto st = statOf(file);
    if (!st) {
        return false;
    }
    const mode_t wanted = (attributes & kFaReadOnly) ? (st->st_mode & ~S_IWUSR & 07777)
                                                     : ((st->st_mode | S_IWUSR) & 07777);
    if (wanted != (st->st_mode & 07777) && ::chmod(file.c_str(), wanted) != 0) {
        return false;
    }
    if (!S_ISREG(st->st_mode)) {
        return true;
    }
    Records records = loadRecords();
    const std::string key = recordKey(file);
    if (attributes & kFaArchive) {
        if (records.erase(key) == 0) {
            return true;
        }
    } else {
        // chmod changes no modification time, so the stamp taken before it still holds.
        records[key] = stampOf(*st);
    }
    return saveRecords(records);
}

std::vector<bool> clearArchiveAttributes(const std::vector<fs::path>& files) {
    std::vector<bool> done(files.size(), false);
    Records records = loadRecords();
    bool changed = false;
    for (std::size_t i = 0; i < files.size(); ++i) {
        auto st = statOf(files[i]);
        if (!st) {
            continue;
        }
        done[i] = true;
        if (S_ISREG(st->st_mode)) {
            Stamp& slot = records[recordKey(files[i])];
            if (!(slot == stampOf(*st))) {
                slot = stampOf(*st);
                changed = true;
            }
        }
    }
    if (changed && !saveRecords(records)) {
        return std::vector<bool>(files.size(), false);
    }
    return done;
}

double dateTimeFromParts(int year, int month, int day, int hour, int minute, int second) {
    const std::int64_t days =
        daysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) +
        kDaysFrom1899To1970;
    return static_cast<double>(days) + (hour * 3600.0 + minute * 60.0 + second) / 86400.0;
}

double dateTimeFromTimeT(std::time_t when) {
    std::tm local{};
    localtime_r(&when, &local);
    return dateTimeFromParts(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                             local.tm_min, local.tm_sec);
}

double dosDateTimeFromTimeT(std::time_t when) {
    std::tm local{};
    localtime_r(&when, &local);
    return dateTimeFromParts(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                             local.tm_min, local.tm_sec & ~1);
}

DateTimeParts dateTimeToParts(double dateTime) {
    DateTimeParts parts;
    if (!std::isfinite(dateTime) || std::fabs(dateTime) > 3.0e6) {
        return parts;
    }
    const std::int64_t seconds = std::llround(dateTime * 86400.0);
    std::int64_t days = seconds / 86400;
    std::int64_t rest = seconds % 86400;
    if (rest < 0) {
        rest += 86400;
        --days;
    }
    civilFromDays(days - kDaysFrom1899To1970, parts.year, parts.month, parts.day);
    parts.hour = static_cast<int>(rest / 3600);
    parts.minute = static_cast<int>(rest / 60 % 60);
    parts.second = static_cast<int>(rest % 60);
    return parts;
}

std::time_t timeTFromDateTime(double dateTime) {
    const DateTimeParts parts = dateTimeToParts(dateTime);
    std::tm local{};
    local.tm_year = parts.year - 1900;
    local.tm_mon = parts.month - 1;
    local.tm_mday = parts.day;
    local.tm_hour = parts.hour;
    local.tm_min = parts.minute;
    local.tm_sec = parts.second;
    local.tm_isdst = -1;
    return std::mktime(&local);
}

std::optional<double> fileLastWrite(const fs::path& file) {
    auto st = statOf(file);
    if (!st) {
        return std::nullopt;
    }
    return dosDateTimeFromTimeT(st->st_mtim.tv_sec);
}

} // namespace keldo::platform
