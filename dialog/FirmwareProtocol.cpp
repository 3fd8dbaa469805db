#include "dialog/FirmwareProtocol.h"

#include <algorithm>

#include "link/CoprocessorLink.h"
#include "link/McuParser.h"
#include "link/PassThrough.h"

int g_mcuStep = -1;
int g_mpegStep = -1;
BYTE g_mpegFlashPending = 0;
int g_mpegAliveCount = 0;
int g_mpegStartRetries = 0;

namespace {

constexpr int kAliveMessagesBeforeRequest = 50;
constexpr int kStartProgramResends = 10;
constexpr WPARAM kNoAck = ~WPARAM{0};

// The last block acknowledgement acted on, per co-processor. A second acknowledgement with the
// same number is a repeat (a late answer to a resend, or a line that doubles a frame): acting
// on it would send the next block twice, each copy would be acknowledged, and from then on
// every block would travel twice, more with every further repeat. Repeats are dropped; the
// block timers still cover a block that was really lost.
WPARAM g_lastMcuBlockAck = kNoAck;
WPARAM g_lastMpegBlockAck = kNoAck;

bool IsRepeatedAck(WPARAM& last, WPARAM ack) {
    if (ack == last)
        return true;
    last = ack;
    return false;
}

// --- Data blocks and end frames ---------------------------------------------------------------

void SendMcuBlock(CUpdateDialog& dialog, DWORD block) {
    BYTE payload[2 + MCU_BLOCK_SIZE];
    payload[0] = static_cast<BYTE>(block >> 8);
    payload[1] = static_cast<BYTE>(block);
    std::copy_n(dialog.m_mcuImage.get() + block * MCU_BLOCK_SIZE, MCU_BLOCK_SIZE, payload + 2);
    dialog.m_mcuLink->MCU_CMD_DATA_BLOCK(payload, sizeof payload);
}

void SendMcuEnd(CUpdateDialog& dialog) {
    unsigned sum = 0;
    for (DWORD i = 0; i < MCU_IMAGE_SIZE; ++i)
        sum += dialog.m_mcuImage[i];
    BYTE bytes[2] = {static_cast<BYTE>(sum >> 8), static_cast<BYTE>(sum)};
    dialog.m_mcuLink->MCU_CMD_END_PROGRAM(bytes, sizeof bytes);
}

void SendMpegBlock(CUpdateDialog& dialog, DWORD block) {
    DWORD length = MPEG_BLOCK_SIZE;
    if (block + 1 == dialog.m_mpegBlockCount && dialog.m_mpegImageSize % MPEG_BLOCK_SIZE != 0) {
        length = dialog.m_mpegImageSize % MPEG_BLOCK_SIZE;
    }
    dialog.m_mpegLink->MPEG_CMD_DATA_BLOCK(static_cast<int>(block),
                                           dialog.m_mpegImage.get() + block * MPEG_BLOCK_SIZE,
                                           static_cast<int>(length));
}

void SendMpegEnd(CUpdateDialog& dialog) {
    dialog.m_mpegLink->MPEG_CMD_END_PROGRAM(dialog.m_mpegImage[32] << 8 | dialog.m_mpegImage[33]);
}

int McuPercent(DWORD block) {
    return static_cast<int>(block * 0.0009765625 * 100.0);
}

int MpegPercent(DWORD block, DWORD count) {
    return static_cast<int>(static_cast<double>(block) / static_cast<double>(count) * 100.0);
}

void SetPercent(CUpdateDialog& dialog, int percent) {
    if (percent == dialog.m_percent)
        return;
    dialog.m_percent = percent;
    dialog.Invalidate(FALSE);
}

void Fail(CUpdateDialog& dialog, int code) {
    if (code != 0)
        g_updateErrorCode = code;
    dialog.m_percent = 100;
    dialog.m_screenState = STATE_RESULT;
    dialog.m_outcome = OUTCOME_FAILED;
    dialog.Invalidate(FALSE);
}

// --- Pass-through and the identification record -----------------------------------------------

void ForwardPassThrough(LPCWSTR mappingName, CoprocessorLink* destination, WPARAM length) {
    if (destination != nullptr)
        ForwardPassThroughFrame(mappingName, length, *destination);
}

void WriteRawDataFile() {
    HANDLE file =
        CreateFileW(L"ResidentFlash2\\RawData", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,
                    nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    DWORD written = 0;
    WriteFile(file, g_mcuVersionRecord, 32, &written, nullptr);
    CloseHandle(file);
}

CoprocessorLink* OpenLink(bool mcu) {
    auto* link = new CoprocessorLink();
    if (mcu) {
        link->OpenMcuLink();
    } else {
        link->OpenMpegLink();
    }
    return link;
}

bool MpegImageUsable(const CUpdateDialog& dialog) {
    return ::MpegImageUsable(dialog.m_mpegImageSize, dialog.m_mpegBlockCount);
}

}  // namespace

void ResetFirmwareProtocolState() {
    g_mcuStep = -1;
    g_mpegStep = -1;
    g_mpegFlashPending = 0;
    g_mpegAliveCount = 0;
    g_mpegStartRetries = 0;
    g_lastMcuBlockAck = kNoAck;
    g_lastMpegBlockAck = kNoAck;
}

// --- Stage starts -----------------------------------------------------------------------------

void StartMcuStage(CUpdateDialog& dialog) {
    if (!dialog.m_mcuImage) {
        g_updateErrorCode = ERROR_MCU_IMAGE_MISSING;
        dialog.m_screenState = STATE_RESULT;
        dialog.m_outcome = OUTCOME_FAILED;
        dialog.SetTimer(TIMER_SHOW_RESULT, 1000, nullptr);
        return;
    }
    dialog.m_outcome = OUTCOME_RUNNING;
    if (dialog.m_mcuLink == nullptr) {
        dialog.m_mcuLink = OpenLink(true);
        g_mcuStep = 0;
        dialog.SetTimer(TIMER_MCU_RETRY, 3000, nullptr);
        dialog.m_mcuLink->MCU_CMD_UPDATE_REQUEST();
    } else {
        g_mcuStep = 1;
        dialog.m_mcuLink->MCU_CMD_ENTER_LOADER();
        dialog.SetTimer(TIMER_MCU_RETRY, 1000, nullptr);
    }
}

void StartMpegStage(CUpdateDialog& dialog) {
    if (dialog.m_mpegImage && !MpegImageUsable(dialog)) {
        wchar_t line[96];
        wsprintfW(line, L"MPEG update file unusable: %d bytes\r\n",
                  static_cast<int>(dialog.m_mpegImageSize));
        NKDbgPrintfW(L"%s", line);
        g_updateErrorCode = ERROR_MPEG_IMAGE_UNUSABLE;
        dialog.m_mpegImage.reset();
    }
    if (!dialog.m_mpegImage) {
        dialog.m_screenState = STATE_RESULT;
        dialog.m_outcome = OUTCOME_FAILED;
        dialog.SetTimer(TIMER_SHOW_RESULT, 1000, nullptr);
        return;
    }
    if (dialog.m_mcuLink == nullptr) {
        dialog.m_mcuLink = OpenLink(true);
        dialog.m_mcuLink->MCU_CMD_UPDATE_REQUEST();
        g_mcuStep = 0;
        dialog.SetTimer(TIMER_MCU_RETRY, 3000, nullptr);
        dialog.SetTimer(TIMER_OPEN_MPEG_LINK, 1000, nullptr);
    } else if (dialog.m_mpegLink == nullptr) {
        dialog.m_mpegLink = OpenLink(false);
    }
    dialog.m_outcome = OUTCOME_RUNNING;
    g_mpegUpdateActive = 1;
}

void OpenMpegLinkOf(CUpdateDialog& dialog) {
    if (dialog.m_mpegLink == nullptr)
        dialog.m_mpegLink = OpenLink(false);
}

// --- Messages from the MCU --------------------------------------------------------------------

void OnMcuMessage(CUpdateDialog& dialog, WPARAM wParam, LPARAM lParam) {
    CoprocessorLink* mcu = dialog.m_mcuLink;
    if (mcu == nullptr)
        return;
    switch (lParam) {
        case 0x73:
            ForwardPassThrough(PASS_THROUGH_MCU_TO_MPEG, dialog.m_mpegLink, wParam);
            break;
        case 0x80:
            dialog.KillTimer(TIMER_MCU_RETRY);
            mcu->MCU_CMD_UPDATE_ACCEPT();
            if (dialog.m_updateKind == KIND_MPEG) {
                mcu->MCU_CMD_MPEG_UPDATE_MODE();
            } else if (dialog.m_updateKind == KIND_MCU) {
                g_mcuStep = 1;
                mcu->MCU_CMD_ENTER_LOADER();
                dialog.SetTimer(TIMER_MCU_RETRY, 1000, nullptr);
            }
            break;
        case 0x81:
            mcu->MCU_CMD_STATUS_ACK();
            break;
        case 0x94:
            if (!dialog.m_mcuImage || !TakeLatch(g_latches.onceMcuProgramReady))
                break;
            dialog.KillTimer(TIMER_MCU_RETRY);
            WriteRawDataFile();
            dialog.m_blockIndex = 0;
            g_lastMcuBlockAck = kNoAck;
            SendMcuBlock(dialog, 0);
            dialog.SetTimer(TIMER_MCU_BLOCK, 1000, nullptr);
            dialog.m_percent = 0;
            dialog.Invalidate(FALSE);
            break;
        case 0x95:
            if (!dialog.m_mcuImage || IsRepeatedAck(g_lastMcuBlockAck, wParam))
                break;
            if (wParam == dialog.m_blockIndex)
                dialog.m_blockIndex += 1;
            if (dialog.m_blockIndex < MCU_BLOCK_COUNT) {
                SendMcuBlock(dialog, dialog.m_blockIndex);
                dialog.SetTimer(TIMER_MCU_BLOCK, 1000, nullptr);
                SetPercent(dialog, McuPercent(dialog.m_blockIndex));
            } else {
                dialog.KillTimer(TIMER_MCU_BLOCK);
                SendMcuEnd(dialog);
                // NOTE: the stage stays running at 100% until the MCU reports its programming
                // result: showing success here would announce a reset to a unit whose MCU may
                // yet report a failure, or never answer at all.
                dialog.m_percent = 100;
                dialog.SetTimer(TIMER_MCU_BLOCK, 1000, nullptr);
                dialog.Invalidate(FALSE);
            }
            break;
        case 0x96:
            dialog.KillTimer(TIMER_MCU_BLOCK);
            dialog.KillTimer(TIMER_MCU_RETRY);
            if ((wParam & 0xFF) == 0) {
                dialog.m_percent = 100;
                dialog.m_outcome = OUTCOME_SUCCESS;
                dialog.m_screenState = STATE_RESULT;
                dialog.SetTimer(TIMER_SHOW_RESULT, 1000, nullptr);
            } else {
                g_updateErrorCode = 32;
                dialog.m_outcome = OUTCOME_FAILED;
                dialog.m_screenState = STATE_RESULT;
                dialog.Invalidate(FALSE);
            }
            break;
        case 0x97:
            if (!TakeLatch(g_latches.onceMcuVersion))
                break;
            dialog.KillTimer(TIMER_MCU_RETRY);
            Sleep(1000);
            dialog.m_screenState = STATE_RUNNING;
            dialog.m_blockIndex = 0;
            dialog.Invalidate(FALSE);
            g_mcuStep = 2;
            mcu->MCU_CMD_START_PROGRAM();
            dialog.SetTimer(TIMER_MCU_RETRY, 1000, nullptr);
            break;
        default:
            break;
    }
}

// --- Messages from the MPEG module ------------------------------------------------------------

void OnMpegMessage(CUpdateDialog& dialog, WPARAM wParam, LPARAM lParam) {
    CoprocessorLink* mpeg = dialog.m_mpegLink;
    if (mpeg == nullptr)
        return;
    bool imageReady = dialog.m_mpegImage && MpegImageUsable(dialog);
    switch (lParam) {
        case 0x80:
            if (!TakeLatch(g_latches.onceMpegUpdateAck))
                break;
            dialog.SetTimer(TIMER_MPEG_RETRY, 1000, nullptr);
            g_mpegStep = 1;
            mpeg->MPEG_CMD_ENTER_LOADER();
            break;
        case 0x95:
            if (!TakeLatch(g_latches.onceMpegVersion))
                break;
            dialog.KillTimer(TIMER_MPEG_RETRY);
            Sleep(500);
            dialog.m_screenState = STATE_RUNNING;
            dialog.SetTimer(TIMER_MPEG_RETRY, 2500, nullptr);
            g_mpegStep = 2;
            mpeg->MPEG_CMD_START_PROGRAM();
            break;
        case 0xA4:
            if (!imageReady || !TakeLatch(g_latches.onceMpegProgramReady))
                break;
            g_mpegStep = 3;
            dialog.SetTimer(TIMER_MPEG_RETRY, 5000, nullptr);
            dialog.m_blockIndex = 0;
            g_lastMpegBlockAck = kNoAck;
            SendMpegBlock(dialog, 0);
            dialog.m_percent = MpegPercent(0, dialog.m_mpegBlockCount);
            dialog.Invalidate(FALSE);
            break;
        case 0xA5:
            if (!imageReady || IsRepeatedAck(g_lastMpegBlockAck, wParam))
                break;
            dialog.m_blockIndex = static_cast<DWORD>(wParam);
            if (dialog.m_blockIndex < dialog.m_mpegBlockCount) {
                dialog.SetTimer(TIMER_MPEG_RETRY, 5000, nullptr);
                g_mpegStep = 3;
                SendMpegBlock(dialog, dialog.m_blockIndex);
                SetPercent(dialog, MpegPercent(dialog.m_blockIndex, dialog.m_mpegBlockCount));
            } else {
                g_mpegStep = 4;
                dialog.SetTimer(TIMER_MPEG_RETRY, 3000, nullptr);
                SendMpegEnd(dialog);
                dialog.m_percent = 100;
                dialog.Invalidate(FALSE);
            }
            break;
        case 0xA6:
            dialog.KillTimer(TIMER_MPEG_RETRY);
            if (wParam == 0) {
                g_mpegFlashPending = 1;
                dialog.m_screenState = STATE_RUNNING;
                dialog.m_outcome = OUTCOME_WRITING_FLASH;
            } else {
                g_updateErrorCode = 40;
                dialog.m_screenState = STATE_RESULT;
                dialog.m_outcome = OUTCOME_FAILED;
            }
            dialog.m_percent = 100;
            dialog.Invalidate(FALSE);
            break;
        case 0xF2:
            if (g_mpegFlashPending) {
                g_mpegFlashPending = 0;
                g_mpegUpdateActive = 0;
                if (dialog.m_mcuLink != nullptr)
                    dialog.m_mcuLink->MCU_CMD_MPEG_UPDATE_MODE();
                dialog.m_percent = 100;
                dialog.m_screenState = STATE_RESULT;
                dialog.m_outcome = OUTCOME_SUCCESS;
                dialog.Invalidate(FALSE);
            } else if (g_mpegUpdateActive && g_latches.onceMpegUpdateAck) {
                // NOTE: only until the module has acknowledged the update request. Its
                // acknowledgement is acted on once, so asking again later achieves nothing,
                // and resetting the resend step to 0 would stop the resends of a lost block,
                // start command or end frame: an alive message that comes before the
                // programming result (a lost or late result frame) would then leave the
                // stage waiting for ever.
                g_mpegAliveCount += 1;
                if (g_mpegAliveCount >= kAliveMessagesBeforeRequest) {
                    mpeg->MPEG_CMD_UPDATE_REQUEST();
                    g_mpegStep = 0;
                    dialog.SetTimer(TIMER_MPEG_RETRY, 3000, nullptr);
                }
            }
            break;
        case 0xF3:
            ForwardPassThrough(PASS_THROUGH_MPEG_TO_MCU, dialog.m_mcuLink, wParam);
            break;
        default:
            break;
    }
}

// --- Retry timers -----------------------------------------------------------------------------

void OnFirmwareTimer(CUpdateDialog& dialog, UINT_PTR id) {
    if (id == TIMER_MCU_RETRY && dialog.m_mcuLink != nullptr) {
        switch (g_mcuStep) {
            case 0:
                dialog.m_mcuLink->MCU_CMD_UPDATE_REQUEST();
                break;
            case 1:
                dialog.m_mcuLink->MCU_CMD_ENTER_LOADER();
                break;
            case 2:
                dialog.m_mcuLink->MCU_CMD_START_PROGRAM();
                break;
            default:
                break;
        }
    } else if (id == TIMER_MCU_BLOCK && dialog.m_mcuLink != nullptr && dialog.m_mcuImage) {
        if (dialog.m_blockIndex < MCU_BLOCK_COUNT) {
            SendMcuBlock(dialog, dialog.m_blockIndex);
        } else {
            SendMcuEnd(dialog);
        }
    } else if (id == TIMER_MPEG_RETRY && dialog.m_mpegLink != nullptr) {
        CoprocessorLink* mpeg = dialog.m_mpegLink;
        bool imageReady = dialog.m_mpegImage && MpegImageUsable(dialog);
        switch (g_mpegStep) {
            case 0:
                mpeg->MPEG_CMD_UPDATE_REQUEST();
                break;
            case 1:
                mpeg->MPEG_CMD_ENTER_LOADER();
                break;
            case 2:
                g_mpegStartRetries += 1;
                if (g_mpegStartRetries > kStartProgramResends) {
                    dialog.KillTimer(TIMER_MPEG_RETRY);
                    Fail(dialog, 41);
                } else {
                    mpeg->MPEG_CMD_START_PROGRAM();
                }
                break;
            case 3:
                if (imageReady && dialog.m_blockIndex < dialog.m_mpegBlockCount) {
                    SendMpegBlock(dialog, dialog.m_blockIndex);
                }
                break;
            case 4:
                if (imageReady)
                    SendMpegEnd(dialog);
                break;
            default:
                break;
        }
    }
}
