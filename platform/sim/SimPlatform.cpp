#include "platform/sim/SimPlatform.h"

#include <clocale>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/common/TextCodec.h"
#include "platform/kernel/Kernel.h"

namespace fs = std::filesystem;

namespace quarrin::platform {

namespace {

std::wstring NormalizeDevicePath(const std::wstring& path) {
    std::wstring out;
    for (wchar_t c : path)
        out.push_back(c == L'/' ? L'\\' : c);
    while (!out.empty() && out.front() == L'\\')
        out.erase(out.begin());
    return FoldCase(out);
}

struct Fault {
    FileOp op;
    std::wstring path;
    DWORD error;
    int remaining;
    int skip;
};

}  // namespace

struct RecordedProgress : ProgressOutput {
    mutable std::mutex lock;
    std::vector<std::wstring> lines;
    void Write(const std::wstring& line) override {
        std::lock_guard guard(lock);
        lines.push_back(line);
    }
};

struct SimPlatform::State : DebugOutput,
                            ProcessLauncher,
                            ShellWindows,
                            FileOperationHook,
                            TouchCalibration {
    RecordedProgress progress;
    mutable std::mutex lock;
    std::string root;
    std::vector<std::wstring> lines;
    std::vector<SimPlatform::Launch> launches;
    std::vector<Fault> faults;
    DWORD nextLaunchError = ERROR_SUCCESS;
    int mutations = 0;
    bool hasTaskBar = false;
    bool taskBarVisible = false;
    std::vector<int> taskBarCommands;
    BOOL touchResult = FALSE;
    int touchCalls = 0;

    BOOL Calibrate() override {
        std::lock_guard guard(lock);
        ++touchCalls;
        return touchResult;
    }

    void Write(const std::wstring& line) override {
        std::lock_guard guard(lock);
        lines.push_back(line);
    }

    DWORD Launch(const std::string&, const std::wstring& devicePath, DWORD flags) override {
        std::lock_guard guard(lock);
        DWORD error = nextLaunchError;
        nextLaunchError = ERROR_SUCCESS;
        if (error == ERROR_SUCCESS)
            launches.push_back({devicePath, flags});
        return error;
    }

    HWND Find(const std::wstring& className, const std::wstring&) override {
        std::lock_guard guard(lock);
        return hasTaskBar && className == L"HHTaskBar" ? TaskBar() : nullptr;
    }
    bool Show(HWND window, int command) override {
        std::lock_guard guard(lock);
        if (!hasTaskBar || window != TaskBar())
            return false;
        taskBarCommands.push_back(command);
        taskBarVisible = command != 0;
        return true;
    }
    bool IsVisible(HWND window) override {
        std::lock_guard guard(lock);
        return hasTaskBar && window == TaskBar() && taskBarVisible;
    }
    static HWND TaskBar() { return reinterpret_cast<HWND>(0x7A5B); }

    HookDecision Before(FileOp op, const std::wstring& devicePath) override {
        std::lock_guard guard(lock);
        if (IsMutating(op))
            ++mutations;
        std::wstring normalized = NormalizeDevicePath(devicePath);
        for (Fault& fault : faults) {
            if (fault.op == op && fault.path == normalized && fault.remaining != 0) {
                if (fault.skip > 0) {
                    --fault.skip;
                    continue;
                }
                if (fault.remaining > 0)
                    --fault.remaining;
                return {fault.error, std::nullopt};
            }
        }
        return {};
    }
};

SimPlatform::SimPlatform() : m_previous(CurrentServices()), m_state(std::make_unique<State>()) {
    std::setlocale(LC_ALL, "C.UTF-8");
    std::string pattern = (fs::temp_directory_path() / "quarrin-sim-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr)
        std::abort();
    m_state->root = pattern;
    m_scheduler = std::make_unique<VirtualScheduler>();
    m_files = std::make_unique<DeviceFileSystem>(pattern);
    m_files->SetHook(m_state.get());
    m_comPorts = std::make_unique<SimComPorts>(*m_scheduler);
    m_screen = std::make_unique<SimScreen>();
    m_registry = std::make_unique<Registry>();
    m_storage = std::make_unique<StorageManager>(*m_files);
    m_storage->DeclareStore(L"DSK1:", L"Storage Card", SIM_CARD_SECTORS);
    Services services;
    services.scheduler = m_scheduler.get();
    services.files = m_files.get();
    services.processes = m_state.get();
    services.debug = m_state.get();
    services.progress = &m_state->progress;
    services.shell = m_state.get();
    services.devices = m_comPorts.get();
    services.screen = m_screen.get();
    services.registry = m_registry.get();
    services.storage = m_storage.get();
    services.touch = m_state.get();
    InstallServices(services);
}

SimPlatform::~SimPlatform() {
    // Threads a test left behind must not outlive the clock and files they use.
    kernel::TerminateAllThreads();
    InstallServices(m_previous);
    std::error_code ignored;
    fs::permissions(m_state->root, fs::perms::owner_all, fs::perm_options::add, ignored);
    fs::remove_all(m_state->root, ignored);
}

const std::string& SimPlatform::Root() const {
    return m_state->root;
}

std::string SimPlatform::HostPath(const std::wstring& devicePath) const {
    std::wstring relative;
    for (wchar_t c : devicePath)
        relative.push_back(c == L'\\' ? L'/' : c);
    while (!relative.empty() && relative.front() == L'/')
        relative.erase(relative.begin());
    return m_state->root + "/" + WideToUtf8(relative);
}

void SimPlatform::PutFile(const std::wstring& devicePath, const std::string& bytes) {
    fs::path path = HostPath(devicePath);
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

void SimPlatform::PutDirectory(const std::wstring& devicePath) {
    fs::create_directories(HostPath(devicePath));
}

bool SimPlatform::Exists(const std::wstring& devicePath) const {
    ResolvedPath path = m_files->Resolve(devicePath.c_str());
    return path.error == ERROR_SUCCESS && path.exists;
}

std::string SimPlatform::FileBytes(const std::wstring& devicePath) const {
    ResolvedPath path = m_files->Resolve(devicePath.c_str());
    std::ifstream in(path.host, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

void SimPlatform::FailOperation(FileOp op, const std::wstring& devicePath, DWORD error, int count,
                                int skip) {
    std::lock_guard guard(m_state->lock);
    m_state->faults.push_back({op, NormalizeDevicePath(devicePath), error, count, skip});
}

void SimPlatform::FailNextLaunch(DWORD error) {
    std::lock_guard guard(m_state->lock);
    m_state->nextLaunchError = error;
}

int SimPlatform::MutationCount() const {
    std::lock_guard guard(m_state->lock);
    return m_state->mutations;
}

std::vector<std::wstring> SimPlatform::ProgressLines() const {
    std::lock_guard guard(m_state->progress.lock);
    return m_state->progress.lines;
}

std::vector<std::wstring> SimPlatform::DebugLines() const {
    std::lock_guard guard(m_state->lock);
    return m_state->lines;
}

std::vector<SimPlatform::Launch> SimPlatform::Launches() const {
    std::lock_guard guard(m_state->lock);
    return m_state->launches;
}

HWND SimPlatform::AddTaskBar() {
    std::lock_guard guard(m_state->lock);
    m_state->hasTaskBar = true;
    m_state->taskBarVisible = true;
    return State::TaskBar();
}

bool SimPlatform::TaskBarVisible() const {
    std::lock_guard guard(m_state->lock);
    return m_state->taskBarVisible;
}

std::vector<int> SimPlatform::TaskBarCommands() const {
    std::lock_guard guard(m_state->lock);
    return m_state->taskBarCommands;
}

void SimPlatform::SetTouchCalibrationResult(BOOL result) {
    std::lock_guard guard(m_state->lock);
    m_state->touchResult = result;
}

int SimPlatform::TouchCalibrationCalls() const {
    std::lock_guard guard(m_state->lock);
    return m_state->touchCalls;
}

std::uint64_t SimPlatform::NowMs() {
    std::lock_guard guard(kernel::KernelLock());
    return m_scheduler->NowMs();
}

}  // namespace quarrin::platform
