// The Win32 file functions: each one hands over to the installed device file system.
#include "platform/api/FileApi.h"
#include "platform/api/ThreadApi.h"

#include "platform/Platform.h"
#include "platform/common/DeviceFileSystem.h"
#include "platform/common/FileObject.h"
#include "platform/common/Win32Failure.h"
#include "platform/kernel/Kernel.h"

using quarrin::kernel::LookupHandleAs;
using quarrin::kernel::SetLastErrorValue;
using quarrin::platform::CurrentServices;
using quarrin::platform::Fail;
using quarrin::platform::FileObject;

namespace {

quarrin::platform::DeviceFileSystem& Files() {
    return *CurrentServices().files;
}

// "COM2:" and the like: a name without a folder that ends in a colon.
bool IsDeviceName(LPCWSTR name) {
    std::wstring_view text(name);
    return !text.empty() && text.back() == L':' && text.find_first_of(L"\\/") == text.npos;
}

}  // namespace

HANDLE CreateFileW(LPCWSTR fileName, DWORD desiredAccess, DWORD shareMode, LPSECURITY_ATTRIBUTES,
                   DWORD creationDisposition, DWORD flagsAndAttributes, HANDLE) {
    if (fileName == nullptr) {
        SetLastErrorValue(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    if (IsDeviceName(fileName)) {
        auto* devices = CurrentServices().devices;
        if (devices == nullptr) {
            SetLastErrorValue(ERROR_FILE_NOT_FOUND);
            return INVALID_HANDLE_VALUE;
        }
        return devices->Open(fileName, desiredAccess, shareMode, creationDisposition);
    }
    return Files().CreateFile(fileName, desiredAccess, shareMode, creationDisposition,
                              flagsAndAttributes);
}

BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD bytesToRead, LPDWORD bytesRead, LPOVERLAPPED) {
    auto object = LookupHandleAs<quarrin::kernel::IoObject>(file);
    if (!object)
        return Fail(ERROR_INVALID_HANDLE);
    if (buffer == nullptr && bytesToRead > 0)
        return Fail(ERROR_INVALID_PARAMETER);
    return object->Read(buffer, bytesToRead, bytesRead);
}

BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD bytesToWrite, LPDWORD bytesWritten,
               LPOVERLAPPED) {
    auto object = LookupHandleAs<quarrin::kernel::IoObject>(file);
    if (!object)
        return Fail(ERROR_INVALID_HANDLE);
    if (buffer == nullptr && bytesToWrite > 0)
        return Fail(ERROR_INVALID_PARAMETER);
    return object->Write(buffer, bytesToWrite, bytesWritten);
}

DWORD SetFilePointer(HANDLE file, LONG distanceToMove, PLONG distanceToMoveHigh, DWORD moveMethod) {
    auto object = LookupHandleAs<FileObject>(file);
    if (!object) {
        SetLastErrorValue(ERROR_INVALID_HANDLE);
        return INVALID_SET_FILE_POINTER;
    }
    LONGLONG distance = distanceToMove;
    if (distanceToMoveHigh != nullptr) {
        distance = static_cast<LONGLONG>((static_cast<ULONGLONG>(*distanceToMoveHigh) << 32) |
                                         static_cast<DWORD>(distanceToMove));
    }
    LONGLONG position = 0;
    if (!object->Seek(distance, moveMethod, position))
        return INVALID_SET_FILE_POINTER;
    if (distanceToMoveHigh != nullptr)
        *distanceToMoveHigh = static_cast<LONG>(position >> 32);
    SetLastErrorValue(ERROR_SUCCESS);
    return static_cast<DWORD>(position);
}

DWORD GetFileSize(HANDLE file, LPDWORD fileSizeHigh) {
    auto object = LookupHandleAs<FileObject>(file);
    ULONGLONG size = 0;
    if (!object) {
        SetLastErrorValue(ERROR_INVALID_HANDLE);
        return INVALID_FILE_SIZE;
    }
    if (!object->Size(size))
        return INVALID_FILE_SIZE;
    if (fileSizeHigh != nullptr)
        *fileSizeHigh = static_cast<DWORD>(size >> 32);
    SetLastErrorValue(ERROR_SUCCESS);
    return static_cast<DWORD>(size);
}

BOOL SetEndOfFile(HANDLE file) {
    auto object = LookupHandleAs<FileObject>(file);
    return object ? object->SetEnd() : Fail(ERROR_INVALID_HANDLE);
}

BOOL FlushFileBuffers(HANDLE file) {
    auto object = LookupHandleAs<FileObject>(file);
    return object ? object->Flush() : Fail(ERROR_INVALID_HANDLE);
}

BOOL DeleteFileW(LPCWSTR fileName) {
    return Files().DeleteFile(fileName);
}

BOOL MoveFileW(LPCWSTR existingFileName, LPCWSTR newFileName) {
    return Files().MoveFile(existingFileName, newFileName);
}

BOOL CopyFileW(LPCWSTR existingFileName, LPCWSTR newFileName, BOOL failIfExists) {
    return Files().CopyFile(existingFileName, newFileName, failIfExists);
}

BOOL CreateDirectoryW(LPCWSTR pathName, LPSECURITY_ATTRIBUTES) {
    return Files().CreateDirectory(pathName);
}

BOOL RemoveDirectoryW(LPCWSTR pathName) {
    return Files().RemoveDirectory(pathName);
}

HANDLE FindFirstFileW(LPCWSTR fileName, LPWIN32_FIND_DATAW findData) {
    return Files().FindFirstFile(fileName, findData);
}

BOOL FindNextFileW(HANDLE findFile, LPWIN32_FIND_DATAW findData) {
    return quarrin::platform::DeviceFileSystem::FindNextFile(findFile, findData);
}

BOOL FindClose(HANDLE findFile) {
    return CloseHandle(findFile);
}

DWORD GetFileAttributesW(LPCWSTR fileName) {
    return Files().GetFileAttributes(fileName);
}

BOOL SetFileAttributesW(LPCWSTR fileName, DWORD fileAttributes) {
    return Files().SetFileAttributes(fileName, fileAttributes);
}

BOOL GetDiskFreeSpaceExW(LPCWSTR directoryName, PULARGE_INTEGER available, PULARGE_INTEGER total,
                         PULARGE_INTEGER totalFree) {
    ULONGLONG a = 0, t = 0, f = 0;
    if (!Files().GetDiskFreeSpaceEx(directoryName, &a, &t, &f))
        return FALSE;
    if (available != nullptr)
        available->QuadPart = a;
    if (total != nullptr)
        total->QuadPart = t;
    if (totalFree != nullptr)
        totalFree->QuadPart = f;
    return TRUE;
}

HANDLE OpenFolderW(LPCWSTR folderName) {
    return Files().OpenFolder(folderName);
}

HANDLE FindFirstFileInFolderW(HANDLE folder, LPWIN32_FIND_DATAW findData) {
    return Files().FindFirstFileInFolder(folder, findData);
}

BOOL DeleteFileInFolderW(HANDLE folder, LPCWSTR fileName, DWORD flags) {
    return Files().DeleteFileInFolder(folder, fileName, flags);
}

BOOL CopyFileInFolderW(HANDLE sourceFolder, LPCWSTR fileName, HANDLE targetFolder,
                       BOOL failIfExists) {
    return Files().CopyFileInFolder(sourceFolder, fileName, targetFolder, failIfExists);
}
