// The real binary with its output going nowhere: standard output and standard error piped to
// readers that go away in the middle of a firmware transfer, a log file and a screen trace
// on a full disk. Each failure is reported once where output still works, and the update
// completes.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "tests/support/E2eSupport.h"
#include "tests/support/Pattern.h"

extern char** environ;

namespace fs = std::filesystem;
using e2e::BackgroundProgram;
using e2e::ReadFile;
using e2e::TraceShows;

namespace {

using e2e::kSim;

std::string Pattern(std::size_t size, unsigned seed) {
    return testsupport::Pattern(size, seed, 23, 101);
}

// The loader with standard output and standard error on pipes that the test reads and may
// close while it runs.
class PipedLoader {
public:
    explicit PipedLoader(const std::vector<std::string>& arguments) {
        int out[2], err[2];
        EXPECT_EQ(pipe(out), 0);
        EXPECT_EQ(pipe(err), 0);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_adddup2(&actions, err[1], 2);
        posix_spawn_file_actions_addclose(&actions, out[0]);
        posix_spawn_file_actions_addclose(&actions, err[0]);
        std::vector<char*> argv{const_cast<char*>(QUARRIN_BINARY)};
        for (const std::string& argument : arguments)
            argv.push_back(const_cast<char*>(argument.c_str()));
        argv.push_back(nullptr);
        EXPECT_EQ(posix_spawn(&m_pid, QUARRIN_BINARY, &actions, nullptr, argv.data(), environ), 0);
        posix_spawn_file_actions_destroy(&actions);
        close(out[1]);
        close(err[1]);
        m_out = out[0];
        m_err = err[0];
    }
    ~PipedLoader() {
        CloseOut();
        CloseErr();
        Kill();
    }
    // Reads standard output or error until `text` has come (or `limit` passes), then closes
    // that pipe: its reader goes away.
    bool ReadOutUntil(const std::string& text, std::chrono::seconds limit) {
        return ReadUntil(m_out, m_outText, text, limit) && (CloseOut(), true);
    }
    bool ReadErrUntil(const std::string& text, std::chrono::seconds limit) {
        return ReadUntil(m_err, m_errText, text, limit) && (CloseErr(), true);
    }
    // Waits for the exit; -1 when it does not come within `limit`.
    int Wait(std::chrono::seconds limit) {
        auto deadline = std::chrono::steady_clock::now() + limit;
        while (std::chrono::steady_clock::now() < deadline) {
            int status = 0;
            if (waitpid(m_pid, &status, WNOHANG) == m_pid) {
                m_pid = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return -1;
    }
    void Kill() {
        if (m_pid > 0) {
            kill(m_pid, SIGKILL);
            waitpid(m_pid, nullptr, 0);
            m_pid = -1;
        }
    }

private:
    static bool ReadUntil(int fd, std::string& text, const std::string& wanted,
                          std::chrono::seconds limit) {
        auto deadline = std::chrono::steady_clock::now() + limit;
        while (text.find(wanted) == std::string::npos) {
            pollfd ready{fd, POLLIN, 0};
            if (std::chrono::steady_clock::now() > deadline || poll(&ready, 1, 100) < 0)
                return false;
            char chunk[4096];
            ssize_t n = ready.revents != 0 ? read(fd, chunk, sizeof chunk) : 0;
            if (ready.revents != 0 && n <= 0)
                return false;
            text.append(chunk, static_cast<std::size_t>(std::max<ssize_t>(n, 0)));
        }
        return true;
    }
    void CloseOut() {
        if (m_out >= 0)
            close(m_out);
        m_out = -1;
    }
    void CloseErr() {
        if (m_err >= 0)
            close(m_err);
        m_err = -1;
    }

    pid_t m_pid = -1;
    int m_out = -1;
    int m_err = -1;
    std::string m_outText;
    std::string m_errText;
};

class BrokenOutputTest : public ::testing::Test {
protected:
    void SetUp() override {
        root.PutProgram("ResidentFlash3/ZEL/Velmoran.exe", root.Path() / "app-started");
        fs::create_directories(root.Path() / "ResidentFlash2");
    }
    e2e::DeviceRoot root;
    fs::path trace = root.Path() / "trace.txt";
};

// As `quarrin --progress ... | grep -m1 "MCU 30%"`, with standard error read by a reader that
// stops after the start command: the MCU still gets every block and the end frame.
TEST_F(BrokenOutputTest, AnMcuUpdateCompletesWhenItsReadersGoAway) {
    std::string image = Pattern(131072, 7);
    root.Put("SDHC/ZEL_Update/MCU", image);
    fs::path received = root.Path() / "mcu-received.bin";
    fs::path log = root.Path() / "loader.log";
    BackgroundProgram mcu(kSim, {"mcu", "--image-out", received.string(), "--log", "/dev/null"});
    root.Put("ResidentFlash2/UpdateInfo.dat", std::string("\x04\0\0\0", 4));
    PipedLoader loader({"--root", root.Path().string(), "--com", "2=" + mcu.FirstLine(),
                        "--clock-rate", "20", "--progress", "--log", log.string(), "--screen-trace",
                        trace.string()});
    // Generous bounds: under the sanitizers on a loaded machine the transfer takes its time.
    ASSERT_TRUE(loader.ReadErrUntil("S:5a a5 02 14 ea", std::chrono::seconds(60)));
    ASSERT_TRUE(loader.ReadOutUntil("MCU 30%", std::chrono::seconds(60)));
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    while (!TraceShows(trace, "系统即将复位，请拔出升级卡！(0)") &&
           std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_EQ(loader.Wait(std::chrono::seconds(0)), -1) << "the loader ended early";
    loader.Kill();
    EXPECT_TRUE(TraceShows(trace, "MCU升级成功！"));
    EXPECT_TRUE(ReadFile(received) == image);
    std::string logged = ReadFile(log);
    for (const char* report : {"quarrin: cannot write to standard output: Broken pipe\n",
                               "quarrin: cannot write to standard error: Broken pipe\n"}) {
        std::size_t first = logged.find(report);
        EXPECT_NE(first, std::string::npos) << report;
        EXPECT_EQ(logged.find(report, first + 1), std::string::npos) << "reported twice";
    }
}

TEST_F(BrokenOutputTest, AFullDiskUnderTheLogAndTheTraceIsReportedOnce) {
    if (!fs::exists("/dev/full"))
        GTEST_SKIP() << "no /dev/full";
    root.Put("SDHC/ZEL_Update/DVDROM.bin", Pattern(30000, 8));
    BackgroundProgram mcu(kSim, {"mcu", "--log", "/dev/null"});
    BackgroundProgram mpeg(kSim,
                           {"mpeg", "--alive-ms", "5", "--flash-ms", "25", "--log", "/dev/null"});
    root.Put("ResidentFlash2/UpdateInfo.dat", std::string("\x08\0\0\0", 4));
    e2e::RunResult run =
        e2e::RunQuarrin({"--root", root.Path().string(), "--com", "2=" + mcu.FirstLine(), "--com",
                         "3=" + mpeg.FirstLine(), "--clock-rate", "20", "--progress", "--log",
                         "/dev/full", "--screen-trace", "/dev/full"});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(run.out.find("MPEG success"), std::string::npos);
    EXPECT_TRUE(e2e::WaitForFile(root.Path() / "app-started"));
    for (const char* report :
         {"quarrin: cannot write to log file '/dev/full': No space left on device\n",
          "quarrin: cannot write to screen trace file '/dev/full': No space left on device\n"}) {
        std::size_t first = run.err.find(report);
        EXPECT_NE(first, std::string::npos) << report;
        EXPECT_EQ(run.err.find(report, first + 1), std::string::npos) << "reported twice";
    }
}

}  // namespace
