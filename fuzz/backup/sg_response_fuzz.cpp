// What the SCSI generic driver hands back, taken as arbitrary bytes: the status fields and
// sense bytes of an sg_io_hdr, and a sysfs device name. Completing the request must stay
// inside the request block and give one of the statuses the tape layer knows.

#include "backup/aspi32.h"
#include "backup/aspi_sg.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

using namespace keldo::backup;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    constexpr std::size_t kFixed = 8;
    if (size < kFixed)
        return 0;
    SrbExecScsiCmd srb;
    srb.cdbLength = 6;
    srb.senseLength = data[0];
    srb.flags = data[1];
    sg_io_hdr h = buildSgIoHeader(srb);
    h.status = data[2];
    h.host_status = static_cast<unsigned short>(data[3] | (data[4] << 8));
    h.driver_status = data[5];
    h.sb_len_wr = data[6];
    const int errnoValue = data[7] % 4 == 0 ? data[7] : 0;
    const std::size_t senseBytes = std::min<std::size_t>(size - kFixed, h.mx_sb_len);
    std::copy_n(data + kFixed, senseBytes, srb.sense.begin());

    const std::uint8_t status = completeFromSgIo(h, errnoValue, srb);
    switch (status) {
    case kSsComp:
    case kSsAborted:
    case kSsErr:
    case kSsNoDevice:
    case kSsInvalidSrb:
        break;
    default:
        std::abort();
    }

    const std::string name(reinterpret_cast<const char*>(data + kFixed), size - kFixed);
    if (auto address = parseScsiAddress(name)) {
        if (address->host < 0 || address->target < 0)
            std::abort();
    }
    return 0;
}
