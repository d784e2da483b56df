// Entry points inside the library that tests and fuzz targets reach directly.
#pragma once

#include "read_behind.h"
#include "tarvo.h"

#include <cstdint>
#include <memory>

namespace velkin::libtarvo {

// Dict::create over raw bytes; with verifyChecksum false the structural checks
// alone decide (fuzzing feeds files whose checksum is wrong). `backing`:
// whether the bytes are a mapping of a file (see validate).
std::unique_ptr<Dict> createDict(const uint8_t* data, uint64_t size, bool slow, bool verifyChecksum,
                                 Backing backing = Backing::Memory);

// Opens `path` for reading; it must be a regular file. Returns the
// descriptor and stores the file's size. Raises Error (CannotOpen) with the reason.
int openRegularFile(const char* path, uint64_t& size);

} // namespace velkin::libtarvo
