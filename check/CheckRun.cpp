#include "check/CheckRun.h"

#include "check/ApplicationCheck.h"
#include "check/CoursePrediction.h"
#include "check/FirmwareCheck.h"
#include "check/NaviCheck.h"
#include "check/PackageCheck.h"
#include "check/SourceChecks.h"
#include "check/TextHelpers.h"
#include "contract/DevicePaths.h"
#include "plan/UpdatePlan.h"

namespace {

// The order of the report: application, navigation, MPEG, MCU.
constexpr DWORD kReportOrder[] = {KIND_APP, KIND_NAVI, KIND_MPEG, KIND_MCU};

// A bare medium: one boot for what the dialog runs together (application, MPEG, MCU) and one
// for navigation data, which always run alone.
std::vector<StartupDecision> MediumBoots(const std::vector<KindReport>& kinds) {
    DWORD held = 0;
    for (const KindReport& report : kinds) {
        if (report.found)
            held |= RequestBit(report.kind);
    }
    std::vector<StartupDecision> boots;
    DWORD together = held & (UPDATE_APP | UPDATE_MCU | UPDATE_MPEG);
    if (together != 0)
        boots.push_back({together, false, true, L"the kinds the medium holds, requested together"});
    if (held & UPDATE_NAVI)
        boots.push_back(
            {UPDATE_NAVI, false, true, L"the medium's navigation data, requested alone"});
    return boots;
}

std::vector<StartupDecision> Boots(const CheckInput& input, const std::vector<KindReport>& kinds) {
    if (input.requestGiven) {
        BootRequest request{true, input.request == 1 ? 0 : input.request,
                            L"--request " + RequestWord(input.request)};
        return {DecideStartup(request)};
    }
    if (!input.medium.empty())
        return MediumBoots(kinds);
    return {DecideStartup(RecordRequest())};
}

void CheckKind(KindReport& report, bool restore, const CheckEnvironment& environment,
               PackageReadAhead* readAhead) {
    switch (report.kind) {
        case KIND_APP:
            CheckApplication(report, restore, environment, readAhead);
            break;
        case KIND_NAVI:
            CheckNavigation(report, environment);
            break;
        case KIND_MPEG:
            CheckMpegImage(report);
            break;
        default:
            CheckMcuImage(report);
            break;
    }
}

void NoteSlot(CheckReport& report, const CheckInput& input) {
    if (input.medium.empty() || FoldName(input.slot) != FoldName(CARD_VOLUME))
        return;
    report.notes.push_back({Finding::NOTE,
                            L"navigation data are never taken from Storage Card: "
                            L"it is their destination"});
}

}  // namespace

CheckReport RunCheck(const CheckInput& input, const CheckEnvironment& environment) {
    CheckReport report;
    report.root = input.root;
    report.medium = input.medium;
    report.slot = input.slot;
    for (DWORD kind : kReportOrder) {
        KindReport located;
        located.kind = kind;
        LocateSource(located, false);
        report.kinds.push_back(std::move(located));
    }
    std::vector<StartupDecision> decisions = Boots(input, report.kinds);
    bool restore = false;
    for (const StartupDecision& decision : decisions)
        restore = restore || decision.restore;
    KindReport& application = report.kinds.front();  // kReportOrder starts with it
    if (restore)
        LocateSource(application, true);
    // The package is read while the other kinds are checked; the application comes last.
    std::unique_ptr<PackageReadAhead> readAhead = ReadPackageAhead(application, environment);
    for (KindReport& kind : report.kinds) {
        if (kind.kind != KIND_APP)
            CheckKind(kind, false, environment, nullptr);
    }
    CheckKind(application, restore, environment, readAhead.get());
    for (const StartupDecision& decision : decisions) {
        BootCourse boot = PredictBoot(decision, report.kinds, environment);
        for (const StageCourse& stage : boot.stages) {
            for (KindReport& kind : report.kinds)
                kind.requested = kind.requested || kind.kind == stage.kind;
        }
        report.boots.push_back(std::move(boot));
    }
    NoteSlot(report, input);
    return report;
}

bool CheckReport::Failed() const {
    for (const BootCourse& boot : boots) {
        if (boot.failed)
            return true;
    }
    return false;
}

const wchar_t* KindName(DWORD kind) {
    switch (kind) {
        case KIND_APP:
            return L"application";
        case KIND_MCU:
            return L"MCU";
        case KIND_MPEG:
            return L"MPEG";
        default:
            return L"navigation";
    }
}

const wchar_t* KindKey(DWORD kind) {
    switch (kind) {
        case KIND_APP:
            return L"application";
        case KIND_MCU:
            return L"mcu";
        case KIND_MPEG:
            return L"mpeg";
        default:
            return L"navigation";
    }
}
