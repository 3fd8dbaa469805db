#include "platform/kernel/Kernel.h"

#include <algorithm>
#include <unordered_map>

namespace quarrin::kernel {

namespace {

Scheduler* g_scheduler = nullptr;
thread_local ThreadRecord* t_thread = nullptr;
thread_local DWORD t_lastError = 0;

struct HandleTable {
    std::mutex lock;
    std::unordered_map<std::uintptr_t, std::shared_ptr<KernelObject>> objects;
    std::uintptr_t next = 0x100;
};

HandleTable& Handles() {
    static HandleTable table;
    return table;
}

void Unregister(std::span<Waitable* const> objects, Waiter& waiter) {
    for (Waitable* object : objects) {
        auto& list = object->m_waiters;
        list.erase(std::remove(list.begin(), list.end(), &waiter), list.end());
    }
}

}  // namespace

std::mutex& KernelLock() {
    static std::mutex lock;
    return lock;
}

Scheduler& CurrentScheduler() {
    return *g_scheduler;
}
void InstallScheduler(Scheduler* scheduler) {
    g_scheduler = scheduler;
}

void Waitable::NotifyLocked() {
    // Copy: waking may let a waiter unregister itself while we iterate.
    std::vector<Waiter*> waiters = m_waiters;
    for (Waiter* waiter : waiters) {
        g_scheduler->Wake(*waiter);
    }
}

ThreadRecord* CurrentThreadRecord() {
    return t_thread;
}
void SetCurrentThreadRecord(ThreadRecord* record) {
    t_thread = record;
}

void CheckTerminated() {
    if (t_thread != nullptr && t_thread->terminateRequested.load()) {
        throw ThreadTerminated{};
    }
}

InterruptibleScope::InterruptibleScope(std::function<void()> interrupter) {
    CheckTerminated();
    if (t_thread != nullptr) {
        std::lock_guard lock(KernelLock());
        t_thread->interrupter = std::move(interrupter);
    }
}

InterruptibleScope::~InterruptibleScope() {
    if (t_thread != nullptr) {
        std::lock_guard lock(KernelLock());
        t_thread->interrupter = nullptr;
    }
}

DWORD WaitForObjects(std::span<Waitable* const> objects, bool waitAll, DWORD timeoutMs) {
    std::unique_lock lock(KernelLock());
    Scheduler& scheduler = *g_scheduler;
    Waiter waiter;
    waiter.thread = t_thread;
    if (timeoutMs != INFINITE) {
        waiter.deadline = scheduler.NowMs() + timeoutMs;
    }
    for (;;) {
        CheckTerminated();
        if (!objects.empty()) {
            if (waitAll) {
                bool all = std::all_of(objects.begin(), objects.end(),
                                       [](Waitable* o) { return o->IsSignaledLocked(); });
                if (all) {
                    for (Waitable* o : objects)
                        o->ConsumeLocked();
                    return WAIT_OBJECT_0;
                }
            } else {
                for (std::size_t i = 0; i < objects.size(); ++i) {
                    if (objects[i]->IsSignaledLocked()) {
                        objects[i]->ConsumeLocked();
                        return WAIT_OBJECT_0 + static_cast<DWORD>(i);
                    }
                }
            }
        }
        if (timeoutMs == 0 || (waiter.deadline && scheduler.NowMs() >= *waiter.deadline)) {
            return WAIT_TIMEOUT;
        }
        for (Waitable* o : objects)
            o->m_waiters.push_back(&waiter);
        waiter.woken = false;
        if (t_thread != nullptr)
            t_thread->blockedIn = &waiter;
        scheduler.Block(lock, waiter);
        if (t_thread != nullptr)
            t_thread->blockedIn = nullptr;
        Unregister(objects, waiter);
    }
}

HANDLE InsertHandle(std::shared_ptr<KernelObject> object) {
    HandleTable& table = Handles();
    std::lock_guard lock(table.lock);
    std::uintptr_t value = table.next;
    table.next += 4;
    table.objects.emplace(value, std::move(object));
    return reinterpret_cast<HANDLE>(value);
}

std::shared_ptr<KernelObject> LookupHandle(HANDLE handle) {
    HandleTable& table = Handles();
    std::lock_guard lock(table.lock);
    auto it = table.objects.find(reinterpret_cast<std::uintptr_t>(handle));
    return it == table.objects.end() ? nullptr : it->second;
}

std::shared_ptr<KernelObject> RemoveHandle(HANDLE handle) {
    HandleTable& table = Handles();
    std::shared_ptr<KernelObject> object;
    {
        std::lock_guard lock(table.lock);
        auto it = table.objects.find(reinterpret_cast<std::uintptr_t>(handle));
        if (it == table.objects.end())
            return nullptr;
        object = std::move(it->second);
        table.objects.erase(it);
    }
    return object;  // destroyed outside the table lock
}

bool IsPseudoInvalid(HANDLE handle) {
    return handle == nullptr || handle == INVALID_HANDLE_VALUE;
}

void SetLastErrorValue(DWORD error) {
    t_lastError = error;
}
DWORD LastErrorValue() {
    return t_lastError;
}

}  // namespace quarrin::kernel
