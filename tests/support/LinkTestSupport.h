// Shared pieces of the link tests: a window that collects the parsers' posts, and the debug
// lines a test looks for.
#pragma once

#include <string>
#include <vector>

#include "platform/Win32.h"
#include "platform/sim/SimPlatform.h"
#include "tests/support/Frames.h"

namespace linktest {

using testsupport::Bytes;
using testsupport::Frame;

struct Post {
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    bool operator==(const Post&) const = default;
};

// A window on the test's thread that g_notifyWindow points to while it lives.
class PostCollector {
public:
    PostCollector();
    ~PostCollector();
    // The messages posted to the window so far, in order.
    std::vector<Post> Take();

private:
    HWND m_window;
};

// The debug lines that start with `prefix`.
std::vector<std::wstring> LinesStartingWith(const quarrin::platform::SimPlatform& sim,
                                            const std::wstring& prefix);
bool HasLine(const quarrin::platform::SimPlatform& sim, const std::wstring& line);

}  // namespace linktest
