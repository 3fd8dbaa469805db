// Turns the path of an archive entry into a device path below the destination folder, and
// refuses every path that could lead elsewhere.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace quarrin::zcompress {

// The device path for `entryPath` (UTF-8, '/' or '\' between names) below `destination`;
// empty for an absolute path, a ".." step, a drive or device name (':', or a DOS device
// name such as NUL), a name the device cannot hold (also one ending in a dot or a space),
// invalid UTF-8, or a path that names the destination itself.
std::optional<std::wstring> DevicePathForEntry(std::wstring_view destination,
                                               std::string_view entryPath);
// The same for a path already in wide characters.
std::optional<std::wstring> DevicePathForEntry(std::wstring_view destination,
                                               std::wstring_view entryPath);

}  // namespace quarrin::zcompress
