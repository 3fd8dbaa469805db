// Copies the content of one open host file into another.
#pragma once

#include <cstddef>
#include <optional>

namespace quarrin::platform {

// Copies up to `limit` bytes, or to the end; `expected` is the source's size when the copy
// began, after which one more call would only confirm the end. False with errno set.
bool CopyContents(int from, int to, std::optional<std::size_t> limit, std::size_t expected);

}  // namespace quarrin::platform
