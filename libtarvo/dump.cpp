// The dump form: header, alphabet, states with their arcs, annotations.
// One item a line; see FORMAT.md ("Dump").
#include "reader.h"

#include "compact_state.h"

#include <algorithm>
#include <cinttypes>
#include <vector>

namespace velkin::libtarvo {

namespace {

const char* const kFieldNames[] = {
    "magic", "checksum", "version", "isTree", "isHash", "isSparse", "isBigEndian",
    "alphabetOffset", "fsaOffset", "annotOffset", "alphabetSize", "transCount",
    "annotLengthSize", "annotChunkSize", "annotChunksCount", "charSize", "paddingSize",
    "destSize", "hashSize", "transSizeTotal"};

void putByte(std::FILE* out, uint8_t b) {
    if (b > 0x20 && b < 0x7F && b != '\\') std::fputc(b, out);
    else std::fprintf(out, "\\x%02X", b);
}

void putBytes(std::FILE* out, const uint8_t* p, uint32_t n) {
    for (uint32_t i = 0; i < n; ++i) putByte(out, p[i]);
}

void dumpHeader(const View& v, std::FILE* out) {
    std::fprintf(out, "tarvo dictionary, format version %d\n", v.header.version);
    const int32_t* fields = &v.header.magic;
    for (unsigned i = 0; i < 20; ++i) {
        if (i < 2) std::fprintf(out, "header %s 0x%08" PRIX32 "\n", kFieldNames[i], uint32_t(fields[i]));
        else std::fprintf(out, "header %s %" PRId32 "\n", kFieldNames[i], fields[i]);
    }
    std::fprintf(out, "alphabet %u:", v.alphabetSize);
    for (uint32_t i = 0; i < v.alphabetSize; ++i) {
        std::fputc(' ', out);
        putByte(out, v.alphabet[i]);
    }
    std::fprintf(out, "\nroot %" PRIu32 "\n", v.root());
}

// A state's final output and an arc's output are what they add to the
// annotation number of the words through them.
void stateLine(std::FILE* out, uint32_t id, bool final, uint32_t finalOutput, uint32_t arcs) {
    std::fprintf(out, "state %" PRIu32, id);
    if (final) std::fprintf(out, " final +%" PRIu32, finalOutput);
    std::fprintf(out, " arcs %" PRIu32 "\n", arcs);
}

void arcLine(std::FILE* out, uint8_t label, uint32_t target, uint32_t output) {
    std::fputs("  ", out);
    putByte(out, label);
    std::fprintf(out, " -> %" PRIu32, target);
    if (output) std::fprintf(out, " +%" PRIu32, output);
    std::fputc('\n', out);
}

// The dumps stop at the first state after a failed write: a reader that has
// gone or a full disk need not wait for the whole automaton.
void dumpCompact(const View& v, std::FILE* out) {
    CompactState s;
    for (uint32_t o = 0; o < v.fsaSize && !std::ferror(out); o = s.end) {
        decodeCompact(v.fsa, o, s);
        stateLine(out, o, s.final, s.finalOutput, s.n);
        const uint8_t* cursor = s.outs;
        for (uint32_t k = 0; k < s.n; ++k) {
            uint32_t output = nextOutput(s, cursor);
            arcLine(out, s.labels[k], compactTarget(s, k, v.big), output);
        }
    }
}

void dumpSparse(const View& v, std::FILE* out) {
    // The states are the root and every arc target, listed by code from the root down.
    std::vector<bool> isStateCode(uint64_t(v.slotCount) * 2, false);
    isStateCode[v.rootCode] = true;
    for (uint32_t i = 0; i < v.slotCount; ++i)
        if (v.check(i) != 0) isStateCode[v.payload(i)] = true;
    for (uint64_t code = isStateCode.size(); code-- > 0 && !std::ferror(out);) {
        if (!isStateCode[code]) continue;
        uint32_t base = uint32_t(code >> 1);
        uint32_t arcs = 0;
        for (uint32_t c = 1; c <= v.alphabetSize; ++c) arcs += v.check(base + c) == c;
        stateLine(out, uint32_t(code), code & 1, (code & 1) ? v.payload(base) : 0, arcs);
        for (uint32_t c = 1; c <= v.alphabetSize; ++c)
            if (v.check(base + c) == c) arcLine(out, v.alphabet[c - 1], v.payload(base + c), v.output(base + c));
    }
}

int32_t dumpAnnot(const AnnotRecord* r, void* context) {
    std::FILE* out = static_cast<std::FILE*>(context);
    std::fprintf(out, "annot %" PRIu32 " %" PRId32 " ", r->number, r->length);
    putBytes(out, r->data, uint32_t(r->length));
    std::fputc('\n', out);
    return std::ferror(out) ? 0 : 1;
}

// Numbers past 32 bits are as bad as 2^40: the sums stay below it, so that
// they never overflow.
constexpr uint64_t kNumberCap = uint64_t(1) << 40;

uint64_t addOutput(uint64_t below, uint64_t output) {
    return below == kNoWord ? kNoWord : std::min(below + output, kNumberCap);
}

uint64_t larger(uint64_t a, uint64_t b) {
    if (a == kNoWord) return b;
    if (b == kNoWord) return a;
    return std::max(a, b);
}

// Compact: every target lies after its state, so the states are taken last to first.
uint64_t largestNumberCompact(const View& v) {
    std::vector<uint32_t> starts;
    CompactState s;
    for (uint32_t o = 0; o < v.fsaSize; o = s.end) {
        decodeCompact(v.fsa, o, s);
        starts.push_back(o);
    }
    std::vector<uint64_t> largest(starts.size(), kNoWord);
    for (size_t i = starts.size(); i-- > 0;) {
        decodeCompact(v.fsa, starts[i], s);
        uint64_t best = s.final ? s.finalOutput : kNoWord;
        const uint8_t* cursor = s.outs;
        for (uint32_t k = 0; k < s.n; ++k) {
            uint32_t output = nextOutput(s, cursor);
            uint32_t target = compactTarget(s, k, v.big);
            size_t t = size_t(std::lower_bound(starts.begin(), starts.end(), target) - starts.begin());
            best = larger(best, addOutput(largest[t], output));
        }
        largest[i] = best;
    }
    return largest.empty() ? kNoWord : largest[0];
}

// Sparse: every target has a smaller base, so the bases of states are taken in
// increasing order. A base's value covers its arcs; a final code adds its own output.
uint64_t largestNumberSparse(const View& v) {
    std::vector<bool> isBase(v.slotCount, false);
    isBase[v.rootCode >> 1] = true;
    for (uint32_t i = 0; i < v.slotCount; ++i)
        if (v.check(i) != 0) isBase[v.payload(i) >> 1] = true;
    std::vector<uint64_t> arcsLargest(v.slotCount, kNoWord);
    auto codeLargest = [&](uint32_t code) {
        uint32_t base = code >> 1;
        return larger((code & 1) ? uint64_t(v.payload(base)) : kNoWord, arcsLargest[base]);
    };
    for (uint32_t base = 0; base < v.slotCount; ++base) {
        if (!isBase[base]) continue;
        uint64_t best = kNoWord;
        for (uint32_t c = 1; c <= v.alphabetSize; ++c)
            if (v.check(base + c) == c) best = larger(best, addOutput(codeLargest(v.payload(base + c)), v.output(base + c)));
        arcsLargest[base] = best;
    }
    return codeLargest(v.rootCode);
}

} // namespace

uint64_t largestWordNumber(const View& v) {
    return v.sparse ? largestNumberSparse(v) : largestNumberCompact(v);
}

bool dump(const View& v, std::FILE* out) {
    dumpHeader(v, out);
    if (v.sparse) dumpSparse(v, out);
    else dumpCompact(v, out);
    std::fprintf(out, "annotations %" PRIu32 "%s\n", v.annotCount, v.numbersOnly ? " (numbers only)" : "");
    enumerateAnnots(v, dumpAnnot, out);
    return std::fflush(out) == 0 && !std::ferror(out);
}

} // namespace velkin::libtarvo
