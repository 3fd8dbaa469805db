// A window on the test thread's queue for the workers' and the formatter's progress posts,
// drained and inspected in the order they came.
#pragma once

#include <utility>
#include <vector>

#include "contract/UpdateContract.h"
#include "platform/Win32.h"
#include "platform/window/WindowCore.h"

class ProgressWindow {
public:
    ProgressWindow()
        : m_hWnd(quarrin::platform::CreatePlatformWindow(
              [](HWND, UINT, WPARAM, LPARAM) -> LRESULT { return 0; })) {}
    ~ProgressWindow() { DestroyWindow(m_hWnd); }
    ProgressWindow(const ProgressWindow&) = delete;
    ProgressWindow& operator=(const ProgressWindow&) = delete;

    HWND Handle() const { return m_hWnd; }

    struct Post {
        WPARAM wParam;
        LPARAM lParam;
        DWORD time;  // tick count when it was posted
    };
    // Every WM_UPDATE_PROGRESS posted so far, oldest first.
    std::vector<Post> TimedDrain() {
        std::vector<Post> posts;
        MSG msg{};
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_UPDATE_PROGRESS)
                posts.push_back({msg.wParam, msg.lParam, msg.time});
        }
        return posts;
    }
    std::vector<std::pair<WPARAM, LPARAM>> Drain() {
        std::vector<std::pair<WPARAM, LPARAM>> posts;
        for (const Post& post : TimedDrain())
            posts.emplace_back(post.wParam, post.lParam);
        return posts;
    }

    // The lParam values of the (1, n) posts.
    std::vector<LPARAM> Percentages() {
        std::vector<LPARAM> values;
        for (auto [wParam, lParam] : Drain()) {
            if (wParam == 1)
                values.push_back(lParam);
        }
        return values;
    }

private:
    HWND m_hWnd;
};
