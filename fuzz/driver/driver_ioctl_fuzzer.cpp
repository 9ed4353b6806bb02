// Feeds arbitrary I/O-control codes, buffer lengths and contents (and reads
// and writes) through the client API to zrtdrv9x on a simulated ZRT05, with
// stalls injected at random. Checks that no request reports more output than
// the caller's buffer holds and that every request completes.
//
// Input: a sequence of operations, each
//   byte 0: operation (control, read, write, stall next transaction)
//   bytes 1-4: I/O-control code (or an index into the known codes)
//   bytes 5-6, 7-8: input and output lengths; byte 9 bit 0 scales them by 8
//   then the input bytes.
#include "client.h"
#include "scanner_ioctl.h"
#include "zrt05_machine.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

using namespace keldo::driver;
using keldo::sim::SimulatedZrt05;

namespace {

constexpr std::size_t kHeaderLength = 10;

const std::uint32_t kKnownCodes[] = {
    IOCTL_ZRT05_INITIALIZE,     IOCTL_ZRT05_REQUEST_F0,
    IOCTL_ZRT05_REQUEST_F4,     IOCTL_ZRT05_REQUEST_F8,
    IOCTL_ZRT05_REQUEST_FE,     IOCTL_ZRT05_REQUEST_90,
    IOCTL_ZRT05_SET_PARAMETERS, IOCTL_ZRT05_REQUEST_9C,
    IOCTL_ZRT05_REQUEST_20,     IOCTL_ZRT05_REQUEST_74,
    IOCTL_ZRT05_REQUEST_78,     IOCTL_ZRT05_REQUEST_54,
    IOCTL_ZRT05_REQUEST_58,     IOCTL_ZRT05_REQUEST_04,
    IOCTL_ZRT05_REQUEST_08,     IOCTL_ZRT05_GET_DEVICE_DESCRIPTOR,
    IOCTL_ZRT05_POLL_EVENT,     IOCTL_ZRT05_READ_IMAGE,
    IOCTL_ZRT05_WRITE_DATA,     IOCTL_ZRT05_CLAIM,
    IOCTL_ZRT05_RELEASE,        IOCTL_ZRT05_RESET_PIPES,
    IOCTL_ZRT05_CYCLE_PORT,
};

struct Rig {
    keldo::sim::Zrt05Machine machine;
    std::shared_ptr<SimulatedZrt05> scanner = std::make_shared<SimulatedZrt05>();
    UsbPort* port = nullptr;
    win32::HANDLE handle = win32::INVALID_HANDLE_VALUE;

    Rig() { port = machine.plug(scanner); }

    // Opens the scanner wherever it is now (a port cycle moves it).
    bool reopen() {
        if (handle != win32::INVALID_HANDLE_VALUE) {
            win32::CloseHandle(handle);
            handle = win32::INVALID_HANDLE_VALUE;
        }
        scanner->clearFaults();
        machine.kernel.pnp().waitIdle();
        for (int attempt = 0; attempt < 2; ++attempt) {
            for (const std::string& path : win32::EnumerateDeviceInterfaces(kZrt05InterfaceClass)) {
                handle = win32::CreateFile(path);
                if (handle != win32::INVALID_HANDLE_VALUE) {
                    return true;
                }
            }
            // A re-enumeration under injected stalls may have failed to start:
            // plug the scanner in again, as a user would.
            machine.bus.unplug(port);
            port = machine.plug(scanner);
        }
        return false;
    }
};

Rig& rig() {
    static Rig* instance = new Rig(); // lives for the whole run
    return *instance;
}

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "driver fuzzer: %s\n", what);
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Rig& r = rig();
    if (r.handle == win32::INVALID_HANDLE_VALUE && !r.reopen()) {
        fail("scanner vanished");
    }
    r.scanner->clearFaults();
    r.scanner->discardData();
    std::size_t offset = 0;
    int operations = 0;
    while (offset + kHeaderLength <= size && operations++ < 16) {
        const std::uint8_t* h = data + offset;
        offset += kHeaderLength;
        const std::uint8_t operation = h[0] % 4;
        std::uint32_t code = 0;
        std::memcpy(&code, h + 1, 4);
        if (h[9] & 2) {
            code = kKnownCodes[code % (sizeof kKnownCodes / sizeof kKnownCodes[0])];
        }
        const std::uint32_t scale = (h[9] & 1) ? 8 : 1;
        const std::uint32_t inLength = std::uint32_t(h[5] | h[6] << 8) * scale;
        const std::uint32_t outLength = std::uint32_t(h[7] | h[8] << 8) * scale;
        std::vector<std::uint8_t> input(inLength, 0);
        const std::size_t available = std::min<std::size_t>(inLength, size - offset);
        std::memcpy(input.data(), data + offset, available);
        offset += available;
        std::vector<std::uint8_t> output(outLength + 16, 0xCD);

        // Keep the waits short: whatever may wait for data finds some.
        if (code == IOCTL_ZRT05_POLL_EVENT) {
            r.scanner->raiseEvent({h[1], h[2], h[3], h[4]});
        }
        if (code == IOCTL_ZRT05_READ_IMAGE || operation == 1) {
            r.scanner->queueImage(
                std::vector<std::uint8_t>(std::max<std::uint32_t>(outLength, 1), h[2]));
        }
        win32::DWORD moved = 0;
        switch (operation) {
        case 0:
            win32::DeviceIoControl(r.handle, code, input.data(), inLength, output.data(), outLength,
                                   &moved);
            if (moved > outLength) {
                fail("control reported more output than the buffer holds");
            }
            break;
        case 1:
            win32::ReadFile(r.handle, output.data(), outLength, &moved);
            if (moved > outLength || moved > kZrt05ImageMaxTransfer) {
                fail("read moved more than asked or allowed");
            }
            break;
        case 2:
            win32::WriteFile(r.handle, input.data(), inLength, &moved);
            if (moved > inLength || moved > kZrt05ImageMaxTransfer) {
                fail("write moved more than given or allowed");
            }
            break;
        case 3:
            r.scanner->injectFault([](const UsbTransaction&) { return true; },
                                   SimulatedZrt05::Fault::Stall, 1 + h[1] % 4, h[2] & 1);
            break;
        }
        for (std::size_t i = outLength; i < output.size(); ++i) {
            if (output[i] != 0xCD) {
                fail("wrote past the caller's buffer");
            }
        }
        if (win32::LastNtStatus() == STATUS_DELETE_PENDING && !r.reopen()) {
            fail("scanner did not come back after a port cycle");
        }
    }
    // Leave the device as the next input expects it: unclaimed, no stalls.
    r.scanner->clearFaults();
    win32::DeviceIoControl(r.handle, IOCTL_ZRT05_RELEASE, nullptr, 0, nullptr, 0, nullptr);
    return 0;
}
