// `quarrin check`: the entry point that wires the check to the host platform. The device file
// system runs read-only, so nothing below the root or on the medium can change; a bare medium
// goes into a slot of a scratch unit laid out like the demo's.
#include "check/CheckMain.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <mutex>

#include "check/CheckCommandLine.h"
#include "check/CheckRun.h"
#include "check/ReportOutput.h"
#include "check/TextHelpers.h"
#include "platform/common/DeviceEntryRules.h"
#include "platform/common/DeviceFileSystem.h"
#include "platform/common/TextCodec.h"
#include "platform/host/HostFolder.h"
#include "platform/host/HostServices.h"
#include "platform/host/ScratchUnit.h"

namespace {

using quarrin::platform::Utf8ToWide;

// Collects what the device's listings meet that a device volume cannot hold, for the
// navigation and deletion checks.
class UnheldCollector : public quarrin::platform::ListingObserver {
public:
    void LeftOut(const std::wstring& folder, const std::string& hostName, DWORD reason) override {
        using namespace quarrin::platform;
        UnheldEntry entry{folder, DisplayHostName(hostName), UnheldEntry::NAME, L""};
        if (reason == ERROR_ACCESS_DENIED) {
            entry.kind = UnheldEntry::LINK;
            entry.why = DescribeEntryKind(EntryKind::Link);
        } else if (reason == ERROR_PATH_NOT_FOUND) {
            entry.kind = UnheldEntry::DEAD_VOLUME;
            entry.why = L"a link to no folder a volume can be";
        } else {
            entry.why = DescribeNameProblem(CheckDeviceName(hostName));
        }
        Add(std::move(entry));
    }
    void Unopenable(const std::wstring& folder, const std::wstring& name,
                    quarrin::platform::EntryKind kind) override {
        using quarrin::platform::EntryKind;
        Add({folder, name,
             kind == EntryKind::TooLarge ? UnheldEntry::TOO_LARGE : UnheldEntry::NOT_A_FILE,
             quarrin::platform::DescribeEntryKind(kind)});
    }
    std::vector<UnheldEntry> Entries() {
        std::lock_guard lock(m_lock);
        return m_entries;
    }

private:
    void Add(UnheldEntry entry) {
        std::lock_guard lock(m_lock);
        m_entries.push_back(std::move(entry));
    }

    std::mutex m_lock;
    std::vector<UnheldEntry> m_entries;
};

// One line on standard error while a large package or tree is read: rewritten in place on a
// terminal (with every read under way), one line per tenth of each read otherwise. Reads
// report from their own threads.
class ProgressLine {
public:
    ProgressLine() : m_terminal(isatty(STDERR_FILENO) == 1) {}
    ~ProgressLine() { End(); }

    void Show(const std::wstring& what, int percent) {
        std::lock_guard lock(m_lock);
        auto it = std::find_if(m_reads.begin(), m_reads.end(),
                               [&](const auto& read) { return read.first == what; });
        if (it == m_reads.end())
            it = m_reads.insert(m_reads.end(), {what, -1});
        int& shown = it->second;
        bool sameTenth = shown >= 0 && percent / 10 == shown / 10;
        if (percent == shown || (!m_terminal && sameTenth && percent != 100))
            return;
        shown = percent;
        if (!m_terminal) {
            std::fprintf(stderr, "checking %s: %d%%\n", ToUtf8(what).c_str(), percent);
            return;
        }
        std::string line;
        for (const auto& [name, value] : m_reads) {
            if (value < 100)
                line += (line.empty() ? "checking " : ", ") + ToUtf8(name) + ": " +
                        std::to_string(value) + "%";
        }
        std::fprintf(stderr, "\r%s\x1b[K", line.c_str());
        m_open = true;
    }

    void End() {
        std::lock_guard lock(m_lock);
        if (m_open)
            std::fputc('\n', stderr);
        m_open = false;
        m_reads.clear();
    }

private:
    std::mutex m_lock;
    bool m_terminal;
    bool m_open = false;
    std::vector<std::pair<std::wstring, int>> m_reads;  // in the order they began
};

int Usage(const std::string& error) {
    std::fprintf(stderr, "quarrin check: %s\n%s", error.c_str(), CheckUsageText().c_str());
    return 2;
}

CheckReport Run(const CheckOptions& options, quarrin::platform::HostPlatform& platform) {
    UnheldCollector unheld;
    ProgressLine progress;
    platform.Files().SetListingObserver(&unheld);
    CheckEnvironment environment;
    environment.progress = [&](const std::wstring& what, int percent) {
        progress.Show(what, percent);
    };
    environment.unheld = [&] { return unheld.Entries(); };
    environment.cardCapacity = options.cardSize;
    CheckInput input;
    input.root = Utf8ToWide(options.root);
    input.medium = Utf8ToWide(options.medium);
    input.slot = options.medium.empty() ? L"" : Utf8ToWide(options.slot);
    input.requestGiven = options.requestGiven;
    input.request = options.request;
    CheckReport report = RunCheck(input, environment);
    progress.End();
    platform.Files().SetListingObserver(nullptr);
    return report;
}

}  // namespace

int RunCheckCommand(const std::vector<std::string>& arguments) {
    CheckCommandLineResult parsed = ParseCheckCommandLine(arguments);
    if (!parsed.options)
        return Usage(parsed.error);
    const CheckOptions& options = *parsed.options;
    if (options.help) {
        std::fputs(CheckUsageText().c_str(), stdout);
        return 0;
    }
    const std::string& folder = options.medium.empty() ? options.root : options.medium;
    if (!quarrin::platform::IsHostFolder(folder))
        return Usage("'" + folder + "' is not a folder");
    std::unique_ptr<quarrin::platform::ScratchUnit> scratch;
    quarrin::platform::HostOptions host;
    host.readOnly = true;
    host.deviceRoot = options.root;
    if (!options.medium.empty()) {
        scratch = std::make_unique<quarrin::platform::ScratchUnit>();
        if (scratch->Root().empty())
            return Usage("cannot make a scratch unit for the medium");
        host.deviceRoot = scratch->Root();
        host.volumeFolders.push_back({Utf8ToWide(options.slot), options.medium});
    }
    quarrin::platform::HostPlatform platform(host);
    CheckReport report = Run(options, platform);
    std::string text = options.json ? ReportJson(report) : ReportText(report);
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
    return report.Failed() ? 1 : 0;
}
