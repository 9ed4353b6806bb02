// Request packets: stack locations, the call down a stack, completion back up
// it, and cancellation.
#include "kernel.h"

#include <cassert>

namespace keldo::driver {

Irp::Irp(int stackSize) : CurrentLocation(stackSize), stack(std::size_t(stackSize)) {}

Irp* IoAllocateIrp(std::int8_t stackSize) {
    void* block = ExAllocatePoolWithTag(PoolType::NonPaged, sizeof(Irp), poolTag("Irp "));
    return block ? new (block) Irp(stackSize) : nullptr;
}

void IoFreeIrp(Irp* irp) {
    freeToPool(irp);
}

IoStackLocation* IoGetCurrentIrpStackLocation(Irp* irp) {
    assert(irp->CurrentLocation < int(irp->stack.size()));
    return &irp->stack[std::size_t(irp->CurrentLocation)];
}

IoStackLocation* IoGetNextIrpStackLocation(Irp* irp) {
    assert(irp->CurrentLocation > 0);
    return &irp->stack[std::size_t(irp->CurrentLocation - 1)];
}

void IoSkipCurrentIrpStackLocation(Irp* irp) {
    assert(irp->CurrentLocation < int(irp->stack.size()));
    ++irp->CurrentLocation;
}

void IoCopyCurrentIrpStackLocationToNext(Irp* irp) {
    IoStackLocation* next = IoGetNextIrpStackLocation(irp);
    *next = *IoGetCurrentIrpStackLocation(irp);
    next->CompletionRoutine = nullptr;
    next->Context = nullptr;
    next->Control = 0;
}

void IoSetCompletionRoutine(Irp* irp, IoCompletionRoutine routine, void* context, bool onSuccess,
                            bool onError, bool onCancel) {
    IoStackLocation* next = IoGetNextIrpStackLocation(irp);
    next->CompletionRoutine = routine;
    next->Context = context;
    next->Control = std::uint8_t(
        (next->Control & SL_PENDING_RETURNED) | (onSuccess ? SL_INVOKE_ON_SUCCESS : 0) |
        (onError ? SL_INVOKE_ON_ERROR : 0) | (onCancel ? SL_INVOKE_ON_CANCEL : 0));
}

void IoMarkIrpPending(Irp* irp) {
    IoGetCurrentIrpStackLocation(irp)->Control |= SL_PENDING_RETURNED;
}

NTSTATUS IoCallDriver(DeviceObject* device, Irp* irp) {
    assert(irp->CurrentLocation > 0 && "packet has no stack location left");
    --irp->CurrentLocation;
    IoStackLocation* location = IoGetCurrentIrpStackLocation(irp);
    location->Device = device;
    DriverDispatch dispatch = device->driver->MajorFunction[location->MajorFunction];
    assert(dispatch);
    return dispatch(device, irp);
}

void IoCompleteRequest(Irp* irp) {
    assert(irp->IoStatus.Status != STATUS_PENDING);
    assert(irp->CancelRoutine.load() == nullptr && "completing a packet that is still cancellable");
    const int count = int(irp->stack.size());
    while (irp->CurrentLocation < count) {
        IoStackLocation& location = irp->stack[std::size_t(irp->CurrentLocation)];
        ++irp->CurrentLocation;
        irp->PendingReturned = (location.Control & SL_PENDING_RETURNED) != 0;
        const NTSTATUS status = irp->IoStatus.Status;
        const bool wanted =
            location.CompletionRoutine &&
            ((NT_SUCCESS(status) && (location.Control & SL_INVOKE_ON_SUCCESS)) ||
             (status == STATUS_CANCELLED && (location.Control & SL_INVOKE_ON_CANCEL)) ||
             (!NT_SUCCESS(status) && status != STATUS_CANCELLED &&
              (location.Control & SL_INVOKE_ON_ERROR)));
        if (wanted) {
            // The routine belongs to the driver of the location above.
            DeviceObject* owner = irp->CurrentLocation < count
                                      ? irp->stack[std::size_t(irp->CurrentLocation)].Device
                                      : nullptr;
            const NTSTATUS verdict = location.CompletionRoutine(owner, irp, location.Context);
            if (verdict == STATUS_MORE_PROCESSING_REQUIRED) {
                return;
            }
        } else if (irp->PendingReturned && irp->CurrentLocation < count) {
            irp->stack[std::size_t(irp->CurrentLocation)].Control |= SL_PENDING_RETURNED;
        }
    }
    // The packet has left the top of its stack: hand it back to its builder.
    if (irp->finalCompletion) {
        irp->finalCompletion(irp, irp->finalContext);
    }
    if (KEvent* event = irp->UserEvent) {
        event->set(); // last touch: the waiter may free the packet at once
    }
}

DriverCancel IoSetCancelRoutine(Irp* irp, DriverCancel routine) {
    return irp->CancelRoutine.exchange(routine);
}

bool IoCancelIrp(Irp* irp) {
    irp->Cancel.store(true);
    DriverCancel routine = irp->CancelRoutine.exchange(nullptr);
    if (!routine) {
        return false;
    }
    DeviceObject* device = irp->CurrentLocation < int(irp->stack.size())
                               ? IoGetCurrentIrpStackLocation(irp)->Device
                               : nullptr;
    routine(device, irp);
    return true;
}

} // namespace keldo::driver
