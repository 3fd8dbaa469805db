// The frames a send channel has yet to write, oldest first, guarded by a critical section
// that is held only to change or copy the list, never during a write.
#pragma once

#include <list>
#include <vector>

#include "platform/Win32.h"

class FrameQueue {
public:
    FrameQueue();
    ~FrameQueue();
    FrameQueue(const FrameQueue&) = delete;
    FrameQueue& operator=(const FrameQueue&) = delete;

    void Append(std::vector<BYTE> frame);
    // Copies the oldest frame; false when the queue is empty.
    bool CopyFront(std::vector<BYTE>& frame);
    void RemoveFront();
    void Clear();
    std::size_t Count();

private:
    CRITICAL_SECTION m_lock;
    std::list<std::vector<BYTE>> m_frames;
};
