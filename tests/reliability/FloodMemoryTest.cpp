// The real binary's memory while a co-processor floods it: acknowledgements of wrong blocks,
// status messages and update acknowledgements, to a co-processor that reads at line speed or
// has stopped reading. Each answer the loader owes is queued at most once, so its memory stays
// flat. All floods run at once for a few seconds; scripts/flood-memory.sh runs them longer.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <memory>
#include <thread>

#include "tests/support/E2eSupport.h"

extern char** environ;

namespace fs = std::filesystem;
using e2e::BackgroundProgram;

namespace {

using e2e::kSim;

// The resident memory of a process, in KiB; 0 when it is gone.
long ResidentKiB(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stol(line.substr(6));
    }
    return 0;
}

struct Flood {
    const char* name;
    unsigned request;
    bool mcu;  // the MCU floods (else the MPEG module)
    std::vector<std::string> options;
};

// One loader on its two simulators, the flooding one configured by the case.
class FloodedLoader {
public:
    explicit FloodedLoader(const Flood& flood) : m_name(flood.name) {
        m_root.PutProgram("ResidentFlash3/ZEL/Velmoran.exe", m_root.Path() / "app-started");
        m_root.Put("SDHC/ZEL_Update/MCU", std::string(131072, '\x11'));
        m_root.Put("SDHC/ZEL_Update/DVDROM.bin", std::string(240000, '\x22'));
        m_root.Put("ResidentFlash2/UpdateInfo.dat",
                   std::string{static_cast<char>(flood.request), 0, 0, 0});
        std::vector<std::string> mcu{"mcu", "--log", "/dev/null"};
        std::vector<std::string> mpeg{"mpeg", "--alive-ms", "5", "--log", "/dev/null"};
        std::vector<std::string>& flooding = flood.mcu ? mcu : mpeg;
        flooding.insert(flooding.end(), flood.options.begin(), flood.options.end());
        m_mcu = std::make_unique<BackgroundProgram>(kSim, mcu);
        m_mpeg = std::make_unique<BackgroundProgram>(kSim, mpeg);
        std::vector<std::string> arguments{QUARRIN_BINARY,
                                           "--root",
                                           m_root.Path().string(),
                                           "--com",
                                           "2=" + m_mcu->FirstLine(),
                                           "--com",
                                           "3=" + m_mpeg->FirstLine(),
                                           "--clock-rate",
                                           "20"};
        std::vector<char*> argv;
        for (std::string& argument : arguments)
            argv.push_back(argument.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        posix_spawn(&m_pid, argv[0], &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
    }
    ~FloodedLoader() {
        kill(m_pid, SIGKILL);
        waitpid(m_pid, nullptr, 0);
    }
    long Resident() const { return ResidentKiB(m_pid); }
    const char* Name() const { return m_name; }

private:
    const char* m_name;
    e2e::DeviceRoot m_root;
    std::unique_ptr<BackgroundProgram> m_mcu;
    std::unique_ptr<BackgroundProgram> m_mpeg;
    pid_t m_pid = -1;
};

const Flood kFloods[] = {
    {"mcu-wrong-acks", 0x04, true, {"--flood", "wrong-acks"}},
    {"mcu-wrong-acks-deaf", 0x04, true, {"--flood", "wrong-acks", "--deaf-after", "5"}},
    {"mpeg-wrong-acks", 0x08, false, {"--flood", "wrong-acks"}},
    {"mpeg-wrong-acks-deaf", 0x08, false, {"--flood", "wrong-acks", "--deaf-after", "5"}},
    {"mcu-status-deaf", 0x04, true, {"--flood", "status", "--deaf-after", "1"}},
    {"mcu-update-ack-deaf", 0x04, true, {"--flood", "update-ack", "--deaf-after", "1"}},
};

TEST(FloodMemoryTest, TheLoadersMemoryStaysFlatUnderEveryFlood) {
#ifdef QUARRIN_SANITIZED
    GTEST_SKIP() << "a sanitized loader's resident memory includes its quarantine";
#endif
    std::vector<std::unique_ptr<FloodedLoader>> loaders;
    for (const Flood& flood : kFloods)
        loaders.push_back(std::make_unique<FloodedLoader>(flood));
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));  // handshakes, then floods
    std::vector<long> before;
    for (const auto& loader : loaders)
        before.push_back(loader->Resident());
    std::this_thread::sleep_for(std::chrono::milliseconds(2500));
    for (std::size_t i = 0; i < loaders.size(); ++i) {
        long after = loaders[i]->Resident();
        SCOPED_TRACE(loaders[i]->Name());
        EXPECT_GT(before[i], 0) << "the loader ended";
        EXPECT_GT(after, 0) << "the loader ended";
        EXPECT_LT(after - before[i], 4096) << "grew from " << before[i] << " KiB to " << after;
    }
}

}  // namespace
