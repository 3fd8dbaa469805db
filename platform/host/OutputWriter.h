// Text output of the host build (standard output and error, the log file, the screen trace)
// written by a thread of its own. A caller only queues its bytes, so a reader that is slow,
// stops reading or goes away never holds back the thread that wrote (the link's send thread
// traces every frame it writes, the dialog thread reports progress).
//
// A write that fails (a closed pipe gives EPIPE once SIGPIPE is ignored, a full disk ENOSPC)
// ends this output: `onFailure` is called once with "cannot write to NAME: REASON" and later
// text is dropped. Text beyond QUEUE_LIMIT_BYTES waiting is dropped too, and the number of
// dropped writes is written when the output has caught up. The loader goes on in every case.
#pragma once

#include <functional>
#include <memory>
#include <string>

namespace quarrin::platform {

class OutputWriter {
public:
    using FailureReport = std::function<void(const std::string& text)>;

    static constexpr std::size_t QUEUE_LIMIT_BYTES = 1 << 20;
    // How long destruction waits for queued text to reach a reader that does not read.
    static constexpr int DRAIN_LIMIT_MS = 2000;

    // Writes to `fd`, which it closes at the end when `owned`. `onFailure` runs on the
    // writer's thread and must not block.
    OutputWriter(int fd, bool owned, std::string name, FailureReport onFailure);
    // Writes what is queued (waiting at most DRAIN_LIMIT_MS) and ends the thread.
    ~OutputWriter();
    OutputWriter(const OutputWriter&) = delete;
    OutputWriter& operator=(const OutputWriter&) = delete;

    // Queues the bytes; never waits for the reader.
    void Write(std::string bytes);
    // True once a write has failed.
    bool Failed() const;

private:
    struct State;
    std::shared_ptr<State> m_state;
};

}  // namespace quarrin::platform
