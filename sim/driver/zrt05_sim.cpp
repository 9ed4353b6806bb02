// The simulated ZRT05.
#include "zrt05_sim.h"

#include "scanner_ioctl.h"

#include <algorithm>

namespace keldo::sim {

using driver::UsbSetupPacket;
using driver::UsbTransaction;

namespace {

constexpr std::uint8_t kVendorRequestType = 0x40;
constexpr std::uint8_t kTypeMask = 0x60;

} // namespace

SimulatedZrt05::Match SimulatedZrt05::vendor(std::uint8_t request,
                                             std::optional<std::uint16_t> value) {
    return [request, value](const UsbTransaction& t) {
        return t.type == UsbTransaction::Type::Control &&
               (t.setup.bmRequestType & kTypeMask) == kVendorRequestType &&
               t.setup.bRequest == request && (!value || t.setup.wValue == *value);
    };
}

SimulatedZrt05::Match SimulatedZrt05::deviceDescriptorRequest() {
    return [](const UsbTransaction& t) {
        return t.type == UsbTransaction::Type::Control &&
               t.setup.bRequest == driver::USB_REQUEST_GET_DESCRIPTOR &&
               (t.setup.wValue >> 8) == driver::USB_DEVICE_DESCRIPTOR_TYPE;
    };
}

SimulatedZrt05::Match SimulatedZrt05::clearHalt(std::uint8_t endpoint) {
    return [endpoint](const UsbTransaction& t) {
        return t.type == UsbTransaction::Type::Control &&
               t.setup.bRequest == driver::USB_REQUEST_CLEAR_FEATURE && t.setup.wIndex == endpoint;
    };
}

SimulatedZrt05::Match SimulatedZrt05::endpoint(std::uint8_t address) {
    return [address](const UsbTransaction& t) {
        return t.type != UsbTransaction::Type::Control && t.endpoint == address;
    };
}

std::vector<std::uint8_t> SimulatedZrt05::defaultDeviceDescriptor() {
    return {18,
            0x01,
            0x10,
            0x01,
            0xFF,
            0x00,
            0x00,
            64,
            std::uint8_t(driver::kZrt05VendorId & 0xFF),
            std::uint8_t(driver::kZrt05VendorId >> 8),
            std::uint8_t(driver::kZrt05ProductId & 0xFF),
            std::uint8_t(driver::kZrt05ProductId >> 8),
            0x00,
            0x01,
            1,
            2,
            3,
            1};
}

std::vector<std::uint8_t> SimulatedZrt05::defaultConfigurationDescriptor() {
    std::vector<std::uint8_t> d = {
        9, 0x02, 0,    0,    1,  1,    0,  0x80, 50, // configuration 1, one interface
        9, 0x04, 0,    0,    5,  0xFF, 0,  0,    0,  // interface 0, alternate 0, five endpoints
        7, 0x05, 0x01, 0x02, 64, 0,    0,            // bulk out
        7, 0x05, 0x81, 0x02, 64, 0,    0,            // bulk in: images
        7, 0x05, 0x02, 0x02, 64, 0,    0,            // bulk out
        7, 0x05, 0x82, 0x02, 64, 0,    0,            // bulk in
        7, 0x05, 0x83, 0x03, 8,  0,    10,           // interrupt in: events
    };
    d[2] = std::uint8_t(d.size());
    return d;
}

SimulatedZrt05::SimulatedZrt05() {
    // A scanner that needs no second initialization request.
    vendorAnswers_[{driver::kZrt05InitRequest, driver::kZrt05InitProbe}] = {1, 1, 0, 0, 0, 0, 0, 0};
}

void SimulatedZrt05::injectFault(Match match, Fault fault, unsigned nth, bool persistent) {
    std::lock_guard lock(mutex_);
    rules_.push_back({std::move(match), fault, nth ? nth : 1, persistent});
}

void SimulatedZrt05::clearFaults() {
    std::lock_guard lock(mutex_);
    rules_.clear();
}

void SimulatedZrt05::setVendorAnswer(std::uint8_t request, std::uint16_t value,
                                     std::vector<std::uint8_t> answer) {
    std::lock_guard lock(mutex_);
    vendorAnswers_[{request, value}] = std::move(answer);
}

void SimulatedZrt05::queueImage(std::vector<std::uint8_t> frame) {
    std::vector<Answer> answers;
    {
        std::lock_guard lock(mutex_);
        images_.push_back(std::move(frame));
        deliverWaiting(&answers);
    }
    send(answers);
}

void SimulatedZrt05::raiseEvent(std::vector<std::uint8_t> event) {
    std::vector<Answer> answers;
    {
        std::lock_guard lock(mutex_);
        events_.push_back(std::move(event));
        deliverWaiting(&answers);
    }
    send(answers);
}

void SimulatedZrt05::discardData() {
    std::lock_guard lock(mutex_);
    images_.clear();
    events_.clear();
}

std::vector<SimulatedZrt05::Record> SimulatedZrt05::transactions() {
    std::lock_guard lock(mutex_);
    return records_;
}

void SimulatedZrt05::clearTransactions() {
    std::lock_guard lock(mutex_);
    // Indices of transactions still in progress must stay valid.
    if (waiting_.empty() && unanswered_.empty()) {
        records_.clear();
    }
}

bool SimulatedZrt05::waitForWaiting(std::uint8_t address, std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] {
        for (const auto& [id, index] : waiting_) {
            if (records_[index].transaction.endpoint == address) {
                return true;
            }
        }
        for (const auto& [id, index] : unanswered_) {
            if (records_[index].transaction.endpoint == address) {
                return true;
            }
        }
        return false;
    });
}

std::vector<std::uint8_t> SimulatedZrt05::parameterBlock() {
    std::lock_guard lock(mutex_);
    return parameters_;
}

std::vector<std::uint8_t> SimulatedZrt05::received() {
    std::lock_guard lock(mutex_);
    return received_;
}

bool SimulatedZrt05::powered() {
    std::lock_guard lock(mutex_);
    return powered_;
}

std::uint8_t SimulatedZrt05::configuration() {
    std::lock_guard lock(mutex_);
    return configuration_;
}

void SimulatedZrt05::connect(driver::UsbPortLink* link) {
    std::lock_guard lock(mutex_);
    link_ = link;
    configuration_ = 0;
    powered_ = true;
}

void SimulatedZrt05::disconnect() {
    std::unique_lock lock(mutex_);
    // The link may go away once we return: wait out answers being delivered.
    changed_.wait(lock, [this] { return sending_ == 0; });
    link_ = nullptr;
    for (auto& [id, index] : waiting_) {
        records_[index].outcome = Outcome::Disconnected;
    }
    for (auto& [id, index] : unanswered_) {
        records_[index].outcome = Outcome::Disconnected;
    }
    waiting_.clear();
    unanswered_.clear();
    configuration_ = 0;
    parameters_.clear();
    changed_.notify_all();
}

void SimulatedZrt05::submit(std::uint64_t id, const UsbTransaction& transaction) {
    std::vector<Answer> answers;
    {
        std::lock_guard lock(mutex_);
        records_.push_back({transaction, Outcome::Unanswered, {}});
        const std::size_t index = records_.size() - 1;
        std::optional<Fault> fault;
        for (auto it = rules_.begin(); it != rules_.end(); ++it) {
            if (!it->match(transaction)) {
                continue;
            }
            if (it->remaining > 1) {
                --it->remaining;
                continue;
            }
            fault = it->fault;
            if (!it->persistent) {
                rules_.erase(it);
            }
            break;
        }
        if (fault == Fault::Stall) {
            records_[index].outcome = Outcome::Stalled;
            answers.push_back({id, driver::USBD_STATUS_STALL_PID, {}});
        } else if (fault == Fault::NoAnswer) {
            unanswered_[id] = index;
        } else if (!answerNow(index, id, &answers)) {
            waiting_[id] = index;
        }
        changed_.notify_all();
    }
    send(answers);
}

void SimulatedZrt05::cancel(std::uint64_t id) {
    std::lock_guard lock(mutex_);
    for (auto* table : {&waiting_, &unanswered_}) {
        if (auto it = table->find(id); it != table->end()) {
            records_[it->second].outcome = Outcome::Cancelled;
            table->erase(it);
        }
    }
    changed_.notify_all();
}

void SimulatedZrt05::setPowered(bool powered) {
    std::lock_guard lock(mutex_);
    if (powered_ && !powered) {
        parameters_.clear(); // volatile: the block is lost without power
    }
    powered_ = powered;
}

std::vector<std::uint8_t> SimulatedZrt05::standardAnswer(const UsbSetupPacket& setup) {
    if (setup.bRequest == driver::USB_REQUEST_GET_DESCRIPTOR) {
        switch (setup.wValue >> 8) {
        case driver::USB_DEVICE_DESCRIPTOR_TYPE:
            return defaultDeviceDescriptor();
        case driver::USB_CONFIGURATION_DESCRIPTOR_TYPE:
            return defaultConfigurationDescriptor();
        default:
            return {};
        }
    }
    return {};
}

bool SimulatedZrt05::answerNow(std::size_t index, std::uint64_t id, std::vector<Answer>* answers) {
    Record& record = records_[index];
    const UsbTransaction& t = record.transaction;
    auto answer = [&](std::vector<std::uint8_t> data) {
        if (data.size() > t.inLength) {
            data.resize(t.inLength);
        }
        record.outcome = Outcome::Answered;
        record.answer = data;
        answers->push_back({id, driver::USBD_STATUS_SUCCESS, std::move(data)});
        return true;
    };
    switch (t.type) {
    case UsbTransaction::Type::Control: {
        const UsbSetupPacket& s = t.setup;
        if ((s.bmRequestType & kTypeMask) == kVendorRequestType) {
            if (!t.isIn()) {
                if (s.bRequest == driver::kZrt05ParametersRequest) {
                    parameters_ = t.out;
                }
                return answer({});
            }
            if (auto it = vendorAnswers_.find({s.bRequest, s.wValue}); it != vendorAnswers_.end()) {
                return answer(it->second);
            }
            std::vector<std::uint8_t> data(s.wLength);
            for (std::size_t i = 0; i < data.size(); ++i) {
                data[i] = std::uint8_t(s.bRequest + i);
            }
            return answer(std::move(data));
        }
        if (s.bRequest == driver::USB_REQUEST_SET_CONFIGURATION) {
            configuration_ = std::uint8_t(s.wValue);
        }
        return answer(t.isIn() ? standardAnswer(s) : std::vector<std::uint8_t>{});
    }
    case UsbTransaction::Type::Bulk:
    case UsbTransaction::Type::Interrupt:
        if (!t.isIn()) {
            if (t.endpoint == driver::kZrt05ImageOut) {
                received_.insert(received_.end(), t.out.begin(), t.out.end());
            }
            return answer({});
        }
        if (t.endpoint == driver::kZrt05ImageIn && !images_.empty()) {
            // A transfer takes what fits of the current frame; the rest waits.
            std::vector<std::uint8_t>& frame = images_.front();
            const std::size_t n = std::min(frame.size(), t.inLength);
            std::vector<std::uint8_t> part(frame.begin(), frame.begin() + long(n));
            frame.erase(frame.begin(), frame.begin() + long(n));
            if (frame.empty()) {
                images_.pop_front();
            }
            return answer(std::move(part));
        }
        if (t.endpoint == driver::kZrt05EventIn && !events_.empty()) {
            std::vector<std::uint8_t> event = std::move(events_.front());
            events_.pop_front();
            return answer(std::move(event));
        }
        return false; // waits for data
    }
    return false;
}

void SimulatedZrt05::deliverWaiting(std::vector<Answer>* answers) {
    for (auto it = waiting_.begin(); it != waiting_.end();) {
        if (answerNow(it->second, it->first, answers)) {
            it = waiting_.erase(it);
        } else {
            ++it;
        }
    }
}

void SimulatedZrt05::send(std::vector<Answer>& answers) {
    if (answers.empty()) {
        return;
    }
    driver::UsbPortLink* link = nullptr;
    {
        std::lock_guard lock(mutex_);
        link = link_;
        if (!link) {
            return;
        }
        ++sending_;
    }
    for (Answer& a : answers) {
        link->complete(a.id, a.status, a.data);
    }
    std::lock_guard lock(mutex_);
    --sending_;
    changed_.notify_all();
}

} // namespace keldo::sim
