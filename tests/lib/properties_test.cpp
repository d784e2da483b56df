// Properties of dictionaries built from random word lists: in every layout and
// byte order the library gives back exactly the words that went in, lookups
// agree with the enumeration, and the automaton is the minimal one.
#include "file_image.h"
#include "reader.h"
#include "run.h"
#include "tarvo_builder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <random>
#include <set>
#include <tuple>

namespace {

using namespace velkin::libtarvo;
using tarvo_lib_test::Automaton;
using tarvo_lib_test::Image;
using tarvo_lib_test::State;

struct Entry {
    std::string word;
    uint32_t number;
};

struct Sample {
    std::string name;
    std::vector<Entry> entries;      // strictly increasing words
    std::vector<std::string> table;  // number -> bytes; none when numbersOnly
    bool numbersOnly = false;
};

struct Variant {
    const char* name;
    Layout layout;
    bool big;
    bool readingLayout = false;  // the layout large compact automata get, whatever the size
};

constexpr Variant kVariants[] = {
    {"compact little-endian", Layout::Compact, false},
    {"compact big-endian", Layout::Compact, true},
    {"sparse little-endian", Layout::Sparse, false},
    {"sparse big-endian", Layout::Sparse, true},
    {"compact little-endian, laid out for reading", Layout::Compact, false, true},
    {"compact big-endian, laid out for reading", Layout::Compact, true, true},
};

std::vector<uint8_t> build(const Sample& s, const Variant& v, BuildStats* stats = nullptr) {
    BuildOptions options{v.layout, v.big};
    if (v.readingLayout) options.readingLayoutFrom = 0;
    DictBuilder builder(options);
    for (const Entry& e : s.entries) builder.add(e.word, e.number);
    return builder.finishToMemory(s.table, s.numbersOnly, stats);
}

Sample fromMap(std::string name, const std::map<std::string, uint32_t>& words,
               std::vector<std::string> table, bool numbersOnly) {
    Sample s{std::move(name), {}, std::move(table), numbersOnly};
    for (const auto& [word, number] : words) s.entries.push_back({word, number});  // byte order
    return s;
}

// ---- Random word lists ----

std::string allBytes() {
    std::string s;
    for (int c = 0; c < 256; ++c) s += char(c);
    return s;
}

std::string randomWord(std::mt19937& rng, const std::string& alphabet, size_t minLength, size_t maxLength) {
    size_t length = minLength + rng() % (maxLength - minLength + 1);
    std::string word;
    for (size_t i = 0; i < length; ++i) word += alphabet[rng() % alphabet.size()];
    return word;
}

// Small alphabets make shared prefixes and endings; annotations come from a
// small pool so that states with equal futures exist to be merged.
Sample randomSample(uint32_t seed, size_t maxWords, size_t maxLength) {
    std::mt19937 rng(seed);
    const std::string alphabets[] = {"ab", std::string("xyz\x01", 4), "abcdefghijklmnopqrstuvwxyz", allBytes()};
    const std::string& alphabet = alphabets[rng() % 4];
    const bool numbersOnly = rng() % 3 == 0;
    std::vector<std::string> table;
    std::vector<uint32_t> pool;
    if (numbersOnly) {
        for (size_t i = 0, k = 1 + rng() % 4; i < k; ++i) pool.push_back(rng() % 2 ? rng() % 8 : uint32_t(rng()));
        if (rng() % 4 == 0) pool.push_back(0xFFFFFFFFu);
    } else {
        for (size_t i = 0, k = 1 + rng() % 6; i < k; ++i) table.push_back(randomWord(rng, allBytes(), 0, 5));
        for (size_t i = 0, k = 1 + rng() % table.size(); i < k; ++i) pool.push_back(uint32_t(rng() % table.size()));
    }
    const bool anyNumber = numbersOnly && rng() % 4 == 0;  // every word a number of its own
    std::map<std::string, uint32_t> words;
    for (size_t i = 0, count = rng() % (maxWords + 1); i < count; ++i)
        words[randomWord(rng, alphabet, 0, maxLength)] = anyNumber ? uint32_t(rng()) : pool[rng() % pool.size()];
    return fromMap("random seed " + std::to_string(seed), words, table, numbersOnly);
}

// Word forms: stems times endings, the number naming the ending, as in a
// dictionary of inflected words.
Sample wordForms(uint32_t seed, size_t stems, bool numbersOnly) {
    std::mt19937 rng(seed);
    const std::vector<std::string> endings = {"", "s", "ed", "ing", "er", "ers", "est", "ly", "ness"};
    std::map<std::string, uint32_t> words;
    for (size_t i = 0; i < stems; ++i) {
        std::string stem = randomWord(rng, "abcdefghijklmnopqrstuvwxyz", 3, 9);
        for (size_t e = 0; e < endings.size(); ++e)
            if (rng() % 3) words[stem + endings[e]] = numbersOnly ? uint32_t(e * 1000003u) : uint32_t(e);
    }
    std::vector<std::string> table;
    if (!numbersOnly)
        for (const std::string& e : endings) table.push_back("+" + e);
    return fromMap("word forms " + std::to_string(stems) + (numbersOnly ? " numbers-only" : ""), words, table, numbersOnly);
}

// Fixed cases: the empty dictionary, the empty word alone, every byte value.
std::vector<Sample> fixedSamples() {
    std::vector<Sample> out;
    out.push_back(fromMap("empty with a table", {}, {"unused"}, false));
    out.push_back(fromMap("empty numbers-only", {}, {}, true));
    out.push_back(fromMap("only the empty word", {{"", 0}}, {"x"}, false));
    out.push_back(fromMap("only the empty word, numbers-only", {{"", 4000000000u}}, {}, true));
    out.push_back(fromMap("ab ac", {{"ab", 1}, {"ac", 0}}, {"first", ""}, false));
    // Trees: no state has two incoming arcs.
    out.push_back(fromMap("one word", {{"abcdef", 1}}, {"", "one"}, false));
    out.push_back(fromMap("a chain of prefixes", {{"a", 0}, {"ab", 9}, {"abc", 4}}, {}, true));
    std::map<std::string, uint32_t> every;
    every[""] = 3;
    for (int c = 0; c < 256; ++c) {
        every[std::string(1, char(c))] = uint32_t(c % 4);
        every[std::string(1, char(c)) + char(255 - c)] = uint32_t(c % 3);
    }
    out.push_back(fromMap("every byte value", every, {std::string("\0\xff", 2), "tag", "", "\\x41"}, false));
    std::map<std::string, uint32_t> everyNumber;
    for (int c = 0; c < 256; ++c) everyNumber[std::string(2, char(c))] = uint32_t(c) * 16777259u;
    out.push_back(fromMap("every byte value, numbers-only", everyNumber, {}, true));
    return out;
}

std::vector<Sample> smallSamples() {
    std::vector<Sample> out = fixedSamples();
    for (uint32_t seed = 1; seed <= 300; ++seed) out.push_back(randomSample(seed, seed % 10 == 0 ? 400 : 40, 12));
    return out;
}

std::vector<Sample> bigSamples() {
    std::vector<Sample> out;
    out.push_back(randomSample(1001, 6000, 16));
    out.push_back(wordForms(1002, 2500, false));
    out.push_back(wordForms(1003, 2500, true));
    std::mt19937 rng(1004);
    std::map<std::string, uint32_t> words;  // distinct numbers: few shared endings
    for (int i = 0; i < 8000; ++i) words[randomWord(rng, "abcdefghijklmnopqrstuvwxyz", 5, 14)] = uint32_t(rng());
    out.push_back(fromMap("8000 random numbers", words, {}, true));
    return out;
}

// ---- What the library hands back ----

struct Word {
    std::string word;
    uint32_t number;
    bool hasData;
    std::string data;
    bool operator==(const Word&) const = default;
};

struct Collector {
    std::vector<Word> words;
    size_t stopAfter = SIZE_MAX;
};

int32_t collectWord(const uint8_t* word, int32_t length, const AnnotRecord* annot, void* context) {
    auto& c = *static_cast<Collector*>(context);
    Word w{std::string(reinterpret_cast<const char*>(word), size_t(length)), annot->number, annot->data != nullptr, ""};
    if (annot->data) w.data.assign(reinterpret_cast<const char*>(annot->data), size_t(annot->length));
    else if (annot->length != 0) w.data = "<null data with length " + std::to_string(annot->length) + ">";
    c.words.push_back(std::move(w));
    return c.words.size() < c.stopAfter;
}

std::vector<Word> wordsFrom(const Dict& dict, uint32_t state) {
    Collector c;
    EXPECT_EQ(dict.forEachWord(state, collectWord, &c), 1);
    return std::move(c.words);
}

struct Annot {
    uint32_t number;
    std::string data;
    bool operator==(const Annot&) const = default;
};

int32_t collectAnnot(const AnnotRecord* annot, void* context) {
    auto& out = *static_cast<std::vector<Annot>*>(context);
    if (!annot->data) out.push_back({annot->number, "<null data>"});
    else out.push_back({annot->number, std::string(reinterpret_cast<const char*>(annot->data), size_t(annot->length))});
    return 1;
}

std::vector<Word> expectedWords(const Sample& s) {
    std::vector<Word> out;
    for (const Entry& e : s.entries)
        out.push_back({e.word, e.number, !s.numbersOnly, s.numbersOnly ? "" : s.table[e.number]});
    return out;
}

std::vector<Annot> expectedAnnots(const Sample& s) {
    std::vector<Annot> out;
    if (s.numbersOnly) {
        std::set<uint32_t> inUse;
        for (const Entry& e : s.entries) inUse.insert(e.number);
        for (uint32_t n : inUse) out.push_back({n, ""});
    } else {
        for (size_t i = 0; i < s.table.size(); ++i) out.push_back({uint32_t(i), s.table[i]});
    }
    return out;
}

std::string printable(const std::string& bytes) {
    std::string out;
    for (unsigned char c : bytes.substr(0, 40)) {
        char hex[8];
        std::snprintf(hex, sizeof hex, c > 0x20 && c < 0x7F && c != '\\' ? "%c" : "\\x%02X", c);
        out += hex;
    }
    return bytes.size() > 40 ? out + "... (" + std::to_string(bytes.size()) + " bytes)" : out;
}

// Reports the first difference only: the lists may hold thousands of words.
void expectSameWords(const std::vector<Word>& got, const std::vector<Word>& want) {
    size_t i = 0;
    while (i < got.size() && i < want.size() && got[i] == want[i]) ++i;
    if (i == got.size() && i == want.size()) return;
    auto show = [](const std::vector<Word>& v, size_t i) {
        if (i >= v.size()) return std::string("(end)");
        return "\"" + printable(v[i].word) + "\" number " + std::to_string(v[i].number) +
               (v[i].hasData ? " data \"" + printable(v[i].data) + "\"" : " no data");
    };
    ADD_FAILURE() << "word " << i << " of " << want.size() << " differs:\n  got  " << show(got, i)
                  << "\n  want " << show(want, i);
}

// Words that are not in the dictionary but lie close to words that are.
std::vector<std::string> absentWords(const Sample& s, uint32_t seed) {
    std::set<std::string> present;
    for (const Entry& e : s.entries) present.insert(e.word);
    std::set<std::string> absent;
    std::mt19937 rng(seed);
    for (const Entry& e : s.entries) {
        if (e.word.size() < 64)
            for (size_t n = 0; n < e.word.size(); ++n) absent.insert(e.word.substr(0, n));
        for (char extra : {'\0', 'a', '\xff', char(rng())}) absent.insert(e.word + extra);
        if (!e.word.empty()) absent.insert(e.word.substr(0, e.word.size() - 1) + char(e.word.back() ^ 1));
    }
    for (int i = 0; i < 50; ++i) absent.insert(randomWord(rng, allBytes(), 0, 8));
    std::vector<std::string> out;
    for (const std::string& w : absent)
        if (!present.count(w)) out.push_back(w);
    return out;
}

int64_t lookUp(const Dict& dict, const std::string& word) {
    return dict.lookup(reinterpret_cast<const uint8_t*>(word.data()), int32_t(word.size()));
}

std::unique_ptr<Dict> openDict(const MemorySource& source, bool slow) { return Dict::create(source, slow); }

void checkContent(const Dict& dict, const Sample& s) {
    expectSameWords(wordsFrom(dict, dict.root), expectedWords(s));
    std::vector<Annot> annots;
    EXPECT_EQ(dict.forEachAnnot(collectAnnot, &annots), 1);
    EXPECT_EQ(annots, expectedAnnots(s));
}

void checkLookups(const Dict& dict, const Sample& s, const std::vector<std::string>& absent) {
    for (const Entry& e : s.entries)
        ASSERT_EQ(lookUp(dict, e.word), int64_t(e.number)) << "\"" << printable(e.word) << "\"";
    for (const std::string& w : absent) ASSERT_EQ(lookUp(dict, w), -1) << "\"" << printable(w) << "\"";
}

// The content and every lookup, on the fast path and on the slow one.
void checkBothPaths(const std::vector<uint8_t>& bytes, const Sample& s, const std::vector<std::string>& absent) {
    MemorySource source(bytes);
    for (bool slow : {false, true}) {
        SCOPED_TRACE(slow ? "slow path" : "fast path");
        auto dict = openDict(source, slow);
        checkContent(*dict, s);
        checkLookups(*dict, s, absent);
    }
}

// The header holds the file's true values.
void checkHeader(const HeaderRecord& h, const Sample& s, const Variant& v) {
    std::set<unsigned char> bytes;
    for (const Entry& e : s.entries) bytes.insert(e.word.begin(), e.word.end());
    EXPECT_EQ(h.magic, int32_t(TARVO_MAGIC));
    EXPECT_EQ(h.version, 1);
    EXPECT_EQ(h.isSparse, v.layout == Layout::Sparse);
    EXPECT_EQ(h.isBigEndian, v.big);
    EXPECT_EQ(h.alphabetSize, int32_t(bytes.size()));
    EXPECT_EQ(h.charSize, v.layout == Layout::Sparse && bytes.size() == 256 ? 2 : 1);
    EXPECT_EQ(h.annotLengthSize == 0, s.numbersOnly);
    EXPECT_EQ(h.annotChunksCount, int32_t(expectedAnnots(s).size()));
}

// ---- The automaton as the file spells it ----

Automaton decodeFile(const std::vector<uint8_t>& bytes) { return tarvo_lib_test::decode(Image{bytes}); }

// States with every arc's target before its source, as FORMAT.md promises:
// compact targets lie further on, sparse targets have smaller bases.
std::vector<size_t> childrenFirst(const Automaton& a) {
    std::vector<size_t> order;
    for (size_t i = 0; i < a.states.size(); ++i) {
        const State& s = a.states[i];
        for (const tarvo_lib_test::Arc& arc : s.arcs) {
            EXPECT_TRUE(a.index.count(arc.target)) << "arc to " << arc.target << " which is no state";
            if (a.sparse) {
                EXPECT_LT(arc.target >> 1, s.id >> 1) << "state " << s.id;
            } else {
                EXPECT_GE(arc.target, s.end) << "state " << s.id;
            }
        }
        order.push_back(a.sparse ? i : a.states.size() - 1 - i);
    }
    return order;
}

// The minimal automaton: every state reachable and leading to a word, no two
// states with the same future (finality, final output, arcs with their labels,
// outputs and targets' classes), and outputs pushed as far up as they go.
void checkMinimal(const Automaton& a, const HeaderRecord& h, const BuildStats& stats) {
    using Signature = std::tuple<bool, uint32_t, std::vector<std::tuple<uint8_t, uint32_t, size_t>>>;
    std::map<Signature, size_t> classes;
    std::vector<size_t> classOf(a.states.size());
    std::vector<bool> live(a.states.size());
    for (size_t i : childrenFirst(a)) {
        const State& s = a.states[i];
        Signature sig{s.final, s.finalOutput, {}};
        live[i] = s.final;
        for (const tarvo_lib_test::Arc& arc : s.arcs) {
            size_t target = a.index.at(arc.target);
            std::get<2>(sig).emplace_back(arc.label, arc.output, classOf[target]);
            live[i] = live[i] || live[target];
        }
        classOf[i] = classes.emplace(sig, classes.size()).first->second;
    }
    EXPECT_EQ(classes.size(), a.states.size()) << "two states share their future";

    std::map<uint32_t, unsigned> incoming;
    for (const State& s : a.states)
        for (const tarvo_lib_test::Arc& arc : s.arcs) ++incoming[arc.target];
    bool tree = true;
    for (const State& s : a.states) {
        bool isRoot = s.id == a.root;
        if (!isRoot) {
            EXPECT_GT(incoming[s.id], 0u) << "state " << s.id << " is unreachable";
        }
        if (incoming[s.id] > 1) tree = false;
        if (!isRoot || a.states.size() > 1) {
            EXPECT_TRUE(live[a.index.at(s.id)]) << "state " << s.id << " leads nowhere";
        }
        if (isRoot || (!s.final && s.arcs.empty())) continue;
        uint32_t least = s.final ? s.finalOutput : UINT32_MAX;
        for (const tarvo_lib_test::Arc& arc : s.arcs) least = std::min(least, arc.output);
        EXPECT_EQ(least, 0u) << "state " << s.id << " keeps an output its parent could carry";
    }
    EXPECT_EQ(h.isTree, int32_t(tree));
    EXPECT_EQ(uint64_t(h.transCount), a.arcCount());
    EXPECT_EQ(stats.states, a.states.size());
    EXPECT_EQ(stats.transitions, a.arcCount());
}

// The state reached by `prefix`, and what the arcs on the way add to the
// numbers of the words below it.
bool walkTo(const Automaton& a, const std::string& prefix, uint32_t& state, uint32_t& added) {
    state = a.root;
    added = 0;
    for (unsigned char c : prefix) {
        const State& s = a.at(state);
        auto arc = std::find_if(s.arcs.begin(), s.arcs.end(), [c](const auto& x) { return x.label == c; });
        if (arc == s.arcs.end()) return false;
        state = arc->target;
        added += arc->output;
    }
    return true;
}

// The words below `prefix`, spelled from there, with what is left of their numbers.
std::vector<Word> wordsBelow(const Sample& s, const std::string& prefix, uint32_t added) {
    std::vector<Word> out;
    for (const Entry& e : s.entries)
        if (e.word.compare(0, prefix.size(), prefix) == 0 && e.word.size() >= prefix.size()) {
            uint32_t n = e.number - added;
            bool inTable = !s.numbersOnly && n < s.table.size();
            out.push_back({e.word.substr(prefix.size()), n, !s.numbersOnly, inTable ? s.table[n] : ""});
        }
    return out;
}

std::vector<std::string> somePrefixes(const Sample& s, uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<std::string> out;
    for (int i = 0; i < 6 && !s.entries.empty(); ++i) {
        const std::string& w = s.entries[rng() % s.entries.size()].word;
        out.push_back(w.substr(0, rng() % (w.size() + 1)));
    }
    return out;
}

// Ids that are no state: within and just past the automaton, and far off.
// The id one past the last state is left to its own test below.
std::vector<uint32_t> nonStates(const Automaton& a, uint32_t fsaSize) {
    std::vector<uint32_t> out{0xFFFFFFFFu, 0x80000000u, fsaSize + 1};
    for (uint32_t id = 0; id < fsaSize + 2 && out.size() < 12; ++id)
        if (!a.index.count(id) && id != fsaSize) out.push_back(id);
    if (a.sparse) out.push_back(2 * a.slotCount + 1);
    return out;
}

int32_t ignoreWord(const uint8_t*, int32_t, const AnnotRecord*, void*) { return 1; }

// ---- The tests ----

TEST(RandomDictionaries, GiveBackTheirWordsInEveryLayoutAndByteOrder) {
    std::vector<Sample> samples = smallSamples();
    for (Sample& s : bigSamples()) samples.push_back(std::move(s));
    for (const Sample& s : samples) {
        std::vector<std::string> absent = absentWords(s, 7);
        HeaderRecord first{};
        for (const Variant& v : kVariants) {
            SCOPED_TRACE(s.name + ", " + v.name);
            std::vector<uint8_t> bytes = build(s, v);
            EXPECT_EQ(build(s, v), bytes) << "the same words built twice differ";
            MemorySource source(bytes);
            for (bool slow : {false, true}) {
                auto dict = openDict(source, slow);
                if (!slow) {
                    checkContent(*dict, s);
                    checkHeader(dict->header(), s, v);
                }
                checkLookups(*dict, s, absent);
            }
            // The two byte orders of a layout differ only in the order-bound fields.
            HeaderRecord h = openDict(source, false)->header();
            if (v.big) {
                h.magic = first.magic, h.checksum = first.checksum, h.isBigEndian = first.isBigEndian;
                EXPECT_EQ(std::memcmp(&h, &first, sizeof h), 0) << "headers differ across byte orders";
            }
            first = h;
        }
        if (::testing::Test::HasFailure()) return;
    }
}

// Trailing free slots cut off, down to the last one the format requires.
void cutSpareSlot(Image& image) {
    const Automaton a = tarvo_lib_test::decode(image);
    uint32_t lastArc = 0;
    for (const State& st : a.states) lastArc = std::max(lastArc, (st.id >> 1) + image.field(tarvo_lib_test::kAlphabetSize));
    uint32_t slots = a.slotCount;
    while (slots > lastArc + 1 && image.load(image.fsaAt() + 8 + size_t(slots - 1) * a.slotSize, a.checkSize) == 0) {
        image.cutAutomaton(8 + size_t(slots - 1) * a.slotSize, a.slotSize);
        image.setField(tarvo_lib_test::kPaddingSize, image.field(tarvo_lib_test::kPaddingSize) - 1);
        --slots;
    }
    ASSERT_EQ(slots, lastArc + 1);
    image.fixChecksum();
}

// A sparse table written without the spare slot past the last base's arcs
// (as a writer may, since it is not required) reads the same: lookups of bytes
// outside the alphabet must then not probe past the table.
TEST(RandomDictionaries, SparseTablesWithoutTheSpareSlotReadTheSame) {
    std::vector<Sample> samples = smallSamples();
    // The empty word's number sits in the root's final slot, the one a byte
    // outside the alphabet would probe as code 0: an odd number there reads
    // as a final state at a base far past the table.
    samples.push_back(Sample{"odd number on the empty word", {{"", 301}, {"a", 0}}, {}, true});
    for (const Sample& s : samples) {
        SCOPED_TRACE(s.name);
        Image image{build(s, {"sparse", Layout::Sparse, false})};
        cutSpareSlot(image);
        if (::testing::Test::HasFatalFailure()) return;
        checkBothPaths(image.bytes, s, absentWords(s, 11));
    }
}

TEST(RandomDictionaries, SparseTablesWithFourByteCodesReadTheSame) {
    std::vector<Sample> samples = smallSamples();
    // Final outputs past three bytes make four-byte codes of their own.
    samples.push_back(fromMap("final outputs of four bytes",
                              {{"", 4000000000u}, {"ab", 70000}, {"abc", 0}, {"abd", 0}, {"b", 3000000000u}, {"bc", 0}},
                              {}, true));
    size_t tried = 0;
    for (const Sample& original : samples) {
        // With 0 on every word that ends a path, no arc carries an output and
        // slots hold only a check and a code; the other words keep their
        // numbers, as final outputs.
        std::map<std::string, uint32_t> words;
        const std::vector<Entry>& entries = original.entries;
        for (size_t i = 0; i < entries.size(); ++i) {
            bool endsAPath = i + 1 == entries.size() || entries[i + 1].word.rfind(entries[i].word, 0) != 0;
            words[entries[i].word] = endsAPath ? 0 : entries[i].number;
        }
        Sample s = fromMap(original.name + ", 0 at the ends", words, original.table, original.numbersOnly);
        for (bool big : {false, true}) {
            SCOPED_TRACE(s.name + (big ? ", big-endian" : ", little-endian"));
            Image image{build(s, {"sparse", Layout::Sparse, big})};
            const Automaton a = tarvo_lib_test::decode(image);
            if (a.checkSize != 1 || a.payloadSize < 3 || a.outputSize != 0) continue;
            Image wide = a.payloadSize == 3 ? withFourByteCodes(image, a) : image;
            ASSERT_EQ(tarvo_lib_test::decode(wide).payloadSize, 4u);
            for (bool spare : {true, false}) {
                SCOPED_TRACE(spare ? "with the spare slot" : "without the spare slot");
                Image f = wide;
                if (!spare) cutSpareSlot(f);
                if (::testing::Test::HasFatalFailure()) return;
                checkBothPaths(f.bytes, s, absentWords(s, 11));
            }
            ++tried;
        }
        if (::testing::Test::HasFailure()) return;
    }
    EXPECT_GT(tried, 100u);
}

// The root is placed above its children, so in a table of more than 2^23
// slots its code can pass three bytes while every target's code fits them:
// a lookup must not cut the root's code to the width of a slot's code.
TEST(SparseTables, RootCodePastThreeBytes) {
    const Sample s = fromMap("the word a, root at base 2^23", {{"a", 7}}, {}, true);
    Image image{build(s, {"sparse", Layout::Sparse, false})};  // its header, alphabet and numbers
    const uint32_t root = 1u << 23;
    const uint32_t slotCount = root + 3;  // the root's arc on 'a' at root + 1, then the spare slot
    std::vector<uint8_t> fsa(8 + size_t(slotCount) * 4, 0);
    auto put = [&](size_t at, uint32_t value) {
        for (unsigned i = 0; i < 4; ++i) fsa[at + i] = uint8_t(value >> (8 * i));
    };
    put(0, root << 1);                      // the root's code: not final
    put(8 + 4 * 1, 7u << 8);                // base 1's final slot: check 0, final output 7
    put(8 + 4 * size_t(root + 1), 3u << 8 | 1);  // check 1 ('a'), target code 3: base 1, final
    image.replaceAutomaton(fsa);
    image.setField(tarvo_lib_test::kTransCount, 1);
    image.setField(tarvo_lib_test::kPaddingSize, 1);
    image.setField(tarvo_lib_test::kDestSize, 3);
    image.fixChecksum();
    ASSERT_EQ(tarvo_lib_test::decode(image).slotSize, 4u);
    checkBothPaths(image.bytes, s, {"", "b", "aa", "ab"});
}

// With 255 labels in one-byte checks, the code a byte outside the alphabet
// probes with (256) has no byte of its own: it must not read as check 0, the
// check of free slots and of final states' own slots.
TEST(SparseTables, ByteOutsideA255ByteAlphabet) {
    std::string alphabet = allBytes();
    alphabet.erase(alphabet.begin() + 'q');
    for (uint32_t seed = 1; seed <= 10; ++seed) {
        std::mt19937 rng(seed);
        // Final outputs without arc outputs: every word that ends a path has
        // number 0, the words on the way 1 to 7, the odd ones of which make
        // a probe that lands on their slot look like a final state.
        std::map<std::string, uint32_t> words;
        for (char c : alphabet) words[std::string(1, c) + c] = 0;  // every byte a label
        for (int i = 0; i < 3000; ++i) words[randomWord(rng, alphabet, 2, 6)] = 0;
        std::map<std::string, uint32_t> inner;
        for (const auto& [word, number] : words)
            for (size_t n = 1; n < word.size(); ++n) inner[word.substr(0, n)] = 1 + rng() % 7;
        for (const auto& [word, number] : inner) words[word] = number;
        const Sample s = fromMap("255 labels, seed " + std::to_string(seed), words, {"", "1", "2", "3", "4", "5", "6", "7"}, false);
        SCOPED_TRACE(s.name);
        const Image image{build(s, {"sparse", Layout::Sparse, false})};
        const Automaton a = tarvo_lib_test::decode(image);
        ASSERT_EQ(a.slotSize, 4u);  // one-byte checks, three-byte codes, no outputs
        std::vector<std::string> absent;
        for (const Entry& e : s.entries) absent.push_back(e.word + 'q');
        checkBothPaths(image.bytes, s, absent);
        checkBothPaths(withFourByteCodes(image, a).bytes, s, absent);
    }
}

TEST(RandomDictionaries, AreMinimalAndFlagTreesTruly) {
    std::vector<Sample> samples = smallSamples();
    for (Sample& s : bigSamples()) samples.push_back(std::move(s));
    for (const Sample& s : samples) {
        size_t states = 0;
        for (const Variant& v : kVariants) {
            SCOPED_TRACE(s.name + ", " + v.name);
            BuildStats stats;
            std::vector<uint8_t> bytes = build(s, v, &stats);
            Automaton a = decodeFile(bytes);
            checkMinimal(a, openDict(MemorySource(bytes), false)->header(), stats);
            if (states) {
                EXPECT_EQ(a.states.size(), states) << "layouts hold different automata";
            }
            states = a.states.size();
        }
        if (::testing::Test::HasFailure()) return;
    }
}

// A compact file laid out for reading holds first the states that one path
// alone reaches, in the order a listing meets them, then every state that
// several paths share and all below them.
TEST(RandomDictionaries, CompactStatesComeInReadingOrder) {
    std::vector<Sample> samples = smallSamples();
    for (Sample& s : bigSamples()) samples.push_back(std::move(s));
    for (const Sample& s : samples) {
        for (const Variant& v : kVariants) {
            if (!v.readingLayout) continue;
            SCOPED_TRACE(s.name + ", " + v.name);
            Automaton a = decodeFile(build(s, v));
            // In file order every state's arcs come before the state they reach.
            std::map<uint32_t, unsigned> incoming;
            std::set<uint32_t> shared;
            for (const State& state : a.states)
                for (const tarvo_lib_test::Arc& arc : state.arcs)
                    if (++incoming[arc.target] > 1 || shared.count(state.id)) shared.insert(arc.target);
            std::vector<uint32_t> preorder, pending{a.root};
            while (!pending.empty()) {
                uint32_t id = pending.back();
                pending.pop_back();
                preorder.push_back(id);
                const State& state = a.at(id);
                for (size_t k = state.arcs.size(); k-- > 0;)
                    if (!shared.count(state.arcs[k].target)) pending.push_back(state.arcs[k].target);
            }
            ASSERT_EQ(preorder.size() + shared.size(), a.states.size());
            for (size_t i = 0; i < preorder.size(); ++i) ASSERT_EQ(a.states[i].id, preorder[i]) << "state " << i;
        }
        if (::testing::Test::HasFailure()) return;
    }
}

// Small word lists whose minimal automaton is known: equal endings are
// shared whether or not their arcs carry outputs.
TEST(Minimality, EqualEndingsAreSharedWithAndWithoutOutputs) {
    struct Case {
        const char* name;
        std::map<std::string, uint32_t> words;
        size_t states;
    };
    const Case cases[] = {
        {"endings without outputs", {{"ab", 0}, {"abs", 0}, {"cb", 0}, {"cbs", 0}}, 4},
        // A single arc with an output to the state written just before it.
        {"single arcs with outputs", {{"ab", 0}, {"abs", 1}, {"cb", 0}, {"cbs", 1}}, 4},
        {"several arcs with outputs", {{"ab", 0}, {"abs", 1}, {"abt", 0}, {"cb", 0}, {"cbs", 1}, {"cbt", 0}}, 4},
        {"endings with other numbers", {{"ab", 0}, {"abs", 1}, {"cb", 1}, {"cbs", 0}}, 6},
    };
    for (const Case& c : cases) {
        Sample s = fromMap(c.name, c.words, {"x", "y"}, false);
        for (const Variant& v : kVariants) {
            SCOPED_TRACE(std::string(c.name) + ", " + v.name);
            BuildStats stats;
            std::vector<uint8_t> bytes = build(s, v, &stats);
            Automaton a = decodeFile(bytes);
            EXPECT_EQ(a.states.size(), c.states);
            checkMinimal(a, openDict(MemorySource(bytes), false)->header(), stats);
        }
    }
}

TEST(RandomDictionaries, EnumerateFromInnerStates) {
    for (const Sample& s : smallSamples()) {
        for (const Variant& v : kVariants) {
            SCOPED_TRACE(s.name + ", " + v.name);
            std::vector<uint8_t> bytes = build(s, v);
            Automaton a = decodeFile(bytes);
            MemorySource source(bytes);
            auto dict = openDict(source, false);
            for (const std::string& prefix : somePrefixes(s, 11)) {
                uint32_t state, added;
                ASSERT_TRUE(walkTo(a, prefix, state, added)) << "\"" << printable(prefix) << "\"";
                SCOPED_TRACE("from the state after \"" + printable(prefix) + "\"");
                expectSameWords(wordsFrom(*dict, state), wordsBelow(s, prefix, added));
            }
            for (uint32_t id : nonStates(a, uint32_t(dict->header().transSizeTotal)))
                EXPECT_THROW(dict->forEachWord(id, ignoreWord, nullptr), Error) << "state " << id;
        }
        if (::testing::Test::HasFailure()) return;
    }
}

TEST(InnerStates, TheStateAfterAGivesItsEndings) {
    Sample s = fromMap("ab ac", {{"ab", 1}, {"ac", 0}}, {"zero", "one"}, false);
    for (const Variant& v : kVariants) {
        SCOPED_TRACE(v.name);
        std::vector<uint8_t> bytes = build(s, v);
        Automaton a = decodeFile(bytes);
        const State& root = a.at(a.root);
        ASSERT_EQ(root.arcs.size(), 1u);
        MemorySource source(bytes);
        auto dict = openDict(source, false);
        expectSameWords(wordsFrom(*dict, root.arcs[0].target), {{"b", 1, true, "one"}, {"c", 0, true, "zero"}});
    }
}

// The id just past the last compact state is no state: taking it for one
// would decode the annotation section (or the bytes after the file) as a state.
TEST(InnerStates, OnePastTheLastStateIsNoState) {
    const Sample cases[] = {
        fromMap("numbers-only", {{"a", 7}}, {}, true),
        fromMap("empty numbers-only", {}, {}, true),
        fromMap("table", {{"a", 0}}, {"x"}, false),
    };
    for (const Sample& s : cases) {
        for (bool big : {false, true}) {
            SCOPED_TRACE(s.name + (big ? " big-endian" : " little-endian"));
            MemorySource source(build(s, {"compact", Layout::Compact, big}));
            auto dict = openDict(source, false);
            uint32_t past = uint32_t(dict->header().transSizeTotal);
            EXPECT_THROW(dict->forEachWord(past, ignoreWord, nullptr), Error);
        }
    }
}

// The public root is the caller's to change; lookups keep to the file's
// own root, and a root changed to no state is checked as any other state.
TEST(InnerStates, ARootChangedByTheCallerIsNoShortcut) {
    Sample s = fromMap("ab ac", {{"ab", 1}, {"ac", 0}}, {"zero", "one"}, false);
    for (const Variant& v : kVariants) {
        SCOPED_TRACE(v.name);
        MemorySource source(build(s, v));
        auto dict = openDict(source, false);
        const uint32_t fileRoot = dict->root;
        dict->root = uint32_t(dict->header().transSizeTotal) + 4096;
        EXPECT_EQ(dict->lookup(reinterpret_cast<const uint8_t*>("ab"), 2), 1);
        EXPECT_THROW(dict->forEachWord(dict->root, ignoreWord, nullptr), Error);
        EXPECT_NO_THROW(dict->forEachWord(fileRoot, ignoreWord, nullptr));
    }
}

TEST(Enumeration, StopsWhenTheCallbackReturnsZero) {
    Sample s = randomSample(77, 60, 6);
    ASSERT_GE(s.entries.size(), 5u);
    for (const Variant& v : kVariants) {
        SCOPED_TRACE(v.name);
        MemorySource source(build(s, v));
        auto dict = openDict(source, false);
        for (size_t k : {size_t(1), size_t(2), size_t(5), s.entries.size()}) {
            Collector c;
            c.stopAfter = k;
            EXPECT_EQ(dict->forEachWord(dict->root, collectWord, &c), 0);
            EXPECT_EQ(c.words.size(), k);
        }
        int calls = 0;
        auto stopAtOnce = [](const AnnotRecord*, void* context) -> int32_t { return ++*static_cast<int*>(context), 0; };
        EXPECT_EQ(dict->forEachAnnot(stopAtOnce, &calls), 0);
        EXPECT_EQ(calls, 1);
    }
}

// ---- Spans ----

// Lists spans as a listing on several threads does: each span is stopped
// after every `step` words and the rest of it, cut by spansAfter, listed next.
std::vector<Word> wordsOfSpans(const Dict& dict, std::vector<WordSpan> spans, size_t step) {
    std::vector<Word> words;
    std::vector<WordSpan> queue(spans.rbegin(), spans.rend());  // the next span last
    while (!queue.empty()) {
        WordSpan span = std::move(queue.back());
        queue.pop_back();
        Collector c;
        c.stopAfter = step;
        std::string stoppedAt = "unset";
        int32_t listed = dict.forEachWordIn(span, collectWord, &c, &stoppedAt);
        words.insert(words.end(), c.words.begin(), c.words.end());
        if (listed == 1) continue;
        EXPECT_EQ(stoppedAt, c.words.back().word);
        std::vector<WordSpan> rest = spansAfter(span, stoppedAt);
        queue.insert(queue.end(), rest.rbegin(), rest.rend());
    }
    return words;
}

TEST(RandomDictionaries, SpansListTheWordsInOrder) {
    std::vector<Sample> samples = smallSamples();
    samples.push_back(bigSamples()[0]);
    samples.push_back(bigSamples()[2]);
    for (const Sample& s : samples) {
        for (const Variant& v : kVariants) {
            SCOPED_TRACE(s.name + ", " + v.name);
            MemorySource source(build(s, v));
            auto dict = openDict(source, false);
            const std::vector<Word> all = wordsFrom(*dict, dict->root);
            const std::vector<WordSpan> spans = dict->splitWords();
            if (s.entries.size() > 1000) {
                EXPECT_GE(spans.size(), 64u);
            }
            for (size_t step : {SIZE_MAX, size_t(1), size_t(7)}) {
                ASSERT_EQ(wordsOfSpans(*dict, spans, step), all) << "step " << step;
            }
        }
    }
}

TEST(Spans, RangesAndTheWordsAfterOne) {
    Sample s = fromMap("prefixes", {{"", 0}, {"a", 1}, {"ab", 2}, {"abc", 0}, {"ab\xff", 1}, {"b", 2}, {"\xff\xff", 0}},
                       {"x", "y", "z"}, false);
    MemorySource source(build(s, kVariants[0]));
    auto dict = openDict(source, false);
    auto spelled = [&](const WordSpan& span) {
        std::string out;
        for (const Word& w : wordsOfSpans(*dict, {span}, SIZE_MAX)) out += "[" + printable(w.word) + "]";
        return out;
    };
    EXPECT_EQ(spelled({""}), "[][a][ab][abc][ab\\xFF][b][\\xFF\\xFF]");
    EXPECT_EQ(spelled({"", false, 'a', 'b'}), "[a][ab][abc][ab\\xFF][b]");
    EXPECT_EQ(spelled({"ab", true, 1, 0}), "[ab]");
    EXPECT_EQ(spelled({"ab", false, 'd', 255}), "[ab\\xFF]");
    EXPECT_EQ(spelled({"zz"}), "");
    // After "abc": its own continuations, then the bytes after 'c' at "ab",
    // then those after 'b' at "a", then those after 'a' at the root.
    std::vector<WordSpan> rest = spansAfter(WordSpan{}, "abc");
    ASSERT_EQ(rest.size(), 4u);
    std::string after;
    for (const WordSpan& span : rest) after += spelled(span);
    EXPECT_EQ(after, "[ab\\xFF][b][\\xFF\\xFF]");
    EXPECT_TRUE(spansAfter({"", false, 0, 0xff}, "\xff\xff").size() == 1u) << "only the word's own continuations";
    EXPECT_TRUE(spansAfter({"ab", true, 1, 0}, "ab").empty());
    EXPECT_THROW(spansAfter({"ab"}, "b"), Error);
    EXPECT_THROW(spansAfter({"", false, 'a', 'a'}, "b"), Error);
}

// A word of a megabyte: the enumeration must not recurse per letter.
TEST(LongWords, MegabyteWordsEnumerateAndLookUp) {
    std::mt19937 rng(5);
    const std::string letters("\x00\x01\x7f\x80\xfe\xff ab", 9);
    std::string big = randomWord(rng, letters, 1 << 20, 1 << 20);
    std::string branch = big.substr(0, 700000) + randomWord(rng, letters, 1000, 1000);
    Sample s = fromMap("megabyte words", {{"", 1}, {big, 0}, {branch, 2}, {"short", 1}}, {"a", "b", "c"}, false);
    for (const Variant& v : kVariants) {
        SCOPED_TRACE(v.name);
        MemorySource source(build(s, v));
        for (bool slow : {false, true}) {
            auto dict = openDict(source, slow);
            if (!slow) checkContent(*dict, s);
            checkLookups(*dict, s, {big.substr(0, big.size() - 1), big + "x", branch.substr(0, 700500)});
        }
    }
}

// A comb: a long word with another word branching off at every letter, so
// that the enumeration holds a state with arcs still to take at every depth.
TEST(LongWords, BranchAtEveryDepth) {
    std::mt19937 rng(6);
    const std::string spine = randomWord(rng, "ab", 1000, 1000);
    std::map<std::string, uint32_t> words{{spine, 0}};
    for (std::size_t i = 0; i < spine.size(); ++i) words[spine.substr(0, i) + "c"] = uint32_t(i % 3);
    Sample s = fromMap("comb", words, {"a", "b", "c"}, false);
    for (const Variant& v : kVariants) {
        SCOPED_TRACE(v.name);
        MemorySource source(build(s, v));
        checkContent(*openDict(source, false), s);
    }
}

// ---- The flat interface and FileSource over files ----

struct Handle {
    TarvoHandle h;
    ~Handle() { tarvo_close(h); }
};

int32_t walk(TarvoHandle h, const std::string& word, uint32_t state) {
    char scratch[20];
    return tarvo_walk(h, word.data(), int32_t(word.size()), state, scratch);
}

void checkFlat(TarvoHandle h, const Dict& dict, const Sample& s, const Automaton& a,
               const std::vector<std::string>& absent) {
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(std::memcmp(tarvo_header(h), &dict.header(), sizeof(HeaderRecord)), 0);
    const uint32_t root = tarvo_get_root(h);
    EXPECT_EQ(root, dict.root);
    for (const Entry& e : s.entries) ASSERT_EQ(walk(h, e.word, root), int32_t(e.number)) << printable(e.word);
    for (const std::string& w : absent) ASSERT_EQ(walk(h, w, root), -1) << printable(w);
    for (const std::string& prefix : somePrefixes(s, 13)) {
        uint32_t state, added;
        ASSERT_TRUE(walkTo(a, prefix, state, added));
        for (const Word& w : wordsBelow(s, prefix, added))
            ASSERT_EQ(walk(h, w.word, state), int32_t(w.number)) << "\"" << printable(w.word) << "\" after \"" << printable(prefix) << "\"";
    }
}

TEST(RandomDictionaries, AgreeThroughFilesAndTheFlatInterface) {
    tarvo_test::TempDir dir;
    std::vector<Sample> samples = fixedSamples();
    for (uint32_t seed = 1; seed <= 300; seed += 7) samples.push_back(randomSample(seed, 60, 10));
    samples.push_back(bigSamples()[1]);
    for (const Sample& s : samples) {
        std::vector<std::string> absent = absentWords(s, 9);
        for (const Variant& v : kVariants) {
            SCOPED_TRACE(s.name + ", " + v.name);
            std::vector<uint8_t> bytes = build(s, v);
            std::string path = dir.file("d.dict");
            tarvo_test::writeFile(path, std::string(bytes.begin(), bytes.end()));
            FileSource mapped;
            mapped.open(path.c_str());
            auto dict = Dict::create(mapped, false);
            checkContent(*dict, s);
            Automaton a = decodeFile(bytes);
            for (int slow : {0, 1}) {
                Handle read{tarvo_open(path.c_str(), slow, nullptr)};
                checkFlat(read.h, *dict, s, a, absent);
                Handle map{tarvo_mmap(path.c_str(), slow, nullptr)};
                checkFlat(map.h, *dict, s, a, absent);
            }
        }
        if (::testing::Test::HasFailure()) return;
    }
}

// A file of 8 MiB and more is read into memory of its own, aligned for large
// pages: every word must still read as built, and an absent one as absent.
TEST(RandomDictionaries, LargeFileReadIntoMemory) {
    std::mt19937 random(42);
    std::map<std::string, uint32_t> words;
    while (words.size() < 230000) {
        std::string word(12 + random() % 9, 'a');
        for (char& c : word) c = char('a' + random() % 26);
        words.emplace(word, uint32_t(words.size()));
    }
    Sample s = fromMap("230,000 random words", words, {}, true);
    std::vector<uint8_t> bytes = build(s, kVariants[2]);
    ASSERT_GE(bytes.size(), size_t(8) << 20);
    tarvo_test::TempDir dir;
    std::string path = dir.file("large.dict");
    tarvo_test::writeFile(path, std::string(bytes.begin(), bytes.end()));
    Handle read{tarvo_open(path.c_str(), 0, nullptr)};
    ASSERT_NE(read.h, nullptr);
    const uint32_t root = tarvo_get_root(read.h);
    for (const Entry& e : s.entries) ASSERT_EQ(walk(read.h, e.word, root), int32_t(e.number)) << e.word;
    for (const std::string& w : absentWords(s, 5)) ASSERT_EQ(walk(read.h, w, root), -1) << w;
}

// ---- The dump ----

// The dump stops soon after its first failed write, in every layout: a
// reader that has gone, or a full disk, need not wait for the whole
// automaton. The stream's writes all fail; few are tried.
TEST(Dump, StopsAtTheFirstFailedWrite) {
    const Sample s = randomSample(11, 5000, 12);
    for (const Variant& v : kVariants) {
        SCOPED_TRACE(v.name);
        const std::vector<uint8_t> bytes = build(s, v);
        MemorySource source(bytes);
        auto dict = openDict(source, false);
        size_t writes = 0;
        cookie_io_functions_t failing{};
        failing.write = [](void* count, const char*, size_t) -> ssize_t {
            ++*static_cast<size_t*>(count);
            return -1;
        };
        std::FILE* out = fopencookie(&writes, "w", failing);
        ASSERT_NE(out, nullptr);
        std::setvbuf(out, nullptr, _IOFBF, 256);
        EXPECT_FALSE(dump(static_cast<const DictImpl&>(*dict).view(), out));
        std::fclose(out);
        EXPECT_LE(writes, 4u);
    }
}

} // namespace
