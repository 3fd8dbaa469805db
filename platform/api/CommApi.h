// Serial communications on "COMn:" devices, with the device's Win32 semantics.
//
// A port is opened with CreateFileW("COM2:", GENERIC_READ | GENERIC_WRITE, 0, nullptr,
// OPEN_EXISTING, 0, nullptr) and read and written with ReadFile and WriteFile. A port can be
// open only once at a time (a second open gives ERROR_ACCESS_DENIED).
#pragma once

#include "platform/Win32Types.h"

// --- Line settings -----------------------------------------------------------------------------
inline constexpr DWORD CBR_9600 = 9600;
inline constexpr DWORD CBR_19200 = 19200;
inline constexpr DWORD CBR_38400 = 38400;
inline constexpr DWORD CBR_57600 = 57600;
inline constexpr DWORD CBR_115200 = 115200;

inline constexpr BYTE NOPARITY = 0;
inline constexpr BYTE ODDPARITY = 1;
inline constexpr BYTE EVENPARITY = 2;
inline constexpr BYTE MARKPARITY = 3;
inline constexpr BYTE SPACEPARITY = 4;

inline constexpr BYTE ONESTOPBIT = 0;
inline constexpr BYTE ONE5STOPBITS = 1;
inline constexpr BYTE TWOSTOPBITS = 2;

inline constexpr DWORD DTR_CONTROL_DISABLE = 0;
inline constexpr DWORD DTR_CONTROL_ENABLE = 1;
inline constexpr DWORD DTR_CONTROL_HANDSHAKE = 2;
inline constexpr DWORD RTS_CONTROL_DISABLE = 0;
inline constexpr DWORD RTS_CONTROL_ENABLE = 1;
inline constexpr DWORD RTS_CONTROL_HANDSHAKE = 2;
inline constexpr DWORD RTS_CONTROL_TOGGLE = 3;

// The device control block: 28 bytes. The flag word at offset 8 holds the bit fields below
// in its bits 0 to 14; bits 15 to 31 are reserved and kept as they are.
struct DCB {
    DWORD DCBlength;
    DWORD BaudRate;
    DWORD fBinary : 1;            // bit 0
    DWORD fParity : 1;            // bit 1: check parity
    DWORD fOutxCtsFlow : 1;       // bit 2
    DWORD fOutxDsrFlow : 1;       // bit 3
    DWORD fDtrControl : 2;        // bits 4-5: DTR_CONTROL_*
    DWORD fDsrSensitivity : 1;    // bit 6
    DWORD fTXContinueOnXoff : 1;  // bit 7
    DWORD fOutX : 1;              // bit 8: XON/XOFF on output
    DWORD fInX : 1;               // bit 9: XON/XOFF on input
    DWORD fErrorChar : 1;         // bit 10
    DWORD fNull : 1;              // bit 11
    DWORD fRtsControl : 2;        // bits 12-13: RTS_CONTROL_*
    DWORD fAbortOnError : 1;      // bit 14
    DWORD fDummy2 : 17;           // bits 15-31
    WORD wReserved;
    WORD XonLim;
    WORD XoffLim;
    BYTE ByteSize;
    BYTE Parity;
    BYTE StopBits;
    char XonChar;
    char XoffChar;
    char ErrorChar;
    char EofChar;
    char EvtChar;
    WORD wReserved1;
};
static_assert(sizeof(DCB) == 28, "DCB must have the device's layout");
using LPDCB = DCB*;

// Time-outs in milliseconds. ReadIntervalTimeout MAXDWORD with both read totals 0 makes a
// read return at once with the bytes that have already arrived. A write waits at most
// WriteTotalTimeoutMultiplier * count + WriteTotalTimeoutConstant (both 0: no limit) and
// then succeeds with the bytes it got out.
struct COMMTIMEOUTS {
    DWORD ReadIntervalTimeout;
    DWORD ReadTotalTimeoutMultiplier;
    DWORD ReadTotalTimeoutConstant;
    DWORD WriteTotalTimeoutMultiplier;
    DWORD WriteTotalTimeoutConstant;
};
using LPCOMMTIMEOUTS = COMMTIMEOUTS*;

struct COMSTAT {
    DWORD fCtsHold : 1;
    DWORD fDsrHold : 1;
    DWORD fRlsdHold : 1;
    DWORD fXoffHold : 1;
    DWORD fXoffSent : 1;
    DWORD fEof : 1;
    DWORD fTxim : 1;
    DWORD fReserved : 25;
    DWORD cbInQue;   // bytes received and not yet read
    DWORD cbOutQue;  // bytes written and not yet sent
};
using LPCOMSTAT = COMSTAT*;

// --- Events (SetCommMask, WaitCommEvent) -------------------------------------------------------
inline constexpr DWORD EV_RXCHAR = 0x0001;  // bytes wait in the receive queue
inline constexpr DWORD EV_RXFLAG = 0x0002;
inline constexpr DWORD EV_TXEMPTY = 0x0004;  // the last write has gone out
inline constexpr DWORD EV_CTS = 0x0008;
inline constexpr DWORD EV_DSR = 0x0010;
inline constexpr DWORD EV_RLSD = 0x0020;  // carrier change; a hang-up of the line
inline constexpr DWORD EV_BREAK = 0x0040;
inline constexpr DWORD EV_ERR = 0x0080;
inline constexpr DWORD EV_RING = 0x0100;

// --- Line errors (ClearCommError) --------------------------------------------------------------
inline constexpr DWORD CE_RXOVER = 0x0001;
inline constexpr DWORD CE_OVERRUN = 0x0002;
inline constexpr DWORD CE_RXPARITY = 0x0004;
inline constexpr DWORD CE_FRAME = 0x0008;
inline constexpr DWORD CE_BREAK = 0x0010;

// --- Modem status (GetCommModemStatus) -------------------------------------------------------
inline constexpr DWORD MS_CTS_ON = 0x0010;
inline constexpr DWORD MS_DSR_ON = 0x0020;
inline constexpr DWORD MS_RING_ON = 0x0040;
inline constexpr DWORD MS_RLSD_ON = 0x0080;  // the far end is there (carrier detected)

// --- PurgeComm ---------------------------------------------------------------------------------
inline constexpr DWORD PURGE_TXABORT = 0x0001;
inline constexpr DWORD PURGE_RXABORT = 0x0002;
inline constexpr DWORD PURGE_TXCLEAR = 0x0004;
inline constexpr DWORD PURGE_RXCLEAR = 0x0008;

// Every function fails with ERROR_INVALID_HANDLE on a handle that is not an open port.
BOOL SetupComm(HANDLE file, DWORD inQueue, DWORD outQueue);
BOOL GetCommState(HANDLE file, LPDCB dcb);
// Applies the settings; an unsupported baud rate, byte size, parity or stop-bit setting
// gives ERROR_INVALID_PARAMETER and leaves the port as it was.
BOOL SetCommState(HANDLE file, LPDCB dcb);
BOOL GetCommTimeouts(HANDLE file, LPCOMMTIMEOUTS timeouts);
BOOL SetCommTimeouts(HANDLE file, LPCOMMTIMEOUTS timeouts);
// Sets the events WaitCommEvent waits for. A WaitCommEvent in progress on another thread
// returns at once with success and no events.
BOOL SetCommMask(HANDLE file, DWORD eventMask);
BOOL GetCommMask(HANDLE file, LPDWORD eventMask);
// Sleeps until one of the masked events occurs and reports the events in *eventMask.
// EV_RXCHAR holds as long as received bytes wait; the other events are reported once each.
// With an empty mask it fails with ERROR_INVALID_PARAMETER.
BOOL WaitCommEvent(HANDLE file, LPDWORD eventMask, LPOVERLAPPED overlapped);
// Reports and clears the line errors, and gives the queue counts.
BOOL ClearCommError(HANDLE file, LPDWORD errors, LPCOMSTAT status);
BOOL PurgeComm(HANDLE file, DWORD flags);
// The modem lines' state as MS_* bits: MS_RLSD_ON while the far end is there, clear once it
// has hung up (EV_RLSD reports the change).
BOOL GetCommModemStatus(HANDLE file, LPDWORD modemStatus);
