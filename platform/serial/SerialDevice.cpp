#include "platform/serial/SerialDevice.h"

#include "platform/common/Win32Failure.h"
#include "platform/kernel/Kernel.h"

namespace quarrin::platform {

SerialDevice::SerialDevice() {
    // The settings a port has when it is opened: 9600 baud, 8N1, binary, no flow control.
    m_dcb.DCBlength = sizeof(DCB);
    m_dcb.BaudRate = CBR_9600;
    m_dcb.fBinary = 1;
    m_dcb.fDtrControl = DTR_CONTROL_ENABLE;
    m_dcb.fRtsControl = RTS_CONTROL_ENABLE;
    m_dcb.XonLim = 256;
    m_dcb.XoffLim = 256;
    m_dcb.ByteSize = 8;
    m_dcb.Parity = NOPARITY;
    m_dcb.StopBits = ONESTOPBIT;
    m_dcb.XonChar = 0x11;
    m_dcb.XoffChar = 0x13;
}

BOOL SerialDevice::Setup(DWORD inQueue, DWORD outQueue) {
    if (inQueue == 0 || outQueue == 0)
        return Fail(ERROR_INVALID_PARAMETER);
    return TRUE;
}

BOOL SerialDevice::GetState(DCB& dcb) {
    std::lock_guard lock(m_settingsLock);
    dcb = m_dcb;
    return TRUE;
}

bool SerialDevice::IsSupported(const DCB& dcb) {
    return dcb.BaudRate != 0 && dcb.ByteSize >= 5 && dcb.ByteSize <= 8 &&
           dcb.Parity <= EVENPARITY && (dcb.StopBits == ONESTOPBIT || dcb.StopBits == TWOSTOPBITS);
}

BOOL SerialDevice::SetState(const DCB& dcb) {
    if (!IsSupported(dcb))
        return Fail(ERROR_INVALID_PARAMETER);
    std::lock_guard lock(m_settingsLock);
    if (!ApplyState(dcb))
        return FALSE;
    m_dcb = dcb;
    return TRUE;
}

BOOL SerialDevice::GetTimeouts(COMMTIMEOUTS& timeouts) {
    std::lock_guard lock(m_settingsLock);
    timeouts = m_timeouts;
    return TRUE;
}

BOOL SerialDevice::SetTimeouts(const COMMTIMEOUTS& timeouts) {
    std::lock_guard lock(m_settingsLock);
    m_timeouts = timeouts;
    return TRUE;
}

COMMTIMEOUTS SerialDevice::Timeouts() {
    std::lock_guard lock(m_settingsLock);
    return m_timeouts;
}

}  // namespace quarrin::platform
