// Double-array packing. States are placed children first, each at the lowest
// free base above all its children's bases, so every arc points to a smaller
// base: that is what lets a reader check acyclicity in one pass.
#include "sparse_packer.h"

#include "compact_state.h"
#include "format.h"
#include "tarvo.h"

#include <algorithm>

namespace velkin::libtarvo {

namespace {

constexpr unsigned kSearchLimit = 256;  // candidate bases tried before going to the table's end

class SlotTable {
public:
    bool isFree(uint64_t slot) const { return slot >= parent_.size() || parent_[slot] == slot; }
    bool baseUsed(uint64_t base) const { return base < baseUsed_.size() && baseUsed_[base]; }

    // Smallest free slot at or after `slot`.
    uint64_t nextFree(uint64_t slot) {
        if (slot >= parent_.size()) return slot;
        uint64_t root = slot;
        while (root < parent_.size() && parent_[root] != root) root = parent_[root];
        while (slot < parent_.size() && parent_[slot] != slot) {  // path compression
            uint64_t next = parent_[slot];
            parent_[slot] = uint32_t(std::min<uint64_t>(root, 0xFFFFFFFFu));
            slot = next;
        }
        return root;
    }

    void occupy(uint64_t slot, uint32_t check, uint32_t payload, uint32_t output) {
        ensure(slot + 1);
        parent_[slot] = uint32_t(slot + 1);
        checks_[slot] = check;
        payloads_[slot] = payload;
        outputs_[slot] = output;
        highest_ = std::max(highest_, slot + 1);
    }

    void useBase(uint64_t base) {
        ensure(base + 1);
        baseUsed_[base] = true;
    }

    uint64_t highWater() const { return highest_; }
    uint32_t check(uint64_t slot) const { return slot < checks_.size() ? checks_[slot] : 0; }
    uint32_t payload(uint64_t slot) const { return slot < payloads_.size() ? payloads_[slot] : 0; }
    uint32_t output(uint64_t slot) const { return slot < outputs_.size() ? outputs_[slot] : 0; }

private:
    void ensure(uint64_t size) {
        if (size > 0x7FFFFFFFu) throw Error(Error::Kind::TooLarge, "sparse table passes the format's limit");
        if (size <= parent_.size()) return;
        uint64_t grown = std::max<uint64_t>(size, parent_.size() * 2 + 1024);
        uint64_t old = parent_.size();
        parent_.resize(grown);
        for (uint64_t i = old; i < grown; ++i) parent_[i] = uint32_t(i);
        checks_.resize(grown, 0);
        payloads_.resize(grown, 0);
        outputs_.resize(grown, 0);
        baseUsed_.resize(grown, false);
    }

    std::vector<uint32_t> parent_;  // union-find over slots: a free slot is its own parent
    std::vector<uint16_t> checks_;
    std::vector<uint32_t> payloads_;
    std::vector<bool> baseUsed_;
    std::vector<uint32_t> outputs_;
    uint64_t highest_ = 0;
};

uint64_t findBase(SlotTable& table, const std::vector<uint32_t>& needed, uint64_t minBase) {
    if (needed.empty()) {
        uint64_t base = minBase;
        while (table.baseUsed(base)) ++base;
        return base;
    }
    const uint32_t first = needed[0];
    uint64_t slot = table.nextFree(minBase + first);
    for (unsigned tries = 0;; ++tries) {
        uint64_t base = slot - first;
        bool fits = !table.baseUsed(base);
        for (size_t k = 1; fits && k < needed.size(); ++k) fits = table.isFree(base + needed[k]);
        if (fits) return base;
        uint64_t from = slot + 1;
        if (tries >= kSearchLimit) from = std::max(from, table.highWater());
        slot = table.nextFree(from);
    }
}

} // namespace

SparseTable packSparse(const std::vector<uint8_t>& compact, const std::vector<uint8_t>& alphabet, bool big) {
    uint32_t codeOf[256] = {};
    for (size_t i = 0; i < alphabet.size(); ++i) codeOf[alphabet[i]] = uint32_t(i + 1);
    const uint8_t* fsa = compact.data();
    const uint32_t size = uint32_t(compact.size());

    std::vector<uint32_t> starts;
    CompactState s;
    for (uint32_t o = 0; o < size; o = s.end) {
        decodeCompact(fsa, o, s);
        starts.push_back(o);
    }
    std::vector<uint32_t> baseOf(size, 0);

    SlotTable table;
    std::vector<uint32_t> needed;
    uint64_t maxBase = 0;
    uint32_t maxPayload = 0;
    uint32_t maxOutput = 0;
    uint32_t rootCode = 0;
    for (size_t k = starts.size(); k-- > 0;) {
        const uint32_t o = starts[k];
        decodeCompact(fsa, o, s);
        needed.clear();
        if (s.final) needed.push_back(0);
        uint64_t minBase = 0;
        for (uint32_t a = 0; a < s.n; ++a) {
            needed.push_back(codeOf[s.labels[a]]);
            minBase = std::max<uint64_t>(minBase, uint64_t(baseOf[compactTarget(s, a, big)]) + 1);
        }
        uint64_t base = findBase(table, needed, minBase);
        if (base > 0x3FFFFFFFu) throw Error(Error::Kind::TooLarge, "sparse table passes the format's limit");
        table.useBase(base);
        baseOf[o] = uint32_t(base);
        maxBase = std::max(maxBase, base);
        if (s.final) {
            table.occupy(base, 0, s.finalOutput, 0);
            maxPayload = std::max(maxPayload, s.finalOutput);
        }
        const uint8_t* out = s.outs;
        for (uint32_t a = 0; a < s.n; ++a) {
            uint32_t target = compactTarget(s, a, big);
            uint32_t code = (baseOf[target] << 1) | ((fsa[target] & format::kFinalBit) ? 1 : 0);
            uint32_t output = nextOutput(s, out);
            table.occupy(base + codeOf[s.labels[a]], codeOf[s.labels[a]], code, output);
            maxPayload = std::max(maxPayload, code);
            maxOutput = std::max(maxOutput, output);
        }
        if (o == 0) rootCode = uint32_t(base << 1) | (s.final ? 1 : 0);
    }

    SparseTable out;
    out.checkSize = alphabet.size() > 255 ? 2 : 1;
    const unsigned outputSize = maxOutput == 0 ? 0 : format::bytesFor(maxOutput);
    // Without outputs, one-byte checks and payloads of at most three bytes
    // make four-byte slots, which a lookup reads with one load each.
    out.payloadSize = format::bytesFor(maxPayload);
    if (outputSize == 0 && out.checkSize == 1 && out.payloadSize < 3) out.payloadSize = 3;
    // One spare slot past the last base's arcs lets a lookup probe a byte
    // outside the alphabet without a test of its own.
    uint64_t slotCount = std::max<uint64_t>(table.highWater(), maxBase + alphabet.size() + 2);
    out.padding = uint32_t(slotCount - table.highWater());
    const unsigned slotSize = out.checkSize + out.payloadSize + outputSize;
    uint64_t bytes = format::kSparsePrefix + slotCount * slotSize;
    if (bytes > 0x7FFFFFFFu) throw Error(Error::Kind::TooLarge, "sparse table passes the format's limit");
    out.bytes.resize(size_t(bytes));
    format::storeN(out.bytes.data(), rootCode, 4, big);
    out.bytes[4] = uint8_t(outputSize);
    uint8_t* p = out.bytes.data() + format::kSparsePrefix;
    for (uint64_t i = 0; i < slotCount; ++i, p += slotSize) {
        format::storeN(p, table.check(i), out.checkSize, big);
        format::storeN(p + out.checkSize, table.payload(i), out.payloadSize, big);
        format::storeN(p + out.checkSize + out.payloadSize, table.output(i), outputSize, big);
    }
    return out;
}

} // namespace velkin::libtarvo
