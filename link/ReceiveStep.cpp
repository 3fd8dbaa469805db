// The deframer's pass over the port: read what waits, then cut frames out of the buffer.
#include <algorithm>
#include <cstring>

#include "link/FrameCodec.h"
#include "link/LinkKinds.h"
#include "link/McuParser.h"
#include "link/MpegParser.h"
#include "link/ReceiveChannel.h"

namespace {

constexpr DWORD kScratchSize = 1024;

// The receive scratch areas, one per link: first the read buffer, then the place where each
// frame is copied for checking and parsing.
BYTE g_receiveScratch[LINK_KINDS][kScratchSize];

// Reads the announced bytes into the receive buffer; returns how many came.
DWORD DrainPort(SerialPort& port, DWORD waiting, BYTE* scratch, std::vector<BYTE>& buffer) {
    DWORD chunk = std::min(waiting, kScratchSize);
    DWORD total = 0;
    while (total < waiting) {
        DWORD got = port.Read(scratch, chunk);
        // NOTE: a read that brings nothing ends the pass with what has come; waiting for the
        // announced rest would hold the thread for ever on a failing port.
        if (got == 0)
            break;
        buffer.insert(buffer.end(), scratch, scratch + got);
        total += got;
        chunk = std::min(chunk, waiting - total);
    }
    return total;
}

}  // namespace

bool ReceiveStep(ReceiveChannel& channel) {
    BYTE* scratch = g_receiveScratch[channel.m_flag];
    std::memset(scratch, 0, kScratchSize);
    SerialPort& port = *channel.m_port;
    DWORD waiting = port.Available();
    if (waiting == 0)
        return port.IsOpen() && !port.LastWaitFailed();
    DWORD got = DrainPort(port, waiting, scratch, channel.m_receiveBuffer);
    std::memset(scratch, 0, kScratchSize);
    CoprocessorLink* owner = channel.m_owner;
    auto parse = channel.m_flag == LINK_MPEG ? ParseMpegFrame : ParseMcuFrame;
    std::atomic<unsigned>& counted = channel.m_framesReceived;
    TakeFrames(channel.m_receiveBuffer, scratch,
               [owner, parse, &counted](const BYTE* frame, int length) {
                   counted.fetch_add(1);
                   parse(owner, frame, length);
               });
    return got > 0;
}
