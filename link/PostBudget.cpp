#include "link/PostBudget.h"

#include <atomic>

#include "contract/UpdateContract.h"
#include "link/LinkKinds.h"

namespace {

struct Budget {
    std::atomic<long> outstanding{0};
    long dropped = 0;  // receive thread of the link only
};

Budget g_budgets[LINK_KINDS];

const wchar_t* const kLinkNames[LINK_KINDS] = {L"MCU", L"MPEG"};

}  // namespace

bool ReservePost(int link) {
    Budget& budget = g_budgets[link];
    long before = budget.outstanding.fetch_add(1);
    if (before < POST_BUDGET) {
        if (budget.dropped > 0 && before < POST_BUDGET / 2) {
            NKDbgPrintfW(L"%s messages: %d dropped\r\n", kLinkNames[link],
                         static_cast<int>(budget.dropped));
            budget.dropped = 0;
        }
        return true;
    }
    budget.outstanding.fetch_sub(1);
    if (budget.dropped++ == 0)
        NKDbgPrintfW(L"%s messages dropped: the dialog is behind\r\n", kLinkNames[link]);
    return false;
}

void PostReserved(int link, WPARAM value, BYTE code) {
    UINT message = link == LINK_MCU ? WM_MCU_MESSAGE : WM_MPEG_MESSAGE;
    if (!PostMessageW(g_notifyWindow, message, value, code))
        g_budgets[link].outstanding.fetch_sub(1);
}

void PostWithinBudget(int link, WPARAM value, BYTE code) {
    if (ReservePost(link))
        PostReserved(link, value, code);
}

void ReturnPostSlot(int link) {
    // Never below zero: a message posted before a reset may still arrive.
    long outstanding = g_budgets[link].outstanding.load();
    while (outstanding > 0 &&
           !g_budgets[link].outstanding.compare_exchange_weak(outstanding, outstanding - 1)) {
    }
}

void ResetPostBudgets() {
    for (Budget& budget : g_budgets) {
        budget.outstanding = 0;
        budget.dropped = 0;
    }
}
