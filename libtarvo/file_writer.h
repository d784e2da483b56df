#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace velkin::libtarvo {

// Writes `size` bytes to a temporary file beside `path` and renames it over
// `path` only when every byte is on disk; on failure removes the temporary
// file and raises Error, leaving `path` as it was.
void writeFileAtomically(const std::string& path, const uint8_t* data, size_t size);

} // namespace velkin::libtarvo
