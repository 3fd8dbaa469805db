// `quarrin check` without its command line and output: checks the unit whose device file
// system is installed (read-only) and returns what it found.
#pragma once

#include "check/CheckEnvironment.h"
#include "check/CheckReport.h"

struct CheckInput {
    std::wstring root;          // for the report: the device root as given
    std::wstring medium;        // a bare medium's folder, as given; empty with a device root
    std::wstring slot;          // the volume the medium stands in for
    bool requestGiven = false;  // --request: this word instead of the record's
    DWORD request = 0;
};

CheckReport RunCheck(const CheckInput& input, const CheckEnvironment& environment);
