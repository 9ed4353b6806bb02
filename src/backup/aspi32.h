#pragma once

// TASPI32: SCSI commands to host adapter 0 through an ASPI-shaped library (aspi.h). It asks
// the library for its support info once, at creation, and sends each command as one
// "execute SCSI command" request with a 6-byte command block and 14 bytes of sense, waiting
// for a pending request while the application keeps processing its messages.
//
// Usage:
//   TASPI32 aspi(systemAspiLibrary(), [] { /* let the window system run */ });
//   if (aspi.aspiAvailable() && aspi.hostAdapterCount() > 0) { int t = aspi.findTape(); }

#include "backup/aspi.h"

#include <array>
#include <cstdint>
#include <functional>
#include <memory>

namespace keldo::backup {

// Called between reads of a pending request's status so that the window stays alive.
using ProcessMessages = std::function<void()>;

using ScsiCdb6 = std::array<std::uint8_t, 6>;

enum class TDataDirection {
    In,  // data from the device, and commands without data
    Out, // data to the device
};

// Command operation codes used on the tape drive.
inline constexpr std::uint8_t kScsiInquiry = 0x12;
inline constexpr std::uint8_t kScsiModeSelect6 = 0x15;
inline constexpr std::uint8_t kScsiWrite6 = 0x0A;
inline constexpr std::uint8_t kScsiRead6 = 0x08;
inline constexpr std::uint8_t kScsiRewind = 0x01;
inline constexpr std::uint8_t kScsiWriteFilemarks = 0x10;

inline constexpr std::uint8_t kScsiStatusCheckCondition = 0x02;
inline constexpr std::uint8_t kInquiryLength = 32;
inline constexpr std::uint8_t kSenseLength = 14;
inline constexpr std::uint8_t kDeviceTypeMask = 0x1F;
inline constexpr std::int32_t kSequentialAccessDevice = 1;
inline constexpr int kTargetCount = 8; // targets 0-7 of the adapter are probed

class TASPI32 {
public:
    // Asks the library for its support info: ASPI is available unless the status is
    // kSsFailedInit; the host adapter count is kept. processMessages may be empty.
    explicit TASPI32(std::shared_ptr<AspiLibrary> library, ProcessMessages processMessages = {});

    bool aspiAvailable() const { return available_; }
    int hostAdapterCount() const { return adapterCount_; }
    // Only the first host adapter is ever used.
    static constexpr std::uint8_t hostAdapterUsed = 0;

    // Sends cdb to target with length bytes of buffer in the given direction and waits for
    // the request. Result: 0 done; 8 aborted; the sense byte 2 (sense key with the
    // filemark, end-of-medium and incorrect-length bits) when the target answered with a
    // check condition; 9 for every other failure (no such device, host adapter error,
    // target busy, refused request).
    std::int32_t sendCommand(int target, std::uint8_t* buffer, const ScsiCdb6& cdb,
                             TDataDirection direction, std::uint32_t length);

    // INQUIRY: the peripheral device type of target, or -1 when the command failed.
    std::int32_t deviceType(int target);

    // The first of targets 0-7 whose device type is sequential access; -1 when none is.
    std::int32_t findTape();

    AspiLibrary& library() { return *library_; }

private:
    std::shared_ptr<AspiLibrary> library_;
    ProcessMessages processMessages_;
    bool available_ = false;
    int adapterCount_ = 0;
};

} // namespace keldo::backup
