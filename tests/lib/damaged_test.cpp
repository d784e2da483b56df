// Damaged dictionary files: real files made by DictBuilder, altered one fault
// at a time, must be refused with an Error that says what is wrong, and never
// crash. After a structural change the checksum is made to match again, so
// that the structural checks are what refuses the file.
#include "file_image.h"
#include "image_edits.h"
#include "internal.h"
#include "reader.h"
#include "tarvo_builder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <functional>
#include <map>
#include <random>
#include <set>
#include <span>
#include <stdexcept>
#include <sys/mman.h>
#include <unistd.h>

namespace {

using namespace velkin::libtarvo;
using tarvo_lib_test::Automaton;
using tarvo_lib_test::Image;
using tarvo_lib_test::State;
using namespace tarvo_lib_test;
namespace field = tarvo_lib_test;

// ---- Seed files ----

// Words with the empty word, a root of more than seven arcs, a chain of
// single arcs, shared endings and multi-byte numbers: each part of the format
// has something to damage.
const std::map<std::string, unsigned> kSeedWords = {
    {"", 0}, {"a", 1}, {"ab", 1}, {"abc", 2}, {"abd", 3}, {"abcdefghij", 0}, {"b", 2}, {"ba", 3},
    {"bab", 1}, {"c", 2}, {"ca", 3}, {"cab", 1}, {"d", 2}, {"e", 2}, {"f", 2}, {"g", 2}, {"h", 2},
    {"xyz", 3}, {"xyzzy", 2}, {"zz", 4}, {"zzz", 5}};
const std::vector<std::string> kSeedTable = {"", "noun", "verb:past", std::string("\xff\0 bytes", 8), "x", "yy"};
const uint32_t kSeedNumbers[] = {0, 5, 300, 70000, 0xF0000000u, 0xFFFFFFFFu};

std::vector<uint8_t> buildSeed(Kind kind, bool big) {
    bool sparse = kind & kSparse, numbersOnly = kind & kNumbers;
    DictBuilder b({sparse ? Layout::Sparse : Layout::Compact, big});
    for (const auto& [word, n] : kSeedWords) b.add(word, numbersOnly ? kSeedNumbers[n] : n);
    return b.finishToMemory(kSeedTable, numbersOnly);
}

const std::vector<Seed>& seeds() {
    static const std::vector<Seed> all = [] {
        std::vector<Seed> out;
        const std::pair<Kind, const char*> kinds[] = {{kCompactTable, "compact with a table"},
                                                      {kCompactNumbers, "compact numbers-only"},
                                                      {kSparseTable, "sparse with a table"},
                                                      {kSparseNumbers, "sparse numbers-only"}};
        for (auto [kind, name] : kinds)
            for (bool big : {false, true}) {
                Image image{buildSeed(kind, big)};
                Automaton a = tarvo_lib_test::decode(image);
                out.push_back({std::string(name) + (big ? ", big-endian" : ", little-endian"), kind, image, a});
            }
        return out;
    }();
    return all;
}

// Every byte value as a label: two-byte checks in the sparse table, an arc
// count past 127 in the compact one. Little-endian only: the small seeds
// cover both byte orders.
const std::vector<Seed>& wideSeeds() {
    static const std::vector<Seed> all = [] {
        std::map<std::string, unsigned> words{{"", 1}};
        for (int c = 0; c < 256; ++c) {
            words[std::string(1, char(c))] = unsigned(c % 6);
            if (c % 7 == 0) words[std::string(1, char(c)) + char(255 - c) + "tail"] = unsigned(c % 5);
        }
        std::vector<Seed> out;
        for (Kind kind : {kCompactTable, kSparseTable}) {
            DictBuilder b({kind == kSparseTable ? Layout::Sparse : Layout::Compact, false});
            for (const auto& [word, n] : words) b.add(word, n);
            Image image{b.finishToMemory(kSeedTable, false)};
            std::string name = std::string(kind == kSparseTable ? "sparse" : "compact") + " over every byte";
            out.push_back({name, kind, image, tarvo_lib_test::decode(image)});
        }
        return out;
    }();
    return all;
}

// Sparse tables whose slots hold only a check byte and a code, three bytes
// wide and four, little-endian: the tables that opening reads with plain
// loads. With 0 on every word that ends a path, no arc carries an output.
const std::vector<Seed>& slotSeeds() {
    static const std::vector<Seed> all = [] {
        DictBuilder b({Layout::Sparse, false});
        for (auto it = kSeedWords.begin(); it != kSeedWords.end(); ++it) {
            auto next = std::next(it);
            bool endsAPath = next == kSeedWords.end() || next->first.rfind(it->first, 0) != 0;
            b.add(it->first, endsAPath ? 0 : it->second);
        }
        Image narrow{b.finishToMemory(kSeedTable, false)};
        Automaton a = tarvo_lib_test::decode(narrow);
        Image wide = tarvo_lib_test::withFourByteCodes(narrow, a);
        return std::vector<Seed>{{"sparse, check and three-byte code", kSparseTable, narrow, a},
                                 {"sparse, check and four-byte code", kSparseTable, wide, tarvo_lib_test::decode(wide)}};
    }();
    return all;
}

// The seeds above: what the sweeps run over.
std::vector<const Seed*> sweepSeeds() {
    std::vector<const Seed*> out;
    for (const Seed& s : seeds()) out.push_back(&s);
    for (const Seed& s : wideSeeds()) out.push_back(&s);
    for (const Seed& s : slotSeeds()) out.push_back(&s);
    return out;
}

// ---- Finding what to damage ----

// The one-byte head 0x01: a single arc to the next state, not final, no output.
const State& chainState(const Automaton& a) {
    return stateWhere(a, "chain state", [](const State& s) { return s.head == 0x01; });
}

size_t at(const Image& f, uint32_t fsaOffset) { return f.fsaAt() + fsaOffset; }

void setWidth(Image& f, const State& s, unsigned width) {
    uint8_t& head = f.bytes.at(at(f, s.id));
    head = uint8_t((head & 0x8F) | (width << 4));
}

uint8_t byteOutsideAlphabet(const Image& f) {
    std::vector<bool> used(256);
    for (uint32_t i = 0; i < f.field(field::kAlphabetSize); ++i) used[f.bytes[f.alphabetAt() + i]] = true;
    for (int c = 0; c < 256; ++c)
        if (!used[c]) return uint8_t(c);
    throw NotApplicable("the alphabet has every byte");
}

// A later state of at least two bytes that arc k of s can be made to point into.
uint32_t insideLaterState(const Automaton& a, const State& s) {
    for (const State& t : a.states)
        if (t.id + 1 >= s.end && t.end - t.id >= 2 && fits(t.id + 1 - s.id, s.width)) return t.id + 1;
    throw NotApplicable("no later state within reach");
}

// The first arc of a state other than the root.
const tarvo_lib_test::Arc& innerArc(const Automaton& a) {
    for (const State& s : a.states)
        if (s.id != a.root && !s.arcs.empty()) return s.arcs[0];
    throw NotApplicable("no inner state with arcs");
}

bool isBase(const Automaton& a, uint32_t slot) {
    for (const State& s : a.states)
        if (s.id >> 1 == slot) return true;
    return false;
}

// Where the varint of entry i of a number list starts.
size_t numberAt(const Image& f, uint32_t i) {
    size_t p = f.annotAt();
    for (uint32_t k = 0; k < i; ++k) tarvo_lib_test::readVarint(f, p);
    return p;
}

// ---- Refusal ----

// Refused on open, with and without the checksum: the checksum matches, so
// the structural checks must catch it on their own.
void expectRefused(const std::vector<uint8_t>& bytes, const std::string& prefix, const std::string& fragment,
                   bool checksumOnly = false) {
    for (bool verify : {true, false}) {
        if (checksumOnly && !verify) continue;
        SCOPED_TRACE(verify ? "checksum verified" : "checksum not verified");
        try {
            createDict(bytes.data(), bytes.size(), false, verify);
            ADD_FAILURE() << "the damaged file was accepted";
        } catch (const Error& e) {
            std::string what = e.what();
            EXPECT_TRUE(startsWith(what, prefix)) << "what(): " << what << "\nexpected to start with: " << prefix;
            EXPECT_NE(what.find(fragment), std::string::npos) << "what(): " << what << "\nexpected to hold: " << fragment;
        }
    }
}

// What validating the bytes says, with the given size thresholds: "accepted"
// or the refusal's message.
std::string validation(const std::vector<uint8_t>& bytes, uint64_t checksumBeside, uint64_t directMarks,
                       uint64_t halvesFrom = kHalvesFrom) {
    View v;
    try {
        validate(bytes.data(), bytes.size(), true, v, Backing::Memory, checksumBeside, directMarks, halvesFrom);
    } catch (const Error& e) {
        return e.what();
    }
    return "accepted";
}

// Everything a caller may do with an accepted file, none of which may crash,
// read out of bounds or disagree with itself: the enumeration is strictly
// increasing and every lookup path gives the number it reported.
struct Seen {
    std::vector<std::pair<std::string, uint32_t>> words;
    size_t limit;
};

int32_t remember(const uint8_t* word, int32_t length, const AnnotRecord* annot, void* context) {
    auto& seen = *static_cast<Seen*>(context);
    seen.words.emplace_back(std::string(reinterpret_cast<const char*>(word), size_t(length)), annot->number);
    return seen.words.size() < seen.limit;
}

int32_t touchAnnot(const AnnotRecord* annot, void* context) {
    if (annot->length > 0) *static_cast<uint32_t*>(context) += annot->data[annot->length - 1];
    return 1;
}

// Enumerates from `state`, at most `limit` words; an Error (an annotation
// number outside the table) ends it early.
Seen enumerate(const Dict& dict, uint32_t state, size_t limit) {
    Seen seen{{}, limit};
    try {
        dict.forEachWord(state, remember, &seen);
    } catch (const Error&) {
    }
    return seen;
}

void exerciseAccepted(const std::vector<uint8_t>& bytes) {
    std::unique_ptr<Dict> fast, slow;
    try {
        fast = createDict(bytes.data(), bytes.size(), false, false);
    } catch (const Error&) {
        return;
    }
    slow = createDict(bytes.data(), bytes.size(), true, false);
    Seen seen = enumerate(*fast, fast->root, 20000);
    for (size_t i = 0; i < seen.words.size(); ++i) {
        const auto& [word, number] = seen.words[i];
        if (i > 0) {
            ASSERT_LT(seen.words[i - 1].first, word) << "enumeration out of order";
        }
        if (i > 2000) continue;
        const auto* w = reinterpret_cast<const uint8_t*>(word.data());
        ASSERT_EQ(fast->lookup(w, int32_t(word.size())), int64_t(number)) << "fast lookup disagrees";
        ASSERT_EQ(slow->lookup(w, int32_t(word.size())), int64_t(number)) << "slow lookup disagrees";
    }
    for (const auto& [word, n] : kSeedWords) {
        const auto* w = reinterpret_cast<const uint8_t*>(word.data());
        ASSERT_EQ(fast->lookup(w, int32_t(word.size())), slow->lookup(w, int32_t(word.size())));
    }
    uint32_t sink = 0;
    fast->forEachAnnot(touchAnnot, &sink);
    std::FILE* null = std::fopen("/dev/null", "w");
    ASSERT_NE(null, nullptr);
    dump(static_cast<const DictImpl&>(*fast).view(), null);
    std::fclose(null);
    // Ids at the start and the end of the automaton as starting states:
    // refused or enumerated.
    const View& view = static_cast<const DictImpl&>(*fast).view();
    const uint32_t end = view.sparse ? 2 * view.slotCount : view.fsaSize;
    for (uint32_t id = 0; id < end + 3; id = id == 64 && end > 67 ? end - 3 : id + 1) enumerate(*fast, id, 200);
}

// ---- The table ----

struct Row {
    const char* name;
    unsigned kinds;        // the seed files it applies to
    Mutation mutate;
    const char* prefix;    // what() starts with this
    const char* fragment;  // and holds this
};

const Row kRows[] = {
    // Not a dictionary at all.
    {"empty file", kAll, [](Image& f, const Automaton&) { f.bytes.clear(); }, "not a dictionary: file too short", ""},
    {"three bytes", kAll, [](Image& f, const Automaton&) { f.bytes.resize(3); }, "not a dictionary: file too short", ""},
    {"text file", kAll,
     [](Image& f, const Automaton&) {
         std::string text = "cat!N\ndog!N\nthis is a word list, not a dictionary\nmore text to pass 80 bytes\n";
         f.bytes.assign(text.begin(), text.end());
     },
     "not a dictionary: bad magic", ""},
    {"bad magic", kAll, [](Image& f, const Automaton&) { f.bytes[0] ^= 0x20; }, "not a dictionary: bad magic", ""},
    {"magic of the other byte order", kAll,
     [](Image& f, const Automaton&) { std::reverse(f.bytes.begin(), f.bytes.begin() + 4); },
     "unsupported version 16777216", ""},
    {"byte-order flag disagrees with the magic", kAll,
     [](Image& f, const Automaton&) { f.setField(field::kIsBigEndian, !f.big()); },
     "damaged: byte-order flag disagrees with the magic", ""},
    {"version 2", kAll, [](Image& f, const Automaton&) { f.setField(field::kVersion, 2); }, "unsupported version 2", ""},
    {"version 0", kAll, [](Image& f, const Automaton&) { f.setField(field::kVersion, 0); }, "unsupported version 0", ""},
    {"hash index", kAll, [](Image& f, const Automaton&) { f.setField(field::kIsHash, 1); }, "unsupported: hash index", ""},
    {"a byte after the annotations", kAll, [](Image& f, const Automaton&) { f.bytes.push_back(0); },
     "damaged: file has 1 bytes after the annotation section", ""},

    // Alphabet.
    {"alphabet out of order", kAll,
     [](Image& f, const Automaton&) { std::swap(f.bytes[f.alphabetAt()], f.bytes[f.alphabetAt() + 1]); },
     "damaged: alphabet is not in increasing order", ""},
    {"alphabet repeats a byte", kAll,
     [](Image& f, const Automaton&) { f.bytes[f.alphabetAt() + 1] = f.bytes[f.alphabetAt()]; },
     "damaged: alphabet is not in increasing order", ""},
    {"alphabet loses a label", kCompact,
     [](Image& f, const Automaton&) {
         size_t last = f.alphabetAt() + f.field(field::kAlphabetSize) - 1;
         f.bytes[last] = 0xFF;
     },
     "damaged: state", "has a label outside the alphabet"},

    // Compact automaton.
    {"target points at its own state", kCompact,
     [](Image& f, const Automaton& a) { const State& s = multiArcState(a); setTarget(f, s, 0, s.id); },
     "damaged: transition", "does not point forward"},
    {"target points into its own state", kCompact,
     [](Image& f, const Automaton& a) { const State& s = multiArcState(a); setTarget(f, s, 1, s.end - 1); },
     "damaged: transition", "does not point forward"},
    {"target points to the automaton's end", kCompact,
     [](Image& f, const Automaton& a) {
         const State& s = stateWhere(a, "state that can reach the end", [&](const State& s) {
             return s.width > 0 && !s.arcs.empty() && fits(f.fsaSize() - s.id, s.width);
         });
         setTarget(f, s, 0, f.fsaSize());
     },
     "damaged: transition", "points past the automaton"},
    {"target points far past the automaton", kCompact,
     [](Image& f, const Automaton& a) {
         const State& s = multiArcState(a);
         f.store(at(f, s.arcs[0].fieldAt), 0xFFFFFFFFu, s.width);
     },
     "damaged: transition", "points past the automaton"},
    {"target points into the middle of a later state", kCompact,
     [](Image& f, const Automaton& a) {
         const State& s = multiArcState(a);
         setTarget(f, s, s.arcs.size() - 1, insideLaterState(a, s));
     },
     "damaged: a transition points inside state", ""},
    {"label outside the alphabet", kCompact,
     [](Image& f, const Automaton& a) { f.bytes[at(f, multiArcState(a).labelsAt)] = byteOutsideAlphabet(f); },
     "damaged: state", "has a label outside the alphabet"},
    {"chain label outside the alphabet", kCompact,
     [](Image& f, const Automaton& a) { f.bytes[at(f, chainState(a).labelsAt)] = byteOutsideAlphabet(f); },
     "damaged: state", "has a label outside the alphabet"},
    {"labels out of order", kCompact,
     [](Image& f, const Automaton& a) {
         size_t labels = at(f, multiArcState(a).labelsAt);
         std::swap(f.bytes[labels], f.bytes[labels + 1]);
     },
     "damaged: state", "has labels out of order"},
    {"label repeated", kCompact,
     [](Image& f, const Automaton& a) {
         size_t labels = at(f, multiArcState(a).labelsAt);
         f.bytes[labels + 1] = f.bytes[labels];
     },
     "damaged: state", "has labels out of order"},
    {"target width 5", kCompact, [](Image& f, const Automaton& a) { setWidth(f, multiArcState(a), 5); },
     "damaged: state", "has a bad target width"},
    {"target width 6", kCompact, [](Image& f, const Automaton& a) { setWidth(f, chainState(a), 6); },
     "damaged: state", "has a bad target width"},
    {"target width 7", kCompact, [](Image& f, const Automaton& a) { setWidth(f, a.states[0], 7); },
     "damaged: state", "has a bad target width"},
    {"the last state cut short", kCompact, [](Image& f, const Automaton&) { f.cutAutomaton(f.fsaSize() - 1, 1); },
     "damaged: ", ""},
    {"the first state cut out", kCompact,
     [](Image& f, const Automaton& a) { f.cutAutomaton(0, a.states[0].end); }, "damaged: ", ""},

    // Sparse table.
    {"sparse prefix with output width 5", kSparse, [](Image& f, const Automaton&) { f.bytes[f.fsaAt() + 4] = 5; },
     "damaged: sparse table prefix is malformed", ""},
    {"sparse prefix with a reserved byte set", kSparse, [](Image& f, const Automaton&) { f.bytes[f.fsaAt() + 6] = 1; },
     "damaged: sparse table prefix is malformed", ""},
    {"sparse table shorter than its prefix", kSparse,
     [](Image& f, const Automaton&) { f.cutAutomaton(4, f.fsaSize() - 4); }, "damaged: sparse table is shorter than its prefix", ""},
    {"sparse table not a whole number of slots", kSparse,
     [](Image& f, const Automaton&) { f.cutAutomaton(f.fsaSize() - 1, 1); },
     "damaged: sparse table size is not a whole number of slots", ""},
    {"check outside the alphabet", kSparse,
     [](Image& f, const Automaton& a) { setCheck(f, a, innerArc(a).fieldAt, f.field(field::kAlphabetSize) + 1); },
     "damaged: slot", "has a label outside the alphabet"},
    {"check naming a state below the table", kSparse,
     [](Image& f, const Automaton& a) { setCheck(f, a, 0, f.field(field::kAlphabetSize)); },
     "damaged: slot 0 belongs to no state", ""},
    {"arc to its own base", kSparse,
     [](Image& f, const Automaton& a) {
         const tarvo_lib_test::Arc& arc = innerArc(a);
         uint32_t base = arc.fieldAt - checkOf(f, a, arc.fieldAt);
         setPayload(f, a, arc.fieldAt, base << 1);
     },
     "damaged: transition at slot", "does not point to a smaller base"},
    {"arc to the root's larger base", kSparse,
     [](Image& f, const Automaton& a) { setPayload(f, a, innerArc(a).fieldAt, a.root); },
     "damaged: transition at slot", "does not point to a smaller base"},
    {"arc to a base past the table end", kSparse,
     [](Image& f, const Automaton& a) {
         // A new arc high in the table whose target's arcs would lie past its end.
         const uint32_t A = f.field(field::kAlphabetSize), high = a.slotCount - A;
         for (uint32_t i = a.slotCount; i-- > high + 1;)
             for (uint32_t c = 1; c <= A && i - c > high; ++c)
                 if (checkOf(f, a, i) == 0 && !isBase(a, i) && fits(high << 1, a.payloadSize)) {
                     setCheck(f, a, i, c);
                     setPayload(f, a, i, high << 1);
                     f.setField(field::kTransCount, f.field(field::kTransCount) + 1);
                     return;
                 }
         throw NotApplicable("no free slot high in the table");
     },
     "damaged: transition at slot", "points past the table"},
    {"arc to a base without arcs, not final", kSparse,
     [](Image& f, const Automaton& a) {
         const uint32_t A = f.field(field::kAlphabetSize);
         auto hasArcs = [&](uint32_t base) {
             for (uint32_t c = 1; c <= A && base + c < a.slotCount; ++c)
                 if (checkOf(f, a, base + c) == c) return true;
             return false;
         };
         const tarvo_lib_test::Arc& arc = innerArc(a);
         const uint32_t source = arc.fieldAt - checkOf(f, a, arc.fieldAt);
         for (uint32_t base = 0; base < source; ++base)
             if (!hasArcs(base) && base + A < a.slotCount && fits(base << 1, a.payloadSize)) {
                 setPayload(f, a, arc.fieldAt, base << 1);
                 return;
             }
         throw NotApplicable("no base without arcs below the arc's state");
     },
     "damaged: transition at slot", "reaches a state that has no arcs and is not final"},
    {"root base past the table end", kSparse,
     [](Image& f, const Automaton& a) { f.store(f.fsaAt(), (a.slotCount - f.field(field::kAlphabetSize)) << 1, 4); },
     "damaged: root points past the table", ""},
    {"root code of all ones", kSparse, [](Image& f, const Automaton&) { f.store(f.fsaAt(), 0xFFFFFFFFu, 4); },
     "damaged: root points past the table", ""},
    // Annotation table.
    {"first annotation offset not 0", kTable, [](Image& f, const Automaton&) { setIndexEntry(f, 0, 1); },
     "damaged: annotation 0 lies outside the annotation section", ""},
    {"annotation offsets decreasing", kTable,
     [](Image& f, const Automaton&) { setIndexEntry(f, 3, indexEntry(f, 2) - 1); },
     "damaged: annotation 3 lies outside the annotation section", ""},
    {"annotation offset past the section", kTable,
     [](Image& f, const Automaton&) { setIndexEntry(f, 1, f.field(field::kAnnotChunkSize) + 1); },
     "damaged: annotation 1 lies outside the annotation section", ""},
    {"last annotation offset short of the end", kTable,
     [](Image& f, const Automaton&) {
         uint32_t count = f.field(field::kAnnotChunksCount);
         setIndexEntry(f, count, indexEntry(f, count) - 1);
     },
     "damaged: annotation index does not end at the section's end", ""},

    // Number list.
    {"number repeated", kNumbers, [](Image& f, const Automaton&) { f.bytes[numberAt(f, 1)] = 0; },
     "damaged: annotation number list repeats at entry 1", ""},
    {"numbers passing 32 bits", kNumbers,
     [](Image& f, const Automaton&) { f.bytes[numberAt(f, 4) + 4] = 0x0F; },
     "damaged: annotation number list overflows at entry", ""},
    {"number varint of 36 bits", kNumbers,
     [](Image& f, const Automaton&) { f.bytes[numberAt(f, 4) + 4] = 0x1F; },
     "damaged: annotation number list breaks at entry 4", ""},
    {"number varint running past the section", kNumbers,
     [](Image& f, const Automaton&) { f.bytes.back() |= 0x80; },
     "damaged: annotation number list breaks at entry", ""},
    {"number count one too large", kNumbers,
     [](Image& f, const Automaton&) {
         f.setField(field::kAnnotChunksCount, f.field(field::kAnnotChunksCount) + 1);
     },
     "damaged: annotation number list breaks at entry", ""},
    {"number count one too small", kNumbers,
     [](Image& f, const Automaton&) {
         f.setField(field::kAnnotChunksCount, f.field(field::kAnnotChunksCount) - 1);
     },
     "damaged: annotation number list has trailing bytes", ""},
};

// The slot of a final state holds its final output and a check of 0; no arc
// may take it, or the final output and the arc would read the same payload.
const Row kFinalSlotRows[] = {
    {"final arc to a slot whose check is not 0", kSparse,
     [](Image& f, const Automaton& a) {
         for (const State& s : a.states)
             for (const tarvo_lib_test::Arc& arc : s.arcs)
                 for (uint32_t t = 1; t < (s.id >> 1); ++t)
                     if (checkOf(f, a, t) != 0 && fits((t << 1) | 1, a.payloadSize)) {
                         setPayload(f, a, arc.fieldAt, (t << 1) | 1);
                         return;
                     }
         throw NotApplicable("no arc slot below a state");
     },
     "damaged: ", ""},
    {"a final state's slot taken by an arc", kSparse,
     [](Image& f, const Automaton& a) {
         // The final output read as a target must pass every other check.
         for (const State& s : a.states) {
             uint32_t base = s.id >> 1;
             if (s.final && s.id != a.root && base > 1 && (s.finalOutput >> 1) < base - 1) {
                 setCheck(f, a, base, 1);
                 f.setField(field::kTransCount, f.field(field::kTransCount) + 1);
                 return;
             }
         }
         throw NotApplicable("no final inner state with a small final output");
     },
     "damaged: ", ""},
};

void runRows(const Row* rows, size_t count) {
    for (const Row& row : std::span(rows, count)) {
        for (const std::vector<Seed>* group : {&seeds(), &slotSeeds()})
            forEachDamagedSeed(row, *group, [&](Image& f) {
                f.fixChecksum();
                expectRefused(f.bytes, row.prefix, row.fragment);
            });
    }
}

TEST(DamagedFiles, SeedsAreSound) {
    ASSERT_EQ(seeds().size(), 8u);
    for (const Seed& seed : seeds()) {
        SCOPED_TRACE(seed.name);
        auto dict = createDict(seed.image.bytes.data(), seed.image.bytes.size(), false, true);
        EXPECT_EQ(dict->lookup(reinterpret_cast<const uint8_t*>("abcdefghij"), 10),
                  int64_t(seed.kind & kNumbers ? kSeedNumbers[0] : 0));
    }
}

TEST(DamagedFiles, SlotSeedsHaveBareSlots) {
    const unsigned slotSizes[] = {4, 5};
    ASSERT_EQ(slotSeeds().size(), std::size(slotSizes));
    for (size_t i = 0; i < std::size(slotSizes); ++i) {
        const Seed& seed = slotSeeds()[i];
        SCOPED_TRACE(seed.name);
        EXPECT_EQ(seed.automaton.slotSize, slotSizes[i]);
        auto dict = createDict(seed.image.bytes.data(), seed.image.bytes.size(), false, true);
        EXPECT_EQ(dict->lookup(reinterpret_cast<const uint8_t*>("abc"), 3), 2);
        EXPECT_EQ(dict->lookup(reinterpret_cast<const uint8_t*>("abcdefghij"), 10), 0);
    }
}

TEST(DamagedFiles, TableOfFaults) { runRows(kRows, std::size(kRows)); }

TEST(DamagedFiles, SparseFinalSlotIsFree) {
    runRows(kFinalSlotRows, std::size(kFinalSlotRows));
}

TEST(DamagedFiles, ChecksumMismatch) {
    for (const Seed& seed : seeds()) {
        SCOPED_TRACE(seed.name);
        for (size_t offset : {size_t(12), seed.image.annotAt(), seed.image.bytes.size() - 1}) {
            Image f = seed.image;
            f.bytes[offset] ^= 0x01;
            expectRefused(f.bytes, "damaged: checksum mismatch", "", true);
        }
    }
}

// Large files have their checksum computed beside the structural checks;
// with the threshold at 0 every seed takes that path, and the outcome must
// be the one of the plain path.
TEST(DamagedFiles, ChecksumBesideTheStructureChecks) {
    auto outcome = [](const std::vector<uint8_t>& bytes, uint64_t beside) {
        return validation(bytes, beside, kDirectMarks);
    };
    for (const Seed& seed : seeds()) {
        SCOPED_TRACE(seed.name);
        EXPECT_EQ(outcome(seed.image.bytes, 0), "accepted");
        Image flipped = seed.image;
        flipped.bytes.back() ^= 0x01;
        EXPECT_EQ(outcome(flipped.bytes, 0), "damaged: checksum mismatch");
        Image broken = seed.image;  // a structural fault whose checksum still holds
        broken.bytes[40] ^= 0x01;   // alphabetSize
        broken.fixChecksum();
        EXPECT_EQ(outcome(broken.bytes, 0), outcome(broken.bytes, kChecksumBeside));
        broken.bytes.back() ^= 0x01;  // and the checksum fails too
        EXPECT_EQ(outcome(broken.bytes, 0), "damaged: checksum mismatch");
        EXPECT_EQ(outcome(broken.bytes, kChecksumBeside), "damaged: checksum mismatch");
        broken.bytes[0] ^= 0xFF;    // bad magic: no header to hold a checksum
        EXPECT_EQ(outcome(broken.bytes, 0), "not a dictionary: bad magic");
    }
}

// What comes before the checksum (the magic, the size, the version) is
// checked before the file is read through, so that a large file that is no
// dictionary of ours is refused at once. Here the pages after the header
// cannot be read: reading them would end the test.
TEST(DamagedFiles, NoDictionaryRefusedBeforeTheFileIsRead) {
    const size_t page = size_t(sysconf(_SC_PAGESIZE));
    const size_t size = 64 * page;
    const std::vector<uint8_t>& seed = seeds().front().image.bytes;
    struct Case {
        const char* name;
        size_t at;  // the header byte changed
        std::string refusal;
    };
    const Case cases[] = {
        {"bad magic", 0, "not a dictionary: bad magic"},
        {"another version", 8, "unsupported version"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        void* m = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        ASSERT_NE(m, MAP_FAILED);
        auto* bytes = static_cast<uint8_t*>(m);
        std::copy(seed.begin(), seed.begin() + format::kHeaderSize, bytes);
        bytes[c.at] ^= 0x40;
        ASSERT_EQ(mprotect(bytes + page, size - page, PROT_NONE), 0);
        View v;
        try {
            validate(bytes, size, true, v, Backing::Memory, 0, kDirectMarks);
            ADD_FAILURE() << "accepted";
        } catch (const Error& e) {
            EXPECT_TRUE(startsWith(e.what(), c.refusal)) << e.what();
        }
        munmap(m, size);
    }
}

// Cut at every section boundary and a few bytes either side of it.
TEST(DamagedFiles, Truncations) {
    for (const Seed* seedPointer : sweepSeeds()) {
        const Seed& seed = *seedPointer;
        const Image& s = seed.image;
        const size_t size = s.bytes.size();
        const std::set<size_t> lengths = truncationLengths(s, 3);
        for (size_t length : lengths) {
            SCOPED_TRACE(seed.name + " cut to " + std::to_string(length) + " of " + std::to_string(size) + " bytes");
            Image f = s;
            f.bytes.resize(length);
            f.fixChecksum();
            const char* prefix = length < 4 ? "not a dictionary: file too short"
                                 : length < 80 ? "damaged: file ends inside the header"
                                               : "damaged: ";
            expectRefused(f.bytes, prefix, "");
        }
    }
}

// Every header word set to 0, -1, the file size and INT32_MAX. Two fields no
// reader relies on may stay unchecked: isTree and the sparse padding; a file
// changed only there must still read as before.
TEST(DamagedFiles, HeaderFields) {
    for (const Seed* seedPointer : sweepSeeds()) {
        const Seed& seed = *seedPointer;
        const uint32_t size = uint32_t(seed.image.bytes.size());
        auto original = createDict(seed.image.bytes.data(), size, false, true);
        for (unsigned i = 0; i < field::kFieldCount; ++i) {
            if (i == field::kChecksum) continue;
            for (uint32_t value : {0u, 0xFFFFFFFFu, size, uint32_t(INT32_MAX)}) {
                if (value == seed.image.field(i)) continue;
                SCOPED_TRACE(seed.name + ": " + field::kFieldNames[i] + " = " + std::to_string(int32_t(value)));
                Image f = seed.image;
                f.setField(i, value);
                f.fixChecksum();
                bool unchecked = (i == field::kIsTree && value == 0) || (i == field::kPaddingSize && (seed.kind & kSparse));
                try {
                    auto dict = createDict(f.bytes.data(), f.bytes.size(), false, false);
                    EXPECT_TRUE(unchecked) << "accepted";
                    std::vector<std::pair<std::string, uint32_t>> before = enumerate(*original, original->root, 1000).words;
                    EXPECT_EQ(enumerate(*dict, dict->root, 1000).words, before);
                } catch (const Error& e) {
                    std::string what = e.what();
                    const char* prefix = i == field::kMagic     ? "not a dictionary: bad magic"
                                         : i == field::kVersion ? "unsupported version"
                                                                : "";
                    EXPECT_TRUE(startsWith(what, prefix)) << what;
                    EXPECT_TRUE(startsWith(what, "damaged: ") || startsWith(what, "not a dictionary: ") ||
                                startsWith(what, "unsupported"))
                        << what;
                }
            }
        }
    }
}

// A far target (more than 64 KiB on) into the middle of a state: in a large
// automaton such targets are marked off the direct path, so they get a case
// of their own, checked both ways.
TEST(DamagedFiles, FarTargetIntoTheMiddleOfAState) {
    auto outcome = [](const std::vector<uint8_t>& bytes, uint64_t directMarks) {
        return validation(bytes, kChecksumBeside, directMarks);
    };
    std::mt19937 rng(3);
    std::map<std::string, uint32_t> words;
    while (words.size() < 40000) {
        std::string w;
        for (size_t n = 4 + rng() % 10; n > 0; --n) w += char('a' + rng() % 26);
        words[w] = uint32_t(rng() % 50);
    }
    for (bool big : {false, true}) {
        SCOPED_TRACE(big ? "big-endian" : "little-endian");
        DictBuilder b({Layout::Compact, big});
        for (const auto& [w, n] : words) b.add(w, n);
        Image f{b.finishToMemory({}, true)};
        Automaton a = tarvo_lib_test::decode(f);
        ASSERT_GT(f.fsaSize(), 3u << 16);
        EXPECT_NO_THROW(createDict(f.bytes.data(), f.bytes.size(), false, true));
        EXPECT_EQ(outcome(f.bytes, 0), "accepted");
        bool done = false;
        for (const State& s : a.states) {
            for (size_t k = 0; k < s.arcs.size() && !done; ++k) {
                if (s.arcs[k].target - s.id < (1u << 17) || s.width < 3) continue;
                const State& t = a.at(s.arcs[k].target);
                if (t.end - t.id < 3) continue;
                Image g = f;
                setTarget(g, s, k, t.id + 2);
                g.fixChecksum();
                expectRefused(g.bytes, "damaged: a transition points inside state", "");
                std::string delayed = outcome(g.bytes, 0);
                EXPECT_EQ(delayed.rfind("damaged: a transition points inside state", 0), 0u) << delayed;
                done = true;
            }
            if (done) break;
        }
        EXPECT_TRUE(done) << "no far target found";
    }
}

// The last state is a single byte and the automaton a whole number of
// bitmap words long: the check for targets inside it reads nothing past the
// bitmap, in one pass or in halves.
TEST(DamagedFiles, OneByteStateEndsAWholeBitmapWord) {
    DictBuilder b({Layout::Compact, false});
    b.add("a", 0);
    Image f{b.finishToMemory({"x"}, false)};
    std::vector<uint8_t> fsa = {0x81, 0x00, 'a'};  // final root, one arc to the state after it
    while (fsa.size() < 63) fsa.insert(fsa.end(), {0x01, 'a'});
    fsa.push_back(0x00);  // at 63: no arcs, not final
    f.replaceAutomaton(fsa);
    f.fixChecksum();
    for (uint64_t halvesFrom : {uint64_t(0), UINT64_MAX})
        for (uint64_t directMarks : {uint64_t(0), kDirectMarks})
            EXPECT_EQ(validation(f.bytes, kChecksumBeside, directMarks, halvesFrom),
                      "damaged: state 63 has no arcs and is not final");
}

// Checked in two halves at once, a file gets the report of the one pass:
// sound files are accepted, and a fault in either half or across the seam
// between them is reported alike.
TEST(DamagedFiles, TwoHalvesReportWhatOnePassDoes) {
    std::mt19937 rng(4);
    std::map<std::string, uint32_t> words;
    while (words.size() < 20000) {
        std::string w;
        for (size_t n = 3 + rng() % 10; n > 0; --n) w += char('a' + rng() % 26);
        words[w] = 0;  // one annotation: no arc outputs, so the root can be split at
    }
    for (bool big : {false, true}) {
        SCOPED_TRACE(big ? "big-endian" : "little-endian");
        DictBuilder b({Layout::Compact, big});
        for (const auto& [w, n] : words) b.add(w, n);
        Image f{b.finishToMemory({"x"}, false)};
        Automaton a = tarvo_lib_test::decode(f);
        // Either way, with far marks delayed (as in a large file) or not.
        auto report = [](const Image& g) {
            std::string onePass = validation(g.bytes, kChecksumBeside, kDirectMarks, UINT64_MAX);
            EXPECT_EQ(validation(g.bytes, kChecksumBeside, kDirectMarks, 0), onePass);
            EXPECT_EQ(validation(g.bytes, kChecksumBeside, 0, UINT64_MAX), onePass);
            EXPECT_EQ(validation(g.bytes, kChecksumBeside, 0, 0), onePass);
            return onePass;
        };
        EXPECT_EQ(report(f), "accepted");
        // The seam: the root's target nearest the middle, as the check picks it.
        uint64_t middle = 0, size = f.fsaSize();
        for (const auto& arc : a.at(a.root).arcs) {
            auto distance = [&](uint64_t t) { return t > size / 2 ? t - size / 2 : size / 2 - t; };
            if (arc.target >= size / 4 && arc.target <= size - size / 4 && (middle == 0 || distance(arc.target) < distance(middle)))
                middle = arc.target;
        }
        ASSERT_NE(middle, 0u);
        // A target into the middle of a state, from each half into the second.
        for (bool fromFirst : {true, false}) {
            bool done = false;
            for (const State& s : a.states) {
                if ((s.id < middle) != fromFirst || s.width < 2) continue;
                for (size_t k = 0; k < s.arcs.size() && !done; ++k) {
                    const State& t = a.at(s.arcs[k].target);
                    if (t.id < middle || t.end - t.id < 3 || t.id + 2 - s.id >= (1u << (8 * s.width))) continue;
                    Image g = f;
                    setTarget(g, s, k, t.id + 2);
                    g.fixChecksum();
                    EXPECT_EQ(report(g).rfind("damaged: a transition points inside state", 0), 0u);
                    done = true;
                }
                if (done) break;
            }
            EXPECT_TRUE(done) << (fromFirst ? "first" : "second") << " half: no target to move";
        }
        // A far target (whose mark a large file's pass delays) from just
        // before the seam into a state well inside the second half.
        bool far = false;
        for (auto s = a.states.rbegin(); s != a.states.rend() && !far; ++s) {
            if (s->id >= middle || s->id + 20000 < middle || s->width < 3) continue;
            for (const State& t : a.states) {
                if (t.id < s->id + 70000 || t.end - t.id < 3) continue;
                Image g = f;
                setTarget(g, *s, 0, t.id + 2);
                g.fixChecksum();
                EXPECT_EQ(report(g).rfind("damaged: a transition points inside state", 0), 0u);
                far = true;
                break;
            }
        }
        EXPECT_TRUE(far) << "no far target before the seam";
        // Any byte of the automaton changed.
        for (int i = 0; i < 300; ++i) {
            Image g = f;
            g.bytes[g.fsaAt() + rng() % size] ^= uint8_t(1 + rng() % 255);
            g.fixChecksum();
            report(g);
        }
    }
}

// An annotation number is a sum along a path, checked where it is computed:
// the file opens, lookups answer -1 and the enumeration raises.
TEST(DamagedFiles, AnnotationNumberPastTheTable) {
    for (const Seed& seed : seeds()) {
        if (!(seed.kind & kTable)) continue;
        SCOPED_TRACE(seed.name);
        Image f = seed.image;
        const State& s = stateWhere(seed.automaton, "final state", [&](const State& s) { return s.final && s.id != seed.automaton.root; });
        if (seed.kind & kCompact) {
            ASSERT_LT(f.bytes[at(f, s.finalOutputAt)], 0x80);
            f.bytes[at(f, s.finalOutputAt)] = 0x7F;
        } else {
            setPayload(f, seed.automaton, s.id >> 1, 0x7F);
        }
        f.fixChecksum();
        auto dict = createDict(f.bytes.data(), f.bytes.size(), false, false);
        size_t damagedWords = 0;
        for (const auto& [word, n] : kSeedWords)
            damagedWords += dict->lookup(reinterpret_cast<const uint8_t*>(word.data()), int32_t(word.size())) == -1;
        EXPECT_GT(damagedWords, 0u);
        try {
            dict->forEachWord(dict->root, [](const uint8_t*, int32_t, const AnnotRecord*, void*) { return 1; }, nullptr);
            ADD_FAILURE() << "enumeration met the number and went on";
        } catch (const Error& e) {
            EXPECT_TRUE(startsWith(e.what(), "damaged: annotation number 1")) << e.what();
        }
    }
}

// Bytes written over after the checks, as when a mapped file is rewritten
// while it is listed: an arc made to lead back to its own state, which would
// take the listing deeper for ever, makes it raise instead.
TEST(DamagedFiles, ArcLeadingBackAfterOpeningEndsTheListing) {
    for (const Seed& seed : seeds()) {
        SCOPED_TRACE(seed.name);
        Image f = seed.image;
        auto dict = createDict(f.bytes.data(), f.bytes.size(), false, false);
        const Automaton& a = seed.automaton;
        if (seed.kind & kCompact) {
            const State& s = multiArcState(a);
            setTarget(f, s, 0, s.id);
        } else {
            const State& s = stateWhere(a, "state with arcs below the root",
                                        [&](const State& t) { return t.id != a.root && !t.arcs.empty(); });
            setPayload(f, a, s.arcs[0].fieldAt, s.id);
        }
        try {
            dict->forEachWord(dict->root, [](const uint8_t*, int32_t, const AnnotRecord*, void*) { return 1; }, nullptr);
            ADD_FAILURE() << "the listing went on";
        } catch (const Error& e) {
            EXPECT_STREQ(e.what(), "damaged: a transition leads backwards");
        }
    }
}

// Every byte of each seed replaced by a few values (fewer for the larger
// seeds), the checksum made to match: the file is refused, or everything done
// with it works.
TEST(DamagedFiles, EveryByteChanged) {
    for (const Seed* seedPointer : sweepSeeds()) {
        const Seed& seed = *seedPointer;
        SCOPED_TRACE(seed.name);
        const std::vector<uint8_t>& original = seed.image.bytes;
        for (size_t offset = 0; offset < original.size(); ++offset) {
            if (offset >= 4 && offset < 8) continue;  // the checksum itself
            const uint8_t b = original[offset];
            std::set<uint8_t> values{uint8_t(b ^ 0x01), uint8_t(b ^ 0x80), 0xFF};
            if (original.size() < 1024) values.insert({uint8_t(b ^ 0xFF), uint8_t(b + 1), uint8_t(b - 1), 0x00, 0x7F});
            values.erase(b);
            for (uint8_t value : values) {
                SCOPED_TRACE("byte " + std::to_string(offset) + " set to " + std::to_string(value));
                Image f = seed.image;
                f.bytes[offset] = value;
                f.fixChecksum();
                exerciseAccepted(f.bytes);
                if (::testing::Test::HasFatalFailure()) return;
            }
        }
    }
}

} // namespace
