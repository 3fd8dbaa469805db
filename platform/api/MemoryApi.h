// Named shared memory: file mappings backed by the paging file, with the device's Win32
// semantics. Mappings are shared by name within the process: a second CreateFileMappingW of
// the same name returns a new handle to the same memory and sets the last error to
// ERROR_ALREADY_EXISTS. The memory lives while a handle or a view of it remains.
#pragma once

#include "platform/Win32Types.h"

inline constexpr DWORD PAGE_READONLY = 0x02;
inline constexpr DWORD PAGE_READWRITE = 0x04;

inline constexpr DWORD FILE_MAP_COPY = 0x0001;
inline constexpr DWORD FILE_MAP_WRITE = 0x0002;
inline constexpr DWORD FILE_MAP_READ = 0x0004;
inline constexpr DWORD FILE_MAP_ALL_ACCESS = 0x000F001F;

inline constexpr DWORD ERROR_INVALID_ADDRESS = 487;

// Only the paging file (file INVALID_HANDLE_VALUE) backs a mapping here; a new mapping needs
// a size above 0 and starts zero-filled. An existing one keeps its size.
HANDLE CreateFileMappingW(HANDLE file, LPSECURITY_ATTRIBUTES attributes, DWORD protect,
                          DWORD maximumSizeHigh, DWORD maximumSizeLow, LPCWSTR name);
// Maps `bytes` from the offset (0: up to the end). Null with the last error on failure.
LPVOID MapViewOfFile(HANDLE mapping, DWORD desiredAccess, DWORD offsetHigh, DWORD offsetLow,
                     SIZE_T bytes);
BOOL UnmapViewOfFile(LPCVOID baseAddress);
