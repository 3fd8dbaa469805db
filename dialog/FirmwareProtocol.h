// The firmware update protocol that the dialog runs with the MCU and the MPEG module: stage
// starts, reactions to their messages, retry timers, block transfer and pass-through.
#pragma once

#include "dialog/FirmwareImageRules.h"
#include "dialog/UpdateDialog.h"

extern int g_mcuStep;            // which MCU command TIMER_MCU_RETRY resends: 0, 1 or 2
extern int g_mpegStep;           // which MPEG command TIMER_MPEG_RETRY resends: 0..4
extern BYTE g_mpegFlashPending;  // the module took the image; the next alive message ends the stage
extern int g_mpegAliveCount;     // alive messages counted while an MPEG stage runs
extern int g_mpegStartRetries;   // resends of MPEG_CMD_START_PROGRAM in this process

// MCU image transfer.
inline constexpr DWORD MCU_BLOCK_SIZE = 128;
inline constexpr DWORD MCU_BLOCK_COUNT = MCU_IMAGE_SIZE / MCU_BLOCK_SIZE;

void StartMcuStage(CUpdateDialog& dialog);
void StartMpegStage(CUpdateDialog& dialog);
void OnMcuMessage(CUpdateDialog& dialog, WPARAM wParam, LPARAM lParam);
void OnMpegMessage(CUpdateDialog& dialog, WPARAM wParam, LPARAM lParam);
void OnFirmwareTimer(CUpdateDialog& dialog, UINT_PTR id);
void OpenMpegLinkOf(CUpdateDialog& dialog);

void ResetFirmwareProtocolState();
