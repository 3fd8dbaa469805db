#include "app/Launch.h"

#include "platform/Win32.h"

namespace {

BOOL Start(const wchar_t* path, DWORD creationFlags) {
    PROCESS_INFORMATION info{};
    return CreateProcessW(path, nullptr, nullptr, nullptr, FALSE, creationFlags, nullptr, nullptr,
                          nullptr, &info);
}

}  // namespace

int LaunchMainApplication() {
    WIN32_FIND_DATAW found{};
    HANDLE search = FindFirstFileW(SHELL_MARKER_PATH, &found);
    if (search != INVALID_HANDLE_VALUE) {
        FindClose(search);
        Start(PLATFORM_SHELL_PATH, 0);
        return 0;
    }
    if (Start(MAIN_APPLICATION_PATH, CREATE_NEW_CONSOLE)) {
        NKDbgPrintfW(L"CP OK!\r\n");
        return 0;
    }
    DWORD error = GetLastError();
    wchar_t line[64];
    wsprintfW(line, L"CP Failed!Error Code:%d\r\n", error);
    NKDbgPrintfW(L"%s", line);
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
        Start(PLATFORM_SHELL_PATH, 0);
    return 0;
}
