#include "link/SendChannel.h"

#include "link/LinkKinds.h"
#include "link/LinkThread.h"

namespace {

constexpr DWORD kSendStopTimeoutMs = 1000;
constexpr LONG kSemaphoreMaximum = 0x7FFFFFFF;

// One send-stop semaphore per kind of link, created by the channel's start.
StopSemaphores g_sendStopSemaphores = {};

const StopTexts kStopTexts = {{L"MCU Send UnInit OK\r\n", L"MPEG Send UnInit OK\r\n"},
                              {L"MCU Send UnInit TIMEOUT\r\n", L"MPEG Send UnInit TIMEOUT\r\n"}};
const wchar_t* const kLinkNames[LINK_KINDS] = {L"MCU", L"MPEG"};

}  // namespace

SendChannel::SendChannel()
    : m_dataSemaphore(CreateSemaphoreW(nullptr, 0, kSemaphoreMaximum, nullptr)) {}

SendChannel::~SendChannel() {
    Stop();
    Destroy();
}

bool SendChannel::Start(SerialPort* port, int flag) {
    if (port == nullptr || m_thread != nullptr || !IsLinkKind(flag))
        return false;
    if (!CreateStopSemaphore(g_sendStopSemaphores, flag))
        return false;
    m_port = port;
    m_flag = flag;
    m_thread = CreateThread(nullptr, 0, SendThread, this, 0, nullptr);
    return true;
}

bool SendChannel::PostFrame(const BYTE* bytes, int count, bool once) {
    if (bytes == nullptr || count <= 0)
        return true;
    switch (m_queue.Append(std::vector<BYTE>(bytes, bytes + count), once)) {
        case FrameQueue::Added::Queued:
            ReleaseSemaphore(m_dataSemaphore, 1, nullptr);
            break;
        case FrameQueue::Added::StartedDropping:
            NKDbgPrintfW(L"%s Send queue full, oldest frames dropped\r\n", kLinkNames[m_flag]);
            break;
        case FrameQueue::Added::ReplacedOldest:  // the queue kept its length: no new frame
        case FrameQueue::Added::AlreadyWaiting:
            break;
    }
    return true;
}

bool SendChannel::Stop() {
    if (m_thread == nullptr)
        return true;
    // The frames not yet written are dropped once the thread has been told to stop.
    auto clearQueue = [](void* queue) { static_cast<FrameQueue*>(queue)->Clear(); };
    StopLinkThread(m_thread, g_sendStopSemaphores[m_flag], m_flag, kSendStopTimeoutMs, kStopTexts,
                   clearQueue, &m_queue);
    return true;
}

void SendChannel::Destroy() {
    if (m_dataSemaphore != nullptr) {
        CloseHandle(m_dataSemaphore);
        m_dataSemaphore = nullptr;
    }
    if (m_port != nullptr)
        CloseStopSemaphore(g_sendStopSemaphores, m_flag);
    m_port = nullptr;
    m_queue.Clear();
}

DWORD SendChannel::SendThread(LPVOID parameter) {
    auto* channel = static_cast<SendChannel*>(parameter);
    // The stop semaphore comes first: a stop request wins over frames still counted.
    HANDLE handles[2] = {g_sendStopSemaphores[channel->m_flag], channel->m_dataSemaphore};
    for (;;) {
        DWORD result = WaitForMultipleObjects(2, handles, FALSE, INFINITE);
        // NOTE: a failed wait ends the thread too; looping on it would spin for ever.
        if (result != WAIT_OBJECT_0 + 1)
            return 0;
        channel->SendOneFrame();
    }
}

void SendChannel::SendOneFrame() {
    std::vector<BYTE> frame;
    std::size_t dropped = 0;
    if (!m_queue.TakeFront(frame, dropped))
        return;
    if (dropped > 0) {
        NKDbgPrintfW(L"%s Send queue: %d frames dropped\r\n", kLinkNames[m_flag],
                     static_cast<int>(dropped));
    }
    // A failed write is not repeated: the protocol above resends what goes unanswered.
    m_port->Write(frame.data(), static_cast<DWORD>(frame.size()));
}
