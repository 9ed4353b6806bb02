#include "archive_test_support.h"

#include "backup/backup_errors.h"

#include <gtest/gtest.h>

#include <functional>
#include <span>

using namespace keldo::backup;
using namespace keldo::backup::testing;
using Bytes = std::vector<std::uint8_t>;

namespace {

const char* const kArchive = "/mem/BACKUP/set.bak";

class BlockTest : public ::testing::Test {
protected:
    BlockTest() { owner.disk = &disk; }

    Bytes writeArchive(const std::function<void(TArchiveStream&)>& body) {
        {
            TArchiveStream stream(owner, true, kArchive);
            body(stream);
            stream.close();
        }
        return disk.bytes(kArchive);
    }

    void readArchive(const std::function<void(TArchiveStream&)>& body) {
        TArchiveStream stream(owner, false, kArchive);
        body(stream);
    }

    // Puts hand-made archive bytes on the disk, filled up to whole records.
    void putArchive(Bytes bytes) {
        bytes.resize((bytes.size() + kRecordSize - 1) / kRecordSize * kRecordSize);
        disk.put(kArchive, std::move(bytes));
    }

    sim::TMemoryDisk disk;
    TestOwner owner;
};

// Cuts a file into blocks the way the engine reads it: pieces of up to one block.
void writeSection(TBlockWriter& writer, const Bytes& file) {
    for (std::size_t at = 0; at < file.size(); at += kMaxBlockData) {
        writer.writeBlock(file.data() + at, std::min(kMaxBlockData, file.size() - at));
    }
    writer.writeEndBlock();
}

Bytes readSection(TBlockReader& reader) {
    Bytes out;
    for (auto data = reader.readBlock(); !data.empty(); data = reader.readBlock()) {
        out.insert(out.end(), data.begin(), data.end());
    }
    return out;
}

struct BlockSeen {
    std::int32_t dataLength;
    std::int32_t storedLength;
    bool compressed;
    std::size_t payloadBytes;
};

// Walks the block headers of one data section at the start of the archive bytes.
std::vector<BlockSeen> blocksOf(const Bytes& archive, bool encrypted) {
    std::vector<BlockSeen> seen;
    std::size_t at = 0;
    while (at + kBlockHeaderSize <= archive.size()) {
        BlockHeaderBytes raw{};
        std::copy_n(archive.begin() + static_cast<std::ptrdiff_t>(at), kBlockHeaderSize,
                    raw.begin());
        const TBlockHeader h = decodeBlockHeader(raw);
        std::size_t payload = static_cast<std::size_t>(h.storedLength);
        if (encrypted) {
            payload = (payload + 7) & ~std::size_t{7};
        }
        seen.push_back({h.dataLength, h.storedLength, h.compressed, payload});
        at += kBlockHeaderSize + payload;
        if (h.storedLength == 0) {
            break;
        }
    }
    return seen;
}

} // namespace

TEST_F(BlockTest, FileSizesGiveTheirBlocksAndComeBack) {
    struct Case {
        std::size_t size;
        TCompressData compression;
        bool encrypted;
        std::vector<std::int32_t> dataLengths; // of every block, the empty one last
    };
    const Case cases[] = {
        {0, TCompressData::CDM_NoCompression, false, {0}},
        {4096, TCompressData::CDM_NoCompression, false, {4096, 0}},
        {4097, TCompressData::CDM_NoCompression, false, {4096, 1, 0}},
        {4097, TCompressData::CDM_QuickCompression, false, {4096, 1, 0}},
        {10000, TCompressData::CDM_MaxCompression, true, {4096, 4096, 1808, 0}},
        {4097, TCompressData::CDM_NoCompression, true, {4096, 1, 0}},
    };
    TBlowfish cipher;
    cipher.setKey("chave-de-teste");
    for (const auto& c : cases) {
        const Bytes file = textBytes(c.size);
        const TBlowfish* key = c.encrypted ? &cipher : nullptr;
        const Bytes archive = writeArchive([&](TArchiveStream& s) {
            TBlockWriter writer(s, c.compression, key);
            writeSection(writer, file);
        });
        std::vector<std::int32_t> lengths;
        for (const auto& b : blocksOf(archive, c.encrypted)) {
            lengths.push_back(b.dataLength);
            if (b.dataLength > 0) {
                EXPECT_EQ(b.compressed,
                          c.compression != TCompressData::CDM_NoCompression && b.dataLength > 100)
                    << c.size; // text shrinks; one byte never does
            }
        }
        EXPECT_EQ(lengths, c.dataLengths) << c.size;
        readArchive([&](TArchiveStream& s) {
            TBlockReader reader(s, key);
            EXPECT_EQ(readSection(reader), file) << c.size;
        });
    }
}

TEST_F(BlockTest, MaximumCompressionIsTighterThanQuick) {
    const Bytes file = textBytes(4096);
    auto storedWith = [&](TCompressData mode) {
        const Bytes archive = writeArchive([&](TArchiveStream& s) {
            TBlockWriter(s, mode, nullptr).writeBlock(file.data(), file.size());
        });
        return blocksOf(archive, false).front().storedLength;
    };
    EXPECT_LE(storedWith(TCompressData::CDM_MaxCompression),
              storedWith(TCompressData::CDM_QuickCompression));
    EXPECT_LT(storedWith(TCompressData::CDM_QuickCompression), 4096);
}

TEST_F(BlockTest, DataThatDoesNotShrinkIsStoredRaw) {
    const Bytes noise = patternBytes(4096);
    const Bytes archive = writeArchive([&](TArchiveStream& s) {
        TBlockWriter(s, TCompressData::CDM_MaxCompression, nullptr)
            .writeBlock(noise.data(), noise.size());
    });
    const BlockSeen block = blocksOf(archive, false).front();
    EXPECT_FALSE(block.compressed);
    EXPECT_EQ(block.storedLength, 4096);
    EXPECT_TRUE(std::equal(noise.begin(), noise.end(), archive.begin() + kBlockHeaderSize));
}

TEST_F(BlockTest, EncryptedPayloadIsRoundedToWholeCipherBlocks) {
    TBlowfish cipher;
    cipher.setKey("12345678");
    const Bytes piece = patternBytes(13);
    const Bytes next = textBytes(20);
    const Bytes archive = writeArchive([&](TArchiveStream& s) {
        TBlockWriter writer(s, TCompressData::CDM_NoCompression, &cipher);
        writer.writeBlock(piece.data(), piece.size());
        writer.writeEndBlock();
        writeSection(writer, next);
    });
    const auto blocks = blocksOf(archive, true);
    ASSERT_EQ(blocks.size(), 2u);
    EXPECT_EQ(blocks[0].storedLength, 13);
    EXPECT_EQ(blocks[0].payloadBytes, 16u);
    // The 13 plain bytes are not in the archive as they are.
    EXPECT_FALSE(std::equal(piece.begin(), piece.end(), archive.begin() + kBlockHeaderSize));

    readArchive([&](TArchiveStream& s) {
        TBlockReader reader(s, &cipher);
        const auto data = reader.readBlock();
        EXPECT_EQ(Bytes(data.begin(), data.end()), piece);
        EXPECT_TRUE(reader.readBlock().empty());
        // The reader took exactly 16 payload bytes: the next section starts right after.
        EXPECT_EQ(readSection(reader), next);
    });
}

TEST_F(BlockTest, ArchiveWithAShortKeyReadsWithAnyOtherDiscardedKey) {
    const Bytes file = textBytes(5000);
    TBlowfish writerKey;
    writerKey.setKey("abc");
    writeArchive([&](TArchiveStream& s) {
        TBlockWriter writer(s, TCompressData::CDM_QuickCompression, &writerKey);
        writeSection(writer, file);
    });
    for (const std::string& key :
         std::vector<std::string>{"", "z", "outra", std::string(66, 'q')}) {
        TBlowfish readerKey;
        readerKey.setKey(key);
        readArchive([&](TArchiveStream& s) {
            TBlockReader reader(s, &readerKey);
            EXPECT_EQ(readSection(reader), file) << key;
        });
    }
    // A real key does not open it: the first block's zlib stream comes out as garbage.
    TBlowfish realKey;
    realKey.setKey("abcdefgh");
    readArchive([&](TArchiveStream& s) {
        TBlockReader reader(s, &realKey);
        EXPECT_ANY_THROW(readSection(reader));
    });
}

TEST_F(BlockTest, SkippingASectionReadsPastItWithoutDecoding) {
    const Bytes first = textBytes(9000);
    const Bytes second = patternBytes(300);
    writeArchive([&](TArchiveStream& s) {
        TBlockWriter writer(s, TCompressData::CDM_MaxCompression, nullptr);
        writeSection(writer, first);
        writeSection(writer, second);
    });
    readArchive([&](TArchiveStream& s) {
        TBlockReader reader(s, nullptr);
        reader.skipDataSection();
        EXPECT_EQ(readSection(reader), second);
    });
}

TEST_F(BlockTest, DamagedBlocksRaiseTheirErrors) {
    Bytes deflated;
    {
        const Bytes text = textBytes(1000);
        const Bytes archive = writeArchive([&](TArchiveStream& s) {
            TBlockWriter(s, TCompressData::CDM_MaxCompression, nullptr)
                .writeBlock(text.data(), text.size());
        });
        const auto stored = static_cast<std::size_t>(blocksOf(archive, false).front().storedLength);
        deflated.assign(archive.begin() + kBlockHeaderSize,
                        archive.begin() + static_cast<std::ptrdiff_t>(kBlockHeaderSize + stored));
    }
    auto block = [](std::int32_t dataLength, std::int32_t storedLength, bool compressed,
                    const Bytes& payload) {
        const auto header = encodeBlockHeader({dataLength, storedLength, compressed});
        Bytes bytes(header.begin(), header.end());
        bytes.insert(bytes.end(), payload.begin(), payload.end());
        return bytes;
    };
    const auto stored = static_cast<std::int32_t>(deflated.size());
    Bytes garbage = deflated;
    garbage[2] ^= 0xFF;
    garbage[3] ^= 0xFF;
    enum class Fault { Read, Zip, Inflate };
    struct Case {
        const char* what;
        Bytes bytes;
        Fault expected;
    };
    const Case cases[] = {
        {"data length 0 with a payload", block(0, 5, false, Bytes(5)), Fault::Read},
        {"data length above a block", block(5000, 5000, false, Bytes(5000)), Fault::Read},
        {"negative stored length", block(10, -8, true, {}), Fault::Read},
        {"raw block of another length", block(10, 12, false, Bytes(12)), Fault::Read},
        {"inflates shorter", block(1001, stored, true, deflated), Fault::Zip},
        {"inflates longer", block(999, stored, true, deflated), Fault::Zip},
        {"malformed zlib stream", block(1000, stored, true, garbage), Fault::Inflate},
        {"truncated zlib stream", block(1000, stored / 2, true, deflated), Fault::Inflate},
    };
    for (const auto& c : cases) {
        putArchive(c.bytes);
        readArchive([&](TArchiveStream& s) {
            TBlockReader reader(s, nullptr);
            switch (c.expected) {
            case Fault::Read:
                EXPECT_THROW(reader.readBlock(), EUB_BackupReadError) << c.what;
                break;
            case Fault::Zip:
                try {
                    reader.readBlock();
                    ADD_FAILURE() << c.what;
                } catch (const EUB_ZipError& e) {
                    EXPECT_STREQ(e.what(), "Decompressed block has not the right length");
                }
                break;
            case Fault::Inflate:
                EXPECT_THROW(reader.readBlock(), EZDecompressionError) << c.what;
                break;
            }
        });
    }
}
