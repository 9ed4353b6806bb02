// A machine with zrtdrv9x installed and helpers to talk to its scanners the
// way the fingerprint SDK does.
#pragma once

#include "client.h"
#include "scanner_device.h"
#include "scanner_ioctl.h"
#include "zrt05_machine.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace keldo::driver::testing {

using sim::SimulatedZrt05;
using Bytes = std::vector<std::uint8_t>;

inline std::string unitPath(unsigned unit) {
    return "\\\\.\\" + std::string(kZrt05NameStem) + std::to_string(unit);
}

struct ControlResult {
    bool ok = false;
    NTSTATUS status = STATUS_SUCCESS;
    win32::DWORD bytes = 0;
    Bytes out;
};

inline ControlResult control(win32::HANDLE handle, std::uint32_t code, const Bytes& in = {},
                             std::size_t outLength = 0) {
    ControlResult result;
    result.out.assign(outLength, 0xEE);
    result.ok = win32::DeviceIoControl(
        handle, code, in.empty() ? nullptr : in.data(), win32::DWORD(in.size()),
        outLength ? result.out.data() : nullptr, win32::DWORD(outLength), &result.bytes);
    result.status = win32::LastNtStatus();
    return result;
}

// Setup packets of the control transactions the scanner saw.
inline std::vector<UsbSetupPacket> controlRequests(const std::vector<SimulatedZrt05::Record>& log) {
    std::vector<UsbSetupPacket> setups;
    for (const auto& record : log) {
        if (record.transaction.type == UsbTransaction::Type::Control) {
            setups.push_back(record.transaction.setup);
        }
    }
    return setups;
}

// "C0/FF/0050" style names make failure messages readable.
inline std::string describe(const UsbSetupPacket& s) {
    char text[32];
    std::snprintf(text, sizeof text, "%02X/%02X/%04X/%04X", s.bmRequestType, s.bRequest, s.wValue,
                  s.wIndex);
    return text;
}

inline std::vector<std::string> describeAll(const std::vector<SimulatedZrt05::Record>& log) {
    std::vector<std::string> names;
    for (const auto& setup : controlRequests(log)) {
        names.push_back(describe(setup));
    }
    return names;
}

class DriverTest : public ::testing::Test {
protected:
    void SetUp() override { clearPoolFaults(); }
    void TearDown() override {
        for (win32::HANDLE handle : handles_) {
            win32::CloseHandle(handle);
        }
        clearPoolFaults();
    }

    std::shared_ptr<SimulatedZrt05> plugScanner(UsbPort** port = nullptr) {
        auto scanner = std::make_shared<SimulatedZrt05>();
        UsbPort* plugged = machine_.plug(scanner);
        if (port) {
            *port = plugged;
        }
        return scanner;
    }

    win32::HANDLE open(unsigned unit = 0) {
        win32::HANDLE handle = win32::CreateFile(unitPath(unit));
        if (handle != win32::INVALID_HANDLE_VALUE) {
            handles_.push_back(handle);
        }
        return handle;
    }

    void close(win32::HANDLE handle) {
        std::erase(handles_, handle);
        win32::CloseHandle(handle);
    }

    ScannerDevice* device(unsigned unit = 0) {
        auto object = machine_.kernel.resolve("\\Device\\" + std::string(kZrt05NameStem) +
                                              std::to_string(unit));
        return object ? static_cast<ScannerDevice*>(PnpDeviceBase::of(object.get())) : nullptr;
    }

    // Waits (briefly) until some condition holds, for requests held in another thread.
    template <typename Condition> static bool eventually(Condition condition) {
        for (int i = 0; i < 400; ++i) {
            if (condition()) {
                return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return condition();
    }

    sim::Zrt05Machine machine_;
    std::vector<win32::HANDLE> handles_;
};

} // namespace keldo::driver::testing
