#include "backup/aspi32.h"

#include <cassert>
#include <utility>

namespace keldo::backup {

TASPI32::TASPI32(std::shared_ptr<AspiLibrary> library, ProcessMessages processMessages)
    : library_(std::move(library)), processMessages_(std::move(processMessages)) {
    assert(library_);
    const std::uint32_t info = library_->getSupportInfo();
    const auto status = static_cast<std::uint8_t>((info >> 8) & 0xFF);
    available_ = status != kSsFailedInit;
    adapterCount_ = static_cast<int>(info & 0xFF);
}

std::int32_t TASPI32::sendCommand(int target, std::uint8_t* buffer, const ScsiCdb6& cdb,
                                  TDataDirection direction, std::uint32_t length) {
    SrbExecScsiCmd srb;
    srb.command = kScExecScsiCmd;
    srb.hostAdapter = hostAdapterUsed;
    srb.flags = direction == TDataDirection::Out ? kSrbDirOut : kSrbDirIn;
    srb.target = static_cast<std::uint8_t>(target);
    srb.lun = 0;
    srb.dataLength = length;
    srb.data = buffer;
    srb.senseLength = kSenseLength;
    srb.cdbLength = static_cast<std::uint8_t>(cdb.size());
    for (std::size_t i = 0; i < cdb.size(); ++i)
        srb.cdb[i] = cdb[i];

    std::uint8_t status = library_->sendCommand(srb);
    while (status == kSsPending) {
        if (processMessages_)
            processMessages_();
        status = library_->pollStatus(srb);
    }

    switch (status) {
    case kSsComp:
        return 0;
    case kSsAborted:
        return 8;
    case kSsErr:
        // Sense data only means something when the target itself answered with a check
        // condition; a request that never reached it (selection time-out, bus reset) or a
        // busy target leaves the sense area empty, and reading its zero sense key would turn
        // the failure into success.
        if (srb.hostStatus == kHaStatOk && srb.targetStatus == kScsiStatusCheckCondition)
            return srb.sense[kSenseKeyByte];
        return 9;
    default:
        return 9;
    }
}

std::int32_t TASPI32::deviceType(int target) {
    std::array<std::uint8_t, kInquiryLength> inquiry{};
    const ScsiCdb6 cdb{kScsiInquiry, 0, 0, 0, kInquiryLength, 0};
    if (sendCommand(target, inquiry.data(), cdb, TDataDirection::In, kInquiryLength) != 0)
        return -1;
    return inquiry[0] & kDeviceTypeMask;
}

std::int32_t TASPI32::findTape() {
    for (int target = 0; target < kTargetCount; ++target) {
        if (deviceType(target) == kSequentialAccessDevice)
            return target;
    }
    return -1;
}

} // namespace keldo::backup
