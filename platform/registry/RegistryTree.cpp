#include "platform/registry/RegistryTree.h"

#include <cstdio>
#include <cstring>

#include "platform/common/DeviceFileSystem.h"
#include "platform/common/TextCodec.h"

namespace quarrin::platform {

namespace {

constexpr std::string_view kHeader = "Windows Registry Editor Version 5.00";
constexpr std::string_view kOldHeader = "REGEDIT4";
constexpr const wchar_t* kRootNames[] = {L"HKEY_LOCAL_MACHINE", L"HKEY_CURRENT_USER",
                                         L"HKEY_CLASSES_ROOT", L"HKEY_USERS"};

bool HasKnownRoot(std::wstring_view path) {
    std::wstring_view root = path.substr(0, path.find(L'\\'));
    for (const wchar_t* name : kRootNames) {
        if (FoldCase(root) == FoldCase(name))
            return true;
    }
    return false;
}

std::string_view Trim(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) {
        text.remove_suffix(1);
    }
    return text;
}

struct ParseError {
    std::string message;
};

int HexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

std::vector<BYTE> ParseHexBytes(std::string_view text) {
    std::vector<BYTE> bytes;
    text = Trim(text);
    if (text.empty())
        return bytes;
    while (true) {
        std::size_t comma = text.find(',');
        std::string_view item = Trim(text.substr(0, comma));
        if (item.size() != 2 || HexDigit(item[0]) < 0 || HexDigit(item[1]) < 0) {
            throw ParseError{"bad hex byte '" + std::string(item) + "'"};
        }
        bytes.push_back(static_cast<BYTE>(HexDigit(item[0]) * 16 + HexDigit(item[1])));
        if (comma == std::string_view::npos)
            return bytes;
        text.remove_prefix(comma + 1);
    }
}

std::vector<BYTE> DwordBytes(DWORD value) {
    return {static_cast<BYTE>(value), static_cast<BYTE>(value >> 8), static_cast<BYTE>(value >> 16),
            static_cast<BYTE>(value >> 24)};
}

std::vector<BYTE> StringBytes(const std::wstring& text) {
    std::vector<BYTE> bytes((text.size() + 1) * sizeof(wchar_t), 0);
    std::memcpy(bytes.data(), text.data(), text.size() * sizeof(wchar_t));
    return bytes;
}

// Reads a quoted text with \\ and \" escapes from the front of `text`; leaves the rest.
std::string ReadQuoted(std::string_view& text) {
    if (text.empty() || text.front() != '"')
        throw ParseError{"expected '\"'"};
    std::string out;
    for (std::size_t i = 1; i < text.size(); ++i) {
        char c = text[i];
        if (c == '\\' && i + 1 < text.size()) {
            out.push_back(text[++i]);
        } else if (c == '"') {
            text.remove_prefix(i + 1);
            return out;
        } else {
            out.push_back(c);
        }
    }
    throw ParseError{"unterminated quoted text"};
}

RegistryValue ParseValueData(std::string_view data) {
    RegistryValue value;
    if (!data.empty() && data.front() == '"') {
        std::string text = ReadQuoted(data);
        if (!Trim(data).empty())
            throw ParseError{"text after the closing quote"};
        value.type = REG_SZ;
        value.data = StringBytes(Utf8ToWide(text));
    } else if (data.rfind("dword:", 0) == 0) {
        std::string_view digits = data.substr(6);
        if (digits.empty() || digits.size() > 8)
            throw ParseError{"bad dword"};
        DWORD number = 0;
        for (char c : digits) {
            if (HexDigit(c) < 0)
                throw ParseError{"bad dword"};
            number = number * 16 + static_cast<DWORD>(HexDigit(c));
        }
        value.type = REG_DWORD;
        value.data = DwordBytes(number);
    } else if (data.rfind("hex:", 0) == 0) {
        value.type = REG_BINARY;
        value.data = ParseHexBytes(data.substr(4));
    } else if (data.rfind("hex(", 0) == 0) {
        std::size_t close = data.find("):");
        if (close == std::string_view::npos || close == 4 || close > 12) {
            throw ParseError{"bad hex(type)"};
        }
        DWORD type = 0;
        for (char c : data.substr(4, close - 4)) {
            if (HexDigit(c) < 0)
                throw ParseError{"bad hex(type)"};
            type = type * 16 + static_cast<DWORD>(HexDigit(c));
        }
        value.type = type;
        value.data = ParseHexBytes(data.substr(close + 2));
    } else {
        throw ParseError{"unknown value form"};
    }
    return value;
}

void ParseValueLine(std::string_view line, RegistryKey& key) {
    std::wstring name;
    if (line.front() == '@') {
        line.remove_prefix(1);
    } else {
        name = Utf8ToWide(ReadQuoted(line));
    }
    line = Trim(line);
    if (line.empty() || line.front() != '=')
        throw ParseError{"expected '='"};
    RegistryValue value = ParseValueData(Trim(line.substr(1)));
    value.name = name;
    if (RegistryValue* existing = key.Find(name)) {
        *existing = std::move(value);
    } else {
        key.values.push_back(std::move(value));
    }
}

std::string Quote(const std::wstring& text) {
    std::string out = "\"";
    for (char c : WideToUtf8(text)) {
        if (c == '"' || c == '\\')
            out.push_back('\\');
        out.push_back(c);
    }
    return out + "\"";
}

std::string HexList(const std::vector<BYTE>& data) {
    std::string out;
    char item[4];
    for (std::size_t i = 0; i < data.size(); ++i) {
        std::snprintf(item, sizeof item, "%02x", data[i]);
        if (i > 0)
            out += (i % 24 == 0) ? ",\\\n  " : ",";
        out += item;
    }
    return out;
}

// A REG_SZ that round-trips as text: whole characters, one terminator, no NUL inside, and
// nothing the quoted form cannot carry (any other text is kept as hex(1), byte for byte).
std::optional<std::wstring> AsPlainText(const RegistryValue& value) {
    if (value.type != REG_SZ || value.data.size() % sizeof(wchar_t) != 0 || value.data.empty()) {
        return std::nullopt;
    }
    std::wstring text(value.data.size() / sizeof(wchar_t), L'\0');
    std::memcpy(text.data(), value.data.data(), value.data.size());
    if (text.back() != L'\0')
        return std::nullopt;
    text.pop_back();
    if (text.find(L'\0') != std::wstring::npos || !FitsRegText(text))
        return std::nullopt;
    return text;
}

std::string FormatValue(const RegistryValue& value) {
    std::string line = value.name.empty() ? "@=" : Quote(value.name) + "=";
    char buffer[32];
    if (value.type == REG_DWORD && value.data.size() == 4) {
        DWORD number = static_cast<DWORD>(value.data[0]) | static_cast<DWORD>(value.data[1]) << 8 |
                       static_cast<DWORD>(value.data[2]) << 16 |
                       static_cast<DWORD>(value.data[3]) << 24;
        std::snprintf(buffer, sizeof buffer, "dword:%08x", number);
        return line + buffer;
    }
    if (auto text = AsPlainText(value))
        return line + Quote(*text);
    if (value.type == REG_BINARY)
        return line + "hex:" + HexList(value.data);
    std::snprintf(buffer, sizeof buffer, "hex(%x):", value.type);
    return line + buffer + HexList(value.data);
}

// Splits the text into logical lines: a hex list ending in '\' continues on the next line.
std::vector<std::pair<int, std::string>> LogicalLines(std::string_view text) {
    std::vector<std::pair<int, std::string>> lines;
    bool continuing = false;
    int number = 0;
    while (!text.empty()) {
        std::size_t end = text.find('\n');
        std::string_view raw = Trim(text.substr(0, end));
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        ++number;
        if (continuing) {
            lines.back().second += raw;
        } else {
            lines.emplace_back(number, std::string(raw));
        }
        std::string& current = lines.back().second;
        continuing =
            !current.empty() && current.back() == '\\' && current.find("=hex") != std::string::npos;
        if (continuing)
            current.pop_back();
    }
    return lines;
}

}  // namespace

bool FitsRegText(std::wstring_view text) {
    for (wchar_t c : text) {
        auto code = static_cast<std::uint32_t>(c);
        if (c == L'\n' || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
            return false;
    }
    return true;
}

RegistryValue* RegistryKey::Find(std::wstring_view name) {
    std::wstring folded = FoldCase(name);
    for (RegistryValue& value : values) {
        if (FoldCase(value.name) == folded)
            return &value;
    }
    return nullptr;
}

RegistryKey* RegistryTree::Find(std::wstring_view path) {
    auto it = keys.find(FoldCase(JoinKeyPath(L"", path)));
    return it == keys.end() ? nullptr : &it->second;
}

RegistryKey& RegistryTree::Create(std::wstring_view path) {
    std::wstring full = JoinKeyPath(L"", path);
    for (std::size_t slash = full.find(L'\\'); slash != std::wstring::npos;
         slash = full.find(L'\\', slash + 1)) {
        std::wstring parent = full.substr(0, slash);
        keys.try_emplace(FoldCase(parent), RegistryKey{parent, {}});
    }
    return keys.try_emplace(FoldCase(full), RegistryKey{full, {}}).first->second;
}

std::wstring JoinKeyPath(std::wstring_view parent, std::wstring_view child) {
    std::wstring out;
    auto append = [&out](std::wstring_view text) {
        std::size_t start = 0;
        while (start <= text.size()) {
            std::size_t end = text.find(L'\\', start);
            if (end == std::wstring_view::npos)
                end = text.size();
            if (end > start) {
                if (!out.empty())
                    out.push_back(L'\\');
                out.append(text.substr(start, end - start));
            }
            start = end + 1;
        }
    };
    append(parent);
    append(child);
    return out;
}

RegistryTree DefaultDeviceRegistry() {
    RegistryTree tree;
    tree.Create(L"HKEY_LOCAL_MACHINE\\HARDWARE\\DEVICEMAP\\TOUCH");
    return tree;
}

std::string FormatRegFile(const RegistryTree& tree) {
    std::string out = std::string(kHeader) + "\n\n";
    for (const auto& [folded, key] : tree.keys) {
        // Appended piece by piece: GCC 12 at -O3 warns falsely (-Wrestrict, a copy of 2^63
        // bytes) about "[" + std::string, and the pieces also spare a temporary.
        out += '[';
        out += WideToUtf8(key.path);
        out += "]\n";
        for (const RegistryValue& value : key.values)
            out += FormatValue(value) + "\n";
        out += "\n";
    }
    return out;
}

RegParseResult ParseRegFile(std::string_view text) {
    if (text.rfind("\xEF\xBB\xBF", 0) == 0)
        text.remove_prefix(3);
    RegistryTree tree;
    RegistryKey* key = nullptr;
    bool sawHeader = false;
    for (const auto& [number, line] : LogicalLines(text)) {
        try {
            if (line.empty() || line.front() == ';')
                continue;
            if (!sawHeader) {
                if (line != kHeader && line != kOldHeader)
                    throw ParseError{"missing header"};
                sawHeader = true;
            } else if (line.front() == '[') {
                if (line.back() != ']' || line.size() < 3 || line[1] == '-') {
                    throw ParseError{"bad key line"};
                }
                std::wstring path = Utf8ToWide(line.substr(1, line.size() - 2));
                if (!HasKnownRoot(path))
                    throw ParseError{"unknown root key"};
                key = &tree.Create(path);
            } else if (line.front() == '"' || line.front() == '@') {
                if (key == nullptr)
                    throw ParseError{"value before any key"};
                ParseValueLine(line, *key);
            } else {
                throw ParseError{"unexpected line"};
            }
        } catch (const ParseError& error) {
            return {std::nullopt, number, error.message};
        }
    }
    // A file with nothing in it is an empty registry, not a broken one.
    if (!sawHeader && Trim(text).find_first_not_of("\r\n \t") != std::string_view::npos) {
        return {std::nullopt, 1, "missing header"};
    }
    return {std::move(tree), 0, ""};
}

}  // namespace quarrin::platform
