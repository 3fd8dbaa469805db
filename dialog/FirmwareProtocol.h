// The firmware update protocol that the dialog runs with the MCU and the MPEG module: stage
// starts, reactions to their messages, retry timers, block transfer and pass-through. Each
// stage keeps its step (FirmwareSteps.h), and each message acts only in the steps it answers.
#pragma once

#include "dialog/UpdateDialog.h"

extern int g_mcuStep;           // where the MCU side stands: MCU_STEP_*
extern int g_mpegStep;          // where the MPEG stage stands: MPEG_STEP_*
extern int g_mpegAliveCount;    // alive messages counted while an MPEG stage runs
extern int g_mpegStartRetries;  // resends of MPEG_CMD_START_PROGRAM in this process
extern int g_mcuEndResends;     // resends of MCU_CMD_END_PROGRAM in this process

// MCU image transfer.
inline constexpr DWORD MCU_IMAGE_SIZE = 131072;
inline constexpr DWORD MCU_BLOCK_SIZE = 128;
inline constexpr DWORD MCU_BLOCK_COUNT = MCU_IMAGE_SIZE / MCU_BLOCK_SIZE;
// Resends of the end frame, one a second, before the MCU stage stops waiting for the result.
inline constexpr int MCU_END_PROGRAM_RESENDS = 10;
inline constexpr DWORD MPEG_BLOCK_SIZE = 240;
// An MPEG image the protocol cannot carry (empty, without the end frame's bytes 32 and 33,
// or with more blocks than a 16-bit block number can name).
inline constexpr int ERROR_MPEG_IMAGE_UNUSABLE = 42;
inline constexpr DWORD MPEG_IMAGE_MIN_BYTES = 34;
// Block numbers travel in 16 bits and the module asks for the block after the last one it
// took, so the last block's number plus one must fit too.
inline constexpr DWORD MPEG_IMAGE_MAX_BLOCKS = 65535;

// Whether an MPEG image of `bytes` bytes can be sent; checked before the image is read.
bool IsMpegImageSizeUsable(ULONGLONG bytes);

void StartMcuStage(CUpdateDialog& dialog);
void StartMpegStage(CUpdateDialog& dialog);
void OnMcuMessage(CUpdateDialog& dialog, WPARAM wParam, LPARAM lParam);
void OnMpegMessage(CUpdateDialog& dialog, WPARAM wParam, LPARAM lParam);
void OnFirmwareTimer(CUpdateDialog& dialog, UINT_PTR id);
void OpenMpegLinkOf(CUpdateDialog& dialog);

void ResetFirmwareProtocolState();
