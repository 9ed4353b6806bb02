// The client side of the scanner driver: the Win32 calls through which the
// fingerprint SDK reaches a device of the running kernel stand-in.
//
//   HANDLE h = CreateFile("\\\\.\\zrt05-0");
//   DWORD got = 0;
//   if (!DeviceIoControl(h, IOCTL_ZRT_CLAIM, nullptr, 0, nullptr, 0, &got))
//       ... GetLastError() == ERROR_BUSY, LastNtStatus() == STATUS_DEVICE_BUSY
//   CloseHandle(h);
//
// Each call completes before it returns. A failed call sets the thread's last
// error (the Win32 code) and its last NTSTATUS (what the driver reported);
// every call sets the last NTSTATUS, also on success (STATUS_TIMEOUT is a
// success status).
#pragma once

#include "kernel_types.h"

#include <cstdint>
#include <string>
#include <vector>

namespace keldo::driver::win32 {

using HANDLE = std::intptr_t;
using DWORD = std::uint32_t;
using BOOL = bool;

inline constexpr HANDLE INVALID_HANDLE_VALUE = -1;

inline constexpr DWORD ERROR_SUCCESS = 0;
inline constexpr DWORD ERROR_INVALID_FUNCTION = 1;
inline constexpr DWORD ERROR_FILE_NOT_FOUND = 2;
inline constexpr DWORD ERROR_ACCESS_DENIED = 5;
inline constexpr DWORD ERROR_INVALID_HANDLE = 6;
inline constexpr DWORD ERROR_NOT_ENOUGH_MEMORY = 8;
inline constexpr DWORD ERROR_NOT_READY = 21;
inline constexpr DWORD ERROR_CRC = 23;
inline constexpr DWORD ERROR_GEN_FAILURE = 31;
inline constexpr DWORD ERROR_NOT_SUPPORTED = 50;
inline constexpr DWORD ERROR_DEV_NOT_EXIST = 55;
inline constexpr DWORD ERROR_INVALID_PARAMETER = 87;
inline constexpr DWORD ERROR_INSUFFICIENT_BUFFER = 122;
inline constexpr DWORD ERROR_BUSY = 170;
inline constexpr DWORD ERROR_OPERATION_ABORTED = 995;
inline constexpr DWORD ERROR_NO_SYSTEM_RESOURCES = 1450;
inline constexpr DWORD ERROR_SEM_TIMEOUT = 121;

// Maps a driver status to the Win32 error a client sees.
DWORD RtlNtStatusToDosError(NTSTATUS status);

HANDLE CreateFile(const std::string& path);
BOOL DeviceIoControl(HANDLE device, DWORD ioControlCode, const void* inBuffer, DWORD inBufferSize,
                     void* outBuffer, DWORD outBufferSize, DWORD* bytesReturned);
BOOL ReadFile(HANDLE file, void* buffer, DWORD bytesToRead, DWORD* bytesRead);
BOOL WriteFile(HANDLE file, const void* buffer, DWORD bytesToWrite, DWORD* bytesWritten);
// Cancels the requests in flight on the handle from every thread.
BOOL CancelIoEx(HANDLE file);
BOOL CloseHandle(HANDLE object);

DWORD GetLastError();
NTSTATUS LastNtStatus();

// The paths of every enabled device interface of the class, ready for
// CreateFile (what SetupDiGetClassDevs with SetupDiGetDeviceInterfaceDetail gives).
std::vector<std::string> EnumerateDeviceInterfaces(const Guid& interfaceClass);

} // namespace keldo::driver::win32
