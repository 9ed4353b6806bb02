// A whole machine for the scanner driver: the kernel stand-in, a USB bus and
// zrtdrv9x installed, ready for simulated scanners to be plugged in.
#pragma once

#include "kernel_pnp.h"
#include "scanner_driver.h"
#include "usb_bus.h"
#include "zrt05_sim.h"

#include <memory>

namespace keldo::sim {

struct Zrt05Machine {
    explicit Zrt05Machine(driver::OsFlavor flavor = driver::OsFlavor::WindowsNT)
        : kernel(flavor), bus(kernel), driver(driver::installScannerDriver(kernel)) {}

    // Plugs a scanner in; Plug and Play has added (and normally started) it on return.
    driver::UsbPort* plug(std::shared_ptr<SimulatedZrt05> scanner) {
        return bus.plug(std::move(scanner));
    }

    driver::Kernel kernel; // declared first: destroyed last
    driver::UsbBus bus;
    driver::DriverObject* driver;
};

} // namespace keldo::sim
