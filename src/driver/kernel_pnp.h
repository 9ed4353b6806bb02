// The Plug and Play and power managers of the kernel stand-in.
//
// The Plug and Play manager owns one DevNode per physical device object that a
// bus driver reports. It runs every Plug and Play request on its own worker
// thread, one at a time, as the real manager does; the public calls post the
// work and wait for it, except where noted.
//
// Device node states (DevNode::State) and who moves them:
//
//   (reported) --add device fails-------------------------> AddFailed
//   (reported) --add device--> Added --start ok-----------> Started
//                              Added --start fails--> remove request --> StartFailed
//   Started --query stop--> StopPending --stop--> Stopped --start--> Started
//           StopPending --cancel stop--> Started
//   Started --query remove--> RemovePending --cancel remove--> Started
//   any stacked state --surprise removal (unplug)--> SurpriseRemoved
//   SurpriseRemoved --last handle closed--> remove request --> Removed
//   any stacked state --remove--> Removed
//
// A removal that follows an unplug waits until every handle on the stack is
// closed, so that a device object never disappears under an open handle.
#pragma once

#include "kernel.h"

#include <deque>
#include <functional>
#include <thread>

namespace keldo::driver {

struct DevNode {
    enum class State {
        Reported,
        AddFailed,
        Added,
        Started,
        StartFailed,
        StopPending,
        Stopped,
        RemovePending,
        SurpriseRemoved,
        Removed
    };

    DeviceObject* physicalDevice = nullptr; // null once the bus deleted it
    std::string hardwareId;
    std::string instanceId;
    State state = State::Reported;
    NTSTATUS problem = STATUS_SUCCESS; // status of the failed add or start
    DeviceCapabilities capabilities;
    bool connected = true;
};

class PnpManager {
public:
    explicit PnpManager(Kernel& kernel);
    ~PnpManager();

    // A bus driver reports a new device: add device, query capabilities and,
    // unless auto-start is off, start.
    DevNode* deviceArrived(DeviceObject* physicalDevice, const std::string& hardwareId,
                           const std::string& instanceId);
    // A bus driver reports that the device is gone: surprise removal, then
    // removal once no handle is open (at once when force is set).
    void deviceGone(DevNode* node, bool force = false);

    // Test and administration requests on a device node; each returns the
    // status of the request it sends.
    NTSTATUS start(DevNode* node);
    NTSTATUS queryStop(DevNode* node);
    NTSTATUS cancelStop(DevNode* node);
    NTSTATUS stop(DevNode* node);
    NTSTATUS queryRemove(DevNode* node);
    NTSTATUS cancelRemove(DevNode* node);
    NTSTATUS remove(DevNode* node);

    // Devices reported while auto-start is off are added but not started.
    void setAutoStart(bool autoStart);

    // Runs work on the manager's thread later (used for port cycling).
    void post(std::function<void()> work);
    // Runs work on the manager's thread and waits for it (inline when called
    // from that thread).
    void run(std::function<void()> work);
    // Waits until every posted piece of work has run.
    void waitIdle();

    // Called by the I/O manager when the last handle on a device is closed.
    void lastHandleClosed(DeviceObject* device);

    DevNode::State state(const DevNode* node);
    std::vector<DevNode*> nodes();

    // Removes every device still present; used when the machine shuts down.
    void shutdown();

private:
    void workerLoop();
    NTSTATUS sendPnp(DevNode* node, std::uint8_t minor, DeviceCapabilities* caps = nullptr);
    void removeNow(DevNode* node);
    static bool hasStack(DevNode::State state);
    static bool stackHasOpenFiles(DevNode* node);
    void setState(DevNode* node, DevNode::State state);

    Kernel& kernel_;
    std::mutex mutex_;
    std::condition_variable cv_;
    std::deque<std::function<void()>> work_;
    bool stopping_ = false;
    int busy_ = 0;
    bool autoStart_ = true;
    std::vector<std::unique_ptr<DevNode>> nodes_;
    std::thread worker_;
    std::thread::id workerId_;
};

// The power manager: builds and sends power requests, records the power state
// that drivers report, and moves the whole system between working and sleep.
class PowerManager {
public:
    explicit PowerManager(Kernel& kernel) : kernel_(kernel) {}

    // Sends a device power request to the top of device's stack and waits.
    NTSTATUS setDevicePower(DeviceObject* device, DevicePowerState state);
    // Sends a system power request to every started device and waits for each.
    void setSystemPower(SystemPowerState state);

    NTSTATUS request(DeviceObject* device, std::uint8_t minor, PowerState state,
                     PowerCompletion completion, void* context);
    void reportState(DeviceObject* device, PowerStateType type, PowerState state);
    // The device power state last reported with PoSetPowerState.
    DevicePowerState reportedState(DeviceObject* device);
    void forget(DeviceObject* device);

private:
    Kernel& kernel_;
    std::mutex mutex_;
    std::map<DeviceObject*, DevicePowerState> reported_;
};

} // namespace keldo::driver
