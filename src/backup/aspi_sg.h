#pragma once

// SgAspiLibrary: the ASPI-shaped interface over Linux SCSI generic. Host adapter 0 is the
// lowest-numbered SCSI host in sysfs; target t is the SCSI generic node (/dev/sgN) whose
// address is <first host>:0:t:0. Each request is one SG_IO ioctl, which completes before it
// returns, so no request is ever left pending.
//
// Support info: status kSsFailedInit when the SCSI generic driver is absent (no
// <sysfs>/class/scsi_generic), kSsNoAdapters with count 0 when sysfs lists no SCSI host,
// else kSsComp and the number of hosts.
//
// Request outcome: kSsComp for GOOD status; kSsErr with the sense bytes when the target
// answered CHECK CONDITION; kSsErr with a host adapter status when the command did not
// reach the target or the transport failed; kSsAborted on a time-out; kSsNoDevice when no
// node answers to that target or it cannot be opened; kSsInvalidSrb for a request it cannot
// carry out (bad lengths, a failing ioctl).

#include "backup/aspi.h"

#include <scsi/sg.h>

#include <cstdint>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>

namespace keldo::backup {

struct SgLocation {
    std::filesystem::path sysfsRoot = "/sys"; // holds class/scsi_host and class/scsi_generic
    std::filesystem::path devRoot = "/dev";   // holds the sgN nodes
};

// How long a command may take before the kernel aborts it: rewinding or positioning a long
// tape takes minutes, an INQUIRY or MODE SELECT a moment.
inline constexpr unsigned kSgShortTimeoutMs = 60'000;
inline constexpr unsigned kSgTapeMotionTimeoutMs = 30 * 60'000;

// The sg_io_hdr for srb: its command block, data buffer and sense area are used in place.
// Direction from srb.flags (data out → to the device; otherwise from the device, or no
// transfer when dataLength is 0); at most kSrbSenseCapacity sense bytes.
sg_io_hdr buildSgIoHeader(SrbExecScsiCmd& srb);

// Completes srb from what SG_IO returned (ioctlErrno 0 when the ioctl succeeded): fills
// status, hostStatus and targetStatus (the sense bytes are already in place) and returns the
// status.
std::uint8_t completeFromSgIo(const sg_io_hdr& header, int ioctlErrno, SrbExecScsiCmd& srb);

// The "H:C:T:L" address of a SCSI device name such as "2:0:4:0".
struct ScsiAddress {
    int host = 0;
    int channel = 0;
    int target = 0;
    int lun = 0;
    auto operator<=>(const ScsiAddress&) const = default;
};
std::optional<ScsiAddress> parseScsiAddress(const std::string& text);

class SgAspiLibrary : public AspiLibrary {
public:
    explicit SgAspiLibrary(SgLocation location = {});
    ~SgAspiLibrary() override;

    std::uint32_t getSupportInfo() override;
    std::uint8_t sendCommand(SrbExecScsiCmd& srb) override;

    // The node for target of host adapter 0 after the last scan; empty when there is none.
    std::filesystem::path nodeOf(int target);
    // The SCSI host number of adapter 0; -1 when there is no host.
    int firstHost();

private:
    void scan();

    SgLocation location_;
    std::mutex mutex_;
    bool scanned_ = false;
    bool driverPresent_ = false;
    int hostCount_ = 0;
    int firstHost_ = -1;
    std::map<ScsiAddress, std::filesystem::path> nodes_;
    std::map<std::filesystem::path, int> openNodes_;
};

} // namespace keldo::backup
