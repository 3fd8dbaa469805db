// An open COM port: the object behind a "COMn:" handle. The Win32 comm functions find it in
// the handle table and call it; a host tty and the simulated line implement it.
#pragma once

#include <mutex>

#include "platform/api/CommApi.h"
#include "platform/kernel/IoObject.h"

namespace quarrin::platform {

class SerialDevice : public kernel::IoObject {
public:
    SerialDevice();

    // All of these set the last error on failure.
    BOOL Setup(DWORD inQueue, DWORD outQueue);
    BOOL GetState(DCB& dcb);
    BOOL SetState(const DCB& dcb);
    BOOL GetTimeouts(COMMTIMEOUTS& timeouts);
    BOOL SetTimeouts(const COMMTIMEOUTS& timeouts);
    virtual BOOL SetMask(DWORD mask) = 0;
    virtual BOOL GetMask(DWORD& mask) = 0;
    virtual BOOL WaitEvent(DWORD& events) = 0;
    virtual BOOL ClearError(DWORD& errors, COMSTAT& status) = 0;
    virtual BOOL Purge(DWORD flags) = 0;
    virtual BOOL GetModemStatus(DWORD& status) = 0;

    // True when the settings are ones a UART can carry: 5 to 8 data bits, no/odd/even
    // parity, one or two stop bits, a non-zero baud rate.
    static bool IsSupported(const DCB& dcb);

protected:
    // Puts validated settings into effect on the line; sets the last error on failure.
    virtual BOOL ApplyState(const DCB& dcb) = 0;
    COMMTIMEOUTS Timeouts();

private:
    std::mutex m_settingsLock;
    DCB m_dcb{};
    COMMTIMEOUTS m_timeouts{};
};

}  // namespace quarrin::platform
