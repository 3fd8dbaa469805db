// What the send and the receive channel share about their threads: one stop semaphore per
// kind of link, and the bounded stop (signal, wait, terminate the thread that does not end,
// log which it was).
#pragma once

#include "link/LinkKinds.h"

// A stop semaphore for each kind of link; a kind's is there while its channel runs.
using StopSemaphores = HANDLE[LINK_KINDS];

// Creates the stop semaphore of `flag`; false when that kind's already exists (only one
// channel of each kind may run).
bool CreateStopSemaphore(StopSemaphores& semaphores, int flag);
// Closes the stop semaphore of `flag`, if it is there.
void CloseStopSemaphore(StopSemaphores& semaphores, int flag);

// The lines a channel's stop logs, per kind of link.
struct StopTexts {
    const wchar_t* ended[LINK_KINDS];     // the thread ended in time
    const wchar_t* timedOut[LINK_KINDS];  // it did not, and was terminated
};

// Ends `thread` (nothing when it is null): releases the stop semaphore of `flag`, runs
// `afterSignal` (may be null) with `context`, waits up to `timeoutMs`, terminates a thread
// still running, logs which it was, closes the handle and clears it.
void StopLinkThread(HANDLE& thread, HANDLE stopSemaphore, int flag, DWORD timeoutMs,
                    const StopTexts& texts, void (*afterSignal)(void*) = nullptr,
                    void* context = nullptr);
