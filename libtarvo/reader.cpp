// Lookups and enumerations over both layouts and both byte orders. A word's
// annotation number is the sum of the outputs along its path plus the final
// output of its last state.
#include "reader.h"

#include "compact_state.h"

#include <algorithm>
#include <cstring>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace velkin::libtarvo {

namespace {

[[noreturn]] [[gnu::cold]] void backwardTarget() { format::damaged("a transition leads backwards"); }

[[noreturn]] void badNumber(uint64_t number) {
    format::damaged("annotation number " + std::to_string(number) + " lies outside the table");
}

inline int64_t result(const View& v, uint64_t number) { return v.numberValid(number) ? int64_t(number) : -1; }

template <bool Big>
int64_t lookupCompactFast(const View& v, uint32_t o, const uint8_t* word, int32_t length) {
    const uint8_t* fsa = v.fsa;
    uint64_t sum = 0;
    for (int32_t i = 0; i < length; ++i) {
        const uint8_t* p = fsa + o;
        uint8_t h = *p++;
        uint32_t n = h & format::kCountMask;
        if (n == format::kCountEscape) n += format::getVarintTrusted(p);
        if (h & format::kFinalBit) {
            while (*p++ & 0x80) {}
        }
        uint32_t k = 0;
        while (k < n && p[k] != word[i]) ++k;
        if (k == n) return -1;
        unsigned width = (h >> format::kWidthShift) & 7;
        const uint8_t* outs = p + n + n * width;
        if (h & format::kOutputsBit) {
            const uint8_t* q = format::skipVarints(outs, k);
            sum += format::getVarintTrusted(q);
            outs = q;  // with width 0 there is one arc, and q is the state's end
        }
        o = width == 0 ? uint32_t(outs - fsa) : o + format::loadN<Big>(p + n + k * width, width);
    }
    const uint8_t* p = fsa + o;
    uint8_t h = *p++;
    if (!(h & format::kFinalBit)) return -1;
    if ((h & format::kCountMask) == format::kCountEscape) format::getVarintTrusted(p);
    return result(v, sum + format::getVarintTrusted(p));
}

// The reference path: the same arc-by-arc cursor the enumeration uses.
template <bool Big>
int64_t lookupCompactSlow(const View& v, uint32_t o, const uint8_t* word, int32_t length) {
    CompactState s;
    decodeCompact(v.fsa, o, s);
    uint64_t sum = 0;
    for (int32_t i = 0; i < length; ++i) {
        const uint8_t* out = s.outs;
        uint32_t k = 0;
        uint32_t output = 0;
        for (; k < s.n; ++k) {
            output = nextOutput(s, out);
            if (s.labels[k] >= word[i]) break;
        }
        if (k == s.n || s.labels[k] != word[i]) return -1;
        sum += output;
        decodeCompact(v.fsa, compactTarget<Big>(s, k), s);
    }
    return s.final ? result(v, sum + s.finalOutput) : -1;
}

// A field of `width` bytes at p, loaded as four bytes and cut down (little
// endian: any width from 0 to 4; big endian: 1 to 4).
template <bool Big>
inline uint32_t loadWide(const uint8_t* p, unsigned width) {
    uint32_t raw;
    std::memcpy(&raw, p, 4);
    if constexpr (Big) return width == 4 ? __builtin_bswap32(raw) : __builtin_bswap32(raw) >> (32 - 8 * width);
    else return raw & uint32_t((uint64_t(1) << (8 * width)) - 1);
}

template <bool Big, unsigned CheckSize>
int64_t lookupSparseWide(const View& v, uint32_t code, const uint8_t* word, int32_t length) {
    const uint8_t* slots = v.slots;
    const size_t slotSize = v.slotSize;
    const unsigned payloadSize = v.payloadSize;
    const unsigned outputSize = v.outputSize;
    uint64_t sum = 0;
    for (int32_t i = 0; i < length; ++i) {
        uint32_t c = v.labelCode[word[i]];
        if (c == 0) return -1;
        const uint8_t* p = slots + ((code >> 1) + c) * slotSize;
        uint32_t check = CheckSize == 1 ? p[0] : format::loadN<Big>(p, 2);
        if (check != c) return -1;
        code = loadWide<Big>(p + CheckSize, payloadSize);
        if (outputSize) sum += loadWide<Big>(p + CheckSize + payloadSize, outputSize);
    }
    if (!(code & 1)) return -1;
    return result(v, sum + loadWide<Big>(slots + (code >> 1) * slotSize + CheckSize, payloadSize));
}

// Four-byte slots: one load gives the check (low byte) and the target code,
// whose base is the slot's top 23 bits and whose final flag is bit 8. With a
// spare slot past every state's last arc, a byte outside the alphabet probes
// code A + 1, which no check holds, so one comparison tests both.
template <bool Spare>
inline bool packedStep(const uint8_t* slots, const uint16_t* codes, uint8_t byte, uint32_t& base, uint32_t& slot) {
    uint32_t c = codes[byte];
    // The label's part of the address is added off the chain of loads.
    const uint8_t* row = slots + size_t(c) * 4;
    asm("" : "+r"(row));  // keeps the compiler from folding the sum back into the chain
    uint32_t next = packedSlot(row, base);
    // Compared as bytes, the check costs one instruction a step rather than
    // two (a zero extension and a compare); a probe code must then fit a byte.
    if (__builtin_expect(uint8_t(next) != uint8_t(c) || (!Spare && c == 0), 0)) return false;
    slot = next;
    base = next >> 9;
    return true;
}

// Takes `step` over every byte of the word, four bytes a round, so that a hot
// lookup takes one branch back per round rather than per byte; the path of a
// present word falls through. False once a step fails.
template <class Step>
[[gnu::always_inline]] inline bool stepThrough(const uint8_t* word, int32_t length, Step&& step) {
    const uint8_t* end = word + length;
    for (; end - word >= 4; word += 4)
        if (!step(word[0]) || !step(word[1]) || !step(word[2]) || !step(word[3])) return false;
    if (end - word >= 2) {
        if (!step(word[0]) || !step(word[1])) return false;
        word += 2;
    }
    return word == end || step(word[0]);
}

template <bool Spare>
[[gnu::always_inline]] inline int64_t lookupSparsePacked(const View& v, uint32_t code, const uint8_t* word, int32_t length) {
    const uint8_t* slots = v.slots;
    const uint16_t* codes = Spare ? v.probeCode : v.labelCode;
    // The root's code is not bound to three bytes: its base is taken apart.
    uint32_t base = code >> 1;
    uint32_t slot = (code & 1) << 8;  // the final flag where a slot holds it
    auto step = [&](uint8_t byte) { return packedStep<Spare>(slots, codes, byte, base, slot); };
    if (!stepThrough(word, length, step)) return -1;
    if (__builtin_expect(!(slot & 0x100), 0)) return -1;
    return result(v, packedSlot(slots, base) >> 8);
}

// Five-byte little-endian slots, a check byte and a four-byte target code
// without outputs: the table of an automaton too large for three-byte codes,
// or with final outputs that need four bytes.
template <bool Spare>
[[gnu::always_inline]] inline int64_t lookupSparseFive(const View& v, uint32_t code, const uint8_t* word, int32_t length) {
    const uint8_t* slots = v.slots;
    const uint16_t* codes = Spare ? v.probeCode : v.labelCode;
    auto step = [&](uint8_t byte) {
        uint32_t c = codes[byte];
        const uint8_t* row = slots + size_t(c) * 5;
        asm("" : "+r"(row));  // as in packedStep
        const uint8_t* p = row + size_t(code >> 1) * 5;
        if (__builtin_expect(p[0] != uint8_t(c) || (!Spare && c == 0), 0)) return false;  // as in packedStep
        std::memcpy(&code, p + 1, 4);
        return true;
    };
    if (!stepThrough(word, length, step)) return -1;
    if (__builtin_expect(!(code & 1), 0)) return -1;
    uint32_t finalOutput;
    std::memcpy(&finalOutput, slots + size_t(code >> 1) * 5 + 1, 4);
    return result(v, finalOutput);
}

// Any slot shape, every field loaded to its exact width.
int64_t lookupSparseFast(const View& v, uint32_t code, const uint8_t* word, int32_t length) {
    uint64_t sum = 0;
    for (int32_t i = 0; i < length; ++i) {
        uint32_t c = v.labelCode[word[i]];
        if (c == 0) return -1;
        uint32_t slot = (code >> 1) + c;
        if (v.check(slot) != c) return -1;
        code = v.payload(slot);
        sum += v.output(slot);
    }
    return (code & 1) ? result(v, sum + v.payload(code >> 1)) : -1;
}

int64_t lookupSparseSlow(const View& v, uint32_t code, const uint8_t* word, int32_t length) {
    uint64_t sum = 0;
    for (int32_t i = 0; i < length; ++i) {
        uint32_t base = code >> 1;
        uint32_t c = 1;
        while (c <= v.alphabetSize && !(v.check(base + c) == c && v.alphabet[c - 1] >= word[i])) ++c;
        if (c > v.alphabetSize || v.alphabet[c - 1] != word[i]) return -1;
        code = v.payload(base + c);
        sum += v.output(base + c);
    }
    return (code & 1) ? result(v, sum + v.payload(code >> 1)) : -1;
}

const uint8_t kNoBytes[1] = {0};

// The record of a word's annotation; the last one is kept, since neighbouring
// words often share their annotation.
struct AnnotSource {
    const View& v;
    AnnotRecord last{nullptr, 0, 0};
    bool haveLast = false;

    const AnnotRecord& record(uint64_t number) {
        if (haveLast && number == last.number) return last;
        if (!v.numberValid(number)) badNumber(number);
        uint32_t n = uint32_t(number);
        if (v.numbersOnly) {
            last = AnnotRecord{nullptr, 0, n};
        } else {
            uint32_t begin = v.annotOffset(n);
            last = AnnotRecord{v.annotData + begin, int32_t(v.annotOffset(n + 1) - begin), n};
        }
        haveLast = true;
        return last;
    }
};

// A callback stopped the enumeration at the word of `length` bytes at `word`.
[[gnu::cold]] int32_t stopAt(const Spelled& start, const uint8_t* word, size_t length) {
    if (start.stoppedAt) start.stoppedAt->assign(reinterpret_cast<const char*>(word), length);
    return 0;
}

// The word being spelled; grows as deep as the longest word.
struct WordBuffer {
    std::vector<uint8_t> bytes = std::vector<uint8_t>(64);
    uint8_t* at(size_t depth) {
        if (depth >= bytes.size()) bytes.resize(bytes.size() * 2);
        return bytes.data() + depth;
    }
    // Starts the word with what is spelled before the enumeration's state.
    void begin(const Spelled& start) {
        if (start.length > bytes.size()) bytes.resize(start.length);
        if (start.length) std::memcpy(bytes.data(), start.prefix, start.length);
    }
};

// A state on the enumeration's path and the arcs of it still to take.
struct CursorArcs {
    const uint8_t* label;      // the next arc's label
    const uint8_t* labelsEnd;
    const uint8_t* target;     // the next arc's target field
    const uint8_t* state;      // the state's head: targets are relative to it
    uint8_t head;              // the state's head byte: target width, outputs
    uint32_t depth;            // length of the word that ends in this state
};

// Without outputs on any arc, a word's number is its last state's final
// output, and the cursor is smaller by what carries the sums.
template <bool Outputs>
struct CompactCursor : CursorArcs {};

template <>
struct CompactCursor<true> : CursorArcs {
    const uint8_t* out;        // the next arc's output, when the arcs carry outputs
    uint64_t sum;              // outputs along the path to this state
};

// Target field of `width` bytes at p. `Wide`: loaded as four bytes and cut
// down, which the view allows only in a little-endian file where every field
// has four bytes of file.
template <bool Big, bool Wide>
inline uint32_t targetField(const uint8_t* p, unsigned width) {
    static_assert(!(Big && Wide), "a width-0 field has no big-endian four-byte load");
    if constexpr (Wide) return loadWide<Big>(p, width);
    else return format::loadN<Big>(p, width);
}

// Places the cursor on the arcs of the state at `state`; a final state's final
// output goes to `finalOutput`. `Reached`: the state is the target of an arc,
// so that a byte follows its head (its final output or its first label; only
// an empty root has neither).
template <bool Reached, bool Outputs>
inline void openCompact(const uint8_t* state, CompactCursor<Outputs>& c, uint32_t& finalOutput) {
    const uint8_t* p = state;
    uint8_t h = *p++;
    uint32_t n = h & format::kCountMask;
    if (n == format::kCountEscape) n += format::getVarintTrusted(p);
    // Final or not is a coin toss to a branch predictor: a final output of
    // one byte (the usual case) is taken without a branch on it.
    const bool final = h & format::kFinalBit;
    const uint8_t next = Reached || final ? *p : 0;
    if (final && next >= 0x80) [[unlikely]] {
        finalOutput = format::getVarintTrusted(p);
    } else {
        finalOutput = final ? next : 0;
        p += final;
    }
    unsigned width = (h >> format::kWidthShift) & 7;
    c.label = p;
    c.labelsEnd = p + n;
    c.target = p + n;
    if constexpr (Outputs) c.out = p + n + n * width;
    c.state = state;
    c.head = h;
}

// Depth first, arcs in label order. Only the head of a state is read when an
// arc reaches it, and its arcs one at a time as they are taken. The current
// state's cursor is a local; the stack holds the states above it that still
// have arcs to take.
template <bool Big, bool Wide, bool Outputs>
int32_t enumerateCompact(const View& v, uint32_t state, const Spelled& start, WordCallback callback, void* context) {
    const uint8_t* fsa = v.fsa;
    AnnotSource annots{v};
    // The word and the stack grow by hand, so their sizes stay in registers.
    std::vector<uint8_t> word(std::max<size_t>(64, 2 * size_t(start.length)));
    if (start.length) std::memcpy(word.data(), start.prefix, start.length);
    uint8_t* spelled = word.data();
    size_t wordRoom = word.size();
    std::vector<CompactCursor<Outputs>> stack(64);
    CompactCursor<Outputs>* cursors = stack.data();
    size_t stackRoom = stack.size();
    size_t top = 0;
    CompactCursor<Outputs> c;
    uint32_t finalOutput = 0;
    openCompact<false>(fsa + state, c, finalOutput);
    c.depth = start.length;
    if constexpr (Outputs) c.sum = start.sum;
    if (c.head & format::kFinalBit) {
        const AnnotRecord& r = annots.record(start.sum + finalOutput);
        if (callback(start.length ? spelled : kNoBytes, int32_t(start.length), &r, context) == 0)
            return stopAt(start, spelled, start.length);
    }
    if (c.label == c.labelsEnd) return 1;
    for (;;) {
        const uint32_t depth = c.depth;
        if (depth == wordRoom) [[unlikely]] {
            word.resize(2 * wordRoom);
            spelled = word.data();
            wordRoom = word.size();
        }
        spelled[depth] = *c.label++;
        uint64_t sum = 0;
        if constexpr (Outputs) {
            sum = c.sum;
            if (c.head & format::kOutputsBit) sum += format::getVarintTrusted(c.out);
        }
        const unsigned width = (c.head >> format::kWidthShift) & 7;
        // Width 0: the single arc's target is the state right after this
        // one. Both are computed and one is chosen, without a branch.
        // Pointers throughout, so that the automaton's start is not needed.
        const uint8_t* next;
        if constexpr (Outputs) next = c.out;
        else next = c.labelsEnd;
        const uint8_t* field = c.state + targetField<Big, Wide>(c.target, width);
        const uint8_t* target = width == 0 ? next : field;
        // Every target lies past its state's labels: in bytes written over
        // since the checks, a listing still goes only forward, so it ends.
        if (target < c.labelsEnd) [[unlikely]] backwardTarget();
        c.target += width;
        if (c.label != c.labelsEnd) {
            // Only states with arcs still to take are stacked, so the stack
            // stays small beside a long word.
            if (top == stackRoom) [[unlikely]] {
                stack.resize(2 * stackRoom);
                cursors = stack.data();
                stackRoom = stack.size();
            }
            cursors[top++] = c;
            // The next arc is taken once this one's words are listed: its
            // state can be on its way from memory meanwhile.
            __builtin_prefetch(c.state + targetField<Big, Wide>(c.target, width));
        }
        openCompact<true>(target, c, finalOutput);
        c.depth = depth + 1;
        if constexpr (Outputs) c.sum = sum;
        if (c.head & format::kFinalBit) {
            const AnnotRecord& r = annots.record(sum + finalOutput);
            if (callback(spelled, int32_t(depth + 1), &r, context) == 0) return stopAt(start, spelled, depth + 1);
        }
        if (c.label == c.labelsEnd) {
            if (top == 0) return 1;
            c = cursors[--top];
        }
    }
}

// A state on the listing's path; with outputs, their sum along the path.
template <bool Sums>
struct SparseFrame {
    uint32_t base;
    uint32_t next;  // the next label code to try
};

template <>
struct SparseFrame<true> {
    uint32_t base;
    uint32_t next;
    uint64_t sum = 0;
};

// The first label code from `c` up to `A` whose slot at `checks` (a state's
// base in a table of four-byte slots) holds it as check, or A + 1. Every slot
// up to the base's A-th is in the table. Four slots are compared at once
// where the vector unit allows.
inline uint32_t nextPackedArc(const uint8_t* checks, uint32_t c, uint32_t A) {
#if defined(__SSE2__)
    const __m128i low = _mm_set1_epi32(0xFF);
    const __m128i steps = _mm_setr_epi32(0, 1, 2, 3);
    for (; c + 3 <= A; c += 4) {
        __m128i four;
        std::memcpy(&four, checks + size_t(c) * 4, sizeof four);
        __m128i wanted = _mm_add_epi32(_mm_set1_epi32(int(c)), steps);
        int hits = _mm_movemask_ps(_mm_castsi128_ps(_mm_cmpeq_epi32(_mm_and_si128(four, low), wanted)));
        if (hits) return c + unsigned(__builtin_ctz(unsigned(hits)));
    }
#endif
    while (c <= A && checks[size_t(c) * 4] != c) ++c;
    return c;
}

// Tries the label codes in order at each state. `Packed`: four-byte slots
// without outputs (check in the low byte, the target code above it), whose
// probes compare check bytes only; otherwise any slot shape.
template <bool Packed>
int32_t enumerateSparse(const View& v, uint32_t code, const Spelled& start, WordCallback callback, void* context) {
    AnnotSource annots{v};
    WordBuffer word;
    word.begin(start);
    const size_t spelledBefore = start.length;
    using Frame = SparseFrame<!Packed>;
    std::vector<Frame> stack;
    auto payload = [&v](uint32_t slot) -> uint32_t {
        if constexpr (Packed) {
            return packedSlot(v.slots, slot) >> 8;
        } else {
            return v.payload(slot);
        }
    };
    if (code & 1) {
        const AnnotRecord& r = annots.record(start.sum + payload(code >> 1));
        const uint8_t* bytes = spelledBefore ? word.bytes.data() : kNoBytes;
        if (callback(bytes, int32_t(spelledBefore), &r, context) == 0) return stopAt(start, bytes, spelledBefore);
    }
    Frame first{code >> 1, 1};
    if constexpr (!Packed) first.sum = start.sum;
    stack.push_back(first);
    const uint32_t A = v.alphabetSize;
    while (!stack.empty()) {
        Frame& f = stack.back();
        uint32_t c = f.next;
        if constexpr (Packed) c = nextPackedArc(v.slots + size_t(f.base) * 4, c, A);
        else
            while (c <= A && v.check(f.base + c) != c) ++c;
        if (c > A) {
            stack.pop_back();
            continue;
        }
        f.next = c + 1;
        uint32_t slot = f.base + c;
        uint32_t target = payload(slot);
        // Every target's base lies below its state's: in bytes written over
        // since the checks, a listing still reads only the table and ends.
        if ((target >> 1) >= f.base) [[unlikely]] backwardTarget();
        uint64_t sum = 0;
        if constexpr (!Packed) sum = f.sum + v.output(slot);
        size_t depth = spelledBefore + stack.size();
        *word.at(depth - 1) = v.alphabet[c - 1];
        if (target & 1) {
            const AnnotRecord& r = annots.record(sum + payload(target >> 1));
            if (callback(word.bytes.data(), int32_t(depth), &r, context) == 0)
                return stopAt(start, word.bytes.data(), depth);
        }
        Frame next{target >> 1, 1};
        if constexpr (!Packed) next.sum = sum;
        stack.push_back(next);
    }
    return 1;
}

template <LookupFunction Lookup>
int32_t walkWith(const View& v, uint32_t state, const uint8_t* word, int32_t length) {
    return int32_t(Lookup(v, state, word, length));
}

template <LookupFunction Lookup>
constexpr LookupPath path() {
    return {Lookup, walkWith<Lookup>};
}

} // namespace

LookupPath chooseLookup(const View& v, bool slow) {
    if (v.sparse) {
        if (slow) return path<lookupSparseSlow>();
        // The fast walks compare a check byte with the probe code's low byte:
        // with 255 labels the code of a byte outside the alphabet, 256, has none.
        const bool probe = v.spareSlot && v.alphabetSize < 255;
        if (v.packedSlots) return probe ? path<lookupSparsePacked<true>>() : path<lookupSparsePacked<false>>();
        if (v.fiveByteSlots) return probe ? path<lookupSparseFive<true>>() : path<lookupSparseFive<false>>();
        if (v.wideLoads) {
            if (v.checkSize == 1) return v.big ? path<lookupSparseWide<true, 1>>() : path<lookupSparseWide<false, 1>>();
            return v.big ? path<lookupSparseWide<true, 2>>() : path<lookupSparseWide<false, 2>>();
        }
        return path<lookupSparseFast>();
    }
    if (v.big) return slow ? path<lookupCompactSlow<true>>() : path<lookupCompactFast<true>>();
    return slow ? path<lookupCompactSlow<false>>() : path<lookupCompactFast<false>>();
}

int64_t lookup(const View& v, uint32_t state, const uint8_t* word, int32_t length, bool slow) {
    if (length < 0) return -1;
    return chooseLookup(v, slow).lookup(v, state, word, length);
}

int32_t enumerateWords(const View& v, uint32_t state, const Spelled& start, WordCallback callback, void* context) {
    if (v.sparse)
        return v.packedSlots ? enumerateSparse<true>(v, state, start, callback, context)
                             : enumerateSparse<false>(v, state, start, callback, context);
    if (v.big) return enumerateCompact<true, false, true>(v, state, start, callback, context);
    if (!v.wideTargets) return enumerateCompact<false, false, true>(v, state, start, callback, context);
    return v.arcOutputs ? enumerateCompact<false, true, true>(v, state, start, callback, context)
                        : enumerateCompact<false, true, false>(v, state, start, callback, context);
}

int32_t reportWord(const View& v, const Spelled& word, uint32_t finalOutput, WordCallback callback, void* context) {
    AnnotSource annots{v};
    const AnnotRecord& r = annots.record(word.sum + finalOutput);
    if (callback(word.length ? word.prefix : kNoBytes, int32_t(word.length), &r, context) != 0) return 1;
    return stopAt(word, word.prefix, word.length);
}

int32_t enumerateAnnots(const View& v, AnnotCallback callback, void* context) {
    if (v.numbersOnly) {
        const uint8_t* p = v.annotData;
        uint32_t number = 0;
        for (uint32_t i = 0; i < v.annotCount; ++i) {
            number += format::getVarintTrusted(p);
            AnnotRecord r{kNoBytes, 0, number};
            if (callback(&r, context) == 0) return 0;
        }
        return 1;
    }
    AnnotSource annots{v};
    for (uint32_t i = 0; i < v.annotCount; ++i) {
        const AnnotRecord& r = annots.record(i);
        if (callback(&r, context) == 0) return 0;
    }
    return 1;
}

DictImpl::DictImpl(const uint8_t* data, uint64_t size, bool slow, bool verifyChecksum, Backing backing) {
    validate(data, size, verifyChecksum, view_, backing);
    root = view_.root();
    checkedState_ = root;
    path_ = chooseLookup(view_, slow);
}

int64_t DictImpl::lookup(const uint8_t* word, int32_t length) const {
    // The file's own root, which the checks made sure of: the public member
    // is the caller's to change.
    return length < 0 ? -1 : path_.lookup(view_, view_.root(), word, length);
}

int32_t DictImpl::forEachWord(uint32_t state, WordCallback callback, void* context) const {
    if (!isState(view_, state))
        throw Error(Error::Kind::BadInput, "invalid state " + std::to_string(state));
    return enumerateWords(view_, state, Spelled{}, callback, context);
}

int32_t DictImpl::forEachAnnot(AnnotCallback callback, void* context) const {
    return enumerateAnnots(view_, callback, context);
}

int32_t DictImpl::walkFromNewState(uint32_t state, const uint8_t* word, int32_t length) {
    if (length < 0 || !isState(view_, state)) return -1;
    checkedState_ = state;
    return path_.walk(view_, state, word, length);
}

} // namespace velkin::libtarvo
