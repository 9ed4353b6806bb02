// Plug and Play manager and power manager of the kernel stand-in.
#include "kernel_pnp.h"

#include <cassert>

namespace keldo::driver {

PnpManager::PnpManager(Kernel& kernel) : kernel_(kernel) {
    worker_ = std::thread([this] { workerLoop(); });
    workerId_ = worker_.get_id();
}

PnpManager::~PnpManager() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        cv_.notify_all();
    }
    worker_.join();
}

void PnpManager::workerLoop() {
    std::unique_lock lock(mutex_);
    for (;;) {
        cv_.wait(lock, [this] { return stopping_ || !work_.empty(); });
        if (work_.empty()) {
            return;
        }
        std::function<void()> work = std::move(work_.front());
        work_.pop_front();
        ++busy_;
        lock.unlock();
        work();
        lock.lock();
        --busy_;
        cv_.notify_all();
    }
}

void PnpManager::post(std::function<void()> work) {
    std::lock_guard lock(mutex_);
    work_.push_back(std::move(work));
    cv_.notify_all();
}

void PnpManager::run(std::function<void()> work) {
    if (std::this_thread::get_id() == workerId_) {
        work();
        return;
    }
    KEvent done;
    post([&] {
        work();
        done.set();
    });
    done.wait(std::nullopt);
}

void PnpManager::waitIdle() {
    if (std::this_thread::get_id() == workerId_) {
        return;
    }
    std::unique_lock lock(mutex_);
    cv_.wait(lock, [this] { return work_.empty() && busy_ == 0; });
}

void PnpManager::setAutoStart(bool autoStart) {
    std::lock_guard lock(mutex_);
    autoStart_ = autoStart;
}

DevNode::State PnpManager::state(const DevNode* node) {
    std::lock_guard lock(mutex_);
    return node->state;
}

void PnpManager::setState(DevNode* node, DevNode::State state) {
    std::lock_guard lock(mutex_);
    node->state = state;
}

std::vector<DevNode*> PnpManager::nodes() {
    std::lock_guard lock(mutex_);
    std::vector<DevNode*> all;
    for (auto& node : nodes_) {
        all.push_back(node.get());
    }
    return all;
}

bool PnpManager::hasStack(DevNode::State state) {
    switch (state) {
    case DevNode::State::Added:
    case DevNode::State::Started:
    case DevNode::State::StopPending:
    case DevNode::State::Stopped:
    case DevNode::State::RemovePending:
    case DevNode::State::SurpriseRemoved:
        return true;
    default:
        return false;
    }
}

bool PnpManager::stackHasOpenFiles(DevNode* node) {
    // Stacks change only on this thread, so the links can be walked freely.
    for (DeviceObject* device = node->physicalDevice; device; device = device->attachedDevice) {
        if (device->openFiles.load() > 0) {
            return true;
        }
    }
    return false;
}

NTSTATUS PnpManager::sendPnp(DevNode* node, std::uint8_t minor, DeviceCapabilities* caps) {
    assert(std::this_thread::get_id() == workerId_);
    DeviceObject* top = IoGetAttachedDevice(node->physicalDevice);
    auto irp = std::make_unique<Irp>(top->StackSize);
    irp->IoStatus.Status = STATUS_NOT_SUPPORTED;
    IoStackLocation* next = IoGetNextIrpStackLocation(irp.get());
    next->MajorFunction = IRP_MJ_PNP;
    next->MinorFunction = minor;
    next->Parameters.DeviceCapabilities.Capabilities = caps;
    KEvent done;
    irp->UserEvent = &done;
    IoCallDriver(top, irp.get());
    done.wait(std::nullopt);
    return irp->IoStatus.Status;
}

DevNode* PnpManager::deviceArrived(DeviceObject* physicalDevice, const std::string& hardwareId,
                                   const std::string& instanceId) {
    DevNode* node = nullptr;
    run([&] {
        auto owned = std::make_unique<DevNode>();
        node = owned.get();
        node->physicalDevice = physicalDevice;
        node->hardwareId = hardwareId;
        node->instanceId = instanceId;
        physicalDevice->devNode = node;
        bool autoStart = false;
        {
            std::lock_guard lock(mutex_);
            nodes_.push_back(std::move(owned));
            autoStart = autoStart_;
        }
        DriverObject* driver = kernel_.driverForHardwareId(hardwareId);
        const NTSTATUS added = driver && driver->AddDevice
                                   ? driver->AddDevice(driver, physicalDevice)
                                   : STATUS_NO_SUCH_DEVICE;
        if (!NT_SUCCESS(added)) {
            node->problem = added;
            setState(node, DevNode::State::AddFailed);
            return;
        }
        setState(node, DevNode::State::Added);
        DeviceCapabilities caps;
        if (NT_SUCCESS(sendPnp(node, IRP_MN_QUERY_CAPABILITIES, &caps))) {
            std::lock_guard lock(mutex_);
            node->capabilities = caps;
        }
        if (autoStart) {
            start(node);
        }
    });
    return node;
}

NTSTATUS PnpManager::start(DevNode* node) {
    NTSTATUS status = STATUS_INVALID_DEVICE_REQUEST;
    run([&] {
        const DevNode::State now = state(node);
        if (now != DevNode::State::Added && now != DevNode::State::Stopped) {
            return;
        }
        status = sendPnp(node, IRP_MN_START_DEVICE);
        if (NT_SUCCESS(status)) {
            setState(node, DevNode::State::Started);
            return;
        }
        // A device that fails to start loses its driver stack.
        node->problem = status;
        sendPnp(node, IRP_MN_REMOVE_DEVICE);
        setState(node, DevNode::State::StartFailed);
    });
    return status;
}

NTSTATUS PnpManager::queryStop(DevNode* node) {
    NTSTATUS status = STATUS_INVALID_DEVICE_REQUEST;
    run([&] {
        if (state(node) != DevNode::State::Started) {
            return;
        }
        status = sendPnp(node, IRP_MN_QUERY_STOP_DEVICE);
        if (NT_SUCCESS(status)) {
            setState(node, DevNode::State::StopPending);
        }
    });
    return status;
}

NTSTATUS PnpManager::cancelStop(DevNode* node) {
    NTSTATUS status = STATUS_INVALID_DEVICE_REQUEST;
    run([&] {
        if (state(node) != DevNode::State::StopPending) {
            return;
        }
        status = sendPnp(node, IRP_MN_CANCEL_STOP_DEVICE);
        setState(node, DevNode::State::Started);
    });
    return status;
}

NTSTATUS PnpManager::stop(DevNode* node) {
    NTSTATUS status = STATUS_INVALID_DEVICE_REQUEST;
    run([&] {
        if (state(node) != DevNode::State::StopPending) {
            return;
        }
        status = sendPnp(node, IRP_MN_STOP_DEVICE);
        setState(node, DevNode::State::Stopped);
    });
    return status;
}

NTSTATUS PnpManager::queryRemove(DevNode* node) {
    NTSTATUS status = STATUS_INVALID_DEVICE_REQUEST;
    run([&] {
        if (state(node) != DevNode::State::Started) {
            return;
        }
        status = sendPnp(node, IRP_MN_QUERY_REMOVE_DEVICE);
        if (NT_SUCCESS(status)) {
            setState(node, DevNode::State::RemovePending);
        }
    });
    return status;
}

NTSTATUS PnpManager::cancelRemove(DevNode* node) {
    NTSTATUS status = STATUS_INVALID_DEVICE_REQUEST;
    run([&] {
        if (state(node) != DevNode::State::RemovePending) {
            return;
        }
        status = sendPnp(node, IRP_MN_CANCEL_REMOVE_DEVICE);
        setState(node, DevNode::State::Started);
    });
    return status;
}

NTSTATUS PnpManager::remove(DevNode* node) {
    NTSTATUS status = STATUS_INVALID_DEVICE_REQUEST;
    run([&] {
        if (!hasStack(state(node))) {
            return;
        }
        removeNow(node);
        status = STATUS_SUCCESS;
    });
    return status;
}

void PnpManager::removeNow(DevNode* node) {
    if (!node->physicalDevice) {
        return;
    }
    sendPnp(node, IRP_MN_REMOVE_DEVICE);
    if (hasStack(state(node))) {
        setState(node, DevNode::State::Removed);
    }
    // The bus driver deletes the physical device object of a device that is gone.
    if (!node->connected) {
        node->physicalDevice = nullptr;
    }
}

void PnpManager::deviceGone(DevNode* node, bool force) {
    run([&] {
        node->connected = false;
        const DevNode::State now = state(node);
        if (hasStack(now) && now != DevNode::State::SurpriseRemoved) {
            sendPnp(node, IRP_MN_SURPRISE_REMOVAL);
            setState(node, DevNode::State::SurpriseRemoved);
        }
        if (force || !stackHasOpenFiles(node)) {
            removeNow(node);
        }
    });
}

void PnpManager::lastHandleClosed(DeviceObject*) {
    post([this] {
        for (DevNode* node : nodes()) {
            if (state(node) == DevNode::State::SurpriseRemoved && node->physicalDevice &&
                !stackHasOpenFiles(node)) {
                removeNow(node);
            }
        }
    });
}

void PnpManager::shutdown() {
    run([&] {
        for (DevNode* node : nodes()) {
            if (node->physicalDevice && hasStack(state(node))) {
                removeNow(node);
            }
        }
    });
    waitIdle();
}

// ---------------------------------------------------------------------------
// Power manager

NTSTATUS PowerManager::request(DeviceObject* device, std::uint8_t minor, PowerState state,
                               PowerCompletion completion, void* context) {
    DeviceObject* top = IoGetAttachedDevice(device);
    auto irp = std::make_unique<Irp>(top->StackSize);
    irp->IoStatus.Status = STATUS_NOT_SUPPORTED;
    IoStackLocation* next = IoGetNextIrpStackLocation(irp.get());
    next->MajorFunction = IRP_MJ_POWER;
    next->MinorFunction = minor;
    next->Parameters.Power.Type = PowerStateType::Device;
    next->Parameters.Power.State = state;
    KEvent done;
    irp->UserEvent = &done;
    PoCallDriver(top, irp.get());
    done.wait(std::nullopt);
    if (completion) {
        completion(device, minor, state, context, irp->IoStatus);
    }
    return irp->IoStatus.Status;
}

NTSTATUS PowerManager::setDevicePower(DeviceObject* device, DevicePowerState state) {
    PowerState target;
    target.device = state;
    return request(device, IRP_MN_SET_POWER, target, nullptr, nullptr);
}

void PowerManager::setSystemPower(SystemPowerState state) {
    PnpManager& pnp = kernel_.pnp();
    pnp.run([&] {
        for (DevNode* node : pnp.nodes()) {
            const DevNode::State now = pnp.state(node);
            if (!node->physicalDevice || now == DevNode::State::Removed ||
                now == DevNode::State::SurpriseRemoved || now == DevNode::State::AddFailed) {
                continue;
            }
            DeviceObject* top = IoGetAttachedDevice(node->physicalDevice);
            auto irp = std::make_unique<Irp>(top->StackSize);
            irp->IoStatus.Status = STATUS_NOT_SUPPORTED;
            IoStackLocation* next = IoGetNextIrpStackLocation(irp.get());
            next->MajorFunction = IRP_MJ_POWER;
            next->MinorFunction = IRP_MN_SET_POWER;
            next->Parameters.Power.Type = PowerStateType::System;
            next->Parameters.Power.State.system = state;
            KEvent done;
            irp->UserEvent = &done;
            PoCallDriver(top, irp.get());
            done.wait(std::nullopt);
        }
    });
}

void PowerManager::reportState(DeviceObject* device, PowerStateType type, PowerState state) {
    if (type != PowerStateType::Device) {
        return;
    }
    std::lock_guard lock(mutex_);
    reported_[device] = state.device;
}

DevicePowerState PowerManager::reportedState(DeviceObject* device) {
    std::lock_guard lock(mutex_);
    auto it = reported_.find(device);
    return it == reported_.end() ? DevicePowerState::Unspecified : it->second;
}

void PowerManager::forget(DeviceObject* device) {
    std::lock_guard lock(mutex_);
    reported_.erase(device);
}

NTSTATUS PoRequestPowerIrp(DeviceObject* device, std::uint8_t minor, PowerState state,
                           PowerCompletion completion, void* context) {
    device->kernel->power().request(device, minor, state, completion, context);
    return STATUS_PENDING;
}

void PoSetPowerState(DeviceObject* device, PowerStateType type, PowerState state) {
    device->kernel->power().reportState(device, type, state);
}

void PoStartNextPowerIrp(Irp*) {
    // Power requests are not serialised per device by this stand-in.
}

NTSTATUS PoCallDriver(DeviceObject* device, Irp* irp) {
    return IoCallDriver(device, irp);
}

} // namespace keldo::driver
