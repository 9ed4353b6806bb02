// Win32-shaped client calls over the I/O manager of the running kernel.
#include "client.h"

#include "kernel_io.h"

namespace keldo::driver::win32 {

namespace {

thread_local DWORD lastError = ERROR_SUCCESS;
thread_local NTSTATUS lastStatus = STATUS_SUCCESS;

BOOL finish(NTSTATUS status) {
    lastStatus = status;
    if (NT_SUCCESS(status)) {
        return true;
    }
    lastError = RtlNtStatusToDosError(status);
    return false;
}

} // namespace

DWORD RtlNtStatusToDosError(NTSTATUS status) {
    switch (status) {
    case STATUS_SUCCESS:
        return ERROR_SUCCESS;
    case STATUS_TIMEOUT:
        return ERROR_SEM_TIMEOUT;
    case STATUS_DEVICE_BUSY:
        return ERROR_BUSY;
    case STATUS_NOT_IMPLEMENTED:
    case STATUS_INVALID_DEVICE_REQUEST:
        return ERROR_INVALID_FUNCTION;
    case STATUS_INVALID_HANDLE:
        return ERROR_INVALID_HANDLE;
    case STATUS_INVALID_PARAMETER:
        return ERROR_INVALID_PARAMETER;
    case STATUS_NO_SUCH_DEVICE:
        return ERROR_DEV_NOT_EXIST;
    case STATUS_BUFFER_TOO_SMALL:
        return ERROR_INSUFFICIENT_BUFFER;
    case STATUS_OBJECT_NAME_INVALID:
    case STATUS_OBJECT_NAME_NOT_FOUND:
        return ERROR_FILE_NOT_FOUND;
    case STATUS_DELETE_PENDING:
        return ERROR_ACCESS_DENIED;
    case STATUS_INSUFFICIENT_RESOURCES:
        return ERROR_NO_SYSTEM_RESOURCES;
    case STATUS_DEVICE_DATA_ERROR:
        return ERROR_CRC;
    case STATUS_DEVICE_NOT_CONNECTED:
        return ERROR_NOT_READY;
    case STATUS_NOT_SUPPORTED:
        return ERROR_NOT_SUPPORTED;
    case STATUS_CANCELLED:
        return ERROR_OPERATION_ABORTED;
    default:
        return ERROR_GEN_FAILURE;
    }
}

HANDLE CreateFile(const std::string& path) {
    NTSTATUS status = STATUS_SUCCESS;
    const IoManager::Handle handle = Kernel::current().io().open(path, &status);
    finish(status);
    return handle ? handle : INVALID_HANDLE_VALUE;
}

BOOL DeviceIoControl(HANDLE device, DWORD ioControlCode, const void* inBuffer, DWORD inBufferSize,
                     void* outBuffer, DWORD outBufferSize, DWORD* bytesReturned) {
    std::size_t returned = 0;
    const NTSTATUS status = Kernel::current().io().deviceControl(
        device, ioControlCode, inBuffer, inBufferSize, outBuffer, outBufferSize, &returned);
    if (bytesReturned) {
        *bytesReturned = DWORD(returned);
    }
    return finish(status);
}

BOOL ReadFile(HANDLE file, void* buffer, DWORD bytesToRead, DWORD* bytesRead) {
    std::size_t moved = 0;
    const NTSTATUS status = Kernel::current().io().read(file, buffer, bytesToRead, &moved);
    if (bytesRead) {
        *bytesRead = DWORD(moved);
    }
    return finish(status);
}

BOOL WriteFile(HANDLE file, const void* buffer, DWORD bytesToWrite, DWORD* bytesWritten) {
    std::size_t moved = 0;
    const NTSTATUS status = Kernel::current().io().write(file, buffer, bytesToWrite, &moved);
    if (bytesWritten) {
        *bytesWritten = DWORD(moved);
    }
    return finish(status);
}

BOOL CancelIoEx(HANDLE file) {
    return finish(Kernel::current().io().cancel(file));
}

BOOL CloseHandle(HANDLE object) {
    return finish(Kernel::current().io().close(object));
}

DWORD GetLastError() {
    return lastError;
}

NTSTATUS LastNtStatus() {
    return lastStatus;
}

std::vector<std::string> EnumerateDeviceInterfaces(const Guid& interfaceClass) {
    return Kernel::current().enabledInterfaces(interfaceClass);
}

} // namespace keldo::driver::win32
