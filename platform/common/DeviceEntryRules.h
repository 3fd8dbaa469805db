// What a device volume can hold of what a host folder holds.
//
// A volume of the unit is a FAT file system: it has files and folders only, no links, pipes
// or device nodes; its files are smaller than 4 GiB; its names are UTF-16 text of at most
// 255 units without the characters FAT reserves; and two names of one folder never differ
// only in case. The host can hold all of these. The device file system applies these rules
// to every entry it meets below a volume, and anything else that must judge a host tree the
// way the loader will (a read-only check of a device tree, say) calls the same functions.
#pragma once

#include <sys/stat.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quarrin::platform {

// Why a host name cannot be the name of an entry on a device volume.
enum class NameProblem {
    None,
    NotUtf8,            // bytes that are no UTF-8 text: the device could not spell the name
    Backslash,          // the device's path separator
    ReservedCharacter,  // one of : < > " | * ?
    ControlCharacter,   // below U+0020
    TooLong,            // more than 255 UTF-16 units
};

inline constexpr std::size_t DEVICE_MAX_NAME_UNITS = 255;
// FAT keeps a file's size in 32 bits.
inline constexpr std::uint64_t DEVICE_MAX_FILE_BYTES = 0xFFFFFFFFULL;

// The verdict on one name as the host stores it (bytes, UTF-8 when well formed).
NameProblem CheckDeviceName(std::string_view hostName);
// A few words for a log line: "holds ':'"-style reasons, in English.
std::wstring DescribeNameProblem(NameProblem problem);
// True for characters no device name may hold (wildcards included); the path separators
// are not tested here.
bool IsReservedNameCharacter(wchar_t c);
// The name for a log line: UTF-8 decoded, every byte that is not as "<xx>" (hex).
std::wstring DisplayHostName(std::string_view hostName);

// What a host entry below a volume is to the device, from its lstat() status.
enum class EntryKind {
    File,  // a regular file under 4 GiB
    Folder,
    Link,      // a symbolic link: never followed below a volume
    NotAFile,  // a pipe, socket or device node: opening it could block or never end
    TooLarge,  // a regular file of 4 GiB or more, which FAT cannot hold
};

EntryKind ClassifyEntry(const struct stat& info);
std::wstring DescribeEntryKind(EntryKind kind);

// Names of one folder that fold to the same name: the device holds only one of them. Fed the
// folder's names in ascending order (the order of the device's listing), it answers for each
// the earlier name that took its place, if any; the first of such names is the device's.
class CaseTwinFilter {
public:
    std::optional<std::wstring> EarlierTwin(std::wstring_view name);

private:
    // A listing meets every name once, so the table costs no allocation per name: the first
    // names are kept one after another in m_names, found by the hash of their folded form in
    // an open-addressed table that is never more than half full.
    struct Slot {
        std::size_t hash = 0;
        std::uint32_t offset = 0;
        std::uint32_t length = 0;
        bool used = false;
    };
    void Grow();
    std::wstring_view NameAt(const Slot& slot) const;

    std::vector<Slot> m_slots;  // a power of two in size
    std::size_t m_used = 0;
    std::wstring m_names;
};

}  // namespace quarrin::platform
