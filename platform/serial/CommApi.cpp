// The Win32 comm functions: each finds the port behind the handle and hands over to it.
#include "platform/api/CommApi.h"

#include "platform/common/Win32Failure.h"
#include "platform/kernel/Kernel.h"
#include "platform/serial/SerialDevice.h"

using quarrin::platform::Fail;
using quarrin::platform::SerialDevice;

namespace {

std::shared_ptr<SerialDevice> Port(HANDLE handle) {
    auto port = quarrin::kernel::LookupHandleAs<SerialDevice>(handle);
    if (!port)
        quarrin::kernel::SetLastErrorValue(ERROR_INVALID_HANDLE);
    return port;
}

}  // namespace

BOOL SetupComm(HANDLE file, DWORD inQueue, DWORD outQueue) {
    auto port = Port(file);
    return port ? port->Setup(inQueue, outQueue) : FALSE;
}

BOOL GetCommState(HANDLE file, LPDCB dcb) {
    auto port = Port(file);
    if (!port)
        return FALSE;
    if (dcb == nullptr)
        return Fail(ERROR_INVALID_PARAMETER);
    return port->GetState(*dcb);
}

BOOL SetCommState(HANDLE file, LPDCB dcb) {
    auto port = Port(file);
    if (!port)
        return FALSE;
    if (dcb == nullptr)
        return Fail(ERROR_INVALID_PARAMETER);
    return port->SetState(*dcb);
}

BOOL GetCommTimeouts(HANDLE file, LPCOMMTIMEOUTS timeouts) {
    auto port = Port(file);
    if (!port)
        return FALSE;
    if (timeouts == nullptr)
        return Fail(ERROR_INVALID_PARAMETER);
    return port->GetTimeouts(*timeouts);
}

BOOL SetCommTimeouts(HANDLE file, LPCOMMTIMEOUTS timeouts) {
    auto port = Port(file);
    if (!port)
        return FALSE;
    if (timeouts == nullptr)
        return Fail(ERROR_INVALID_PARAMETER);
    return port->SetTimeouts(*timeouts);
}

BOOL SetCommMask(HANDLE file, DWORD eventMask) {
    auto port = Port(file);
    return port ? port->SetMask(eventMask) : FALSE;
}

BOOL GetCommMask(HANDLE file, LPDWORD eventMask) {
    auto port = Port(file);
    if (!port)
        return FALSE;
    if (eventMask == nullptr)
        return Fail(ERROR_INVALID_PARAMETER);
    return port->GetMask(*eventMask);
}

BOOL WaitCommEvent(HANDLE file, LPDWORD eventMask, LPOVERLAPPED overlapped) {
    auto port = Port(file);
    if (!port)
        return FALSE;
    if (overlapped != nullptr)
        return Fail(ERROR_NOT_SUPPORTED);  // ports open non-overlapped
    DWORD events = 0;
    BOOL ok = port->WaitEvent(events);
    if (eventMask != nullptr)
        *eventMask = events;
    return ok;
}

BOOL ClearCommError(HANDLE file, LPDWORD errors, LPCOMSTAT status) {
    auto port = Port(file);
    if (!port)
        return FALSE;
    DWORD lineErrors = 0;
    COMSTAT queues{};
    if (!port->ClearError(lineErrors, queues))
        return FALSE;
    if (errors != nullptr)
        *errors = lineErrors;
    if (status != nullptr)
        *status = queues;
    return TRUE;
}

BOOL PurgeComm(HANDLE file, DWORD flags) {
    auto port = Port(file);
    if (!port)
        return FALSE;
    if ((flags & ~(PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR)) != 0) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    return port->Purge(flags);
}

BOOL GetCommModemStatus(HANDLE file, LPDWORD modemStatus) {
    auto port = Port(file);
    if (!port)
        return FALSE;
    if (modemStatus == nullptr)
        return Fail(ERROR_INVALID_PARAMETER);
    return port->GetModemStatus(*modemStatus);
}
