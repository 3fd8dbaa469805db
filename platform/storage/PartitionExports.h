// What a file-system module loaded at run time (the formatter "fatutil.dll") may call in the
// executable besides the Win32 functions: the one way from a partition handle to the folder
// that backs its volume. The executable exports it (it is linked with exported symbols).
#pragma once

#include <cstddef>

#include "platform/Win32Types.h"

#ifdef _WIN32
#define QUARRIN_EXECUTABLE_EXPORT __declspec(dllexport)
#else
#define QUARRIN_EXECUTABLE_EXPORT __attribute__((visibility("default")))
#endif

extern "C" {
// Copies the host folder of the dismounted partition's volume, NUL-terminated and in UTF-8,
// into `buffer`. Returns the length without the terminator, or 0 with the last error set:
// ERROR_INVALID_HANDLE, ERROR_BUSY (the partition is mounted), ERROR_PATH_NOT_FOUND (the
// folder is missing), ERROR_INSUFFICIENT_BUFFER.
QUARRIN_EXECUTABLE_EXPORT std::size_t QuarrinPartitionHostFolder(HANDLE partition, char* buffer,
                                                                 std::size_t capacity);
}

// The exported name, for a module that looks the function up at run time.
inline constexpr char QUARRIN_PARTITION_HOST_FOLDER[] = "QuarrinPartitionHostFolder";
