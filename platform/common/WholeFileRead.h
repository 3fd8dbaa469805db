// Reading a whole host file into memory, for the files the platform itself keeps beside the
// device (the registry file). Only a regular file is opened, never a pipe or device node,
// which could block the open or never end the read, and only up to a size limit.
#pragma once

#include <cstddef>
#include <string>

namespace quarrin::platform {

enum class WholeFileRead {
    Read,      // `bytes` holds the file
    Missing,   // no such file
    NotAFile,  // a folder, pipe, socket or device node (links are followed first)
    TooLarge,  // more than the limit
    Failed,    // the open or the read failed; errno tells why
};

WholeFileRead ReadWholeRegularFile(const std::string& hostPath, std::size_t maxBytes,
                                   std::string& bytes);

}  // namespace quarrin::platform
