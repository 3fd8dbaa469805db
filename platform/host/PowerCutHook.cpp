#include "platform/host/PowerCutHook.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>

#include "platform/common/TextCodec.h"

namespace quarrin::platform {

namespace {

// Writes with the bare system call: a power cut leaves buffered output behind, and the
// harness needs this one line to name the operation that was cut.
void WriteRaw(int fd, const std::string& text) {
    for (std::size_t done = 0; done < text.size();) {
        ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n <= 0)
            return;
        done += static_cast<std::size_t>(n);
    }
}

std::string Describe(std::size_t index, FileOp op, const std::wstring& devicePath,
                     std::size_t bytes, bool transfer) {
    // Appended piece by piece: GCC 12 at -O3 warns falsely (-Wrestrict, a copy of 2^63
    // bytes) about "(" + std::string.
    std::string text = std::to_string(index) + " " + FileOpName(op);
    if (transfer) {
        text += '(';
        text += std::to_string(bytes);
        text += ')';
    }
    return text + " " + WideToUtf8(devicePath);
}

}  // namespace

const char* FileOpName(FileOp op) {
    switch (op) {
        case FileOp::Open:
            return "Open";
        case FileOp::Create:
            return "Create";
        case FileOp::Write:
            return "Write";
        case FileOp::Delete:
            return "Delete";
        case FileOp::Move:
            return "Move";
        case FileOp::Copy:
            return "Copy";
        case FileOp::CreateDirectory:
            return "CreateDirectory";
        case FileOp::RemoveDirectory:
            return "RemoveDirectory";
        case FileOp::SetAttributes:
            return "SetAttributes";
        case FileOp::SetEndOfFile:
            return "SetEndOfFile";
    }
    return "?";
}

std::unique_ptr<PowerCutSettings> PowerCutSettingsFromEnvironment() {
    const char* cut = std::getenv("QUARRIN_POWER_CUT");
    const char* count = std::getenv("QUARRIN_COUNT_MUTATIONS");
    if ((cut == nullptr || *cut == '\0') && (count == nullptr || *count == '\0'))
        return nullptr;
    auto settings = std::make_unique<PowerCutSettings>();
    if (cut != nullptr)
        settings->cutAt = std::strtoull(cut, nullptr, 10);
    const char* torn = std::getenv("QUARRIN_POWER_CUT_TORN");
    settings->torn = torn != nullptr && std::string(torn) == "1";
    if (count != nullptr)
        settings->countFile = count;
    return settings;
}

PowerCutHook::PowerCutHook(PowerCutSettings settings) : m_settings(std::move(settings)) {}

PowerCutHook::~PowerCutHook() {
    if (m_settings.countFile.empty())
        return;
    std::lock_guard lock(m_lock);
    int fd = open(m_settings.countFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0)
        return;
    std::string text = std::to_string(m_count) + "\n";
    for (const std::string& operation : m_operations)
        text += operation + "\n";
    WriteRaw(fd, text);
    close(fd);
}

HookDecision PowerCutHook::Before(FileOp op, const std::wstring& devicePath) {
    return Count(op, devicePath, 0, false);
}

HookDecision PowerCutHook::BeforeTransfer(FileOp op, const std::wstring& devicePath,
                                          std::size_t bytes) {
    return Count(op, devicePath, bytes, true);
}

HookDecision PowerCutHook::Count(FileOp op, const std::wstring& devicePath, std::size_t bytes,
                                 bool transfer) {
    if (!IsMutating(op))
        return {};
    std::lock_guard lock(m_lock);
    std::size_t index = ++m_count;
    if (!m_settings.countFile.empty()) {
        m_operations.push_back(Describe(index, op, devicePath, bytes, transfer));
    }
    if (index != m_settings.cutAt)
        return {};
    std::string what = Describe(index, op, devicePath, bytes, transfer);
    if (!m_settings.torn || !transfer)
        Cut(what);
    // Half of the bytes reach the file; the file system calls AfterTornWrite next.
    m_tornOperation = what + " torn at " + std::to_string(bytes / 2);
    HookDecision decision;
    decision.tornBytes = bytes / 2;
    return decision;
}

void PowerCutHook::AfterTornWrite() {
    Cut(m_tornOperation);
}

void PowerCutHook::Cut(const std::string& what) {
    WriteRaw(STDERR_FILENO, "quarrin: power cut at " + what + "\n");
    _exit(POWER_CUT_EXIT_CODE);
}

}  // namespace quarrin::platform
