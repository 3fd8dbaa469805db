// A test-only power cut for the host build. With QUARRIN_POWER_CUT=K in the environment the
// K-th mutating file operation ends the process at once, as a power failure would: no
// destructor runs and no buffer is flushed. QUARRIN_POWER_CUT_TORN=1 lets a write or copy at
// K put half of its bytes into the file first. QUARRIN_COUNT_MUTATIONS=FILE writes, when the
// loader exits, how many mutating operations the run made and what each one was, so that a
// harness can place a cut at every one of them.
#pragma once

#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/common/DeviceFileSystem.h"

namespace quarrin::platform {

inline constexpr int POWER_CUT_EXIT_CODE = 99;

struct PowerCutSettings {
    std::size_t cutAt = 0;  // 0: never cut
    bool torn = false;
    std::string countFile;  // empty: nothing is written at exit
};

// Reads the settings from the environment; empty when no variable asks for the hook.
std::unique_ptr<PowerCutSettings> PowerCutSettingsFromEnvironment();

class PowerCutHook : public FileOperationHook {
public:
    explicit PowerCutHook(PowerCutSettings settings);
    ~PowerCutHook() override;  // writes the count file
    PowerCutHook(const PowerCutHook&) = delete;
    PowerCutHook& operator=(const PowerCutHook&) = delete;

    HookDecision Before(FileOp op, const std::wstring& devicePath) override;
    HookDecision BeforeTransfer(FileOp op, const std::wstring& devicePath,
                                std::size_t bytes) override;
    void AfterTornWrite() override;

private:
    HookDecision Count(FileOp op, const std::wstring& devicePath, std::size_t bytes, bool transfer);
    [[noreturn]] void Cut(const std::string& what);

    PowerCutSettings m_settings;
    std::mutex m_lock;
    std::size_t m_count = 0;
    std::vector<std::string> m_operations;  // kept only when a count file is wanted
    std::string m_tornOperation;
};

const char* FileOpName(FileOp op);

}  // namespace quarrin::platform
