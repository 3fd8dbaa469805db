#include "link/ReceiveChannel.h"

#include "link/LinkKinds.h"

namespace {

constexpr DWORD kReceiveStopTimeoutMs = 5000;
constexpr LONG kSemaphoreMaximum = 0x7FFFFFFF;

// One receive-stop semaphore per kind of link, created by the channel's start.
HANDLE g_receiveStopSemaphores[LINK_KINDS] = {};

const wchar_t* const kStopOkTexts[LINK_KINDS] = {L"MCU Rec UnInit OK\r\n",
                                                 L"MPEG Rec UnInit OK\r\n"};
const wchar_t* const kStopTimeoutTexts[LINK_KINDS] = {L"MCU Rec UnInit TIMEOUT\r\n",
                                                      L"MPEG Rec UnInit TIMEOUT\r\n"};

}  // namespace

ReceiveChannel::~ReceiveChannel() {
    Stop();
    Destroy();
}

bool ReceiveChannel::Start(SerialPort* port, int flag, CoprocessorLink* owner) {
    if (port == nullptr || m_thread != nullptr || !IsLinkKind(flag))
        return false;
    if (g_receiveStopSemaphores[flag] != nullptr)
        return false;
    m_port = port;
    m_flag = flag;
    m_owner = owner;
    g_receiveStopSemaphores[flag] = CreateSemaphoreW(nullptr, 0, kSemaphoreMaximum, nullptr);
    m_thread = CreateThread(nullptr, 0, ReceiveThread, this, 0, nullptr);
    return true;
}

bool ReceiveChannel::Stop() {
    if (m_thread == nullptr)
        return true;
    ReleaseSemaphore(g_receiveStopSemaphores[m_flag], 1, nullptr);
    if (WaitForSingleObject(m_thread, kReceiveStopTimeoutMs) == WAIT_TIMEOUT) {
        NKDbgPrintfW(kStopTimeoutTexts[m_flag]);
        TerminateThread(m_thread, 0);
    } else {
        NKDbgPrintfW(kStopOkTexts[m_flag]);
    }
    CloseHandle(m_thread);
    m_thread = nullptr;
    return true;
}

void ReceiveChannel::Destroy() {
    if (m_port != nullptr && g_receiveStopSemaphores[m_flag] != nullptr) {
        CloseHandle(g_receiveStopSemaphores[m_flag]);
        g_receiveStopSemaphores[m_flag] = nullptr;
    }
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
