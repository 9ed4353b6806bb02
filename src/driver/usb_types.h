// USB request blocks and descriptors of the USB-stack stand-in, shaped like
// the USB driver interface (usbdi.h): a function driver fills an Urb, puts it
// in Parameters.Others.Argument1 of an IRP_MJ_INTERNAL_DEVICE_CONTROL packet
// with IOCTL_INTERNAL_USB_SUBMIT_URB and sends it to the bus below it.
#pragma once

#include "kernel.h"

#include <cstdint>
#include <span>
#include <vector>

namespace keldo::driver {

inline constexpr std::uint32_t FILE_DEVICE_USB = FILE_DEVICE_UNKNOWN;
inline constexpr std::uint32_t IOCTL_INTERNAL_USB_SUBMIT_URB =
    CTL_CODE(FILE_DEVICE_USB, 0, METHOD_NEITHER, FILE_ANY_ACCESS);
inline constexpr std::uint32_t IOCTL_INTERNAL_USB_RESET_PORT =
    CTL_CODE(FILE_DEVICE_USB, 1, METHOD_NEITHER, FILE_ANY_ACCESS);
inline constexpr std::uint32_t IOCTL_INTERNAL_USB_CYCLE_PORT =
    CTL_CODE(FILE_DEVICE_USB, 7, METHOD_NEITHER, FILE_ANY_ACCESS);

// USBD status codes carried in Urb::Status.
using USBD_STATUS = std::uint32_t;
inline constexpr USBD_STATUS USBD_STATUS_SUCCESS = 0;
inline constexpr USBD_STATUS USBD_STATUS_STALL_PID = 0xC0000004;
inline constexpr USBD_STATUS USBD_STATUS_DEV_NOT_RESPONDING = 0xC0000005;
inline constexpr USBD_STATUS USBD_STATUS_ERROR_SHORT_TRANSFER = 0xC0000012;
inline constexpr USBD_STATUS USBD_STATUS_INVALID_PIPE_HANDLE = 0x80000400;
inline constexpr USBD_STATUS USBD_STATUS_INVALID_PARAMETER = 0x80000300;
inline constexpr USBD_STATUS USBD_STATUS_CANCELED = 0xC0010000;
inline constexpr USBD_STATUS USBD_STATUS_DEVICE_GONE = 0xC0007000;

// Standard requests and descriptor types.
inline constexpr std::uint8_t USB_REQUEST_CLEAR_FEATURE = 0x01;
inline constexpr std::uint8_t USB_REQUEST_GET_DESCRIPTOR = 0x06;
inline constexpr std::uint8_t USB_REQUEST_SET_CONFIGURATION = 0x09;
inline constexpr std::uint16_t USB_FEATURE_ENDPOINT_STALL = 0x00;
inline constexpr std::uint8_t USB_DEVICE_DESCRIPTOR_TYPE = 0x01;
inline constexpr std::uint8_t USB_CONFIGURATION_DESCRIPTOR_TYPE = 0x02;
inline constexpr std::uint8_t USB_INTERFACE_DESCRIPTOR_TYPE = 0x04;
inline constexpr std::uint8_t USB_ENDPOINT_DESCRIPTOR_TYPE = 0x05;
inline constexpr std::size_t kDeviceDescriptorLength = 18;
inline constexpr std::size_t kConfigurationDescriptorHeaderLength = 9;

// Transfer flags.
inline constexpr std::uint32_t USBD_TRANSFER_DIRECTION_IN = 0x01;
inline constexpr std::uint32_t USBD_SHORT_TRANSFER_OK = 0x02;

enum class UsbPipeType { Control, Isochronous, Bulk, Interrupt };

using USBD_PIPE_HANDLE = std::uintptr_t;
using USBD_CONFIGURATION_HANDLE = std::uintptr_t;

struct UsbPipeInformation {
    // Filled by the bus.
    std::uint16_t MaximumPacketSize = 0;
    std::uint8_t EndpointAddress = 0;
    std::uint8_t Interval = 0;
    UsbPipeType PipeType = UsbPipeType::Bulk;
    USBD_PIPE_HANDLE PipeHandle = 0;
    // Requested by the driver, then reported by the bus.
    std::uint32_t MaximumTransferSize = 0;
};

struct UsbInterfaceInformation {
    std::uint8_t InterfaceNumber = 0;
    std::uint8_t AlternateSetting = 0;
    std::uint8_t Class = 0;
    std::uint8_t SubClass = 0;
    std::uint8_t Protocol = 0;
    std::vector<UsbPipeInformation> Pipes;
};

enum class UrbFunction {
    SelectConfiguration,
    GetDescriptorFromDevice,
    VendorDevice,
    BulkOrInterruptTransfer,
    ResetPipe,
};

struct Urb {
    UrbFunction Function = UrbFunction::VendorDevice;
    USBD_STATUS Status = USBD_STATUS_SUCCESS;

    // Select configuration: the configuration descriptor (null to deconfigure)
    // and the interfaces to bind, whose pipes the bus fills.
    const std::uint8_t* ConfigurationDescriptor = nullptr;
    std::size_t ConfigurationDescriptorLength = 0;
    std::vector<UsbInterfaceInformation> Interfaces;
    USBD_CONFIGURATION_HANDLE ConfigurationHandle = 0;

    // Control and data transfers. TransferBufferLength is what was asked for
    // on the way down and what was moved on the way up.
    std::uint32_t TransferFlags = 0;
    void* TransferBuffer = nullptr;
    Mdl* TransferBufferMDL = nullptr;
    std::uint32_t TransferBufferLength = 0;
    std::uint8_t Request = 0;
    std::uint16_t Value = 0;
    std::uint16_t Index = 0;
    std::uint8_t DescriptorType = 0;
    std::uint8_t DescriptorIndex = 0;
    std::uint16_t LanguageId = 0;
    USBD_PIPE_HANDLE PipeHandle = 0;
};

void UsbBuildVendorRequest(Urb* urb, std::uint32_t transferFlags, std::uint8_t request,
                           std::uint16_t value, std::uint16_t index, void* buffer, Mdl* mdl,
                           std::uint32_t length);
void UsbBuildGetDescriptorRequest(Urb* urb, std::uint8_t descriptorType, std::uint8_t index,
                                  std::uint16_t languageId, void* buffer, Mdl* mdl,
                                  std::uint32_t length);
void UsbBuildInterruptOrBulkTransferRequest(Urb* urb, USBD_PIPE_HANDLE pipe, void* buffer, Mdl* mdl,
                                            std::uint32_t length, std::uint32_t transferFlags);
void UsbBuildSelectConfigurationRequest(Urb* urb, const std::uint8_t* descriptor,
                                        std::size_t length);
void UsbBuildResetPipeRequest(Urb* urb, USBD_PIPE_HANDLE pipe);

// One endpoint as the configuration descriptor describes it.
struct UsbEndpointDescriptor {
    std::uint8_t address = 0;
    std::uint8_t attributes = 0;
    std::uint16_t maxPacketSize = 0;
    std::uint8_t interval = 0;
};

struct UsbInterfaceDescriptor {
    std::uint8_t number = 0;
    std::uint8_t alternateSetting = 0;
    std::uint8_t interfaceClass = 0;
    std::uint8_t subClass = 0;
    std::uint8_t protocol = 0;
    std::vector<UsbEndpointDescriptor> endpoints;
};

// Finds an interface in a configuration descriptor (USBD_ParseConfigurationDescriptorEx).
// Every length inside the descriptor is checked against the bytes given; false
// when the interface is absent or the descriptor is malformed.
bool UsbParseInterface(std::span<const std::uint8_t> configuration, std::uint8_t number,
                       std::uint8_t alternateSetting, UsbInterfaceDescriptor* found);

// The setup packet of a control transfer.
struct UsbSetupPacket {
    std::uint8_t bmRequestType = 0;
    std::uint8_t bRequest = 0;
    std::uint16_t wValue = 0;
    std::uint16_t wIndex = 0;
    std::uint16_t wLength = 0;
};

} // namespace keldo::driver
