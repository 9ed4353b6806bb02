// Reads, writes and I/O controls of zrtdrv9x against the simulated ZRT05.
#include "driver_fixture.h"

#include <atomic>
#include <future>
#include <numeric>

namespace keldo::driver::testing {
namespace {

using Clock = std::chrono::steady_clock;
using Fault = SimulatedZrt05::Fault;
using Outcome = SimulatedZrt05::Outcome;

Bytes pattern(std::size_t size) {
    Bytes bytes(size);
    for (std::size_t i = 0; i < size; ++i) {
        bytes[i] = std::uint8_t(i * 7 + i / 251);
    }
    return bytes;
}

class IoTest : public DriverTest {
protected:
    void SetUp() override {
        DriverTest::SetUp();
        scanner_ = plugScanner(&port_);
        handle_ = open(0);
        ASSERT_NE(handle_, win32::INVALID_HANDLE_VALUE);
        scanner_->clearTransactions();
    }

    std::vector<std::string> seen() { return describeAll(scanner_->transactions()); }

    std::shared_ptr<SimulatedZrt05> scanner_;
    UsbPort* port_ = nullptr;
    win32::HANDLE handle_ = win32::INVALID_HANDLE_VALUE;
};

TEST_F(IoTest, EachVendorControlSendsItsRequest) {
    const Bytes eight = {8, 7, 6, 5, 4, 3, 2, 1};
    const Bytes sixtyFour = pattern(64);
    auto vendorAnswer = [](std::uint8_t request, std::size_t n) {
        Bytes answer(n);
        for (std::size_t i = 0; i < n; ++i) {
            answer[i] = std::uint8_t(request + i);
        }
        return answer;
    };
    struct Case {
        std::uint32_t code;
        Bytes in;
        std::size_t outLength;
        const char* setup;
        std::uint16_t wLength;
        Bytes sent;     // data of an OUT request
        Bytes returned; // what the caller gets back
    };
    const Case cases[] = {
        {IOCTL_ZRT05_REQUEST_F0, {}, 0, "40/F0/0000/0000", 0, {}, {}},
        {IOCTL_ZRT05_REQUEST_F4, {1}, 0, "40/F4/0051/0000", 0, {}, {}},
        {IOCTL_ZRT05_REQUEST_F4, {0}, 0, "40/F4/0050/0000", 0, {}, {}},
        {IOCTL_ZRT05_REQUEST_F8, {}, 0, "40/F8/0000/0000", 0, {}, {}},
        {IOCTL_ZRT05_REQUEST_F8, {7}, 0, "40/F8/0051/0000", 0, {}, {}},
        {IOCTL_ZRT05_REQUEST_F8, {0}, 0, "40/F8/0050/0000", 0, {}, {}},
        {IOCTL_ZRT05_REQUEST_FE, {2}, 0, "40/FE/0051/0000", 0, {}, {}},
        {IOCTL_ZRT05_REQUEST_FE, {0}, 0, "40/FE/0050/0000", 0, {}, {}},
        {IOCTL_ZRT05_REQUEST_90, {1, 0, 0x34, 0x12}, 0, "40/90/0051/1234", 0, {}, {}},
        {IOCTL_ZRT05_REQUEST_90, {0, 0, 5, 0}, 0, "40/90/0050/0005", 0, {}, {}},
        {IOCTL_ZRT05_SET_PARAMETERS, eight, 0, "40/98/0000/0000", 8, eight, {}},
        {IOCTL_ZRT05_REQUEST_9C, {}, 8, "C0/9C/0000/0000", 8, {}, vendorAnswer(0x9C, 8)},
        {IOCTL_ZRT05_REQUEST_9C, {}, 100, "C0/9C/0000/0000", 8, {}, vendorAnswer(0x9C, 8)},
        {IOCTL_ZRT05_REQUEST_20, {}, 25, "C0/20/0000/0000", 25, {}, vendorAnswer(0x20, 25)},
        {IOCTL_ZRT05_REQUEST_74, {}, 8, "C0/74/0000/0000", 8, {}, vendorAnswer(0x74, 8)},
        {IOCTL_ZRT05_REQUEST_78, eight, 0, "40/78/0000/0000", 8, eight, {}},
        {IOCTL_ZRT05_REQUEST_54, {}, 0, "40/54/0000/0000", 0, {}, {}},
        {IOCTL_ZRT05_REQUEST_58, {}, 0, "40/58/0000/0000", 0, {}, {}},
        {IOCTL_ZRT05_REQUEST_04, {}, 64, "C0/04/0000/0000", 64, {}, vendorAnswer(0x04, 64)},
        {IOCTL_ZRT05_REQUEST_08, sixtyFour, 0, "40/08/0000/0000", 64, sixtyFour, {}},
        {IOCTL_ZRT05_GET_DEVICE_DESCRIPTOR,
         {},
         18,
         "80/06/0100/0000",
         18,
         {},
         SimulatedZrt05::defaultDeviceDescriptor()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.setup);
        scanner_->clearTransactions();
        const ControlResult result = control(handle_, c.code, c.in, c.outLength);
        ASSERT_TRUE(result.ok) << std::hex << result.status;
        const auto log = scanner_->transactions();
        ASSERT_EQ(log.size(), 1u);
        EXPECT_EQ(describe(log[0].transaction.setup), c.setup);
        EXPECT_EQ(log[0].transaction.setup.wLength, c.wLength);
        EXPECT_EQ(log[0].transaction.out, c.sent);
        ASSERT_EQ(result.bytes, c.returned.size());
        EXPECT_EQ(Bytes(result.out.begin(), result.out.begin() + long(result.bytes)), c.returned);
    }
}

TEST_F(IoTest, ShortBuffersAreRefusedBeforeAnythingIsSent) {
    struct Case {
        std::uint32_t code;
        std::size_t inLength;
        std::size_t outLength;
    };
    const Case cases[] = {
        {IOCTL_ZRT05_INITIALIZE, 0, 7},     {IOCTL_ZRT05_REQUEST_F4, 0, 8},
        {IOCTL_ZRT05_REQUEST_FE, 0, 0},     {IOCTL_ZRT05_REQUEST_90, 3, 0},
        {IOCTL_ZRT05_SET_PARAMETERS, 7, 8}, {IOCTL_ZRT05_REQUEST_9C, 8, 7},
        {IOCTL_ZRT05_REQUEST_20, 0, 24},    {IOCTL_ZRT05_REQUEST_74, 0, 7},
        {IOCTL_ZRT05_REQUEST_78, 7, 0},     {IOCTL_ZRT05_REQUEST_04, 0, 63},
        {IOCTL_ZRT05_REQUEST_08, 63, 0},    {IOCTL_ZRT05_GET_DEVICE_DESCRIPTOR, 0, 17},
        {IOCTL_ZRT05_POLL_EVENT, 0, 3},     {IOCTL_ZRT05_RESET_PIPES, 1, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << std::hex << c.code);
        const ControlResult result = control(handle_, c.code, Bytes(c.inLength, 1), c.outLength);
        EXPECT_FALSE(result.ok);
        EXPECT_EQ(result.status, STATUS_BUFFER_TOO_SMALL);
        EXPECT_EQ(win32::GetLastError(), win32::ERROR_INSUFFICIENT_BUFFER);
        EXPECT_EQ(result.bytes, 0u);
    }
    EXPECT_TRUE(scanner_->transactions().empty());
    // The saved block is only replaced by a complete one.
    EXPECT_EQ(device(0)->savedParameters(), (std::array<std::uint8_t, 8>{}));
}

TEST_F(IoTest, UnknownCodesAreInvalidParameters) {
    for (std::uint32_t code : {0x22205Cu, 0x221FFCu, 0x232000u, 0x00000000u}) {
        const ControlResult result = control(handle_, code, {1, 2, 3, 4}, 8);
        EXPECT_EQ(result.status, STATUS_INVALID_PARAMETER) << std::hex << code;
        EXPECT_EQ(result.bytes, 0u);
    }
    EXPECT_TRUE(scanner_->transactions().empty());
}

TEST_F(IoTest, InitializationSequenceFollowsTheProbeAnswer) {
    struct Case {
        Bytes probe;
        const char* next; // null: no second request
    };
    const Case cases[] = {
        {{1, 0, 9, 9, 9, 9, 9, 9}, "C0/FF/0052/0000"},
        {{0, 0, 9, 9, 9, 9, 9, 9}, "C0/FF/0053/0000"},
        {{0, 1, 9, 9, 9, 9, 9, 9}, "C0/FF/0051/0000"},
        {{1, 1, 9, 9, 9, 9, 9, 9}, nullptr},
    };
    const Bytes lastAnswer = {0xA0, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5, 0xA6, 0xA7};
    for (std::uint16_t value : {0x51, 0x52, 0x53}) {
        scanner_->setVendorAnswer(0xFF, value, lastAnswer);
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.next ? c.next : "none");
        scanner_->setVendorAnswer(0xFF, 0x50, c.probe);
        scanner_->clearTransactions();
        const ControlResult result = control(handle_, IOCTL_ZRT05_INITIALIZE, {}, 8);
        ASSERT_TRUE(result.ok);
        std::vector<std::string> expected = {"80/06/0100/0000", "C0/FF/0050/0000"};
        if (c.next) {
            expected.push_back(c.next);
        }
        EXPECT_EQ(seen(), expected);
        for (const auto& setup : controlRequests(scanner_->transactions())) {
            EXPECT_EQ(setup.wLength, setup.bRequest == 0xFF ? 8 : 18);
        }
        // The caller receives the answer to the last request of the sequence.
        EXPECT_EQ(result.bytes, 8u);
        EXPECT_EQ(result.out, c.next ? lastAnswer : c.probe);
    }
}

TEST_F(IoTest, InitializationSequenceFallsBackWhenTheProbeStalls) {
    // The fallback's own status is the sequence's; it reports no bytes.
    for (bool fallbackStalls : {false, true}) {
        SCOPED_TRACE(fallbackStalls ? "fallback stalls" : "fallback answers");
        scanner_->clearTransactions();
        scanner_->injectFault(SimulatedZrt05::vendor(0xFF, 0x50), Fault::Stall);
        if (fallbackStalls) {
            scanner_->injectFault(SimulatedZrt05::vendor(0xFF, 0x54), Fault::Stall);
        }
        const ControlResult result = control(handle_, IOCTL_ZRT05_INITIALIZE, {}, 8);
        EXPECT_EQ(seen(), (std::vector<std::string>{"80/06/0100/0000", "C0/FF/0050/0000",
                                                    "C0/FF/0054/0000"}));
        EXPECT_EQ(result.status, fallbackStalls ? STATUS_UNSUCCESSFUL : STATUS_SUCCESS);
        EXPECT_EQ(result.bytes, 0u);
        EXPECT_EQ(result.out, Bytes(8, 0xEE));
    }

    scanner_->clearTransactions();
    scanner_->injectFault(SimulatedZrt05::deviceDescriptorRequest(), Fault::Stall);
    EXPECT_EQ(control(handle_, IOCTL_ZRT05_INITIALIZE, {}, 8).status, STATUS_UNSUCCESSFUL);
    EXPECT_EQ(seen(), (std::vector<std::string>{"80/06/0100/0000"}));
}

TEST_F(IoTest, ClaimAndRelease) {
    auto status = [&](std::uint32_t code) { return control(handle_, code).status; };
    EXPECT_EQ(status(IOCTL_ZRT05_CLAIM), STATUS_SUCCESS);
    EXPECT_EQ(status(IOCTL_ZRT05_CLAIM), STATUS_DEVICE_BUSY);
    EXPECT_EQ(win32::GetLastError(), win32::ERROR_BUSY);
    EXPECT_EQ(device(0)->claimCount(), 1u);
    EXPECT_EQ(status(IOCTL_ZRT05_RELEASE), STATUS_SUCCESS);
    EXPECT_EQ(status(IOCTL_ZRT05_CLAIM), STATUS_SUCCESS);
    EXPECT_EQ(status(IOCTL_ZRT05_RELEASE), STATUS_SUCCESS);
    EXPECT_EQ(status(IOCTL_ZRT05_RELEASE), STATUS_SUCCESS);
    EXPECT_EQ(device(0)->claimCount(), 0u);
    EXPECT_EQ(status(IOCTL_ZRT05_CLAIM), STATUS_SUCCESS);
    EXPECT_TRUE(scanner_->transactions().empty());
}

TEST_F(IoTest, PipeResetSelectors) {
    struct Case {
        std::uint16_t selector;
        std::vector<std::uint16_t> clearedEndpoints;
        unsigned flushes;
    };
    const Case cases[] = {
        {0, {0x81, 0x01}, 0}, {1, {0x82, 0x02}, 0}, {2, {0x83}, 0},
        {3, {}, 1},           {7, {}, 0},           {0xFFFF, {}, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.selector);
        scanner_->clearTransactions();
        const unsigned flushesBefore = port_->flushCount();
        const ControlResult result =
            control(handle_, IOCTL_ZRT05_RESET_PIPES,
                    {std::uint8_t(c.selector), std::uint8_t(c.selector >> 8)});
        EXPECT_TRUE(result.ok);
        std::vector<std::uint16_t> cleared;
        for (const auto& setup : controlRequests(scanner_->transactions())) {
            EXPECT_EQ(describe(setup).substr(0, 10), "02/01/0000");
            cleared.push_back(setup.wIndex);
        }
        EXPECT_EQ(cleared, c.clearedEndpoints);
        EXPECT_EQ(port_->flushCount() - flushesBefore, c.flushes);
    }
}

TEST_F(IoTest, AFailedPipeResetFailsTheRequestWhicheverPipeItWas) {
    for (std::uint8_t failing : {std::uint8_t(0x01), std::uint8_t(0x81)}) {
        SCOPED_TRACE(int(failing));
        scanner_->clearTransactions();
        scanner_->injectFault(SimulatedZrt05::clearHalt(failing), Fault::Stall);
        EXPECT_EQ(control(handle_, IOCTL_ZRT05_RESET_PIPES, {0, 0}).status, STATUS_UNSUCCESSFUL);
        EXPECT_EQ(controlRequests(scanner_->transactions()).size(), 2u); // both were attempted
    }
    scanner_->injectFault(SimulatedZrt05::clearHalt(0x83), Fault::Stall);
    EXPECT_EQ(control(handle_, IOCTL_ZRT05_RESET_PIPES, {2, 0}).status, STATUS_UNSUCCESSFUL);
}

TEST_F(IoTest, ReadsMoveAtMostOneMaximumTransfer) {
    Bytes buffer(400000, 0);
    win32::DWORD got = 99;
    ASSERT_TRUE(win32::ReadFile(handle_, buffer.data(), 0, &got));
    EXPECT_EQ(got, 0u);
    EXPECT_TRUE(scanner_->transactions().empty()); // nothing sent for 0 bytes

    const Bytes image = pattern(400000);
    scanner_->queueImage(image);
    ASSERT_TRUE(win32::ReadFile(handle_, buffer.data(), 400000, &got));
    EXPECT_EQ(got, kZrt05ImageMaxTransfer);
    EXPECT_TRUE(std::equal(buffer.begin(), buffer.begin() + got, image.begin()));
    const auto log = scanner_->transactions();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].transaction.endpoint, kZrt05ImageIn);
    EXPECT_EQ(log[0].transaction.inLength, kZrt05ImageMaxTransfer);

    // The rest comes with the next read, short.
    ASSERT_TRUE(win32::ReadFile(handle_, buffer.data(), 400000, &got));
    EXPECT_EQ(got, 400000u - kZrt05ImageMaxTransfer);
    EXPECT_TRUE(
        std::equal(buffer.begin(), buffer.begin() + got, image.begin() + kZrt05ImageMaxTransfer));

    // 0x222044 reads the same pipe into the control's buffer.
    scanner_->queueImage(pattern(1000));
    const ControlResult viaControl = control(handle_, IOCTL_ZRT05_READ_IMAGE, {}, 4096);
    ASSERT_TRUE(viaControl.ok);
    EXPECT_EQ(viaControl.bytes, 1000u);
    EXPECT_EQ(Bytes(viaControl.out.begin(), viaControl.out.begin() + 1000), pattern(1000));
    EXPECT_TRUE(control(handle_, IOCTL_ZRT05_READ_IMAGE, {}, 0).ok);
}

TEST_F(IoTest, WritesMoveAtMostOneMaximumTransfer) {
    const Bytes data = pattern(400000);
    win32::DWORD sent = 0;
    ASSERT_TRUE(win32::WriteFile(handle_, data.data(), 400000, &sent));
    EXPECT_EQ(sent, kZrt05ImageMaxTransfer);
    EXPECT_EQ(scanner_->received(), Bytes(data.begin(), data.begin() + kZrt05ImageMaxTransfer));

    ASSERT_TRUE(win32::WriteFile(handle_, data.data(), 0, &sent));
    EXPECT_EQ(sent, 0u);

    // 0x222048 sends its input; the count never exceeds the output buffer.
    const ControlResult noOutput = control(handle_, IOCTL_ZRT05_WRITE_DATA, pattern(10), 0);
    EXPECT_TRUE(noOutput.ok);
    EXPECT_EQ(noOutput.bytes, 0u);
    const ControlResult withOutput = control(handle_, IOCTL_ZRT05_WRITE_DATA, pattern(10), 4);
    EXPECT_EQ(withOutput.bytes, 4u);
    const Bytes received = scanner_->received();
    EXPECT_EQ(received.size(), kZrt05ImageMaxTransfer + 20);
}

TEST(IoLimits, TransfersFollowTheMaximumTheStackGranted) {
    sim::Zrt05Machine machine;
    machine.bus.setMaxTransferSizeLimit(65536);
    auto scanner = std::make_shared<SimulatedZrt05>();
    machine.plug(scanner);
    win32::HANDLE handle = win32::CreateFile(unitPath(0));
    ASSERT_NE(handle, win32::INVALID_HANDLE_VALUE);
    scanner->queueImage(pattern(100000));
    Bytes buffer(100000);
    win32::DWORD got = 0;
    ASSERT_TRUE(win32::ReadFile(handle, buffer.data(), 100000, &got));
    EXPECT_EQ(got, 65536u);
    win32::CloseHandle(handle);
}

TEST_F(IoTest, TransferFailuresReportTheStacksStatus) {
    scanner_->injectFault(SimulatedZrt05::endpoint(kZrt05ImageIn), Fault::Stall);
    Bytes buffer(64);
    win32::DWORD got = 99;
    EXPECT_FALSE(win32::ReadFile(handle_, buffer.data(), 64, &got));
    EXPECT_EQ(win32::LastNtStatus(), STATUS_DEVICE_DATA_ERROR);
    EXPECT_EQ(got, 0u);
    // A failure that is not a timeout does not re-run the initialization sequence.
    EXPECT_EQ(scanner_->transactions().size(), 1u);

    scanner_->injectFault(SimulatedZrt05::vendor(0x54), Fault::Stall);
    EXPECT_EQ(control(handle_, IOCTL_ZRT05_REQUEST_54).status, STATUS_UNSUCCESSFUL);
}

TEST_F(IoTest, NoMemoryForARequestIsInsufficientResources) {
    injectPoolFault(poolTag("zrtU"), 1, false);
    EXPECT_EQ(control(handle_, IOCTL_ZRT05_REQUEST_F0).status, STATUS_INSUFFICIENT_RESOURCES);
    injectPoolFault(poolTag("zrtU"), 1, false);
    Bytes buffer(64);
    win32::DWORD got = 99;
    EXPECT_FALSE(win32::ReadFile(handle_, buffer.data(), 64, &got));
    EXPECT_EQ(win32::LastNtStatus(), STATUS_INSUFFICIENT_RESOURCES);
    injectPoolFault(poolTag("Irp "), 1, false);
    EXPECT_EQ(control(handle_, IOCTL_ZRT05_REQUEST_9C, {}, 8).status,
              STATUS_INSUFFICIENT_RESOURCES);
    EXPECT_TRUE(scanner_->transactions().empty());
    EXPECT_TRUE(control(handle_, IOCTL_ZRT05_REQUEST_F0).ok);
}

TEST_F(IoTest, SetParametersKeepsTheBlockEvenWhenTheRequestFails) {
    const Bytes block = {0x10, 0x20, 0x30, 0x40, 0x50, 0x60, 0x70, 0x80};
    scanner_->injectFault(SimulatedZrt05::vendor(0x98), Fault::Stall);
    EXPECT_EQ(control(handle_, IOCTL_ZRT05_SET_PARAMETERS, block).status, STATUS_UNSUCCESSFUL);
    const auto saved = device(0)->savedParameters();
    EXPECT_EQ(Bytes(saved.begin(), saved.end()), block);
}

TEST_F(IoTest, EventPollTimesOutAfterOneHundredMilliseconds) {
    const auto start = Clock::now();
    ControlResult result = control(handle_, IOCTL_ZRT05_POLL_EVENT, {}, 4);
    const auto elapsed = Clock::now() - start;
    EXPECT_TRUE(result.ok); // STATUS_TIMEOUT is a success status
    EXPECT_EQ(result.status, STATUS_TIMEOUT);
    EXPECT_EQ(result.bytes, 0u);
    EXPECT_GE(elapsed, std::chrono::milliseconds(100));
    EXPECT_LT(elapsed, std::chrono::milliseconds(1500));
    const auto log = scanner_->transactions();
    ASSERT_EQ(log.size(), 1u); // no initialization sequence
    EXPECT_EQ(log[0].transaction.endpoint, kZrt05EventIn);
    EXPECT_EQ(log[0].transaction.type, UsbTransaction::Type::Interrupt);
    EXPECT_EQ(log[0].outcome, Outcome::Cancelled);

    scanner_->raiseEvent({1, 2, 3, 4});
    result = control(handle_, IOCTL_ZRT05_POLL_EVENT, {}, 4);
    EXPECT_EQ(result.status, STATUS_SUCCESS);
    EXPECT_EQ(result.out, (Bytes{1, 2, 3, 4}));

    // An event that arrives during the wait ends it early.
    auto later = std::async(std::launch::async, [&] {
        scanner_->waitForWaiting(kZrt05EventIn, std::chrono::milliseconds(1000));
        scanner_->raiseEvent({9, 8});
    });
    result = control(handle_, IOCTL_ZRT05_POLL_EVENT, {}, 16);
    later.get();
    EXPECT_EQ(result.status, STATUS_SUCCESS);
    EXPECT_EQ(result.bytes, 2u);

    scanner_->injectFault(SimulatedZrt05::endpoint(kZrt05EventIn), Fault::Stall);
    EXPECT_EQ(control(handle_, IOCTL_ZRT05_POLL_EVENT, {}, 4).status, STATUS_UNSUCCESSFUL);
}

// The two real four-second waits of the suite: they also prove the default.
TEST_F(IoTest, ATimedOutVendorRequestReinitializesTheScannerFirst) {
    scanner_->injectFault(SimulatedZrt05::vendor(0xF0), Fault::NoAnswer);
    const auto start = Clock::now();
    const ControlResult result = control(handle_, IOCTL_ZRT05_REQUEST_F0);
    const auto elapsed = Clock::now() - start;
    EXPECT_EQ(result.status, STATUS_UNSUCCESSFUL);
    EXPECT_GE(elapsed, ScannerDevice::kTransactionTimeout);
    EXPECT_LT(elapsed, ScannerDevice::kTransactionTimeout + std::chrono::seconds(2));
    // Everything below was seen by the scanner before the caller got the status.
    const auto log = scanner_->transactions();
    EXPECT_EQ(seen(),
              (std::vector<std::string>{"40/F0/0000/0000", "80/06/0100/0000", "C0/FF/0050/0000"}));
    EXPECT_EQ(log[0].outcome, Outcome::Cancelled);
}

TEST_F(IoTest, ATimedOutReadReinitializesTheScannerAndFails) {
    Bytes buffer(4096);
    win32::DWORD got = 99;
    const auto start = Clock::now();
    EXPECT_FALSE(win32::ReadFile(handle_, buffer.data(), 4096, &got));
    EXPECT_GE(Clock::now() - start, ScannerDevice::kTransactionTimeout);
    EXPECT_EQ(win32::LastNtStatus(), STATUS_UNSUCCESSFUL);
    EXPECT_EQ(got, 0u);
    const auto log = scanner_->transactions();
    ASSERT_EQ(log.size(), 3u);
    EXPECT_EQ(log[0].transaction.endpoint, kZrt05ImageIn);
    EXPECT_EQ(log[0].outcome, Outcome::Cancelled);
    EXPECT_EQ(seen(), (std::vector<std::string>{"80/06/0100/0000", "C0/FF/0050/0000"}));
}

TEST_F(IoTest, UnplugInTheMiddleOfATransfer) {
    auto reading = std::async(std::launch::async, [&] {
        Bytes buffer(4096);
        win32::DWORD got = 99;
        const bool ok = win32::ReadFile(handle_, buffer.data(), 4096, &got);
        return std::tuple(ok, win32::LastNtStatus(), got);
    });
    ASSERT_TRUE(scanner_->waitForWaiting(kZrt05ImageIn, std::chrono::milliseconds(2000)));
    const auto start = Clock::now();
    DevNode* node = port_->devNode();
    machine_.bus.unplug(port_);
    const auto [ok, status, got] = reading.get();
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(1)); // no timeout wait
    EXPECT_FALSE(ok);
    EXPECT_EQ(status, STATUS_DEVICE_NOT_CONNECTED);
    EXPECT_EQ(got, 0u);
    EXPECT_EQ(scanner_->transactions().back().outcome, Outcome::Disconnected);

    EXPECT_EQ(control(handle_, IOCTL_ZRT05_REQUEST_F0).status, STATUS_DELETE_PENDING);
    close(handle_);
    machine_.kernel.pnp().waitIdle();
    EXPECT_EQ(machine_.kernel.pnp().state(node), DevNode::State::Removed);
    EXPECT_FALSE(machine_.kernel.nameExists("\\Device\\zrt05-0"));
}

TEST_F(IoTest, UnplugDuringAnUnansweredControlEndsItAtOnce) {
    scanner_->injectFault(SimulatedZrt05::vendor(0x9C), Fault::NoAnswer);
    auto pending = std::async(std::launch::async,
                              [&] { return control(handle_, IOCTL_ZRT05_REQUEST_9C, {}, 8); });
    ASSERT_TRUE(eventually([&] { return !scanner_->transactions().empty(); }));
    const auto start = Clock::now();
    machine_.bus.unplug(port_);
    const ControlResult result = pending.get();
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(1));
    EXPECT_EQ(result.status, STATUS_UNSUCCESSFUL);
    EXPECT_EQ(result.bytes, 0u);
}

TEST_F(IoTest, PortCycleReEnumeratesTheScanner) {
    EXPECT_TRUE(control(handle_, IOCTL_ZRT05_CYCLE_PORT).ok);
    machine_.kernel.pnp().waitIdle();
    EXPECT_EQ(port_->cycleCount(), 1u);
    // The old device waits for its handle; the new enumeration takes the next unit.
    EXPECT_EQ(control(handle_, IOCTL_ZRT05_REQUEST_F0).status, STATUS_DELETE_PENDING);
    close(handle_);
    machine_.kernel.pnp().waitIdle();
    EXPECT_FALSE(machine_.kernel.nameExists("\\Device\\zrt05-0"));
    ASSERT_NE(device(1), nullptr);
    EXPECT_EQ(machine_.kernel.pnp().state(port_->devNode()), DevNode::State::Started);
    EXPECT_EQ(scanner_->configuration(), 1);
    win32::HANDLE again = open(1);
    EXPECT_TRUE(control(again, IOCTL_ZRT05_REQUEST_F0).ok);
}

TEST_F(IoTest, TwoClientsInterleaveUnderClaimAndRelease) {
    constexpr int kRounds = 40;
    std::atomic<int> owners{0};
    std::atomic<int> overlaps{0};
    auto client = [&](std::uint8_t flag) {
        win32::HANDLE handle = win32::CreateFile(unitPath(0));
        int done = 0;
        while (done < kRounds) {
            if (!control(handle, IOCTL_ZRT05_CLAIM).ok) {
                std::this_thread::yield();
                continue;
            }
            if (owners.fetch_add(1) != 0) {
                overlaps.fetch_add(1);
            }
            control(handle, IOCTL_ZRT05_REQUEST_F4, {flag});
            control(handle, IOCTL_ZRT05_REQUEST_FE, {flag});
            owners.fetch_sub(1);
            control(handle, IOCTL_ZRT05_RELEASE);
            ++done;
        }
        win32::CloseHandle(handle);
    };
    std::thread a(client, std::uint8_t(0));
    std::thread b(client, std::uint8_t(1));
    a.join();
    b.join();
    EXPECT_EQ(overlaps.load(), 0);
    EXPECT_EQ(device(0)->claimCount(), 0u);
    // Under the claim, each client's pair reached the scanner together.
    const auto setups = controlRequests(scanner_->transactions());
    ASSERT_EQ(setups.size(), std::size_t(4 * kRounds));
    for (std::size_t i = 0; i < setups.size(); i += 2) {
        EXPECT_EQ(setups[i].bRequest, 0xF4);
        EXPECT_EQ(setups[i + 1].bRequest, 0xFE);
        EXPECT_EQ(setups[i].wValue, setups[i + 1].wValue);
    }
}

} // namespace
} // namespace keldo::driver::testing
