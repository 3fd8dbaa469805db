// The main processor's connection to one co-processor: a serial port, a send channel with
// its queue and thread, and a receive channel whose thread runs the deframer and the
// co-processor's parser. At most one MCU link and one MPEG link exist at a time.
//
// The command builders run on the dialog thread: each builds its frame and queues it on the
// send channel; nothing waits for the write or for an answer.
#pragma once

#include <memory>

#include "contract/FirmwareGeometry.h"
#include "link/CoprocessorLinkPtr.h"
#include "link/ReceiveChannel.h"
#include "link/SendChannel.h"
#include "link/SerialPort.h"

// The block number (2 bytes) and one block of the image.
inline constexpr int MCU_DATA_BLOCK_PAYLOAD = static_cast<int>(2 + MCU_BLOCK_SIZE);
inline constexpr int MCU_END_PROGRAM_PAYLOAD = 2;  // 16-bit image sum, high byte first
inline constexpr int MPEG_DATA_BLOCK_MAX = 251;    // the most image bytes one frame can carry

class CoprocessorLink {
public:
    CoprocessorLink() = default;
    ~CoprocessorLink();
    CoprocessorLink(const CoprocessorLink&) = delete;
    CoprocessorLink& operator=(const CoprocessorLink&) = delete;

    // Opens the port (g_mcuComPort at 38400 baud, g_mpegComPort at 115200) and starts both
    // channels. The link is built even when the port fails to open (the port logs why):
    // frames written to it are then lost and none arrive. Returns whether the port opened.
    bool OpenMcuLink();
    bool OpenMpegLink();

    // Whether the link can carry the update: its port opened, and the far end has not hung
    // up (as far as the line reports one).
    enum class LineState { Up, NotOpen, HungUp };
    LineState State() const;
    // Good frames received from the co-processor since the link opened.
    unsigned FramesReceived() const;
    // Stops the send thread, then the receive thread; channels and port stay.
    bool StopLinkThreads();
    // Stops both threads, destroys both channels and closes the port.
    bool CloseLink();

    // --- Commands to the MCU; each returns 0, or -1 for a wrong argument (nothing sent).
    int MCU_CMD_UPDATE_REQUEST();
    int MCU_CMD_UPDATE_ACCEPT();
    int MCU_CMD_STATUS_ACK();
    // The mode byte is 8 while g_mpegUpdateActive is set when the frame is built, else 0.
    int MCU_CMD_MPEG_UPDATE_MODE();
    int MCU_CMD_START_PROGRAM();
    int MCU_CMD_DATA_BLOCK(const BYTE* payload, int count);   // count must be 130
    int MCU_CMD_END_PROGRAM(const BYTE* payload, int count);  // count must be 2
    int MCU_CMD_ENTER_LOADER();

    // --- Commands to the MPEG module.
    int MPEG_CMD_UPDATE_REQUEST();
    int MPEG_CMD_ENTER_LOADER();
    int MPEG_CMD_START_PROGRAM();
    // Block number and up to 251 image bytes (-1 beyond: the frame's LEN byte cannot say it).
    int MPEG_CMD_DATA_BLOCK(int block, const BYTE* data, int count);
    int MPEG_CMD_END_PROGRAM(int value);  // the low 16 bits, high byte first

    // Queues the bytes unchanged: a pass-through frame from the other co-processor. Every
    // such frame is queued, also one identical to a frame still waiting.
    int SendRaw(const BYTE* bytes, int count);

    // Closes the port before deleting it.
    struct SerialPortCloser {
        void operator()(SerialPort* port) const;
    };
    // The channels and the port belong to the link; CloseLink ends them in their order.
    std::unique_ptr<SendChannel> m_sendChannel;
    std::unique_ptr<ReceiveChannel> m_receiveChannel;
    std::unique_ptr<SerialPort, SerialPortCloser> m_serialPort;

private:
    bool OpenLink(int portNumber, DWORD baudRate, int flag);
    // Builds the frame of `command` with `payload` and queues it, unless the same frame
    // still waits to be written.
    int PostCommand(BYTE command, const BYTE* payload, int count);
};
