// Events, spin locks, interrupt level and pool memory of the kernel stand-in.
#include "kernel.h"

#include <cassert>
#include <cstdlib>
#include <thread>

namespace keldo::driver {

namespace {
thread_local KIRQL currentIrql = KIRQL::Passive;
} // namespace

KIRQL KeGetCurrentIrql() {
    return currentIrql;
}

void KEvent::set() {
    std::lock_guard lock(mutex_);
    signalled_ = true;
    cv_.notify_all();
}

void KEvent::clear() {
    std::lock_guard lock(mutex_);
    signalled_ = false;
}

bool KEvent::wait(std::optional<std::chrono::milliseconds> timeout) {
    std::unique_lock lock(mutex_);
    if (!timeout) {
        cv_.wait(lock, [this] { return signalled_; });
        return true;
    }
    return cv_.wait_for(lock, *timeout, [this] { return signalled_; });
}

void KeInitializeEvent(KEvent* event, bool signalled) {
    if (signalled) {
        event->set();
    } else {
        event->clear();
    }
}
void KeSetEvent(KEvent* event) {
    event->set();
}
void KeClearEvent(KEvent* event) {
    event->clear();
}

NTSTATUS KeWaitForSingleObject(KEvent* event, std::optional<std::chrono::milliseconds> timeout) {
    assert(KeGetCurrentIrql() == KIRQL::Passive && "waiting at raised interrupt level");
    return event->wait(timeout) ? STATUS_SUCCESS : STATUS_TIMEOUT;
}

void KSpinLock::acquire() {
    while (flag_.test_and_set(std::memory_order_acquire)) {
        std::this_thread::yield();
    }
}

void KSpinLock::release() {
    flag_.clear(std::memory_order_release);
}

void KeAcquireSpinLock(KSpinLock* lock, KIRQL* oldIrql) {
    *oldIrql = currentIrql;
    currentIrql = KIRQL::Dispatch;
    lock->acquire();
}

void KeReleaseSpinLock(KSpinLock* lock, KIRQL oldIrql) {
    lock->release();
    currentIrql = oldIrql;
}

// ---------------------------------------------------------------------------
// Pool

namespace {

struct PoolFault {
    std::uint32_t tag;
    unsigned remaining; // allocations with the tag still to pass before failing
    bool persistent;
};

std::mutex poolMutex;
std::vector<PoolFault> poolFaults;

bool allocationFails(std::uint32_t tag) {
    std::lock_guard lock(poolMutex);
    for (auto it = poolFaults.begin(); it != poolFaults.end(); ++it) {
        if (it->tag != tag) {
            continue;
        }
        if (it->remaining > 1) {
            --it->remaining;
            return false;
        }
        if (!it->persistent) {
            poolFaults.erase(it);
        }
        return true;
    }
    return false;
}

} // namespace

void* ExAllocatePoolWithTag(PoolType, std::size_t bytes, std::uint32_t tag) {
    if (allocationFails(tag)) {
        return nullptr;
    }
    return std::malloc(bytes ? bytes : 1);
}

void ExFreePool(void* block) {
    std::free(block);
}

void injectPoolFault(std::uint32_t tag, unsigned nth, bool persistent) {
    std::lock_guard lock(poolMutex);
    poolFaults.push_back({tag, nth ? nth : 1, persistent});
}

void clearPoolFaults() {
    std::lock_guard lock(poolMutex);
    poolFaults.clear();
}

} // namespace keldo::driver
