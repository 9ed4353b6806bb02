// Request handlers of the ZRT05: reads, writes, I/O controls, the
// initialization sequence, claim and release, pipe reset and port cycle.
#include "scanner_device.h"

#include <algorithm>
#include <cassert>
#include <cstring>

namespace keldo::driver {

namespace {

constexpr std::uint32_t kUrbTag = poolTag("zrtU");
constexpr std::uint8_t kConfigurationValue = 1;
constexpr std::uint8_t kInterfaceNumber = 0;
constexpr std::uint8_t kAlternateSetting = 0;
constexpr std::uint32_t kMaxConfigurationDescriptor = 1024;
constexpr std::uint32_t kFlagLength = 1;
constexpr std::uint32_t kTwoWordsLength = 4;
constexpr std::uint32_t kSelectorLength = 2;

// The buffer each control needs; shorter buffers are refused.
struct ControlShape {
    std::uint32_t code;
    std::uint32_t minInput;
    std::uint32_t minOutput;
};

constexpr ControlShape kShapes[] = {
    {IOCTL_ZRT05_INITIALIZE, 0, kZrt05InitAnswerLength},
    {IOCTL_ZRT05_REQUEST_F0, 0, 0},
    {IOCTL_ZRT05_REQUEST_F4, kFlagLength, 0},
    {IOCTL_ZRT05_REQUEST_F8, 0, 0}, // the flag is optional
    {IOCTL_ZRT05_REQUEST_FE, kFlagLength, 0},
    {IOCTL_ZRT05_REQUEST_90, kTwoWordsLength, 0},
    {IOCTL_ZRT05_SET_PARAMETERS, kZrt05ParametersLength, 0},
    {IOCTL_ZRT05_REQUEST_9C, 0, 8},
    {IOCTL_ZRT05_REQUEST_20, 0, 25},
    {IOCTL_ZRT05_REQUEST_74, 0, 8},
    {IOCTL_ZRT05_REQUEST_78, 8, 0},
    {IOCTL_ZRT05_REQUEST_54, 0, 0},
    {IOCTL_ZRT05_REQUEST_58, 0, 0},
    {IOCTL_ZRT05_REQUEST_04, 0, 64},
    {IOCTL_ZRT05_REQUEST_08, 64, 0},
    {IOCTL_ZRT05_GET_DEVICE_DESCRIPTOR, 0, kDeviceDescriptorLength},
    {IOCTL_ZRT05_POLL_EVENT, 0, kZrt05EventLength},
    {IOCTL_ZRT05_READ_IMAGE, 0, 0},
    {IOCTL_ZRT05_WRITE_DATA, 0, 0},
    {IOCTL_ZRT05_CLAIM, 0, 0},
    {IOCTL_ZRT05_RELEASE, 0, 0},
    {IOCTL_ZRT05_RESET_PIPES, kSelectorLength, 0},
    {IOCTL_ZRT05_CYCLE_PORT, 0, 0},
};

const ControlShape* shapeOf(std::uint32_t code) {
    for (const ControlShape& shape : kShapes) {
        if (shape.code == code) {
            return &shape;
        }
    }
    return nullptr;
}

// Vendor requests that move a fixed block (or nothing) without flags.
struct PlainVendorControl {
    std::uint32_t code;
    std::uint8_t request;
    bool in;
    std::uint32_t length;
};

constexpr PlainVendorControl kPlainControls[] = {
    {IOCTL_ZRT05_REQUEST_F0, 0xF0, false, 0},  {IOCTL_ZRT05_REQUEST_9C, 0x9C, true, 8},
    {IOCTL_ZRT05_REQUEST_20, 0x20, true, 25},  {IOCTL_ZRT05_REQUEST_74, 0x74, true, 8},
    {IOCTL_ZRT05_REQUEST_78, 0x78, false, 8},  {IOCTL_ZRT05_REQUEST_54, 0x54, false, 0},
    {IOCTL_ZRT05_REQUEST_58, 0x58, false, 0},  {IOCTL_ZRT05_REQUEST_04, 0x04, true, 64},
    {IOCTL_ZRT05_REQUEST_08, 0x08, false, 64},
};

std::uint16_t flagValue(std::uint8_t flag) {
    return flag ? kZrt05FlagOn : kZrt05FlagOff;
}

std::uint16_t word(const std::uint8_t* bytes, std::size_t index) {
    return std::uint16_t(bytes[2 * index] | bytes[2 * index + 1] << 8);
}

NTSTATUS capabilitiesFilled(DeviceObject*, Irp* irp, void*) {
    if (irp->PendingReturned) {
        IoMarkIrpPending(irp);
    }
    if (NT_SUCCESS(irp->IoStatus.Status)) {
        IoStackLocation* stack = IoGetCurrentIrpStackLocation(irp);
        if (DeviceCapabilities* caps = stack->Parameters.DeviceCapabilities.Capabilities) {
            caps->surpriseRemovalOK = true;
        }
    }
    return STATUS_SUCCESS;
}

} // namespace

ScannerDevice::ScannerDevice(DeviceObject* self, DeviceObject* physicalDevice, unsigned unit,
                             std::string symbolicLink)
    : PnpDeviceBase(self, physicalDevice, std::move(symbolicLink)), unit_(unit) {
    construction_ = initializePnp(kZrt05InterfaceClass);
    if (!NT_SUCCESS(construction_)) {
        return;
    }
    lower_.initialize(self, physicalDevice);
    setLowerDevice(lower_.lower());
    interface_.initialize(&lower_, kInterfaceNumber, kConfigurationValue, kAlternateSetting);
    imageOut_.initialize(&lower_, kZrt05ImageOut, kZrt05ImageMaxTransfer);
    imageIn_.initialize(&lower_, kZrt05ImageIn, kZrt05ImageMaxTransfer);
    auxOut_.initialize(&lower_, kZrt05AuxOut, kZrt05AuxMaxTransfer);
    auxIn_.initialize(&lower_, kZrt05AuxIn, kZrt05AuxMaxTransfer);
    eventIn_.initialize(&lower_, kZrt05EventIn, kZrt05AuxMaxTransfer);
    savedParameters_.fill(0);
    claimCount_ = 0;
    setPowerPolicy({.powerUpOnOpen = true, .powerDownOnLastClose = false, .waitWake = false});
}

std::uint32_t ScannerDevice::claimCount() {
    KIRQL irql;
    KeAcquireSpinLock(&claimLock_, &irql);
    const std::uint32_t count = claimCount_;
    KeReleaseSpinLock(&claimLock_, irql);
    return count;
}

std::array<std::uint8_t, kZrt05ParametersLength> ScannerDevice::savedParameters() {
    KIRQL irql;
    KeAcquireSpinLock(&claimLock_, &irql);
    const auto block = savedParameters_;
    KeReleaseSpinLock(&claimLock_, irql);
    return block;
}

// ---------------------------------------------------------------------------
// Transactions

NTSTATUS ScannerDevice::control(const ControlRequest& request, void* data, std::uint32_t length,
                                std::uint32_t* received, OnTimeout onTimeout) {
    *received = 0;
    Urb* urb = allocateFromPool<Urb>(kUrbTag);
    if (!urb) {
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    if (request.deviceDescriptor) {
        UsbBuildGetDescriptorRequest(urb, USB_DEVICE_DESCRIPTOR_TYPE, 0, 0, data, nullptr, length);
    } else {
        const std::uint32_t flags =
            request.in ? USBD_TRANSFER_DIRECTION_IN | USBD_SHORT_TRANSFER_OK : 0;
        UsbBuildVendorRequest(urb, flags, request.request, request.value, request.index, data,
                              nullptr, length);
    }
    const UsbLowerDevice::Result result = lower_.submitUrb(urb, kTransactionTimeout);
    *received = result.timedOut || !NT_SUCCESS(result.status) ? 0 : urb->TransferBufferLength;
    freeToPool(urb);
    if (result.timedOut) {
        if (onTimeout == OnTimeout::Reinitialize) {
            std::array<std::uint8_t, kZrt05InitAnswerLength> ignored{};
            std::size_t count = 0;
            initializationSequence(&ignored, &count);
        }
        return STATUS_UNSUCCESSFUL;
    }
    if (result.status == STATUS_INSUFFICIENT_RESOURCES) {
        return result.status;
    }
    return NT_SUCCESS(result.status) ? STATUS_SUCCESS : STATUS_UNSUCCESSFUL;
}

NTSTATUS ScannerDevice::transfer(UsbPipe& pipe, void* buffer, Mdl* mdl, std::uint32_t length,
                                 std::size_t* moved) {
    *moved = 0;
    if (length == 0) {
        return STATUS_SUCCESS;
    }
    length = std::min(length, pipe.maximumTransferSize());
    Urb* urb = allocateFromPool<Urb>(kUrbTag);
    if (!urb) {
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    const std::uint32_t flags =
        pipe.isIn() ? USBD_TRANSFER_DIRECTION_IN | USBD_SHORT_TRANSFER_OK : 0;
    UsbBuildInterruptOrBulkTransferRequest(urb, pipe.handle(), buffer, mdl, length, flags);
    const UsbLowerDevice::Result result = lower_.submitUrb(urb, kTransactionTimeout);
    const std::uint32_t actual = urb->TransferBufferLength;
    freeToPool(urb);
    if (result.timedOut) {
        std::array<std::uint8_t, kZrt05InitAnswerLength> ignored{};
        std::size_t count = 0;
        initializationSequence(&ignored, &count);
        return STATUS_UNSUCCESSFUL;
    }
    if (!NT_SUCCESS(result.status)) {
        return result.status;
    }
    *moved = actual;
    return STATUS_SUCCESS;
}

NTSTATUS ScannerDevice::pollEvent(std::uint8_t* buffer, std::size_t* received) {
    *received = 0;
    Urb* urb = allocateFromPool<Urb>(kUrbTag);
    if (!urb) {
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    UsbBuildInterruptOrBulkTransferRequest(urb, eventIn_.handle(), buffer, nullptr,
                                           kZrt05EventLength,
                                           USBD_TRANSFER_DIRECTION_IN | USBD_SHORT_TRANSFER_OK);
    const UsbLowerDevice::Result result = lower_.submitUrb(urb, kEventPollTimeout);
    const std::uint32_t actual = NT_SUCCESS(result.status) ? urb->TransferBufferLength : 0;
    freeToPool(urb);
    if (result.timedOut) {
        *received = actual; // normally 0: the cancel won the race
        return STATUS_TIMEOUT;
    }
    if (!NT_SUCCESS(result.status)) {
        return result.status == STATUS_INSUFFICIENT_RESOURCES ? result.status : STATUS_UNSUCCESSFUL;
    }
    *received = actual;
    return STATUS_SUCCESS;
}

// The sequence's own requests do not re-run the sequence when they time out:
// a scanner that never answers would otherwise never let the caller go.
NTSTATUS
ScannerDevice::initializationSequence(std::array<std::uint8_t, kZrt05InitAnswerLength>* answer,
                                      std::size_t* count) {
    *count = 0;
    std::uint32_t received = 0;
    std::uint8_t descriptor[kDeviceDescriptorLength] = {};
    if (!NT_SUCCESS(control({.in = true, .deviceDescriptor = true}, descriptor,
                            kDeviceDescriptorLength, &received, OnTimeout::Report))) {
        return STATUS_UNSUCCESSFUL;
    }
    std::array<std::uint8_t, kZrt05InitAnswerLength> probe{};
    NTSTATUS status = control({.in = true, .request = kZrt05InitRequest, .value = kZrt05InitProbe},
                              probe.data(), kZrt05InitAnswerLength, &received, OnTimeout::Report);
    if (!NT_SUCCESS(status)) {
        std::array<std::uint8_t, kZrt05InitAnswerLength> fallback{};
        return control({.in = true, .request = kZrt05InitRequest, .value = kZrt05InitFallback},
                       fallback.data(), kZrt05InitAnswerLength, &received, OnTimeout::Report);
    }
    const bool first = probe[0] != 0;
    const bool second = probe[1] != 0;
    if (first && second) {
        *answer = probe;
        *count = kZrt05InitAnswerLength;
        return STATUS_SUCCESS;
    }
    const std::uint16_t next = !first && !second ? kZrt05InitAfterZeroZero
                               : !first          ? kZrt05InitAfterZeroNonZero
                                                 : kZrt05InitAfterNonZeroZero;
    std::array<std::uint8_t, kZrt05InitAnswerLength> last{};
    status = control({.in = true, .request = kZrt05InitRequest, .value = next}, last.data(),
                     kZrt05InitAnswerLength, &received, OnTimeout::Report);
    if (NT_SUCCESS(status)) {
        *answer = last;
        *count = kZrt05InitAnswerLength;
    }
    return status;
}

NTSTATUS ScannerDevice::claim() {
    KIRQL irql;
    KeAcquireSpinLock(&claimLock_, &irql);
    NTSTATUS status = STATUS_SUCCESS;
    if (++claimCount_ != 1) {
        --claimCount_;
        status = STATUS_DEVICE_BUSY;
    }
    KeReleaseSpinLock(&claimLock_, irql);
    return status;
}

NTSTATUS ScannerDevice::release() {
    KIRQL irql;
    KeAcquireSpinLock(&claimLock_, &irql);
    if (claimCount_ > 0) {
        --claimCount_;
    }
    KeReleaseSpinLock(&claimLock_, irql);
    return STATUS_SUCCESS;
}

NTSTATUS ScannerDevice::resetPipes(std::uint16_t selector) {
    // Both pipes of a pair are reset even when the first fails, and either
    // failure fails the request.
    auto pair = [](UsbPipe& first, UsbPipe& second) {
        const NTSTATUS a = first.reset();
        const NTSTATUS b = second.reset();
        return NT_SUCCESS(a) && NT_SUCCESS(b) ? STATUS_SUCCESS : STATUS_UNSUCCESSFUL;
    };
    switch (selector) {
    case kZrt05ResetImagePipes:
        return pair(imageIn_, imageOut_);
    case kZrt05ResetAuxPipes:
        return pair(auxIn_, auxOut_);
    case kZrt05ResetEventPipe:
        return NT_SUCCESS(eventIn_.reset()) ? STATUS_SUCCESS : STATUS_UNSUCCESSFUL;
    case kZrt05FlushBuffers:
        return NT_SUCCESS(lower_.flush()) ? STATUS_SUCCESS : STATUS_UNSUCCESSFUL;
    default:
        return STATUS_SUCCESS;
    }
}

// ---------------------------------------------------------------------------
// Handlers

NTSTATUS ScannerDevice::read(Irp* irp) {
    const std::uint32_t length = IoGetCurrentIrpStackLocation(irp)->Parameters.Read.Length;
    std::size_t moved = 0;
    const NTSTATUS status = transfer(imageIn_, nullptr, irp->MdlAddress, length, &moved);
    return complete(irp, status, moved);
}

NTSTATUS ScannerDevice::write(Irp* irp) {
    const std::uint32_t length = IoGetCurrentIrpStackLocation(irp)->Parameters.Write.Length;
    std::size_t moved = 0;
    const NTSTATUS status = transfer(imageOut_, nullptr, irp->MdlAddress, length, &moved);
    return complete(irp, status, moved);
}

NTSTATUS ScannerDevice::deviceControl(Irp* irp) {
    const auto& parameters = IoGetCurrentIrpStackLocation(irp)->Parameters.DeviceIoControl;
    auto* buffer = static_cast<std::uint8_t*>(irp->SystemBuffer);
    std::size_t information = 0;
    NTSTATUS status = STATUS_SUCCESS;
    const ControlShape* shape = shapeOf(parameters.IoControlCode);
    if (!shape) {
        status = STATUS_INVALID_PARAMETER;
    } else if (parameters.InputBufferLength < shape->minInput ||
               parameters.OutputBufferLength < shape->minOutput) {
        status = STATUS_BUFFER_TOO_SMALL;
    } else {
        status = performControl(parameters.IoControlCode, buffer, parameters.InputBufferLength,
                                parameters.OutputBufferLength, &information);
    }
    assert(information <= parameters.OutputBufferLength);
    information = std::min<std::size_t>(information, parameters.OutputBufferLength);
    return complete(irp, status, information);
}

NTSTATUS ScannerDevice::performControl(std::uint32_t code, std::uint8_t* buffer,
                                       std::uint32_t inputLength, std::uint32_t outputLength,
                                       std::size_t* information) {
    std::uint32_t received = 0;
    for (const PlainVendorControl& plain : kPlainControls) {
        if (plain.code == code) {
            const NTSTATUS status =
                control({.in = plain.in, .request = plain.request}, plain.length ? buffer : nullptr,
                        plain.length, &received, OnTimeout::Reinitialize);
            if (NT_SUCCESS(status) && plain.in) {
                *information = plain.length;
            }
            return status;
        }
    }
    switch (code) {
    case IOCTL_ZRT05_INITIALIZE: {
        std::array<std::uint8_t, kZrt05InitAnswerLength> answer{};
        const NTSTATUS status = initializationSequence(&answer, information);
        if (*information) {
            std::memcpy(buffer, answer.data(), *information);
        }
        return status;
    }
    case IOCTL_ZRT05_REQUEST_F4:
        return control({.request = 0xF4, .value = flagValue(buffer[0])}, nullptr, 0, &received,
                       OnTimeout::Reinitialize);
    case IOCTL_ZRT05_REQUEST_F8:
        return control(
            {.request = 0xF8, .value = std::uint16_t(inputLength ? flagValue(buffer[0]) : 0)},
            nullptr, 0, &received, OnTimeout::Reinitialize);
    case IOCTL_ZRT05_REQUEST_FE:
        return control({.request = 0xFE, .value = flagValue(buffer[0])}, nullptr, 0, &received,
                       OnTimeout::Reinitialize);
    case IOCTL_ZRT05_REQUEST_90:
        return control({.request = 0x90,
                        .value = std::uint16_t(word(buffer, 0) ? kZrt05FlagOn : kZrt05FlagOff),
                        .index = word(buffer, 1)},
                       nullptr, 0, &received, OnTimeout::Reinitialize);
    case IOCTL_ZRT05_SET_PARAMETERS: {
        // Stored before sending: a failed request still replaces the block.
        std::array<std::uint8_t, kZrt05ParametersLength> block;
        std::memcpy(block.data(), buffer, block.size());
        KIRQL irql;
        KeAcquireSpinLock(&claimLock_, &irql);
        savedParameters_ = block;
        KeReleaseSpinLock(&claimLock_, irql);
        return control({.request = kZrt05ParametersRequest}, block.data(), kZrt05ParametersLength,
                       &received, OnTimeout::Reinitialize);
    }
    case IOCTL_ZRT05_GET_DEVICE_DESCRIPTOR: {
        const NTSTATUS status =
            control({.in = true, .deviceDescriptor = true}, buffer, kDeviceDescriptorLength,
                    &received, OnTimeout::Reinitialize);
        if (NT_SUCCESS(status)) {
            *information = std::min<std::uint32_t>(received, kDeviceDescriptorLength);
        }
        return status;
    }
    case IOCTL_ZRT05_POLL_EVENT:
        return pollEvent(buffer, information);
    case IOCTL_ZRT05_READ_IMAGE:
        return transfer(imageIn_, buffer, nullptr, outputLength, information);
    case IOCTL_ZRT05_WRITE_DATA: {
        // The count of bytes sent is reported only as far as the output buffer
        // reaches: the I/O manager copies that many bytes back to the caller.
        std::size_t sent = 0;
        const NTSTATUS status = transfer(imageOut_, buffer, nullptr, inputLength, &sent);
        *information = std::min<std::size_t>(sent, outputLength);
        return status;
    }
    case IOCTL_ZRT05_CLAIM:
        return claim();
    case IOCTL_ZRT05_RELEASE:
        return release();
    case IOCTL_ZRT05_RESET_PIPES:
        return resetPipes(word(buffer, 0));
    case IOCTL_ZRT05_CYCLE_PORT:
        return lower_.internalRequest(IOCTL_INTERNAL_USB_CYCLE_PORT);
    default:
        return STATUS_INVALID_PARAMETER;
    }
}

NTSTATUS ScannerDevice::onStartDevice(Irp*) {
    const auto all = pipes();
    // The configuration's outcome does not decide the start; the sequence does.
    lower_.activateConfiguration(kConfigurationValue, kMaxConfigurationDescriptor, interface_, all,
                                 kTransactionTimeout);
    std::array<std::uint8_t, kZrt05InitAnswerLength> answer{};
    std::size_t count = 0;
    return initializationSequence(&answer, &count);
}

NTSTATUS ScannerDevice::onStopDevice(Irp*) {
    const auto all = pipes();
    lower_.deactivateConfiguration(all, kTransactionTimeout);
    return STATUS_SUCCESS;
}

NTSTATUS ScannerDevice::onRemoveDevice(Irp*) {
    const auto all = pipes();
    lower_.releaseResources(all);
    return STATUS_SUCCESS;
}

NTSTATUS ScannerDevice::onQueryCapabilities(Irp* irp) {
    IoCopyCurrentIrpStackLocationToNext(irp);
    IoSetCompletionRoutine(irp, &capabilitiesFilled, nullptr, true, true, true);
    return IoCallDriver(lowerDevice(), irp);
}

void ScannerDevice::onDevicePowerUp() {
    // The outcome goes to no one: the power-up continues in any case.
    std::array<std::uint8_t, kZrt05ParametersLength> block = savedParameters();
    std::uint32_t received = 0;
    control({.request = kZrt05ParametersRequest}, block.data(), kZrt05ParametersLength, &received,
            OnTimeout::Reinitialize);
}

} // namespace keldo::driver
