// Validation on open: every offset, size, label, target and annotation number
// that a later call relies on is checked here, in time linear in the file.
#include "view.h"

#include "compact_state.h"
#include "page_memory.h"
#include "read_behind.h"
#include "start_elsewhere.h"

#include <algorithm>
#include <cstring>
#include <future>
#include <bit>
#include <system_error>
#include <thread>
#include <vector>

namespace velkin::libtarvo {

using format::damaged;

namespace {

std::string at(const char* what, uint64_t where) { return std::string(what) + " " + std::to_string(where); }

void readAlphabet(View& v) {
    v.alphabet = v.file + v.header.alphabetOffset;
    v.alphabetSize = uint32_t(v.header.alphabetSize);
    for (uint32_t i = 0; i < v.alphabetSize; ++i) {
        if (i > 0 && v.alphabet[i] <= v.alphabet[i - 1]) damaged("alphabet is not in increasing order");
        v.labelCode[v.alphabet[i]] = uint16_t(i + 1);
    }
    for (unsigned b = 0; b < 256; ++b) v.probeCode[b] = v.labelCode[b] ? v.labelCode[b] : uint16_t(v.alphabetSize + 1);
}

void readAnnotations(View& v) {
    const HeaderRecord& h = v.header;
    const uint8_t* section = v.file + h.annotOffset;
    v.annotCount = uint32_t(h.annotChunksCount);
    v.annotDataSize = uint32_t(h.annotChunkSize);
    v.indexWidth = unsigned(h.annotLengthSize);
    v.numbersOnly = v.indexWidth == 0;
    v.numberLimit = v.numbersOnly ? uint64_t(1) << 32 : v.annotCount;
    ReadBehind behind(v.dropRead, v.file, v.size, section);
    if (v.numbersOnly) {
        // The numbers in use: the first, then positive differences, as varints.
        const uint8_t* p = section;
        const uint8_t* end = section + v.annotDataSize;
        uint64_t value = 0;
        for (uint32_t i = 0; i < v.annotCount; ++i) {
            behind.passed(p);
            uint32_t step;
            if (!format::getVarint(p, end, step)) damaged(at("annotation number list breaks at entry", i));
            if (i > 0 && step == 0) damaged(at("annotation number list repeats at entry", i));
            value += step;
            if (value > 0xFFFFFFFFu) damaged(at("annotation number list overflows at entry", i));
        }
        if (p != end) damaged("annotation number list has trailing bytes");
        behind.done(end);
        v.annotData = section;
        return;
    }
    v.annotIndex = section;
    v.annotData = section + uint64_t(v.annotCount + 1) * v.indexWidth;
    uint32_t previous = 0;
    for (uint32_t i = 0; i <= v.annotCount; ++i) {
        behind.passed(v.annotIndex + uint64_t(i) * v.indexWidth);
        uint32_t offset = v.annotOffset(i);
        if ((i == 0 && offset != 0) || offset < previous || offset > v.annotDataSize)
            damaged(at("annotation", i) + " lies outside the annotation section");
        previous = offset;
    }
    if (previous != v.annotDataSize) damaged("annotation index does not end at the section's end");
    behind.done(v.annotData);
}

// One bit for each byte of the automaton from `first` (a multiple of 64) on.
struct Marks {
    uint64_t* words;
    uint64_t first = 0;
    uint64_t& word(uint64_t at) const { return words[(at - first) >> 6]; }
    void set(uint64_t at) const { word(at) |= uint64_t(1) << (at & 63); }
};

// What a pass over states found, for the checks that need every state.
struct CompactPass {
    uint64_t transitions = 0;
    unsigned widest = 0;
    const uint8_t* lastField = nullptr;  // the last place a listing loads a target field from
    bool arcOutputs = false;
    uint32_t end = 0;                     // where the pass's last state ends
};

// Compact layout: one pass over the states in file order, from the state at
// `from` to the first that ends at or past `to`. Targets point forward, which
// makes the automaton acyclic; a bitmap of the targets seen so far catches a
// target that lands inside a state instead of at its start. `starts`, when
// given, gets a mark at every state the pass reads.
template <bool Big, bool DelayFar>
CompactPass checkCompactStates(const View& v, uint32_t from, uint32_t to, Marks targeted, const Marks* starts) {
    const uint8_t* fsa = v.fsa;
    const uint32_t size = v.fsaSize;
    const uint8_t* end = fsa + size;
    const uint8_t* fileEnd = v.file + v.size;
    to = std::min(to, size);
    auto markStart = [&](uint32_t state) {
        if (starts) starts->set(state);
    };
    bool arcOutputs = false;
    bool inAlphabet[256] = {};
    for (uint32_t i = 0; i < v.alphabetSize; ++i) inAlphabet[v.alphabet[i]] = true;

    uint64_t transitions = 0;
    unsigned widest = 0;
    const uint8_t* lastField = nullptr;  // the last place a listing loads a target field from
    uint32_t o = from;
    // In a large automaton far targets miss the cache, so marking them is
    // delayed: each is prefetched and marked a few far targets later, and
    // always before the pass gets within half the near distance of it.
    constexpr uint64_t kNear = 65536;
    constexpr unsigned kQueue = 32;
    struct Pending {
        uint64_t target;
        uint64_t from;
    };
    Pending queue[kQueue];
    unsigned head = 0, queued = 0;
    auto apply = [&](uint64_t target) { targeted.set(target); };
    auto applyOldest = [&] {
        apply(queue[head].target);
        head = (head + 1) % kQueue;
        --queued;
    };
    auto mark = [&](uint64_t target, uint64_t from) {
        if (!DelayFar || target - from < kNear) return apply(target);
        __builtin_prefetch(&targeted.word(target), 1);
        if (queued == kQueue) applyOldest();
        queue[(head + queued) % kQueue] = {target, from};
        ++queued;
    };
    auto targetedInside = [&](uint64_t from, uint64_t to) {  // any target in [from, to)?
        if (from >= to) return false;  // a state of one byte, maybe the last
        uint64_t shift = from & 63;
        if (to - from <= 64 - shift) {  // within one word: nearly every state
            uint64_t span = to - from;
            uint64_t mask = span == 64 ? ~uint64_t(0) : ((uint64_t(1) << span) - 1);
            return ((targeted.word(from) >> shift) & mask) != 0;
        }
        for (uint64_t i = from; i < to;) {
            uint64_t word = targeted.word(i) >> (i & 63);
            uint64_t span = std::min<uint64_t>(64 - (i & 63), to - i);
            if (span < 64 && (word & ((uint64_t(1) << span) - 1))) return true;
            if (span == 64 && word) return true;
            i += span;
        }
        return false;
    };
    auto varint = [&](const uint8_t*& p, uint32_t& value) {
        if (p < end && *p < 0x80) {
            value = *p++;
            return true;
        }
        return format::getVarint(p, end, value);
    };
    ReadBehind behind(v.dropRead, v.file, v.size, fsa + from);
    while (o < to) {
        behind.passed(fsa + o);
        while (queued && queue[head].from + kNear / 2 <= o) applyOldest();
        // The commonest state by far: one arc to the state that follows, not
        // final, no output. A run of them is checked in a tight loop, up to
        // where a delayed mark is due; the general path below reports faults.
        {
            uint64_t limit = std::min<uint64_t>(size > 2 ? size - 2 : 0, to);
            if (queued) limit = std::min<uint64_t>(limit, queue[head].from + kNear / 2);
            uint32_t at = o;
            uint64_t chains = 0;
            while (at < limit && fsa[at] == 1) {
                uint32_t inside = at + 1;
                if (!inAlphabet[fsa[inside]] || (targeted.word(inside) >> (inside & 63) & 1)) break;
                markStart(at);
                ++chains;
                at += 2;
            }
            transitions += chains;
            if (at != o) {
                lastField = fsa + at;  // the last chain state's end, as below
                o = at;
                continue;
            }
        }
        markStart(o);
        const uint8_t* p = fsa + o;
        uint8_t h = *p++;
        unsigned width = (h >> format::kWidthShift) & 7;
        if (width > 4) damaged(at("state", o) + " has a bad target width");
        uint32_t n = h & format::kCountMask;
        if (n == format::kCountEscape) {
            uint32_t more;
            if (!varint(p, more) || more > 256) damaged(at("state", o) + " has a bad arc count");
            n += more;
        }
        if (n > 256) damaged(at("state", o) + " has more arcs than labels");
        // A final output of one byte, the usual one, is stepped over without a branch.
        uint8_t finalFirst = p < end ? *p : 0x80;
        if (__builtin_expect((h & format::kFinalBit) && finalFirst >= 0x80, 0)) {
            uint32_t finalOutput;
            if (!varint(p, finalOutput)) damaged(at("state", o) + " is truncated");
        } else {
            p += (h & format::kFinalBit) != 0;
        }
        if (uint64_t(end - p) < uint64_t(n) * (1 + width)) damaged(at("state", o) + " runs past the automaton");
        const uint8_t* labels = p;
        const uint8_t* targets = p + n;
        const uint8_t* outs = targets + uint64_t(n) * width;
        if (h & format::kOutputsBit) {
            arcOutputs = true;
            for (uint32_t k = 0; k < n; ++k) {
                uint32_t output;
                if (!varint(outs, output)) damaged(at("state", o) + " has a bad arc output");
            }
        }
        uint32_t stateEnd = uint32_t(outs - fsa);
        // Labels and targets in one loop; a fault is then found again below,
        // in the order of the messages.
        auto targetOf = [&](uint32_t k) {
            const uint8_t* field = targets + k * width;
            return uint64_t(o) + (Big ? format::loadN<true>(field, width) : format::loadLittleField(field, width, fileEnd));
        };
        bool arcsSound = true;
        {
            int previous = -1;
            for (uint32_t k = 0; k < n; ++k) {
                arcsSound &= inAlphabet[labels[k]] & (int(labels[k]) > previous);
                previous = labels[k];
                if (width == 0) continue;
                uint64_t target = targetOf(k);
                bool forward = target < size && target >= stateEnd;
                arcsSound &= forward;
                if (forward) mark(target, o);
            }
        }
        int previous = -1;
        for (uint32_t k = 0; !arcsSound && k < n; ++k) {
            if (!inAlphabet[labels[k]]) damaged(at("state", o) + " has a label outside the alphabet");
            if (int(labels[k]) <= previous) damaged(at("state", o) + " has labels out of order");
            previous = labels[k];
        }
        if (width == 0) {
            // The one target is the state that follows: a boundary by construction.
            if (n > 1) damaged(at("state", o) + " has several arcs without targets");
            if (n == 1 && stateEnd >= size) damaged(at("transition", transitions) + " points past the automaton");
            // A listing loads a field here too, and discards it.
            if (n == 1) lastField = targets;
        } else {
            for (uint32_t k = 0; !arcsSound && k < n; ++k) {
                uint64_t target = targetOf(k);
                if (target >= size) damaged(at("transition", transitions + k) + " points past the automaton");
                if (target < stateEnd) damaged(at("transition", transitions + k) + " does not point forward");
            }
            lastField = targets + (n - 1) * width;
        }
        if (!arcsSound) damaged(at("state", o) + " has a bad arc");  // each fault has its message above
        if (targetedInside(uint64_t(o) + 1, stateEnd)) damaged("a transition points inside " + at("state", o));
        // Every path must end in a word, or an enumeration could walk
        // exponentially many paths that spell none; only an empty root may end none.
        if (n == 0 && !(h & format::kFinalBit) && o != 0) damaged(at("state", o) + " has no arcs and is not final");
        transitions += n;
        if (n > 0 && width > widest) widest = width;
        o = stateEnd;
    }
    // A pass that ends before the automaton does (the first of two halves)
    // leaves marks for the states after it: they must all be made.
    while (queued) applyOldest();
    behind.done(fsa + std::min(o, size));
    return {transitions, widest, lastField, arcOutputs, o};
}

// The checks that need every state, and what the view keeps of the pass.
template <bool Big>
void finishCompact(View& v, const CompactPass& pass) {
    if (pass.transitions != uint64_t(v.header.transCount)) damaged("transition count disagrees with the header");
    if (int32_t(pass.widest) != v.header.destSize) damaged("target width disagrees with the header");
    v.arcOutputs = pass.arcOutputs;
    // Target fields may then be loaded as four bytes and cut down.
    const uint8_t* fileEnd = v.file + v.size;
    v.wideTargets = !Big && std::endian::native == std::endian::little &&
                    (pass.lastField == nullptr || pass.lastField + 4 <= fileEnd);
}

template <bool Big, bool DelayFar>
void validateCompact(View& v) {
    ZeroWords targeted((uint64_t(v.fsaSize) + 63) / 64);
    finishCompact<Big>(v, checkCompactStates<Big, DelayFar>(v, 0, v.fsaSize, Marks{targeted.data()}, nullptr));
}

// What two passes found, the second starting where the first ended.
CompactPass joined(const CompactPass& first, const CompactPass& second) {
    CompactPass whole = second;
    whole.transitions += first.transitions;
    whole.widest = std::max(first.widest, second.widest);
    whole.arcOutputs = first.arcOutputs || second.arcOutputs;
    if (whole.lastField == nullptr) whole.lastField = first.lastField;
    return whole;
}

// The target of the root, already checked, nearest the automaton's middle,
// or 0 when none lies near it: where a second pass may start.
uint32_t splitPoint(const View& v) {
    CompactState root;
    decodeCompact(v.fsa, 0, root);
    uint32_t best = 0;
    const uint64_t middle = v.fsaSize / 2;
    auto distance = [middle](uint64_t t) { return t > middle ? t - middle : middle - t; };
    for (uint32_t k = 0; k < root.n; ++k) {
        uint64_t t = compactTarget(root, k, v.big);
        if (t < v.fsaSize / 4 || t > v.fsaSize - v.fsaSize / 4) continue;
        if (best == 0 || distance(t) < distance(best)) best = uint32_t(t);
    }
    return best;
}

// A sound file is checked in two halves at once: the root first, then the
// rest up to a target of the root on this thread and from there on another.
// Any doubt (a fault in either half, the first half not ending at that
// target, a target of the first landing inside a state of the second) sends
// the file through the one pass above, so that a damaged file gets the same
// report either way.
template <bool Big, bool DelayFar>
void validateCompactInHalves(View& v) {
    const uint32_t size = v.fsaSize;
    const size_t words = (uint64_t(size) + 63) / 64;
    ZeroWords firstMarks(words), secondMarks, secondStarts;
    // On any doubt the halves' bitmaps go before the one pass makes its own.
    auto onePass = [&] {
        for (auto* marks : {&firstMarks, &secondMarks, &secondStarts}) *marks = ZeroWords();
        validateCompact<Big, DelayFar>(v);
    };
    CompactPass root;
    try {
        root = checkCompactStates<Big, false>(v, 0, 1, Marks{firstMarks.data()}, nullptr);
    } catch (...) {
        return onePass();  // which reports it
    }
    const uint32_t middle = splitPoint(v);
    if (middle == 0) return onePass();
    // The second half's bitmaps cover its own part only.
    const size_t firstWord = middle / 64;
    secondMarks = ZeroWords(words - firstWord);
    secondStarts = ZeroWords(words - firstWord);
    const Marks secondTargets{secondMarks.data(), uint64_t(firstWord) * 64};
    const Marks secondStartMarks{secondStarts.data(), uint64_t(firstWord) * 64};
    CompactPass second;
    bool secondSound = false;
    std::thread other;
    try {
        other = threads::startElsewhere([&] {
            try {
                second = checkCompactStates<Big, DelayFar>(v, middle, size, secondTargets, &secondStartMarks);
                secondSound = true;
            } catch (...) {
                // the one pass below reports it
            }
        });
    } catch (const std::system_error&) {
        return onePass();
    }
    bool sound = false;
    CompactPass first;
    try {
        first = checkCompactStates<Big, DelayFar>(v, root.end, middle, Marks{firstMarks.data()}, nullptr);
        sound = first.end == middle;
    } catch (...) {
        // the one pass below reports it
    }
    other.join();
    // Targets of the first half in the second must start states of it.
    for (size_t w = firstWord; sound && secondSound && w < words; ++w) {
        uint64_t marks = firstMarks[w];
        if (w == firstWord) marks &= ~uint64_t(0) << (middle & 63);
        if (marks & ~secondStarts[w - firstWord]) sound = false;
    }
    if (!sound || !secondSound) return onePass();
    finishCompact<Big>(v, joined(joined(root, first), second));
}

template <bool Big, bool DelayFar>
void checkCompact(View& v, uint64_t halvesFrom) {
    if (v.fsaSize >= halvesFrom) validateCompactInHalves<Big, DelayFar>(v);
    else validateCompact<Big, DelayFar>(v);
}

// Slots as the checks read them: any layout through the view, or the
// little-endian ones with a check byte and no outputs with plain loads.
struct AnySlots {
    const View& v;
    uint32_t check(uint32_t i) const { return v.check(i); }
    uint32_t payload(uint32_t i) const { return v.payload(i); }
};

struct PackedSlots {
    const uint8_t* slots;
    uint32_t check(uint32_t i) const { return packedSlot(slots, i) & 0xFF; }
    uint32_t payload(uint32_t i) const { return packedSlot(slots, i) >> 8; }
};

struct FiveByteSlots {
    const uint8_t* slots;
    uint32_t check(uint32_t i) const { return slots[uint64_t(i) * 5]; }
    uint32_t payload(uint32_t i) const {
        uint32_t value;
        std::memcpy(&value, slots + uint64_t(i) * 5 + 1, 4);
        return value;
    }
};

// Every path must end in a word (as in validateCompact): a state that an arc
// reaches and that is not final needs an arc of its own. `hasArcs` has a mark
// at every base that some slot belongs to.
template <class Slots>
void requireSparseWordEnds(const View& v, const Slots& slots, const ZeroWords& hasArcs) {
    for (uint32_t i = 0; i < v.slotCount; ++i) {
        if (slots.check(i) == 0) continue;
        uint32_t target = slots.payload(i);
        if (!(target & 1) && !hasArcs.test(target >> 1))
            damaged(at("transition at slot", i) + " reaches a state that has no arcs and is not final");
    }
}

// Every slot in use belongs to a state and reaches a state of a smaller base
// inside the table; a final state's final output lives in the slot at its
// base, whose check is 0.
template <class Slots>
void checkSparseSlots(View& v, const Slots& slots) {
    const uint64_t A = v.alphabetSize;
    // The message is built only on failure: this runs once a transition.
    auto finalSlotTaken = [&](uint32_t code) { return (code & 1) && slots.check(code >> 1) != 0; };
    if (finalSlotTaken(v.rootCode)) damaged("root reaches a final state whose slot is taken");

    uint64_t transitions = 0;
    uint64_t maxBase = v.rootCode >> 1;
    ZeroWords hasArcs((uint64_t(v.slotCount) + 63) / 64);
    for (uint32_t i = 0; i < v.slotCount; ++i) {
        uint32_t c = slots.check(i);
        if (c == 0) continue;
        if (c > A) damaged(at("slot", i) + " has a label outside the alphabet");
        if (c > i) damaged(at("slot", i) + " belongs to no state");
        hasArcs.set(i - c);
        uint32_t payload = slots.payload(i);
        uint64_t target = payload >> 1;
        if (target >= i - c) damaged(at("transition at slot", i) + " does not point to a smaller base");
        if (target + A >= v.slotCount) damaged(at("transition at slot", i) + " points past the table");
        if (finalSlotTaken(payload))
            damaged(at("transition at slot", i) + " reaches a final state whose slot is taken");
        maxBase = std::max(maxBase, target);
        ++transitions;
    }
    v.spareSlot = maxBase + A + 1 < v.slotCount;
    if (transitions != uint64_t(v.header.transCount)) damaged("transition count disagrees with the header");
    requireSparseWordEnds(v, slots, hasArcs);
}

// Sparse layout: a slot with label code c at index i belongs to the state
// whose base is i - c; every target base must be smaller than its source's.
void validateSparse(View& v) {
    const HeaderRecord& h = v.header;
    if (v.fsaSize < format::kSparsePrefix) damaged("sparse table is shorter than its prefix");
    v.rootCode = format::loadN(v.fsa, 4, v.big);
    v.outputSize = v.fsa[4];
    if (v.outputSize > 4 || v.fsa[5] || v.fsa[6] || v.fsa[7]) damaged("sparse table prefix is malformed");
    v.checkSize = unsigned(h.charSize);
    v.payloadSize = unsigned(h.destSize);
    v.slotSize = v.checkSize + v.payloadSize + v.outputSize;
    if ((v.fsaSize - format::kSparsePrefix) % v.slotSize != 0) damaged("sparse table size is not a whole number of slots");
    v.slots = v.fsa + format::kSparsePrefix;
    v.slotCount = (v.fsaSize - format::kSparsePrefix) / v.slotSize;
    if (uint32_t(h.paddingSize) > v.slotCount) damaged("padding is larger than the table");
    if (uint64_t(v.rootCode >> 1) + v.alphabetSize >= v.slotCount) damaged("root points past the table");
    v.wideLoads = uint64_t(v.slots - v.file) + uint64_t(v.slotCount) * v.slotSize + 4 <= v.size;
    const bool littleBytes = !v.big && std::endian::native == std::endian::little && v.checkSize == 1 && v.outputSize == 0;
    v.packedSlots = littleBytes && v.payloadSize == 3;
    v.fiveByteSlots = littleBytes && v.payloadSize == 4;
    if (v.fiveByteSlots) checkSparseSlots(v, FiveByteSlots{v.slots});
    else if (v.packedSlots) checkSparseSlots(v, PackedSlots{v.slots});
    else checkSparseSlots(v, AnySlots{v});
}

} // namespace

namespace {

void validateStructure(const uint8_t* file, uint64_t size, bool verifyChecksum, View& v, bool mapped,
                       uint64_t directMarks, uint64_t halvesFrom) {
    v = View{};
    v.file = file;
    v.size = size;
    v.dropRead = mapped;
    v.header = format::readHeader(file, size, verifyChecksum, mapped);
    v.big = v.header.isBigEndian != 0;
    v.sparse = v.header.isSparse != 0;
    v.fsa = file + v.header.fsaOffset;
    v.fsaSize = uint32_t(v.header.transSizeTotal);
    readAlphabet(v);
    readAnnotations(v);
    if (v.sparse) validateSparse(v);
    else if (v.fsaSize > directMarks) v.big ? checkCompact<true, true>(v, halvesFrom) : checkCompact<false, true>(v, halvesFrom);
    else v.big ? checkCompact<true, false>(v, halvesFrom) : checkCompact<false, false>(v, halvesFrom);
}

// The structure checked while the checksum is computed on a second thread.
void validateBesideChecksum(const uint8_t* file, uint64_t size, View& v, bool mapped, uint64_t directMarks,
                            uint64_t halvesFrom) {
    // What comes before the checksum is checked before the file is read
    // through: a file that is no dictionary of ours is refused at once.
    const uint32_t stored = uint32_t(format::readHeaderStart(file, size).checksum);
    std::future<uint32_t> checksum =
        std::async(std::launch::async, [file, size, mapped] { return format::fileChecksum(file, size, mapped); });
    try {
        validateStructure(file, size, false, v, mapped, directMarks, halvesFrom);
    } catch (const Error&) {
        // A damaged file whose checksum fails is reported as such, as it is
        // when the checksum comes first.
        if (checksum.get() != stored) format::damaged("checksum mismatch");
        throw;
    }
    if (checksum.get() != stored) format::damaged("checksum mismatch");
}

} // namespace

void validate(const uint8_t* file, uint64_t size, bool verifyChecksum, View& v, Backing backing,
              uint64_t checksumBeside, uint64_t directMarks, uint64_t halvesFrom) {
    const bool mapped = backing == Backing::FileMapping;
    if (!verifyChecksum || size < checksumBeside)
        validateStructure(file, size, verifyChecksum, v, mapped, directMarks, halvesFrom);
    else
        validateBesideChecksum(file, size, v, mapped, directMarks, halvesFrom);
    if (mapped) ReadBehind::handBackFirstPart(file, size);
}

bool isState(const View& v, uint32_t state) {
    if (state == v.root()) return true;
    if (v.sparse) {
        for (uint32_t i = 0; i < v.slotCount; ++i)
            if (v.check(i) != 0 && v.payload(i) == state) return true;
        return false;
    }
    uint32_t o = 0;
    CompactState s;
    while (o < state && o < v.fsaSize) {
        decodeCompact(v.fsa, o, s);
        o = s.end;
    }
    return o == state && state < v.fsaSize;
}

} // namespace velkin::libtarvo
