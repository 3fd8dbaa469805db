// A COM port on a host tty (a serial device or a pseudo-terminal) in raw mode.
//
// Reads and writes are non-blocking at the descriptor and wait in poll() for as long as the
// port's time-outs allow. WaitCommEvent sleeps in poll() on the tty and on an eventfd that
// SetCommMask, a completed write and TerminateThread write to. A hang-up (the other end of
// a pseudo-terminal closed) is reported once as EV_RLSD; the wait then looks at the line
// only every kHangupRecheckMs instead of spinning on the hang-up.
#pragma once

#include <memory>
#include <mutex>
#include <string>

#include "platform/serial/ComPortNamespace.h"
#include "platform/serial/SerialDevice.h"

namespace quarrin::platform {

class HostSerialDevice : public SerialDevice {
public:
    // Opens the tty at `path`; null with `error` set when it cannot.
    static std::shared_ptr<HostSerialDevice> Open(const std::string& path, DWORD& error);
    HostSerialDevice(int fd, int wakeFd);
    ~HostSerialDevice() override;
    HostSerialDevice(const HostSerialDevice&) = delete;
    HostSerialDevice& operator=(const HostSerialDevice&) = delete;

    BOOL Read(void* buffer, DWORD count, DWORD* done) override;
    BOOL Write(const void* buffer, DWORD count, DWORD* done) override;
    BOOL SetMask(DWORD mask) override;
    BOOL GetMask(DWORD& mask) override;
    BOOL WaitEvent(DWORD& events) override;
    BOOL ClearError(DWORD& errors, COMSTAT& status) override;
    BOOL Purge(DWORD flags) override;
    // MS_RLSD_ON unless the line has hung up; the tty's own modem lines are not read, so
    // the status agrees with the EV_RLSD events that WaitCommEvent reports.
    BOOL GetModemStatus(DWORD& status) override;

    static constexpr int kHangupRecheckMs = 250;
    static constexpr int kStalledWriteMs = 1000;

protected:
    BOOL ApplyState(const DCB& dcb) override;

private:
    enum class PollResult { Ready, TimedOut, Woken, Failed };
    // Waits up to timeoutMs (-1: no limit) for `events` on the tty or a wake-up; a
    // terminated thread unwinds from here.
    PollResult PollLine(short events, int timeoutMs);
    void WakeWaiter();
    DWORD BytesWaiting();
    // Reports a pending event if one is due; false when the wait must go on.
    bool TakeEvent(std::uint64_t generation, DWORD& events);

    int m_fd;
    int m_wakeFd;
    std::mutex m_lock;
    DWORD m_mask = 0;
    std::uint64_t m_maskGeneration = 0;
    DWORD m_pending = 0;  // events that happened once (EV_TXEMPTY, EV_RLSD)
    bool m_hungUp = false;
};

// The host's COM ports: each number maps to a tty path (from --com N=DEVICE).
class HostComPorts : public ComPortNamespace {
public:
    explicit HostComPorts(std::map<int, std::string> paths) : m_paths(std::move(paths)) {}

protected:
    std::shared_ptr<SerialDevice> OpenPort(int number, DWORD& error) override;

private:
    std::map<int, std::string> m_paths;
};

}  // namespace quarrin::platform
