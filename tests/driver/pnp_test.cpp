// Device creation, naming, Plug and Play and power of zrtdrv9x.
#include "driver_fixture.h"

#include <future>

namespace keldo::driver::testing {
namespace {

using State = DevNode::State;

class PnpTest : public DriverTest {};

TEST_F(PnpTest, UnitsAreTheLowestFreeNumbersAndComeBackAfterReplug) {
    UsbPort* first = nullptr;
    UsbPort* second = nullptr;
    plugScanner(&first);
    plugScanner(&second);
    EXPECT_TRUE(machine_.kernel.nameExists("\\Device\\zrt05-0"));
    EXPECT_TRUE(machine_.kernel.nameExists("\\??\\zrt05-1"));
    ASSERT_NE(device(0), nullptr);
    ASSERT_NE(device(1), nullptr);
    EXPECT_EQ(device(0)->physicalDevice(), first->devNode()->physicalDevice);
    EXPECT_EQ(device(1)->physicalDevice(), second->devNode()->physicalDevice);

    machine_.bus.unplug(first);
    EXPECT_FALSE(machine_.kernel.nameExists("\\Device\\zrt05-0"));
    EXPECT_EQ(open(0), win32::INVALID_HANDLE_VALUE);
    EXPECT_EQ(win32::GetLastError(), win32::ERROR_FILE_NOT_FOUND);

    UsbPort* again = machine_.plug(std::static_pointer_cast<SimulatedZrt05>(first->function()));
    ASSERT_NE(device(0), nullptr);
    EXPECT_EQ(device(0)->physicalDevice(), again->devNode()->physicalDevice);
    EXPECT_NE(open(0), win32::INVALID_HANDLE_VALUE);
}

TEST_F(PnpTest, AnEleventhScannerIsNotAdded) {
    std::vector<UsbPort*> ports(11);
    for (UsbPort*& port : ports) {
        plugScanner(&port);
    }
    for (unsigned unit = 0; unit < 10; ++unit) {
        EXPECT_EQ(machine_.kernel.pnp().state(ports[unit]->devNode()), State::Started) << unit;
    }
    DevNode* eleventh = ports[10]->devNode();
    EXPECT_EQ(machine_.kernel.pnp().state(eleventh), State::AddFailed);
    EXPECT_EQ(eleventh->problem, STATUS_INSUFFICIENT_RESOURCES);
    EXPECT_FALSE(machine_.kernel.nameExists("\\Device\\zrt05-10"));

    // A freed unit is taken by the next scanner.
    machine_.bus.unplug(ports[4]);
    plugScanner();
    EXPECT_NE(device(4), nullptr);
}

TEST(PnpNames, LinkPrefixFollowsTheSystemAndOpensTheSameWay) {
    for (OsFlavor flavor : {OsFlavor::Windows98, OsFlavor::WindowsNT}) {
        SCOPED_TRACE(flavor == OsFlavor::Windows98 ? "98" : "NT");
        sim::Zrt05Machine machine(flavor);
        machine.plug(std::make_shared<SimulatedZrt05>());
        auto object = machine.kernel.resolve("\\Device\\zrt05-0");
        ASSERT_TRUE(object);
        const std::string expected =
            flavor == OsFlavor::Windows98 ? "\\DosDevices\\zrt05-0" : "\\??\\zrt05-0";
        EXPECT_EQ(PnpDeviceBase::of(object.get())->symbolicLink(), expected);
        EXPECT_TRUE(machine.kernel.nameExists("\\DosDevices\\zrt05-0"));
        win32::HANDLE handle = win32::CreateFile(unitPath(0));
        ASSERT_NE(handle, win32::INVALID_HANDLE_VALUE);
        win32::CloseHandle(handle);
    }
}

TEST_F(PnpTest, DeviceObjectAndInterfaceAreSetUpAsClientsExpect) {
    UsbPort* port = nullptr;
    plugScanner(&port);
    DeviceObject* object = device(0)->deviceObject();
    EXPECT_EQ(object->DeviceType, FILE_DEVICE_UNKNOWN);
    EXPECT_EQ(object->Characteristics, 0u);
    EXPECT_FALSE(object->exclusive);
    EXPECT_EQ(object->Flags & (DO_DIRECT_IO | DO_POWER_PAGABLE | DO_DEVICE_INITIALIZING),
              DO_DIRECT_IO | DO_POWER_PAGABLE);
    EXPECT_TRUE(port->devNode()->capabilities.surpriseRemovalOK);
    EXPECT_EQ(machine_.kernel.power().reportedState(object), DevicePowerState::D0);

    // The interface is enabled while started, and opens the same device.
    const auto interfaces = win32::EnumerateDeviceInterfaces(kZrt05InterfaceClass);
    ASSERT_EQ(interfaces.size(), 1u);
    win32::HANDLE viaInterface = win32::CreateFile(interfaces[0]);
    ASSERT_NE(viaInterface, win32::INVALID_HANDLE_VALUE);
    handles_.push_back(viaInterface);
    EXPECT_TRUE(control(viaInterface, IOCTL_ZRT05_CLAIM).ok);
    EXPECT_EQ(device(0)->claimCount(), 1u);

    PnpManager& pnp = machine_.kernel.pnp();
    ASSERT_TRUE(NT_SUCCESS(pnp.queryStop(port->devNode())));
    ASSERT_TRUE(NT_SUCCESS(pnp.stop(port->devNode())));
    EXPECT_TRUE(win32::EnumerateDeviceInterfaces(kZrt05InterfaceClass).empty());
    ASSERT_TRUE(NT_SUCCESS(pnp.start(port->devNode())));
    EXPECT_EQ(win32::EnumerateDeviceInterfaces(kZrt05InterfaceClass).size(), 1u);
}

TEST_F(PnpTest, StartSelectsConfigurationOneAndRunsTheInitializationSequence) {
    UsbPort* port = nullptr;
    auto scanner = plugScanner(&port);
    EXPECT_EQ(scanner->configuration(), 1);
    EXPECT_EQ(describeAll(scanner->transactions()),
              (std::vector<std::string>{"80/06/0200/0000", "00/09/0001/0000", "80/06/0100/0000",
                                        "C0/FF/0050/0000"}));
    EXPECT_EQ(controlRequests(scanner->transactions())[0].wLength, 1024);

    // Stop deselects the configuration; a new start selects it again.
    PnpManager& pnp = machine_.kernel.pnp();
    pnp.queryStop(port->devNode());
    pnp.stop(port->devNode());
    EXPECT_EQ(scanner->configuration(), 0);
    pnp.start(port->devNode());
    EXPECT_EQ(scanner->configuration(), 1);
}

TEST_F(PnpTest, AScannerThatDoesNotAnswerTheSequenceFailsToStart) {
    auto scanner = std::make_shared<SimulatedZrt05>();
    scanner->injectFault(SimulatedZrt05::deviceDescriptorRequest(), SimulatedZrt05::Fault::Stall);
    UsbPort* port = machine_.plug(scanner);
    EXPECT_EQ(machine_.kernel.pnp().state(port->devNode()), State::StartFailed);
    EXPECT_EQ(port->devNode()->problem, STATUS_UNSUCCESSFUL);
    EXPECT_FALSE(machine_.kernel.nameExists("\\Device\\zrt05-0"));
    EXPECT_TRUE(win32::EnumerateDeviceInterfaces(kZrt05InterfaceClass).empty());
}

TEST_F(PnpTest, OpenBeforeStartSucceedsButRequestsFail) {
    machine_.kernel.pnp().setAutoStart(false);
    UsbPort* port = nullptr;
    auto scanner = plugScanner(&port);
    EXPECT_EQ(machine_.kernel.pnp().state(port->devNode()), State::Added);
    win32::HANDLE handle = open(0);
    ASSERT_NE(handle, win32::INVALID_HANDLE_VALUE);

    Bytes buffer(64);
    win32::DWORD got = 99;
    EXPECT_FALSE(win32::ReadFile(handle, buffer.data(), 64, &got));
    EXPECT_EQ(win32::LastNtStatus(), STATUS_UNSUCCESSFUL);
    EXPECT_EQ(got, 0u);
    EXPECT_EQ(control(handle, IOCTL_ZRT05_CLAIM).status, STATUS_UNSUCCESSFUL);
    EXPECT_TRUE(scanner->transactions().empty());

    ASSERT_TRUE(NT_SUCCESS(machine_.kernel.pnp().start(port->devNode())));
    EXPECT_TRUE(control(handle, IOCTL_ZRT05_CLAIM).ok);
}

// A control sent while a stop is pending is held; what ends it depends on
// what Plug and Play does next.
TEST_F(PnpTest, HeldControlEndsAccordingToWhatFollowsTheQueryStop) {
    enum class Next { Unplug, CancelStop, StopAndStart, Cancel };
    struct Case {
        const char* name;
        Next next;
        NTSTATUS expected;
    };
    const Case cases[] = {
        {"unplug", Next::Unplug, STATUS_DELETE_PENDING},
        {"cancel stop", Next::CancelStop, STATUS_SUCCESS},
        {"stop then start", Next::StopAndStart, STATUS_SUCCESS},
        {"request cancelled", Next::Cancel, STATUS_CANCELLED},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        UsbPort* port = nullptr;
        auto scanner = plugScanner(&port);
        win32::HANDLE handle = open(0);
        ASSERT_NE(handle, win32::INVALID_HANDLE_VALUE);
        DevNode* node = port->devNode();
        PnpManager& pnp = machine_.kernel.pnp();
        ASSERT_TRUE(NT_SUCCESS(pnp.queryStop(node)));
        scanner->clearTransactions();

        auto held = std::async(std::launch::async,
                               [&] { return control(handle, IOCTL_ZRT05_REQUEST_F0).status; });
        ASSERT_TRUE(eventually([&] { return device(0)->heldRequests() == 1; }));
        EXPECT_TRUE(scanner->transactions().empty());

        switch (c.next) {
        case Next::Unplug:
            machine_.bus.unplug(port);
            break;
        case Next::CancelStop:
            pnp.cancelStop(node);
            break;
        case Next::StopAndStart:
            pnp.stop(node);
            pnp.start(node);
            break;
        case Next::Cancel:
            win32::CancelIoEx(handle);
            break;
        }
        EXPECT_EQ(held.get(), c.expected);
        const bool sent = !controlRequests(scanner->transactions()).empty() &&
                          controlRequests(scanner->transactions()).back().bRequest == 0xF0;
        EXPECT_EQ(sent, NT_SUCCESS(c.expected));

        close(handle);
        if (c.next != Next::Unplug) {
            if (c.next == Next::Cancel) {
                pnp.cancelStop(node);
            }
            machine_.bus.unplug(port);
        }
        machine_.kernel.pnp().waitIdle();
        EXPECT_FALSE(machine_.kernel.nameExists("\\Device\\zrt05-0"));
    }
}

TEST_F(PnpTest, SurpriseRemovalRefusesRequestsAndRemovalWaitsForTheLastHandle) {
    UsbPort* port = nullptr;
    plugScanner(&port);
    win32::HANDLE handle = open(0);
    ASSERT_NE(handle, win32::INVALID_HANDLE_VALUE);
    DevNode* node = port->devNode();
    machine_.bus.unplug(port);
    EXPECT_EQ(machine_.kernel.pnp().state(node), State::SurpriseRemoved);

    // The name stays while a handle is open, but leads nowhere new.
    EXPECT_TRUE(machine_.kernel.nameExists("\\Device\\zrt05-0"));
    EXPECT_EQ(control(handle, IOCTL_ZRT05_CLAIM).status, STATUS_DELETE_PENDING);
    EXPECT_EQ(win32::CreateFile(unitPath(0)), win32::INVALID_HANDLE_VALUE);
    EXPECT_EQ(win32::LastNtStatus(), STATUS_DELETE_PENDING);

    // A second scanner meanwhile takes the next unit.
    plugScanner();
    EXPECT_NE(device(1), nullptr);

    close(handle);
    machine_.kernel.pnp().waitIdle();
    EXPECT_EQ(machine_.kernel.pnp().state(node), State::Removed);
    EXPECT_FALSE(machine_.kernel.nameExists("\\Device\\zrt05-0"));
}

TEST_F(PnpTest, EveryPowerUpResendsTheLastParameterBlock) {
    auto scanner = plugScanner();
    win32::HANDLE handle = open(0);
    const Bytes block = {1, 2, 3, 4, 5, 6, 7, 8};
    ASSERT_TRUE(control(handle, IOCTL_ZRT05_SET_PARAMETERS, block).ok);
    ASSERT_TRUE(control(handle, IOCTL_ZRT05_SET_PARAMETERS, {9, 9, 9, 9, 4, 3, 2, 1}).ok);
    ASSERT_TRUE(control(handle, IOCTL_ZRT05_SET_PARAMETERS, block).ok);
    EXPECT_EQ(scanner->parameterBlock(), block);

    machine_.kernel.power().setSystemPower(SystemPowerState::Sleeping3);
    EXPECT_EQ(device(0)->powerState(), DevicePowerState::D3);
    EXPECT_FALSE(scanner->powered());
    EXPECT_TRUE(scanner->parameterBlock().empty()); // lost with the power
    scanner->clearTransactions();

    machine_.kernel.power().setSystemPower(SystemPowerState::Working);
    EXPECT_EQ(device(0)->powerState(), DevicePowerState::D0);
    EXPECT_EQ(scanner->parameterBlock(), block);
    const auto log = scanner->transactions();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(describe(log[0].transaction.setup), "40/98/0000/0000");
    EXPECT_EQ(log[0].transaction.out, block);
    EXPECT_EQ(machine_.kernel.power().reportedState(device(0)->deviceObject()),
              DevicePowerState::D0);
}

TEST_F(PnpTest, OpeningOrUsingAPoweredDownDeviceBringsItToD0First) {
    auto scanner = plugScanner();
    DeviceObject* object = device(0)->deviceObject();
    PowerManager& power = machine_.kernel.power();

    // Open powers up; the parameter block (cleared at creation) goes out first.
    ASSERT_TRUE(NT_SUCCESS(power.setDevicePower(object, DevicePowerState::D3)));
    scanner->clearTransactions();
    win32::HANDLE handle = open(0);
    ASSERT_NE(handle, win32::INVALID_HANDLE_VALUE);
    EXPECT_EQ(device(0)->powerState(), DevicePowerState::D0);
    EXPECT_EQ(describeAll(scanner->transactions()), (std::vector<std::string>{"40/98/0000/0000"}));
    EXPECT_EQ(scanner->transactions()[0].transaction.out, Bytes(8, 0));

    // A request on an open handle does the same before its own transaction.
    ASSERT_TRUE(NT_SUCCESS(power.setDevicePower(object, DevicePowerState::D3)));
    scanner->clearTransactions();
    EXPECT_TRUE(control(handle, IOCTL_ZRT05_REQUEST_54).ok);
    EXPECT_EQ(describeAll(scanner->transactions()),
              (std::vector<std::string>{"40/98/0000/0000", "40/54/0000/0000"}));

    // Closing the last handle does not power the device down.
    close(handle);
    EXPECT_EQ(device(0)->powerState(), DevicePowerState::D0);
}

TEST_F(PnpTest, ClaimLivesAsLongAsTheDeviceNotTheHandle) {
    UsbPort* port = nullptr;
    plugScanner(&port);
    win32::HANDLE first = open(0);
    ASSERT_TRUE(control(first, IOCTL_ZRT05_CLAIM).ok);
    close(first);
    win32::HANDLE second = open(0);
    EXPECT_EQ(control(second, IOCTL_ZRT05_CLAIM).status, STATUS_DEVICE_BUSY);
    close(second);

    // A new device object starts unclaimed.
    machine_.bus.unplug(port);
    plugScanner();
    EXPECT_TRUE(control(open(0), IOCTL_ZRT05_CLAIM).ok);
}

} // namespace
} // namespace keldo::driver::testing
