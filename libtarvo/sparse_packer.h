#pragma once

#include <cstdint>
#include <vector>

namespace velkin::libtarvo {

struct SparseTable {
    std::vector<uint8_t> bytes;  // the automaton section: root code, then the slots
    unsigned checkSize = 1;
    unsigned payloadSize = 1;
    uint32_t padding = 0;        // free slots at the end of the table
};

// Packs a compact automaton (root first, targets forward) into the sparse
// table of FORMAT.md: a state's arc on label code c sits at slot base + c.
SparseTable packSparse(const std::vector<uint8_t>& compact, const std::vector<uint8_t>& alphabet, bool big);

} // namespace velkin::libtarvo
