#include "check/CoursePrediction.h"

#include "app/Launch.h"
#include "app/QuarrinApp.h"
#include "check/ApplicationCheck.h"
#include "check/NaviCheck.h"
#include "check/TextHelpers.h"
#include "check/TreeFacts.h"
#include "contract/DevicePaths.h"
#include "dialog/FirmwareImageRules.h"
#include "dialog/ScreenTexts.h"
#include "dialog/StageChain.h"
#include "dialog/UpdateDialog.h"
#include "plan/SourceRoots.h"
#include "plan/SourceSearch.h"
#include "plan/UpdatePlan.h"
#include "plan/UpdateRecord.h"
#include "workers/AppInstallThread.h"
#include "workers/NaviUpdateThread.h"

namespace {

// What the boot carries from one stage to the next.
struct BootState {
    int errorCode = 0;  // g_updateErrorCode: a fresh process starts with 0
    bool applicationPresent = false;
    bool applicationStageRan = false;
    bool applicationFailed = false;
    bool cardRewritten = false;  // a navigation stage emptied the card
};

const KindReport* Find(const std::vector<KindReport>& kinds, DWORD kind) {
    for (const KindReport& report : kinds) {
        if (report.kind == kind && report.found)
            return &report;
    }
    return nullptr;
}

bool Exists(const wchar_t* path) {
    return GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES;
}

// "ResidentFlash3\ZEL (12 files)" for a folder that is there; empty otherwise.
std::wstring TreeToDelete(const wchar_t* folder, const CheckEnvironment& environment,
                          const wchar_t* what) {
    TreeFacts facts = GatherTreeFacts(folder, environment);
    if (!facts.exists)
        return L"";
    return std::wstring(folder) + L" (" + Count(facts.files, L"file") + L")" + what;
}

void AddIfAny(std::vector<std::wstring>& list, const std::wstring& item) {
    if (!item.empty())
        list.push_back(item);
}

void SetResult(StageCourse& stage, const KindReport& report, BootState& state, bool restore) {
    if (!report.succeeds) {
        stage.outcome = StageCourse::FAILURE;
        if (!report.codeKept)
            state.errorCode = report.code;
        stage.code = state.errorCode;
        stage.why = report.failure;
    }
    bool success = stage.outcome == StageCourse::SUCCESS;
    stage.resultText = ResultText(report.kind, success, restore, stage.code);
    stage.screens.push_back(stage.resultText);
}

std::wstring ApplicationRemains(int code, bool restore) {
    // The library replaces the application folder only with a complete package, so whatever
    // failed, what was installed stays as it was.
    if (restore)
        return L"the unit stays without a startable application (what is in " +
               std::wstring(APP_FOLDER) +
               L" stays as it was); the record says 2, so the next boot looks for a package "
               L"on the media, and the boot after it tries the restore again";
    if (code == APP_ERROR_TEMP_FOLDER)
        return L"the installed application stays; the record says 2, so the next boot tries "
               L"again";
    if (code == APP_ERROR_PREVIOUS_FOLDER)
        return std::wstring(APP_TEMPORARY_FOLDER) +
               L" is gone, the installed application stays; the record says 2";
    return L"the installed application stays as it was; the record says 2, so the next boot "
           L"with the medium repeats the update";
}

StageCourse ApplicationStage(const KindReport* found, bool restore, BootState& state,
                             const CheckEnvironment& environment) {
    KindReport report;
    if (found != nullptr) {
        report = *found;
    } else {
        // Chosen first, but no package was found: the worker runs all the same, on the
        // package path its root still names.
        report.kind = KIND_APP;
        report.found = true;
        report.source = PackagePath();
        CheckApplication(report, restore, environment);
    }
    StageCourse stage;
    stage.kind = KIND_APP;
    stage.screens.push_back(PreparingText(KIND_APP, restore));
    bool leftoversGone = report.succeeds || (report.code != APP_ERROR_TEMP_FOLDER &&
                                             report.code != APP_ERROR_PREVIOUS_FOLDER);
    AddIfAny(stage.deletes, TreeToDelete(APP_TEMPORARY_FOLDER, environment, L""));
    if (report.succeeds || report.code != APP_ERROR_TEMP_FOLDER)
        AddIfAny(stage.deletes, TreeToDelete(APP_PREVIOUS_FOLDER, environment, L""));
    if (leftoversGone) {
        bool unpacks = report.succeeds || report.code >= APP_ERROR_UNPACK_BASE;
        if (unpacks)
            stage.screens.push_back(report.runningText);
    }
    if (report.succeeds) {
        AddIfAny(stage.deletes,
                 TreeToDelete(APP_FOLDER, environment,
                              L": the installed application, replaced whole by the package's"));
    }
    if (report.succeeds && !restore && Exists(BACKUP_PACKAGE_PATH))
        stage.deletes.push_back(std::wstring(BACKUP_PACKAGE_PATH) + L": the old backup");
    SetResult(stage, report, state, restore);
    state.applicationStageRan = true;
    state.applicationFailed = stage.outcome != StageCourse::SUCCESS;
    if (stage.outcome == StageCourse::FAILURE)
        stage.remains = ApplicationRemains(stage.code, restore);
    state.applicationPresent = report.leavesProgram;
    if (report.succeeds)
        state.errorCode = 0;  // the worker clears the code when it starts
    return stage;
}

StageCourse FirmwareStage(DWORD kind, const KindReport* found, BootState& state) {
    KindReport report;
    if (found != nullptr) {
        report = *found;
    } else {
        // Chosen, but its image was not found, so none was loaded.
        report.kind = kind;
        report.succeeds = false;
        report.code = kind == KIND_MCU ? ERROR_MCU_IMAGE_MISSING : ERROR_MPEG_IMAGE_MISSING;
        report.failure = L"no image was found, so none is loaded";
    }
    StageCourse stage;
    stage.kind = kind;
    stage.screens.push_back(PreparingText(kind, false));
    if (report.succeeds)
        stage.screens.push_back(report.runningText);
    SetResult(stage, report, state, false);
    if (stage.outcome == StageCourse::FAILURE) {
        stage.remains = kind == KIND_MCU ? L"the MCU keeps its firmware"
                                         : L"the MPEG module keeps its firmware";
    }
    return stage;
}

StageCourse NavigationStage(const KindReport& report, BootState& state,
                            const CheckEnvironment& environment) {
    StageCourse stage;
    stage.kind = KIND_NAVI;
    stage.screens.push_back(PreparingText(KIND_NAVI, false));
    bool touchesCard = report.succeeds || !NavigationFailureSparesCard(report.code);
    if (touchesCard) {
        AddIfAny(stage.deletes,
                 TreeToDelete(NAVI_DESTINATION, environment,
                              FormatterPresent()
                                  ? L": everything on the card, which is then formatted"
                                  : L": what the deletion reaches (no formatter to format it)"));
        stage.screens.push_back(report.runningText);
        state.cardRewritten = true;
    }
    SetResult(stage, report, state, false);
    if (stage.outcome == StageCourse::FAILURE) {
        stage.remains = touchesCard ? L"the card's old content is gone (but for what could not "
                                      L"be removed), and the card does not hold just the "
                                      L"navigation folder"
                                    : L"the card keeps its content";
    }
    return stage;
}

// The navigation folder was there for the boot's discovery but not for the kind's check (the
// medium changed in between): the worker counts nothing.
KindReport VanishedFolder() {
    KindReport report;
    report.kind = KIND_NAVI;
    report.found = true;
    report.succeeds = false;
    report.code = NAVI_ERROR_NO_FILES;
    report.failure = L"the navigation folder is gone";
    return report;
}

StageCourse RunStage(DWORD kind, DWORD flags, bool restore, const std::vector<KindReport>& kinds,
                     BootState& state, const CheckEnvironment& environment) {
    switch (kind) {
        case KIND_APP:
            return ApplicationStage((flags & UPDATE_APP) ? Find(kinds, KIND_APP) : nullptr, restore,
                                    state, environment);
        case KIND_MCU:
            return FirmwareStage(kind, (flags & UPDATE_MCU) ? Find(kinds, KIND_MCU) : nullptr,
                                 state);
        case KIND_MPEG:
            return FirmwareStage(kind, (flags & UPDATE_MPEG) ? Find(kinds, KIND_MPEG) : nullptr,
                                 state);
        default:
            if (const KindReport* navigation = Find(kinds, KIND_NAVI))
                return NavigationStage(*navigation, state, environment);
            return NavigationStage(VanishedFolder(), state, environment);
    }
}

std::wstring LaunchText(const BootState& state) {
    if (Exists(SHELL_MARKER_PATH)) {
        return std::wstring(L"the shell ") + PLATFORM_SHELL_PATH + L" (the marker " +
               SHELL_MARKER_PATH + L" asks for it)";
    }
    bool replaced = state.applicationStageRan && !state.applicationFailed;
    if (state.applicationPresent && !replaced && !ProgramLooksStartable()) {
        return std::wstring(L"nothing: ") + MAIN_APPLICATION_PATH +
               L" is empty or a folder, so its start fails (\"CP Failed\") and no other "
               L"program starts";
    }
    if (state.applicationPresent)
        return std::wstring(L"the main application ") + MAIN_APPLICATION_PATH;
    return std::wstring(L"the shell ") + PLATFORM_SHELL_PATH +
           L", after \"CP Failed\": the main application is missing";
}

std::vector<std::wstring> StartupSteps(DWORD mode) {
    std::vector<std::wstring> steps;
    if (!(mode & UPDATE_APP))
        return steps;
    std::wstring present;
    for (const wchar_t* path : USER_FILES) {
        if (Exists(path))
            present += (present.empty() ? L"" : L", ") + std::wstring(path);
    }
    steps.push_back(L"the main application's user files are deleted" +
                    (present.empty() ? L" (none is there)" : L": " + present));
    return steps;
}

// Runs the stages in the dialog's order until it closes or ends on the reset countdown.
void RunStages(BootCourse& boot, const UpdatePlanFields& plan, const std::vector<KindReport>& kinds,
               BootState& state, const CheckEnvironment& environment) {
    DWORD kind = plan.m_updateKind;
    for (int stages = 0; stages < 4; ++stages) {
        StageCourse stage =
            RunStage(kind, plan.m_updateFlags, boot.restore, kinds, state, environment);
        StageCourse::Outcome outcome = stage.outcome;
        boot.failed = boot.failed || outcome != StageCourse::SUCCESS;
        boot.stages.push_back(std::move(stage));
        int dialogOutcome = outcome == StageCourse::FAILURE ? OUTCOME_FAILED : OUTCOME_SUCCESS;
        StageChainStep step = NextStage(kind, plan.m_updateFlags, dialogOutcome);
        if (step.action == StageChainStep::NEXT_KIND) {
            kind = step.kind;
            continue;
        }
        if (step.action == StageChainStep::RESET_COUNTDOWN) {
            boot.ending = L"the reset countdown \"" + ResetCountdownText(RESET_SECONDS) +
                          L"\" runs to 0 and stays until the unit is reset";
            boot.launch = L"nothing in this boot: the unit resets";
            return;
        }
        break;
    }
    boot.ending = L"the dialog closes";
    boot.launch = LaunchText(state);
}

std::wstring RecordAfter(const BootState& state, bool recordOpened) {
    if (state.applicationStageRan) {
        return state.applicationFailed ? L"2: the next boot repeats the application update" : L"0";
    }
    if (state.cardRewritten) {
        return L"0: it says 0x40 while the card is rewritten, so that a power cut repeats the "
               L"navigation update, and 0 again once the copy has returned";
    }
    return recordOpened ? L"0: the request is consumed at start" : L"missing, as before";
}

}  // namespace

BootRequest RecordRequest() {
    UpdateRequest peeked = PeekUpdateRequest();
    BootRequest request;
    request.recordOpened = peeked.opened;
    request.word = peeked.word;
    request.from =
        std::wstring(UPDATE_RECORD_PATH) +
        (peeked.opened ? L" asks for " + RequestWord(peeked.word) : L" cannot be opened");
    return request;
}

StartupDecision DecideStartup(const BootRequest& request) {
    StartupDecision decision;
    decision.from = request.from;
    decision.mode = request.word;
    decision.recordOpened = request.recordOpened;
    if (!request.recordOpened) {
        bool programPresent = Exists(MAIN_APPLICATION_PATH);
        decision.mode = ModeWithoutRecord(programPresent);
        decision.from += programPresent ? L"; the main application is there"
                         : decision.mode != 0
                             ? L"; the main application is missing too, and there is no "
                               L"backup, so the unit asks for the application and both "
                               L"firmware images"
                             : L"; the main application is missing, and the backup can "
                               L"restore it";
    }
    if (NavigationRequestDropped(decision.mode)) {
        decision.from +=
            L"; the navigation request (0x40) is dropped: navigation data are "
            L"updated only when asked for alone, and the other kinds run only "
            L"when a navigation folder is found too";
    }
    if (decision.mode == 0 && CheckSystemFiles() != 0) {
        decision.mode = UPDATE_APP;
        decision.restore = true;
        decision.from +=
            L"; the system-file check reports damage: the application is restored "
            L"from the backup";
    }
    return decision;
}

BootCourse PredictBoot(const StartupDecision& decision, const std::vector<KindReport>& kinds,
                       const CheckEnvironment& environment) {
    BootCourse boot;
    boot.request = decision.mode;
    boot.requestFrom = decision.from;
    boot.restore = decision.restore;
    BootState state;
    state.applicationPresent = Exists(MAIN_APPLICATION_PATH);
    boot.dialog = decision.mode != 0;
    if (!boot.dialog) {
        boot.launch = LaunchText(state);
        boot.record = RecordAfter(state, decision.recordOpened);
        return boot;
    }
    boot.before = StartupSteps(decision.mode);
    ResetSourceRoots();
    bool damaged = g_systemFilesDamaged;
    g_systemFilesDamaged = decision.restore;
    UpdatePlanFields plan;
    SetUpdatePlan(plan, decision.mode);
    boot.sourcesFound = DiscoverUpdateSources(plan, plan.m_updateFlags) == 1;
    if (boot.sourcesFound) {
        RunStages(boot, plan, kinds, state, environment);
    } else {
        boot.ending = L"no source is found: \"" + DetectionText(DETECT_SECONDS) +
                      L"\" counts down to 1 and the dialog closes";
        boot.launch = LaunchText(state);
    }
    g_systemFilesDamaged = damaged;
    boot.record = RecordAfter(state, decision.recordOpened);
    return boot;
}
