// WaitCommEvent with the device's meaning on ports that the system's call does not serve
// that way. A port of the device sleeps in WaitCommEvent until an event of its mask occurs.
// Two kinds of line break that here:
// - a line without modem status (a pseudo-terminal under Wine, some USB adapters): a mask
//   with CTS, DSR, RLSD or RING fails with ERROR_NOT_SUPPORTED. Those events can never
//   occur there, so the wait goes on for the others alone;
// - under Wine a wait with nothing to report ends after a few milliseconds, cancelled; the
//   call without an OVERLAPPED structure even reports that as success with no events. The
//   wait here is therefore overlapped and starts again after such an end.
// A SetCommMask on another thread still ends the wait with success and no events.
#include <memory>

#include "platform/Win32.h"

#undef WaitCommEvent

namespace {

constexpr DWORD kModemLineEvents = EV_CTS | EV_DSR | EV_RLSD | EV_RING;

// What one thread's wait hands to the system. It lives on the heap: a thread ended with
// TerminateThread in the middle of a wait leaves the system a place to write its result to
// until the port is closed (the block is then lost, not reused).
struct WaitBlock {
    WaitBlock() : done(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
    ~WaitBlock() {
        if (done != nullptr)
            CloseHandle(done);
    }
    WaitBlock(const WaitBlock&) = delete;
    WaitBlock& operator=(const WaitBlock&) = delete;

    HANDLE done;
    OVERLAPPED overlapped{};
    DWORD events = 0;
};

WaitBlock* ThisThreadsBlock() {
    thread_local std::unique_ptr<WaitBlock> block;
    if (!block)
        block = std::make_unique<WaitBlock>();
    return block->done != nullptr ? block.get() : nullptr;
}

// One overlapped wait to its end. Returns ERROR_SUCCESS or the error it ended with.
DWORD WaitOnce(HANDLE file, WaitBlock& block) {
    block.overlapped = OVERLAPPED{};
    block.overlapped.hEvent = block.done;
    block.events = 0;
    ResetEvent(block.done);
    if (WaitCommEvent(file, &block.events, &block.overlapped))
        return ERROR_SUCCESS;
    DWORD error = GetLastError();
    if (error != ERROR_IO_PENDING)
        return error;
    DWORD unused = 0;
    return GetOverlappedResult(file, &block.overlapped, &unused, TRUE) ? ERROR_SUCCESS
                                                                       : GetLastError();
}

}  // namespace

BOOL DeviceWaitCommEvent(HANDLE file, LPDWORD eventMask, LPOVERLAPPED overlapped) {
    if (overlapped != nullptr || eventMask == nullptr)
        return WaitCommEvent(file, eventMask, overlapped);
    WaitBlock* block = ThisThreadsBlock();
    DWORD callersMask = 0;
    if (block == nullptr || !GetCommMask(file, &callersMask))
        return WaitCommEvent(file, eventMask, nullptr);
    DWORD waitMask = callersMask;  // the mask the system waits on
    DWORD error = ERROR_SUCCESS;
    for (;;) {
        error = WaitOnce(file, *block);
        if (error == ERROR_NOT_SUPPORTED && waitMask == callersMask &&
            (callersMask & ~kModemLineEvents) != 0 && (callersMask & kModemLineEvents) != 0) {
            waitMask = callersMask & ~kModemLineEvents;
            if (!SetCommMask(file, waitMask)) {
                error = GetLastError();
                break;
            }
            continue;
        }
        if (error != ERROR_OPERATION_ABORTED)
            break;
        // Cancelled: by another thread's SetCommMask (the wait is over, with no events), or
        // by the system while nothing happened (wait again).
        DWORD mask = 0;
        if (!GetCommMask(file, &mask)) {
            error = GetLastError();
            break;
        }
        if (mask != waitMask) {
            *eventMask = 0;
            return TRUE;
        }
    }
    if (waitMask != callersMask)
        SetCommMask(file, callersMask);
    if (error != ERROR_SUCCESS) {
        SetLastError(error);
        return FALSE;
    }
    *eventMask = block->events;
    return TRUE;
}
