// The firmware update protocol that the dialog runs with the MCU and the MPEG module: stage
// starts, reactions to their messages, retry timers, block transfer and pass-through. Each
// stage keeps its step (FirmwareSteps.h), and each message acts only in the steps it answers.
#pragma once

#include "dialog/FirmwareImageRules.h"
#include "dialog/UpdateDialog.h"

extern int g_mcuStep;           // where the MCU side stands: MCU_STEP_*
extern int g_mpegStep;          // where the MPEG stage stands: MPEG_STEP_*
extern int g_mpegAliveCount;    // alive messages counted while an MPEG stage runs
extern int g_mpegStartRetries;  // resends of MPEG_CMD_START_PROGRAM in this process
extern int g_mcuEndResends;     // resends of MCU_CMD_END_PROGRAM in this process

// Resends of the end frame, one a second, before the MCU stage stops waiting for the result.
inline constexpr int MCU_END_PROGRAM_RESENDS = 10;

void StartMcuStage(CUpdateDialog& dialog);
void StartMpegStage(CUpdateDialog& dialog);
void OnMcuMessage(CUpdateDialog& dialog, WPARAM wParam, LPARAM lParam);
void OnMpegMessage(CUpdateDialog& dialog, WPARAM wParam, LPARAM lParam);
void OnFirmwareTimer(CUpdateDialog& dialog, UINT_PTR id);
void OpenMpegLinkOf(CUpdateDialog& dialog);

void ResetFirmwareProtocolState();
