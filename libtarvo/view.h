// A validated dictionary image: where each section lies and how to read it.
// Everything here may be used without further bounds checks once validate()
// has accepted the bytes.
#pragma once

#include "format.h"
#include "read_behind.h"

#include <cstdint>
#include <cstring>
#include <vector>

namespace velkin::libtarvo {

struct View {
    const uint8_t* file = nullptr;
    uint64_t size = 0;
    bool dropRead = false;              // a mapped file: passes hand back pages they have read (read_behind.h)
    HeaderRecord header{};
    bool big = false;
    bool sparse = false;
    bool numbersOnly = false;

    const uint8_t* alphabet = nullptr;  // alphabetSize bytes, increasing
    uint32_t alphabetSize = 0;
    uint16_t labelCode[256] = {};       // byte -> code 1..A, 0 when not in the alphabet
    uint16_t probeCode[256] = {};       // the same, A + 1 when not in the alphabet

    const uint8_t* fsa = nullptr;       // automaton section
    uint32_t fsaSize = 0;

    // Sparse table.
    uint32_t rootCode = 0;              // (base << 1) | final
    const uint8_t* slots = nullptr;
    uint32_t slotCount = 0;
    unsigned checkSize = 1;
    unsigned payloadSize = 4;
    unsigned outputSize = 0;            // bytes of an arc's output in each slot
    unsigned slotSize = 5;
    bool wideLoads = false;             // sparse: 4-byte loads at any payload or output stay inside the file
    bool arcOutputs = false;            // compact: some state's arcs carry outputs
    bool wideTargets = false;           // compact: little-endian file and machine, four bytes of file wherever a listing loads a target field
    bool packedSlots = false;           // little-endian four-byte slots: check byte, 3-byte payload, no output
    bool fiveByteSlots = false;         // little-endian five-byte slots: check byte, 4-byte payload, no output
    bool spareSlot = false;             // sparse: slot base + A + 1 exists for every base a walk reaches

    // Annotation table, or the numbers in use of a numbers-only dictionary.
    const uint8_t* annotIndex = nullptr;
    unsigned indexWidth = 0;
    const uint8_t* annotData = nullptr;
    uint32_t annotCount = 0;
    uint32_t annotDataSize = 0;
    uint64_t numberLimit = 0;           // numbers below it are valid: annotCount, or 2^32 when numbers only

    uint32_t root() const { return sparse ? rootCode : 0; }

    uint32_t annotOffset(uint32_t i) const { return format::loadN(annotIndex + i * indexWidth, indexWidth, big); }

    uint32_t check(uint32_t slot) const {
        const uint8_t* p = slots + uint64_t(slot) * slotSize;
        return checkSize == 1 ? p[0] : format::loadN(p, 2, big);
    }
    uint32_t payload(uint32_t slot) const {
        return format::loadN(slots + uint64_t(slot) * slotSize + checkSize, payloadSize, big);
    }
    uint32_t output(uint32_t slot) const {
        return outputSize ? format::loadN(slots + uint64_t(slot) * slotSize + checkSize + payloadSize, outputSize, big) : 0;
    }

    // A word's annotation number is the sum of the outputs along its path; in
    // a damaged file that sum could leave the table.
    bool numberValid(uint64_t number) const {
        return number < numberLimit;
    }
};

// The four-byte slot at `index` of a packed table: the check in its low
// byte, the target code (or a final output) above it.
inline uint32_t packedSlot(const uint8_t* slots, size_t index) {
    uint32_t slot;
    std::memcpy(&slot, slots + index * 4, 4);
    return slot;
}

// Files of this size and more have their checksum computed on a second
// thread while the structure is checked.
constexpr uint64_t kChecksumBeside = uint64_t(32) << 20;

// Compact automata up to this size are checked with a bitmap of targets that
// stays in the second-level cache, marked at once; larger ones delay and
// prefetch the marks of far targets.
constexpr uint64_t kDirectMarks = uint64_t(8) << 20;

// Compact automata from this size up are checked in two halves on two
// threads when the file is sound; a doubt sends the file through the one
// pass, so that the report is the same. The second half's bitmaps cover its
// own part only, so the halves take about twice the one pass's memory.
constexpr uint64_t kHalvesFrom = uint64_t(512) << 10;

// Checks every rule of FORMAT.md that a later call relies on and fills `view`.
// Raises Error with the first fault found; a damaged file whose checksum also
// fails is reported as a checksum mismatch. With Backing::FileMapping the
// passes over the checksum, the annotation section and a compact automaton
// hand back the pages they have read in the file's first part
// (read_behind.h), so that the checks' bitmaps come in place of those pages
// rather than on top of the whole file.
void validate(const uint8_t* file, uint64_t size, bool verifyChecksum, View& view, Backing backing = Backing::Memory,
              uint64_t checksumBeside = kChecksumBeside, uint64_t directMarks = kDirectMarks,
              uint64_t halvesFrom = kHalvesFrom);

// Whether `state` is a state of the automaton (the root always is). Linear in
// the automaton's size for anything but the root.
bool isState(const View& view, uint32_t state);

} // namespace velkin::libtarvo
