#include "backup/block_codec.h"

#include "backup/archive_stream.h"
#include "backup/backup_errors.h"

#include <zlib.h>

#include <cstring>
#include <string>

namespace keldo::backup {

namespace {

constexpr int kWindowBits = 15;
constexpr int kMemoryLevel = 8;

std::size_t roundUpToCipherBlock(std::size_t size) {
    return (size + TBlowfish::kBlockSize - 1) & ~(TBlowfish::kBlockSize - 1);
}

int deflateLevel(TCompressData compression) {
    return compression == TCompressData::CDM_QuickCompression ? 1 : 9;
}

// One zlib stream of the whole piece; false when zlib fails, which the caller treats like
// data that does not shrink.
bool deflatePiece(const std::uint8_t* data, std::size_t size, int level,
                  std::vector<std::uint8_t>& out, std::size_t& outSize) {
    z_stream z{};
    if (deflateInit2(&z, level, Z_DEFLATED, kWindowBits, kMemoryLevel, Z_DEFAULT_STRATEGY) !=
        Z_OK) {
        return false;
    }
    out.resize(deflateBound(&z, static_cast<uLong>(size)));
    z.next_in = const_cast<Bytef*>(data);
    z.avail_in = static_cast<uInt>(size);
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    const int result = deflate(&z, Z_FINISH);
    outSize = z.total_out;
    deflateEnd(&z);
    return result == Z_STREAM_END;
}

} // namespace

TBlockWriter::TBlockWriter(TArchiveStream& stream, TCompressData compression,
                           const TBlowfish* cipher)
    : stream_(stream), compression_(compression), cipher_(cipher) {}

void TBlockWriter::writeBlock(const std::uint8_t* data, std::size_t size) {
    if (size == 0 || size > kMaxBlockData) {
        throw EAssertionFailed("Datenblock mit " + std::to_string(size) + " zu groß");
    }
    TBlockHeader header;
    header.dataLength = static_cast<std::int32_t>(size);
    header.storedLength = static_cast<std::int32_t>(size);
    std::memcpy(work_.data(), data, size);

    if (compression_ != TCompressData::CDM_NoCompression) {
        std::size_t packed = 0;
        if (deflatePiece(data, size, deflateLevel(compression_), deflated_, packed) &&
            packed < size) {
            std::memcpy(work_.data(), deflated_.data(), packed);
            header.storedLength = static_cast<std::int32_t>(packed);
            header.compressed = true;
        }
    }

    std::size_t payload = static_cast<std::size_t>(header.storedLength);
    if (cipher_ != nullptr) {
        const std::size_t padded = roundUpToCipherBlock(payload);
        std::memset(work_.data() + payload, 0, padded - payload);
        payload = padded;
        cipher_->encryptECB(work_.data(), payload);
    }
    const BlockHeaderBytes headerBytes = encodeBlockHeader(header);
    stream_.write(headerBytes.data(), headerBytes.size());
    stream_.write(work_.data(), payload);
}

void TBlockWriter::writeEndBlock() {
    const BlockHeaderBytes headerBytes = encodeBlockHeader(TBlockHeader{});
    stream_.write(headerBytes.data(), headerBytes.size());
}

TBlockReader::TBlockReader(TArchiveStream& stream, const TBlowfish* cipher)
    : stream_(stream), cipher_(cipher) {}

bool TBlockReader::readRaw(TBlockHeader& header, std::size_t& payload) {
    BlockHeaderBytes headerBytes{};
    stream_.read(headerBytes.data(), headerBytes.size());
    header = decodeBlockHeader(headerBytes);
    if (header.storedLength == 0) {
        return false;
    }
    // A writer stores a piece raw at its own length or compressed into fewer bytes, never
    // more than one block's data; anything else would make us read a wrong number of bytes.
    const bool dataOk =
        header.dataLength >= 1 && header.dataLength <= static_cast<std::int32_t>(kMaxBlockData);
    const bool storedOk = header.storedLength >= 1 &&
                          header.storedLength <= static_cast<std::int32_t>(kMaxBlockData) &&
                          (header.compressed || header.storedLength == header.dataLength);
    if (!dataOk || !storedOk) {
        throw EUB_BackupReadError(archive_messages::kBadBlockHeader);
    }
    payload = static_cast<std::size_t>(header.storedLength);
    if (cipher_ != nullptr) {
        payload = roundUpToCipherBlock(payload);
    }
    stream_.read(work_.data(), payload);
    return true;
}

std::span<const std::uint8_t> TBlockReader::readBlock() {
    TBlockHeader header;
    std::size_t payload = 0;
    if (!readRaw(header, payload)) {
        return {};
    }
    if (cipher_ != nullptr) {
        cipher_->decryptECB(work_.data(), payload);
    }
    const auto stored = static_cast<std::size_t>(header.storedLength);
    const auto expected = static_cast<std::size_t>(header.dataLength);
    if (!header.compressed) {
        return {work_.data(), stored};
    }

    z_stream z{};
    if (inflateInit(&z) != Z_OK) {
        throw EZDecompressionError(z.msg != nullptr ? z.msg : "inflateInit failed");
    }
    z.next_in = work_.data();
    z.avail_in = static_cast<uInt>(stored);
    // One byte more than the block may hold shows a stream that inflates too long, without
    // ever inflating more than that.
    z.next_out = inflated_.data();
    z.avail_out = static_cast<uInt>(inflated_.size());
    const int result = inflate(&z, Z_FINISH);
    const std::size_t produced = z.total_out;
    const std::string zlibText = z.msg != nullptr ? z.msg : "";
    inflateEnd(&z);

    if (result == Z_STREAM_END) {
        if (produced != expected) {
            throw EUB_ZipError(archive_messages::kDecompressedLength);
        }
        return {inflated_.data(), produced};
    }
    if (result == Z_BUF_ERROR && z.avail_out == 0) {
        throw EUB_ZipError(archive_messages::kDecompressedLength); // longer than the block
    }
    if (!zlibText.empty()) {
        throw EZDecompressionError(zlibText);
    }
    throw EZDecompressionError(result == Z_BUF_ERROR ? "unexpected end of compressed data"
                                                     : zError(result));
}

void TBlockReader::skipDataSection() {
    TBlockHeader header;
    std::size_t payload = 0;
    while (readRaw(header, payload)) {
    }
}

} // namespace keldo::backup
