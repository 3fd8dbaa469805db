// A file written whole or not at all: the content goes to a temporary file beside the
// destination, which is renamed over the destination only once it is complete and on the
// disk. A failure, or a process stopped halfway, leaves the destination as it was (an
// earlier package stays usable) and removes the temporary file.
#pragma once

#include <string>

namespace quarrin::package {

class OutputFile {
public:
    OutputFile() = default;
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Creates the temporary file for `path`; false with a message naming `path`. A
    // destination that is a character device or a pipe (/dev/null, a process substitution) is
    // written directly: there is nothing under its name to keep.
    bool Open(const std::string& path, std::string& error);
    int Fd() const { return m_fd; }

    // Flushes the content to the disk and puts it under the destination's name.
    bool Commit(std::string& error);

private:
    void Discard();

    std::string m_path;       // as given, for messages
    std::string m_target;     // the file replaced: `m_path` with a link at its end resolved
    std::string m_temporary;  // empty when written directly
    int m_fd = -1;
};

}  // namespace quarrin::package
