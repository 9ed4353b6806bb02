// Synchronous USB requests with time-out and cancel.
#include "usb_lower_device.h"

#include <algorithm>
#include <cassert>

namespace keldo::driver {

namespace {

constexpr std::uint32_t kLibraryTag = poolTag("KUsb");

NTSTATUS signalAndKeep(DeviceObject*, Irp*, void* context) {
    static_cast<KEvent*>(context)->set();
    return STATUS_MORE_PROCESSING_REQUIRED;
}

struct PoolBuffer {
    explicit PoolBuffer(std::size_t bytes)
        : data(static_cast<std::uint8_t*>(
              ExAllocatePoolWithTag(PoolType::NonPaged, bytes, kLibraryTag))) {}
    ~PoolBuffer() {
        if (data) {
            ExFreePool(data);
        }
    }
    std::uint8_t* data;
};

struct PoolUrb {
    PoolUrb() : urb(allocateFromPool<Urb>(kLibraryTag)) {}
    ~PoolUrb() { freeToPool(urb); }
    Urb* urb;
};

} // namespace

void UsbLowerDevice::initialize(DeviceObject* self, DeviceObject* physicalDevice) {
    self_ = self;
    lower_ = IoAttachDeviceToDeviceStack(self, physicalDevice);
}

UsbLowerDevice::Result UsbLowerDevice::submitUrb(Urb* urb, Timeout timeout) {
    Irp* irp = IoAllocateIrp(lower_->StackSize);
    if (!irp) {
        return {STATUS_INSUFFICIENT_RESOURCES, false};
    }
    KEvent done;
    IoStackLocation* next = IoGetNextIrpStackLocation(irp);
    next->MajorFunction = IRP_MJ_INTERNAL_DEVICE_CONTROL;
    next->Parameters.DeviceIoControl.IoControlCode = IOCTL_INTERNAL_USB_SUBMIT_URB;
    next->Parameters.Others.Argument1 = urb;
    IoSetCompletionRoutine(irp, &signalAndKeep, &done, true, true, true);
    IoCallDriver(lower_, irp);
    Result result;
    if (KeWaitForSingleObject(&done, timeout) == STATUS_TIMEOUT) {
        result.timedOut = true;
        IoCancelIrp(irp);
        KeWaitForSingleObject(&done);
    }
    result.status = irp->IoStatus.Status;
    IoFreeIrp(irp);
    return result;
}

NTSTATUS UsbLowerDevice::activateConfiguration(std::uint8_t configurationValue,
                                               std::uint32_t maxDescriptorBytes,
                                               UsbInterface& interface,
                                               std::span<UsbPipe* const> pipes, Timeout timeout) {
    constexpr std::size_t kConfigurationValueOffset = 5;
    PoolBuffer descriptor(maxDescriptorBytes);
    PoolUrb request;
    if (!descriptor.data || !request.urb) {
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    UsbBuildGetDescriptorRequest(request.urb, USB_CONFIGURATION_DESCRIPTOR_TYPE, 0, 0,
                                 descriptor.data, nullptr, maxDescriptorBytes);
    Result result = submitUrb(request.urb, timeout);
    if (result.timedOut || !NT_SUCCESS(result.status)) {
        return result.timedOut ? STATUS_TIMEOUT : result.status;
    }
    const std::span<const std::uint8_t> bytes(descriptor.data, request.urb->TransferBufferLength);
    UsbInterfaceDescriptor found;
    if (bytes.size() < kConfigurationDescriptorHeaderLength ||
        bytes[kConfigurationValueOffset] != configurationValue ||
        !UsbParseInterface(bytes, interface.number(), interface.alternateSetting(), &found)) {
        return STATUS_UNSUCCESSFUL;
    }
    Urb* select = request.urb;
    *select = Urb{};
    UsbBuildSelectConfigurationRequest(select, bytes.data(), bytes.size());
    UsbInterfaceInformation wanted;
    wanted.InterfaceNumber = interface.number();
    wanted.AlternateSetting = interface.alternateSetting();
    for (const UsbEndpointDescriptor& endpoint : found.endpoints) {
        UsbPipeInformation info;
        info.EndpointAddress = endpoint.address;
        auto pipe = std::find_if(pipes.begin(), pipes.end(), [&](const UsbPipe* p) {
            return p->address() == endpoint.address;
        });
        info.MaximumTransferSize = pipe != pipes.end() ? (*pipe)->requestedMaxTransferSize()
                                                       : std::uint32_t(endpoint.maxPacketSize);
        wanted.Pipes.push_back(info);
    }
    select->Interfaces.push_back(std::move(wanted));
    result = submitUrb(select, timeout);
    if (result.timedOut || !NT_SUCCESS(result.status)) {
        return result.timedOut ? STATUS_TIMEOUT : result.status;
    }
    for (const UsbPipeInformation& info : select->Interfaces.front().Pipes) {
        for (UsbPipe* pipe : pipes) {
            if (pipe->address() == info.EndpointAddress) {
                pipe->bind(info.PipeHandle, info.MaximumTransferSize);
            }
        }
    }
    return STATUS_SUCCESS;
}

NTSTATUS UsbLowerDevice::deactivateConfiguration(std::span<UsbPipe* const> pipes, Timeout timeout) {
    releaseResources(pipes);
    PoolUrb request;
    if (!request.urb) {
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    UsbBuildSelectConfigurationRequest(request.urb, nullptr, 0);
    const Result result = submitUrb(request.urb, timeout);
    return result.timedOut ? STATUS_TIMEOUT : result.status;
}

void UsbLowerDevice::releaseResources(std::span<UsbPipe* const> pipes) {
    for (UsbPipe* pipe : pipes) {
        pipe->unbind();
    }
}

NTSTATUS UsbLowerDevice::sendAndWait(std::uint8_t major, std::uint32_t code, void* argument) {
    Irp* irp = IoAllocateIrp(lower_->StackSize);
    if (!irp) {
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    KEvent done;
    IoStackLocation* next = IoGetNextIrpStackLocation(irp);
    next->MajorFunction = major;
    next->Parameters.DeviceIoControl.IoControlCode = code;
    next->Parameters.Others.Argument1 = argument;
    IoSetCompletionRoutine(irp, &signalAndKeep, &done, true, true, true);
    IoCallDriver(lower_, irp);
    KeWaitForSingleObject(&done);
    const NTSTATUS status = irp->IoStatus.Status;
    IoFreeIrp(irp);
    return status;
}

NTSTATUS UsbLowerDevice::internalRequest(std::uint32_t code) {
    return sendAndWait(IRP_MJ_INTERNAL_DEVICE_CONTROL, code, nullptr);
}

NTSTATUS UsbLowerDevice::flush() {
    return sendAndWait(IRP_MJ_FLUSH_BUFFERS, 0, nullptr);
}

NTSTATUS UsbPipe::reset() {
    Urb* urb = allocateFromPool<Urb>(kLibraryTag);
    if (!urb) {
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    UsbBuildResetPipeRequest(urb, handle());
    const NTSTATUS status = lower_->submitUrb(urb, std::nullopt).status;
    freeToPool(urb);
    return status;
}

} // namespace keldo::driver
