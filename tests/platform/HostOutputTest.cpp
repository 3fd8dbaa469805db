// The host build's text outputs: a reader that goes away or stops reading never holds back
// or ends the loader; a failure is reported once.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <mutex>
#include <thread>

#include "platform/host/OutputWriter.h"

using quarrin::platform::OutputWriter;
using Clock = std::chrono::steady_clock;

namespace {

class HostOutputTest : public ::testing::Test {
protected:
    // As in the host platform, for the whole process: a writer left blocked on a reader that
    // never reads outlives its test by design, and meets the closed pipe later.
    static void SetUpTestSuite() { signal(SIGPIPE, SIG_IGN); }
    void SetUp() override { ASSERT_EQ(pipe(m_pipe), 0); }
    void TearDown() override {
        for (int fd : m_pipe) {
            if (fd >= 0)
                close(fd);
        }
    }
    void CloseReader() {
        close(m_pipe[0]);
        m_pipe[0] = -1;
    }
    std::string ReadAll() {
        std::string text;
        char chunk[65536];
        for (ssize_t n; (n = read(m_pipe[0], chunk, sizeof chunk)) > 0;)
            text.append(chunk, static_cast<std::size_t>(n));
        return text;
    }

    int m_pipe[2] = {-1, -1};
};

TEST_F(HostOutputTest, AReaderThatGoesAwayIsReportedOnce) {
    std::vector<std::string> reports;
    std::mutex lock;
    OutputWriter writer(m_pipe[1], false, "test pipe", [&](const std::string& text) {
        std::lock_guard guard(lock);
        reports.push_back(text);
    });
    writer.Write("first line\n");
    CloseReader();
    for (int i = 0; i < 1000 && !writer.Failed(); ++i) {
        writer.Write("another line\n");
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    for (int i = 0; i < 100; ++i)
        writer.Write("after the failure\n");  // dropped, quietly
    std::lock_guard guard(lock);
    EXPECT_EQ(reports, std::vector<std::string>{"cannot write to test pipe: Broken pipe"});
}

TEST_F(HostOutputTest, AReaderThatStopsReadingNeverHoldsTheWriter) {
    std::string text;
    std::thread reader;
    {
        OutputWriter writer(m_pipe[1], false, "test pipe", nullptr);
        const std::string line(1023, 'x');
        auto start = Clock::now();
        for (int i = 0; i < 3000; ++i)  // 3 MB: more than the pipe and the queue hold
            writer.Write(std::to_string(i % 10) + line + "\n");
        EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(500));
        reader = std::thread([&] { text = ReadAll(); });
        // Destruction writes out what was queued, now that the reader reads again.
    }
    close(m_pipe[1]);
    m_pipe[1] = -1;
    reader.join();
    EXPECT_EQ(text.substr(0, 3), "0xx");
    EXPECT_NE(text.find("\n1xx"), std::string::npos);  // the lines come in order, whole
    EXPECT_LT(text.size(), 3000u * 1024u);
    EXPECT_NE(text.find("writes to test pipe dropped: the reader was too slow\n"),
              std::string::npos);
}

TEST_F(HostOutputTest, EndingWithAReaderThatNeverReadsTakesAtMostTheDrainLimit) {
    auto start = Clock::now();
    {
        // Its own copy of the pipe: the writer's thread, still blocked in a write, closes it
        // once the test has closed the reading end.
        OutputWriter writer(dup(m_pipe[1]), true, "test pipe", nullptr);
        for (int i = 0; i < 200; ++i)
            writer.Write(std::string(4096, 'y'));
    }
    auto taken = Clock::now() - start;
    EXPECT_GE(taken, std::chrono::milliseconds(OutputWriter::DRAIN_LIMIT_MS - 100));
    EXPECT_LT(taken, std::chrono::milliseconds(OutputWriter::DRAIN_LIMIT_MS + 1000));
}

}  // namespace
