// Decoding one state of the compact layout from bytes already validated.
#pragma once

#include "format.h"

namespace velkin::libtarvo {

struct CompactState {
    uint32_t start;
    uint32_t end;
    uint32_t n;
    unsigned width;
    bool final;
    bool outputs;
    uint32_t finalOutput;
    const uint8_t* labels;
    const uint8_t* targets;
    const uint8_t* outs;  // n varints when `outputs`
};

inline void decodeCompact(const uint8_t* fsa, uint32_t o, CompactState& s) {
    const uint8_t* p = fsa + o;
    uint8_t h = *p++;
    uint32_t n = h & format::kCountMask;
    if (n == format::kCountEscape) n += format::getVarintTrusted(p);
    s.final = h & format::kFinalBit;
    s.outputs = h & format::kOutputsBit;
    s.finalOutput = s.final ? format::getVarintTrusted(p) : 0;
    s.width = (h >> format::kWidthShift) & 7;
    s.n = n;
    s.start = o;
    s.labels = p;
    s.targets = p + n;
    s.outs = s.targets + n * s.width;
    s.end = uint32_t((s.outputs ? format::skipVarints(s.outs, n) : s.outs) - fsa);
}

template <bool Big>
inline uint32_t compactTarget(const CompactState& s, uint32_t k) {
    return s.width == 0 ? s.end : s.start + format::loadN<Big>(s.targets + k * s.width, s.width);
}

inline uint32_t compactTarget(const CompactState& s, uint32_t k, bool big) {
    return big ? compactTarget<true>(s, k) : compactTarget<false>(s, k);
}

// Output of arc k, reading forward from `cursor` (which starts at s.outs and
// must be advanced arc by arc in order).
inline uint32_t nextOutput(const CompactState& s, const uint8_t*& cursor) {
    return s.outputs ? format::getVarintTrusted(cursor) : 0;
}

} // namespace velkin::libtarvo
