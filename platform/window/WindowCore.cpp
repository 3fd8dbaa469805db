// Windows, per-thread message queues and window timers.
//
// GetMessageW takes, in this order: posted messages (first in, first out), then WM_PAINT
// for a window with an invalid area, then WM_TIMER for the timer that fell due first. A
// timer that falls behind skips the ticks it missed. The wait for the next message is a
// kernel wait with the next timer's deadline, so the virtual clock drives it in tests.
#include "platform/window/WindowCore.h"

#include <deque>
#include <map>
#include <memory>
#include <optional>

#include "platform/api/GdiApi.h"
#include "platform/common/Win32Failure.h"
#include "platform/kernel/Kernel.h"

namespace quarrin::platform {

namespace {

using kernel::KernelLock;

struct Timer {
    UINT_PTR id;
    UINT period;
    std::uint64_t due;
};

class MessageQueue;

struct Window {
    HWND handle;
    WindowProcedure procedure;
    std::shared_ptr<MessageQueue> queue;
    bool invalid = false;
    std::vector<Timer> timers;
};

class MessageQueue : public kernel::Waitable {
public:
    bool IsSignaledLocked() const override {
        if (!m_posted.empty() || m_quit)
            return true;
        for (const Window* window : m_windows) {
            if (window->invalid)
                return true;
        }
        return false;
    }

    std::deque<MSG> m_posted;
    bool m_quit = false;
    int m_quitCode = 0;
    std::vector<Window*> m_windows;  // in creation order
};

std::map<HWND, std::shared_ptr<Window>>& Windows() {
    static std::map<HWND, std::shared_ptr<Window>> windows;
    return windows;
}

thread_local std::shared_ptr<MessageQueue> t_queue;

std::shared_ptr<MessageQueue> ThisQueue() {
    if (!t_queue)
        t_queue = std::make_shared<MessageQueue>();
    return t_queue;
}

std::uint64_t Now() {
    return kernel::CurrentScheduler().NowMs();
}

Window* FindLocked(HWND handle) {
    auto it = Windows().find(handle);
    return it == Windows().end() ? nullptr : it->second.get();
}

bool Matches(HWND filter, HWND window) {
    return filter == nullptr || filter == window;
}

MSG MakeMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    MSG msg{};
    msg.hwnd = window;
    msg.message = message;
    msg.wParam = wParam;
    msg.lParam = lParam;
    msg.time = static_cast<DWORD>(Now());
    return msg;
}

// Takes the next message by the queue's priorities; false when none is ready.
bool TakeLocked(MessageQueue& queue, HWND filter, bool remove, MSG& out) {
    for (auto it = queue.m_posted.begin(); it != queue.m_posted.end(); ++it) {
        if (Matches(filter, it->hwnd)) {
            out = *it;
            if (remove)
                queue.m_posted.erase(it);
            return true;
        }
    }
    if (queue.m_quit) {
        out = MakeMessage(nullptr, WM_QUIT, static_cast<WPARAM>(queue.m_quitCode), 0);
        if (remove)
            queue.m_quit = false;
        return true;
    }
    for (Window* window : queue.m_windows) {
        if (window->invalid && Matches(filter, window->handle)) {
            out = MakeMessage(window->handle, WM_PAINT, 0, 0);
            return true;  // WM_PAINT stays until the window is validated
        }
    }
    std::uint64_t now = Now();
    Timer* due = nullptr;
    Window* owner = nullptr;
    for (Window* window : queue.m_windows) {
        if (!Matches(filter, window->handle))
            continue;
        for (Timer& timer : window->timers) {
            if (timer.due <= now && (due == nullptr || timer.due < due->due)) {
                due = &timer;
                owner = window;
            }
        }
    }
    if (due == nullptr)
        return false;
    out = MakeMessage(owner->handle, WM_TIMER, due->id, 0);
    if (remove)
        due->due = now + due->period;
    return true;
}

std::optional<std::uint64_t> NextTimerLocked(const MessageQueue& queue) {
    std::optional<std::uint64_t> next;
    for (const Window* window : queue.m_windows) {
        for (const Timer& timer : window->timers) {
            if (!next || timer.due < *next)
                next = timer.due;
        }
    }
    return next;
}

}  // namespace

HWND CreatePlatformWindow(WindowProcedure procedure) {
    static std::uintptr_t s_next = 0x10000;
    auto queue = ThisQueue();
    std::lock_guard lock(KernelLock());
    auto window = std::make_shared<Window>();
    window->handle = reinterpret_cast<HWND>(s_next);
    s_next += 4;
    window->procedure = std::move(procedure);
    window->queue = queue;
    queue->m_windows.push_back(window.get());
    Windows()[window->handle] = window;
    return window->handle;
}

}  // namespace quarrin::platform

using namespace quarrin::platform;
using quarrin::kernel::KernelLock;

BOOL PostMessageW(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    std::shared_ptr<MessageQueue> queue;
    std::lock_guard lock(KernelLock());
    if (window == nullptr) {
        queue = t_queue;
        if (!queue)
            return Fail(ERROR_INVALID_WINDOW_HANDLE);
    } else {
        Window* target = FindLocked(window);
        if (target == nullptr)
            return Fail(ERROR_INVALID_WINDOW_HANDLE);
        queue = target->queue;
    }
    queue->m_posted.push_back(MakeMessage(window, message, wParam, lParam));
    queue->NotifyLocked();
    return TRUE;
}

LRESULT SendMessageW(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    WindowProcedure procedure;
    {
        std::lock_guard lock(KernelLock());
        Window* target = FindLocked(window);
        if (target == nullptr)
            return Fail(ERROR_INVALID_WINDOW_HANDLE);
        procedure = target->procedure;
    }
    return procedure ? procedure(window, message, wParam, lParam) : 0;
}

BOOL GetMessageW(LPMSG msg, HWND window, UINT, UINT) {
    if (msg == nullptr)
        return -1;
    auto queue = ThisQueue();
    for (;;) {
        std::optional<std::uint64_t> next;
        {
            std::lock_guard lock(KernelLock());
            if (TakeLocked(*queue, window, true, *msg))
                return msg->message == WM_QUIT ? FALSE : TRUE;
            next = NextTimerLocked(*queue);
        }
        DWORD timeout = INFINITE;
        if (next) {
            std::uint64_t now = Now();
            timeout = *next > now ? static_cast<DWORD>(*next - now) : 0;
            if (timeout == 0)
                continue;
        }
        quarrin::kernel::Waitable* object = queue.get();
        quarrin::kernel::WaitForObjects(std::span<quarrin::kernel::Waitable* const>(&object, 1),
                                        false, timeout);
    }
}

BOOL PeekMessageW(LPMSG msg, HWND window, UINT, UINT, UINT removeMessage) {
    if (msg == nullptr)
        return FALSE;
    quarrin::kernel::CheckTerminated();
    auto queue = ThisQueue();
    std::lock_guard lock(KernelLock());
    return TakeLocked(*queue, window, (removeMessage & PM_REMOVE) != 0, *msg) ? TRUE : FALSE;
}

BOOL TranslateMessage(const MSG*) {
    return FALSE;
}

LRESULT DispatchMessageW(const MSG* msg) {
    if (msg == nullptr || msg->hwnd == nullptr)
        return 0;
    return SendMessageW(msg->hwnd, msg->message, msg->wParam, msg->lParam);
}

void PostQuitMessage(int exitCode) {
    auto queue = ThisQueue();
    std::lock_guard lock(KernelLock());
    queue->m_quit = true;
    queue->m_quitCode = exitCode;
    queue->NotifyLocked();
}

BOOL IsWindow(HWND window) {
    std::lock_guard lock(KernelLock());
    return FindLocked(window) != nullptr ? TRUE : FALSE;
}

BOOL DestroyWindow(HWND window) {
    std::shared_ptr<Window> removed;
    {
        std::lock_guard lock(KernelLock());
        auto it = Windows().find(window);
        if (it == Windows().end())
            return Fail(ERROR_INVALID_WINDOW_HANDLE);
        removed = it->second;
        auto& list = removed->queue->m_windows;
        list.erase(std::remove(list.begin(), list.end(), removed.get()), list.end());
        auto& posted = removed->queue->m_posted;
        posted.erase(std::remove_if(posted.begin(), posted.end(),
                                    [&](const MSG& m) { return m.hwnd == window; }),
                     posted.end());
        Windows().erase(it);
    }
    if (removed->procedure)
        removed->procedure(window, WM_DESTROY, 0, 0);
    return TRUE;
}

UINT_PTR SetTimer(HWND window, UINT_PTR id, UINT elapse, TIMERPROC) {
    std::lock_guard lock(KernelLock());
    Window* target = FindLocked(window);
    if (target == nullptr)
        return Fail(ERROR_INVALID_WINDOW_HANDLE);
    std::uint64_t due = Now() + elapse;
    for (Timer& timer : target->timers) {
        if (timer.id == id) {
            timer.period = elapse;
            timer.due = due;
            target->queue->NotifyLocked();
            return id;
        }
    }
    target->timers.push_back({id, elapse, due});
    target->queue->NotifyLocked();
    return id;
}

BOOL KillTimer(HWND window, UINT_PTR id) {
    std::lock_guard lock(KernelLock());
    Window* target = FindLocked(window);
    if (target == nullptr)
        return Fail(ERROR_INVALID_WINDOW_HANDLE);
    auto& timers = target->timers;
    auto it =
        std::find_if(timers.begin(), timers.end(), [&](const Timer& t) { return t.id == id; });
    if (it == timers.end())
        return FALSE;
    timers.erase(it);
    return TRUE;
}

BOOL InvalidateRect(HWND window, const RECT*, BOOL) {
    std::lock_guard lock(KernelLock());
    Window* target = FindLocked(window);
    if (target == nullptr)
        return Fail(ERROR_INVALID_WINDOW_HANDLE);
    target->invalid = true;
    target->queue->NotifyLocked();
    return TRUE;
}

BOOL ValidateRect(HWND window, const RECT*) {
    std::lock_guard lock(KernelLock());
    Window* target = FindLocked(window);
    if (target == nullptr)
        return Fail(ERROR_INVALID_WINDOW_HANDLE);
    target->invalid = false;
    return TRUE;
}

HDC BeginPaint(HWND window, PAINTSTRUCT* paint) {
    ValidateRect(window, nullptr);
    HDC dc = GetDC(window);
    if (paint != nullptr) {
        *paint = PAINTSTRUCT{};
        paint->hdc = dc;
        GetClientRect(window, &paint->rcPaint);
    }
    return dc;
}

BOOL EndPaint(HWND window, const PAINTSTRUCT* paint) {
    if (paint != nullptr)
        ReleaseDC(window, paint->hdc);
    return TRUE;
}

BOOL GetClientRect(HWND window, LPRECT rect) {
    if (rect == nullptr || !IsWindow(window))
        return Fail(ERROR_INVALID_WINDOW_HANDLE);
    // Every window of the loader covers the whole screen.
    *rect = RECT{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    return TRUE;
}
