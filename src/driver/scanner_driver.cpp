// Driver entry and add device of zrtdrv9x.
#include "scanner_driver.h"

#include "scanner_device.h"

namespace keldo::driver {

NTSTATUS ScannerDriver::driverEntry(const std::string&) {
    return STATUS_SUCCESS;
}

NTSTATUS ScannerDriver::addDevice(DeviceObject* physicalDevice) {
    for (unsigned unit = 0; unit < kZrt05MaxUnits; ++unit) {
        const std::string stem = kZrt05NameStem + std::to_string(unit);
        const std::string name = "\\Device\\" + stem;
        const std::string link = symbolicLinkPrefix() + stem;
        DeviceObject* device = nullptr;
        if (!NT_SUCCESS(IoCreateDevice(driverObject(), sizeof(ScannerDevice), &name,
                                       FILE_DEVICE_UNKNOWN, 0, false, &device))) {
            continue; // taken by another scanner
        }
        if (!NT_SUCCESS(IoCreateSymbolicLink(link, name))) {
            IoDeleteDevice(device);
            continue;
        }
        auto* scanner =
            new (device->DeviceExtension) ScannerDevice(device, physicalDevice, unit, link);
        if (const NTSTATUS status = scanner->constructionStatus(); !NT_SUCCESS(status)) {
            PnpDeviceBase::destroy(scanner);
            return status;
        }
        device->Flags |= DO_DIRECT_IO | DO_POWER_PAGABLE;
        device->Flags &= ~DO_DEVICE_INITIALIZING;
        PowerState d0;
        d0.device = DevicePowerState::D0;
        PoSetPowerState(device, PowerStateType::Device, d0);
        scanner->initialPowerState(DevicePowerState::D0);
        return STATUS_SUCCESS;
    }
    return STATUS_INSUFFICIENT_RESOURCES;
}

NTSTATUS DriverEntry(DriverObject* driver, const std::string& registryPath) {
    return DriverBase::initialize(driver, registryPath, std::make_unique<ScannerDriver>());
}

DriverObject* installScannerDriver(Kernel& kernel) {
    DriverObject* driver = kernel.loadDriver("zrtdrv9x", &DriverEntry);
    if (driver) {
        kernel.bindHardwareId(kZrt05HardwareId, driver);
    }
    return driver;
}

} // namespace keldo::driver
