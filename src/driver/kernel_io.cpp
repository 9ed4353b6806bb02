// The I/O manager: handles, file objects and the packets of client requests.
#include "kernel_io.h"

#include "kernel_pnp.h"

#include <algorithm>
#include <cassert>
#include <cstring>

namespace keldo::driver {

namespace {

// "\\.\zrt05-0" and "\\?\usb#..." both name the "\??\" directory.
std::string namespacePath(const std::string& path) {
    if (path.rfind("\\\\.\\", 0) == 0 || path.rfind("\\\\?\\", 0) == 0) {
        return "\\??\\" + path.substr(4);
    }
    return path;
}

} // namespace

IoManager::~IoManager() {
    std::lock_guard lock(mutex_);
    handles_.clear();
}

std::shared_ptr<FileObject> IoManager::lookup(Handle handle) {
    std::lock_guard lock(mutex_);
    auto it = handles_.find(handle);
    return it == handles_.end() ? nullptr : it->second;
}

template <typename Setup>
IoStatusBlock IoManager::call(FileObject& file, DeviceObject* device, Setup&& setup) {
    if (device->deleted.load()) {
        return {STATUS_NO_SUCH_DEVICE, 0};
    }
    Irp irp(device->StackSize);
    KEvent done;
    irp.UserEvent = &done;
    IoStackLocation* next = IoGetNextIrpStackLocation(&irp);
    next->File = &file;
    setup(irp, *next);
    {
        std::lock_guard lock(file.mutex);
        file.inFlight.push_back(&irp);
    }
    IoCallDriver(device, &irp);
    done.wait(std::nullopt);
    {
        // Taking the lock also waits out a cancel that is still looking at the packet.
        std::lock_guard lock(file.mutex);
        std::erase(file.inFlight, &irp);
        file.idle.notify_all();
    }
    return irp.IoStatus;
}

IoManager::Handle IoManager::open(const std::string& path, NTSTATUS* status) {
    std::shared_ptr<DeviceObject> named = kernel_.resolve(namespacePath(path));
    if (!named || named->deleted.load()) {
        *status = STATUS_OBJECT_NAME_NOT_FOUND;
        return 0;
    }
    // Opens go to the top of the stack the name belongs to.
    DeviceObject* top = IoGetAttachedDevice(named.get());
    auto file = std::make_shared<FileObject>();
    file->device = top->shared_from_this();
    const IoStatusBlock result = call(*file, top, [](Irp&, IoStackLocation& location) {
        location.MajorFunction = IRP_MJ_CREATE;
    });
    *status = result.Status;
    if (!NT_SUCCESS(result.Status)) {
        return 0;
    }
    top->openFiles.fetch_add(1);
    std::lock_guard lock(mutex_);
    const Handle handle = nextHandle_;
    nextHandle_ += 4;
    handles_[handle] = std::move(file);
    return handle;
}

NTSTATUS IoManager::read(Handle handle, void* buffer, std::uint32_t length,
                         std::size_t* transferred) {
    *transferred = 0;
    std::shared_ptr<FileObject> file = lookup(handle);
    if (!file) {
        return STATUS_INVALID_HANDLE;
    }
    Mdl mdl{buffer, length};
    const IoStatusBlock result =
        call(*file, file->device.get(), [&](Irp& irp, IoStackLocation& location) {
            location.MajorFunction = IRP_MJ_READ;
            location.Parameters.Read.Length = length;
            irp.MdlAddress = length ? &mdl : nullptr;
        });
    *transferred = std::min<std::size_t>(result.Information, length);
    return result.Status;
}

NTSTATUS IoManager::write(Handle handle, const void* buffer, std::uint32_t length,
                          std::size_t* transferred) {
    *transferred = 0;
    std::shared_ptr<FileObject> file = lookup(handle);
    if (!file) {
        return STATUS_INVALID_HANDLE;
    }
    Mdl mdl{const_cast<void*>(buffer), length};
    const IoStatusBlock result =
        call(*file, file->device.get(), [&](Irp& irp, IoStackLocation& location) {
            location.MajorFunction = IRP_MJ_WRITE;
            location.Parameters.Write.Length = length;
            irp.MdlAddress = length ? &mdl : nullptr;
        });
    *transferred = std::min<std::size_t>(result.Information, length);
    return result.Status;
}

NTSTATUS IoManager::deviceControl(Handle handle, std::uint32_t code, const void* input,
                                  std::uint32_t inputLength, void* output,
                                  std::uint32_t outputLength, std::size_t* returned) {
    *returned = 0;
    std::shared_ptr<FileObject> file = lookup(handle);
    if (!file) {
        return STATUS_INVALID_HANDLE;
    }
    if (ioctlMethod(code) != METHOD_BUFFERED) {
        return STATUS_INVALID_PARAMETER; // no driver of this stand-in uses the other methods
    }
    // Buffered I/O: input and output share one system buffer.
    std::vector<std::uint8_t> system(std::max(inputLength, outputLength));
    if (inputLength && input) {
        std::memcpy(system.data(), input, inputLength);
    }
    const IoStatusBlock result =
        call(*file, file->device.get(), [&](Irp& irp, IoStackLocation& location) {
            location.MajorFunction = IRP_MJ_DEVICE_CONTROL;
            location.Parameters.DeviceIoControl.IoControlCode = code;
            location.Parameters.DeviceIoControl.InputBufferLength = inputLength;
            location.Parameters.DeviceIoControl.OutputBufferLength = outputLength;
            irp.SystemBuffer = system.empty() ? nullptr : system.data();
        });
    assert(result.Information <= outputLength && "driver reported more output than fits");
    const std::size_t copied = std::min<std::size_t>(result.Information, outputLength);
    if (copied && output && NT_SUCCESS(result.Status)) {
        std::memcpy(output, system.data(), copied);
    }
    *returned = NT_SUCCESS(result.Status) ? copied : 0;
    return result.Status;
}

NTSTATUS IoManager::cancel(Handle handle) {
    std::shared_ptr<FileObject> file = lookup(handle);
    if (!file) {
        return STATUS_INVALID_HANDLE;
    }
    std::lock_guard lock(file->mutex);
    for (Irp* irp : file->inFlight) {
        IoCancelIrp(irp);
    }
    return STATUS_SUCCESS;
}

NTSTATUS IoManager::close(Handle handle) {
    std::shared_ptr<FileObject> file;
    {
        std::lock_guard lock(mutex_);
        auto it = handles_.find(handle);
        if (it == handles_.end()) {
            return STATUS_INVALID_HANDLE;
        }
        file = std::move(it->second);
        handles_.erase(it);
    }
    DeviceObject* device = file->device.get();
    call(*file, device,
         [](Irp&, IoStackLocation& location) { location.MajorFunction = IRP_MJ_CLEANUP; });
    {
        // The close comes after the last request on the file has finished.
        std::unique_lock lock(file->mutex);
        file->idle.wait(lock, [&] { return file->inFlight.empty(); });
    }
    call(*file, device,
         [](Irp&, IoStackLocation& location) { location.MajorFunction = IRP_MJ_CLOSE; });
    if (device->openFiles.fetch_sub(1) == 1) {
        kernel_.pnp().lastHandleClosed(device);
    }
    return STATUS_SUCCESS;
}

} // namespace keldo::driver
