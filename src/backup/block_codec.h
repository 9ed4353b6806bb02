#pragma once

// The blocks of a file's data section: the writer cuts a file into pieces of up to
// kMaxBlockData bytes and writes each as one block (compressed when that makes it shorter,
// encrypted when the archive is), then the empty block; the reader gives the pieces back.
// Each block is compressed on its own: no state is carried from one block to the next.
//
// Usage (writer): TBlockWriter w(stream, TCompressData::CDM_MaxCompression, &cipher);
//                 while (n = read(piece)) w.writeBlock(piece, n);  w.writeEndBlock();
// Usage (reader): TBlockReader r(stream, header.encrypted ? &cipher : nullptr);
//                 while (auto data = r.readBlock(); !data.empty()) write(data);

#include "backup/archive_format.h"
#include "backup/backup_types.h"
#include "backup/blowfish.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace keldo::backup {

class TArchiveStream;

class TBlockWriter {
public:
    // cipher nullptr: the archive is not encrypted.
    TBlockWriter(TArchiveStream& stream, TCompressData compression, const TBlowfish* cipher);

    // One piece of 1..kMaxBlockData bytes (anything else raises EAssertionFailed). Written as
    // a 10-byte header and one payload write: stored raw when deflate does not shrink it;
    // encrypted payloads are rounded up to a multiple of 8 bytes.
    void writeBlock(const std::uint8_t* data, std::size_t size);
    // The empty block that closes a data section.
    void writeEndBlock();

private:
    TArchiveStream& stream_;
    TCompressData compression_;
    const TBlowfish* cipher_;
    std::array<std::uint8_t, kMaxBlockData + TBlowfish::kBlockSize> work_{};
    std::vector<std::uint8_t> deflated_;
};

class TBlockReader {
public:
    // cipher nullptr: the archive header says the blocks are not encrypted.
    TBlockReader(TArchiveStream& stream, const TBlowfish* cipher);

    // The file bytes of the next block; empty at the block that ends the data section.
    // The span stays valid until the next call. Raises EUB_BackupReadError "Invalid block
    // header in backup archive" for lengths no writer produces, EUB_ZipError "Decompressed
    // block has not the right length", EZDecompressionError for a malformed zlib stream,
    // and what the stream's read raises.
    std::span<const std::uint8_t> readBlock();

    // Reads past the rest of a data section: blocks are read and dropped, nothing is
    // decrypted or inflated.
    void skipDataSection();

private:
    // Reads a block header and its payload into work_; false at the empty block.
    bool readRaw(TBlockHeader& header, std::size_t& payload);

    TArchiveStream& stream_;
    const TBlowfish* cipher_;
    std::array<std::uint8_t, kMaxBlockData + TBlowfish::kBlockSize> work_{};
    std::array<std::uint8_t, kMaxBlockData + 1> inflated_{};
};

} // namespace keldo::backup
