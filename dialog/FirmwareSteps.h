// Where each firmware stage stands, and in which steps each co-processor message may act.
//
// A message from a co-processor answers one command: an acknowledgement answers the update
// request, a block acknowledgement a data block, a programming result the end frame. Each
// reaction therefore runs only in the steps listed for its message; anywhere else the
// message is logged as ignored and dropped. A late answer, a repeat or a stray message can
// then neither restart a finished handshake nor decide a stage that is not waiting for it.
#pragma once

#include <span>

#include "dialog/UpdateDialog.h"

// Steps of the MCU side (g_mcuStep). Steps 0 to 2 also name the command TIMER_MCU_RETRY
// resends.
inline constexpr int MCU_STEP_NONE = -1;          // no MCU stage or handshake runs
inline constexpr int MCU_STEP_REQUEST = 0;        // the update request awaits its acknowledgement
inline constexpr int MCU_STEP_ENTER_LOADER = 1;   // enter-loader awaits the version report
inline constexpr int MCU_STEP_START_PROGRAM = 2;  // start-program awaits program-ready
inline constexpr int MCU_STEP_BLOCKS = 3;         // a data block awaits its acknowledgement
inline constexpr int MCU_STEP_END_FRAME = 4;      // the end frame awaits the programming result
inline constexpr int MCU_STEP_ACCEPTED = 5;       // MPEG stage: the MCU knows the mode; idle
inline constexpr int MCU_STEP_SUCCEEDED = 6;      // success shown; a failure still counts
inline constexpr int MCU_STEP_DONE = 7;           // the MCU stage has its result

// Steps of the MPEG stage (g_mpegStep). Steps 0 to 4 also name what TIMER_MPEG_RETRY resends.
inline constexpr int MPEG_STEP_NONE = -1;
inline constexpr int MPEG_STEP_REQUEST = 0;        // the update request awaits its acknowledgement
inline constexpr int MPEG_STEP_ENTER_LOADER = 1;   // enter-loader awaits the version report
inline constexpr int MPEG_STEP_START_PROGRAM = 2;  // start-program awaits program-ready
inline constexpr int MPEG_STEP_BLOCKS = 3;         // a data block awaits the next request
inline constexpr int MPEG_STEP_END_FRAME = 4;      // the end frame awaits the programming result
inline constexpr int MPEG_STEP_ALIVE_WAIT = 5;     // counting alive messages before the request
inline constexpr int MPEG_STEP_WRITING_FLASH = 6;  // result 0: the next alive message ends it
inline constexpr int MPEG_STEP_DONE = 7;           // the MPEG stage has its result

// A set of steps, one bit per step.
using StepSet = unsigned;
inline constexpr StepSet ANY_STEP = ~0u;

constexpr StepSet StepBit(int step) {
    return 1u << (step + 1);
}

template <typename... Steps>
constexpr StepSet InSteps(Steps... steps) {
    return (StepBit(steps) | ...);
}

// One message's reaction and the steps it may act in.
struct Reaction {
    BYTE code;
    StepSet steps;
    void (*react)(CUpdateDialog& dialog, WPARAM value);
};

// The co-processors, for the log line of an ignored message.
enum class Coprocessor { Mcu, Mpeg };

// Runs the reaction to `code` when `step` allows it; logs and drops the message otherwise.
// Codes without a reaction are ignored silently.
void React(std::span<const Reaction> reactions, Coprocessor source, int step, CUpdateDialog& dialog,
           WPARAM value, LPARAM code);

// Logs "MCU message 96 ignored in step blocks", once per message and step: a flood of stray
// messages costs a line, not a line each.
void LogIgnoredMessage(Coprocessor source, BYTE code, int step);
