// CreateProcessW: resolves the device path, then lets the platform's launcher start it.
#include "platform/Platform.h"
#include "platform/api/ThreadApi.h"
#include "platform/common/DeviceFileSystem.h"
#include "platform/kernel/Kernel.h"

using quarrin::kernel::SetLastErrorValue;

namespace {
// The started program runs on its own; its handles only need to be closable.
class ProcessObject : public quarrin::kernel::KernelObject {};
}  // namespace

BOOL CreateProcessW(LPCWSTR applicationName, LPWSTR, LPSECURITY_ATTRIBUTES, LPSECURITY_ATTRIBUTES,
                    BOOL, DWORD creationFlags, LPVOID, LPCWSTR, LPSTARTUPINFOW,
                    LPPROCESS_INFORMATION processInformation) {
    auto& services = quarrin::platform::CurrentServices();
    if (applicationName == nullptr) {
        SetLastErrorValue(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    quarrin::platform::ResolvedPath path = services.files->Resolve(applicationName);
    DWORD error = path.error;
    if (error == ERROR_SUCCESS && !path.exists)
        error = ERROR_FILE_NOT_FOUND;
    if (error == ERROR_SUCCESS && path.IsDirectory())
        error = ERROR_ACCESS_DENIED;
    if (error == ERROR_SUCCESS)
        error = services.processes->Launch(path.host, applicationName, creationFlags);
    if (error != ERROR_SUCCESS) {
        SetLastErrorValue(error);
        return FALSE;
    }
    if (processInformation != nullptr) {
        static std::atomic<DWORD> s_nextId{0x2000};
        processInformation->hProcess =
            quarrin::kernel::InsertHandle(std::make_shared<ProcessObject>());
        processInformation->hThread =
            quarrin::kernel::InsertHandle(std::make_shared<ProcessObject>());
        processInformation->dwProcessId = s_nextId.fetch_add(4);
        processInformation->dwThreadId = s_nextId.fetch_add(4);
    }
    SetLastErrorValue(ERROR_SUCCESS);
    return TRUE;
}
