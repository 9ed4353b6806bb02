// A simulated ZRT05 fingerprint scanner on the USB-stack stand-in.
//
// It answers the standard descriptor requests and the vendor requests,
// delivers image data on endpoint 0x81 and events on 0x83 as the test queues
// them (a transfer waits until there is something to deliver), takes data on
// 0x01, keeps the parameter block of vendor request 0x98 while it is powered,
// and records every transaction it sees with how it ended.
//
// Faults are injected by countdown: the nth matching transaction (once, or it
// and every later one) is stalled or never answered. Unplugging is done on the
// bus (UsbBus::unplug), as with a real cable.
//
//   auto scanner = std::make_shared<SimulatedZrt05>();
//   scanner->injectFault(SimulatedZrt05::vendor(0xFF, 0x50), SimulatedZrt05::Fault::Stall);
//   UsbPort* port = bus.plug(scanner);
#pragma once

#include "usb_bus.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <vector>

namespace keldo::sim {

class SimulatedZrt05 final : public driver::UsbFunction {
public:
    enum class Outcome { Answered, Stalled, Unanswered, Cancelled, Disconnected };

    struct Record {
        driver::UsbTransaction transaction;
        Outcome outcome = Outcome::Unanswered;
        std::vector<std::uint8_t> answer; // data sent to the host
    };

    enum class Fault { Stall, NoAnswer };
    using Match = std::function<bool(const driver::UsbTransaction&)>;

    // Matchers for injectFault.
    static Match vendor(std::uint8_t request, std::optional<std::uint16_t> value = std::nullopt);
    static Match deviceDescriptorRequest();
    static Match clearHalt(std::uint8_t endpoint);
    static Match endpoint(std::uint8_t address);

    SimulatedZrt05();

    void injectFault(Match match, Fault fault, unsigned nth = 1, bool persistent = false);
    void clearFaults();
    // The answer to a vendor IN request (request, wValue); shorter answers are sent short.
    void setVendorAnswer(std::uint8_t request, std::uint16_t value,
                         std::vector<std::uint8_t> answer);
    void queueImage(std::vector<std::uint8_t> frame);
    void raiseEvent(std::vector<std::uint8_t> event);
    // Drops queued images and events that no transfer has taken.
    void discardData();

    std::vector<Record> transactions();
    void clearTransactions();
    // Waits until a transaction on the endpoint is waiting for data or an answer.
    bool waitForWaiting(std::uint8_t endpoint, std::chrono::milliseconds timeout);
    std::vector<std::uint8_t> parameterBlock();
    std::vector<std::uint8_t> received(); // everything written to 0x01
    bool powered();
    std::uint8_t configuration();

    static std::vector<std::uint8_t> defaultDeviceDescriptor();
    static std::vector<std::uint8_t> defaultConfigurationDescriptor();

    // UsbFunction
    std::vector<std::uint8_t> deviceDescriptor() override { return defaultDeviceDescriptor(); }
    void connect(driver::UsbPortLink* link) override;
    void disconnect() override;
    void submit(std::uint64_t id, const driver::UsbTransaction& transaction) override;
    void cancel(std::uint64_t id) override;
    void setPowered(bool powered) override;

private:
    struct Rule {
        Match match;
        Fault fault;
        unsigned remaining;
        bool persistent;
    };
    struct Answer {
        std::uint64_t id;
        driver::USBD_STATUS status;
        std::vector<std::uint8_t> data;
    };

    // Caller holds mutex_. Fills answer and returns true when answered now.
    bool answerNow(std::size_t record, std::uint64_t id, std::vector<Answer>* answers);
    void deliverWaiting(std::vector<Answer>* answers);
    void send(std::vector<Answer>& answers);
    std::vector<std::uint8_t> standardAnswer(const driver::UsbSetupPacket& setup);

    std::mutex mutex_;
    std::condition_variable changed_;
    driver::UsbPortLink* link_ = nullptr;
    int sending_ = 0; // answers being handed to the link outside the lock
    std::vector<Rule> rules_;
    std::map<std::pair<std::uint8_t, std::uint16_t>, std::vector<std::uint8_t>> vendorAnswers_;
    std::deque<std::vector<std::uint8_t>> images_;
    std::deque<std::vector<std::uint8_t>> events_;
    std::vector<Record> records_;
    std::map<std::uint64_t, std::size_t> waiting_;    // id -> record, transfers waiting for data
    std::map<std::uint64_t, std::size_t> unanswered_; // id -> record, never answered
    std::vector<std::uint8_t> parameters_;
    std::vector<std::uint8_t> received_;
    bool powered_ = true;
    std::uint8_t configuration_ = 0;
};

} // namespace keldo::sim
