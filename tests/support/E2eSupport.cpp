#include "tests/support/E2eSupport.h"

#include "tests/support/DeepTree.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <thread>

extern char** environ;

namespace fs = std::filesystem;

namespace e2e {

RunResult RunProgram(const std::string& program, const std::vector<std::string>& arguments,
                     std::chrono::seconds limit) {
    return RunProgramUntil(
        program, arguments, [] { return false; }, limit);
}

RunResult RunProgramUntil(const std::string& program, const std::vector<std::string>& arguments,
                          const std::function<bool()>& done, std::chrono::seconds limit,
                          bool* stopped) {
    if (stopped != nullptr)
        *stopped = false;
    fs::path scratch = fs::temp_directory_path() /
                       ("quarrin-run-" + std::to_string(getpid()) + "-" + std::to_string(rand()));
    fs::create_directories(scratch);
    std::string outPath = (scratch / "out").string();
    std::string errPath = (scratch / "err").string();
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const std::string& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    pid_t pid = 0;
    RunResult result;
    if (posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ) == 0) {
        auto deadline = std::chrono::steady_clock::now() + limit;
        auto nextCheck = std::chrono::steady_clock::now();
        int status = 0;
        for (;;) {
            pid_t exited = waitpid(pid, &status, WNOHANG);
            if (exited == pid)
                break;
            auto now = std::chrono::steady_clock::now();
            bool finished = false;
            if (now >= nextCheck) {
                finished = done();
                nextCheck = now + std::chrono::milliseconds(10);
            }
            if (finished || now > deadline) {
                if (finished && stopped != nullptr)
                    *stopped = true;
                kill(pid, SIGKILL);
                waitpid(pid, &status, 0);
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    posix_spawn_file_actions_destroy(&actions);
    result.out = ReadFile(outPath);
    result.err = ReadFile(errPath);
    fs::remove_all(scratch);
    return result;
}

RunResult RunQuarrin(const std::vector<std::string>& arguments) {
    return RunProgram(QUARRIN_BINARY, arguments);
}

ShellRun RunShell(const std::string& command) {
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr)
        return {-1, ""};
    std::string output;
    char buffer[512];
    while (std::size_t n = std::fread(buffer, 1, sizeof buffer, pipe))
        output.append(buffer, n);
    int status = pclose(pipe);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, output};
}

DeviceRoot::DeviceRoot() {
    std::string pattern = (fs::temp_directory_path() / "quarrin-e2e-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr)
        throw std::runtime_error("mkdtemp failed");
    m_path = pattern;
}

DeviceRoot::~DeviceRoot() {
    std::error_code ignored;
    fs::remove_all(m_path, ignored);
    if (fs::exists(m_path, ignored))
        deeptree::RemoveTreeAt(AT_FDCWD, m_path.c_str());  // deeper than one host path reaches
}

void PutDeepFile(const fs::path& base, int depth, const std::string& leaf,
                 const std::string& bytes) {
    fs::create_directories(base);
    deeptree::PutDeepFile(base.string(), depth, leaf, bytes);
}

fs::path DeviceRoot::Put(const std::string& relative, const std::string& bytes) {
    fs::path path = m_path / fs::u8path(relative);
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
    return path;
}

fs::path DeviceRoot::PutProgram(const std::string& relative, const fs::path& marker) {
    fs::path path = Put(relative, MarkerScript(marker, "started"));
    fs::permissions(path, fs::perms::owner_exec, fs::perm_options::add);
    return path;
}

std::string DeviceRoot::Read(const std::string& relative) const {
    return ReadFile(m_path / fs::u8path(relative));
}

std::string MarkerScript(const fs::path& marker, const std::string& text) {
    // Written beside the marker's folder, out of any tree a test compares, and renamed.
    std::string target = "'" + marker.string() + "'";
    std::string aside =
        "'" + (marker.parent_path().parent_path() / marker.filename()).string() + "'.$$";
    return "#!/bin/sh\necho " + text + " > " + aside + " && mv " + aside + " " + target + "\n";
}

bool WaitForFile(const fs::path& path) {
    for (int i = 0; i < 2000; ++i) {
        if (fs::exists(path))
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
}

std::vector<std::string> SplitCrLfLines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2) {
        lines.push_back(text.substr(start, end - start));
    }
    if (start < text.size())
        lines.push_back(text.substr(start));
    return lines;
}

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

bool TraceShows(const fs::path& trace, const std::string& text) {
    std::ifstream in(trace);
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("TEXT ", 0) == 0 && line.find(text) != std::string::npos)
            return true;
    }
    return false;
}

}  // namespace e2e

namespace e2e {

BackgroundProgram::BackgroundProgram(const std::string& program,
                                     const std::vector<std::string>& arguments) {
    int pipeFds[2];
    if (pipe(pipeFds) != 0)
        return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
    posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const std::string& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    pid_t pid = 0;
    if (posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ) == 0)
        m_pid = pid;
    posix_spawn_file_actions_destroy(&actions);
    close(pipeFds[1]);
    char c;
    while (read(pipeFds[0], &c, 1) == 1 && c != '\n')
        m_firstLine.push_back(c);
    close(pipeFds[0]);
}

BackgroundProgram::~BackgroundProgram() {
    Stop();
}

int BackgroundProgram::Stop() {
    if (m_pid <= 0)
        return -1;
    kill(m_pid, SIGTERM);
    int status = 0;
    waitpid(m_pid, &status, 0);
    m_pid = -1;
    return status;
}

}  // namespace e2e
