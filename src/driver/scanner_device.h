// ScannerDevice: one attached ZRT05. Reads, writes and the 23 I/O controls
// each become one USB transaction (or a local operation), handled to
// completion in the caller's thread.
//
// Buffer sizes: a control whose input or output buffer is shorter than the
// data it carries fails with STATUS_BUFFER_TOO_SMALL before anything is sent;
// the information count never exceeds the output buffer.
#pragma once

#include "driver_base.h"
#include "scanner_ioctl.h"
#include "usb_lower_device.h"

#include <array>
#include <chrono>

namespace keldo::driver {

class ScannerDevice final : public PnpDeviceBase {
public:
    static constexpr std::chrono::milliseconds kTransactionTimeout{4000};
    static constexpr std::chrono::milliseconds kEventPollTimeout{100};

    ScannerDevice(DeviceObject* self, DeviceObject* physicalDevice, unsigned unit,
                  std::string symbolicLink);
    ~ScannerDevice() override = default;

    // The outcome of construction: an error means the device must be destroyed.
    NTSTATUS constructionStatus() const { return construction_; }
    unsigned unit() const { return unit_; }
    std::uint32_t claimCount();
    std::array<std::uint8_t, kZrt05ParametersLength> savedParameters();

protected:
    NTSTATUS read(Irp* irp) override;
    NTSTATUS write(Irp* irp) override;
    NTSTATUS deviceControl(Irp* irp) override;
    NTSTATUS onStartDevice(Irp* irp) override;
    NTSTATUS onStopDevice(Irp* irp) override;
    NTSTATUS onRemoveDevice(Irp* irp) override;
    NTSTATUS onQueryCapabilities(Irp* irp) override;
    void onDevicePowerUp() override;

private:
    enum class OnTimeout { Reinitialize, Report };

    struct ControlRequest {
        bool in = false;
        bool deviceDescriptor = false; // standard GET_DESCRIPTOR instead of a vendor request
        std::uint8_t request = 0;
        std::uint16_t value = 0;
        std::uint16_t index = 0;
    };

    NTSTATUS control(const ControlRequest& request, void* data, std::uint32_t length,
                     std::uint32_t* received, OnTimeout onTimeout);
    NTSTATUS transfer(UsbPipe& pipe, void* buffer, Mdl* mdl, std::uint32_t length,
                      std::size_t* moved);
    NTSTATUS pollEvent(std::uint8_t* buffer, std::size_t* received);
    NTSTATUS initializationSequence(std::array<std::uint8_t, kZrt05InitAnswerLength>* answer,
                                    std::size_t* count);
    NTSTATUS performControl(std::uint32_t code, std::uint8_t* buffer, std::uint32_t inputLength,
                            std::uint32_t outputLength, std::size_t* information);
    NTSTATUS claim();
    NTSTATUS release();
    NTSTATUS resetPipes(std::uint16_t selector);
    std::array<UsbPipe*, 5> pipes() {
        return {&imageOut_, &imageIn_, &auxOut_, &auxIn_, &eventIn_};
    }

    unsigned unit_;
    NTSTATUS construction_ = STATUS_SUCCESS;

    UsbLowerDevice lower_;
    UsbInterface interface_;
    UsbPipe imageOut_; // 0x01
    UsbPipe imageIn_;  // 0x81
    UsbPipe auxOut_;   // 0x02
    UsbPipe auxIn_;    // 0x82
    UsbPipe eventIn_;  // 0x83
    // The claim lock also covers the saved block, which the power-up path reads
    // in another thread than the one that sets it.
    std::array<std::uint8_t, kZrt05ParametersLength> savedParameters_{};
    KSpinLock claimLock_;
    std::uint32_t claimCount_ = 0;
};

} // namespace keldo::driver
