// The USB-stack stand-in: a bus driver whose physical device objects accept
// URBs and turn them into transactions on a UsbFunction (a device on a port),
// with completion, time-out by cancel, unplugging and port cycling.
//
//   Kernel kernel;
//   UsbBus bus(kernel);
//   UsbPort* port = bus.plug(std::make_shared<SomeUsbFunction>());
//   ... port->devNode() is the Plug and Play node of the device ...
//   bus.unplug(port);
//
// A UsbBus must be destroyed before its Kernel; its destructor unplugs every device.
#pragma once

#include "kernel_pnp.h"
#include "usb_types.h"

#include <cstdint>
#include <memory>
#include <span>

namespace keldo::driver {

// One transaction as the device sees it on the wire.
struct UsbTransaction {
    enum class Type { Control, Bulk, Interrupt };
    Type type = Type::Control;
    std::uint8_t endpoint = 0; // 0 for the default pipe; bit 7 set for IN endpoints
    UsbSetupPacket setup;      // control transfers only
    std::vector<std::uint8_t> out;
    std::size_t inLength = 0; // how many bytes the host accepts (IN only)

    bool isIn() const {
        return type == Type::Control ? (setup.bmRequestType & 0x80) != 0 : (endpoint & 0x80) != 0;
    }
};

// What a device sees of the port it is plugged into.
class UsbPortLink {
public:
    // Answers transaction id: a status and, for IN transactions, the data.
    // Answers to transactions that were cancelled meanwhile are ignored.
    virtual void complete(std::uint64_t id, USBD_STATUS status,
                          std::span<const std::uint8_t> in = {}) = 0;

protected:
    ~UsbPortLink() = default;
};

// A device on the bus. Calls come from the threads of the host's requests; a
// device may answer inside submit() or later, from any thread.
class UsbFunction {
public:
    virtual ~UsbFunction() = default;
    // The 18-byte device descriptor, read by the hub when the device connects.
    virtual std::vector<std::uint8_t> deviceDescriptor() = 0;
    virtual void connect(UsbPortLink* link) = 0;
    // The port lost the device: forget the link and every transaction in progress.
    virtual void disconnect() = 0;
    virtual void submit(std::uint64_t id, const UsbTransaction& transaction) = 0;
    // The host gave up on transaction id; it must not be answered.
    virtual void cancel(std::uint64_t id) = 0;
    virtual void setPowered(bool powered) = 0;
};

class UsbBus;
struct UsbPdo;

class UsbPort {
public:
    // The Plug and Play node of the device's current enumeration (a cycled port
    // gets a new one); null once unplugged.
    DevNode* devNode();
    std::shared_ptr<UsbFunction> function() const { return function_; }
    unsigned flushCount() const { return flushes_.load(); }
    unsigned cycleCount() const { return cycles_.load(); }

private:
    friend class UsbBus;
    friend struct UsbPdo;
    UsbBus* bus_ = nullptr;
    std::shared_ptr<UsbFunction> function_;
    UsbPdo* pdo_ = nullptr; // current enumeration
    DevNode* node_ = nullptr;
    std::atomic<unsigned> flushes_{0};
    std::atomic<unsigned> cycles_{0};
};

class UsbBus {
public:
    explicit UsbBus(Kernel& kernel);
    ~UsbBus();
    UsbBus(const UsbBus&) = delete;
    UsbBus& operator=(const UsbBus&) = delete;

    // Connects a device and lets Plug and Play add and start its driver.
    UsbPort* plug(std::shared_ptr<UsbFunction> function);
    // Disconnects the device: transactions in progress fail with
    // STATUS_DEVICE_NOT_CONNECTED, the driver gets a surprise removal.
    void unplug(UsbPort* port);
    // Caps the maximum transfer size the bus grants when a configuration is selected.
    void setMaxTransferSizeLimit(std::uint32_t limit) { transferLimit_.store(limit); }
    std::uint32_t maxTransferSizeLimit() const { return transferLimit_.load(); }

    Kernel& kernel() { return kernel_; }

private:
    friend struct UsbPdo;
    friend class UsbPort;
    void enumerate(UsbPort* port);
    void disconnect(UsbPort* port, bool force);
    void cycle(UsbPort* port);

    Kernel& kernel_;
    DriverObject* driver_ = nullptr;
    std::mutex mutex_;
    std::vector<std::unique_ptr<UsbPort>> ports_;
    unsigned nextPdo_ = 0;
    std::atomic<std::uint32_t> transferLimit_{0xFFFFFFFFu};
};

} // namespace keldo::driver
