#include "platform/common/DeviceEntryRules.h"

#include <algorithm>
#include <cwchar>

#include "platform/common/DeviceFileSystem.h"

namespace quarrin::platform {

namespace {

// Length of the well-formed UTF-8 sequence at `text[i]`, 0 when it is not one. Overlong
// forms, surrogates and values past U+10FFFF are not well formed.
std::size_t Utf8SequenceLength(std::string_view text, std::size_t i, std::uint32_t& value) {
    auto b0 = static_cast<unsigned char>(text[i]);
    int extra = b0 < 0x80 ? 0 : (b0 >> 5) == 6 ? 1 : (b0 >> 4) == 14 ? 2 : (b0 >> 3) == 30 ? 3 : -1;
    if (extra < 0 || i + static_cast<std::size_t>(extra) >= text.size())
        return 0;
    value = b0 & (extra == 0 ? 0x7Fu : (0x3Fu >> extra));
    for (int k = 1; k <= extra; ++k) {
        auto b = static_cast<unsigned char>(text[i + static_cast<std::size_t>(k)]);
        if ((b & 0xC0) != 0x80)
            return 0;
        value = (value << 6) | (b & 0x3F);
    }
    static constexpr std::uint32_t kMinimum[] = {0, 0x80, 0x800, 0x10000};
    if (value < kMinimum[extra] || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF))
        return 0;
    return static_cast<std::size_t>(extra) + 1;
}

}  // namespace

bool IsReservedNameCharacter(wchar_t c) {
    return c < 0x20 || c == L':' || c == L'<' || c == L'>' || c == L'"' || c == L'|' || c == L'*' ||
           c == L'?';
}

NameProblem CheckDeviceName(std::string_view hostName) {
    std::size_t units = 0;
    NameProblem found = NameProblem::None;
    for (std::size_t i = 0; i < hostName.size();) {
        std::uint32_t value = 0;
        std::size_t length = Utf8SequenceLength(hostName, i, value);
        if (length == 0)
            return NameProblem::NotUtf8;
        i += length;
        units += value >= 0x10000 ? 2 : 1;
        if (found != NameProblem::None)
            continue;
        if (value == '\\') {
            found = NameProblem::Backslash;
        } else if (value < 0x20) {
            found = NameProblem::ControlCharacter;
        } else if (IsReservedNameCharacter(static_cast<wchar_t>(value))) {
            found = NameProblem::ReservedCharacter;
        }
    }
    if (found == NameProblem::None && units > DEVICE_MAX_NAME_UNITS)
        found = NameProblem::TooLong;
    return found;
}

std::wstring DescribeNameProblem(NameProblem problem) {
    switch (problem) {
        case NameProblem::None:
            return L"a valid name";
        case NameProblem::NotUtf8:
            return L"name is not UTF-8";
        case NameProblem::Backslash:
            return L"name holds '\\'";
        case NameProblem::ReservedCharacter:
            return L"name holds one of : < > \" | * ?";
        case NameProblem::ControlCharacter:
            return L"name holds a control character";
        case NameProblem::TooLong:
            return L"name longer than 255 characters";
    }
    return L"";
}

std::wstring DisplayHostName(std::string_view hostName) {
    static const wchar_t kHex[] = L"0123456789abcdef";
    std::wstring out;
    for (std::size_t i = 0; i < hostName.size();) {
        std::uint32_t value = 0;
        std::size_t length = Utf8SequenceLength(hostName, i, value);
        if (length == 0 || value < 0x20) {
            auto b = static_cast<unsigned char>(hostName[i]);
            out += L'<';
            out += kHex[b >> 4];
            out += kHex[b & 0xF];
            out += L'>';
            ++i;
            continue;
        }
        out.push_back(static_cast<wchar_t>(value));
        i += length;
    }
    return out;
}

EntryKind ClassifyEntry(const struct stat& info) {
    if (S_ISDIR(info.st_mode))
        return EntryKind::Folder;
    if (S_ISLNK(info.st_mode))
        return EntryKind::Link;
    if (!S_ISREG(info.st_mode))
        return EntryKind::NotAFile;
    if (static_cast<std::uint64_t>(info.st_size) > DEVICE_MAX_FILE_BYTES)
        return EntryKind::TooLarge;
    return EntryKind::File;
}

std::wstring DescribeEntryKind(EntryKind kind) {
    switch (kind) {
        case EntryKind::File:
            return L"a file";
        case EntryKind::Folder:
            return L"a folder";
        case EntryKind::Link:
            return L"a link";
        case EntryKind::NotAFile:
            return L"not a file";
        case EntryKind::TooLarge:
            return L"4 GiB or more";
    }
    return L"";
}

namespace {

std::size_t FoldedHash(std::wstring_view name) {
    std::size_t hash = 14695981039346656037ULL;  // FNV-1a over the folded characters
    for (wchar_t c : name) {
        hash ^= static_cast<std::size_t>(FoldCharacter(c));
        hash *= 1099511628211ULL;
    }
    return hash;
}

bool SameFolded(std::wstring_view a, std::wstring_view b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(),
                      [](wchar_t x, wchar_t y) { return FoldCharacter(x) == FoldCharacter(y); });
}

}  // namespace

std::optional<std::wstring> CaseTwinFilter::EarlierTwin(std::wstring_view name) {
    if ((m_used + 1) * 2 > m_slots.size())
        Grow();
    std::size_t hash = FoldedHash(name);
    std::size_t mask = m_slots.size() - 1;
    for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
        Slot& slot = m_slots[i];
        if (!slot.used) {
            slot = {hash, static_cast<std::uint32_t>(m_names.size()),
                    static_cast<std::uint32_t>(name.size()), true};
            m_names.append(name);
            ++m_used;
            return std::nullopt;
        }
        if (slot.hash == hash && SameFolded(NameAt(slot), name))
            return std::wstring(NameAt(slot));
    }
}

void CaseTwinFilter::Grow() {
    std::vector<Slot> old = std::move(m_slots);
    m_slots.assign(old.empty() ? 64 : old.size() * 2, Slot{});
    std::size_t mask = m_slots.size() - 1;
    for (const Slot& slot : old) {
        if (!slot.used)
            continue;
        std::size_t i = slot.hash & mask;
        while (m_slots[i].used)
            i = (i + 1) & mask;
        m_slots[i] = slot;
    }
}

std::wstring_view CaseTwinFilter::NameAt(const Slot& slot) const {
    return std::wstring_view(m_names).substr(slot.offset, slot.length);
}

}  // namespace quarrin::platform
