#include "link/CoprocessorLink.h"

#include "contract/UpdateContract.h"
#include "link/LinkKinds.h"

CoprocessorLink::~CoprocessorLink() {
    CloseLink();
}

void CoprocessorLink::SerialPortCloser::operator()(SerialPort* port) const {
    port->Close();
    delete port;
}

void CoprocessorLinkCloser::operator()(CoprocessorLink* link) const {
    link->CloseLink();
    delete link;
}

bool CoprocessorLink::OpenMcuLink() {
    return OpenLink(g_mcuComPort, MCU_BAUD_RATE, LINK_MCU);
}

bool CoprocessorLink::OpenMpegLink() {
    return OpenLink(g_mpegComPort, MPEG_BAUD_RATE, LINK_MPEG);
}

bool CoprocessorLink::OpenLink(int portNumber, DWORD baudRate, int flag) {
    if (m_serialPort != nullptr)
        return m_serialPort->IsOpen();  // opened already
    m_serialPort.reset(new SerialPort());
    bool opened = m_serialPort->Open(portNumber, baudRate);
    m_sendChannel = std::make_unique<SendChannel>();
    m_sendChannel->Start(m_serialPort.get(), flag);
    m_receiveChannel = std::make_unique<ReceiveChannel>();
    m_receiveChannel->Start(m_serialPort.get(), flag, this);
    return opened;
}

CoprocessorLink::LineState CoprocessorLink::State() const {
    if (m_serialPort == nullptr || !m_serialPort->IsOpen())
        return LineState::NotOpen;
    return m_serialPort->HungUp() ? LineState::HungUp : LineState::Up;
}

unsigned CoprocessorLink::FramesReceived() const {
    return m_receiveChannel != nullptr ? m_receiveChannel->m_framesReceived.load() : 0;
}

bool CoprocessorLink::StopLinkThreads() {
    if (m_sendChannel == nullptr)
        return true;
    m_sendChannel->Stop();
    if (m_receiveChannel != nullptr)
        m_receiveChannel->Stop();
    return true;
}

bool CoprocessorLink::CloseLink() {
    if (m_sendChannel != nullptr)
        m_sendChannel->Stop();
    if (m_receiveChannel != nullptr)
        m_receiveChannel->Stop();
    // With both threads ended: the channels, then the port they used.
    if (m_sendChannel != nullptr)
        m_sendChannel->Destroy();
    m_sendChannel.reset();
    if (m_receiveChannel != nullptr)
        m_receiveChannel->Destroy();
    m_receiveChannel.reset();
    m_serialPort.reset();
    return true;
}

int CoprocessorLink::SendRaw(const BYTE* bytes, int count) {
    if (m_sendChannel != nullptr)
        m_sendChannel->PostFrame(bytes, count);
    return 0;
}
