// The kernel-services stand-in: just enough of the Windows Driver Model for a
// function driver and a bus driver to run in one process. Driver code calls
// the familiar routines (IoCreateDevice, IoCallDriver, KeWaitForSingleObject,
// PoRequestPowerIrp...) with the familiar rules:
//
//   * a request packet (Irp) has one stack location per device of the stack;
//     IoCallDriver moves to the next lower location and calls that device's
//     driver; IoCompleteRequest walks back up, calling completion routines;
//     a routine returning STATUS_MORE_PROCESSING_REQUIRED stops the walk and
//     keeps the packet for its driver.
//   * a pending packet can be cancelled: IoCancelIrp sets Irp::Cancel and runs
//     the cancel routine that the holder installed with IoSetCancelRoutine.
//   * device objects live in one object namespace ("\Device\...", "\??\...",
//     which "\DosDevices\" is another name of); symbolic links point at them.
//
// Only one Kernel exists at a time (like the machine it stands for); drivers
// reach it through the objects they are handed, clients through Kernel::current().
#pragma once

#include "kernel_types.h"

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace keldo::driver {

struct DriverObject;
struct DeviceObject;
struct Irp;
struct FileObject;
class Kernel;
class PnpManager;
class PowerManager;
class IoManager;
struct DevNode;

using DriverDispatch = NTSTATUS (*)(DeviceObject* device, Irp* irp);
using DriverAddDevice = NTSTATUS (*)(DriverObject* driver, DeviceObject* physicalDevice);
using DriverUnloadRoutine = void (*)(DriverObject* driver);
using DriverInitialize = NTSTATUS (*)(DriverObject* driver, const std::string& registryPath);
using IoCompletionRoutine = NTSTATUS (*)(DeviceObject* device, Irp* irp, void* context);
using DriverCancel = void (*)(DeviceObject* device, Irp* irp);

// ---------------------------------------------------------------------------
// Synchronisation

// Interrupt request level, kept per thread so that waits at raised level are caught.
enum class KIRQL : std::uint8_t { Passive = 0, Apc = 1, Dispatch = 2 };
KIRQL KeGetCurrentIrql();

// A notification event: stays signalled until cleared.
class KEvent {
public:
    explicit KEvent(bool signalled = false) : signalled_(signalled) {}
    void set();
    void clear();
    // True when signalled, false when the timeout passed first.
    bool wait(std::optional<std::chrono::milliseconds> timeout);

private:
    std::mutex mutex_;
    std::condition_variable cv_;
    bool signalled_;
};

void KeInitializeEvent(KEvent* event, bool signalled);
void KeSetEvent(KEvent* event);
void KeClearEvent(KEvent* event);
// STATUS_SUCCESS when signalled, STATUS_TIMEOUT when the timeout passed; no
// timeout waits for ever. Must be called at passive level.
NTSTATUS KeWaitForSingleObject(KEvent* event,
                               std::optional<std::chrono::milliseconds> timeout = std::nullopt);

// A spin lock raises the holder to dispatch level, where waiting is forbidden.
class KSpinLock {
public:
    void acquire();
    void release();

private:
    std::atomic_flag flag_;
};
void KeAcquireSpinLock(KSpinLock* lock, KIRQL* oldIrql);
void KeReleaseSpinLock(KSpinLock* lock, KIRQL oldIrql);

// A kernel mutex; like KMUTEX it may be acquired again by its owner.
class KMutex {
public:
    void acquire() { mutex_.lock(); }
    void release() { mutex_.unlock(); }

private:
    std::recursive_mutex mutex_;
};

// ---------------------------------------------------------------------------
// Pool memory, with fault injection for tests of the "no memory" paths.

enum class PoolType { NonPaged, Paged };
void* ExAllocatePoolWithTag(PoolType type, std::size_t bytes, std::uint32_t tag);
void ExFreePool(void* block);

// Constructs a T in pool memory; nullptr when the allocation fails.
template <typename T> T* allocateFromPool(std::uint32_t tag) {
    void* block = ExAllocatePoolWithTag(PoolType::NonPaged, sizeof(T), tag);
    return block ? new (block) T() : nullptr;
}
template <typename T> void freeToPool(T* object) {
    if (object) {
        object->~T();
        ExFreePool(object);
    }
}

// Makes the nth allocation (counting from 1) with the given tag fail, once or
// from then on. Faults are process-wide; clearPoolFaults() removes them all.
void injectPoolFault(std::uint32_t tag, unsigned nth, bool persistent);
void clearPoolFaults();

constexpr std::uint32_t poolTag(const char (&text)[5]) {
    return std::uint32_t(std::uint8_t(text[0])) | std::uint32_t(std::uint8_t(text[1])) << 8 |
           std::uint32_t(std::uint8_t(text[2])) << 16 | std::uint32_t(std::uint8_t(text[3])) << 24;
}

// ---------------------------------------------------------------------------
// Objects

struct DriverObject {
    Kernel* kernel = nullptr;
    std::string driverName; // "\Driver\zrtdrv9x"
    std::array<DriverDispatch, IRP_MJ_MAXIMUM_FUNCTION + 1> MajorFunction{};
    DriverAddDevice AddDevice = nullptr;
    DriverUnloadRoutine DriverUnload = nullptr;
    void* DriverContext = nullptr; // the class library's driver instance
    std::vector<DeviceObject*> devices;
};

struct DeviceObject : std::enable_shared_from_this<DeviceObject> {
    Kernel* kernel = nullptr;
    DriverObject* driver = nullptr;
    std::string name; // empty for unnamed devices
    std::uint32_t DeviceType = 0;
    std::uint32_t Characteristics = 0;
    std::uint32_t Flags = 0;
    bool exclusive = false;
    std::int8_t StackSize = 1;
    void* DeviceExtension = nullptr;
    void* libraryContext = nullptr; // the class library's device object for this device

    // Stack links kept by the kernel (IoAttachDeviceToDeviceStack).
    DeviceObject* attachedDevice = nullptr; // the device above, if any
    DeviceObject* attachedTo = nullptr;     // the device below, if any
    DevNode* devNode = nullptr;             // set on physical device objects

    std::atomic<int> openFiles{0};
    std::atomic<bool> deleted{false};

    std::unique_ptr<std::max_align_t[]> extensionStorage;
};

// A locked caller buffer handed to a direct-I/O driver.
struct Mdl {
    void* base = nullptr;
    std::uint32_t byteCount = 0;
};
inline void* MmGetSystemAddressForMdlSafe(Mdl* mdl) {
    return mdl ? mdl->base : nullptr;
}

struct IoStatusBlock {
    NTSTATUS Status = STATUS_SUCCESS;
    std::size_t Information = 0;
};

inline constexpr std::uint8_t SL_PENDING_RETURNED = 0x01;
inline constexpr std::uint8_t SL_INVOKE_ON_CANCEL = 0x20;
inline constexpr std::uint8_t SL_INVOKE_ON_SUCCESS = 0x40;
inline constexpr std::uint8_t SL_INVOKE_ON_ERROR = 0x80;

struct IoStackLocation {
    std::uint8_t MajorFunction = 0;
    std::uint8_t MinorFunction = 0;
    std::uint8_t Control = 0;
    struct {
        struct {
            std::uint32_t Length = 0;
        } Read, Write;
        struct {
            std::uint32_t OutputBufferLength = 0;
            std::uint32_t InputBufferLength = 0;
            std::uint32_t IoControlCode = 0;
        } DeviceIoControl;
        struct {
            void* Argument1 = nullptr;
        } Others;
        struct {
            DeviceCapabilities* Capabilities = nullptr;
        } DeviceCapabilities;
        struct {
            PowerStateType Type = PowerStateType::Device;
            PowerState State;
        } Power;
    } Parameters;
    DeviceObject* Device = nullptr; // DeviceObject of the location
    FileObject* File = nullptr;     // FileObject of the request
    IoCompletionRoutine CompletionRoutine = nullptr;
    void* Context = nullptr;
};

struct Irp {
    explicit Irp(int stackSize);

    IoStatusBlock IoStatus;
    Mdl* MdlAddress = nullptr;
    void* SystemBuffer = nullptr; // AssociatedIrp.SystemBuffer
    bool PendingReturned = false;
    std::atomic<bool> Cancel{false};
    std::atomic<DriverCancel> CancelRoutine{nullptr};
    void* DriverContext[4] = {}; // for whoever holds the packet (Tail.Overlay.DriverContext)

    // Stack: index StackCount is "above the top"; IoCallDriver moves down by one.
    int CurrentLocation;
    std::vector<IoStackLocation> stack;

    // Final completion, for packets built by the I/O and power managers.
    KEvent* UserEvent = nullptr;
    void (*finalCompletion)(Irp* irp, void* context) = nullptr;
    void* finalContext = nullptr;
};

Irp* IoAllocateIrp(std::int8_t stackSize);
void IoFreeIrp(Irp* irp);
IoStackLocation* IoGetCurrentIrpStackLocation(Irp* irp);
IoStackLocation* IoGetNextIrpStackLocation(Irp* irp);
void IoSkipCurrentIrpStackLocation(Irp* irp);
void IoCopyCurrentIrpStackLocationToNext(Irp* irp);
void IoSetCompletionRoutine(Irp* irp, IoCompletionRoutine routine, void* context, bool onSuccess,
                            bool onError, bool onCancel);
void IoMarkIrpPending(Irp* irp);
NTSTATUS IoCallDriver(DeviceObject* device, Irp* irp);
void IoCompleteRequest(Irp* irp);
// Returns the previous routine; nullptr means a cancel is already running it.
DriverCancel IoSetCancelRoutine(Irp* irp, DriverCancel routine);
bool IoCancelIrp(Irp* irp);

NTSTATUS IoCreateDevice(DriverObject* driver, std::size_t extensionSize, const std::string* name,
                        std::uint32_t deviceType, std::uint32_t characteristics, bool exclusive,
                        DeviceObject** device);
void IoDeleteDevice(DeviceObject* device);
NTSTATUS IoCreateSymbolicLink(const std::string& link, const std::string& target);
NTSTATUS IoDeleteSymbolicLink(const std::string& link);
// Returns the device that was on top of target's stack (the new lower device).
DeviceObject* IoAttachDeviceToDeviceStack(DeviceObject* source, DeviceObject* target);
void IoDetachDevice(DeviceObject* lower);
DeviceObject* IoGetAttachedDevice(DeviceObject* device);
NTSTATUS IoRegisterDeviceInterface(DeviceObject* physicalDevice, const Guid& interfaceClass,
                                   std::string* symbolicLinkName);
NTSTATUS IoSetDeviceInterfaceState(const std::string& symbolicLinkName, bool enable);
NTSTATUS ZwOpenKey(const std::string& path);

// Power manager entry points for drivers.
using PowerCompletion = void (*)(DeviceObject* device, std::uint8_t minor, PowerState state,
                                 void* context, const IoStatusBlock& status);
NTSTATUS PoRequestPowerIrp(DeviceObject* device, std::uint8_t minor, PowerState state,
                           PowerCompletion completion, void* context);
void PoSetPowerState(DeviceObject* device, PowerStateType type, PowerState state);
void PoStartNextPowerIrp(Irp* irp);
NTSTATUS PoCallDriver(DeviceObject* device, Irp* irp);

// ---------------------------------------------------------------------------
// The machine

enum class OsFlavor { Windows98, WindowsNT };

class Kernel {
public:
    explicit Kernel(OsFlavor flavor = OsFlavor::WindowsNT);
    ~Kernel();
    Kernel(const Kernel&) = delete;
    Kernel& operator=(const Kernel&) = delete;

    // The running kernel; there is at most one.
    static Kernel& current();

    OsFlavor flavor() const { return flavor_; }

    // Creates the driver object and calls the driver's entry; nullptr when the
    // entry fails. Hardware IDs bound with bindHardwareId select it for devices.
    DriverObject* loadDriver(const std::string& serviceName, DriverInitialize entry);
    void unloadDriver(DriverObject* driver);
    void bindHardwareId(const std::string& hardwareId, DriverObject* driver);
    DriverObject* driverForHardwareId(const std::string& hardwareId);

    PnpManager& pnp() { return *pnp_; }
    PowerManager& power() { return *power_; }
    IoManager& io() { return *io_; }

    // Object namespace. Names are matched without regard to case; "\DosDevices\"
    // is the same directory as "\??\".
    static std::string canonicalName(const std::string& name);
    NTSTATUS insertDevice(const std::string& name, DeviceObject* device);
    void removeDevice(DeviceObject* device);
    NTSTATUS insertLink(const std::string& link, const std::string& target);
    NTSTATUS removeLink(const std::string& link);
    // Follows links; keeps the device alive for the caller.
    std::shared_ptr<DeviceObject> resolve(const std::string& name);
    bool nameExists(const std::string& name);

    // Registry keys (existence only).
    void createKey(const std::string& path);
    bool keyExists(const std::string& path);

    // Device interfaces.
    NTSTATUS registerInterface(DeviceObject* physicalDevice, const Guid& interfaceClass,
                               std::string* linkName);
    NTSTATUS setInterfaceState(const std::string& linkName, bool enable);
    // Paths of the enabled interfaces of a class, as clients open them ("\\?\...").
    std::vector<std::string> enabledInterfaces(const Guid& interfaceClass);

    // Device object bookkeeping.
    std::shared_ptr<DeviceObject> newDevice();
    void releaseDevice(DeviceObject* device);

private:
    struct InterfaceRecord {
        Guid interfaceClass;
        std::string linkName; // "\??\USB#...#{guid}"
        std::string target;   // name of the physical device object
        DeviceObject* physicalDevice = nullptr;
        bool enabled = false;
    };

    OsFlavor flavor_;
    std::mutex mutex_;
    std::map<std::string, std::weak_ptr<DeviceObject>> deviceNames_;
    std::map<std::string, std::string> links_; // canonical link -> target name
    std::map<DeviceObject*, std::shared_ptr<DeviceObject>> devices_;
    std::set<std::string> keys_;
    std::vector<InterfaceRecord> interfaces_;
    std::vector<std::unique_ptr<DriverObject>> drivers_;
    std::map<std::string, DriverObject*> hardwareIds_;
    std::unique_ptr<PnpManager> pnp_;
    std::unique_ptr<PowerManager> power_;
    std::unique_ptr<IoManager> io_;
};

} // namespace keldo::driver
