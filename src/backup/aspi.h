#pragma once

// The ASPI-shaped SCSI layer under the tape drive. The product sent its tape commands through
// the ASPI for Win32 library: a support-info call (status and host adapter count) and one
// "execute SCSI command" request block per command, completed either at once or later (the
// caller then polls the request's status byte). AspiLibrary is that library as an interface
// with two implementations:
//   - SgAspiLibrary (aspi_sg.h): Linux SCSI generic, SG_IO on /dev/sg*;
//   - SimScsiBus (sim/backup/aspi_sim.h): a simulated bus with a tape target, for the tests.
//
// Usage:
//   SrbExecScsiCmd srb;  ... fill it ...
//   std::uint8_t st = library.sendCommand(srb);
//   while (st == kSsPending) st = library.pollStatus(srb);

#include <array>
#include <cstdint>
#include <memory>

namespace keldo::backup {

// Request status values (the request's status byte and the result of sendCommand).
inline constexpr std::uint8_t kSsPending = 0x00;    // still in progress
inline constexpr std::uint8_t kSsComp = 0x01;       // done without error
inline constexpr std::uint8_t kSsAborted = 0x02;    // aborted (also: timed out)
inline constexpr std::uint8_t kSsAbortFail = 0x03;  // an abort request failed
inline constexpr std::uint8_t kSsErr = 0x04;        // done with error; see hostStatus and sense
inline constexpr std::uint8_t kSsInvalidCmd = 0x80; // unknown request command
inline constexpr std::uint8_t kSsInvalidHa = 0x81;  // no such host adapter
inline constexpr std::uint8_t kSsNoDevice = 0x82;   // no device at that target
inline constexpr std::uint8_t kSsInvalidSrb = 0xE0; // the request could not be carried out
inline constexpr std::uint8_t kSsFailedInit = 0xE4; // the library could not start
inline constexpr std::uint8_t kSsNoAdapters = 0xE8; // no host adapter at all

// Request command code of "execute a SCSI command".
inline constexpr std::uint8_t kScExecScsiCmd = 0x02;

// Request flags: direction of the data phase.
inline constexpr std::uint8_t kSrbDirIn = 0x08;
inline constexpr std::uint8_t kSrbDirOut = 0x10;

// Host adapter status values the backends report in hostStatus.
inline constexpr std::uint8_t kHaStatOk = 0x00;
inline constexpr std::uint8_t kHaStatTimeout = 0x09;
inline constexpr std::uint8_t kHaStatSelectionTimeout = 0x11;
inline constexpr std::uint8_t kHaStatDataOverrun = 0x12;

inline constexpr std::size_t kSrbCdbCapacity = 16;
inline constexpr std::size_t kSrbSenseCapacity = 16;

// Offsets in fixed-format sense data.
inline constexpr std::size_t kSenseKeyByte = 2; // sense key (low nibble) and filemark/EOM/ILI
inline constexpr std::size_t kSenseAdditionalLengthByte = 7;
inline constexpr std::size_t kSenseAscByte = 12;
inline constexpr std::size_t kSenseAscqByte = 13;

// The "execute SCSI command" request block. Fields the caller does not set stay zero; the
// library fills status, hostStatus, targetStatus and sense.
struct SrbExecScsiCmd {
    std::uint8_t command = kScExecScsiCmd;
    std::uint8_t status = kSsPending;
    std::uint8_t hostAdapter = 0;
    std::uint8_t flags = 0;
    std::uint8_t target = 0;
    std::uint8_t lun = 0;
    std::uint32_t dataLength = 0;
    std::uint8_t* data = nullptr; // dataLength bytes, read (out) or written (in)
    std::uint8_t senseLength = 0; // sense bytes wanted, at most kSrbSenseCapacity
    std::uint8_t cdbLength = 0;
    std::uint8_t hostStatus = 0;
    std::uint8_t targetStatus = 0; // the SCSI status byte (2 = check condition)
    std::array<std::uint8_t, kSrbCdbCapacity> cdb{};
    std::array<std::uint8_t, kSrbSenseCapacity> sense{};
};

class AspiLibrary {
public:
    virtual ~AspiLibrary() = default;

    // Bits 8-15: a status (kSsComp, kSsNoAdapters, kSsFailedInit...); bits 0-7: the number
    // of host adapters.
    virtual std::uint32_t getSupportInfo() = 0;

    // Starts the request. Returns its status: kSsPending when it completes later (poll it),
    // else the final status, which is also stored in srb.status. The request and its data
    // buffer must stay alive until the status is final.
    virtual std::uint8_t sendCommand(SrbExecScsiCmd& srb) = 0;

    // Reads the request's status byte again. A library that completes every request inside
    // sendCommand just returns srb.status.
    virtual std::uint8_t pollStatus(SrbExecScsiCmd& srb) { return srb.status; }
};

// The platform's SCSI pass-through: SCSI generic on /dev/sg*. Created on first use and shared.
std::shared_ptr<AspiLibrary> systemAspiLibrary();

} // namespace keldo::backup
