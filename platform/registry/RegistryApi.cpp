// The Reg* functions: open keys are kernel handles that remember their path and access.
#include "platform/api/RegistryApi.h"

#include <cstring>

#include "platform/Platform.h"
#include "platform/kernel/Kernel.h"
#include "platform/registry/Registry.h"

using quarrin::kernel::KernelObject;
using quarrin::platform::CurrentServices;
using quarrin::platform::JoinKeyPath;
using quarrin::platform::RegistryValue;

namespace {

class RegistryKeyObject : public KernelObject {
public:
    RegistryKeyObject(std::wstring path, REGSAM access)
        : m_path(std::move(path)), m_access(access) {}
    std::wstring m_path;
    REGSAM m_access;
};

const wchar_t* RootName(HKEY key) {
    if (key == HKEY_LOCAL_MACHINE)
        return L"HKEY_LOCAL_MACHINE";
    if (key == HKEY_CURRENT_USER)
        return L"HKEY_CURRENT_USER";
    if (key == HKEY_CLASSES_ROOT)
        return L"HKEY_CLASSES_ROOT";
    if (key == HKEY_USERS)
        return L"HKEY_USERS";
    return nullptr;
}

// The full path and access of a root key or an open key; false for anything else.
bool DescribeKey(HKEY key, std::wstring& path, REGSAM& access) {
    if (const wchar_t* root = RootName(key)) {
        path = root;
        access = KEY_ALL_ACCESS;
        return true;
    }
    auto object = quarrin::kernel::LookupHandleAs<RegistryKeyObject>(key);
    if (!object)
        return false;
    path = object->m_path;
    access = object->m_access;
    return true;
}

quarrin::platform::Registry* CurrentRegistry() {
    return CurrentServices().registry;
}

}  // namespace

LONG RegOpenKeyExW(HKEY key, LPCWSTR subKey, DWORD, REGSAM desired, PHKEY result) {
    if (result == nullptr)
        return ERROR_INVALID_PARAMETER;
    *result = nullptr;
    std::wstring path;
    REGSAM ignored = 0;
    if (!DescribeKey(key, path, ignored))
        return ERROR_INVALID_HANDLE;
    path = JoinKeyPath(path, subKey == nullptr ? L"" : subKey);
    auto* registry = CurrentRegistry();
    if (registry == nullptr || !registry->KeyExists(path))
        return ERROR_FILE_NOT_FOUND;
    HANDLE handle = quarrin::kernel::InsertHandle(
        std::make_shared<RegistryKeyObject>(std::move(path), desired));
    *result = reinterpret_cast<HKEY>(handle);
    return ERROR_SUCCESS;
}

LONG RegQueryValueExW(HKEY key, LPCWSTR valueName, LPDWORD, LPDWORD type, LPBYTE data,
                      LPDWORD dataSize) {
    std::wstring path;
    REGSAM access = 0;
    if (!DescribeKey(key, path, access))
        return ERROR_INVALID_HANDLE;
    if (data != nullptr && dataSize == nullptr)
        return ERROR_INVALID_PARAMETER;
    if (!(access & KEY_QUERY_VALUE))
        return ERROR_ACCESS_DENIED;
    auto* registry = CurrentRegistry();
    RegistryValue value;
    DWORD error = registry == nullptr ? ERROR_FILE_NOT_FOUND
                                      : registry->Query(path, valueName ? valueName : L"", value);
    if (error != ERROR_SUCCESS)
        return static_cast<LONG>(error);
    if (type != nullptr)
        *type = value.type;
    auto size = static_cast<DWORD>(value.data.size());
    if (data != nullptr && *dataSize < size) {
        *dataSize = size;
        return ERROR_MORE_DATA;
    }
    if (data != nullptr)
        std::memcpy(data, value.data.data(), size);
    if (dataSize != nullptr)
        *dataSize = size;
    return ERROR_SUCCESS;
}

LONG RegSetValueExW(HKEY key, LPCWSTR valueName, DWORD, DWORD type, const BYTE* data,
                    DWORD dataSize) {
    std::wstring path;
    REGSAM access = 0;
    if (!DescribeKey(key, path, access))
        return ERROR_INVALID_HANDLE;
    if (data == nullptr && dataSize > 0)
        return ERROR_INVALID_PARAMETER;
    if (!(access & KEY_SET_VALUE))
        return ERROR_ACCESS_DENIED;
    auto* registry = CurrentRegistry();
    if (registry == nullptr)
        return ERROR_FILE_NOT_FOUND;
    std::vector<BYTE> bytes(data, data + dataSize);
    return static_cast<LONG>(registry->Set(path, valueName ? valueName : L"", type, bytes));
}

LONG RegCloseKey(HKEY key) {
    if (RootName(key) != nullptr)
        return ERROR_SUCCESS;
    if (!quarrin::kernel::LookupHandleAs<RegistryKeyObject>(key))
        return ERROR_INVALID_HANDLE;
    quarrin::kernel::RemoveHandle(key);
    return ERROR_SUCCESS;
}
