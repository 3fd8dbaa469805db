#include "platform/host/OutputWriter.h"

#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>

namespace quarrin::platform {

// Shared with the thread, which may outlive the writer when its reader never reads again.
struct OutputWriter::State {
    int fd;
    bool owned;
    std::string name;
    FailureReport onFailure;
    std::mutex lock;
    std::mutex reportLock;  // held while onFailure runs, so that it is not cleared meanwhile
    std::condition_variable changed;
    std::deque<std::string> queue;
    std::size_t queuedBytes = 0;
    std::size_t dropped = 0;  // writes dropped since the queue last had room
    bool writing = false;
    bool failed = false;
    bool stopping = false;

    ~State() {
        if (owned)
            close(fd);
    }
    // Writes all of `bytes`; false with errno set when the descriptor fails.
    bool WriteAll(const std::string& bytes) {
        for (std::size_t done = 0; done < bytes.size();) {
            ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                if (n == 0)
                    errno = EIO;
                return false;
            }
            done += static_cast<std::size_t>(n);
        }
        return true;
    }
    void Fail(int error) {
        std::string report = "cannot write to " + name + ": " + std::strerror(error);
        {
            std::lock_guard guard(lock);
            failed = true;
            queue.clear();
            queuedBytes = 0;
        }
        std::lock_guard reporting(reportLock);
        if (onFailure)
            onFailure(report);
    }
    void Run() {
        std::unique_lock guard(lock);
        for (;;) {
            changed.wait(guard, [this] { return stopping || !queue.empty(); });
            if (queue.empty())
                return;
            std::string next = std::move(queue.front());
            queue.pop_front();
            queuedBytes -= next.size();
            if (queue.empty() && dropped > 0) {
                next += "quarrin: " + std::to_string(dropped) + " writes to " + name +
                        " dropped: the reader was too slow\n";
                dropped = 0;
            }
            writing = true;
            guard.unlock();
            bool ok = WriteAll(next);
            int error = errno;
            if (!ok)
                Fail(error);
            guard.lock();
            writing = false;
            changed.notify_all();
            if (failed)
                return;
        }
    }
};

OutputWriter::OutputWriter(int fd, bool owned, std::string name, FailureReport onFailure)
    : m_state(std::make_shared<State>()) {
    m_state->fd = fd;
    m_state->owned = owned;
    m_state->name = std::move(name);
    m_state->onFailure = std::move(onFailure);
    std::thread([state = m_state] { state->Run(); }).detach();
}

OutputWriter::~OutputWriter() {
    std::unique_lock guard(m_state->lock);
    m_state->stopping = true;
    m_state->changed.notify_all();
    // The thread ends by itself once the queue is written; one stuck in a write to a reader
    // that never reads keeps the state alive and ends with the process.
    m_state->changed.wait_for(guard, std::chrono::milliseconds(DRAIN_LIMIT_MS), [this] {
        return m_state->failed || (m_state->queue.empty() && !m_state->writing);
    });
    guard.unlock();
    // What the report reaches may be gone after this writer.
    std::lock_guard reporting(m_state->reportLock);
    m_state->onFailure = nullptr;
}

void OutputWriter::Write(std::string bytes) {
    std::lock_guard guard(m_state->lock);
    if (m_state->failed || bytes.empty())
        return;
    if (m_state->queuedBytes + bytes.size() > QUEUE_LIMIT_BYTES) {
        ++m_state->dropped;
        return;
    }
    m_state->queuedBytes += bytes.size();
    m_state->queue.push_back(std::move(bytes));
    m_state->changed.notify_all();
}

bool OutputWriter::Failed() const {
    std::lock_guard guard(m_state->lock);
    return m_state->failed;
}

}  // namespace quarrin::platform
