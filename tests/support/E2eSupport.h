// Running the real quarrin binary against a temporary device root.
#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace e2e {

// The co-processor simulator, for the tests that run it beside the loader.
inline const std::string kSim = COPROC_SIM_BINARY;

struct RunResult {
    int exitCode = -1;
    std::string out;
    std::string err;
};

// Runs `program` with `arguments`, standard input closed; waits at most `limit`.
RunResult RunProgram(const std::string& program, const std::vector<std::string>& arguments,
                     std::chrono::seconds limit = std::chrono::seconds(60));
RunResult RunQuarrin(const std::vector<std::string>& arguments);
// Runs `program` until it exits, `done` answers true (asked every 10 ms) or `limit` passes;
// a program still running then is killed (exit code 128 + 9). `stopped` tells whether `done`
// ended the run.
RunResult RunProgramUntil(const std::string& program, const std::vector<std::string>& arguments,
                          const std::function<bool()>& done, std::chrono::seconds limit,
                          bool* stopped = nullptr);

// Runs `command` with /bin/sh and waits for it: its exit code (-1 when it did not exit) and
// what it wrote to standard output.
struct ShellRun {
    int status;
    std::string output;
};
ShellRun RunShell(const std::string& command);

// A temporary device root, removed at the end of the test.
class DeviceRoot {
public:
    DeviceRoot();
    ~DeviceRoot();
    const std::filesystem::path& Path() const { return m_path; }
    std::filesystem::path Put(const std::string& relative, const std::string& bytes);
    // An executable script that records its start by creating `marker`.
    std::filesystem::path PutProgram(const std::string& relative,
                                     const std::filesystem::path& marker);
    std::string Read(const std::string& relative) const;

private:
    std::filesystem::path m_path;
};

// Writes `leaf` below `depth` nested folders of 51 or more characters ("ddd...d1/ddd...d2/...")
// made in `base`, one at a time, so that the whole path may be longer than the host lets one
// path be (4096 bytes from 75 levels on). A DeviceRoot removes such a tree too.
void PutDeepFile(const std::filesystem::path& base, int depth, const std::string& leaf,
                 const std::string& bytes);

// A shell script that writes `text` and a line break to `marker` at once: a waiter that
// sees the marker also sees its text.
std::string MarkerScript(const std::filesystem::path& marker, const std::string& text);
// Waits (up to 10 s) for a file that a detached program creates.
bool WaitForFile(const std::filesystem::path& path);

std::vector<std::string> SplitCrLfLines(const std::string& text);

// The whole content of a host file; empty when it cannot be read.
std::string ReadFile(const std::filesystem::path& path);

// Whether a `--screen-trace` file shows a text line containing `text`.
bool TraceShows(const std::filesystem::path& trace, const std::string& text);

}  // namespace e2e

namespace e2e {

// A program running beside the test (a co-processor simulator): its first line of standard
// output is read at start; it is stopped with SIGTERM at the end.
class BackgroundProgram {
public:
    BackgroundProgram(const std::string& program, const std::vector<std::string>& arguments);
    ~BackgroundProgram();
    const std::string& FirstLine() const { return m_firstLine; }
    // Stops the program and waits for it; returns its exit status.
    int Stop();

private:
    int m_pid = -1;
    std::string m_firstLine;
};

}  // namespace e2e
