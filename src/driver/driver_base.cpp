// The driver class library: entry points, admission, Plug and Play and power.
#include "driver_base.h"

#include <algorithm>
#include <cassert>

namespace keldo::driver {

namespace {

const std::string kServicesClassKey =
    "\\Registry\\Machine\\System\\CurrentControlSet\\Services\\Class";
const std::string kControlClassKey =
    "\\Registry\\Machine\\System\\CurrentControlSet\\Control\\Class";

NTSTATUS signalAndKeep(DeviceObject*, Irp*, void* context) {
    static_cast<KEvent*>(context)->set();
    return STATUS_MORE_PROCESSING_REQUIRED;
}

} // namespace

// ---------------------------------------------------------------------------
// DriverBase

NTSTATUS DriverBase::initialize(DriverObject* driver, const std::string& registryPath,
                                std::unique_ptr<DriverBase> instance) {
    instance->driver_ = driver;
    instance->registryPath_ = registryPath;
    instance->windows9x_ =
        NT_SUCCESS(ZwOpenKey(kServicesClassKey)) && !NT_SUCCESS(ZwOpenKey(kControlClassKey));
    driver->MajorFunction.fill(&DriverBase::dispatchEntry);
    driver->AddDevice = &DriverBase::addDeviceEntry;
    driver->DriverUnload = &DriverBase::unloadEntry;
    DriverBase* raw = instance.release();
    driver->DriverContext = raw;
    const NTSTATUS status = raw->driverEntry(registryPath);
    if (!NT_SUCCESS(status)) {
        driver->DriverContext = nullptr;
        delete raw;
    }
    return status;
}

void DriverBase::unload() {
    while (!driver_->devices.empty()) {
        DeviceObject* device = driver_->devices.back();
        if (PnpDeviceBase* owned = PnpDeviceBase::of(device)) {
            PnpDeviceBase::destroy(owned);
        } else {
            IoDeleteDevice(device);
        }
    }
}

NTSTATUS DriverBase::requestFilter(PnpDeviceBase* device, Irp* irp) {
    return device->dispatch(irp);
}

NTSTATUS DriverBase::dispatchEntry(DeviceObject* device, Irp* irp) {
    PnpDeviceBase* owner = PnpDeviceBase::of(device);
    assert(owner && "request for a device the library did not construct");
    return of(device->driver)->requestFilter(owner, irp);
}

NTSTATUS DriverBase::addDeviceEntry(DriverObject* driver, DeviceObject* physicalDevice) {
    return of(driver)->addDevice(physicalDevice);
}

void DriverBase::unloadEntry(DriverObject* driver) {
    DriverBase* instance = of(driver);
    instance->unload();
    driver->DriverContext = nullptr;
    delete instance;
}

// ---------------------------------------------------------------------------
// PnpDeviceBase: construction and destruction

PnpDeviceBase::PnpDeviceBase(DeviceObject* self, DeviceObject* physicalDevice,
                             std::string symbolicLink)
    : self_(self), physical_(physicalDevice), link_(std::move(symbolicLink)) {
    self_->libraryContext = this;
}

NTSTATUS PnpDeviceBase::initializePnp(const Guid& interfaceClass) {
    if (!NT_SUCCESS(IoRegisterDeviceInterface(physical_, interfaceClass, &interfaceLink_))) {
        interfaceLink_.clear();
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    return STATUS_SUCCESS;
}

void PnpDeviceBase::destroy(PnpDeviceBase* device) {
    DeviceObject* self = device->self_;
    DeviceObject* lower = device->lower_;
    const std::string link = device->link_;
    device->~PnpDeviceBase();
    self->libraryContext = nullptr;
    if (lower) {
        IoDetachDevice(lower);
    }
    if (!link.empty()) {
        IoDeleteSymbolicLink(link);
    }
    IoDeleteDevice(self);
}

void PnpDeviceBase::initialPowerState(DevicePowerState state) {
    std::lock_guard lock(ioLock_);
    power_ = state;
}

PnpDeviceBase::PnpState PnpDeviceBase::pnpState() {
    std::lock_guard lock(ioLock_);
    return state_;
}

DevicePowerState PnpDeviceBase::powerState() {
    std::lock_guard lock(ioLock_);
    return power_;
}

std::size_t PnpDeviceBase::heldRequests() {
    std::lock_guard lock(ioLock_);
    return held_.size();
}

// ---------------------------------------------------------------------------
// State checks

void PnpDeviceBase::transition(PnpState to) {
    [[maybe_unused]] auto allowed = [this](PnpState to) {
        switch (to) {
        case PnpState::Started:
            return state_ == PnpState::NotStarted || state_ == PnpState::Stopped ||
                   state_ == PnpState::StopPending || state_ == PnpState::RemovePending;
        case PnpState::StopPending:
            return state_ == PnpState::Started;
        case PnpState::Stopped:
            return state_ == PnpState::StopPending || state_ == PnpState::Started;
        case PnpState::RemovePending:
            return state_ == PnpState::Started || state_ == PnpState::Stopped ||
                   state_ == PnpState::NotStarted;
        case PnpState::NotStarted:
            return state_ == PnpState::RemovePending;
        case PnpState::SurpriseRemoved:
            return state_ != PnpState::Removed;
        case PnpState::Removed:
            return true;
        }
        return false;
    };
    assert(allowed(to) && "Plug and Play transition out of order");
    state_ = to;
    checkState();
}

void PnpDeviceBase::checkState() const {
    assert(inProgress_ >= 0);
    assert(power_ >= DevicePowerState::D0 && power_ <= DevicePowerState::D3);
    // Requests are refused, never held, before the first start.
    assert(held_.empty() || state_ != PnpState::NotStarted);
}

// ---------------------------------------------------------------------------
// Dispatch and admission

NTSTATUS PnpDeviceBase::complete(Irp* irp, NTSTATUS status, std::size_t information) {
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = information;
    IoCompleteRequest(irp);
    return status;
}

NTSTATUS PnpDeviceBase::passDown(Irp* irp) {
    IoSkipCurrentIrpStackLocation(irp);
    return IoCallDriver(lower_, irp);
}

NTSTATUS PnpDeviceBase::forwardAndWait(Irp* irp) {
    KEvent done;
    IoCopyCurrentIrpStackLocationToNext(irp);
    IoSetCompletionRoutine(irp, &signalAndKeep, &done, true, true, true);
    IoCallDriver(lower_, irp);
    KeWaitForSingleObject(&done);
    return irp->IoStatus.Status;
}

NTSTATUS PnpDeviceBase::dispatch(Irp* irp) {
    switch (IoGetCurrentIrpStackLocation(irp)->MajorFunction) {
    case IRP_MJ_PNP:
        return dispatchPnp(irp);
    case IRP_MJ_POWER:
        return dispatchPower(irp);
    case IRP_MJ_CREATE:
        return dispatchCreate(irp);
    case IRP_MJ_CLOSE:
        return dispatchClose(irp);
    case IRP_MJ_CLEANUP:
        return cleanup(irp);
    default:
        return dispatchIo(irp);
    }
}

NTSTATUS PnpDeviceBase::dispatchCreate(Irp* irp) {
    deviceMutex_.acquire();
    bool refused = false;
    bool lowPower = false;
    {
        std::lock_guard lock(ioLock_);
        checkState();
        refused = removalBegun();
        lowPower = power_ != DevicePowerState::D0;
    }
    NTSTATUS status = STATUS_DELETE_PENDING;
    if (refused) {
        complete(irp, status);
    } else {
        if (lowPower && policy_.powerUpOnOpen) {
            requestDevicePower(DevicePowerState::D0);
        }
        status = create(irp);
        if (NT_SUCCESS(status)) {
            openHandles_.fetch_add(1);
        }
    }
    deviceMutex_.release();
    return status;
}

NTSTATUS PnpDeviceBase::dispatchClose(Irp* irp) {
    deviceMutex_.acquire();
    const bool last = openHandles_.fetch_sub(1) == 1;
    const NTSTATUS status = close(irp);
    bool idleDown = false;
    {
        std::lock_guard lock(ioLock_);
        idleDown = last && policy_.powerDownOnLastClose && !removalBegun() &&
                   power_ == DevicePowerState::D0;
    }
    if (idleDown) {
        requestDevicePower(DevicePowerState::D3);
    }
    deviceMutex_.release();
    return status;
}

NTSTATUS PnpDeviceBase::dispatchIo(Irp* irp) {
    Admission admission = Admission::Proceed;
    NTSTATUS refusal = STATUS_SUCCESS;
    bool cancelledAtOnce = false;
    {
        std::lock_guard lock(ioLock_);
        checkState();
        if (removalBegun()) {
            admission = Admission::Refused;
            refusal = STATUS_DELETE_PENDING;
        } else if (state_ == PnpState::NotStarted) {
            admission = Admission::Refused;
            refusal = STATUS_UNSUCCESSFUL;
        } else if (holding()) {
            admission = Admission::Held;
            IoMarkIrpPending(irp);
            held_.push_back(irp);
            IoSetCancelRoutine(irp, &PnpDeviceBase::cancelHeld);
            if (irp->Cancel.load() && IoSetCancelRoutine(irp, nullptr)) {
                held_.pop_back();
                cancelledAtOnce = true;
            }
        } else {
            ++inProgress_;
        }
    }
    switch (admission) {
    case Admission::Refused:
        return complete(irp, refusal);
    case Admission::Held:
        if (cancelledAtOnce) {
            complete(irp, STATUS_CANCELLED);
        }
        return STATUS_PENDING;
    case Admission::Proceed:
        break;
    }
    ensurePowered();
    const NTSTATUS status = handle(irp);
    {
        std::lock_guard lock(ioLock_);
        --inProgress_;
        ioIdle_.notify_all();
    }
    return status;
}

NTSTATUS PnpDeviceBase::handle(Irp* irp) {
    switch (IoGetCurrentIrpStackLocation(irp)->MajorFunction) {
    case IRP_MJ_READ:
        return read(irp);
    case IRP_MJ_WRITE:
        return write(irp);
    case IRP_MJ_DEVICE_CONTROL:
        return deviceControl(irp);
    case IRP_MJ_SYSTEM_CONTROL:
        return systemControl(irp);
    default:
        return otherRequest(irp);
    }
}

void PnpDeviceBase::cancelHeld(DeviceObject* device, Irp* irp) {
    PnpDeviceBase* self = of(device);
    bool found = false;
    {
        std::lock_guard lock(self->ioLock_);
        auto it = std::find(self->held_.begin(), self->held_.end(), irp);
        if (it != self->held_.end()) {
            self->held_.erase(it);
            found = true;
        }
    }
    if (found) {
        complete(irp, STATUS_CANCELLED);
    }
}

void PnpDeviceBase::releaseHeld() {
    std::deque<Irp*> resumed;
    {
        std::lock_guard lock(ioLock_);
        if (holding() || removalBegun()) {
            return;
        }
        for (auto it = held_.begin(); it != held_.end();) {
            if (IoSetCancelRoutine(*it, nullptr)) {
                resumed.push_back(*it);
                it = held_.erase(it);
            } else {
                ++it; // being cancelled: its cancel routine takes it
            }
        }
    }
    for (Irp* irp : resumed) {
        // The packet is already pending; a second admission may hold it again.
        dispatch(irp);
    }
}

void PnpDeviceBase::failHeld(NTSTATUS status) {
    std::deque<Irp*> failed;
    {
        std::lock_guard lock(ioLock_);
        for (auto it = held_.begin(); it != held_.end();) {
            if (IoSetCancelRoutine(*it, nullptr)) {
                failed.push_back(*it);
                it = held_.erase(it);
            } else {
                ++it;
            }
        }
    }
    for (Irp* irp : failed) {
        complete(irp, status);
    }
}

void PnpDeviceBase::waitUntilIdle(std::unique_lock<std::mutex>& lock) {
    ioIdle_.wait(lock, [this] { return inProgress_ == 0; });
}

void PnpDeviceBase::setInterface(bool enable) {
    std::lock_guard lock(interfaceMutex_);
    if (interfaceLink_.empty() || interfaceEnabled_ == enable) {
        return;
    }
    IoSetDeviceInterfaceState(interfaceLink_, enable);
    interfaceEnabled_ = enable;
}

// ---------------------------------------------------------------------------
// Plug and Play

NTSTATUS PnpDeviceBase::dispatchPnp(Irp* irp) {
    IoStackLocation* stack = IoGetCurrentIrpStackLocation(irp);
    switch (stack->MinorFunction) {
    case IRP_MN_START_DEVICE: {
        NTSTATUS status = forwardAndWait(irp);
        if (NT_SUCCESS(status)) {
            status = onStartDevice(irp);
        }
        if (NT_SUCCESS(status)) {
            {
                std::lock_guard lock(ioLock_);
                transition(PnpState::Started);
            }
            setInterface(true);
        }
        complete(irp, status);
        if (NT_SUCCESS(status)) {
            releaseHeld();
        }
        return status;
    }
    case IRP_MN_QUERY_STOP_DEVICE: {
        {
            std::unique_lock lock(ioLock_);
            transition(PnpState::StopPending);
            waitUntilIdle(lock);
        }
        return complete(irp, forwardAndWait(irp));
    }
    case IRP_MN_CANCEL_STOP_DEVICE: {
        const NTSTATUS status = forwardAndWait(irp);
        {
            std::lock_guard lock(ioLock_);
            if (state_ == PnpState::StopPending) {
                transition(PnpState::Started);
            }
        }
        complete(irp, status);
        releaseHeld();
        return status;
    }
    case IRP_MN_STOP_DEVICE: {
        {
            std::unique_lock lock(ioLock_);
            transition(PnpState::Stopped);
            waitUntilIdle(lock);
        }
        onStopDevice(irp);
        setInterface(false);
        forwardAndWait(irp);
        return complete(irp, STATUS_SUCCESS);
    }
    case IRP_MN_QUERY_REMOVE_DEVICE: {
        {
            std::unique_lock lock(ioLock_);
            beforeRemovePending_ = state_;
            transition(PnpState::RemovePending);
            waitUntilIdle(lock);
        }
        return complete(irp, forwardAndWait(irp));
    }
    case IRP_MN_CANCEL_REMOVE_DEVICE: {
        const NTSTATUS status = forwardAndWait(irp);
        {
            std::lock_guard lock(ioLock_);
            if (state_ == PnpState::RemovePending) {
                transition(beforeRemovePending_);
            }
        }
        complete(irp, status);
        releaseHeld();
        return status;
    }
    case IRP_MN_SURPRISE_REMOVAL: {
        {
            std::lock_guard lock(ioLock_);
            transition(PnpState::SurpriseRemoved);
        }
        failHeld(STATUS_DELETE_PENDING);
        setInterface(false);
        irp->IoStatus.Status = STATUS_SUCCESS;
        return passDown(irp);
    }
    case IRP_MN_REMOVE_DEVICE: {
        deviceMutex_.acquire();
        {
            std::lock_guard lock(ioLock_);
            transition(PnpState::Removed);
        }
        failHeld(STATUS_DELETE_PENDING);
        {
            std::unique_lock lock(ioLock_);
            waitUntilIdle(lock);
        }
        setInterface(false);
        onRemoveDevice(irp);
        irp->IoStatus.Status = STATUS_SUCCESS;
        const NTSTATUS status = passDown(irp);
        deviceMutex_.release();
        destroy(this);
        return status;
    }
    case IRP_MN_QUERY_CAPABILITIES:
        return onQueryCapabilities(irp);
    default:
        return passDown(irp);
    }
}

// ---------------------------------------------------------------------------
// Power

void PnpDeviceBase::requestDevicePower(DevicePowerState state) {
    PowerState target;
    target.device = state;
    PoRequestPowerIrp(self_, IRP_MN_SET_POWER, target, nullptr, nullptr);
}

void PnpDeviceBase::ensurePowered() {
    bool low = false;
    {
        std::lock_guard lock(ioLock_);
        low = power_ != DevicePowerState::D0;
    }
    if (low) {
        requestDevicePower(DevicePowerState::D0);
    }
}

NTSTATUS PnpDeviceBase::dispatchPower(Irp* irp) {
    IoStackLocation* stack = IoGetCurrentIrpStackLocation(irp);
    if (stack->MinorFunction != IRP_MN_SET_POWER) {
        PoStartNextPowerIrp(irp);
        return passDown(irp);
    }
    if (stack->Parameters.Power.Type == PowerStateType::Device) {
        return setDevicePower(irp, stack->Parameters.Power.State.device);
    }
    bool gone = false;
    {
        std::lock_guard lock(ioLock_);
        gone = removalBegun();
    }
    NTSTATUS status = STATUS_SUCCESS;
    if (stack->Parameters.Power.State.system == SystemPowerState::Working) {
        status = forwardAndWait(irp);
        if (!gone) {
            requestDevicePower(DevicePowerState::D0);
        }
    } else {
        if (!gone) {
            requestDevicePower(DevicePowerState::D3);
        }
        status = forwardAndWait(irp);
    }
    PoStartNextPowerIrp(irp);
    return complete(irp, status);
}

NTSTATUS PnpDeviceBase::setDevicePower(Irp* irp, DevicePowerState target) {
    std::unique_lock serial(powerIrpMutex_);
    DevicePowerState current;
    {
        std::lock_guard lock(ioLock_);
        current = power_;
        if (current != target) {
            powerTransition_ = true;
        }
    }
    if (current == target) {
        PoStartNextPowerIrp(irp);
        return passDown(irp);
    }
    PowerState reported;
    reported.device = target;
    NTSTATUS status = STATUS_SUCCESS;
    if (target == DevicePowerState::D0) {
        status = forwardAndWait(irp);
        if (NT_SUCCESS(status)) {
            onDevicePowerUp();
            PoSetPowerState(self_, PowerStateType::Device, reported);
        }
    } else {
        PoSetPowerState(self_, PowerStateType::Device, reported);
        status = forwardAndWait(irp);
    }
    {
        std::lock_guard lock(ioLock_);
        if (NT_SUCCESS(status)) {
            power_ = target;
        }
        powerTransition_ = false;
        checkState();
    }
    PoStartNextPowerIrp(irp);
    complete(irp, status);
    serial.unlock();
    releaseHeld();
    return status;
}

} // namespace keldo::driver
