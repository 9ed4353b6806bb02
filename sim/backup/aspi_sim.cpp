#include "aspi_sim.h"

#include "backup/aspi32.h"

#include <algorithm>
#include <cstring>

namespace keldo::backup::sim {

namespace {

constexpr std::size_t kInquiryDataLength = 36;
constexpr std::size_t kInquiryVendorOffset = 8;
constexpr std::size_t kInquiryVendorLength = 8;
constexpr std::size_t kInquiryProductOffset = 16;
constexpr std::size_t kInquiryProductLength = 16;
constexpr std::size_t kModeHeaderLength = 4;
constexpr std::size_t kModeBufferedModeByte = 2;
constexpr std::size_t kModeDescriptorLengthByte = 3;
constexpr std::size_t kDescriptorBlockLengthOffset = 5; // within the block descriptor
constexpr std::uint8_t kFixedBit = 0x01;
constexpr std::uint8_t kAdditionalSenseLength = 10; // 18-byte fixed sense

// Additional sense codes used by the simulated devices.
constexpr std::uint8_t kAscNone = 0x00;
constexpr std::uint8_t kAscqFilemark = 0x01;
constexpr std::uint8_t kAscqEndOfData = 0x05;
constexpr std::uint8_t kAscInvalidOpcode = 0x20;
constexpr std::uint8_t kAscInvalidFieldInCdb = 0x24;
constexpr std::uint8_t kAscParameterListLength = 0x1A;
constexpr std::uint8_t kAscInvalidFieldInParameters = 0x26;
constexpr std::uint8_t kAscWriteError = 0x0C;
constexpr std::uint8_t kAscUnrecoveredReadError = 0x11;

void checkCondition(SrbExecScsiCmd& srb, std::uint8_t keyByte, std::uint8_t asc,
                    std::uint8_t ascq) {
    std::array<std::uint8_t, 18> sense{};
    sense[0] = 0x70; // current error, fixed format
    sense[kSenseKeyByte] = keyByte;
    sense[kSenseAdditionalLengthByte] = kAdditionalSenseLength;
    sense[kSenseAscByte] = asc;
    sense[kSenseAscqByte] = ascq;
    srb.sense.fill(0);
    const std::size_t n = std::min<std::size_t>({srb.senseLength, srb.sense.size(), sense.size()});
    std::copy_n(sense.begin(), n, srb.sense.begin());
    srb.targetStatus = kScsiStatusCheckCondition;
    srb.status = kSsErr;
}

void dataLengthMismatch(SrbExecScsiCmd& srb) {
    srb.hostStatus = kHaStatDataOverrun;
    srb.status = kSsErr;
}

void good(SrbExecScsiCmd& srb) {
    srb.targetStatus = 0;
    srb.status = kSsComp;
}

std::uint32_t transferLength(const SrbExecScsiCmd& srb) {
    return (std::uint32_t{srb.cdb[2]} << 16) | (std::uint32_t{srb.cdb[3]} << 8) | srb.cdb[4];
}

void putText(std::uint8_t* at, std::size_t width, const std::string& text) {
    std::memset(at, ' ', width);
    std::memcpy(at, text.data(), std::min(width, text.size()));
}

} // namespace

bool SimFault::fire() {
    if (countdown <= 0)
        return false;
    if (countdown == 1) {
        if (!persistent)
            countdown = 0;
        return true;
    }
    --countdown;
    return false;
}

SimScsiTarget::SimScsiTarget(std::uint8_t deviceType, std::string vendor, std::string product)
    : deviceType_(deviceType), vendor_(std::move(vendor)), product_(std::move(product)) {}

void SimScsiTarget::execute(SrbExecScsiCmd& srb) {
    if (srb.cdb[0] == kScsiInquiry)
        inquiry(srb);
    else
        executeCommand(srb);
}

void SimScsiTarget::executeCommand(SrbExecScsiCmd& srb) {
    checkCondition(srb, kSenseKeyIllegalRequest, kAscInvalidOpcode, 0);
}

void SimScsiTarget::inquiry(SrbExecScsiCmd& srb) {
    std::array<std::uint8_t, kInquiryDataLength> data{};
    data[0] = deviceType_;
    data[1] = deviceType_ == 0x01 ? 0x80 : 0x00; // removable medium
    data[2] = 0x02;                              // SCSI-2
    data[3] = 0x02;
    data[4] = static_cast<std::uint8_t>(kInquiryDataLength - 5);
    putText(data.data() + kInquiryVendorOffset, kInquiryVendorLength, vendor_);
    putText(data.data() + kInquiryProductOffset, kInquiryProductLength, product_);
    const std::size_t n = std::min<std::size_t>({srb.cdb[4], srb.dataLength, data.size()});
    if (n > 0 && srb.data == nullptr)
        return dataLengthMismatch(srb);
    std::copy_n(data.begin(), n, srb.data);
    good(srb);
}

std::vector<std::vector<std::uint8_t>> SimTapeDrive::records() const {
    std::vector<std::vector<std::uint8_t>> out;
    for (const Item& item : items_)
        if (!item.filemark)
            out.push_back(item.data);
    return out;
}

void SimTapeDrive::load(std::vector<Item> items) {
    items_ = std::move(items);
    position_ = 0;
}

void SimTapeDrive::executeCommand(SrbExecScsiCmd& srb) {
    switch (srb.cdb[0]) {
    case kScsiModeSelect6:
        return modeSelect(srb);
    case kScsiWrite6:
        return write(srb);
    case kScsiRead6:
        return read(srb);
    case kScsiWriteFilemarks:
        return writeFilemarks(srb);
    case kScsiRewind:
        position_ = 0;
        return good(srb);
    default:
        return SimScsiTarget::executeCommand(srb);
    }
}

void SimTapeDrive::modeSelect(SrbExecScsiCmd& srb) {
    const std::size_t listLength = srb.cdb[4];
    if (srb.dataLength != listLength || (listLength > 0 && srb.data == nullptr))
        return dataLengthMismatch(srb);
    if (listLength < kModeHeaderLength)
        return checkCondition(srb, kSenseKeyIllegalRequest, kAscParameterListLength, 0);
    const std::uint8_t* p = srb.data;
    const std::size_t descriptorLength = p[kModeDescriptorLengthByte];
    if (descriptorLength != 0 && descriptorLength != 8)
        return checkCondition(srb, kSenseKeyIllegalRequest, kAscInvalidFieldInParameters, 0);
    if (kModeHeaderLength + descriptorLength > listLength)
        return checkCondition(srb, kSenseKeyIllegalRequest, kAscParameterListLength, 0);
    bufferedMode_ = p[kModeBufferedModeByte] & 0x70;
    if (descriptorLength == 8) {
        const std::uint8_t* b = p + kModeHeaderLength + kDescriptorBlockLengthOffset;
        blockLength_ = (std::uint32_t{b[0]} << 16) | (std::uint32_t{b[1]} << 8) | b[2];
    }
    good(srb);
}

bool SimTapeDrive::admitTransfer(SrbExecScsiCmd& srb, std::uint32_t& records, std::size_t& size) {
    const bool fixed = (srb.cdb[1] & kFixedBit) != 0;
    const std::uint32_t count = transferLength(srb);
    if (fixed && blockLength_ == 0) {
        checkCondition(srb, kSenseKeyIllegalRequest, kAscInvalidFieldInCdb, 0);
        return false;
    }
    const std::uint64_t total = fixed ? std::uint64_t{count} * blockLength_ : count;
    if (srb.dataLength != total || (total > 0 && srb.data == nullptr)) {
        dataLengthMismatch(srb);
        return false;
    }
    records = fixed ? count : (count > 0 ? 1 : 0);
    size = fixed ? blockLength_ : count;
    return true;
}

void SimTapeDrive::write(SrbExecScsiCmd& srb) {
    std::uint32_t records = 0;
    std::size_t size = 0;
    if (!admitTransfer(srb, records, size))
        return;
    if (writeFault.fire())
        return checkCondition(srb, kSenseKeyMediumError, kAscWriteError, 0);
    // Writing ends the recorded data here: whatever followed is gone.
    items_.resize(position_);
    for (std::uint32_t i = 0; i < records; ++i)
        items_.push_back(
            Item{false, std::vector<std::uint8_t>(srb.data + i * size, srb.data + (i + 1) * size)});
    position_ = items_.size();
    good(srb);
}

void SimTapeDrive::read(SrbExecScsiCmd& srb) {
    std::uint32_t records = 0;
    std::size_t size = 0;
    if (!admitTransfer(srb, records, size))
        return;
    if (readFault.fire())
        return checkCondition(srb, kSenseKeyMediumError, kAscUnrecoveredReadError, 0);
    for (std::uint32_t i = 0; i < records; ++i) {
        if (position_ >= items_.size())
            return checkCondition(srb, kSenseKeyBlankCheck | kSenseEndOfMedium, kAscNone,
                                  kAscqEndOfData);
        const Item& item = items_[position_++];
        if (item.filemark)
            return checkCondition(srb, kSenseKeyNoSense | kSenseFilemark, kAscNone, kAscqFilemark);
        std::uint8_t* to = srb.data + i * size;
        std::copy_n(item.data.begin(), std::min(size, item.data.size()), to);
        if (item.data.size() != size)
            return checkCondition(srb, kSenseKeyNoSense | kSenseIncorrectLength, kAscNone, 0);
    }
    good(srb);
}

void SimTapeDrive::writeFilemarks(SrbExecScsiCmd& srb) {
    if (writeFault.fire())
        return checkCondition(srb, kSenseKeyMediumError, kAscWriteError, 0);
    items_.resize(position_);
    for (std::uint32_t i = 0; i < transferLength(srb); ++i)
        items_.push_back(Item{true, {}});
    position_ = items_.size();
    good(srb);
}

void SimScsiBus::attach(int adapter, int target, std::shared_ptr<SimScsiTarget> device) {
    devices_[{adapter, target}] = std::move(device);
}

std::uint32_t SimScsiBus::getSupportInfo() {
    if (supportStatus_ != kSsComp)
        return std::uint32_t{supportStatus_} << 8;
    if (adapterCount_ <= 0)
        return std::uint32_t{kSsNoAdapters} << 8;
    return (std::uint32_t{kSsComp} << 8) | static_cast<std::uint32_t>(adapterCount_ & 0xFF);
}

std::uint8_t SimScsiBus::sendCommand(SrbExecScsiCmd& srb) {
    SimCommand seen;
    seen.hostAdapter = srb.hostAdapter;
    seen.target = srb.target;
    seen.lun = srb.lun;
    seen.flags = srb.flags;
    seen.dataLength = srb.dataLength;
    seen.senseLength = srb.senseLength;
    const std::size_t cdbLength = std::min<std::size_t>(srb.cdbLength, srb.cdb.size());
    seen.cdb.assign(srb.cdb.begin(), srb.cdb.begin() + static_cast<std::ptrdiff_t>(cdbLength));
    if ((srb.flags & kSrbDirOut) && srb.data != nullptr)
        seen.dataOut.assign(srb.data, srb.data + srb.dataLength);
    commands_.push_back(std::move(seen));

    srb.hostStatus = kHaStatOk;
    srb.targetStatus = 0;
    srb.sense.fill(0);
    if (srb.command != kScExecScsiCmd) {
        srb.status = kSsInvalidCmd;
    } else if (supportStatus_ != kSsComp || srb.hostAdapter >= adapterCount_) {
        srb.status = kSsInvalidHa;
    } else if (srb.cdbLength == 0 || srb.cdbLength > srb.cdb.size()) {
        srb.status = kSsInvalidSrb;
    } else {
        auto it = devices_.find({srb.hostAdapter, srb.target});
        if (it == devices_.end() || srb.lun != 0) {
            // Nobody answers the selection.
            srb.hostStatus = kHaStatSelectionTimeout;
            srb.status = kSsErr;
        } else {
            it->second->execute(srb);
        }
    }

    if (pendingPolls_ > 0) {
        pending_[&srb] = Pending{pendingPolls_, srb.status};
        srb.status = kSsPending;
    }
    return srb.status;
}

std::uint8_t SimScsiBus::pollStatus(SrbExecScsiCmd& srb) {
    ++pollCount_;
    auto it = pending_.find(&srb);
    if (it == pending_.end())
        return srb.status;
    if (--it->second.pollsLeft <= 0) {
        srb.status = it->second.finalStatus;
        pending_.erase(it);
    }
    return srb.status;
}

} // namespace keldo::backup::sim
