#pragma once

// TSCSITape: the SCSI tape drive on host adapter 0, found by probing targets 0-7, written
// and read one fixed-length block at a time.
//
// States:
//   created (target -1, block length 0) ──open() finds a tape──▶ open (target known,
//       block length 8192, sent to the drive)
//   open ──setBlockLength(n)──▶ open (block length n)
//   open ──writeBlock / readBlock / rewind──▶ open
//   any ──destruction──▶ gone: an open drive is rewound without waiting.
// A drive that was never found receives no command: rewind, setBlockLength, writeBlock and
// readBlock do nothing (the block transfers return -1).
//
// Usage (what the archive stream does):
//   TSCSITape tape;                       // the platform's SCSI pass-through
//   if (tape.open() != 0) ...;            // -1 no ASPI, -2 no adapter, -3 no tape drive
//   tape.rewind(true); tape.setBlockLength(4096);
//   tape.writeBlock(record, 4096); ...

#include "backup/aspi32.h"
#include "backup/tape_device.h"

#include <cstdint>
#include <memory>

namespace keldo::backup {

inline constexpr std::int32_t kBlockLengthAfterOpen = 8192;
inline constexpr std::uint8_t kModeParameterListLength = 12;
inline constexpr std::uint8_t kModeBufferedMode = 0x10;
inline constexpr std::uint8_t kModeBlockDescriptorLength = 8;

class TSCSITape : public TTapeDevice {
public:
    // Creates the TASPI32 object over library (by default the platform's pass-through);
    // processMessages runs while a command is pending.
    explicit TSCSITape(std::shared_ptr<AspiLibrary> library = systemAspiLibrary(),
                       ProcessMessages processMessages = {});
    // Rewinds without waiting when a drive was found.
    ~TSCSITape() override;

    TSCSITape(const TSCSITape&) = delete;
    TSCSITape& operator=(const TSCSITape&) = delete;

    std::int32_t open() override;
    void rewind(bool wait) override;
    void setBlockLength(std::int32_t length) override;
    std::int32_t writeBlock(const std::uint8_t* buffer, std::int32_t length) override;
    std::int32_t readBlock(std::uint8_t* buffer, std::int32_t length,
                           std::int32_t& delivered) override;

    std::int32_t tapeTarget() const { return target_; }
    std::int32_t blockLength() const { return blockLength_; }
    TASPI32& aspi() { return *aspi_; }

private:
    std::unique_ptr<TASPI32> aspi_;
    std::int32_t target_ = -1;
    std::int32_t blockLength_ = 0;
};

} // namespace keldo::backup
