// How many messages a link's parser may have posted to the dialog that the dialog has not
// yet taken. The dialog reacts to every message on one thread; a co-processor that sends
// faster than that thread can react (a flood on a line faster than any serial line, or while
// the dialog is busy) would otherwise fill its message queue, and the loader's memory,
// without end. Beyond the budget the parser drops the message: a lost answer is recovered by
// the protocol's resends. The first drop of an overflow is logged ("MCU messages dropped:
// the dialog is behind"), and their number once the dialog has caught up.
#pragma once

#include "platform/Win32.h"

inline constexpr long POST_BUDGET = 1024;

// The parser's side: reserves a place for one message; false (message dropped) when the
// link's budget is spent.
bool ReservePost(int link);
// Posts a message reserved before: WM_MCU_MESSAGE or WM_MPEG_MESSAGE by the link.
void PostReserved(int link, WPARAM value, BYTE code);
// Both in one.
void PostWithinBudget(int link, WPARAM value, BYTE code);

// The dialog's side: it has taken a message of the link.
void ReturnPostSlot(int link);

// Back to an empty budget, as at the start of a new process (tests).
void ResetPostBudgets();
