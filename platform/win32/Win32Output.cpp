// The debug print and the progress lines: the kernel debug output of the device becomes
// OutputDebugStringW, standard error and the log file; each line leaves in one write.
#include <cstdarg>
#include <cwchar>

#include <shlwapi.h>

#include "platform/Win32.h"
#include "platform/win32/Win32Runtime.h"

namespace quarrin::platform::win32 {
namespace {

struct OutputState {
    OutputState() { InitializeCriticalSection(&lock); }
    CRITICAL_SECTION lock;
    HANDLE log = INVALID_HANDLE_VALUE;
    bool progress = false;
};

OutputState& Output() {
    static OutputState state;
    return state;
}

void WriteAll(HANDLE file, const std::string& bytes) {
    if (file == nullptr || file == INVALID_HANDLE_VALUE)
        return;
    for (std::size_t done = 0; done < bytes.size();) {
        DWORD written = 0;
        if (!WriteFile(file, bytes.data() + done, static_cast<DWORD>(bytes.size() - done), &written,
                       nullptr) ||
            written == 0) {
            break;
        }
        done += written;
    }
}

}  // namespace

std::wstring WideFromUtf8(const std::string& text) {
    if (text.empty())
        return {};
    int count =
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(count), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), count);
    return wide;
}

std::string Utf8FromWide(const std::wstring& text) {
    if (text.empty())
        return {};
    int count = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr,
                                    0, nullptr, nullptr);
    std::string bytes(static_cast<std::size_t>(count), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), bytes.data(), count,
                        nullptr, nullptr);
    return bytes;
}

bool StartDebugOutput(const std::wstring& logFile) {
    if (logFile.empty())
        return true;
    HANDLE log = CreateFileW(logFile.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr,
                             OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (log == INVALID_HANDLE_VALUE)
        return false;
    Output().log = log;
    return true;
}

void EnableProgressOutput(bool enabled) {
    Output().progress = enabled;
}

}  // namespace quarrin::platform::win32

namespace quarrin::platform {

int FormatWideBounded(wchar_t* buffer, std::size_t capacity, const wchar_t* format, ...) {
    if (buffer == nullptr || capacity == 0)
        return 0;
    va_list args;
    va_start(args, format);
    // The system's own formatter of wsprintfW, bounded; it always terminates the text.
    wvnsprintfW(buffer, static_cast<int>(capacity), format, args);
    va_end(args);
    buffer[capacity - 1] = L'\0';
    return static_cast<int>(std::wcslen(buffer));
}

}  // namespace quarrin::platform

void NKDbgPrintfW(LPCWSTR format, ...) {
    wchar_t line[4096];
    va_list args;
    va_start(args, format);
    wvnsprintfW(line, static_cast<int>(sizeof line / sizeof line[0]), format, args);
    va_end(args);
    line[sizeof line / sizeof line[0] - 1] = L'\0';
    OutputDebugStringW(line);
    using namespace quarrin::platform::win32;
    std::string bytes = Utf8FromWide(line);
    auto& output = Output();
    EnterCriticalSection(&output.lock);
    WriteAll(GetStdHandle(STD_ERROR_HANDLE), bytes);
    WriteAll(output.log, bytes);
    LeaveCriticalSection(&output.lock);
}

void ReportProgressLine(LPCWSTR line) {
    using namespace quarrin::platform::win32;
    auto& output = Output();
    if (!output.progress || line == nullptr)
        return;
    std::string bytes = Utf8FromWide(line) + "\n";
    EnterCriticalSection(&output.lock);
    WriteAll(GetStdHandle(STD_OUTPUT_HANDLE), bytes);
    LeaveCriticalSection(&output.lock);
}
