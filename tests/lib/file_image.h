// A second reading of dictionary files, written from FORMAT.md alone and
// sharing no code with the library: the tests compare the library against it,
// and the damaged-file table uses it to find the bytes it alters.
#pragma once

#include "format.h"

#include <cstdint>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

namespace tarvo_lib_test {

// Header word indexes, in header order.
enum Field : unsigned {
    kMagic, kChecksum, kVersion, kIsTree, kIsHash, kIsSparse, kIsBigEndian, kAlphabetOffset,
    kFsaOffset, kAnnotOffset, kAlphabetSize, kTransCount, kAnnotLengthSize, kAnnotChunkSize,
    kAnnotChunksCount, kCharSize, kPaddingSize, kDestSize, kHashSize, kTransSizeTotal, kFieldCount
};

inline const char* const kFieldNames[kFieldCount] = {
    "magic", "checksum", "version", "isTree", "isHash", "isSparse", "isBigEndian",
    "alphabetOffset", "fsaOffset", "annotOffset", "alphabetSize", "transCount",
    "annotLengthSize", "annotChunkSize", "annotChunksCount", "charSize", "paddingSize",
    "destSize", "hashSize", "transSizeTotal"};

// The bytes of a file and the means to alter them in its own byte order.
struct Image {
    std::vector<uint8_t> bytes;

    bool big() const { return bytes.size() >= 4 && bytes[0] == 'O'; }  // "OVRT"
    uint32_t load(size_t at, unsigned width) const {
        uint32_t v = 0;
        for (unsigned i = 0; i < width; ++i) {
            unsigned shift = big() ? 8 * (width - 1 - i) : 8 * i;
            v |= uint32_t(bytes.at(at + i)) << shift;
        }
        return v;
    }
    void store(size_t at, uint32_t value, unsigned width) {
        for (unsigned i = 0; i < width; ++i) {
            unsigned shift = big() ? 8 * (width - 1 - i) : 8 * i;
            bytes.at(at + i) = uint8_t(value >> shift);
        }
    }
    uint32_t field(unsigned i) const { return load(4 * i, 4); }
    void setField(unsigned i, uint32_t value) { store(4 * i, value, 4); }
    size_t alphabetAt() const { return field(kAlphabetOffset); }
    size_t fsaAt() const { return field(kFsaOffset); }
    size_t annotAt() const { return field(kAnnotOffset); }
    size_t fsaSize() const { return field(kTransSizeTotal); }

    // Header word 1 made to match the bytes again, so that only the
    // structural checks can refuse the file.
    void fixChecksum() {
        if (bytes.size() >= 8)
            store(4, velkin::libtarvo::format::fileChecksum(bytes.data(), bytes.size()), 4);
    }
    // Removes or inserts automaton bytes and moves the sections behind them,
    // so that the header's offsets still agree with the file.
    void cutAutomaton(size_t at, size_t count) {
        bytes.erase(bytes.begin() + long(fsaAt() + at), bytes.begin() + long(fsaAt() + at + count));
        setField(kTransSizeTotal, field(kTransSizeTotal) - uint32_t(count));
        setField(kAnnotOffset, field(kAnnotOffset) - uint32_t(count));
    }
    // The whole automaton section replaced by `automaton`, the same way.
    void replaceAutomaton(const std::vector<uint8_t>& automaton) {
        const size_t at = fsaAt();
        bytes.erase(bytes.begin() + long(at), bytes.begin() + long(annotAt()));
        bytes.insert(bytes.begin() + long(at), automaton.begin(), automaton.end());
        setField(kTransSizeTotal, uint32_t(automaton.size()));
        setField(kAnnotOffset, uint32_t(at + automaton.size()));
    }
};

// One state as the file spells it, with where its parts lie (offsets within
// the automaton section).
struct Arc {
    uint8_t label = 0;
    uint32_t output = 0;
    uint32_t target = 0;      // compact: state offset; sparse: state code
    uint32_t fieldAt = 0;     // compact: target field; sparse: slot index
};

struct State {
    uint32_t id = 0;          // compact: offset; sparse: code
    uint32_t end = 0;         // compact: offset past the state
    uint8_t head = 0;         // compact: head byte
    unsigned width = 0;       // compact: target width
    bool final = false;
    uint32_t finalOutput = 0;
    uint32_t finalOutputAt = 0;  // compact: offset of the final output varint
    uint32_t labelsAt = 0;       // compact: offset of the labels
    std::vector<Arc> arcs;
};

struct Automaton {
    bool sparse = false;
    uint32_t root = 0;
    std::vector<State> states;           // compact: file order; sparse: by increasing code
    std::map<uint32_t, size_t> index;    // state id -> position in `states`
    // Sparse table geometry.
    unsigned checkSize = 0, payloadSize = 0, outputSize = 0, slotSize = 0;
    uint32_t slotCount = 0;

    const State& at(uint32_t id) const { return states.at(index.at(id)); }
    size_t arcCount() const {
        size_t n = 0;
        for (const State& s : states) n += s.arcs.size();
        return n;
    }
};

inline uint32_t readVarint(const Image& image, size_t& at) {
    uint32_t v = 0;
    for (unsigned shift = 0;; shift += 7) {
        uint8_t b = image.bytes.at(at++);
        v |= uint32_t(b & 0x7F) << shift;
        if (!(b & 0x80)) return v;
        if (shift >= 28) throw std::runtime_error("varint too long");
    }
}

inline Automaton decodeCompact(const Image& image) {
    Automaton a;
    const size_t base = image.fsaAt(), size = image.fsaSize();
    for (size_t o = 0; o < size;) {
        State s;
        s.id = uint32_t(o);
        size_t p = base + o;
        s.head = image.bytes.at(p++);
        uint32_t n = s.head & 7;
        if (n == 7) n += readVarint(image, p);
        s.final = s.head & 0x80;
        s.width = (s.head >> 4) & 7;
        if (s.final) {
            s.finalOutputAt = uint32_t(p - base);
            s.finalOutput = readVarint(image, p);
        }
        s.labelsAt = uint32_t(p - base);
        s.arcs.resize(n);
        for (Arc& arc : s.arcs) arc.label = image.bytes.at(p++);
        for (Arc& arc : s.arcs) {
            arc.fieldAt = uint32_t(p - base);
            arc.target = uint32_t(o + image.load(p, s.width));
            p += s.width;
        }
        if (s.head & 8)
            for (Arc& arc : s.arcs) arc.output = readVarint(image, p);
        s.end = uint32_t(p - base);
        if (s.width == 0)
            for (Arc& arc : s.arcs) arc.target = s.end;
        a.index[s.id] = a.states.size();
        a.states.push_back(s);
        o = s.end;
    }
    return a;
}

// The states of a sparse table: the root and every arc target, found from
// the root down.
inline Automaton decodeSparse(const Image& image) {
    Automaton a;
    a.sparse = true;
    const size_t fsa = image.fsaAt();
    const uint32_t alphabetSize = image.field(kAlphabetSize);
    a.root = image.load(fsa, 4);
    a.checkSize = image.field(kCharSize);
    a.payloadSize = image.field(kDestSize);
    a.outputSize = image.bytes.at(fsa + 4);
    a.slotSize = a.checkSize + a.payloadSize + a.outputSize;
    a.slotCount = uint32_t((image.fsaSize() - 8) / a.slotSize);
    auto slot = [&](uint32_t i) { return fsa + 8 + size_t(i) * a.slotSize; };
    std::map<uint32_t, State> found;
    std::vector<uint32_t> pending{a.root};
    while (!pending.empty()) {
        uint32_t code = pending.back();
        pending.pop_back();
        if (found.count(code)) continue;
        State s;
        s.id = code;
        s.final = code & 1;
        uint32_t b = code >> 1;
        if (s.final) s.finalOutput = image.load(slot(b) + a.checkSize, a.payloadSize);
        for (uint32_t c = 1; c <= alphabetSize; ++c) {
            size_t at = slot(b + c);
            if (image.load(at, a.checkSize) != c) continue;
            Arc arc;
            arc.label = image.bytes.at(image.alphabetAt() + c - 1);
            arc.target = image.load(at + a.checkSize, a.payloadSize);
            arc.output = a.outputSize ? image.load(at + a.checkSize + a.payloadSize, a.outputSize) : 0;
            arc.fieldAt = b + c;
            s.arcs.push_back(arc);
            pending.push_back(arc.target);
        }
        found[code] = s;
    }
    for (auto& [code, s] : found) {
        a.index[code] = a.states.size();
        a.states.push_back(s);
    }
    return a;
}

inline Automaton decode(const Image& image) {
    return image.field(kIsSparse) ? decodeSparse(image) : decodeCompact(image);
}

// A table of three-byte target codes rewritten with four-byte ones, each
// code widened by a zero byte: the shape of an automaton too large for three
// bytes (bases past 2^23, too large to build here), and with it the paths
// the library keeps for such tables.
inline Image withFourByteCodes(const Image& image, const Automaton& a) {
    const uint8_t* prefix = image.bytes.data() + image.fsaAt();
    std::vector<uint8_t> automaton(prefix, prefix + 8);
    for (uint32_t i = 0; i < a.slotCount; ++i) {
        const uint8_t* slot = prefix + 8 + size_t(i) * a.slotSize;
        automaton.push_back(slot[0]);
        if (image.big()) automaton.push_back(0);
        automaton.insert(automaton.end(), slot + 1, slot + 4);
        if (!image.big()) automaton.push_back(0);
    }
    Image wide = image;
    wide.replaceAutomaton(automaton);
    wide.setField(kDestSize, 4);
    wide.fixChecksum();
    return wide;
}

} // namespace tarvo_lib_test
