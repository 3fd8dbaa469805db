// The registry's content as plain data, and its text form: the ".reg" format
// ("Windows Registry Editor Version 5.00", [key] sections, "name"=value lines).
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Win32Types.h"
#include "platform/api/RegistryApi.h"

namespace quarrin::platform {

struct RegistryValue {
    std::wstring name;  // as written; "" is the key's default value
    DWORD type = 0;
    std::vector<BYTE> data;
};

struct RegistryKey {
    std::wstring path;  // full path from the root key, "HKEY_LOCAL_MACHINE\\HARDWARE\\..."
    std::vector<RegistryValue> values;  // in the order they were first set

    RegistryValue* Find(std::wstring_view name);
};

// Keys by folded path, so that lookups ignore case and the file lists keys in a stable order.
struct RegistryTree {
    std::map<std::wstring, RegistryKey> keys;

    RegistryKey* Find(std::wstring_view path);
    // Creates the key and every key above it that is missing.
    RegistryKey& Create(std::wstring_view path);
};

// Joins a root name and a sub-key path, dropping empty components ("A\\\\B\\" -> "A\\B").
std::wstring JoinKeyPath(std::wstring_view parent, std::wstring_view child);

// Whether the text form carries `text` unchanged as a quoted name or a key path: no line
// break, and only characters that UTF-8 can carry (no surrogate halves, nothing past U+10FFFF).
bool FitsRegText(std::wstring_view text);

// The keys a unit has before anything is written: the touch driver's key.
RegistryTree DefaultDeviceRegistry();

std::string FormatRegFile(const RegistryTree& tree);

struct RegParseResult {
    std::optional<RegistryTree> tree;  // empty when the text is malformed
    int errorLine = 0;                 // 1-based line of the first error
    std::string error;
};
RegParseResult ParseRegFile(std::string_view text);

}  // namespace quarrin::platform
