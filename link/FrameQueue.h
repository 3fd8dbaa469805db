// The frames a send channel has yet to write, oldest first, guarded by a critical section
// that is held only to change or copy the list, never during a write.
//
// The queue is bounded, so that a co-processor that floods the loader with messages, or stops
// reading, cannot make it grow without end:
//  - a frame posted as a repeat (a command, a block, a resend) is not queued again while an
//    identical frame is still waiting: the waiting copy carries the same bytes;
//  - at SEND_QUEUE_LIMIT frames the oldest waiting frame gives way to the new one. The newer
//    frame carries what the protocol needs now (the current block, the latest command); the
//    drops are counted and reported by the send channel.
// The frame being written has left the queue and is not counted.
#pragma once

#include <list>
#include <vector>

#include "platform/Win32.h"

inline constexpr std::size_t SEND_QUEUE_LIMIT = 32;

class FrameQueue {
public:
    enum class Added {
        Queued,
        AlreadyWaiting,
        ReplacedOldest,   // the queue was full and has been dropping since it was last empty
        StartedDropping,  // the first drop since the queue was last empty
    };

    FrameQueue();
    ~FrameQueue();
    FrameQueue(const FrameQueue&) = delete;
    FrameQueue& operator=(const FrameQueue&) = delete;

    // Appends the frame; with `once`, not when an identical frame still waits.
    Added Append(std::vector<BYTE> frame, bool once);
    // Moves the oldest frame out; false when the queue is empty. When this empties a queue
    // that had to drop frames, `dropped` receives their number (else 0) and the count starts
    // again.
    bool TakeFront(std::vector<BYTE>& frame, std::size_t& dropped);
    void Clear();
    std::size_t Count();

private:
    CRITICAL_SECTION m_lock;
    std::list<std::vector<BYTE>> m_frames;
    std::size_t m_dropped = 0;  // frames dropped since the queue was last empty
};
