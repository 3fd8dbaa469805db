// The course of one boot, decided by the start-up sequence's rules and the dialog's chain of
// stages, with each stage's outcome taken from the checks of its kind.
#pragma once

#include <vector>

#include "check/CheckEnvironment.h"
#include "check/CheckReport.h"

struct BootRequest {
    bool recordOpened = true;  // false: the start-up decides by the main application's presence
    DWORD word = 0;            // the request word, 1 already taken as 0
    std::wstring from;         // where the word comes from, for the report
};

// The record as the unit would find it at its next boot.
BootRequest RecordRequest();

// The start-up mode and whether the application is restored, as InitInstance decides them.
struct StartupDecision {
    DWORD mode = 0;
    bool restore = false;
    bool recordOpened = true;
    std::wstring from;
};
StartupDecision DecideStartup(const BootRequest& request);

// `kinds` holds the report of each kind found (by LocateSource and the kind's check), taken
// with the boot's restore setting.
BootCourse PredictBoot(const StartupDecision& decision, const std::vector<KindReport>& kinds,
                       const CheckEnvironment& environment);
