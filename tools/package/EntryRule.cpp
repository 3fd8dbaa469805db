#include "tools/package/EntryRule.h"

#include <algorithm>
#include <cwctype>
#include <optional>
#include <vector>

namespace quarrin::package {

namespace {

constexpr std::size_t MAX_NAME_CHARS = 255;

// Strict UTF-8: overlong forms, surrogates and values past U+10FFFF are refused.
std::optional<std::wstring> DecodeUtf8(std::string_view text) {
    std::wstring out;
    for (std::size_t i = 0; i < text.size();) {
        auto byte = static_cast<unsigned char>(text[i]);
        int extra = byte < 0x80         ? 0
                    : (byte >> 5) == 6  ? 1
                    : (byte >> 4) == 14 ? 2
                    : (byte >> 3) == 30 ? 3
                                        : -1;
        if (extra < 0)
            return std::nullopt;
        char32_t value = extra == 0 ? byte : byte & (0x3F >> extra);
        for (int k = 1; k <= extra; ++k) {
            if (i + k >= text.size())
                return std::nullopt;
            auto next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80)
                return std::nullopt;
            value = value << 6 | (next & 0x3F);
        }
        static const char32_t kMinimum[] = {0, 0x80, 0x800, 0x10000};
        if (value < kMinimum[extra] || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) {
            return std::nullopt;
        }
        if constexpr (sizeof(wchar_t) == 2) {
            if (value >= 0x10000) {
                value -= 0x10000;
                out.push_back(static_cast<wchar_t>(0xD800 + (value >> 10)));
                value = 0xDC00 + (value & 0x3FF);
            }
        }
        out.push_back(static_cast<wchar_t>(value));
        i += static_cast<std::size_t>(extra) + 1;
    }
    return out;
}

wchar_t Upper(wchar_t c) {
    return (c >= L'a' && c <= L'z') ? static_cast<wchar_t>(c - L'a' + L'A') : c;
}

// Whether `text` equals `word` (capitals) without regard to case.
bool EqualsUpper(std::wstring_view text, std::wstring_view word) {
    return text.size() == word.size() &&
           std::equal(text.begin(), text.end(), word.begin(),
                      [](wchar_t a, wchar_t b) { return Upper(a) == b; });
}

// CON, PRN, AUX, NUL, COM1..COM9, LPT1..LPT9, with or without an extension: Windows opens
// the device of that name instead of a file in the folder.
bool IsDosDeviceName(std::wstring_view name) {
    std::wstring_view stem = name.substr(0, name.find(L'.'));
    while (!stem.empty() && stem.back() == L' ')
        stem.remove_suffix(1);
    for (std::wstring_view device : {L"CON", L"PRN", L"AUX", L"NUL"}) {
        if (EqualsUpper(stem, device))
            return true;
    }
    return stem.size() == 4 &&
           (EqualsUpper(stem.substr(0, 3), L"COM") || EqualsUpper(stem.substr(0, 3), L"LPT")) &&
           stem[3] >= L'1' && stem[3] <= L'9';
}

EntryVerdict CheckName(std::wstring_view name) {
    if (name == L"..")
        return EntryVerdict::ParentStep;
    if (name.size() > MAX_NAME_CHARS)
        return EntryVerdict::TooLong;
    if (name.find(L':') != std::wstring_view::npos)
        return EntryVerdict::DriveOrStream;
    for (wchar_t c : name) {
        if (c < 0x20 || c == L'<' || c == L'>' || c == L'"' || c == L'|' || c == L'*' ||
            c == L'?') {
            return EntryVerdict::BadCharacter;
        }
    }
    // FAT and Windows drop trailing dots and spaces, so such a name would land on another one
    // ("..." even on the parent folder).
    if (name.back() == L'.' || name.back() == L' ')
        return EntryVerdict::ShortenedName;
    if (IsDosDeviceName(name))
        return EntryVerdict::DeviceName;
    return EntryVerdict::Accepted;
}

std::wstring FoldCase(std::wstring_view text) {
    std::wstring out(text);
    for (wchar_t& c : out) {
        c = (c < 0x80) ? ((c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c - L'A' + L'a') : c)
                       : static_cast<wchar_t>(std::towlower(static_cast<wint_t>(c)));
    }
    return out;
}

}  // namespace

const char* DescribeVerdict(EntryVerdict verdict) {
    switch (verdict) {
        case EntryVerdict::Accepted:
            return "accepted";
        case EntryVerdict::Skipped:
            return "the destination folder itself (skipped)";
        case EntryVerdict::NotUtf8:
            return "the name is not valid UTF-8";
        case EntryVerdict::Absolute:
            return "an absolute path";
        case EntryVerdict::ParentStep:
            return "a '..' step would lead out of the folder";
        case EntryVerdict::DriveOrStream:
            return "a ':' (a drive or stream name)";
        case EntryVerdict::DeviceName:
            return "a DOS device name (CON, PRN, AUX, NUL, COM1-9, LPT1-9), which opens the device";
        case EntryVerdict::ShortenedName:
            return "a name ending in a dot or a space, which the device shortens";
        case EntryVerdict::TooLong:
            return "a name longer than 255 characters";
        case EntryVerdict::BadCharacter:
            return "a character a name on the device cannot hold (control, < > \" | * ?)";
        case EntryVerdict::NamesDestination:
            return "a file named like the destination folder itself";
        case EntryVerdict::NotFileOrFolder:
            return "neither a regular file nor a folder (links, devices and pipes are refused)";
        case EntryVerdict::FileOverFolder:
            return "a file where the package has a folder of that name (case does not count)";
        case EntryVerdict::FolderOverFile:
            return "a folder where the package has a file of that name (case does not count)";
        case EntryVerdict::BelowFile:
            return "a path below a file of the package";
        case EntryVerdict::ReservedName:
            return "the name of the installer's own work folder (_Unpack_$ at the top)";
    }
    return "refused";
}

EntryDecision CheckEntryName(std::wstring_view name) {
    if (!name.empty() && (name.front() == L'/' || name.front() == L'\\'))
        return {EntryVerdict::Absolute, L""};
    std::wstring path;
    path.reserve(name.size());
    std::size_t start = 0;
    for (std::size_t i = 0; i <= name.size(); ++i) {
        if (i < name.size() && name[i] != L'/' && name[i] != L'\\')
            continue;
        std::wstring_view current = name.substr(start, i - start);
        start = i + 1;
        if (current.empty() || current == L".")
            continue;
        if (EntryVerdict verdict = CheckName(current); verdict != EntryVerdict::Accepted)
            return {verdict, L""};
        if (!path.empty())
            path.push_back(L'\\');
        path.append(current);
    }
    return {EntryVerdict::Accepted, path};
}

EntryDecision CheckEntryName(std::string_view utf8Name) {
    std::optional<std::wstring> wide = DecodeUtf8(utf8Name);
    if (!wide)
        return {EntryVerdict::NotUtf8, L""};
    return CheckEntryName(std::wstring_view(*wide));
}

EntryDecision PackageEntryCheck::Add(std::wstring_view name, EntryKind kind) {
    return AddChecked(CheckEntryName(name), kind);
}

EntryDecision PackageEntryCheck::Add(std::string_view utf8Name, EntryKind kind) {
    return AddChecked(CheckEntryName(utf8Name), kind);
}

EntryDecision PackageEntryCheck::AddChecked(EntryDecision decision, EntryKind kind) {
    if (IsRefused(decision.verdict))
        return decision;
    if (kind == EntryKind::Other)
        return {EntryVerdict::NotFileOrFolder, L""};
    if (decision.path.empty()) {
        return {kind == EntryKind::Folder ? EntryVerdict::Skipped : EntryVerdict::NamesDestination,
                L""};
    }
    static const std::wstring kWorkFolder = FoldCase(INSTALLER_WORK_FOLDER);
    static const std::wstring kProgram = FoldCase(PROGRAM_ENTRY_PATH);
    std::wstring folded = FoldCase(decision.path);
    if (std::wstring_view(folded).substr(0, folded.find(L'\\')) == kWorkFolder)
        return {EntryVerdict::ReservedName, L""};
    // The folders on the way are created by the installer, so they count as folders.
    for (std::size_t slash = folded.find(L'\\'); slash != std::wstring::npos;
         slash = folded.find(L'\\', slash + 1)) {
        std::wstring_view parent = std::wstring_view(folded).substr(0, slash);
        auto at = m_seen.find(parent);
        if (at == m_seen.end()) {
            m_seen.emplace(std::wstring(parent), EntryKind::Folder);
        } else if (at->second == EntryKind::File) {
            return {EntryVerdict::BelowFile, L""};
        }
    }
    auto [at, added] = m_seen.try_emplace(folded, kind);
    if (!added && at->second != kind) {
        return {
            kind == EntryKind::File ? EntryVerdict::FileOverFolder : EntryVerdict::FolderOverFile,
            L""};
    }
    if (kind == EntryKind::File && folded == kProgram)
        m_hasProgram = true;
    return decision;
}

}  // namespace quarrin::package
