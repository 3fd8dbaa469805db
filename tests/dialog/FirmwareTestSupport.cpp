#include "tests/dialog/FirmwareTestSupport.h"

#include <algorithm>
#include <cstdint>

#include "app/QuarrinApp.h"
#include "contract/UpdateContract.h"
#include "platform/kernel/Kernel.h"
#include "tests/support/ProcessState.h"

namespace firmwaretest {

namespace {

DWORD CloseAfter(LPVOID milliseconds) {
    Sleep(static_cast<DWORD>(reinterpret_cast<std::uintptr_t>(milliseconds)));
    PostMessageW(g_notifyWindow, WM_CLOSE, 0, 0);
    return 0;
}

}  // namespace

void FirmwareProtocolTest::SetUp() {
    testsupport::ResetProcessState();
    sim.PutFile(L"ResidentFlash3\\ZEL\\Velmoran.exe", "app");
}

void FirmwareProtocolTest::Boot(DWORD request, DWORD closeAfterMs) {
    if (closeAfterMs != 0) {
        CloseHandle(CreateThread(
            nullptr, 0, CloseAfter,
            reinterpret_cast<LPVOID>(static_cast<std::uintptr_t>(closeAfterMs)), 0, nullptr));
    }
    sim.PutFile(L"ResidentFlash2\\UpdateInfo.dat",
                std::string{static_cast<char>(request), 0, 0, 0});
    CQuarrinApp app;
    app.InitInstance();
    // The test's co-processor threads use the test's models: end them before those go.
    quarrin::kernel::TerminateAllThreads();
}

bool FirmwareProtocolTest::Shown(const std::string& text) {
    return FirstShown(text) >= 0;
}

int FirmwareProtocolTest::FirstShown(const std::string& text) {
    auto lines = sim.ScreenTrace();
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].rfind("TEXT ", 0) == 0 && lines[i].find(text) != std::string::npos)
            return static_cast<int>(i);
    }
    return -1;
}

int FirmwareProtocolTest::LastShown(const std::string& text) {
    auto lines = sim.ScreenTrace();
    for (std::size_t i = lines.size(); i-- > 0;) {
        if (lines[i].rfind("TEXT ", 0) == 0 && lines[i].find(text) != std::string::npos)
            return static_cast<int>(i);
    }
    return -1;
}

bool FirmwareProtocolTest::Logged(const std::wstring& line) {
    return LoggedCount(line) > 0;
}

int FirmwareProtocolTest::LoggedCount(const std::wstring& line) {
    auto lines = sim.DebugLines();
    return static_cast<int>(std::count(lines.begin(), lines.end(), line));
}

}  // namespace firmwaretest
