// The driver class library: a driver class whose virtual operations are the
// driver's entry points, and a Plug and Play device base that applies the
// admission, Plug and Play and power policies around the handlers a device
// class overrides. One completion point per request: a handler completes the
// packet it is given exactly once (complete() or a pass-down).
#pragma once

#include "kernel.h"

#include <deque>
#include <memory>
#include <mutex>

namespace keldo::driver {

class PnpDeviceBase;

class DriverBase {
public:
    virtual ~DriverBase() = default;
    // The driver's own part of driver entry, after the library's part.
    virtual NTSTATUS driverEntry(const std::string& registryPath) = 0;
    // Library default: deletes every device the driver still owns.
    virtual void unload();
    virtual NTSTATUS addDevice(DeviceObject* physicalDevice) = 0;
    // Sees every request before its device; library default: hands it to the device.
    virtual NTSTATUS requestFilter(PnpDeviceBase* device, Irp* irp);

    DriverObject* driverObject() const { return driver_; }
    const std::string& registryPath() const { return registryPath_; }
    // Windows 98/Me is recognised by the Class key under Services and not under Control.
    bool isWindows9x() const { return windows9x_; }
    // "\DosDevices\" on Windows 98/Me, "\??\" on the NT line: one namespace.
    std::string symbolicLinkPrefix() const { return windows9x_ ? "\\DosDevices\\" : "\\??\\"; }

    // The library part of driver entry: detects the system, keeps the registry
    // path, registers the entry points and runs instance->driverEntry.
    static NTSTATUS initialize(DriverObject* driver, const std::string& registryPath,
                               std::unique_ptr<DriverBase> instance);
    static DriverBase* of(DriverObject* driver) {
        return static_cast<DriverBase*>(driver->DriverContext);
    }

private:
    static NTSTATUS dispatchEntry(DeviceObject* device, Irp* irp);
    static NTSTATUS addDeviceEntry(DriverObject* driver, DeviceObject* physicalDevice);
    static void unloadEntry(DriverObject* driver);

    DriverObject* driver_ = nullptr;
    std::string registryPath_;
    bool windows9x_ = false;
};

// The Plug and Play device base. The object lives in its device object's
// extension; destroy() ends both.
//
// Plug and Play states (pnpState()) and the request that moves each:
//
//   NotStarted --start ok--> Started --query stop--> StopPending --stop--> Stopped
//   Stopped --start ok--> Started          StopPending --cancel stop--> Started
//   Started/Stopped --query remove--> RemovePending --cancel remove--> (previous)
//   any --surprise removal--> SurpriseRemoved --remove--> Removed (object destroyed)
//   any --remove--> Removed (object destroyed)
//
// Admission of every request other than Plug and Play and power (admit()):
//   SurpriseRemoved, Removed            -> STATUS_DELETE_PENDING (create too)
//   NotStarted                          -> STATUS_UNSUCCESSFUL (create, close, cleanup pass)
//   StopPending, Stopped, RemovePending,
//   or a device power transition         -> held; dispatched when the device resumes,
//                                           STATUS_CANCELLED if cancelled,
//                                           STATUS_DELETE_PENDING if it is removed
//   Started below D0                     -> D0 requested first, then handled
// Query stop and query remove wait until the requests in progress have finished;
// removal waits for them too, after failing the held ones.
//
// Device power: D0 after add device; a set-power request to D0 passes down,
// calls onDevicePowerUp(), then reports D0 to the power manager; to a lower
// state it reports first, then passes down. A system sleep request moves the
// device to D3 first; a system working request brings it back to D0.
class PnpDeviceBase {
public:
    enum class PnpState {
        NotStarted,
        Started,
        StopPending,
        Stopped,
        RemovePending,
        SurpriseRemoved,
        Removed
    };

    struct PowerPolicy {
        bool powerUpOnOpen = true;
        bool powerDownOnLastClose = false;
        bool waitWake = false;
    };

    virtual ~PnpDeviceBase() = default;

    static PnpDeviceBase* of(DeviceObject* device) {
        return static_cast<PnpDeviceBase*>(device->libraryContext);
    }
    // Runs the device's destructor, detaches from the stack, deletes the
    // symbolic link and deletes the device object.
    static void destroy(PnpDeviceBase* device);

    NTSTATUS dispatch(Irp* irp);

    DeviceObject* deviceObject() const { return self_; }
    DeviceObject* physicalDevice() const { return physical_; }
    const std::string& symbolicLink() const { return link_; }
    const std::string& interfaceLink() const { return interfaceLink_; }
    PnpState pnpState();
    DevicePowerState powerState();
    int openHandles() const { return openHandles_.load(); }
    std::size_t heldRequests();

    // Records the power state after add device (the device starts in D0).
    void initialPowerState(DevicePowerState state);

protected:
    PnpDeviceBase(DeviceObject* self, DeviceObject* physicalDevice, std::string symbolicLink);

    // Initialises the base on the physical device and registers the interface
    // class; STATUS_INSUFFICIENT_RESOURCES when registration fails.
    NTSTATUS initializePnp(const Guid& interfaceClass);
    void setLowerDevice(DeviceObject* lower) { lower_ = lower; }
    DeviceObject* lowerDevice() const { return lower_; }
    void setPowerPolicy(const PowerPolicy& policy) { policy_ = policy; }

    // Request handlers; each completes its packet once.
    virtual NTSTATUS create(Irp* irp) { return complete(irp, STATUS_SUCCESS); }
    virtual NTSTATUS close(Irp* irp) { return complete(irp, STATUS_SUCCESS); }
    virtual NTSTATUS cleanup(Irp* irp) { return complete(irp, STATUS_SUCCESS); }
    virtual NTSTATUS read(Irp* irp) { return complete(irp, STATUS_NOT_IMPLEMENTED); }
    virtual NTSTATUS write(Irp* irp) { return complete(irp, STATUS_NOT_IMPLEMENTED); }
    virtual NTSTATUS deviceControl(Irp* irp) { return complete(irp, STATUS_NOT_IMPLEMENTED); }
    virtual NTSTATUS systemControl(Irp* irp) { return passDown(irp); }
    virtual NTSTATUS otherRequest(Irp* irp) { return complete(irp, STATUS_NOT_IMPLEMENTED); }

    // Plug and Play hooks; the base completes the packet with their status.
    virtual NTSTATUS onStartDevice(Irp*) { return STATUS_SUCCESS; }
    virtual NTSTATUS onStopDevice(Irp*) { return STATUS_SUCCESS; }
    virtual NTSTATUS onRemoveDevice(Irp*) { return STATUS_SUCCESS; }
    // Handles the query itself (pass it down, possibly with a completion routine).
    virtual NTSTATUS onQueryCapabilities(Irp* irp) { return passDown(irp); }
    // The device has just returned to D0; its new state is not reported yet.
    virtual void onDevicePowerUp() {}

    static NTSTATUS complete(Irp* irp, NTSTATUS status, std::size_t information = 0);
    NTSTATUS passDown(Irp* irp);
    // Sends the packet down and waits; the packet is back in our hands afterwards.
    NTSTATUS forwardAndWait(Irp* irp);

private:
    enum class Admission { Proceed, Held, Refused };

    bool removalBegun() const {
        return state_ == PnpState::SurpriseRemoved || state_ == PnpState::Removed;
    }
    bool holding() const {
        return powerTransition_ || state_ == PnpState::StopPending || state_ == PnpState::Stopped ||
               state_ == PnpState::RemovePending;
    }
    // Moves the Plug and Play state; caller holds ioLock_.
    void transition(PnpState to);
    void checkState() const;

    NTSTATUS dispatchCreate(Irp* irp);
    NTSTATUS dispatchClose(Irp* irp);
    NTSTATUS dispatchIo(Irp* irp);
    NTSTATUS handle(Irp* irp);
    NTSTATUS dispatchPnp(Irp* irp);
    NTSTATUS dispatchPower(Irp* irp);
    NTSTATUS setDevicePower(Irp* irp, DevicePowerState target);
    void requestDevicePower(DevicePowerState state);
    void ensurePowered();
    void waitUntilIdle(std::unique_lock<std::mutex>& lock);
    void releaseHeld();
    void failHeld(NTSTATUS status);
    void setInterface(bool enable);
    static void cancelHeld(DeviceObject* device, Irp* irp);

    DeviceObject* self_;
    DeviceObject* physical_;
    DeviceObject* lower_ = nullptr;
    std::string link_;
    std::string interfaceLink_;
    PowerPolicy policy_;

    KMutex deviceMutex_; // creates, closes and removal
    std::mutex ioLock_;  // state, power transition, held queue, requests in progress
    std::condition_variable ioIdle_;
    PnpState state_ = PnpState::NotStarted;
    PnpState beforeRemovePending_ = PnpState::NotStarted;
    bool powerTransition_ = false;
    DevicePowerState power_ = DevicePowerState::D0;
    int inProgress_ = 0;
    std::deque<Irp*> held_;
    std::atomic<int> openHandles_{0};
    std::mutex powerIrpMutex_;
    std::mutex interfaceMutex_;
    bool interfaceEnabled_ = false;
};

} // namespace keldo::driver
