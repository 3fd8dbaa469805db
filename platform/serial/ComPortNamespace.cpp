#include "platform/serial/ComPortNamespace.h"

#include <cwctype>

#include "platform/common/Win32Failure.h"
#include "platform/kernel/Kernel.h"

namespace quarrin::platform {

int ComPortNamespace::ParsePortNumber(std::wstring_view name) {
    if (name.size() < 5 || name.back() != L':')
        return -1;
    if (std::towupper(name[0]) != L'C' || std::towupper(name[1]) != L'O' ||
        std::towupper(name[2]) != L'M') {
        return -1;
    }
    std::wstring_view digits = name.substr(3, name.size() - 4);
    if (digits.empty() || digits.size() > 3)
        return -1;
    int number = 0;
    for (wchar_t c : digits) {
        if (c < L'0' || c > L'9')
            return -1;
        number = number * 10 + (c - L'0');
    }
    return number;
}

HANDLE ComPortNamespace::Open(const std::wstring& name, DWORD access, DWORD, DWORD disposition) {
    int number = ParsePortNumber(name);
    if (number < 0)
        return Fail(ERROR_FILE_NOT_FOUND);
    if (disposition != OPEN_EXISTING)
        return Fail(ERROR_INVALID_PARAMETER);
    if ((access & (GENERIC_READ | GENERIC_WRITE)) == 0)
        return Fail(ERROR_ACCESS_DENIED);
    std::lock_guard lock(m_lock);
    // A COM port serves one opener at a time, whatever sharing the caller asks for.
    if (!m_open[number].expired())
        return Fail(ERROR_ACCESS_DENIED);
    DWORD error = ERROR_SUCCESS;
    std::shared_ptr<SerialDevice> port = OpenPort(number, error);
    if (!port)
        return Fail(error == ERROR_SUCCESS ? ERROR_FILE_NOT_FOUND : error);
    m_open[number] = port;
    kernel::SetLastErrorValue(ERROR_SUCCESS);
    return kernel::InsertHandle(std::move(port));
}

}  // namespace quarrin::platform
