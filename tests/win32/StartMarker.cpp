// A program for the device tree of a Windows run: started as the main application or the
// shell, it records its start by creating "<its own path>.started".
#include <windows.h>

int main() {
    wchar_t path[MAX_PATH + 16];
    DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return 1;
    lstrcatW(path, L".started");
    HANDLE marker =
        CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (marker == INVALID_HANDLE_VALUE)
        return 1;
    DWORD written = 0;
    WriteFile(marker, "started\n", 8, &written, nullptr);
    CloseHandle(marker);
    return 0;
}
