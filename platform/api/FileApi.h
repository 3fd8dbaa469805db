// Files and directories of the device, with the device's Win32 semantics: handles,
// GetLastError codes, creation dispositions, sharing modes and attributes.
//
// Paths are device paths such as "ResidentFlash2\UpdateInfo.dat" or "\Windows\explorer.exe";
// names match without regard to case, as on the device's FAT volumes.
#pragma once

#include "platform/Win32Types.h"

HANDLE CreateFileW(LPCWSTR fileName, DWORD desiredAccess, DWORD shareMode,
                   LPSECURITY_ATTRIBUTES securityAttributes, DWORD creationDisposition,
                   DWORD flagsAndAttributes, HANDLE templateFile);
BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD bytesToRead, LPDWORD bytesRead,
              LPOVERLAPPED overlapped);
BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD bytesToWrite, LPDWORD bytesWritten,
               LPOVERLAPPED overlapped);
DWORD SetFilePointer(HANDLE file, LONG distanceToMove, PLONG distanceToMoveHigh, DWORD moveMethod);
DWORD GetFileSize(HANDLE file, LPDWORD fileSizeHigh);
BOOL SetEndOfFile(HANDLE file);
BOOL FlushFileBuffers(HANDLE file);

BOOL DeleteFileW(LPCWSTR fileName);
BOOL MoveFileW(LPCWSTR existingFileName, LPCWSTR newFileName);
BOOL CopyFileW(LPCWSTR existingFileName, LPCWSTR newFileName, BOOL failIfExists);
BOOL CreateDirectoryW(LPCWSTR pathName, LPSECURITY_ATTRIBUTES securityAttributes);
BOOL RemoveDirectoryW(LPCWSTR pathName);

HANDLE FindFirstFileW(LPCWSTR fileName, LPWIN32_FIND_DATAW findData);
BOOL FindNextFileW(HANDLE findFile, LPWIN32_FIND_DATAW findData);
BOOL FindClose(HANDLE findFile);

DWORD GetFileAttributesW(LPCWSTR fileName);
BOOL SetFileAttributesW(LPCWSTR fileName, DWORD fileAttributes);
BOOL GetDiskFreeSpaceExW(LPCWSTR directoryName, PULARGE_INTEGER freeBytesAvailableToCaller,
                         PULARGE_INTEGER totalNumberOfBytes,
                         PULARGE_INTEGER totalNumberOfFreeBytes);

// Whether the entry `path` is the folder `folder` itself or lies anywhere below it on the
// storage behind the device's volumes. Entries are compared by file identity, not by name, so
// one folder reached through two volumes (two volume folders linked to one card) is one
// folder. TRUE with *within set; FALSE with the last error when either entry cannot be
// reached (2, 3, 5, 206) or `folder` is no folder (ERROR_DIRECTORY).
BOOL IsPathWithinFolderW(LPCWSTR path, LPCWSTR folder, PBOOL within);

// Folder handles, for walks of whole trees (not Win32 calls). A folder handle keeps a folder
// of the device open, so that the calls below reach the entries it lists by name, relative
// to it, without resolving the folder's path again; each keeps the rules and error codes of
// its path-based counterpart. CloseHandle closes it.
//
// OpenFolderW: INVALID_HANDLE_VALUE with 2, 3, 5, 123 or 206 as the path gives,
// ERROR_PATH_NOT_FOUND for a missing folder or a path that names a file.
HANDLE OpenFolderW(LPCWSTR folderName);
// Lists every entry of the folder, as FindFirstFileW("folder\*") would, with what the host's
// listing tells of each entry: its name and FILE_ATTRIBUTE_DIRECTORY or FILE_ATTRIBUTE_NORMAL,
// no size, times or read-only attribute (a file of 4 GiB or more shows when it is opened).
// FindNextFileW and FindClose work on the search; an empty folder gives ERROR_FILE_NOT_FOUND.
HANDLE FindFirstFileInFolderW(HANDLE folder, LPWIN32_FIND_DATAW findData);
// DeleteFileW of the entry `fileName` of the folder. With DELETE_IN_FOLDER_READ_ONLY a
// read-only file is deleted as well, as a reset of its attributes and a deletion would.
inline constexpr DWORD DELETE_IN_FOLDER_READ_ONLY = 0x1;
BOOL DeleteFileInFolderW(HANDLE folder, LPCWSTR fileName, DWORD flags);
// CopyFileW of the entry `fileName` of `sourceFolder` to the same name in `targetFolder`.
BOOL CopyFileInFolderW(HANDLE sourceFolder, LPCWSTR fileName, HANDLE targetFolder,
                       BOOL failIfExists);
