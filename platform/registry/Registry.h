// The live registry of a platform: the tree behind the Reg* functions, guarded by one lock,
// and the store that makes each change durable.
#pragma once

#include <mutex>
#include <optional>
#include <string>

#include "platform/registry/RegistryTree.h"

namespace quarrin::platform {

// Keeps the registry somewhere that survives the process. Save returns ERROR_SUCCESS, or a
// Win32 error when the change could not be made durable (the old content is then intact).
class RegistryStore {
public:
    virtual ~RegistryStore() = default;
    virtual DWORD Save(const RegistryTree& tree) = 0;
};

class Registry {
public:
    explicit Registry(RegistryTree initial = DefaultDeviceRegistry(),
                      RegistryStore* store = nullptr);

    bool KeyExists(std::wstring_view path);
    // ERROR_FILE_NOT_FOUND for a missing key or value.
    DWORD Query(std::wstring_view path, std::wstring_view name, RegistryValue& out);
    // Sets the value of an existing key; the change is kept only when the store saved it.
    DWORD Set(std::wstring_view path, std::wstring_view name, DWORD type, std::vector<BYTE> data);

    // For platforms and tests: shape the registry directly.
    void CreateKey(std::wstring_view path);
    void DeleteKey(std::wstring_view path);
    void SetDword(std::wstring_view path, std::wstring_view name, DWORD value);
    std::optional<DWORD> Dword(std::wstring_view path, std::wstring_view name);
    RegistryTree Snapshot();

private:
    std::mutex m_lock;
    RegistryTree m_tree;
    RegistryStore* m_store;
};

}  // namespace quarrin::platform
