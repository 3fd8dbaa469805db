// The co-processor simulator over a pseudo-terminal, driven by a scripted command sequence
// as the loader would send it.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "link/FrameCodec.h"
#include "tests/support/E2eSupport.h"
#include "tests/support/Frames.h"

extern char** environ;

namespace {

using Bytes = std::vector<BYTE>;
namespace fs = std::filesystem;

using testsupport::Frame;

// A running coproc-sim and the loader's end of its pseudo-terminal.
class Simulator {
public:
    explicit Simulator(std::vector<std::string> arguments) {
        m_dir = fs::temp_directory_path() / ("coproc-sim-test-" + std::to_string(getpid()));
        fs::create_directories(m_dir);
        arguments.insert(arguments.begin(), COPROC_SIM_BINARY);
        arguments.push_back("--log");
        arguments.push_back((m_dir / "sim.log").string());
        int out[2];
        EXPECT_EQ(pipe(out), 0);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        posix_spawn_file_actions_addclose(&actions, out[0]);
        std::vector<char*> argv;
        for (auto& argument : arguments)
            argv.push_back(argument.data());
        argv.push_back(nullptr);
        EXPECT_EQ(posix_spawn(&m_pid, argv[0], &actions, nullptr, argv.data(), environ), 0);
        posix_spawn_file_actions_destroy(&actions);
        close(out[1]);
        std::string path;
        char c;
        while (read(out[0], &c, 1) == 1 && c != '\n')
            path.push_back(c);
        close(out[0]);
        m_fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        termios tio{};
        tcgetattr(m_fd, &tio);
        cfmakeraw(&tio);
        tcsetattr(m_fd, TCSANOW, &tio);
        tcflush(m_fd, TCIFLUSH);
    }
    ~Simulator() {
        kill(m_pid, SIGTERM);
        int status = 0;
        waitpid(m_pid, &status, 0);
        close(m_fd);
        std::error_code ignored;
        fs::remove_all(m_dir, ignored);
    }
    fs::path Dir() const { return m_dir; }

    void Send(const Bytes& frame) {
        ASSERT_EQ(write(m_fd, frame.data(), frame.size()), static_cast<ssize_t>(frame.size()));
    }
    // The next good frame from the simulator, or an empty one after `timeoutMs`.
    Bytes Next(int timeoutMs = 2000) {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (m_frames.empty()) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            pollfd fd{m_fd, POLLIN, 0};
            if (left.count() <= 0 || poll(&fd, 1, static_cast<int>(left.count())) <= 0)
                return {};
            BYTE chunk[4096];
            ssize_t n = read(m_fd, chunk, sizeof chunk);
            if (n > 0)
                m_buffer.insert(m_buffer.end(), chunk, chunk + n);
            TakeFrames(m_buffer, m_scratch, [this](const BYTE* frame, int length) {
                m_frames.emplace_back(frame, frame + length);
            });
        }
        Bytes frame = m_frames.front();
        m_frames.erase(m_frames.begin());
        return frame;
    }
    // The next frame with `code`, skipping others (alive messages).
    Bytes NextWithCode(BYTE code, int timeoutMs = 2000) {
        for (;;) {
            Bytes frame = Next(timeoutMs);
            if (frame.empty() || frame[3] == code)
                return frame;
        }
    }
    // Whether the simulator has closed its end of the line.
    bool HungUp() const {
        pollfd fd{m_fd, POLLIN, 0};
        return poll(&fd, 1, 100) > 0 && (fd.revents & POLLHUP) != 0;
    }
    std::string Log() const {
        std::ifstream in(m_dir / "sim.log");
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

private:
    fs::path m_dir;
    pid_t m_pid = 0;
    int m_fd = -1;
    Bytes m_buffer;
    BYTE m_scratch[FRAME_MAX_LENGTH];
    std::vector<Bytes> m_frames;
};

TEST(CoprocSimTest, TheMcuTakesAWholeImage) {
    std::string imagePath = (fs::temp_directory_path() / "coproc-sim-mcu-image.bin").string();
    Simulator sim({"mcu", "--image-out", imagePath, "--version", "V7.1"});
    sim.Send(Frame(0x00, {0x01}));
    EXPECT_EQ(sim.Next(), Frame(0x80, {}));
    sim.Send(Frame(0x01, {0x01, 0x00}));  // no answer expected
    sim.Send(Frame(0x17, {}));
    Bytes version = sim.Next();
    ASSERT_EQ(version.size(), 78u);
    EXPECT_EQ(version[3], 0x97);
    EXPECT_EQ(std::string(version.begin() + 4, version.begin() + 8), "V7.1");
    sim.Send(Frame(0x14, {}));
    EXPECT_EQ(sim.Next(), Frame(0x94, {}));
    Bytes image(131072);
    unsigned sum = 0;
    for (std::size_t i = 0; i < image.size(); ++i) {
        image[i] = static_cast<BYTE>(i * 31 + i / 1000);
        sum += image[i];
    }
    for (int block = 0; block < 1024; ++block) {
        Bytes payload(2 + 128);
        payload[0] = static_cast<BYTE>(block >> 8);
        payload[1] = static_cast<BYTE>(block);
        std::copy(image.begin() + block * 128, image.begin() + block * 128 + 128,
                  payload.begin() + 2);
        sim.Send(Frame(0x15, payload));
        ASSERT_EQ(sim.Next(), Frame(0x95, {payload[0], payload[1]})) << "block " << block;
    }
    sim.Send(Frame(0x16, {static_cast<BYTE>(sum >> 8), static_cast<BYTE>(sum)}));
    EXPECT_EQ(sim.Next(), Frame(0x96, {0x00}));
    std::ifstream in(imagePath, std::ios::binary);
    Bytes written((std::istreambuf_iterator<char>(in)), {});
    EXPECT_EQ(written, image);
    std::filesystem::remove(imagePath);
    EXPECT_NE(sim.Log().find("recv DATA_BLOCK 1023"), std::string::npos);
}

TEST(CoprocSimTest, TheMpegModuleIsAliveExceptWhileItUpdates) {
    Simulator sim({"mpeg", "--alive-ms", "20", "--flash-ms", "100", "--result", "3"});
    EXPECT_EQ(sim.Next(), Frame(0xF2, {}));
    sim.Send(Frame(0x00, {0x00}));
    EXPECT_EQ(sim.NextWithCode(0x80), Frame(0x80, {0x00}));
    sim.Send(Frame(0x15, {}));
    Bytes version = sim.Next();  // no alive message in between any more
    ASSERT_EQ(version.size(), 47u);
    EXPECT_EQ(version[3], 0x95);
    sim.Send(Frame(0x24, {}));
    EXPECT_EQ(sim.Next(), Frame(0xA4, {}));
    Bytes block(2 + 240, 0x11);
    block[0] = block[1] = 0x00;  // block 0
    sim.Send(Frame(0x25, block));
    EXPECT_EQ(sim.Next(), Frame(0xA5, {0x00, 0x01}));
    sim.Send(Frame(0x26, {0x11, 0x11}));
    EXPECT_EQ(sim.Next(), Frame(0xA6, {0x03}));  // the result it was told to give
    EXPECT_EQ(sim.Next(1000), Frame(0xF2, {}));  // alive again once its flash is written
}

TEST(CoprocSimTest, FaultsIgnoreCorruptAndSilence) {
    {
        Simulator sim({"mcu", "--ignore-first", "1", "--corrupt-every", "2"});
        sim.Send(Frame(0x00, {0x01}));
        EXPECT_TRUE(sim.Next(300).empty());  // ignored
        sim.Send(Frame(0x00, {0x01}));
        EXPECT_EQ(sim.Next(), Frame(0x80, {}));  // first frame sent
        sim.Send(Frame(0x14, {}));
        EXPECT_TRUE(sim.Next(300).empty());  // second: bad checksum, dropped here
        sim.Send(Frame(0x14, {}));
        EXPECT_EQ(sim.Next(), Frame(0x94, {}));
        EXPECT_NE(sim.Log().find("ignoring UPDATE_REQUEST"), std::string::npos);
    }
    {
        Simulator sim({"mcu", "--silent"});
        sim.Send(Frame(0x00, {0x01}));
        EXPECT_TRUE(sim.Next(300).empty());
        EXPECT_NE(sim.Log().find("recv UPDATE_REQUEST"), std::string::npos);
    }
}

TEST(CoprocSimTest, LineFaultsRepeatHoldBackAndMisacknowledge) {
    {
        fs::path timing = fs::temp_directory_path() / "coproc-sim-timing.txt";
        Simulator sim(
            {"mcu", "--ignore-code", "17", "--wrong-ack-every", "2", "--timing", timing.string()});
        sim.Send(Frame(0x17, {}));
        EXPECT_TRUE(sim.Next(300).empty());  // never answered
        Bytes block(130, 0x42);
        block[0] = 0x00;
        block[1] = 0x05;
        sim.Send(Frame(0x15, block));
        EXPECT_EQ(sim.Next(), Frame(0x95, {0x00, 0x05}));
        block[1] = 0x06;
        sim.Send(Frame(0x15, block));
        EXPECT_EQ(sim.Next(), Frame(0x95, {0x00, 0x05}));  // the second names the block before
        sim.Send(Frame(0x16, {0x00, 0x00}));
        EXPECT_EQ(sim.Next()[3], 0x96);
        std::ifstream in(timing);
        long long first = 0, end = 0, reaction = -1;
        int blocks = 0;
        in >> first >> end >> blocks >> reaction;
        EXPECT_EQ(blocks, 2);
        EXPECT_LE(first, end);
        EXPECT_GE(reaction, 0);
        fs::remove(timing);
    }
    {
        // Frame 2 and 4 go twice; frame 3 is held back until frame 4 has gone.
        Simulator sim({"mcu", "--duplicate-every", "2", "--reorder-every", "3"});
        sim.Send(Frame(0x00, {0x01}));
        EXPECT_EQ(sim.Next(), Frame(0x80, {}));
        sim.Send(Frame(0x14, {}));
        EXPECT_EQ(sim.Next(), Frame(0x94, {}));
        EXPECT_EQ(sim.Next(), Frame(0x94, {}));
        sim.Send(Frame(0x17, {}));
        EXPECT_TRUE(sim.Next(300).empty());
        sim.Send(Frame(0x00, {0x01}));
        EXPECT_EQ(sim.Next(), Frame(0x80, {}));
        EXPECT_EQ(sim.Next(), Frame(0x80, {}));
        EXPECT_EQ(sim.Next()[3], 0x97);
    }
    {
        // LEN 0 and LEN 1 never come out as frames; the 258-byte pass-through frame does.
        Simulator sim({"mcu", "--junk-every", "1"});
        sim.Send(Frame(0x00, {0x01}));
        EXPECT_EQ(sim.Next(), Frame(0x80, {}));
        sim.Send(Frame(0x14, {}));
        EXPECT_EQ(sim.Next(), Frame(0x94, {}));
        sim.Send(Frame(0x14, {}));
        Bytes longFrame = sim.Next();
        EXPECT_EQ(longFrame.size(), 258u);
        EXPECT_EQ(longFrame[3], 0x73);
        EXPECT_EQ(sim.Next(), Frame(0x94, {}));
        sim.Send(Frame(0x14, {}));
        EXPECT_EQ(sim.Next(), Frame(0x95, {}));  // an acknowledgement without its number
        EXPECT_EQ(sim.Next(), Frame(0x94, {}));
    }
}

// The messages at the wrong moment that the loader's tests ask of the simulator.
TEST(CoprocSimTest, LateExtraAndUnpromptedMessagesComeAsAsked) {
    {
        Simulator sim({"mpeg", "--alive-ms", "0", "--end-delay-ms", "300", "--extra-result", "1",
                       "--acks-after-result-ms", "50"});
        auto start = std::chrono::steady_clock::now();
        sim.Send(Frame(0x26, {0x00, 0x00}));
        EXPECT_EQ(sim.Next(), Frame(0xA6, {0x01}));  // nothing written: the sum fails
        EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(290));
        EXPECT_EQ(sim.Next(), Frame(0xA6, {0x01}));
        EXPECT_EQ(sim.Next(), Frame(0xA5, {0x00, 0x00}));  // then asks for blocks 0 and 1
        EXPECT_EQ(sim.Next(), Frame(0xA5, {0x00, 0x01}));
    }
    {
        Simulator sim({"mcu", "--stray-result-ms", "100", "--status-ms", "1000",
                       "--pass-through-ms", "1000", "--pass-through-burst", "2"});
        sim.Send(Frame(0x01, {0x01, 0x00}));  // the first frame starts them
        Bytes first = sim.NextWithCode(0x73);
        Bytes second = sim.NextWithCode(0x73);
        EXPECT_EQ(std::string(first.begin() + 4, first.begin() + 8), std::string("PT\0\x01", 4));
        EXPECT_EQ(std::string(second.begin() + 4, second.begin() + 8), std::string("PT\0\x02", 4));
        EXPECT_EQ(sim.NextWithCode(0x96), Frame(0x96, {0x00}));
        // A pass-through frame forwarded to it is checked: this one is whole, this one not.
        Bytes forwarded = first;
        forwarded[3] = 0xF3;
        forwarded.back() =
            FrameChecksum(forwarded.data() + 2, static_cast<int>(forwarded.size()) - 3);
        sim.Send(forwarded);
        forwarded[20] ^= 1;
        forwarded.back() =
            FrameChecksum(forwarded.data() + 2, static_cast<int>(forwarded.size()) - 3);
        sim.Send(forwarded);
        sim.Next(300);
        std::string log = sim.Log();
        std::string size = std::to_string(first.size());
        EXPECT_NE(log.find("recv PASS_THROUGH #1: " + size + " bytes intact"), std::string::npos);
        EXPECT_NE(log.find("recv PASS_THROUGH #1: " + size + " bytes DAMAGED"), std::string::npos);
    }
    {
        Simulator sim({"mcu", "--flood", "update-ack", "--deaf-after", "1"});
        sim.Send(Frame(0x00, {0x01}));
        for (int i = 0; i < 100; ++i)
            ASSERT_EQ(sim.Next(), Frame(0x80, {}));
        sim.Send(Frame(0x00, {0x01}));  // not read any more
        sim.Next(100);
        std::string log = sim.Log();
        std::size_t first = log.find("recv UPDATE_REQUEST");
        EXPECT_NE(first, std::string::npos);
        EXPECT_EQ(log.find("recv UPDATE_REQUEST", first + 1), std::string::npos);
    }
}

TEST(CoprocSimTest, ItHangsUpAndSkipsAheadWhenAsked) {
    {
        Simulator sim({"mcu", "--hang-up-at", "1"});
        sim.Send(Frame(0x15, Bytes(130, 0)));  // block 0
        EXPECT_EQ(sim.Next(), Frame(0x95, {0x00, 0x00}));
        Bytes block1(130, 0);
        block1[1] = 1;
        sim.Send(Frame(0x15, block1));
        EXPECT_TRUE(sim.Next(500).empty());  // unanswered: the line is gone
        EXPECT_TRUE(sim.HungUp());
    }
    {
        Simulator sim({"mpeg", "--alive-ms", "0", "--skip-to", "50"});
        Bytes block0(242, 0);
        sim.Send(Frame(0x25, block0));
        EXPECT_EQ(sim.Next(), Frame(0xA5, {0x00, 50}));  // as if it had blocks 1 to 49
        sim.Send(Frame(0x25, block0));
        EXPECT_EQ(sim.Next(), Frame(0xA5, {0x00, 0x01}));  // once only
    }
}

TEST(CoprocSimTest, PacedOutputKeepsToTheLineRate) {
    Simulator sim({"mcu", "--pace", "--baud", "38400"});
    // 20 version reports of 78 bytes take 20 * 780 bits / 38400 bit/s, about 0.4 s, paced.
    auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 20; ++i)
        sim.Send(Frame(0x17, {}));
    for (int i = 0; i < 20; ++i)
        ASSERT_EQ(sim.Next().size(), 78u);
    auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_GE(elapsed, std::chrono::milliseconds(20 * 780 * 1000 / 38400 - 20));
}

}  // namespace

namespace {

using SimRun = e2e::ShellRun;

SimRun RunSimulator(const std::string& arguments) {
    return e2e::RunShell("timeout 10 " + std::string(COPROC_SIM_BINARY) + " " + arguments +
                         " --log /dev/null 2>&1 </dev/null");
}

// Options the simulator could not carry out are refused before it serves: a burst too large
// to allocate, and files written at the end of a transfer that could never be written.
TEST(CoprocSimOptionsTest, WhatCannotBeCarriedOutIsRefusedAtTheStart) {
    const std::string folder = fs::temp_directory_path().string();
    const std::vector<std::pair<std::string, std::string>> bad{
        {"mcu --pass-through-ms 10 --pass-through-burst 1000000000", "--pass-through-burst"},
        {"mcu --pass-through-burst 0", "--pass-through-burst"},
        {"mcu --alive-ms 99999999999", "--alive-ms needs a number"},
        {"mcu --image-out /nonexistent/mcu.bin", "--image-out /nonexistent/mcu.bin: no folder"},
        {"mcu --image-out " + folder, "is a folder"},
        {"mpeg --timing /nonexistent/t.txt", "--timing /nonexistent/t.txt: no folder"},
    };
    for (const auto& [arguments, message] : bad) {
        SimRun run = RunSimulator(arguments);
        EXPECT_EQ(run.status, 2) << arguments << "\n" << run.output;
        EXPECT_NE(run.output.find(message), std::string::npos) << arguments << "\n" << run.output;
    }
}

}  // namespace
