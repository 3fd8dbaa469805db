// What `quarrin check` finds out about a unit and its media: per update kind, where the unit
// would take its source from and what its stage would show; per boot, the course the unit
// would take. Filled by the checks, printed as text or JSON.
#pragma once

#include <string>
#include <vector>

#include "platform/Win32.h"

// One place the unit looks at, in its search order.
struct SearchStep {
    enum Result {
        USED,     // the unit takes the source from here
        ABSENT,   // nothing there
        SKIPPED,  // something there that the unit's probe does not take (a decoy)
        UNUSED,   // present, but an earlier place wins
    };
    std::wstring path;  // device path looked at
    Result result = ABSENT;
    std::wstring reason;  // why a decoy is skipped
};

struct Finding {
    enum Severity {
        NOTE,     // worth knowing
        WARNING,  // the update goes through, with a consequence the user may not want
        FAILURE,  // the stage fails
    };
    Severity severity = NOTE;
    std::wstring text;
};

// One update kind as the unit would meet it.
struct KindReport {
    DWORD kind = 0;          // KIND_APP, KIND_MCU, KIND_MPEG, KIND_NAVI
    bool requested = false;  // the boot asks for this kind
    bool found = false;      // discovery would find a source
    std::wstring source;     // device path of the source found
    std::vector<SearchStep> search;
    std::wstring version;      // the version text as read by discovery
    std::wstring runningText;  // the main line of the running stage, as drawn
    // The stage, when it runs with this source: success, or failure with `code` on the
    // screen. `codeKept`: the stage fails without setting a code, so the screen shows
    // whatever an earlier stage of the boot left (0 in a fresh process).
    bool succeeds = true;
    bool codeKept = false;
    int code = 0;
    // The application stage: the main application is in place after it (the package's
    // program, or the old one when the stage fails before deleting it).
    bool leavesProgram = true;
    std::wstring failure;  // the reason of a failure
    std::vector<std::wstring> facts;
    std::vector<Finding> findings;
};

// One stage of a boot, in the order the dialog runs them.
struct StageCourse {
    DWORD kind = 0;
    std::vector<std::wstring> screens;  // main texts, in order
    std::vector<std::wstring> deletes;  // what the stage deletes
    enum Outcome { SUCCESS, FAILURE } outcome = SUCCESS;
    int code = 0;  // with FAILURE: the code shown
    std::wstring resultText;
    std::wstring why;      // reason of a failure
    std::wstring remains;  // what the unit is left with when the stage fails
};

// One boot of the unit.
struct BootCourse {
    DWORD request = 0;         // the start-up mode
    std::wstring requestFrom;  // where the request comes from
    bool restore = false;      // the application is restored from the backup package
    bool dialog = false;       // false: the main application starts at once
    bool sourcesFound = false;
    std::vector<std::wstring> before;  // start-up steps before the dialog
    std::vector<StageCourse> stages;
    std::wstring ending;  // how the dialog ends
    std::wstring launch;  // what starts after the loader (or why nothing does)
    std::wstring record;  // the update record afterwards
    bool failed = false;  // a stage fails
};

struct CheckReport {
    std::wstring root;    // --root: the device root (host path, as given)
    std::wstring medium;  // --medium: the medium's folder
    std::wstring slot;    // --medium: the volume it stands in for
    std::vector<KindReport> kinds;
    std::vector<BootCourse> boots;
    std::vector<Finding> notes;  // about the input as a whole
    bool Failed() const;
};

const wchar_t* KindName(DWORD kind);  // "application", "MCU", "MPEG", "navigation"
const wchar_t* KindKey(DWORD kind);   // "application", "mcu", "mpeg", "navigation"
