#include "backup/archive_format.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace keldo::backup {

namespace {

void putShortString(std::uint8_t* at, std::size_t capacity, const std::string& text) {
    const std::size_t length = std::min(text.size(), capacity);
    at[0] = static_cast<std::uint8_t>(length);
    std::memcpy(at + 1, text.data(), length);
}

std::string getShortString(const std::uint8_t* at, std::size_t capacity) {
    // A length byte beyond the capacity comes only from a damaged archive; take what fits.
    const std::size_t length = std::min<std::size_t>(at[0], capacity);
    return std::string(reinterpret_cast<const char*>(at + 1), length);
}

void putDouble(std::uint8_t* at, double value) {
    putUInt32(at, static_cast<std::uint32_t>(std::bit_cast<std::uint64_t>(value)));
    putUInt32(at + 4, static_cast<std::uint32_t>(std::bit_cast<std::uint64_t>(value) >> 32));
}

double getDouble(const std::uint8_t* at) {
    const std::uint64_t bits =
        std::uint64_t{getUInt32(at)} | (std::uint64_t{getUInt32(at + 4)} << 32);
    return std::bit_cast<double>(bits);
}

} // namespace

void putUInt32(std::uint8_t* at, std::uint32_t value) {
    at[0] = static_cast<std::uint8_t>(value);
    at[1] = static_cast<std::uint8_t>(value >> 8);
    at[2] = static_cast<std::uint8_t>(value >> 16);
    at[3] = static_cast<std::uint8_t>(value >> 24);
}

std::uint32_t getUInt32(const std::uint8_t* at) {
    return std::uint32_t{at[0]} | (std::uint32_t{at[1]} << 8) | (std::uint32_t{at[2]} << 16) |
           (std::uint32_t{at[3]} << 24);
}

void putInt32(std::uint8_t* at, std::int32_t value) {
    putUInt32(at, static_cast<std::uint32_t>(value));
}

std::int32_t getInt32(const std::uint8_t* at) {
    return static_cast<std::int32_t>(getUInt32(at));
}

HeaderBytes encodeHeader(const TArchiveHeader& header) {
    HeaderBytes bytes{};
    putUInt32(&bytes[kHeaderMagicOffset], header.magic);
    bytes[kHeaderCompressedOffset] = header.compressed ? 1 : 0;
    bytes[kHeaderEncryptedOffset] = header.encrypted ? 1 : 0;
    bytes[kHeaderSpannedOffset] = header.spanned ? 1 : 0;
    putShortString(&bytes[kHeaderCommentOffset], kCommentCapacity, header.comment);
    return bytes;
}

TArchiveHeader decodeHeader(const HeaderBytes& bytes) {
    TArchiveHeader header;
    header.magic = getUInt32(&bytes[kHeaderMagicOffset]);
    // Any non-zero byte reads as true, as a Boolean of the original compiler does.
    header.compressed = bytes[kHeaderCompressedOffset] != 0;
    header.encrypted = bytes[kHeaderEncryptedOffset] != 0;
    header.spanned = bytes[kHeaderSpannedOffset] != 0;
    header.comment = getShortString(&bytes[kHeaderCommentOffset], kCommentCapacity);
    return header;
}

EntryBytes encodeEntry(const TCatalogueEntry& entry) {
    EntryBytes bytes{};
    putShortString(&bytes[kEntryPathOffset], kPathCapacity, entry.path);
    putInt32(&bytes[kEntrySizeOffset], entry.size);
    putUInt32(&bytes[kEntryChecksumOffset], entry.checksum);
    putInt32(&bytes[kEntryAttributesOffset], entry.attributes);
    putDouble(&bytes[kEntryDateTimeOffset], entry.lastWrite);
    bytes[kEntrySelectedOffset] = 0;
    return bytes;
}

TCatalogueEntry decodeEntry(const EntryBytes& bytes) {
    TCatalogueEntry entry;
    entry.path = getShortString(&bytes[kEntryPathOffset], kPathCapacity);
    entry.size = getInt32(&bytes[kEntrySizeOffset]);
    entry.checksum = getUInt32(&bytes[kEntryChecksumOffset]);
    entry.attributes = getInt32(&bytes[kEntryAttributesOffset]);
    entry.lastWrite = getDouble(&bytes[kEntryDateTimeOffset]);
    entry.selected = 0; // the stored mark means nothing to a reader
    return entry;
}

BlockHeaderBytes encodeBlockHeader(const TBlockHeader& header) {
    BlockHeaderBytes bytes{};
    putInt32(&bytes[kBlockDataLengthOffset], header.dataLength);
    putInt32(&bytes[kBlockStoredLengthOffset], header.storedLength);
    bytes[kBlockCompressedOffset] = header.compressed ? 1 : 0;
    return bytes;
}

TBlockHeader decodeBlockHeader(const BlockHeaderBytes& bytes) {
    TBlockHeader header;
    header.dataLength = getInt32(&bytes[kBlockDataLengthOffset]);
    header.storedLength = getInt32(&bytes[kBlockStoredLengthOffset]);
    header.compressed = bytes[kBlockCompressedOffset] != 0;
    return header;
}

} // namespace keldo::backup
