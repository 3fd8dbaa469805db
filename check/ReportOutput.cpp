#include "check/ReportOutput.h"

#include "check/JsonWriter.h"
#include "check/TextHelpers.h"
#include "plan/UpdatePlan.h"

namespace {

const wchar_t* StepResult(SearchStep::Result result) {
    switch (result) {
        case SearchStep::USED:
            return L"used";
        case SearchStep::ABSENT:
            return L"absent";
        case SearchStep::SKIPPED:
            return L"skipped";
        default:
            return L"unused";
    }
}

const wchar_t* Severity(Finding::Severity severity) {
    switch (severity) {
        case Finding::NOTE:
            return L"note";
        case Finding::WARNING:
            return L"warning";
        default:
            return L"failure";
    }
}

std::wstring Verdict(const KindReport& kind) {
    if (!kind.found)
        return L"not-found";
    return kind.succeeds ? L"ok" : L"fail";
}

const wchar_t* Outcome(const StageCourse& stage) {
    return stage.outcome == StageCourse::FAILURE ? L"failure" : L"success";
}

// Screen texts on one line: their line breaks become " / ".
std::wstring OneLine(const std::wstring& text) {
    std::wstring line;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == L'\r' || text[i] == L'\n') {
            while (i + 1 < text.size() && (text[i + 1] == L'\r' || text[i + 1] == L'\n'))
                ++i;
            if (i + 1 < text.size())
                line += L" / ";
            continue;
        }
        line.push_back(text[i]);
    }
    return line;
}

// --- Text --------------------------------------------------------------------------------------

class TextOut {
public:
    void Line(const std::wstring& text) { m_text += text + L"\n"; }
    void Row(const std::wstring& label, const std::wstring& value) {
        std::wstring padded = L"  " + label;
        padded.resize(13, L' ');
        Line(padded + value);
    }
    const std::wstring& Text() const { return m_text; }

private:
    std::wstring m_text;
};

std::wstring VerdictText(const KindReport& kind) {
    if (!kind.succeeds) {
        std::wstring code = kind.codeKept ? L"the code an earlier stage left (0 in a fresh boot)"
                                          : std::to_wstring(kind.code);
        return L"FAILS with " + code + L": " + kind.failure;
    }
    return L"succeeds";
}

void KindText(TextOut& out, const KindReport& kind) {
    std::wstring title = KindName(kind.kind);
    title.resize(13, L' ');
    std::wstring where = kind.found ? kind.source : L"not found";
    out.Line(title + where + (kind.found && !kind.requested ? L"  (not requested)" : L""));
    for (const SearchStep& step : kind.search) {
        out.Row(&step == &kind.search.front() ? L"searched" : L"",
                step.path + L": " + StepResult(step.result) +
                    (step.reason.empty() ? L"" : L" (" + step.reason + L")"));
    }
    if (!kind.found)
        return;
    if (kind.kind != KIND_NAVI)
        out.Row(L"version", L"\"" + kind.version + L"\"");
    out.Row(L"screen", OneLine(kind.runningText));
    out.Row(L"verdict", VerdictText(kind));
    for (const std::wstring& fact : kind.facts)
        out.Row(L"", fact);
    for (const Finding& finding : kind.findings) {
        if (finding.severity != Finding::FAILURE || finding.text != kind.failure)
            out.Row(Severity(finding.severity), finding.text);
    }
}

void StageText(TextOut& out, const StageCourse& stage, int number) {
    std::wstring screens;
    for (const std::wstring& screen : stage.screens)
        screens += (screens.empty() ? L"" : L" -> ") + OneLine(screen);
    out.Line(L"  " + std::to_wstring(number) + L". " + KindName(stage.kind) + L": " + screens);
    for (const std::wstring& deleted : stage.deletes)
        out.Row(L"   deletes", deleted);
    if (stage.outcome == StageCourse::FAILURE)
        out.Row(L"   fails", std::to_wstring(stage.code) + L": " + stage.why);
    if (!stage.remains.empty())
        out.Row(L"   leaves", stage.remains);
}

void BootText(TextOut& out, const BootCourse& boot) {
    out.Line(L"boot with request " + RequestWord(boot.request) + L" (" + boot.requestFrom + L")");
    if (!boot.dialog) {
        out.Row(L"course", L"nothing is requested: no dialog");
    }
    for (const std::wstring& step : boot.before)
        out.Row(L"first", step);
    int number = 1;
    for (const StageCourse& stage : boot.stages)
        StageText(out, stage, number++);
    if (!boot.ending.empty())
        out.Row(L"then", boot.ending);
    out.Row(L"starts", boot.launch);
    out.Row(L"record", boot.record);
}

// --- JSON --------------------------------------------------------------------------------------

void StringArray(JsonWriter& json, const std::string& key,
                 const std::vector<std::wstring>& values) {
    json.Key(key).BeginArray();
    for (const std::wstring& value : values)
        json.String(value);
    json.EndArray();
}

void OptionalString(JsonWriter& json, const std::string& key, const std::wstring& value) {
    json.Key(key);
    if (value.empty()) {
        json.Null();
    } else {
        json.String(value);
    }
}

void KindJson(JsonWriter& json, const KindReport& kind) {
    json.BeginObject();
    json.Member("kind", KindKey(kind.kind));
    json.Key("requested").Bool(kind.requested);
    json.Key("found").Bool(kind.found);
    OptionalString(json, "source", kind.source);
    json.Key("search").BeginArray();
    for (const SearchStep& step : kind.search) {
        json.BeginObject().Member("path", step.path).Member("result", StepResult(step.result));
        OptionalString(json, "reason", step.reason);
        json.EndObject();
    }
    json.EndArray();
    OptionalString(json, "version", kind.found ? kind.version : L"");
    OptionalString(json, "screen", kind.runningText);
    json.Member("verdict", Verdict(kind));
    json.Key("code");
    if (kind.found && !kind.succeeds && !kind.codeKept) {
        json.Number(kind.code);
    } else {
        json.Null();
    }
    json.Key("codeKept").Bool(kind.found && !kind.succeeds && kind.codeKept);
    OptionalString(json, "reason", kind.failure);
    StringArray(json, "facts", kind.facts);
    json.Key("findings").BeginArray();
    for (const Finding& finding : kind.findings)
        json.BeginObject()
            .Member("severity", Severity(finding.severity))
            .Member("text", finding.text)
            .EndObject();
    json.EndArray();
    json.EndObject();
}

void StageJson(JsonWriter& json, const StageCourse& stage) {
    json.BeginObject();
    json.Member("kind", KindKey(stage.kind));
    json.Member("outcome", Outcome(stage));
    json.Key("code");
    if (stage.outcome == StageCourse::FAILURE) {
        json.Number(stage.code);
    } else {
        json.Null();
    }
    OptionalString(json, "result", stage.resultText);
    StringArray(json, "screens", stage.screens);
    StringArray(json, "deletes", stage.deletes);
    OptionalString(json, "reason", stage.why);
    OptionalString(json, "remains", stage.remains);
    json.EndObject();
}

void BootJson(JsonWriter& json, const BootCourse& boot) {
    json.BeginObject();
    json.Key("request").Number(boot.request);
    json.Member("requestFrom", boot.requestFrom);
    json.Key("restore").Bool(boot.restore);
    json.Key("dialog").Bool(boot.dialog);
    json.Key("sourcesFound").Bool(boot.sourcesFound);
    StringArray(json, "before", boot.before);
    json.Key("stages").BeginArray();
    for (const StageCourse& stage : boot.stages)
        StageJson(json, stage);
    json.EndArray();
    OptionalString(json, "ending", boot.ending);
    json.Member("launch", boot.launch);
    json.Member("record", boot.record);
    json.Key("failed").Bool(boot.failed);
    json.EndObject();
}

}  // namespace

std::wstring Summary(const CheckReport& report) {
    int stages = 0;
    std::wstring failing;
    for (const BootCourse& boot : report.boots) {
        for (const StageCourse& stage : boot.stages) {
            ++stages;
            if (stage.outcome == StageCourse::FAILURE)
                failing += (failing.empty() ? L"" : L", ") + std::wstring(KindName(stage.kind)) +
                           L" (" + std::to_wstring(stage.code) + L")";
        }
    }
    if (stages == 0) {
        bool searched = false;
        for (const BootCourse& boot : report.boots)
            searched = searched || boot.dialog;
        return searched ? L"no update source is found: the unit counts down and starts its program"
                        : L"nothing to update";
    }
    if (failing.empty())
        return stages == 1 ? L"the update would succeed"
                           : L"all " + std::to_wstring(stages) + L" updates would succeed";
    return L"would fail: " + failing;
}

std::string ReportText(const CheckReport& report) {
    TextOut out;
    if (report.medium.empty()) {
        out.Line(L"quarrin check: the unit in " + report.root);
    } else {
        out.Line(L"quarrin check: " + report.medium + L" as " + report.slot +
                 L" of a unit with the demo's resident volumes");
    }
    out.Line(L"");
    for (const KindReport& kind : report.kinds)
        KindText(out, kind);
    for (const Finding& note : report.notes)
        out.Line(std::wstring(Severity(note.severity)) + L": " + note.text);
    for (const BootCourse& boot : report.boots) {
        out.Line(L"");
        BootText(out, boot);
    }
    out.Line(L"");
    out.Line(L"summary: " + Summary(report));
    return ToUtf8(out.Text());
}

std::string ReportJson(const CheckReport& report) {
    JsonWriter json;
    json.BeginObject();
    json.Key("schema").Number(1);
    json.Key("input").BeginObject();
    OptionalString(json, "root", report.root);
    OptionalString(json, "medium", report.medium);
    OptionalString(json, "slot", report.slot);
    json.EndObject();
    json.Key("kinds").BeginArray();
    for (const KindReport& kind : report.kinds)
        KindJson(json, kind);
    json.EndArray();
    json.Key("boots").BeginArray();
    for (const BootCourse& boot : report.boots)
        BootJson(json, boot);
    json.EndArray();
    json.Key("notes").BeginArray();
    for (const Finding& note : report.notes)
        json.BeginObject()
            .Member("severity", Severity(note.severity))
            .Member("text", note.text)
            .EndObject();
    json.EndArray();
    json.Member("summary", Summary(report));
    json.Key("exitCode").Number(report.Failed() ? 1 : 0);
    json.EndObject();
    return json.Text() + "\n";
}
