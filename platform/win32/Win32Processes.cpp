// Starting programs with the device's CreateProcessW (see WindowsApi.h).
#include "platform/Win32.h"

BOOL CreateProcessW(LPCWSTR applicationName, LPWSTR commandLine,
                    LPSECURITY_ATTRIBUTES processAttributes, LPSECURITY_ATTRIBUTES threadAttributes,
                    BOOL inheritHandles, DWORD creationFlags, LPVOID environment,
                    LPCWSTR currentDirectory, std::nullptr_t,
                    LPPROCESS_INFORMATION processInformation) {
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    return ::CreateProcessW(applicationName, commandLine, processAttributes, threadAttributes,
                            inheritHandles, creationFlags, environment, currentDirectory, &startup,
                            processInformation);
}
