// The contract between zrtdrv9x and its clients: names, interface class,
// I/O control codes and the vendor requests behind them. Shared by the driver,
// the simulated scanner and the fingerprint SDK stand-in.
#pragma once

#include "kernel_types.h"

#include <cstdint>

namespace keldo::driver {

// USB identity of the ZRT05 (what its INF file binds the driver to).
inline constexpr std::uint16_t kZrt05VendorId = 0x1A2B;
inline constexpr std::uint16_t kZrt05ProductId = 0x0005;
inline constexpr const char* kZrt05HardwareId = "USB\\VID_1A2B&PID_0005";

// Device names: "\Device\zrt05-N", link "zrt05-N", opened as "\\.\zrt05-N".
inline constexpr const char* kZrt05NameStem = "zrt05-";
inline constexpr unsigned kZrt05MaxUnits = 10;

// {1FBBA601-C4ED-43E9-B635-70F828D1744D}
inline constexpr Guid kZrt05InterfaceClass = {
    0x1FBBA601, 0xC4ED, 0x43E9, {0xB6, 0x35, 0x70, 0xF8, 0x28, 0xD1, 0x74, 0x4D}};

// Endpoints of configuration 1, interface 0, alternate setting 0.
inline constexpr std::uint8_t kZrt05ImageOut = 0x01;
inline constexpr std::uint8_t kZrt05ImageIn = 0x81;
inline constexpr std::uint8_t kZrt05AuxOut = 0x02;
inline constexpr std::uint8_t kZrt05AuxIn = 0x82;
inline constexpr std::uint8_t kZrt05EventIn = 0x83;
inline constexpr std::uint32_t kZrt05ImageMaxTransfer = 344512;
inline constexpr std::uint32_t kZrt05AuxMaxTransfer = 4096;
inline constexpr std::uint32_t kZrt05EventLength = 4;

constexpr std::uint32_t zrt05Ioctl(std::uint32_t function) {
    return CTL_CODE(FILE_DEVICE_UNKNOWN, function, METHOD_BUFFERED, FILE_ANY_ACCESS);
}

inline constexpr std::uint32_t IOCTL_ZRT05_INITIALIZE = zrt05Ioctl(0x800);            // 0x222000
inline constexpr std::uint32_t IOCTL_ZRT05_REQUEST_F0 = zrt05Ioctl(0x801);            // 0x222004
inline constexpr std::uint32_t IOCTL_ZRT05_REQUEST_F4 = zrt05Ioctl(0x802);            // 0x222008
inline constexpr std::uint32_t IOCTL_ZRT05_REQUEST_F8 = zrt05Ioctl(0x803);            // 0x22200C
inline constexpr std::uint32_t IOCTL_ZRT05_REQUEST_FE = zrt05Ioctl(0x804);            // 0x222010
inline constexpr std::uint32_t IOCTL_ZRT05_REQUEST_90 = zrt05Ioctl(0x805);            // 0x222014
inline constexpr std::uint32_t IOCTL_ZRT05_SET_PARAMETERS = zrt05Ioctl(0x806);        // 0x222018
inline constexpr std::uint32_t IOCTL_ZRT05_REQUEST_9C = zrt05Ioctl(0x807);            // 0x22201C
inline constexpr std::uint32_t IOCTL_ZRT05_REQUEST_20 = zrt05Ioctl(0x808);            // 0x222020
inline constexpr std::uint32_t IOCTL_ZRT05_REQUEST_74 = zrt05Ioctl(0x809);            // 0x222024
inline constexpr std::uint32_t IOCTL_ZRT05_REQUEST_78 = zrt05Ioctl(0x80A);            // 0x222028
inline constexpr std::uint32_t IOCTL_ZRT05_REQUEST_54 = zrt05Ioctl(0x80B);            // 0x22202C
inline constexpr std::uint32_t IOCTL_ZRT05_REQUEST_58 = zrt05Ioctl(0x80C);            // 0x222030
inline constexpr std::uint32_t IOCTL_ZRT05_REQUEST_04 = zrt05Ioctl(0x80D);            // 0x222034
inline constexpr std::uint32_t IOCTL_ZRT05_REQUEST_08 = zrt05Ioctl(0x80E);            // 0x222038
inline constexpr std::uint32_t IOCTL_ZRT05_GET_DEVICE_DESCRIPTOR = zrt05Ioctl(0x80F); // 0x22203C
inline constexpr std::uint32_t IOCTL_ZRT05_POLL_EVENT = zrt05Ioctl(0x810);            // 0x222040
inline constexpr std::uint32_t IOCTL_ZRT05_READ_IMAGE = zrt05Ioctl(0x811);            // 0x222044
inline constexpr std::uint32_t IOCTL_ZRT05_WRITE_DATA = zrt05Ioctl(0x812);            // 0x222048
inline constexpr std::uint32_t IOCTL_ZRT05_CLAIM = zrt05Ioctl(0x813);                 // 0x22204C
inline constexpr std::uint32_t IOCTL_ZRT05_RELEASE = zrt05Ioctl(0x814);               // 0x222050
inline constexpr std::uint32_t IOCTL_ZRT05_RESET_PIPES = zrt05Ioctl(0x815);           // 0x222054
inline constexpr std::uint32_t IOCTL_ZRT05_CYCLE_PORT = zrt05Ioctl(0x816);            // 0x222058

// Vendor requests of the initialization sequence: 0xFF with these wValues.
inline constexpr std::uint8_t kZrt05InitRequest = 0xFF;
inline constexpr std::uint16_t kZrt05InitProbe = 0x50;
inline constexpr std::uint16_t kZrt05InitAfterZeroNonZero = 0x51; // answer 00 xx
inline constexpr std::uint16_t kZrt05InitAfterNonZeroZero = 0x52; // answer xx 00
inline constexpr std::uint16_t kZrt05InitAfterZeroZero = 0x53;    // answer 00 00
inline constexpr std::uint16_t kZrt05InitFallback = 0x54;         // probe failed
inline constexpr std::uint32_t kZrt05InitAnswerLength = 8;

// The vendor request of IOCTL_ZRT05_SET_PARAMETERS, re-sent after each power-up.
inline constexpr std::uint8_t kZrt05ParametersRequest = 0x98;
inline constexpr std::uint32_t kZrt05ParametersLength = 8;

// Flag values carried in wValue by the flag controls.
inline constexpr std::uint16_t kZrt05FlagOn = 0x51;
inline constexpr std::uint16_t kZrt05FlagOff = 0x50;

// IOCTL_ZRT05_RESET_PIPES selectors.
inline constexpr std::uint16_t kZrt05ResetImagePipes = 0;
inline constexpr std::uint16_t kZrt05ResetAuxPipes = 1;
inline constexpr std::uint16_t kZrt05ResetEventPipe = 2;
inline constexpr std::uint16_t kZrt05FlushBuffers = 3;

} // namespace keldo::driver
