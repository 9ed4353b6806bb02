#pragma once

// The tape drive as the archive stream sees it. The stream uses it in this order:
//   open() → rewind(true) → setBlockLength(4096) → writeBlock()/readBlock() per record
//   → destruction (which rewinds without waiting).
// The stream never examines the results of writeBlock and readBlock: tape failures other
// than those of open() are not detected (the archive's own checks catch them later).
// TSCSITape is the implementation over the ASPI-shaped SCSI layer.

#include <cstdint>

namespace keldo::backup {

class TTapeDevice {
public:
    // Destruction releases the drive: it rewinds without waiting.
    virtual ~TTapeDevice() = default;

    // Finds the drive. 0 on success; -1 no ASPI manager, -2 no host adapter, -3 no
    // sequential-access device on the adapter. The block length is 8192 right after it.
    virtual std::int32_t open() = 0;
    // Rewinds; wait false returns at once.
    virtual void rewind(bool wait) = 0;
    // Sets the fixed block length (does nothing while no drive is known).
    virtual void setBlockLength(std::int32_t length) = 0;
    // Writes one fixed block of length bytes; -1 without sending when length is above the
    // block length, else the command's result (0 = done).
    virtual std::int32_t writeBlock(const std::uint8_t* buffer, std::int32_t length) = 0;
    // Reads one fixed block of length bytes into buffer; delivered is always set to length.
    virtual std::int32_t readBlock(std::uint8_t* buffer, std::int32_t length,
                                   std::int32_t& delivered) = 0;
};

} // namespace keldo::backup
