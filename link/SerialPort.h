// One COM port that leads to a co-processor: 8 data bits, no parity, one stop bit, no flow
// control, reads that return at once, and a write time-out of 50 ms per byte plus 2 s.
//
// One handle serves two threads without a lock: the receive thread waits and reads, the
// send thread writes. Open and Close run on the dialog thread, Close only after both
// threads have ended.
#pragma once

#include <atomic>

#include "platform/Win32.h"

inline constexpr DWORD SERIAL_QUEUE_SIZE = 1024;
inline constexpr DWORD SERIAL_WAIT_EVENTS =
    EV_RXCHAR | EV_TXEMPTY | EV_CTS | EV_DSR | EV_RLSD | EV_RING;  // 0x13D

class SerialPort {
public:
    SerialPort() = default;
    SerialPort(const SerialPort&) = delete;
    SerialPort& operator=(const SerialPort&) = delete;

    // Opens "COMn:" with the link's settings. Logs the reason and returns false when the
    // port is already open or cannot be opened or set up; a later Open may try again.
    bool Open(int portNumber, DWORD baudRate);
    bool Close();
    // Sleeps until serial activity, then returns the number of bytes waiting (0 when the
    // port is not open or the wait failed). A change of the line (EV_RLSD) updates HungUp.
    DWORD Available();
    DWORD Read(BYTE* buffer, DWORD count);
    // Writes the whole frame, tracing it first unless it is a firmware data block.
    bool Write(const BYTE* bytes, DWORD count);

    bool IsOpen() const { return m_handle != nullptr && m_handle != INVALID_HANDLE_VALUE; }
    // True when the last Available returned 0 because the event wait failed.
    bool LastWaitFailed() const { return m_lastWaitFailed; }
    // True while the far end has hung up, as the last line change reported it. Written by
    // the receive thread, read by the dialog.
    bool HungUp() const { return m_hungUp.load(); }
    int PortNumber() const { return m_portNumber; }

private:
    bool FailSetup(LPCWSTR format);
    void NoteLineChange();

    int m_portNumber = 0;
    HANDLE m_handle = nullptr;
    bool m_lastWaitFailed = false;
    std::atomic<bool> m_hungUp{false};
};
