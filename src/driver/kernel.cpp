// Object namespace, device objects and stacks, device interfaces, the registry
// and driver loading of the kernel stand-in.
#include "kernel.h"

#include "kernel_io.h"
#include "kernel_pnp.h"

#include <algorithm>
#include <cassert>
#include <cctype>
#include <cstdio>

namespace keldo::driver {

namespace {

Kernel* runningKernel = nullptr;

const std::string kServicesKey = "\\Registry\\Machine\\System\\CurrentControlSet\\Services";
const std::string kControlKey = "\\Registry\\Machine\\System\\CurrentControlSet\\Control";

std::string upper(std::string text) {
    for (char& c : text) {
        c = char(std::toupper(static_cast<unsigned char>(c)));
    }
    return text;
}

bool startsWith(const std::string& text, const std::string& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

} // namespace

std::string guidToString(const Guid& guid) {
    char text[40];
    std::snprintf(text, sizeof text, "{%08x-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x}",
                  unsigned(guid.data1), unsigned(guid.data2), unsigned(guid.data3), guid.data4[0],
                  guid.data4[1], guid.data4[2], guid.data4[3], guid.data4[4], guid.data4[5],
                  guid.data4[6], guid.data4[7]);
    return text;
}

// ---------------------------------------------------------------------------
// Kernel

Kernel::Kernel(OsFlavor flavor) : flavor_(flavor) {
    assert(!runningKernel && "only one kernel runs at a time");
    runningKernel = this;
    createKey(kServicesKey);
    createKey(flavor == OsFlavor::Windows98 ? kServicesKey + "\\Class" : kControlKey + "\\Class");
    pnp_ = std::make_unique<PnpManager>(*this);
    power_ = std::make_unique<PowerManager>(*this);
    io_ = std::make_unique<IoManager>(*this);
}

Kernel::~Kernel() {
    pnp_->shutdown();
    while (!drivers_.empty()) {
        unloadDriver(drivers_.back().get());
    }
    io_.reset();
    pnp_.reset();
    power_.reset();
    runningKernel = nullptr;
}

Kernel& Kernel::current() {
    assert(runningKernel && "no kernel is running");
    return *runningKernel;
}

DriverObject* Kernel::loadDriver(const std::string& serviceName, DriverInitialize entry) {
    auto driver = std::make_unique<DriverObject>();
    driver->kernel = this;
    driver->driverName = "\\Driver\\" + serviceName;
    const std::string registryPath = kServicesKey + "\\" + serviceName;
    createKey(registryPath);
    DriverObject* raw = driver.get();
    {
        std::lock_guard lock(mutex_);
        drivers_.push_back(std::move(driver));
    }
    if (!NT_SUCCESS(entry(raw, registryPath))) {
        std::lock_guard lock(mutex_);
        drivers_.pop_back();
        return nullptr;
    }
    return raw;
}

void Kernel::unloadDriver(DriverObject* driver) {
    if (driver->DriverUnload) {
        driver->DriverUnload(driver);
    }
    // Whatever the driver left behind goes with it.
    while (!driver->devices.empty()) {
        IoDeleteDevice(driver->devices.back());
    }
    std::lock_guard lock(mutex_);
    std::erase_if(hardwareIds_, [driver](const auto& entry) { return entry.second == driver; });
    std::erase_if(drivers_, [driver](const auto& owned) { return owned.get() == driver; });
}

void Kernel::bindHardwareId(const std::string& hardwareId, DriverObject* driver) {
    std::lock_guard lock(mutex_);
    hardwareIds_[upper(hardwareId)] = driver;
}

DriverObject* Kernel::driverForHardwareId(const std::string& hardwareId) {
    std::lock_guard lock(mutex_);
    auto it = hardwareIds_.find(upper(hardwareId));
    return it == hardwareIds_.end() ? nullptr : it->second;
}

std::string Kernel::canonicalName(const std::string& name) {
    std::string canonical = upper(name);
    for (const char* alias : {"\\DOSDEVICES\\", "\\GLOBAL??\\"}) {
        if (startsWith(canonical, alias)) {
            canonical = "\\??\\" + canonical.substr(std::string(alias).size());
        }
    }
    return canonical;
}

NTSTATUS Kernel::insertDevice(const std::string& name, DeviceObject* device) {
    const std::string key = canonicalName(name);
    if (key.empty() || key[0] != '\\') {
        return STATUS_OBJECT_NAME_INVALID;
    }
    std::lock_guard lock(mutex_);
    if (deviceNames_.count(key) || links_.count(key)) {
        return STATUS_OBJECT_NAME_COLLISION;
    }
    deviceNames_[key] = device->weak_from_this();
    return STATUS_SUCCESS;
}

void Kernel::removeDevice(DeviceObject* device) {
    if (device->name.empty()) {
        return;
    }
    std::lock_guard lock(mutex_);
    deviceNames_.erase(canonicalName(device->name));
}

NTSTATUS Kernel::insertLink(const std::string& link, const std::string& target) {
    const std::string key = canonicalName(link);
    std::lock_guard lock(mutex_);
    if (deviceNames_.count(key) || links_.count(key)) {
        return STATUS_OBJECT_NAME_COLLISION;
    }
    links_[key] = target;
    return STATUS_SUCCESS;
}

NTSTATUS Kernel::removeLink(const std::string& link) {
    std::lock_guard lock(mutex_);
    return links_.erase(canonicalName(link)) ? STATUS_SUCCESS : STATUS_OBJECT_NAME_NOT_FOUND;
}

std::shared_ptr<DeviceObject> Kernel::resolve(const std::string& name) {
    std::lock_guard lock(mutex_);
    std::string key = canonicalName(name);
    for (int depth = 0; depth < 8; ++depth) {
        if (auto link = links_.find(key); link != links_.end()) {
            key = canonicalName(link->second);
            continue;
        }
        if (auto device = deviceNames_.find(key); device != deviceNames_.end()) {
            return device->second.lock();
        }
        return nullptr;
    }
    return nullptr;
}

bool Kernel::nameExists(const std::string& name) {
    const std::string key = canonicalName(name);
    std::lock_guard lock(mutex_);
    return deviceNames_.count(key) || links_.count(key);
}

void Kernel::createKey(const std::string& path) {
    std::lock_guard lock(mutex_);
    keys_.insert(upper(path));
}

bool Kernel::keyExists(const std::string& path) {
    std::lock_guard lock(mutex_);
    return keys_.count(upper(path)) != 0;
}

NTSTATUS Kernel::registerInterface(DeviceObject* physicalDevice, const Guid& interfaceClass,
                                   std::string* linkName) {
    if (!physicalDevice || !physicalDevice->devNode || physicalDevice->name.empty()) {
        return STATUS_INVALID_DEVICE_REQUEST;
    }
    std::string instance = physicalDevice->devNode->instanceId;
    std::replace(instance.begin(), instance.end(), '\\', '#');
    const std::string name = "\\??\\" + instance + "#" + guidToString(interfaceClass);
    std::lock_guard lock(mutex_);
    for (const InterfaceRecord& record : interfaces_) {
        if (record.physicalDevice == physicalDevice && record.interfaceClass == interfaceClass) {
            *linkName = record.linkName;
            return STATUS_SUCCESS;
        }
    }
    interfaces_.push_back({interfaceClass, name, physicalDevice->name, physicalDevice, false});
    *linkName = name;
    return STATUS_SUCCESS;
}

NTSTATUS Kernel::setInterfaceState(const std::string& linkName, bool enable) {
    std::string target;
    {
        std::lock_guard lock(mutex_);
        auto it = std::find_if(interfaces_.begin(), interfaces_.end(),
                               [&](const InterfaceRecord& r) { return r.linkName == linkName; });
        if (it == interfaces_.end()) {
            return STATUS_OBJECT_NAME_NOT_FOUND;
        }
        if (it->enabled == enable) {
            return STATUS_SUCCESS;
        }
        it->enabled = enable;
        target = it->target;
    }
    return enable ? insertLink(linkName, target) : removeLink(linkName);
}

std::vector<std::string> Kernel::enabledInterfaces(const Guid& interfaceClass) {
    std::lock_guard lock(mutex_);
    std::vector<std::string> paths;
    for (const InterfaceRecord& record : interfaces_) {
        if (record.enabled && record.interfaceClass == interfaceClass) {
            paths.push_back("\\\\?\\" + record.linkName.substr(4));
        }
    }
    return paths;
}

std::shared_ptr<DeviceObject> Kernel::newDevice() {
    auto device = std::make_shared<DeviceObject>();
    device->kernel = this;
    std::lock_guard lock(mutex_);
    devices_[device.get()] = device;
    return device;
}

void Kernel::releaseDevice(DeviceObject* device) {
    std::shared_ptr<DeviceObject> last;
    std::lock_guard lock(mutex_);
    std::vector<std::string> links;
    for (auto it = interfaces_.begin(); it != interfaces_.end();) {
        if (it->physicalDevice == device) {
            links_.erase(canonicalName(it->linkName));
            it = interfaces_.erase(it);
        } else {
            ++it;
        }
    }
    if (auto it = devices_.find(device); it != devices_.end()) {
        last = std::move(it->second); // freed here unless a file object still holds it
        devices_.erase(it);
    }
}

// ---------------------------------------------------------------------------
// Device routines

namespace {
std::mutex driverDevicesMutex;
std::mutex stackMutex;
} // namespace

NTSTATUS IoCreateDevice(DriverObject* driver, std::size_t extensionSize, const std::string* name,
                        std::uint32_t deviceType, std::uint32_t characteristics, bool exclusive,
                        DeviceObject** device) {
    Kernel& kernel = *driver->kernel;
    std::shared_ptr<DeviceObject> created = kernel.newDevice();
    created->driver = driver;
    created->DeviceType = deviceType;
    created->Characteristics = characteristics;
    created->exclusive = exclusive;
    created->Flags = DO_DEVICE_INITIALIZING;
    if (extensionSize) {
        const std::size_t units =
            (extensionSize + sizeof(std::max_align_t) - 1) / sizeof(std::max_align_t);
        created->extensionStorage = std::make_unique<std::max_align_t[]>(units);
        created->DeviceExtension = created->extensionStorage.get();
    }
    if (name) {
        created->name = *name;
        if (NTSTATUS status = kernel.insertDevice(*name, created.get()); !NT_SUCCESS(status)) {
            created->name.clear();
            kernel.releaseDevice(created.get());
            return status;
        }
    }
    {
        std::lock_guard lock(driverDevicesMutex);
        driver->devices.push_back(created.get());
    }
    *device = created.get();
    return STATUS_SUCCESS;
}

void IoDeleteDevice(DeviceObject* device) {
    Kernel& kernel = *device->kernel;
    device->deleted.store(true);
    kernel.removeDevice(device);
    {
        std::lock_guard lock(driverDevicesMutex);
        std::erase(device->driver->devices, device);
    }
    kernel.power().forget(device);
    {
        // A device with another attached above it is freed when that one detaches.
        std::lock_guard lock(stackMutex);
        if (device->attachedDevice) {
            return;
        }
    }
    kernel.releaseDevice(device);
}

NTSTATUS IoCreateSymbolicLink(const std::string& link, const std::string& target) {
    return Kernel::current().insertLink(link, target);
}

NTSTATUS IoDeleteSymbolicLink(const std::string& link) {
    return Kernel::current().removeLink(link);
}

DeviceObject* IoAttachDeviceToDeviceStack(DeviceObject* source, DeviceObject* target) {
    std::lock_guard lock(stackMutex);
    DeviceObject* top = target;
    while (top->attachedDevice) {
        top = top->attachedDevice;
    }
    top->attachedDevice = source;
    source->attachedTo = top;
    source->StackSize = std::int8_t(top->StackSize + 1);
    return top;
}

void IoDetachDevice(DeviceObject* lower) {
    {
        std::lock_guard lock(stackMutex);
        if (DeviceObject* upperDevice = lower->attachedDevice) {
            upperDevice->attachedTo = nullptr;
            lower->attachedDevice = nullptr;
        }
    }
    if (lower->deleted.load()) {
        lower->kernel->releaseDevice(lower);
    }
}

DeviceObject* IoGetAttachedDevice(DeviceObject* device) {
    std::lock_guard lock(stackMutex);
    while (device->attachedDevice) {
        device = device->attachedDevice;
    }
    return device;
}

NTSTATUS IoRegisterDeviceInterface(DeviceObject* physicalDevice, const Guid& interfaceClass,
                                   std::string* symbolicLinkName) {
    return physicalDevice->kernel->registerInterface(physicalDevice, interfaceClass,
                                                     symbolicLinkName);
}

NTSTATUS IoSetDeviceInterfaceState(const std::string& symbolicLinkName, bool enable) {
    return Kernel::current().setInterfaceState(symbolicLinkName, enable);
}

NTSTATUS ZwOpenKey(const std::string& path) {
    return Kernel::current().keyExists(path) ? STATUS_SUCCESS : STATUS_OBJECT_NAME_NOT_FOUND;
}

} // namespace keldo::driver
