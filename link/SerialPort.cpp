#include "link/SerialPort.h"

#include "link/FrameTrace.h"

namespace {

// Command codes of the firmware data blocks: they go out a thousand times per update and
// are not traced.
constexpr BYTE kUntracedCommands[] = {0x15, 0x25};

bool IsTraced(const BYTE* bytes, DWORD count) {
    if (count <= 3)
        return true;
    for (BYTE code : kUntracedCommands) {
        if (bytes[3] == code)
            return false;
    }
    return true;
}

// The flag word of the DCB, bits 0 to 14 (0x1083): binary, parity checking, transmit on
// while XOFF, RTS on; DTR off and no flow control of any kind.
void SetLinkFlags(DCB& dcb) {
    dcb.fBinary = 1;
    dcb.fParity = 1;
    dcb.fOutxCtsFlow = 0;
    dcb.fOutxDsrFlow = 0;
    dcb.fDtrControl = DTR_CONTROL_DISABLE;
    dcb.fDsrSensitivity = 0;
    dcb.fTXContinueOnXoff = 1;
    dcb.fOutX = 0;
    dcb.fInX = 0;
    dcb.fErrorChar = 0;
    dcb.fNull = 0;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    dcb.fAbortOnError = 0;
}

}  // namespace

bool SerialPort::FailSetup(LPCWSTR format) {
    CloseHandle(m_handle);
    m_handle = nullptr;
    NKDbgPrintfW(format, m_portNumber);
    return false;
}

bool SerialPort::Open(int portNumber, DWORD baudRate) {
    if (IsOpen()) {
        NKDbgPrintfW(L"Init Com%d failed,already open\r\n", portNumber);
        return false;
    }
    m_portNumber = portNumber;
    wchar_t name[16];
    wsprintfW(name, L"COM%d:", portNumber);
    m_handle =
        CreateFileW(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (!IsOpen()) {
        NKDbgPrintfW(L"Open Com%d Failed!\r\n", m_portNumber);
        return false;
    }
    SetupComm(m_handle, SERIAL_QUEUE_SIZE, SERIAL_QUEUE_SIZE);
    DCB dcb{};
    if (!GetCommState(m_handle, &dcb))
        return FailSetup(L"GetCommState Com%d Failed!\r\n");
    dcb.DCBlength = sizeof(DCB);
    dcb.BaudRate = baudRate;
    SetLinkFlags(dcb);
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    if (!SetCommState(m_handle, &dcb))
        return FailSetup(L"SetCommState Com%d Failed!\r\n");
    COMMTIMEOUTS timeouts{};
    GetCommTimeouts(m_handle, &timeouts);
    timeouts.ReadIntervalTimeout = MAXDWORD;
    timeouts.ReadTotalTimeoutMultiplier = 0;
    timeouts.ReadTotalTimeoutConstant = 0;
    timeouts.WriteTotalTimeoutMultiplier = 50;
    timeouts.WriteTotalTimeoutConstant = 2000;
    if (!SetCommTimeouts(m_handle, &timeouts)) {
        return FailSetup(L"SetCommTimeouts Com%d Failed!\r\n");
    }
    SetCommMask(m_handle, EV_RXCHAR);
    PurgeComm(m_handle, PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR);
    return true;
}

bool SerialPort::Close() {
    if (IsOpen()) {
        SetCommMask(m_handle, 0);
        CloseHandle(m_handle);
        m_handle = nullptr;
    }
    return true;
}

DWORD SerialPort::Available() {
    if (!IsOpen())
        return 0;
    SetCommMask(m_handle, SERIAL_WAIT_EVENTS);
    DWORD events = 0;
    m_lastWaitFailed = false;
    if (!WaitCommEvent(m_handle, &events, nullptr) && GetLastError() != ERROR_IO_PENDING) {
        m_lastWaitFailed = true;
        return 0;
    }
    if ((events & EV_RLSD) != 0)
        NoteLineChange();
    SetCommMask(m_handle, SERIAL_WAIT_EVENTS);
    DWORD errors = 0;
    COMSTAT status{};
    ClearCommError(m_handle, &errors, &status);
    return status.cbInQue;
}

// The far end hung up or came back. A line whose modem status cannot be read keeps its state:
// without a status, a change event alone does not say which way the line went.
void SerialPort::NoteLineChange() {
    DWORD status = 0;
    if (!GetCommModemStatus(m_handle, &status))
        return;
    bool down = (status & MS_RLSD_ON) == 0;
    if (m_hungUp.exchange(down) != down)
        NKDbgPrintfW(down ? L"Com%d hung up\r\n" : L"Com%d line back\r\n", m_portNumber);
}

DWORD SerialPort::Read(BYTE* buffer, DWORD count) {
    if (buffer == nullptr || count == 0 || !IsOpen())
        return 0;
    DWORD got = 0;
    if (!ReadFile(m_handle, buffer, count, &got, nullptr))
        return 0;
    return got;
}

bool SerialPort::Write(const BYTE* bytes, DWORD count) {
    if (bytes == nullptr || count == 0 || !IsOpen())
        return false;
    if (IsTraced(bytes, count))
        TraceFrame(L"S:", bytes, static_cast<int>(count));
    DWORD written = 0;
    for (;;) {
        DWORD done = 0;
        BOOL ok = WriteFile(m_handle, bytes + written, count - written, &done, nullptr);
        written += done;
        // NOTE: a call that times out without sending anything means the line is stuck;
        // calling again would hold the send thread for ever.
        if (!ok || written >= count || done == 0)
            break;
    }
    return written == count;
}
