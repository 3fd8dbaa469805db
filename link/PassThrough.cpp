#include "link/PassThrough.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <cwchar>

#include "link/CoprocessorLink.h"
#include "link/PostBudget.h"

namespace {

// A view of a pass-through mapping for the length of one call.
class RingView {
public:
    explicit RingView(HANDLE mapping)
        : m_view(mapping == nullptr ? nullptr
                                    : MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, 0)) {}
    ~RingView() {
        if (m_view != nullptr)
            UnmapViewOfFile(m_view);
    }
    RingView(const RingView&) = delete;
    RingView& operator=(const RingView&) = delete;

    PassThroughRing* Ring() const { return static_cast<PassThroughRing*>(m_view); }

private:
    void* m_view;
};

HANDLE OpenRing(LPCWSTR name) {
    return CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, PASS_THROUGH_SIZE,
                              name);
}

// Logs a full ring once until a frame finds room again, per direction.
void ReportFull(LPCWSTR name, bool full) {
    static bool s_reported[2] = {};
    bool& reported = s_reported[std::wcscmp(name, PASS_THROUGH_MCU_TO_MPEG) == 0 ? 0 : 1];
    if (full && !reported)
        NKDbgPrintfW(L"Pass-through queue %s full, frames dropped\r\n", name);
    reported = full;
}

}  // namespace

bool StorePassThroughFrame(HANDLE& mapping, LPCWSTR name, const BYTE* frame, int length, int link) {
    if (length <= 3 || length > FRAME_MAX_LENGTH)
        return false;
    if (mapping == nullptr)
        mapping = OpenRing(name);
    RingView view(mapping);
    PassThroughRing* ring = view.Ring();
    if (ring == nullptr)
        return false;
    std::atomic_ref<DWORD> stored(ring->stored);
    std::atomic_ref<DWORD> forwarded(ring->forwarded);
    DWORD next = stored.load(std::memory_order_relaxed);
    bool full = next - forwarded.load(std::memory_order_acquire) >= PASS_THROUGH_SLOTS;
    ReportFull(name, full);
    // A frame the dialog would not be told about could wait in the ring for ever: it is
    // stored only with its post.
    if (full || !ReservePost(link))
        return false;
    PassThroughRing::Slot& slot = ring->slots[next % PASS_THROUGH_SLOTS];
    slot.length = static_cast<WORD>(length);
    std::memcpy(slot.bytes, frame, static_cast<std::size_t>(length));
    stored.store(next + 1, std::memory_order_release);
    PostReserved(link, static_cast<WPARAM>(length), frame[3]);
    return true;
}

std::vector<std::vector<BYTE>> TakePassThroughFrames(LPCWSTR name) {
    std::vector<std::vector<BYTE>> frames;
    HANDLE mapping = OpenRing(name);
    {
        RingView view(mapping);
        if (PassThroughRing* ring = view.Ring()) {
            std::atomic_ref<DWORD> stored(ring->stored);
            std::atomic_ref<DWORD> forwarded(ring->forwarded);
            DWORD end = stored.load(std::memory_order_acquire);
            for (DWORD next = forwarded.load(std::memory_order_relaxed); next != end; ++next) {
                const PassThroughRing::Slot& slot = ring->slots[next % PASS_THROUGH_SLOTS];
                std::size_t length = std::min<std::size_t>(slot.length, FRAME_MAX_LENGTH);
                frames.emplace_back(slot.bytes, slot.bytes + length);
                forwarded.store(next + 1, std::memory_order_release);
            }
        }
    }
    if (mapping != nullptr)
        CloseHandle(mapping);
    return frames;
}

void ForwardPassThroughFrames(LPCWSTR name, CoprocessorLink* destination) {
    for (const std::vector<BYTE>& frame : TakePassThroughFrames(name)) {
        if (destination != nullptr)
            destination->SendRaw(frame.data(), static_cast<int>(frame.size()));
    }
}
