#include "tests/support/LinkTestSupport.h"

#include <algorithm>

#include "contract/UpdateContract.h"
#include "link/PostBudget.h"
#include "platform/window/WindowCore.h"

namespace linktest {

PostCollector::PostCollector()
    : m_window(quarrin::platform::CreatePlatformWindow(
          [](HWND, UINT, WPARAM, LPARAM) -> LRESULT { return 0; })) {
    g_notifyWindow = m_window;
    ResetPostBudgets();  // a new window takes what the parsers post from now on
}

PostCollector::~PostCollector() {
    g_notifyWindow = nullptr;
    DestroyWindow(m_window);
}

std::vector<Post> PostCollector::Take() {
    std::vector<Post> posts;
    MSG msg{};
    while (PeekMessageW(&msg, m_window, 0, 0, PM_REMOVE)) {
        posts.push_back({msg.message, msg.wParam, msg.lParam});
    }
    return posts;
}

std::vector<std::wstring> LinesStartingWith(const quarrin::platform::SimPlatform& sim,
                                            const std::wstring& prefix) {
    std::vector<std::wstring> lines;
    for (const std::wstring& line : sim.DebugLines()) {
        if (line.rfind(prefix, 0) == 0)
            lines.push_back(line);
    }
    return lines;
}

bool HasLine(const quarrin::platform::SimPlatform& sim, const std::wstring& line) {
    auto lines = sim.DebugLines();
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

}  // namespace linktest
