#pragma once

// Byte layout of a backup archive. The stream holds, in this order:
//   1. the archive header, kHeaderSize bytes;
//   2. the catalogue: an Int32 entry count, then that many entries of kCatalogueEntrySize;
//   3. for every entry, in catalogue order, its data section: blocks, each a block header
//      followed by its payload, closed by an empty block (a header whose stored length is 0).
// The stream is then filled up to the next multiple of kRecordSize. All integers are
// little-endian; short strings are a length byte followed by their capacity of bytes.
//
// The encode functions fill every undefined byte with zero; the decode functions never look
// at undefined bytes and range-check the short-string length bytes.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace keldo::backup {

inline constexpr std::size_t kRecordSize = 4096;   // unit of every transfer to the medium
inline constexpr std::size_t kMaxBlockData = 4096; // file bytes carried by one block at most
inline constexpr std::uint32_t kArchiveMagic = 0xAABBCCDDu;

// Archive header.
inline constexpr std::size_t kHeaderSize = 263;
inline constexpr std::size_t kHeaderMagicOffset = 0;      // UInt32
inline constexpr std::size_t kHeaderCompressedOffset = 4; // Boolean
inline constexpr std::size_t kHeaderEncryptedOffset = 5;  // Boolean
inline constexpr std::size_t kHeaderSpannedOffset = 6;    // Boolean
inline constexpr std::size_t kHeaderCommentOffset = 7;    // short string
inline constexpr std::size_t kCommentCapacity = 255;

// Catalogue.
inline constexpr std::size_t kEntryCountSize = 4; // Int32 before the entries
inline constexpr std::size_t kCatalogueEntrySize = 150;
inline constexpr std::size_t kEntryPathOffset = 0; // short string
inline constexpr std::size_t kPathCapacity = 128;
inline constexpr std::size_t kEntrySizeOffset = 129;       // Int32
inline constexpr std::size_t kEntryChecksumOffset = 133;   // UInt32
inline constexpr std::size_t kEntryAttributesOffset = 137; // Int32
inline constexpr std::size_t kEntryDateTimeOffset = 141;   // Double
inline constexpr std::size_t kEntrySelectedOffset = 149;   // UInt8

// Block header.
inline constexpr std::size_t kBlockHeaderSize = 10;
inline constexpr std::size_t kBlockDataLengthOffset = 0;   // Int32
inline constexpr std::size_t kBlockStoredLengthOffset = 4; // Int32
inline constexpr std::size_t kBlockCompressedOffset = 8;   // Boolean

// DOS attribute bits as the directory listing reports them.
inline constexpr std::int32_t kAttrReadOnly = 0x01;
inline constexpr std::int32_t kAttrHidden = 0x02;
inline constexpr std::int32_t kAttrSystem = 0x04;
inline constexpr std::int32_t kAttrArchive = 0x20;

using HeaderBytes = std::array<std::uint8_t, kHeaderSize>;
using EntryBytes = std::array<std::uint8_t, kCatalogueEntrySize>;
using BlockHeaderBytes = std::array<std::uint8_t, kBlockHeaderSize>;

struct TArchiveHeader {
    std::uint32_t magic = kArchiveMagic;
    bool compressed = false; // informative: compression was requested
    bool encrypted = false;  // governs the reading of every block
    bool spanned = false;    // informative: written with volumes
    std::string comment;     // Windows-1252 bytes; cut to kCommentCapacity when encoded
};

// One backed-up file. Texts are Windows-1252 bytes, as stored.
struct TCatalogueEntry {
    std::string path;            // cut to kPathCapacity when encoded
    std::int32_t size = 0;       // bytes at scan time
    std::uint32_t checksum = 0;  // see checksum.h
    std::int32_t attributes = 0; // kAttr* bits
    double lastWrite = 0;        // days since 1899-12-30 00:00, local time
    std::uint8_t selected = 0;   // written as 0; the reading engine's own selection mark
};

struct TBlockHeader {
    std::int32_t dataLength = 0;   // file bytes the block carries, 1..kMaxBlockData; 0 at the end
    std::int32_t storedLength = 0; // meaningful payload bytes; 0 in the empty block
    bool compressed = false;       // the payload is a zlib stream
};

HeaderBytes encodeHeader(const TArchiveHeader& header);
TArchiveHeader decodeHeader(const HeaderBytes& bytes);

// The selection mark is always written as 0.
EntryBytes encodeEntry(const TCatalogueEntry& entry);
TCatalogueEntry decodeEntry(const EntryBytes& bytes);

BlockHeaderBytes encodeBlockHeader(const TBlockHeader& header);
TBlockHeader decodeBlockHeader(const BlockHeaderBytes& bytes);

// Little-endian helpers, also for the entry count.
void putInt32(std::uint8_t* at, std::int32_t value);
std::int32_t getInt32(const std::uint8_t* at);
void putUInt32(std::uint8_t* at, std::uint32_t value);
std::uint32_t getUInt32(const std::uint8_t* at);

} // namespace keldo::backup
