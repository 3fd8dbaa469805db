// The one rule for the entries of an application package: which entry names and kinds the
// unit installs, where each one lands below the destination folder, and whether the package
// brings the main application. The installer (zCompress.dll), the package builder and its
// checker all ask this rule, so a package that passes the check installs, and one that the
// installer would refuse is named before it reaches a unit.
//
// Plain C++ without any platform call; any code can use it:
//
//     PackageEntryCheck check;
//     for (each entry of the archive, in archive order) {
//         EntryDecision decision = check.Add(name, kind);
//         if (IsRefused(decision.verdict)) -> refuse the package, DescribeVerdict(verdict)
//         if (decision.verdict == EntryVerdict::Accepted) -> install at decision.path
//     }
//     if (!check.HasProgram()) -> refuse the package, NO_PROGRAM_REASON
//
// Names are matched without regard to case, as on the unit's FAT volumes. Entries whose
// names begin with "./" (what `tar -C folder -c .` writes) are accepted: "." steps and empty
// steps are dropped, and a folder entry that names the destination itself ("./") is skipped.
#pragma once

#include <map>
#include <string>
#include <string_view>

namespace quarrin::package {

enum class EntryKind { File, Folder, Other };  // Other: links, devices, pipes

enum class EntryVerdict {
    Accepted,          // install at the decision's path
    Skipped,           // a folder entry naming the destination itself; nothing to do
    NotUtf8,           // the name is not valid UTF-8
    Absolute,          // begins with '/' or '\'
    ParentStep,        // a ".." step
    DriveOrStream,     // a ':' in a name
    DeviceName,        // CON, PRN, AUX, NUL, COM1..9, LPT1..9, with or without extension
    ShortenedName,     // ends in a dot or a space, which FAT and Windows drop
    TooLong,           // a name of more than 255 characters
    BadCharacter,      // a control character or one of < > " | * ?
    NamesDestination,  // a file whose name is the destination folder itself (empty, ".")
    NotFileOrFolder,   // a link, a device or a pipe
    FileOverFolder,    // a file where the package has a folder of that name
    FolderOverFile,    // a folder where the package has a file of that name
    BelowFile,         // a path through a file of the package
    ReservedName,      // the installer's own work folder at the top of the package
};

inline bool IsRefused(EntryVerdict verdict) {
    return verdict != EntryVerdict::Accepted && verdict != EntryVerdict::Skipped;
}

// One line of English for a refusal ("a DOS device name ...").
const char* DescribeVerdict(EntryVerdict verdict);

// The program the unit starts; a package that does not bring it installs nothing usable.
inline constexpr std::wstring_view PROGRAM_ENTRY_PATH = L"ZEL\\Velmoran.exe";
inline constexpr const char* NO_PROGRAM_REASON =
    "no ZEL/Velmoran.exe: the package installs no application";

// The folder below the destination in which the installer unpacks a package before it puts
// the package's entries in place; a package cannot bring an entry of that name.
inline constexpr std::wstring_view INSTALLER_WORK_FOLDER = L"_Unpack_$";

struct EntryDecision {
    EntryVerdict verdict = EntryVerdict::Accepted;
    // For Accepted: the device path relative to the destination, '\' between names.
    std::wstring path;
};

// The name rule alone: the relative device path of an entry name ('/' or '\' between
// names), or why the name cannot be installed. An empty path with Accepted means the name
// is the destination itself.
EntryDecision CheckEntryName(std::wstring_view name);
EntryDecision CheckEntryName(std::string_view utf8Name);

// The whole rule over the entries of one package, given in archive order: names, kinds,
// clashes between a file and a folder of the same name, and the main application.
class PackageEntryCheck {
public:
    EntryDecision Add(std::wstring_view name, EntryKind kind);
    EntryDecision Add(std::string_view utf8Name, EntryKind kind);

    // Whether an accepted file entry is ZEL\Velmoran.exe.
    bool HasProgram() const { return m_hasProgram; }

private:
    EntryDecision AddChecked(EntryDecision decision, EntryKind kind);

    // By case-folded path; parents count as folders. Looked up by views, so that a parent
    // already seen costs no copy of its path.
    std::map<std::wstring, EntryKind, std::less<>> m_seen;
    bool m_hasProgram = false;
};

}  // namespace quarrin::package
