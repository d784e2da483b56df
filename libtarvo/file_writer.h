#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace velkin::libtarvo {

// Writes `parts`, one after the other, to a temporary file beside `path` and
// renames it over `path` only when every byte is on disk; on failure removes
// the temporary file and raises Error, leaving `path` as it was. SIGINT,
// SIGTERM and SIGHUP are held meanwhile: one that arrives cancels the write
// ("interrupted") and is delivered when the call returns. A `path` that exists
// and is not a regular file (a device, a pipe), or whose links lead to no name
// of it (/proc/self/fd/N of a deleted file), is written directly. A symbolic
// link is followed: the link stays and the file it points at is replaced or
// made. The new file keeps the replaced one's permissions, and its owner and
// group where the process may give them.
void writeFileAtomically(const std::string& path, const std::vector<std::span<const uint8_t>>& parts);

} // namespace velkin::libtarvo
