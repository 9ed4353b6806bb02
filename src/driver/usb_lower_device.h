// The class library's USB objects: the lower USB device (the stack below a
// function driver), an interface of a configuration, and pipes. Every request
// is sent synchronously and awaited, with a time-out where one is given: a
// request that is not answered in time is cancelled and awaited before the
// call returns, so no request outlives the call that made it.
#pragma once

#include "usb_types.h"

#include <atomic>
#include <chrono>
#include <optional>
#include <span>

namespace keldo::driver {

using Timeout = std::optional<std::chrono::milliseconds>;

class UsbPipe;
class UsbInterface;

class UsbLowerDevice {
public:
    struct Result {
        NTSTATUS status = STATUS_SUCCESS;
        bool timedOut = false; // the wait ended first; the request was cancelled
    };

    // Attaches self on top of the physical device's stack.
    void initialize(DeviceObject* self, DeviceObject* physicalDevice);
    DeviceObject* lower() const { return lower_; }

    // Sends the URB and waits. STATUS_INSUFFICIENT_RESOURCES when no packet
    // can be allocated.
    Result submitUrb(Urb* urb, Timeout timeout);

    // Reads at most maxDescriptorBytes of the configuration descriptor, finds
    // the interface, selects the configuration and binds the pipes whose
    // endpoints the interface has.
    NTSTATUS activateConfiguration(std::uint8_t configurationValue,
                                   std::uint32_t maxDescriptorBytes, UsbInterface& interface,
                                   std::span<UsbPipe* const> pipes, Timeout timeout);
    // Selects no configuration and unbinds the pipes.
    NTSTATUS deactivateConfiguration(std::span<UsbPipe* const> pipes, Timeout timeout);
    // Forgets the pipes' handles (the configuration is gone with the device).
    void releaseResources(std::span<UsbPipe* const> pipes);

    // An internal request without buffers to the stack below.
    NTSTATUS internalRequest(std::uint32_t code);
    // A flush-buffers request to the stack below.
    NTSTATUS flush();

private:
    NTSTATUS sendAndWait(std::uint8_t major, std::uint32_t code, void* argument);

    DeviceObject* self_ = nullptr;
    DeviceObject* lower_ = nullptr;
};

class UsbInterface {
public:
    void initialize(UsbLowerDevice* lower, std::uint8_t number, std::uint8_t configurationValue,
                    std::uint8_t alternateSetting) {
        lower_ = lower;
        number_ = number;
        configurationValue_ = configurationValue;
        alternateSetting_ = alternateSetting;
    }
    std::uint8_t number() const { return number_; }
    std::uint8_t configurationValue() const { return configurationValue_; }
    std::uint8_t alternateSetting() const { return alternateSetting_; }

private:
    UsbLowerDevice* lower_ = nullptr;
    std::uint8_t number_ = 0;
    std::uint8_t configurationValue_ = 1;
    std::uint8_t alternateSetting_ = 0;
};

class UsbPipe {
public:
    void initialize(UsbLowerDevice* lower, std::uint8_t endpointAddress,
                    std::uint32_t maxTransferSize) {
        lower_ = lower;
        address_ = endpointAddress;
        requested_ = maxTransferSize;
    }
    std::uint8_t address() const { return address_; }
    bool isIn() const { return (address_ & 0x80) != 0; }
    std::uint32_t requestedMaxTransferSize() const { return requested_; }
    // What the USB stack granted once bound, the requested size before.
    std::uint32_t maximumTransferSize() const {
        return handle_.load() ? granted_.load() : requested_;
    }
    USBD_PIPE_HANDLE handle() const { return handle_.load(); }

    void bind(USBD_PIPE_HANDLE handle, std::uint32_t granted) {
        granted_.store(granted);
        handle_.store(handle);
    }
    void unbind() { handle_.store(0); }

    // A reset-pipe request, awaited without a time limit.
    NTSTATUS reset();

private:
    UsbLowerDevice* lower_ = nullptr;
    std::uint8_t address_ = 0;
    std::uint32_t requested_ = 0;
    std::atomic<USBD_PIPE_HANDLE> handle_{0};
    std::atomic<std::uint32_t> granted_{0};
};

} // namespace keldo::driver
