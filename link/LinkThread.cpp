#include "link/LinkThread.h"

namespace {

constexpr LONG kSemaphoreMaximum = 0x7FFFFFFF;

}  // namespace

bool CreateStopSemaphore(StopSemaphores& semaphores, int flag) {
    if (semaphores[flag] != nullptr)
        return false;
    semaphores[flag] = CreateSemaphoreW(nullptr, 0, kSemaphoreMaximum, nullptr);
    return true;
}

void CloseStopSemaphore(StopSemaphores& semaphores, int flag) {
    if (semaphores[flag] == nullptr)
        return;
    CloseHandle(semaphores[flag]);
    semaphores[flag] = nullptr;
}

void StopLinkThread(HANDLE& thread, HANDLE stopSemaphore, int flag, DWORD timeoutMs,
                    const StopTexts& texts, void (*afterSignal)(void*), void* context) {
    if (thread == nullptr)
        return;
    ReleaseSemaphore(stopSemaphore, 1, nullptr);
    if (afterSignal != nullptr)
        afterSignal(context);
    if (WaitForSingleObject(thread, timeoutMs) == WAIT_TIMEOUT) {
        NKDbgPrintfW(texts.timedOut[flag]);
        TerminateThread(thread, 0);
    } else {
        NKDbgPrintfW(texts.ended[flag]);
    }
    CloseHandle(thread);
    thread = nullptr;
}
