#include "platform/file_attributes.h"
#include "temp_root.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace fs = std::filesystem;

namespace keldo::platform {
namespace {

TEST(FileAttributes, DerivedBitsAndEmulatedArchive) {
    testing::TempRoot root;
    const fs::path file = root.path() / "a.db";
    const fs::path hidden = root.path() / ".h";
    testing::writeBytes(file, "abc");
    testing::writeBytes(hidden, "x");

    EXPECT_EQ(fileAttributes(file), kFaArchive); // never recorded: reads as set
    EXPECT_EQ(fileAttributes(hidden), kFaHidden | kFaArchive);
    EXPECT_FALSE(fileAttributes(root.path() / "missing"));

    ASSERT_TRUE(setFileAttributes(file, 0));
    EXPECT_EQ(fileAttributes(file), 0);
    ASSERT_TRUE(setFileAttributes(file, kFaReadOnly));
    EXPECT_EQ(fileAttributes(file), kFaReadOnly);
    EXPECT_EQ(fs::status(file).permissions() & fs::perms::owner_write, fs::perms::none);
    ASSERT_TRUE(setFileAttributes(file, 0));

    testing::writeBytes(file, "abcd"); // changed since: set again
    EXPECT_EQ(fileAttributes(file), kFaArchive);
    EXPECT_EQ(clearArchiveAttributes({file, root.path() / "missing"}),
              (std::vector<bool>{true, false}));
    EXPECT_EQ(fileAttributes(file), 0);
    ASSERT_TRUE(setFileAttributes(file, kFaArchive));
    EXPECT_EQ(fileAttributes(file), kFaArchive);
}

TEST(FileAttributes, DateTimes) {
    EXPECT_DOUBLE_EQ(dateTimeFromParts(1899, 12, 30, 0, 0, 0), 0.0);
    EXPECT_DOUBLE_EQ(dateTimeFromParts(1900, 1, 1, 12, 0, 0), 2.5);
    const DateTimeParts p = dateTimeToParts(dateTimeFromParts(2003, 12, 25, 23, 59, 58));
    EXPECT_EQ(p.year * 10000 + p.month * 100 + p.day, 20031225);
    EXPECT_EQ(p.hour * 10000 + p.minute * 100 + p.second, 235958);
    const std::time_t t = 1700000001; // an odd second
    EXPECT_EQ(timeTFromDateTime(dosDateTimeFromTimeT(t)), t - 1);
    EXPECT_EQ(timeTFromDateTime(dateTimeFromTimeT(t)), t);
}

} // namespace
} // namespace keldo::platform
