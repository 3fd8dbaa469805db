#include "platform/serial/SimSerialDevice.h"

#include <algorithm>

#include "platform/common/Win32Failure.h"
#include "platform/sim/VirtualScheduler.h"

namespace quarrin::platform {

// The state of one simulated line, shared by the port object and the peer; guarded by the
// kernel lock, since the waits on it are kernel waits.
struct SimSerialLine {
    // Signalled while a WaitCommEvent on the line is due to return.
    struct EventSignal : kernel::Waitable {
        explicit EventSignal(SimSerialLine& line) : m_line(line) {}
        bool IsSignaledLocked() const override { return m_line.EventDueLocked(); }
        SimSerialLine& m_line;
    };
    // Signalled while received bytes wait to be read.
    struct ReceiveSignal : kernel::Waitable {
        explicit ReceiveSignal(SimSerialLine& line) : m_line(line) {}
        bool IsSignaledLocked() const override { return !m_line.toLoader.empty(); }
        SimSerialLine& m_line;
    };

    explicit SimSerialLine(VirtualScheduler& scheduler) : scheduler(scheduler) {}

    DWORD ReadyEventsLocked() const {
        DWORD ready = pending & mask;
        if ((mask & EV_RXCHAR) != 0 && !toLoader.empty())
            ready |= EV_RXCHAR;
        return ready;
    }
    bool EventDueLocked() const {
        return maskGeneration != waitGeneration || ReadyEventsLocked() != 0;
    }
    void NotifyLocked() {
        events.NotifyLocked();
        received.NotifyLocked();
    }
    void DeliverLocked(const std::vector<BYTE>& bytes) {
        if (hungUp)
            return;  // nothing travels on a line that has hung up
        toLoader.insert(toLoader.end(), bytes.begin(), bytes.end());
        NotifyLocked();
    }

    VirtualScheduler& scheduler;
    std::deque<BYTE> toLoader;
    std::vector<BYTE> written;
    std::size_t taken = 0;  // bytes of `written` already handed out by TakeWritten
    DWORD mask = 0;
    std::uint64_t maskGeneration = 0;
    std::uint64_t waitGeneration = 0;
    DWORD pending = 0;
    bool open = false;
    bool hungUp = false;  // the peer has hung up: writes fail, EV_RLSD was reported
    int opens = 0;
    std::weak_ptr<SerialDevice> device;
    std::function<void(const std::vector<BYTE>&)> onWrite;
    DWORD failError = ERROR_SUCCESS;
    int failCount = 0;
    DWORD writeChunk = 0;
    EventSignal events{*this};
    ReceiveSignal received{*this};
};

namespace {

class SimSerialDevice : public SerialDevice {
public:
    explicit SimSerialDevice(std::shared_ptr<SimSerialLine> line) : m_line(std::move(line)) {}

    ~SimSerialDevice() override {
        std::lock_guard lock(kernel::KernelLock());
        m_line->open = false;
        m_line->mask = 0;
        ++m_line->maskGeneration;
        m_line->NotifyLocked();
    }

    BOOL Read(void* buffer, DWORD count, DWORD* done) override {
        COMMTIMEOUTS timeouts = Timeouts();
        bool immediate = timeouts.ReadIntervalTimeout == MAXDWORD &&
                         timeouts.ReadTotalTimeoutMultiplier == 0 &&
                         timeouts.ReadTotalTimeoutConstant == 0;
        std::uint64_t total = std::uint64_t{timeouts.ReadTotalTimeoutMultiplier} * count +
                              timeouts.ReadTotalTimeoutConstant;
        auto* bytes = static_cast<BYTE*>(buffer);
        DWORD got = 0;
        std::unique_lock lock(kernel::KernelLock());
        std::uint64_t deadline = m_line->scheduler.NowMs() + total;
        for (;;) {
            while (got < count && !m_line->toLoader.empty()) {
                bytes[got++] = m_line->toLoader.front();
                m_line->toLoader.pop_front();
            }
            std::uint64_t now = m_line->scheduler.NowMs();
            if (got == count || immediate || (total != 0 && now >= deadline))
                break;
            DWORD wait = total == 0 ? INFINITE : static_cast<DWORD>(deadline - now);
            lock.unlock();
            kernel::Waitable* signal = &m_line->received;
            kernel::WaitForObjects(std::span<kernel::Waitable* const>(&signal, 1), false, wait);
            lock.lock();
        }
        if (done != nullptr)
            *done = got;
        return TRUE;
    }

    BOOL Write(const void* buffer, DWORD count, DWORD* done) override {
        std::vector<BYTE> taken;
        std::function<void(const std::vector<BYTE>&)> handler;
        {
            std::lock_guard lock(kernel::KernelLock());
            if (m_line->hungUp) {
                if (done != nullptr)
                    *done = 0;
                return Fail(ERROR_GEN_FAILURE);  // as a host tty whose far end is gone
            }
            if (m_line->failCount != 0) {
                if (m_line->failCount > 0)
                    --m_line->failCount;
                if (done != nullptr)
                    *done = 0;
                return Fail(m_line->failError);
            }
            DWORD chunk = m_line->writeChunk == 0 ? count : std::min(count, m_line->writeChunk);
            const auto* bytes = static_cast<const BYTE*>(buffer);
            taken.assign(bytes, bytes + chunk);
            m_line->written.insert(m_line->written.end(), taken.begin(), taken.end());
            if (chunk == count && count > 0)
                m_line->pending |= EV_TXEMPTY;
            m_line->NotifyLocked();
            handler = m_line->onWrite;
        }
        if (done != nullptr)
            *done = static_cast<DWORD>(taken.size());
        if (handler && !taken.empty())
            handler(taken);
        return TRUE;
    }

    BOOL SetMask(DWORD mask) override {
        std::lock_guard lock(kernel::KernelLock());
        m_line->mask = mask;
        ++m_line->maskGeneration;
        m_line->NotifyLocked();
        return TRUE;
    }

    BOOL GetMask(DWORD& mask) override {
        std::lock_guard lock(kernel::KernelLock());
        mask = m_line->mask;
        return TRUE;
    }

    BOOL WaitEvent(DWORD& events) override {
        std::unique_lock lock(kernel::KernelLock());
        if (m_line->mask == 0)
            return Fail(ERROR_INVALID_PARAMETER);
        m_line->waitGeneration = m_line->maskGeneration;
        for (;;) {
            if (m_line->maskGeneration != m_line->waitGeneration) {
                events = 0;
                return TRUE;
            }
            DWORD ready = m_line->ReadyEventsLocked();
            if (ready != 0) {
                m_line->pending &= ~ready;
                events = ready;
                return TRUE;
            }
            lock.unlock();
            kernel::Waitable* signal = &m_line->events;
            kernel::WaitForObjects(std::span<kernel::Waitable* const>(&signal, 1), false, INFINITE);
            lock.lock();
        }
    }

    BOOL ClearError(DWORD& errors, COMSTAT& status) override {
        std::lock_guard lock(kernel::KernelLock());
        errors = 0;
        status = COMSTAT{};
        status.cbInQue = static_cast<DWORD>(m_line->toLoader.size());
        return TRUE;
    }

    BOOL Purge(DWORD flags) override {
        std::lock_guard lock(kernel::KernelLock());
        if ((flags & PURGE_RXCLEAR) != 0)
            m_line->toLoader.clear();
        return TRUE;
    }

    BOOL GetModemStatus(DWORD& status) override {
        std::lock_guard lock(kernel::KernelLock());
        status = m_line->hungUp ? 0 : MS_RLSD_ON;
        return TRUE;
    }

protected:
    BOOL ApplyState(const DCB&) override { return TRUE; }

private:
    std::shared_ptr<SimSerialLine> m_line;
};

}  // namespace

SimSerialPeer::SimSerialPeer(std::shared_ptr<SimSerialLine> line) : m_line(std::move(line)) {}

std::vector<BYTE> SimSerialPeer::Written() const {
    std::lock_guard lock(kernel::KernelLock());
    return m_line->written;
}

std::vector<BYTE> SimSerialPeer::TakeWritten() {
    std::lock_guard lock(kernel::KernelLock());
    std::vector<BYTE> fresh(m_line->written.begin() + static_cast<std::ptrdiff_t>(m_line->taken),
                            m_line->written.end());
    m_line->taken = m_line->written.size();
    return fresh;
}

void SimSerialPeer::Inject(const std::vector<BYTE>& bytes) {
    std::lock_guard lock(kernel::KernelLock());
    m_line->DeliverLocked(bytes);
}

void SimSerialPeer::InjectAfter(std::uint64_t delayMs, const std::vector<BYTE>& bytes) {
    std::lock_guard lock(kernel::KernelLock());
    m_line->scheduler.ScheduleLocked(delayMs,
                                     [line = m_line, bytes] { line->DeliverLocked(bytes); });
}

void SimSerialPeer::OnWrite(std::function<void(const std::vector<BYTE>&)> handler) {
    std::lock_guard lock(kernel::KernelLock());
    m_line->onWrite = std::move(handler);
}

void SimSerialPeer::FailWrites(DWORD error, int count) {
    std::lock_guard lock(kernel::KernelLock());
    m_line->failError = error;
    m_line->failCount = count;
}

void SimSerialPeer::HangUp(std::uint64_t delayMs) {
    std::lock_guard lock(kernel::KernelLock());
    auto hangUp = [line = m_line] {
        line->hungUp = true;
        line->toLoader.clear();
        line->pending |= EV_RLSD;
        line->NotifyLocked();
    };
    if (delayMs == 0) {
        hangUp();
    } else {
        m_line->scheduler.ScheduleLocked(delayMs, hangUp);
    }
}

void SimSerialPeer::LimitWriteChunk(DWORD maxBytes) {
    std::lock_guard lock(kernel::KernelLock());
    m_line->writeChunk = maxBytes;
}

bool SimSerialPeer::IsOpen() const {
    std::lock_guard lock(kernel::KernelLock());
    return m_line->open;
}

int SimSerialPeer::OpenCount() const {
    std::lock_guard lock(kernel::KernelLock());
    return m_line->opens;
}

DCB SimSerialPeer::State() const {
    std::shared_ptr<SerialDevice> device;
    {
        std::lock_guard lock(kernel::KernelLock());
        device = m_line->device.lock();
    }
    DCB dcb{};
    if (device)
        device->GetState(dcb);
    return dcb;
}

COMMTIMEOUTS SimSerialPeer::Timeouts() const {
    std::shared_ptr<SerialDevice> device;
    {
        std::lock_guard lock(kernel::KernelLock());
        device = m_line->device.lock();
    }
    COMMTIMEOUTS timeouts{};
    if (device)
        device->GetTimeouts(timeouts);
    return timeouts;
}

DWORD SimSerialPeer::Mask() const {
    std::lock_guard lock(kernel::KernelLock());
    return m_line->mask;
}

std::size_t SimSerialPeer::Waiting() const {
    std::lock_guard lock(kernel::KernelLock());
    return m_line->toLoader.size();
}

SimSerialPeer& SimComPorts::Attach(int number) {
    std::lock_guard lock(m_lock);
    auto line = std::make_shared<SimSerialLine>(m_scheduler);
    m_lines[number] = line;
    m_peers.push_back(std::make_unique<SimSerialPeer>(line));
    return *m_peers.back();
}

std::shared_ptr<SerialDevice> SimComPorts::OpenPort(int number, DWORD& error) {
    std::shared_ptr<SimSerialLine> line;
    {
        std::lock_guard lock(m_lock);
        auto it = m_lines.find(number);
        if (it != m_lines.end())
            line = it->second;
    }
    if (!line) {
        error = ERROR_FILE_NOT_FOUND;
        return nullptr;
    }
    auto device = std::make_shared<SimSerialDevice>(line);
    std::lock_guard lock(kernel::KernelLock());
    line->open = true;
    ++line->opens;
    line->device = device;
    return device;
}

}  // namespace quarrin::platform
