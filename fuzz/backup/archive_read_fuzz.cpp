// Reads an archive from arbitrary bytes as a restore would: header, catalogue, then every
// data section, decoding some and skipping others, plain or encrypted, from one file or
// from two volumes. Every failure must be one of the subsystem's exceptions; anything
// else (a crash, a hang, a sanitizer report, a foreign exception) is a finding.

#include "backup/archive_stream.h"
#include "backup/backup_errors.h"
#include "backup/block_codec.h"
#include "memory_disk.h"

#include <cstddef>
#include <cstdint>

using namespace keldo::backup;

namespace {

class FuzzOwner : public TArchiveOwner {
public:
    explicit FuzzOwner(sim::TMemoryDisk& disk, bool span) : disk_(disk), span_(span) {}
    bool spanDisks() const override { return span_; }
    bool backupToTape() const override { return false; }
    bool eraseTargetDir() const override { return false; }
    TReaction handleFileReadError() const override { return TReaction::AW_ABORT; }
    void nextDisk(std::int32_t, TReaction& reaction) override { reaction = TReaction::AW_ABORT; }
    void addBytesWritten(std::int64_t) override {}
    void addBytesRead(std::int64_t) override {}
    std::unique_ptr<TTapeDevice> createTapeDevice() override { return nullptr; }
    TDiskMedium& diskMedium() override { return disk_; }

private:
    sim::TMemoryDisk& disk_;
    bool span_;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) {
        return 0;
    }
    const std::uint8_t mode = data[0];
    const bool span = (mode & 1) != 0;
    const bool shortKey = (mode & 2) != 0;
    const std::size_t split = span ? std::min<std::size_t>(size - 2, data[1] * 64u) : 0;
    data += 2;
    size -= 2;

    sim::TMemoryDisk disk;
    if (span) {
        disk.put("/f/set.001", {data, data + split});
        disk.put("/f/set.002", {data + split, data + size});
    } else {
        disk.put("/f/set", {data, data + size});
    }
    FuzzOwner owner(disk, span);
    TBlowfish cipher;
    cipher.setKey(shortKey ? "abc" : "chave-do-fuzz");
    try {
        TArchiveStream stream(owner, false, "/f/set");
        HeaderBytes headerBytes{};
        stream.read(headerBytes.data(), headerBytes.size());
        const TArchiveHeader header = decodeHeader(headerBytes);
        std::uint8_t countBytes[kEntryCountSize];
        stream.read(countBytes, sizeof countBytes);
        const std::int32_t count = getInt32(countBytes);
        std::vector<TCatalogueEntry> entries;
        for (std::int32_t i = 0; i < count && i < 4096; ++i) {
            entries.push_back(stream.readEntry());
        }
        TBlockReader reader(stream, header.encrypted ? &cipher : nullptr);
        for (std::size_t i = 0; i < entries.size(); ++i) {
            if (i % 3 == 2) {
                reader.skipDataSection();
                continue;
            }
            while (!reader.readBlock().empty()) {
            }
        }
    } catch (const Exception&) {
    }
    return 0;
}
