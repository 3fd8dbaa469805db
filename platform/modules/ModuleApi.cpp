// Libraries are host shared objects kept in the device's file system and opened with dlopen.
// Each LoadLibraryW gives a handle of its own that holds one reference to the library.
#include "platform/api/ModuleApi.h"

#include <dlfcn.h>

#include <cstdio>

#include "platform/Platform.h"
#include "platform/common/DeviceEntryRules.h"
#include "platform/common/DeviceFileSystem.h"
#include "platform/common/TextCodec.h"
#include "platform/kernel/Kernel.h"

using quarrin::kernel::SetLastErrorValue;
using quarrin::platform::CurrentServices;

namespace {

class ModuleObject : public quarrin::kernel::KernelObject {
public:
    explicit ModuleObject(void* library) : m_library(library) {}
    ~ModuleObject() override { dlclose(m_library); }
    void* m_library;
};

std::wstring SearchPath(LPCWSTR fileName) {
    std::wstring_view name(fileName);
    if (name.find_first_of(L"\\/") == std::wstring_view::npos)
        return L"Windows\\" + std::wstring(name);
    return std::wstring(name);
}

// Why the library at `path` cannot be loaded, before the host is asked: ERROR_SUCCESS for a
// file the device would open. A pipe or device node would block the host's open, and a case
// twin is not the file its name gives on the device, so neither is loaded.
DWORD LibraryFileError(const quarrin::platform::ResolvedPath& path) {
    using quarrin::platform::ClassifyEntry;
    using quarrin::platform::EntryKind;
    if (path.error == ERROR_PATH_NOT_FOUND || (path.error == ERROR_SUCCESS && !path.exists))
        return ERROR_MOD_NOT_FOUND;
    if (path.error != ERROR_SUCCESS)
        return path.error;
    if (ClassifyEntry(path.info) != EntryKind::File || path.caseTwin)
        return ERROR_ACCESS_DENIED;
    return ERROR_SUCCESS;
}

}  // namespace

DWORD SearchPathW(LPCWSTR path, LPCWSTR fileName, LPCWSTR extension, DWORD bufferLength,
                  LPWSTR buffer, LPWSTR* filePart) {
    if (path != nullptr || extension != nullptr || fileName == nullptr || *fileName == L'\0') {
        SetLastErrorValue(ERROR_INVALID_PARAMETER);
        return 0;
    }
    std::wstring devicePath = SearchPath(fileName);
    quarrin::platform::ResolvedPath found = CurrentServices().files->Resolve(devicePath.c_str());
    if (LibraryFileError(found) != ERROR_SUCCESS) {
        SetLastErrorValue(ERROR_FILE_NOT_FOUND);
        return 0;
    }
    auto length = static_cast<DWORD>(devicePath.size());
    if (buffer == nullptr || bufferLength <= length)
        return length + 1;
    devicePath.copy(buffer, length);
    buffer[length] = L'\0';
    if (filePart != nullptr) {
        auto slash = devicePath.find_last_of(L"\\/");
        *filePart = buffer + (slash == std::wstring::npos ? 0 : slash + 1);
    }
    SetLastErrorValue(ERROR_SUCCESS);
    return length;
}

HMODULE LoadLibraryW(LPCWSTR fileName) {
    if (fileName == nullptr || *fileName == L'\0') {
        SetLastErrorValue(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    auto& files = *CurrentServices().files;
    std::wstring devicePath = SearchPath(fileName);
    quarrin::platform::ResolvedPath path = files.Resolve(devicePath.c_str());
    DWORD error = LibraryFileError(path);
    if (error == ERROR_SUCCESS) {
        error = files.RunHook(quarrin::platform::FileOp::Open, devicePath).error;
    }
    if (error != ERROR_SUCCESS) {
        SetLastErrorValue(error);
        return nullptr;
    }
    void* library = dlopen(path.host.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
        // The host's reason (a missing symbol, a foreign format) helps whoever built it.
        std::fprintf(stderr, "quarrin: LoadLibraryW: %s\n", dlerror());
        SetLastErrorValue(ERROR_BAD_EXE_FORMAT);
        return nullptr;
    }
    HANDLE handle = quarrin::kernel::InsertHandle(std::make_shared<ModuleObject>(library));
    SetLastErrorValue(ERROR_SUCCESS);
    return reinterpret_cast<HMODULE>(handle);
}

FARPROC GetProcAddressW(HMODULE module, LPCWSTR procName) {
    auto object = quarrin::kernel::LookupHandleAs<ModuleObject>(module);
    if (!object) {
        SetLastErrorValue(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    if (procName == nullptr) {
        SetLastErrorValue(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    std::string name = quarrin::platform::WideToUtf8(procName);
    dlerror();
    void* symbol = dlsym(object->m_library, name.c_str());
    if (symbol == nullptr) {
        SetLastErrorValue(ERROR_PROC_NOT_FOUND);
        return nullptr;
    }
    return reinterpret_cast<FARPROC>(symbol);
}

BOOL FreeLibrary(HMODULE module) {
    if (!quarrin::kernel::LookupHandleAs<ModuleObject>(module)) {
        SetLastErrorValue(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    quarrin::kernel::RemoveHandle(module);
    return TRUE;
}
