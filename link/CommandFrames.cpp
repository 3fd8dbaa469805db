// Every command frame the loader sends, built byte for byte:
//
//   MCU_CMD_UPDATE_REQUEST    5A A5 03 00 01 FC
//   MCU_CMD_UPDATE_ACCEPT     5A A5 04 01 01 00 FA
//   MCU_CMD_STATUS_ACK        5A A5 02 02 FC
//   MCU_CMD_MPEG_UPDATE_MODE  5A A5 05 03 01 00 X CHK      X = 08 during an MPEG update, else 00
//   MCU_CMD_START_PROGRAM     5A A5 02 14 EA
//   MCU_CMD_DATA_BLOCK        5A A5 84 15 BH BL <128 image bytes> CHK
//   MCU_CMD_END_PROGRAM       5A A5 04 16 SH SL CHK        16-bit sum of the whole image
//   MCU_CMD_ENTER_LOADER      5A A5 02 17 E7
//   MPEG_CMD_UPDATE_REQUEST   5A A5 03 00 00 FD
//   MPEG_CMD_ENTER_LOADER     5A A5 02 15 E9
//   MPEG_CMD_START_PROGRAM    5A A5 02 24 DA
//   MPEG_CMD_DATA_BLOCK       5A A5 LEN 25 BH BL <n image bytes> CHK, LEN = n + 4
//   MPEG_CMD_END_PROGRAM      5A A5 04 26 VH VL CHK
#include "contract/UpdateContract.h"
#include "link/CoprocessorLink.h"
#include "link/FrameCodec.h"
#include "link/MessageCodes.h"

namespace {

constexpr BYTE kMcuUpdateRequest = 0x00;
constexpr BYTE kMcuUpdateAccept = 0x01;
constexpr BYTE kMcuStatusAck = 0x02;
constexpr BYTE kMcuMpegUpdateMode = 0x03;
constexpr BYTE kMcuStartProgram = 0x14;
constexpr BYTE kMcuEndProgram = 0x16;
constexpr BYTE kMcuEnterLoader = 0x17;
constexpr BYTE kMpegUpdateRequest = 0x00;
constexpr BYTE kMpegEnterLoader = 0x15;
constexpr BYTE kMpegStartProgram = 0x24;
constexpr BYTE kMpegEndProgram = 0x26;

constexpr BYTE kMpegModeActive = 0x08;

}  // namespace

int CoprocessorLink::PostCommand(BYTE command, const BYTE* payload, int count) {
    BYTE frame[FRAME_MAX_LENGTH] = {};
    int length = BuildFrame(command, payload, count, frame);
    if (length < 0)
        return -1;
    // A command sent again (a resend, or an answer to a repeated message) is not queued
    // while the same frame still waits: the waiting copy says the same.
    if (m_sendChannel != nullptr)
        m_sendChannel->PostFrame(frame, length, true);
    return 0;
}

int CoprocessorLink::MCU_CMD_UPDATE_REQUEST() {
    const BYTE payload[] = {0x01};
    return PostCommand(kMcuUpdateRequest, payload, sizeof payload);
}

int CoprocessorLink::MCU_CMD_UPDATE_ACCEPT() {
    const BYTE payload[] = {0x01, 0x00};
    return PostCommand(kMcuUpdateAccept, payload, sizeof payload);
}

int CoprocessorLink::MCU_CMD_STATUS_ACK() {
    return PostCommand(kMcuStatusAck, nullptr, 0);
}

int CoprocessorLink::MCU_CMD_MPEG_UPDATE_MODE() {
    const BYTE payload[] = {0x01, 0x00, g_mpegUpdateActive != 0 ? kMpegModeActive : BYTE{0}};
    return PostCommand(kMcuMpegUpdateMode, payload, sizeof payload);
}

int CoprocessorLink::MCU_CMD_START_PROGRAM() {
    return PostCommand(kMcuStartProgram, nullptr, 0);
}

int CoprocessorLink::MCU_CMD_DATA_BLOCK(const BYTE* payload, int count) {
    if (payload == nullptr || count != MCU_DATA_BLOCK_PAYLOAD)
        return -1;
    return PostCommand(MCU_CMD_CODE_DATA_BLOCK, payload, count);
}

int CoprocessorLink::MCU_CMD_END_PROGRAM(const BYTE* payload, int count) {
    if (payload == nullptr || count != MCU_END_PROGRAM_PAYLOAD)
        return -1;
    return PostCommand(kMcuEndProgram, payload, count);
}

int CoprocessorLink::MCU_CMD_ENTER_LOADER() {
    return PostCommand(kMcuEnterLoader, nullptr, 0);
}

int CoprocessorLink::MPEG_CMD_UPDATE_REQUEST() {
    const BYTE payload[] = {0x00};
    return PostCommand(kMpegUpdateRequest, payload, sizeof payload);
}

int CoprocessorLink::MPEG_CMD_ENTER_LOADER() {
    return PostCommand(kMpegEnterLoader, nullptr, 0);
}

int CoprocessorLink::MPEG_CMD_START_PROGRAM() {
    return PostCommand(kMpegStartProgram, nullptr, 0);
}

int CoprocessorLink::MPEG_CMD_DATA_BLOCK(int block, const BYTE* data, int count) {
    // NOTE: more than 251 bytes would overflow the frame and its one-byte LEN.
    if (count < 0 || count > MPEG_DATA_BLOCK_MAX || (data == nullptr && count > 0))
        return -1;
    BYTE payload[2 + MPEG_DATA_BLOCK_MAX];
    payload[0] = static_cast<BYTE>(block >> 8);
    payload[1] = static_cast<BYTE>(block);
    for (int i = 0; i < count; ++i)
        payload[2 + i] = data[i];
    return PostCommand(MPEG_CMD_CODE_DATA_BLOCK, payload, 2 + count);
}

int CoprocessorLink::MPEG_CMD_END_PROGRAM(int value) {
    const BYTE payload[] = {static_cast<BYTE>(value >> 8), static_cast<BYTE>(value)};
    return PostCommand(kMpegEndProgram, payload, sizeof payload);
}
