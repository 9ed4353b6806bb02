// Status codes, request codes and small value types of the kernel stand-in.
// Values are those of the Windows DDK, so that statuses reported by the
// driver mean the same thing to a client written against Windows.
#pragma once

#include <cstdint>
#include <string>

namespace keldo::driver {

using NTSTATUS = std::int32_t;

constexpr NTSTATUS ntStatus(std::uint32_t value) {
    return static_cast<NTSTATUS>(value);
}

inline constexpr NTSTATUS STATUS_SUCCESS = 0;
inline constexpr NTSTATUS STATUS_TIMEOUT = ntStatus(0x00000102);
inline constexpr NTSTATUS STATUS_PENDING = ntStatus(0x00000103);
inline constexpr NTSTATUS STATUS_DEVICE_BUSY = ntStatus(0x80000011);
inline constexpr NTSTATUS STATUS_UNSUCCESSFUL = ntStatus(0xC0000001);
inline constexpr NTSTATUS STATUS_NOT_IMPLEMENTED = ntStatus(0xC0000002);
inline constexpr NTSTATUS STATUS_INVALID_HANDLE = ntStatus(0xC0000008);
inline constexpr NTSTATUS STATUS_INVALID_PARAMETER = ntStatus(0xC000000D);
inline constexpr NTSTATUS STATUS_NO_SUCH_DEVICE = ntStatus(0xC000000E);
inline constexpr NTSTATUS STATUS_INVALID_DEVICE_REQUEST = ntStatus(0xC0000010);
inline constexpr NTSTATUS STATUS_MORE_PROCESSING_REQUIRED = ntStatus(0xC0000016);
inline constexpr NTSTATUS STATUS_BUFFER_TOO_SMALL = ntStatus(0xC0000023);
inline constexpr NTSTATUS STATUS_OBJECT_NAME_INVALID = ntStatus(0xC0000033);
inline constexpr NTSTATUS STATUS_OBJECT_NAME_NOT_FOUND = ntStatus(0xC0000034);
inline constexpr NTSTATUS STATUS_OBJECT_NAME_COLLISION = ntStatus(0xC0000035);
inline constexpr NTSTATUS STATUS_DELETE_PENDING = ntStatus(0xC0000056);
inline constexpr NTSTATUS STATUS_INSUFFICIENT_RESOURCES = ntStatus(0xC000009A);
inline constexpr NTSTATUS STATUS_DEVICE_DATA_ERROR = ntStatus(0xC000009C);
inline constexpr NTSTATUS STATUS_DEVICE_NOT_CONNECTED = ntStatus(0xC000009D);
inline constexpr NTSTATUS STATUS_NOT_SUPPORTED = ntStatus(0xC00000BB);
inline constexpr NTSTATUS STATUS_CANCELLED = ntStatus(0xC0000120);

// Success and informational statuses are non-negative; warnings and errors are not.
constexpr bool NT_SUCCESS(NTSTATUS status) {
    return status >= 0;
}

// Major function codes.
inline constexpr std::uint8_t IRP_MJ_CREATE = 0x00;
inline constexpr std::uint8_t IRP_MJ_CLOSE = 0x02;
inline constexpr std::uint8_t IRP_MJ_READ = 0x03;
inline constexpr std::uint8_t IRP_MJ_WRITE = 0x04;
inline constexpr std::uint8_t IRP_MJ_FLUSH_BUFFERS = 0x09;
inline constexpr std::uint8_t IRP_MJ_DEVICE_CONTROL = 0x0E;
inline constexpr std::uint8_t IRP_MJ_INTERNAL_DEVICE_CONTROL = 0x0F;
inline constexpr std::uint8_t IRP_MJ_CLEANUP = 0x12;
inline constexpr std::uint8_t IRP_MJ_POWER = 0x16;
inline constexpr std::uint8_t IRP_MJ_SYSTEM_CONTROL = 0x17;
inline constexpr std::uint8_t IRP_MJ_PNP = 0x1B;
inline constexpr std::uint8_t IRP_MJ_MAXIMUM_FUNCTION = 0x1B;

// Plug and Play minor codes.
inline constexpr std::uint8_t IRP_MN_START_DEVICE = 0x00;
inline constexpr std::uint8_t IRP_MN_QUERY_REMOVE_DEVICE = 0x01;
inline constexpr std::uint8_t IRP_MN_REMOVE_DEVICE = 0x02;
inline constexpr std::uint8_t IRP_MN_CANCEL_REMOVE_DEVICE = 0x03;
inline constexpr std::uint8_t IRP_MN_STOP_DEVICE = 0x04;
inline constexpr std::uint8_t IRP_MN_QUERY_STOP_DEVICE = 0x05;
inline constexpr std::uint8_t IRP_MN_CANCEL_STOP_DEVICE = 0x06;
inline constexpr std::uint8_t IRP_MN_QUERY_CAPABILITIES = 0x09;
inline constexpr std::uint8_t IRP_MN_SURPRISE_REMOVAL = 0x17;

// Power minor codes.
inline constexpr std::uint8_t IRP_MN_WAIT_WAKE = 0x00;
inline constexpr std::uint8_t IRP_MN_SET_POWER = 0x02;
inline constexpr std::uint8_t IRP_MN_QUERY_POWER = 0x03;

enum class PowerStateType { System, Device };

enum class DevicePowerState { Unspecified = 0, D0 = 1, D1 = 2, D2 = 3, D3 = 4 };
enum class SystemPowerState { Unspecified = 0, Working = 1, Sleeping1 = 2, Sleeping3 = 4 };

struct PowerState {
    SystemPowerState system = SystemPowerState::Unspecified;
    DevicePowerState device = DevicePowerState::Unspecified;
};

// The subset of DEVICE_CAPABILITIES that the stand-in's bus drivers fill.
struct DeviceCapabilities {
    bool lockSupported = false;
    bool ejectSupported = false;
    bool removable = false;
    bool surpriseRemovalOK = false;
    bool wakeFromD3 = false;
};

// Device types, characteristics and flags.
inline constexpr std::uint32_t FILE_DEVICE_UNKNOWN = 0x22;
inline constexpr std::uint32_t FILE_DEVICE_BUS_EXTENDER = 0x2A;
inline constexpr std::uint32_t FILE_ANY_ACCESS = 0;
inline constexpr std::uint32_t METHOD_BUFFERED = 0;
inline constexpr std::uint32_t METHOD_NEITHER = 3;
inline constexpr std::uint32_t DO_BUFFERED_IO = 0x0004;
inline constexpr std::uint32_t DO_DIRECT_IO = 0x0010;
inline constexpr std::uint32_t DO_DEVICE_INITIALIZING = 0x0080;
inline constexpr std::uint32_t DO_POWER_PAGABLE = 0x2000;

constexpr std::uint32_t CTL_CODE(std::uint32_t deviceType, std::uint32_t function,
                                 std::uint32_t method, std::uint32_t access) {
    return (deviceType << 16) | (access << 14) | (function << 2) | method;
}

constexpr std::uint32_t ioctlMethod(std::uint32_t code) {
    return code & 3;
}

// A device interface class identifier.
struct Guid {
    std::uint32_t data1 = 0;
    std::uint16_t data2 = 0;
    std::uint16_t data3 = 0;
    std::uint8_t data4[8] = {};

    friend bool operator==(const Guid&, const Guid&) = default;
};

// "{1fbba601-c4ed-43e9-b635-70f828d1744d}"
std::string guidToString(const Guid& guid);

} // namespace keldo::driver
