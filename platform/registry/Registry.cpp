#include "platform/registry/Registry.h"

#include <cstring>

#include "platform/common/DeviceFileSystem.h"

namespace quarrin::platform {

Registry::Registry(RegistryTree initial, RegistryStore* store)
    : m_tree(std::move(initial)), m_store(store) {}

bool Registry::KeyExists(std::wstring_view path) {
    std::lock_guard guard(m_lock);
    return m_tree.Find(path) != nullptr;
}

DWORD Registry::Query(std::wstring_view path, std::wstring_view name, RegistryValue& out) {
    std::lock_guard guard(m_lock);
    RegistryKey* key = m_tree.Find(path);
    if (key == nullptr)
        return ERROR_FILE_NOT_FOUND;
    RegistryValue* value = key->Find(name);
    if (value == nullptr)
        return ERROR_FILE_NOT_FOUND;
    out = *value;
    return ERROR_SUCCESS;
}

DWORD Registry::Set(std::wstring_view path, std::wstring_view name, DWORD type,
                    std::vector<BYTE> data) {
    // A name the registry file cannot carry would be written and then break the whole file
    // at the next load; it is refused instead.
    if (!FitsRegText(name))
        return ERROR_INVALID_PARAMETER;
    std::lock_guard guard(m_lock);
    if (m_tree.Find(path) == nullptr)
        return ERROR_FILE_NOT_FOUND;
    // The change is made on a copy and taken over only once it is durable.
    RegistryTree changed = m_tree;
    RegistryKey* key = changed.Find(path);
    RegistryValue value{std::wstring(name), type, std::move(data)};
    if (RegistryValue* existing = key->Find(name)) {
        existing->type = value.type;
        existing->data = std::move(value.data);
    } else {
        key->values.push_back(std::move(value));
    }
    if (m_store != nullptr) {
        DWORD error = m_store->Save(changed);
        if (error != ERROR_SUCCESS)
            return error;
    }
    m_tree = std::move(changed);
    return ERROR_SUCCESS;
}

void Registry::CreateKey(std::wstring_view path) {
    std::lock_guard guard(m_lock);
    m_tree.Create(path);
}

void Registry::DeleteKey(std::wstring_view path) {
    std::lock_guard guard(m_lock);
    std::wstring prefix = FoldCase(JoinKeyPath(L"", path));
    std::erase_if(m_tree.keys, [&prefix](const auto& entry) {
        return entry.first == prefix || entry.first.rfind(prefix + L"\\", 0) == 0;
    });
}

void Registry::SetDword(std::wstring_view path, std::wstring_view name, DWORD value) {
    {
        std::lock_guard guard(m_lock);
        m_tree.Create(path);
    }
    std::vector<BYTE> bytes(4);
    std::memcpy(bytes.data(), &value, 4);
    Set(path, name, REG_DWORD, std::move(bytes));
}

std::optional<DWORD> Registry::Dword(std::wstring_view path, std::wstring_view name) {
    RegistryValue value;
    if (Query(path, name, value) != ERROR_SUCCESS || value.type != REG_DWORD ||
        value.data.size() != 4) {
        return std::nullopt;
    }
    DWORD number = 0;
    std::memcpy(&number, value.data.data(), 4);
    return number;
}

RegistryTree Registry::Snapshot() {
    std::lock_guard guard(m_lock);
    return m_tree;
}

}  // namespace quarrin::platform
