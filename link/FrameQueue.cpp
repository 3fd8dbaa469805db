#include "link/FrameQueue.h"

FrameQueue::FrameQueue() {
    InitializeCriticalSection(&m_lock);
}

FrameQueue::~FrameQueue() {
    DeleteCriticalSection(&m_lock);
}

void FrameQueue::Append(std::vector<BYTE> frame) {
    EnterCriticalSection(&m_lock);
    m_frames.push_back(std::move(frame));
    LeaveCriticalSection(&m_lock);
}

bool FrameQueue::CopyFront(std::vector<BYTE>& frame) {
    EnterCriticalSection(&m_lock);
    bool any = !m_frames.empty();
    if (any)
        frame = m_frames.front();
    LeaveCriticalSection(&m_lock);
    return any;
}

void FrameQueue::RemoveFront() {
    EnterCriticalSection(&m_lock);
    if (!m_frames.empty())
        m_frames.pop_front();
    LeaveCriticalSection(&m_lock);
}

void FrameQueue::Clear() {
    EnterCriticalSection(&m_lock);
    m_frames.clear();
    LeaveCriticalSection(&m_lock);
}

std::size_t FrameQueue::Count() {
    EnterCriticalSection(&m_lock);
    std::size_t count = m_frames.size();
    LeaveCriticalSection(&m_lock);
    return count;
}
