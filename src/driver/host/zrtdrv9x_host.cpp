// zrtdrv9x host: boots the kernel stand-in, loads the driver, attaches
// simulated ZRT05 scanners and reports what a client sees of them.
//
//   zrtdrv9x [--scanners N] [--win98]
#include "client.h"
#include "scanner_ioctl.h"
#include "zrt05_machine.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

using namespace keldo::driver;

int main(int argc, char** argv) {
    int scanners = 1;
    OsFlavor flavor = OsFlavor::WindowsNT;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--scanners") && i + 1 < argc) {
            scanners = std::atoi(argv[++i]);
        } else if (!std::strcmp(argv[i], "--win98")) {
            flavor = OsFlavor::Windows98;
        } else {
            std::fprintf(stderr, "usage: %s [--scanners N] [--win98]\n", argv[0]);
            return 2;
        }
    }
    keldo::sim::Zrt05Machine machine(flavor);
    if (!machine.driver) {
        std::fprintf(stderr, "zrtdrv9x: driver entry failed\n");
        return 1;
    }
    for (int i = 0; i < scanners; ++i) {
        UsbPort* port = machine.plug(std::make_shared<keldo::sim::SimulatedZrt05>());
        DevNode* node = port->devNode();
        if (node->problem != STATUS_SUCCESS) {
            std::printf("scanner %d: not added, status 0x%08X\n", i, unsigned(node->problem));
        }
    }
    for (const std::string& path : win32::EnumerateDeviceInterfaces(kZrt05InterfaceClass)) {
        std::printf("interface %s\n", path.c_str());
    }
    for (unsigned unit = 0; unit < kZrt05MaxUnits; ++unit) {
        const std::string name = "\\\\.\\" + std::string(kZrt05NameStem) + std::to_string(unit);
        win32::HANDLE handle = win32::CreateFile(name);
        if (handle == win32::INVALID_HANDLE_VALUE) {
            continue;
        }
        unsigned char answer[kZrt05InitAnswerLength] = {};
        win32::DWORD got = 0;
        const bool ok = win32::DeviceIoControl(handle, IOCTL_ZRT05_INITIALIZE, nullptr, 0, answer,
                                               sizeof answer, &got);
        std::printf("%s: initialization %s (0x%08X), %u bytes\n", name.c_str(),
                    ok ? "ok" : "failed", unsigned(win32::LastNtStatus()), unsigned(got));
        win32::CloseHandle(handle);
    }
    return 0;
}
