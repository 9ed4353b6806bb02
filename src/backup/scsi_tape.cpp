#include "backup/scsi_tape.h"

#include <array>
#include <utility>

namespace keldo::backup {

namespace {

constexpr std::uint8_t kFixedBlocks = 0x01;     // byte 1 of READ and WRITE
constexpr std::uint8_t kRewindImmediate = 0x01; // byte 1 of REWIND
constexpr std::uint8_t kOneBlock = 1;

} // namespace

TSCSITape::TSCSITape(std::shared_ptr<AspiLibrary> library, ProcessMessages processMessages)
    : aspi_(std::make_unique<TASPI32>(std::move(library), std::move(processMessages))) {}

TSCSITape::~TSCSITape() {
    rewind(false);
}

std::int32_t TSCSITape::open() {
    if (!aspi_->aspiAvailable())
        return -1;
    if (aspi_->hostAdapterCount() == 0)
        return -2;
    const std::int32_t target = aspi_->findTape();
    if (target < 0)
        return -3;
    target_ = target;
    setBlockLength(kBlockLengthAfterOpen);
    return 0;
}

void TSCSITape::rewind(bool wait) {
    if (target_ < 0)
        return;
    const ScsiCdb6 cdb{kScsiRewind, wait ? std::uint8_t{0} : kRewindImmediate, 0, 0, 0, 0};
    aspi_->sendCommand(target_, nullptr, cdb, TDataDirection::In, 0);
}

void TSCSITape::setBlockLength(std::int32_t length) {
    if (target_ < 0)
        return;
    blockLength_ = length;
    const auto n = static_cast<std::uint32_t>(length);
    std::array<std::uint8_t, kModeParameterListLength> parameters{
        0,
        0,
        kModeBufferedMode,
        kModeBlockDescriptorLength,
        0, // density code
        0,
        0,
        0, // number of blocks
        0, // reserved
        static_cast<std::uint8_t>((n >> 16) & 0xFF),
        static_cast<std::uint8_t>((n >> 8) & 0xFF),
        static_cast<std::uint8_t>(n & 0xFF),
    };
    const ScsiCdb6 cdb{kScsiModeSelect6, 0, 0, 0, kModeParameterListLength, 0};
    aspi_->sendCommand(target_, parameters.data(), cdb, TDataDirection::Out,
                       kModeParameterListLength);
}

std::int32_t TSCSITape::writeBlock(const std::uint8_t* buffer, std::int32_t length) {
    if (target_ < 0 || length < 0 || blockLength_ < length)
        return -1;
    const ScsiCdb6 cdb{kScsiWrite6, kFixedBlocks, 0, 0, kOneBlock, 0};
    // The request block carries one buffer pointer for both directions; a data-out
    // transfer only reads from it.
    return aspi_->sendCommand(target_, const_cast<std::uint8_t*>(buffer), cdb, TDataDirection::Out,
                              static_cast<std::uint32_t>(length));
}

std::int32_t TSCSITape::readBlock(std::uint8_t* buffer, std::int32_t length,
                                  std::int32_t& delivered) {
    delivered = length;
    if (target_ < 0 || length < 0)
        return -1;
    const ScsiCdb6 cdb{kScsiRead6, kFixedBlocks, 0, 0, kOneBlock, 0};
    return aspi_->sendCommand(target_, buffer, cdb, TDataDirection::In,
                              static_cast<std::uint32_t>(length));
}

} // namespace keldo::backup
