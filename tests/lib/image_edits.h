// Seed dictionaries to damage, finding the part of a file image to damage,
// and damaging it: shared by the library's damaged-file tests and the tools'
// damaged-file suite.
#pragma once

#include "file_image.h"

#include <gtest/gtest.h>

#include <functional>
#include <set>
#include <stdexcept>
#include <string>

namespace tarvo_lib_test {

// The seed dictionaries that damage starts from: layout, and an annotation
// table or numbers only.
enum Kind : unsigned { kCompactTable = 1, kCompactNumbers = 2, kSparseTable = 4, kSparseNumbers = 8 };
constexpr unsigned kCompact = kCompactTable | kCompactNumbers;
constexpr unsigned kSparse = kSparseTable | kSparseNumbers;
constexpr unsigned kTable = kCompactTable | kSparseTable;
constexpr unsigned kNumbers = kCompactNumbers | kSparseNumbers;
constexpr unsigned kAll = kCompact | kSparse;

struct Seed {
    std::string name;
    Kind kind;
    Image image;
    Automaton automaton;
};

inline bool startsWith(const std::string& s, const std::string& prefix) { return s.compare(0, prefix.size(), prefix) == 0; }

// A row whose seed lacks the part it damages fails loudly instead of passing.
struct NotApplicable : std::logic_error {
    using std::logic_error::logic_error;
};

// A row's damage: edits a seed's image, given the seed's decoded automaton.
using Mutation = std::function<void(Image&, const Automaton&)>;

// Damages every seed of a kind the row names (`row.kinds`) with `row.mutate`
// and hands each damaged image to `check`, under a trace naming row and seed.
// A row that does not apply to such a seed, or changes nothing, fails.
template <class Row, class Check>
void forEachDamagedSeed(const Row& row, const std::vector<Seed>& seeds, Check check) {
    for (const Seed& seed : seeds) {
        if (!(row.kinds & seed.kind)) continue;
        SCOPED_TRACE(std::string(row.name) + " in " + seed.name);
        Image f = seed.image;
        try {
            row.mutate(f, seed.automaton);
        } catch (const std::exception& e) {
            ADD_FAILURE() << "row does not apply: " << e.what();
            continue;
        }
        ASSERT_NE(f.bytes, seed.image.bytes) << "the mutation changed nothing";
        check(f);
    }
}

inline const State& stateWhere(const Automaton& a, const char* what, const std::function<bool(const State&)>& pred) {
    for (const State& s : a.states)
        if (pred(s)) return s;
    throw NotApplicable(std::string("the seed has no ") + what);
}

inline bool fits(uint64_t value, unsigned width) {
    return width >= 4 ? value <= 0xFFFFFFFFu : value < (uint64_t(1) << (8 * width));
}

// Compact: a state with several arcs and target fields.
inline const State& multiArcState(const Automaton& a) {
    return stateWhere(a, "state with several arcs", [](const State& s) { return s.arcs.size() >= 2 && s.width > 0; });
}

// Makes arc k of compact state s point at `target`.
inline void setTarget(Image& f, const State& s, size_t k, uint64_t target) {
    uint64_t delta = target - s.id;
    if (target < s.id || s.width == 0 || !fits(delta, s.width)) throw NotApplicable("target field too narrow");
    f.store(f.fsaAt() + s.arcs[k].fieldAt, uint32_t(delta), s.width);
}

// Sparse slots.
inline size_t slotAt(const Image& f, const Automaton& a, uint32_t i) { return f.fsaAt() + 8 + size_t(i) * a.slotSize; }
inline uint32_t checkOf(const Image& f, const Automaton& a, uint32_t i) { return f.load(slotAt(f, a, i), a.checkSize); }
inline void setCheck(Image& f, const Automaton& a, uint32_t i, uint32_t c) { f.store(slotAt(f, a, i), c, a.checkSize); }
inline void setPayload(Image& f, const Automaton& a, uint32_t i, uint32_t v) {
    if (!fits(v, a.payloadSize)) throw NotApplicable("payload too narrow");
    f.store(slotAt(f, a, i) + a.checkSize, v, a.payloadSize);
}

// Index entry i of the annotation table.
inline size_t indexAt(const Image& f, uint32_t i) { return f.annotAt() + size_t(i) * f.field(kAnnotLengthSize); }
inline uint32_t indexEntry(const Image& f, uint32_t i) { return f.load(indexAt(f, i), f.field(kAnnotLengthSize)); }
inline void setIndexEntry(Image& f, uint32_t i, uint32_t v) { f.store(indexAt(f, i), v, f.field(kAnnotLengthSize)); }

// Lengths to cut the image to: every section boundary and up to `spread`
// bytes either side of it, shorter than the image.
inline std::set<size_t> truncationLengths(const Image& s, int spread) {
    const size_t size = s.bytes.size();
    const size_t indexEnd = s.annotAt() + (s.field(kAnnotChunksCount) + 1) * s.field(kAnnotLengthSize);
    std::set<size_t> lengths;
    for (size_t boundary : {size_t(0), size_t(4), size_t(8), size_t(80), s.fsaAt(), s.fsaAt() + 8,
                            s.fsaAt() + s.fsaSize() / 2, s.annotAt(), indexEnd, size})
        for (int delta = -spread; delta <= spread; ++delta)
            if (int64_t(boundary) + delta >= 0 && boundary + delta < size) lengths.insert(boundary + delta);
    return lengths;
}

} // namespace tarvo_lib_test
