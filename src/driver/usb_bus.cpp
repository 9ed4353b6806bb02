// The bus driver of the USB-stack stand-in.
#include "usb_bus.h"

#include <algorithm>
#include <cassert>
#include <cstdio>
#include <cstring>

namespace keldo::driver {

namespace {

constexpr std::uint8_t kRequestTypeVendorIn = 0xC0;
constexpr std::uint8_t kRequestTypeVendorOut = 0x40;
constexpr std::uint8_t kRequestTypeStandardIn = 0x80;
constexpr std::uint8_t kRequestTypeStandardOut = 0x00;
constexpr std::uint8_t kRequestTypeEndpointOut = 0x02;
constexpr std::size_t kVendorIdOffset = 8;
constexpr std::size_t kProductIdOffset = 10;
constexpr std::size_t kConfigurationValueOffset = 5;

NTSTATUS statusFromUsbd(USBD_STATUS status) {
    switch (status) {
    case USBD_STATUS_SUCCESS:
        return STATUS_SUCCESS;
    case USBD_STATUS_STALL_PID:
        return STATUS_DEVICE_DATA_ERROR;
    case USBD_STATUS_DEVICE_GONE:
        return STATUS_DEVICE_NOT_CONNECTED;
    case USBD_STATUS_CANCELED:
        return STATUS_CANCELLED;
    case USBD_STATUS_INVALID_PIPE_HANDLE:
    case USBD_STATUS_INVALID_PARAMETER:
        return STATUS_INVALID_PARAMETER;
    default:
        return STATUS_UNSUCCESSFUL;
    }
}

void* transferAddress(const Urb* urb) {
    return urb->TransferBufferMDL ? MmGetSystemAddressForMdlSafe(urb->TransferBufferMDL)
                                  : urb->TransferBuffer;
}

NTSTATUS completeIrp(Irp* irp, NTSTATUS status, std::size_t information = 0) {
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = information;
    IoCompleteRequest(irp);
    return status;
}

} // namespace

// The extension of a physical device object: one enumeration of a port.
struct UsbPdo final : UsbPortLink {
    enum class Kind { Transfer, SelectConfiguration, ResetPipe };

    struct Pipe {
        std::uint8_t address;
        UsbPipeType type;
        std::uint32_t maxTransfer;
    };

    struct Pending {
        Irp* irp = nullptr;
        Urb* urb = nullptr;
        Kind kind = Kind::Transfer;
        bool in = false;
        std::uint8_t configurationValue = 0;
        std::vector<Pipe> pipes; // granted when a configuration is selected
    };

    UsbBus* bus = nullptr;
    UsbPort* port = nullptr;
    std::shared_ptr<UsbFunction> function;
    DeviceObject* device = nullptr;

    std::mutex mutex;
    bool present = true;
    std::uint64_t nextId = 1;
    std::map<std::uint64_t, Pending> pending;
    std::uint32_t generation = 0; // of the selected configuration; 0 when unconfigured
    std::vector<Pipe> pipes;

    static UsbPdo* of(DeviceObject* device) {
        return static_cast<UsbPdo*>(device->DeviceExtension);
    }

    static USBD_PIPE_HANDLE handleFor(std::uint32_t generation, std::uint8_t address) {
        return USBD_PIPE_HANDLE(generation) << 8 | address;
    }

    // Caller holds mutex.
    const Pipe* findPipe(USBD_PIPE_HANDLE handle) const {
        if (generation == 0 || (handle >> 8) != generation) {
            return nullptr;
        }
        for (const Pipe& pipe : pipes) {
            if (pipe.address == (handle & 0xFF)) {
                return &pipe;
            }
        }
        return nullptr;
    }

    NTSTATUS submitUrb(Irp* irp, Urb* urb);
    void complete(std::uint64_t id, USBD_STATUS status, std::span<const std::uint8_t> in) override;
    void finish(Pending& entry, USBD_STATUS status, std::span<const std::uint8_t> in);
    // Fails every transaction in progress; the device is gone.
    void disconnect();
    static void cancelRoutine(DeviceObject* device, Irp* irp);

    void countFlush() { port->flushes_.fetch_add(1); }
    // The hub reports the re-enumeration later, on the Plug and Play thread.
    void scheduleCycle() {
        port->cycles_.fetch_add(1);
        UsbBus* owner = bus;
        UsbPort* cycled = port;
        owner->kernel().pnp().post([owner, cycled] { owner->cycle(cycled); });
    }
};

NTSTATUS UsbPdo::submitUrb(Irp* irp, Urb* urb) {
    UsbTransaction transaction;
    Pending entry;
    entry.irp = irp;
    entry.urb = urb;
    std::unique_lock lock(mutex);
    if (!present) {
        lock.unlock();
        urb->Status = USBD_STATUS_DEVICE_GONE;
        return completeIrp(irp, STATUS_DEVICE_NOT_CONNECTED);
    }
    USBD_STATUS refused = USBD_STATUS_SUCCESS;
    const bool in = (urb->TransferFlags & USBD_TRANSFER_DIRECTION_IN) != 0;
    auto setup = [&](std::uint8_t type, std::uint8_t request, std::uint16_t value,
                     std::uint16_t index, std::uint16_t length) {
        transaction.type = UsbTransaction::Type::Control;
        transaction.setup = {type, request, value, index, length};
    };
    auto outData = [&](std::size_t length) {
        const auto* data = static_cast<const std::uint8_t*>(transferAddress(urb));
        if (data && length) {
            transaction.out.assign(data, data + length);
        }
    };
    switch (urb->Function) {
    case UrbFunction::VendorDevice:
        entry.in = in;
        setup(in ? kRequestTypeVendorIn : kRequestTypeVendorOut, urb->Request, urb->Value,
              urb->Index,
              std::uint16_t(std::min<std::uint32_t>(urb->TransferBufferLength, 0xFFFF)));
        if (in) {
            transaction.inLength = transaction.setup.wLength;
        } else {
            outData(transaction.setup.wLength);
        }
        break;
    case UrbFunction::GetDescriptorFromDevice:
        entry.in = true;
        setup(kRequestTypeStandardIn, USB_REQUEST_GET_DESCRIPTOR,
              std::uint16_t(urb->DescriptorType << 8 | urb->DescriptorIndex), urb->LanguageId,
              std::uint16_t(std::min<std::uint32_t>(urb->TransferBufferLength, 0xFFFF)));
        transaction.inLength = transaction.setup.wLength;
        break;
    case UrbFunction::SelectConfiguration: {
        entry.kind = Kind::SelectConfiguration;
        if (urb->ConfigurationDescriptor) {
            std::span<const std::uint8_t> descriptor(urb->ConfigurationDescriptor,
                                                     urb->ConfigurationDescriptorLength);
            if (descriptor.size() < kConfigurationDescriptorHeaderLength) {
                refused = USBD_STATUS_INVALID_PARAMETER;
                break;
            }
            entry.configurationValue = descriptor[kConfigurationValueOffset];
            const std::uint32_t limit = bus->maxTransferSizeLimit();
            for (UsbInterfaceInformation& wanted : urb->Interfaces) {
                UsbInterfaceDescriptor found;
                if (!UsbParseInterface(descriptor, wanted.InterfaceNumber, wanted.AlternateSetting,
                                       &found) ||
                    found.endpoints.size() < wanted.Pipes.size()) {
                    refused = USBD_STATUS_INVALID_PARAMETER;
                    break;
                }
                for (std::size_t i = 0; i < wanted.Pipes.size(); ++i) {
                    const UsbEndpointDescriptor& e = found.endpoints[i];
                    const auto type = UsbPipeType(e.attributes & 3);
                    entry.pipes.push_back(
                        {e.address, type, std::min(wanted.Pipes[i].MaximumTransferSize, limit)});
                }
            }
        }
        setup(kRequestTypeStandardOut, USB_REQUEST_SET_CONFIGURATION, entry.configurationValue, 0,
              0);
        break;
    }
    case UrbFunction::BulkOrInterruptTransfer: {
        const Pipe* pipe = findPipe(urb->PipeHandle);
        if (!pipe) {
            refused = USBD_STATUS_INVALID_PIPE_HANDLE;
            break;
        }
        if (urb->TransferBufferLength > pipe->maxTransfer || in != ((pipe->address & 0x80) != 0)) {
            refused = USBD_STATUS_INVALID_PARAMETER;
            break;
        }
        entry.in = in;
        transaction.type = pipe->type == UsbPipeType::Interrupt ? UsbTransaction::Type::Interrupt
                                                                : UsbTransaction::Type::Bulk;
        transaction.endpoint = pipe->address;
        if (in) {
            transaction.inLength = urb->TransferBufferLength;
        } else {
            outData(urb->TransferBufferLength);
        }
        break;
    }
    case UrbFunction::ResetPipe: {
        const Pipe* pipe = findPipe(urb->PipeHandle);
        if (!pipe) {
            refused = USBD_STATUS_INVALID_PIPE_HANDLE;
            break;
        }
        entry.kind = Kind::ResetPipe;
        setup(kRequestTypeEndpointOut, USB_REQUEST_CLEAR_FEATURE, USB_FEATURE_ENDPOINT_STALL,
              pipe->address, 0);
        break;
    }
    }
    if (refused != USBD_STATUS_SUCCESS) {
        lock.unlock();
        urb->Status = refused;
        return completeIrp(irp, statusFromUsbd(refused));
    }
    const std::uint64_t id = nextId++;
    IoMarkIrpPending(irp);
    irp->DriverContext[0] = reinterpret_cast<void*>(std::uintptr_t(id));
    pending.emplace(id, std::move(entry));
    IoSetCancelRoutine(irp, &UsbPdo::cancelRoutine);
    if (irp->Cancel.load() && IoSetCancelRoutine(irp, nullptr)) {
        Pending cancelled = std::move(pending.at(id));
        pending.erase(id);
        lock.unlock();
        finish(cancelled, USBD_STATUS_CANCELED, {});
        return STATUS_PENDING;
    }
    lock.unlock();
    function->submit(id, transaction);
    return STATUS_PENDING;
}

void UsbPdo::complete(std::uint64_t id, USBD_STATUS status, std::span<const std::uint8_t> in) {
    std::unique_lock lock(mutex);
    auto it = pending.find(id);
    if (it == pending.end()) {
        return; // cancelled or failed by an unplug meanwhile
    }
    if (!IoSetCancelRoutine(it->second.irp, nullptr)) {
        return; // a cancel is running and will complete the packet
    }
    Pending entry = std::move(it->second);
    pending.erase(it);
    if (entry.kind == Kind::SelectConfiguration && status == USBD_STATUS_SUCCESS) {
        if (entry.configurationValue == 0) {
            generation = 0;
            pipes.clear();
        } else {
            static std::atomic<std::uint32_t> generations{0};
            generation = ++generations;
            pipes = entry.pipes;
        }
    }
    const std::uint32_t granted = generation;
    lock.unlock();
    if (entry.kind == Kind::SelectConfiguration && status == USBD_STATUS_SUCCESS &&
        entry.urb->ConfigurationDescriptor) {
        std::size_t next = 0;
        for (UsbInterfaceInformation& wanted : entry.urb->Interfaces) {
            for (UsbPipeInformation& info : wanted.Pipes) {
                const Pipe& pipe = entry.pipes[next++];
                info.EndpointAddress = pipe.address;
                info.PipeType = pipe.type;
                info.MaximumTransferSize = pipe.maxTransfer;
                info.PipeHandle = handleFor(granted, pipe.address);
            }
        }
        entry.urb->ConfigurationHandle = granted;
    }
    finish(entry, status, in);
}

void UsbPdo::finish(Pending& entry, USBD_STATUS status, std::span<const std::uint8_t> in) {
    Urb* urb = entry.urb;
    std::size_t moved = 0;
    if (status == USBD_STATUS_SUCCESS && entry.kind == Kind::Transfer) {
        if (entry.in) {
            moved = std::min<std::size_t>(in.size(), urb->TransferBufferLength);
            if (moved) {
                std::memcpy(transferAddress(urb), in.data(), moved);
            }
            if (moved < urb->TransferBufferLength &&
                !(urb->TransferFlags & USBD_SHORT_TRANSFER_OK)) {
                status = USBD_STATUS_ERROR_SHORT_TRANSFER;
            }
        } else {
            moved = urb->TransferBufferLength;
        }
    }
    if (entry.kind == Kind::Transfer) {
        urb->TransferBufferLength = std::uint32_t(moved);
    }
    urb->Status = status;
    completeIrp(entry.irp, statusFromUsbd(status));
}

void UsbPdo::cancelRoutine(DeviceObject* device, Irp* irp) {
    UsbPdo* self = of(device);
    const auto id = std::uint64_t(reinterpret_cast<std::uintptr_t>(irp->DriverContext[0]));
    std::unique_lock lock(self->mutex);
    auto it = self->pending.find(id);
    if (it == self->pending.end()) {
        return;
    }
    Pending entry = std::move(it->second);
    self->pending.erase(it);
    const bool tellDevice = self->present;
    lock.unlock();
    if (tellDevice) {
        self->function->cancel(id);
    }
    self->finish(entry, USBD_STATUS_CANCELED, {});
}

void UsbPdo::disconnect() {
    std::vector<Pending> failed;
    {
        std::lock_guard lock(mutex);
        if (!present) {
            return;
        }
        present = false;
        generation = 0;
        pipes.clear();
        for (auto it = pending.begin(); it != pending.end();) {
            if (IoSetCancelRoutine(it->second.irp, nullptr)) {
                failed.push_back(std::move(it->second));
                it = pending.erase(it);
            } else {
                ++it; // its cancel routine completes it
            }
        }
    }
    function->disconnect();
    for (Pending& entry : failed) {
        finish(entry, USBD_STATUS_DEVICE_GONE, {});
    }
}

// ---------------------------------------------------------------------------
// Dispatch of the bus driver's physical device objects

namespace {

NTSTATUS dispatchPnp(UsbPdo* pdo, Irp* irp) {
    IoStackLocation* stack = IoGetCurrentIrpStackLocation(irp);
    switch (stack->MinorFunction) {
    case IRP_MN_START_DEVICE:
    case IRP_MN_QUERY_STOP_DEVICE:
    case IRP_MN_CANCEL_STOP_DEVICE:
    case IRP_MN_STOP_DEVICE:
    case IRP_MN_QUERY_REMOVE_DEVICE:
    case IRP_MN_CANCEL_REMOVE_DEVICE:
    case IRP_MN_SURPRISE_REMOVAL:
        return completeIrp(irp, STATUS_SUCCESS);
    case IRP_MN_QUERY_CAPABILITIES:
        if (DeviceCapabilities* caps = stack->Parameters.DeviceCapabilities.Capabilities) {
            caps->removable = true;
            caps->surpriseRemovalOK = false;
        }
        return completeIrp(irp, STATUS_SUCCESS);
    case IRP_MN_REMOVE_DEVICE: {
        bool present = false;
        {
            std::lock_guard lock(pdo->mutex);
            present = pdo->present;
        }
        completeIrp(irp, STATUS_SUCCESS);
        if (!present) {
            // The device left: its physical device object goes too.
            DeviceObject* device = pdo->device;
            pdo->~UsbPdo();
            IoDeleteDevice(device);
        }
        return STATUS_SUCCESS;
    }
    default:
        return completeIrp(irp, irp->IoStatus.Status);
    }
}

NTSTATUS dispatch(DeviceObject* device, Irp* irp) {
    UsbPdo* pdo = UsbPdo::of(device);
    IoStackLocation* stack = IoGetCurrentIrpStackLocation(irp);
    switch (stack->MajorFunction) {
    case IRP_MJ_INTERNAL_DEVICE_CONTROL:
        switch (stack->Parameters.DeviceIoControl.IoControlCode) {
        case IOCTL_INTERNAL_USB_SUBMIT_URB:
            return pdo->submitUrb(irp, static_cast<Urb*>(stack->Parameters.Others.Argument1));
        case IOCTL_INTERNAL_USB_CYCLE_PORT:
            pdo->scheduleCycle();
            return completeIrp(irp, STATUS_SUCCESS);
        case IOCTL_INTERNAL_USB_RESET_PORT:
            return completeIrp(irp, STATUS_SUCCESS);
        default:
            return completeIrp(irp, STATUS_INVALID_DEVICE_REQUEST);
        }
    case IRP_MJ_PNP:
        return dispatchPnp(pdo, irp);
    case IRP_MJ_POWER:
        if (stack->MinorFunction == IRP_MN_SET_POWER &&
            stack->Parameters.Power.Type == PowerStateType::Device) {
            const bool on = stack->Parameters.Power.State.device == DevicePowerState::D0;
            pdo->function->setPowered(on);
            PoSetPowerState(device, PowerStateType::Device, stack->Parameters.Power.State);
        }
        PoStartNextPowerIrp(irp);
        return completeIrp(irp, STATUS_SUCCESS);
    case IRP_MJ_FLUSH_BUFFERS:
        pdo->countFlush();
        return completeIrp(irp, STATUS_SUCCESS);
    case IRP_MJ_SYSTEM_CONTROL:
        return completeIrp(irp, irp->IoStatus.Status);
    default:
        return completeIrp(irp, STATUS_INVALID_DEVICE_REQUEST);
    }
}

NTSTATUS busDriverEntry(DriverObject* driver, const std::string&) {
    driver->MajorFunction.fill(&dispatch);
    return STATUS_SUCCESS;
}

} // namespace

// ---------------------------------------------------------------------------
// UsbBus

DevNode* UsbPort::devNode() {
    std::lock_guard lock(bus_->mutex_);
    return node_;
}

UsbBus::UsbBus(Kernel& kernel) : kernel_(kernel) {
    driver_ = kernel_.loadDriver("usbhub", &busDriverEntry);
}

UsbBus::~UsbBus() {
    kernel_.pnp().waitIdle();
    std::vector<UsbPort*> ports;
    {
        std::lock_guard lock(mutex_);
        for (auto& port : ports_) {
            ports.push_back(port.get());
        }
    }
    for (UsbPort* port : ports) {
        disconnect(port, true);
    }
    kernel_.pnp().waitIdle();
    kernel_.unloadDriver(driver_);
}

UsbPort* UsbBus::plug(std::shared_ptr<UsbFunction> function) {
    UsbPort* port = nullptr;
    {
        auto owned = std::make_unique<UsbPort>();
        owned->bus_ = this;
        owned->function_ = std::move(function);
        port = owned.get();
        std::lock_guard lock(mutex_);
        ports_.push_back(std::move(owned));
    }
    kernel_.pnp().run([this, port] { enumerate(port); });
    return port;
}

void UsbBus::enumerate(UsbPort* port) {
    char name[32];
    unsigned number = 0;
    {
        std::lock_guard lock(mutex_);
        number = nextPdo_++;
    }
    std::snprintf(name, sizeof name, "\\Device\\USBPDO-%u", number);
    const std::string deviceName = name;
    DeviceObject* device = nullptr;
    if (!NT_SUCCESS(IoCreateDevice(driver_, sizeof(UsbPdo), &deviceName, FILE_DEVICE_BUS_EXTENDER,
                                   0, false, &device))) {
        return;
    }
    auto* pdo = new (device->DeviceExtension) UsbPdo();
    pdo->bus = this;
    pdo->port = port;
    pdo->function = port->function_;
    pdo->device = device;
    device->Flags &= ~DO_DEVICE_INITIALIZING;

    const std::vector<std::uint8_t> descriptor = pdo->function->deviceDescriptor();
    unsigned vendor = 0, product = 0;
    if (descriptor.size() >= kDeviceDescriptorLength) {
        vendor = unsigned(descriptor[kVendorIdOffset] | descriptor[kVendorIdOffset + 1] << 8);
        product = unsigned(descriptor[kProductIdOffset] | descriptor[kProductIdOffset + 1] << 8);
    }
    char hardwareId[48];
    std::snprintf(hardwareId, sizeof hardwareId, "USB\\VID_%04X&PID_%04X", vendor, product);
    char instanceId[80];
    std::snprintf(instanceId, sizeof instanceId, "%s\\5&%u", hardwareId, number);
    {
        std::lock_guard lock(mutex_);
        port->pdo_ = pdo;
    }
    pdo->function->connect(pdo);
    DevNode* node = kernel_.pnp().deviceArrived(device, hardwareId, instanceId);
    std::lock_guard lock(mutex_);
    port->node_ = node;
}

void UsbBus::disconnect(UsbPort* port, bool force) {
    kernel_.pnp().run([&] {
        UsbPdo* pdo = nullptr;
        DevNode* node = nullptr;
        {
            std::lock_guard lock(mutex_);
            pdo = port->pdo_;
            node = port->node_;
            port->pdo_ = nullptr;
            port->node_ = nullptr;
        }
        if (!pdo) {
            return;
        }
        pdo->disconnect();
        if (node) {
            kernel_.pnp().deviceGone(node, force);
        }
    });
}

void UsbBus::unplug(UsbPort* port) {
    disconnect(port, false);
}

void UsbBus::cycle(UsbPort* port) {
    disconnect(port, false);
    enumerate(port);
}

} // namespace keldo::driver
