#include "link/FrameQueue.h"

#include <algorithm>

namespace {

// Holds the critical section for the life of one statement block.
class Hold {
public:
    explicit Hold(CRITICAL_SECTION& lock) : m_lock(lock) { EnterCriticalSection(&m_lock); }
    ~Hold() { LeaveCriticalSection(&m_lock); }
    Hold(const Hold&) = delete;
    Hold& operator=(const Hold&) = delete;

private:
    CRITICAL_SECTION& m_lock;
};

}  // namespace

FrameQueue::FrameQueue() {
    InitializeCriticalSection(&m_lock);
}

FrameQueue::~FrameQueue() {
    DeleteCriticalSection(&m_lock);
}

FrameQueue::Added FrameQueue::Append(std::vector<BYTE> frame, bool once) {
    Hold hold(m_lock);
    if (once && std::find(m_frames.begin(), m_frames.end(), frame) != m_frames.end())
        return Added::AlreadyWaiting;
    Added added = Added::Queued;
    if (m_frames.size() >= SEND_QUEUE_LIMIT) {
        m_frames.pop_front();
        added = ++m_dropped == 1 ? Added::StartedDropping : Added::ReplacedOldest;
    }
    m_frames.push_back(std::move(frame));
    return added;
}

bool FrameQueue::TakeFront(std::vector<BYTE>& frame, std::size_t& dropped) {
    Hold hold(m_lock);
    dropped = 0;
    if (m_frames.empty())
        return false;
    frame = std::move(m_frames.front());
    m_frames.pop_front();
    if (m_frames.empty()) {
        dropped = m_dropped;
        m_dropped = 0;
    }
    return true;
}

void FrameQueue::Clear() {
    Hold hold(m_lock);
    m_frames.clear();
    m_dropped = 0;
}

std::size_t FrameQueue::Count() {
    Hold hold(m_lock);
    return m_frames.size();
}
