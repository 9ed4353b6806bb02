// Builders of USB request blocks and the configuration descriptor parser.
#include "usb_types.h"

namespace keldo::driver {

void UsbBuildVendorRequest(Urb* urb, std::uint32_t transferFlags, std::uint8_t request,
                           std::uint16_t value, std::uint16_t index, void* buffer, Mdl* mdl,
                           std::uint32_t length) {
    urb->Function = UrbFunction::VendorDevice;
    urb->TransferFlags = transferFlags;
    urb->Request = request;
    urb->Value = value;
    urb->Index = index;
    urb->TransferBuffer = buffer;
    urb->TransferBufferMDL = mdl;
    urb->TransferBufferLength = length;
}

void UsbBuildGetDescriptorRequest(Urb* urb, std::uint8_t descriptorType, std::uint8_t index,
                                  std::uint16_t languageId, void* buffer, Mdl* mdl,
                                  std::uint32_t length) {
    urb->Function = UrbFunction::GetDescriptorFromDevice;
    urb->TransferFlags = USBD_TRANSFER_DIRECTION_IN | USBD_SHORT_TRANSFER_OK;
    urb->DescriptorType = descriptorType;
    urb->DescriptorIndex = index;
    urb->LanguageId = languageId;
    urb->TransferBuffer = buffer;
    urb->TransferBufferMDL = mdl;
    urb->TransferBufferLength = length;
}

void UsbBuildInterruptOrBulkTransferRequest(Urb* urb, USBD_PIPE_HANDLE pipe, void* buffer, Mdl* mdl,
                                            std::uint32_t length, std::uint32_t transferFlags) {
    urb->Function = UrbFunction::BulkOrInterruptTransfer;
    urb->PipeHandle = pipe;
    urb->TransferBuffer = buffer;
    urb->TransferBufferMDL = mdl;
    urb->TransferBufferLength = length;
    urb->TransferFlags = transferFlags;
}

void UsbBuildSelectConfigurationRequest(Urb* urb, const std::uint8_t* descriptor,
                                        std::size_t length) {
    urb->Function = UrbFunction::SelectConfiguration;
    urb->ConfigurationDescriptor = descriptor;
    urb->ConfigurationDescriptorLength = descriptor ? length : 0;
}

void UsbBuildResetPipeRequest(Urb* urb, USBD_PIPE_HANDLE pipe) {
    urb->Function = UrbFunction::ResetPipe;
    urb->PipeHandle = pipe;
}

bool UsbParseInterface(std::span<const std::uint8_t> configuration, std::uint8_t number,
                       std::uint8_t alternateSetting, UsbInterfaceDescriptor* found) {
    constexpr std::size_t kTotalLengthOffset = 2;
    constexpr std::size_t kInterfaceLength = 9;
    constexpr std::size_t kEndpointLength = 7;
    if (configuration.size() < kConfigurationDescriptorHeaderLength ||
        configuration[1] != USB_CONFIGURATION_DESCRIPTOR_TYPE) {
        return false;
    }
    std::size_t total = std::size_t(configuration[kTotalLengthOffset]) |
                        std::size_t(configuration[kTotalLengthOffset + 1]) << 8;
    total = std::min(total, configuration.size());
    bool inside = false;
    std::size_t offset = configuration[0];
    while (offset + 2 <= total) {
        const std::size_t length = configuration[offset];
        const std::uint8_t type = configuration[offset + 1];
        if (length < 2 || offset + length > total) {
            return false;
        }
        const std::uint8_t* d = configuration.data() + offset;
        if (type == USB_INTERFACE_DESCRIPTOR_TYPE) {
            if (inside) {
                return true; // the next interface begins
            }
            if (length >= kInterfaceLength && d[2] == number && d[3] == alternateSetting) {
                inside = true;
                found->number = d[2];
                found->alternateSetting = d[3];
                found->interfaceClass = d[5];
                found->subClass = d[6];
                found->protocol = d[7];
                found->endpoints.clear();
            }
        } else if (type == USB_ENDPOINT_DESCRIPTOR_TYPE && inside && length >= kEndpointLength) {
            found->endpoints.push_back({d[2], d[3], std::uint16_t(d[4] | d[5] << 8), d[6]});
        }
        offset += length;
    }
    return inside;
}

} // namespace keldo::driver
