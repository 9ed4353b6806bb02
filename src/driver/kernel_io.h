// The I/O manager of the kernel stand-in: file objects and handles, and the
// packets it builds for a client's create, read, write, I/O control, cleanup
// and close. Requests are synchronous: the calling thread waits until the
// driver completes the packet.
#pragma once

#include "kernel.h"

#include <cstdint>

namespace keldo::driver {

struct FileObject {
    std::shared_ptr<DeviceObject> device; // top of the stack when opened
    std::mutex mutex;
    std::condition_variable idle;
    std::vector<Irp*> inFlight;
};

class IoManager {
public:
    using Handle = std::intptr_t;

    explicit IoManager(Kernel& kernel) : kernel_(kernel) {}
    ~IoManager();

    // Opens "\\.\name", "\\?\interface-path" or a namespace name; 0 on failure.
    Handle open(const std::string& path, NTSTATUS* status);
    NTSTATUS read(Handle handle, void* buffer, std::uint32_t length, std::size_t* transferred);
    NTSTATUS write(Handle handle, const void* buffer, std::uint32_t length,
                   std::size_t* transferred);
    NTSTATUS deviceControl(Handle handle, std::uint32_t code, const void* input,
                           std::uint32_t inputLength, void* output, std::uint32_t outputLength,
                           std::size_t* returned);
    // Cancels every request in flight on the handle.
    NTSTATUS cancel(Handle handle);
    NTSTATUS close(Handle handle);

private:
    std::shared_ptr<FileObject> lookup(Handle handle);
    // Sends a packet prepared by setup and waits for its completion.
    template <typename Setup>
    IoStatusBlock call(FileObject& file, DeviceObject* device, Setup&& setup);

    Kernel& kernel_;
    std::mutex mutex_;
    std::map<Handle, std::shared_ptr<FileObject>> handles_;
    Handle nextHandle_ = 0x40;
};

} // namespace keldo::driver
