// Fuzz target: arbitrary bytes from a co-processor, cut into reads of arbitrary sizes, go
// through the deframer, and every frame it hands out through both message parsers.
//
// Input layout: the first byte chooses the read sizes (a seed for their lengths); the rest
// is the byte stream from the line.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "contract/UpdateContract.h"
#include "link/FrameCodec.h"
#include "link/McuParser.h"
#include "link/MpegParser.h"
#include "link/PassThrough.h"
#include "link/PostBudget.h"
#include "platform/Platform.h"
#include "platform/Win32.h"
#include "platform/sim/VirtualScheduler.h"
#include "platform/window/WindowCore.h"

namespace {

// Debug lines are formatted (that is what is being tested) and then dropped, so that a long
// run does not collect them.
class DiscardOutput : public quarrin::platform::DebugOutput {
public:
    void Write(const std::wstring& line) override {
        if (line.empty() || line.back() != L'\n')
            __builtin_trap();  // every line ends in CR LF
    }
};

// Takes what the parsers handed over, as the dialog does: the posts, and the pass-through
// frames they announce (each whole, and of a length a frame can have). Only frames that came
// through the deframer are known to begin with the frame's start bytes.
void DrainPosts(bool deframed) {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message != 0x501 && msg.message != 0x502)
            __builtin_trap();
        ReturnPostSlot(msg.message == 0x501 ? 0 : 1);
    }
    for (LPCWSTR name : {PASS_THROUGH_MCU_TO_MPEG, PASS_THROUGH_MPEG_TO_MCU}) {
        for (const std::vector<BYTE>& frame : TakePassThroughFrames(name)) {
            if (frame.size() < 5 || frame.size() > FRAME_MAX_LENGTH)
                __builtin_trap();
            if (deframed && frame[0] != 0x5A)
                __builtin_trap();
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    static quarrin::platform::VirtualScheduler scheduler;
    static DiscardOutput output;
    quarrin::platform::Services services;
    services.scheduler = &scheduler;
    services.debug = &output;
    quarrin::platform::InstallServices(services);
    g_notifyWindow = quarrin::platform::CreatePlatformWindow(
        [](HWND, UINT, WPARAM, LPARAM) -> LRESULT { return 0; });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    unsigned seed = data[0];
    std::vector<BYTE> buffer;
    BYTE scratch[1024];
    for (std::size_t at = 1; at < size;) {
        seed = seed * 1103515245u + 12345u;
        std::size_t chunk = std::min<std::size_t>(1 + (seed >> 16) % 300, size - at);
        buffer.insert(buffer.end(), data + at, data + at + chunk);
        at += chunk;
        TakeFrames(buffer, scratch, [](const BYTE* frame, int length) {
            if (length < 5 || length > FRAME_MAX_LENGTH)
                __builtin_trap();
            if (FrameChecksum(frame + 2, length - 3) != frame[length - 1])
                __builtin_trap();
            // A heap copy of exactly the frame's size, so that a read past it is caught.
            std::vector<BYTE> exact(frame, frame + length);
            ParseMcuFrame(nullptr, exact.data(), length);
            ParseMpegFrame(nullptr, exact.data(), length);
        });
        if (buffer.size() > 1024 + FRAME_MAX_LENGTH)
            __builtin_trap();  // the buffer stays bounded
    }
    DrainPosts(true);
    // The parsers also meet frames that did not come through the deframer, of any length a
    // frame can have (the debug line of a longer one would not fit the log's line buffer).
    std::vector<BYTE> raw(data + 1, data + std::min<std::size_t>(size, 1 + FRAME_MAX_LENGTH));
    ParseMcuFrame(nullptr, raw.data(), static_cast<int>(raw.size()));
    ParseMpegFrame(nullptr, raw.data(), static_cast<int>(raw.size()));
    DrainPosts(false);
    return 0;
}
