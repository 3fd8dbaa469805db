#include "platform/serial/HostSerialDevice.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

#include "platform/common/ErrnoMap.h"
#include "platform/common/Win32Failure.h"
#include "platform/kernel/Kernel.h"

namespace quarrin::platform {

namespace {

BOOL FailErrno(int error) {
    return Fail(Win32ErrorFromErrno(error));
}

struct SpeedEntry {
    DWORD baud;
    speed_t speed;
};

constexpr SpeedEntry kSpeeds[] = {
    {1200, B1200},     {2400, B2400},     {4800, B4800},     {9600, B9600},
    {19200, B19200},   {38400, B38400},   {57600, B57600},   {115200, B115200},
    {230400, B230400}, {460800, B460800}, {921600, B921600},
};

bool SpeedFor(DWORD baud, speed_t& speed) {
    for (const SpeedEntry& entry : kSpeeds) {
        if (entry.baud == baud) {
            speed = entry.speed;
            return true;
        }
    }
    return false;
}

tcflag_t SizeFlag(BYTE byteSize) {
    switch (byteSize) {
        case 5:
            return CS5;
        case 6:
            return CS6;
        case 7:
            return CS7;
        default:
            return CS8;
    }
}

using Clock = std::chrono::steady_clock;

// Milliseconds left until `deadline` (none: -1, no limit), never below 0.
int RemainingMs(const std::optional<Clock::time_point>& deadline) {
    if (!deadline)
        return -1;
    auto left = std::chrono::ceil<std::chrono::milliseconds>(*deadline - Clock::now()).count();
    return left < 0 ? 0 : static_cast<int>(left);
}

std::optional<Clock::time_point> DeadlineAfter(std::uint64_t milliseconds) {
    if (milliseconds == 0)
        return std::nullopt;
    return Clock::now() + std::chrono::milliseconds(milliseconds);
}

}  // namespace

std::shared_ptr<HostSerialDevice> HostSerialDevice::Open(const std::string& path, DWORD& error) {
    int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        error = Win32ErrorFromErrno(errno);
        return nullptr;
    }
    if (!isatty(fd)) {
        ::close(fd);
        error = ERROR_NOT_SUPPORTED;
        return nullptr;
    }
    int wakeFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (wakeFd < 0) {
        error = Win32ErrorFromErrno(errno);
        ::close(fd);
        return nullptr;
    }
    auto device = std::make_shared<HostSerialDevice>(fd, wakeFd);
    // Raw mode at once, so that no line discipline touches a byte before SetCommState.
    DCB initial{};
    device->GetState(initial);
    if (!device->ApplyState(initial)) {
        error = kernel::LastErrorValue();
        return nullptr;
    }
    return device;
}

HostSerialDevice::HostSerialDevice(int fd, int wakeFd) : m_fd(fd), m_wakeFd(wakeFd) {}

HostSerialDevice::~HostSerialDevice() {
    ::close(m_fd);
    ::close(m_wakeFd);
}

BOOL HostSerialDevice::ApplyState(const DCB& dcb) {
    speed_t speed;
    if (!SpeedFor(dcb.BaudRate, speed))
        return Fail(ERROR_INVALID_PARAMETER);
    termios tio{};
    if (tcgetattr(m_fd, &tio) != 0)
        return FailErrno(errno);
    cfmakeraw(&tio);
    tio.c_cflag &= ~(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
    tio.c_cflag |= CLOCAL | CREAD | SizeFlag(dcb.ByteSize);
    if (dcb.Parity != NOPARITY)
        tio.c_cflag |= PARENB | (dcb.Parity == ODDPARITY ? PARODD : 0);
    if (dcb.fParity && dcb.Parity != NOPARITY)
        tio.c_iflag |= INPCK;
    if (dcb.StopBits == TWOSTOPBITS)
        tio.c_cflag |= CSTOPB;
    if (dcb.fOutxCtsFlow || dcb.fRtsControl == RTS_CONTROL_HANDSHAKE)
        tio.c_cflag |= CRTSCTS;
    tio.c_iflag &= ~(IXON | IXOFF | IXANY);
    if (dcb.fOutX)
        tio.c_iflag |= IXON;
    if (dcb.fInX)
        tio.c_iflag |= IXOFF;
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    cfsetispeed(&tio, speed);
    cfsetospeed(&tio, speed);
    if (tcsetattr(m_fd, TCSANOW, &tio) != 0)
        return FailErrno(errno);
    return TRUE;
}

void HostSerialDevice::WakeWaiter() {
    std::uint64_t one = 1;
    // A full counter already means "wake up"; nothing is lost when this write fails.
    [[maybe_unused]] ssize_t n = ::write(m_wakeFd, &one, sizeof one);
}

HostSerialDevice::PollResult HostSerialDevice::PollLine(short events, int timeoutMs) {
    kernel::InterruptibleScope scope([this] { WakeWaiter(); });
    kernel::CheckTerminated();  // a terminate that came before the scope was in place
    pollfd fds[2] = {{m_wakeFd, POLLIN, 0}, {events != 0 ? m_fd : -1, events, 0}};
    int n = ::poll(fds, 2, timeoutMs);
    int error = errno;
    kernel::CheckTerminated();
    if (n < 0) {
        if (error == EINTR)
            return PollResult::Woken;
        kernel::SetLastErrorValue(Win32ErrorFromErrno(error));
        return PollResult::Failed;
    }
    if (fds[0].revents != 0) {
        std::uint64_t count;
        [[maybe_unused]] ssize_t drained = ::read(m_wakeFd, &count, sizeof count);
    }
    if (fds[1].revents & POLLNVAL) {
        kernel::SetLastErrorValue(ERROR_INVALID_HANDLE);
        return PollResult::Failed;
    }
    if (fds[1].revents != 0)
        return PollResult::Ready;
    return n == 0 ? PollResult::TimedOut : PollResult::Woken;
}

BOOL HostSerialDevice::Read(void* buffer, DWORD count, DWORD* done) {
    COMMTIMEOUTS timeouts = Timeouts();
    bool immediate = timeouts.ReadIntervalTimeout == MAXDWORD &&
                     timeouts.ReadTotalTimeoutMultiplier == 0 &&
                     timeouts.ReadTotalTimeoutConstant == 0;
    auto deadline = DeadlineAfter(std::uint64_t{timeouts.ReadTotalTimeoutMultiplier} * count +
                                  timeouts.ReadTotalTimeoutConstant);
    bool useInterval =
        timeouts.ReadIntervalTimeout != 0 && timeouts.ReadIntervalTimeout != MAXDWORD;
    auto* bytes = static_cast<BYTE*>(buffer);
    DWORD got = 0;
    bool lineReady = false;
    while (got < count) {
        ssize_t n = ::read(m_fd, bytes + got, count - got);
        if (n > 0) {
            got += static_cast<DWORD>(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR) {
            if (got > 0)
                break;
            return FailErrno(errno);
        }
        // With VMIN 0 a read of 0 means nothing waits; right after poll() saw the line ready
        // it means the other end hung up, and waiting longer would spin.
        if (immediate || (n == 0 && lineReady))
            break;
        int wait = RemainingMs(deadline);
        if (useInterval && got > 0) {
            int interval = static_cast<int>(timeouts.ReadIntervalTimeout);
            wait = wait < 0 ? interval : std::min(wait, interval);
        }
        if (wait == 0)
            break;
        PollResult result = PollLine(POLLIN, wait);
        if (result == PollResult::Failed)
            return FALSE;
        if (result == PollResult::TimedOut && (useInterval && got > 0))
            break;
        lineReady = result == PollResult::Ready;
    }
    if (done != nullptr)
        *done = got;
    return TRUE;
}

BOOL HostSerialDevice::Write(const void* buffer, DWORD count, DWORD* done) {
    COMMTIMEOUTS timeouts = Timeouts();
    // NOTE: a write never blocks without end: with no time-out set it still returns after
    // kStalledWriteMs of a blocked line, as its peer may never read again.
    std::uint64_t limit = std::uint64_t{timeouts.WriteTotalTimeoutMultiplier} * count +
                          timeouts.WriteTotalTimeoutConstant;
    auto deadline = DeadlineAfter(limit);
    const auto* bytes = static_cast<const BYTE*>(buffer);
    DWORD sent = 0;
    BOOL ok = TRUE;
    while (sent < count) {
        ssize_t n = ::write(m_fd, bytes + sent, count - sent);
        if (n > 0) {
            sent += static_cast<DWORD>(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR) {
            ok = FailErrno(errno);
            break;
        }
        int wait = deadline ? RemainingMs(deadline) : kStalledWriteMs;
        if (wait == 0)
            break;
        PollResult result = PollLine(POLLOUT, wait);
        if (result == PollResult::Failed) {
            ok = FALSE;
            break;
        }
        if (result == PollResult::TimedOut)
            break;
    }
    if (done != nullptr)
        *done = sent;
    if (ok && sent == count && count > 0) {
        std::lock_guard lock(m_lock);
        m_pending |= EV_TXEMPTY;
    }
    if (sent > 0)
        WakeWaiter();
    return ok;
}

BOOL HostSerialDevice::SetMask(DWORD mask) {
    {
        std::lock_guard lock(m_lock);
        m_mask = mask;
        ++m_maskGeneration;
    }
    WakeWaiter();
    return TRUE;
}

BOOL HostSerialDevice::GetMask(DWORD& mask) {
    std::lock_guard lock(m_lock);
    mask = m_mask;
    return TRUE;
}

DWORD HostSerialDevice::BytesWaiting() {
    int waiting = 0;
    if (ioctl(m_fd, FIONREAD, &waiting) != 0 || waiting < 0)
        return 0;
    return static_cast<DWORD>(waiting);
}

bool HostSerialDevice::TakeEvent(std::uint64_t generation, DWORD& events) {
    std::lock_guard lock(m_lock);
    if (generation != m_maskGeneration) {  // the mask changed: the wait ends without events
        events = 0;
        return true;
    }
    DWORD ready = m_pending & m_mask;
    if ((m_mask & EV_RXCHAR) != 0 && !m_hungUp && BytesWaiting() > 0)
        ready |= EV_RXCHAR;
    m_pending &= ~ready;
    events = ready;
    return ready != 0;
}

BOOL HostSerialDevice::WaitEvent(DWORD& events) {
    std::uint64_t generation;
    {
        std::lock_guard lock(m_lock);
        if (m_mask == 0)
            return Fail(ERROR_INVALID_PARAMETER);
        generation = m_maskGeneration;
    }
    while (!TakeEvent(generation, events)) {
        bool hungUp;
        {
            std::lock_guard lock(m_lock);
            hungUp = m_hungUp;
        }
        // After a hang-up the tty reports POLLHUP at once, for ever: leave it out of the poll
        // and look at it again now and then, so that the wait sleeps instead of spinning.
        PollResult result = PollLine(hungUp ? 0 : POLLIN, hungUp ? kHangupRecheckMs : -1);
        if (result == PollResult::Failed)
            return FALSE;
        pollfd line{m_fd, POLLIN, 0};
        if (::poll(&line, 1, 0) < 0)
            continue;
        bool nowHungUp = (line.revents & (POLLHUP | POLLERR)) != 0;
        std::lock_guard lock(m_lock);
        if (nowHungUp != m_hungUp) {
            m_hungUp = nowHungUp;
            m_pending |= EV_RLSD;
        }
    }
    return TRUE;
}

BOOL HostSerialDevice::ClearError(DWORD& errors, COMSTAT& status) {
    errors = 0;  // a tty in raw mode does not report framing or parity errors per byte
    status = COMSTAT{};
    status.cbInQue = BytesWaiting();
    int queued = 0;
    if (ioctl(m_fd, TIOCOUTQ, &queued) == 0 && queued > 0) {
        status.cbOutQue = static_cast<DWORD>(queued);
    }
    return TRUE;
}

BOOL HostSerialDevice::Purge(DWORD flags) {
    if ((flags & PURGE_RXCLEAR) != 0 && tcflush(m_fd, TCIFLUSH) != 0)
        return FailErrno(errno);
    if ((flags & PURGE_TXCLEAR) != 0 && tcflush(m_fd, TCOFLUSH) != 0)
        return FailErrno(errno);
    return TRUE;
}

BOOL HostSerialDevice::GetModemStatus(DWORD& status) {
    pollfd line{m_fd, POLLIN, 0};
    if (::poll(&line, 1, 0) < 0)
        return FailErrno(errno);
    status = (line.revents & (POLLHUP | POLLERR)) != 0 ? 0 : MS_RLSD_ON;
    return TRUE;
}

std::shared_ptr<SerialDevice> HostComPorts::OpenPort(int number, DWORD& error) {
    auto it = m_paths.find(number);
    if (it == m_paths.end()) {
        error = ERROR_FILE_NOT_FOUND;
        return nullptr;
    }
    return HostSerialDevice::Open(it->second, error);
}

}  // namespace quarrin::platform
