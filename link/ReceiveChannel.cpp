#include "link/ReceiveChannel.h"

#include "link/LinkKinds.h"
#include "link/LinkThread.h"

namespace {

constexpr DWORD kReceiveStopTimeoutMs = 5000;

// One receive-stop semaphore per kind of link, created by the channel's start.
StopSemaphores g_receiveStopSemaphores = {};

const StopTexts kStopTexts = {{L"MCU Rec UnInit OK\r\n", L"MPEG Rec UnInit OK\r\n"},
                              {L"MCU Rec UnInit TIMEOUT\r\n", L"MPEG Rec UnInit TIMEOUT\r\n"}};

}  // namespace

ReceiveChannel::~ReceiveChannel() {
    Stop();
    Destroy();
}

bool ReceiveChannel::Start(SerialPort* port, int flag, CoprocessorLink* owner) {
    if (port == nullptr || m_thread != nullptr || !IsLinkKind(flag))
        return false;
    if (!CreateStopSemaphore(g_receiveStopSemaphores, flag))
        return false;
    m_port = port;
    m_flag = flag;
    m_owner = owner;
    m_thread = CreateThread(nullptr, 0, ReceiveThread, this, 0, nullptr);
    return true;
}

bool ReceiveChannel::Stop() {
    StopLinkThread(m_thread, g_receiveStopSemaphores[m_flag], m_flag, kReceiveStopTimeoutMs,
                   kStopTexts);
    return true;
}

void ReceiveChannel::Destroy() {
    if (m_port != nullptr)
        CloseStopSemaphore(g_receiveStopSemaphores, m_flag);
    m_port = nullptr;
    std::vector<BYTE>().swap(m_receiveBuffer);
}

DWORD ReceiveChannel::ReceiveThread(LPVOID parameter) {
    auto* channel = static_cast<ReceiveChannel*>(parameter);
    HANDLE stop = g_receiveStopSemaphores[channel->m_flag];
    for (;;) {
        if (WaitForSingleObject(stop, 0) != WAIT_TIMEOUT)
            return 0;
        if (!ReceiveStep(*channel) &&
            WaitForSingleObject(stop, RECEIVE_IDLE_PAUSE_MS) != WAIT_TIMEOUT) {
            return 0;
        }
    }
}
