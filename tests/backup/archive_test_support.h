#pragma once

// The stream's owner for tests: the engine's settings as plain fields, the disk prompt as
// a function, and counters of the statistics the stream updates.

#include "backup/archive_stream.h"
#include "backup/block_codec.h"
#include "memory_disk.h"

#include <functional>
#include <string>
#include <vector>

namespace keldo::backup::testing {

class TestOwner : public TArchiveOwner {
public:
    bool span = false;
    bool tape = false;
    bool erase = false;
    TReaction readErrorReaction = TReaction::AW_IGNORE;
    std::function<void(std::int32_t, TReaction&)> onNextDisk;
    std::function<std::unique_ptr<TTapeDevice>()> onCreateTape;
    TDiskMedium* disk = nullptr; // nullptr: the real file system
    std::vector<std::int32_t> prompts;
    std::int64_t bytesWritten = 0;
    std::int64_t bytesRead = 0;

    bool spanDisks() const override { return span; }
    bool backupToTape() const override { return tape; }
    bool eraseTargetDir() const override { return erase; }
    TReaction handleFileReadError() const override { return readErrorReaction; }
    void nextDisk(std::int32_t diskNo, TReaction& reaction) override {
        prompts.push_back(diskNo);
        if (onNextDisk) {
            onNextDisk(diskNo, reaction);
        } else {
            reaction = TReaction::AW_ABORT;
        }
    }
    void addBytesWritten(std::int64_t count) override { bytesWritten += count; }
    void addBytesRead(std::int64_t count) override { bytesRead += count; }
    std::unique_ptr<TTapeDevice> createTapeDevice() override {
        return onCreateTape ? onCreateTape() : nullptr;
    }
    TDiskMedium& diskMedium() override { return disk ? *disk : TArchiveOwner::diskMedium(); }
};

inline std::vector<std::uint8_t> patternBytes(std::size_t size, std::uint32_t seed = 1) {
    std::vector<std::uint8_t> bytes(size);
    std::uint32_t x = seed;
    for (auto& b : bytes) {
        x = x * 1664525u + 1013904223u; // random-looking, so deflate cannot shrink it
        b = static_cast<std::uint8_t>(x >> 24);
    }
    return bytes;
}

inline std::vector<std::uint8_t> textBytes(std::size_t size) {
    const std::string line = "funciona;registro;matricula;00:00;\r\n";
    std::vector<std::uint8_t> bytes(size);
    for (std::size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<std::uint8_t>(line[i % line.size()]);
    }
    return bytes;
}

} // namespace keldo::backup::testing
