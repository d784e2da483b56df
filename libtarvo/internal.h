// Entry points inside the library that tests and fuzz targets reach directly.
#pragma once

#include "tarvo.h"

#include <cstdint>
#include <memory>

namespace velkin::libtarvo {

// Dict::create over raw bytes; with verifyChecksum false the structural checks
// alone decide (fuzzing feeds files whose checksum is wrong).
std::unique_ptr<Dict> createDict(const uint8_t* data, uint64_t size, bool slow, bool verifyChecksum);

} // namespace velkin::libtarvo
