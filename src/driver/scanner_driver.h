// ScannerDriver: the driver class of zrtdrv9x and its entry point.
#pragma once

#include "driver_base.h"

namespace keldo::driver {

class ScannerDriver final : public DriverBase {
public:
    NTSTATUS driverEntry(const std::string& registryPath) override;
    // Creates "\Device\zrt05-N" and its link for the first free unit N of 0-9;
    // STATUS_INSUFFICIENT_RESOURCES when all ten are taken.
    NTSTATUS addDevice(DeviceObject* physicalDevice) override;
};

// The entry point the system calls when it loads zrtdrv9x.
NTSTATUS DriverEntry(DriverObject* driver, const std::string& registryPath);

// Loads zrtdrv9x into the kernel and binds it to the ZRT05's hardware ID, as
// installing its INF file does. Null when the driver entry fails.
DriverObject* installScannerDriver(Kernel& kernel);

} // namespace keldo::driver
