#include "backup/archive_format.h"
#include "backup/checksum.h"

#include <gtest/gtest.h>

#include <string>

using namespace keldo::backup;

TEST(Checksum, IsTheComplementOfCrc32WhateverThePieces) {
    struct Case {
        std::string bytes;
        std::uint32_t expected;
    };
    const Case cases[] = {
        {"", 0xFFFFFFFFu},
        {"abc", 0xCADBBE3Du},
        {"123456789", ~0xCBF43926u}, // the CRC-32 check value, complemented
    };
    for (const auto& c : cases) {
        EXPECT_EQ(checksumOf(c.bytes), c.expected) << c.bytes;
    }
    // The scan reads in 1024-byte pieces: a running sum over pieces equals the whole one.
    std::string big(5000, '\0');
    for (std::size_t i = 0; i < big.size(); ++i) {
        big[i] = static_cast<char>(i * 7);
    }
    std::uint32_t running = kChecksumStart;
    for (std::size_t at = 0; at < big.size(); at += 1024) {
        const std::size_t n = std::min<std::size_t>(1024, big.size() - at);
        running = checksumUpdate(running, big.data() + at, n);
    }
    EXPECT_EQ(running, checksumOf(big));
}

TEST(Format, HeaderBytesAndRoundTrip) {
    TArchiveHeader header;
    header.compressed = true;
    header.encrypted = true;
    header.spanned = false;
    header.comment = std::string(300, 'x'); // cut to 255
    const HeaderBytes bytes = encodeHeader(header);
    EXPECT_EQ(bytes[0], 0xDD);
    EXPECT_EQ(bytes[1], 0xCC);
    EXPECT_EQ(bytes[2], 0xBB);
    EXPECT_EQ(bytes[3], 0xAA);
    EXPECT_EQ(bytes[4], 1);
    EXPECT_EQ(bytes[5], 1);
    EXPECT_EQ(bytes[6], 0);
    EXPECT_EQ(bytes[7], 255);
    const TArchiveHeader back = decodeHeader(bytes);
    EXPECT_EQ(back.magic, kArchiveMagic);
    EXPECT_TRUE(back.compressed);
    EXPECT_TRUE(back.encrypted);
    EXPECT_FALSE(back.spanned);
    EXPECT_EQ(back.comment, std::string(255, 'x'));
}

TEST(Format, EntryBytesAndRoundTrip) {
    TCatalogueEntry entry;
    entry.path = "C:\\KELDORAN32\\DADOS\\funciona.db";
    entry.size = 0x01020304;
    entry.checksum = 0xCADBBE3Du;
    entry.attributes = kAttrArchive | kAttrReadOnly;
    entry.lastWrite = 46000.5; // noon
    entry.selected = 1;        // never written
    const EntryBytes bytes = encodeEntry(entry);
    EXPECT_EQ(bytes[0], entry.path.size());
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&bytes[1]), entry.path.size()), entry.path);
    EXPECT_EQ(bytes[kEntrySizeOffset], 0x04);
    EXPECT_EQ(bytes[kEntrySizeOffset + 3], 0x01);
    EXPECT_EQ(bytes[kEntryChecksumOffset], 0x3D);
    EXPECT_EQ(bytes[kEntryAttributesOffset], 0x21);
    EXPECT_EQ(bytes[kEntryDateTimeOffset + 7], 0x40); // little-endian double, sign/exponent last
    EXPECT_EQ(bytes[kEntrySelectedOffset], 0);
    const TCatalogueEntry back = decodeEntry(bytes);
    EXPECT_EQ(back.path, entry.path);
    EXPECT_EQ(back.size, entry.size);
    EXPECT_EQ(back.checksum, entry.checksum);
    EXPECT_EQ(back.attributes, entry.attributes);
    EXPECT_EQ(back.lastWrite, entry.lastWrite);

    entry.path = std::string(140, 'p'); // cut to 128
    EXPECT_EQ(decodeEntry(encodeEntry(entry)).path, std::string(128, 'p'));

    EntryBytes damaged = encodeEntry(entry);
    damaged[0] = 200; // a length byte beyond the capacity reads no further than the field
    EXPECT_EQ(decodeEntry(damaged).path.size(), kPathCapacity);
}
