// Arbitrary word lists built into a dictionary and read back: the file must
// pass every check on open (checksum included) and give back exactly the
// words, their annotations and the annotation table, on both lookup paths.
//
// Input: a control byte (bit 0 sparse layout, bit 1 big-endian, bit 2
// numbers only, bit 3 the reading layout of large compact files whatever the
// size), then entries of a length byte, the word, a length byte and
// the annotation. Numbers-only entries take the annotation's first four bytes
// as a little-endian number.
#include "tarvo_builder.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace {

using namespace velkin::libtarvo;

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "round_trip_fuzz: %s\n", what);
    std::abort();
}

struct Input {
    BuildOptions options;
    bool numbersOnly = false;
    std::map<std::string, uint32_t> words;  // byte order, the first of equal words kept
    std::vector<std::string> table;         // number -> annotation bytes
};

std::string take(const uint8_t*& p, const uint8_t* end) {
    size_t length = p < end ? *p++ : 0;
    if (length > size_t(end - p)) length = size_t(end - p);
    std::string text(reinterpret_cast<const char*>(p), length);
    p += length;
    return text;
}

uint32_t littleNumber(const std::string& bytes) {
    uint32_t number = 0;
    for (size_t i = 0; i < bytes.size() && i < 4; ++i) number |= uint32_t(uint8_t(bytes[i])) << (8 * i);
    return number;
}

// Annotations are numbered by first appearance in word order, as dict_build does.
Input parse(const uint8_t* data, size_t size) {
    Input in;
    const uint8_t* p = data;
    const uint8_t* end = data + size;
    const uint8_t control = p < end ? *p++ : 0;
    in.options.layout = (control & 1) ? Layout::Sparse : Layout::Compact;
    in.options.bigEndian = (control & 2) != 0;
    in.numbersOnly = (control & 4) != 0;
    if (control & 8) in.options.readingLayoutFrom = 0;
    std::map<std::string, std::string> raw;
    while (p < end) {
        std::string word = take(p, end);
        std::string annot = take(p, end);
        raw.emplace(std::move(word), std::move(annot));
    }
    std::map<std::string, uint32_t> numbers;
    for (const auto& [word, annot] : raw) {
        if (in.numbersOnly) {
            in.words.emplace(word, littleNumber(annot));
            continue;
        }
        auto [it, added] = numbers.emplace(annot, uint32_t(in.table.size()));
        if (added) in.table.push_back(annot);
        in.words.emplace(word, it->second);
    }
    return in;
}

struct Listed {
    std::vector<std::pair<std::string, uint32_t>> words;
    std::vector<std::pair<uint32_t, std::string>> annots;
    bool numbersOnly;
};

int32_t onWord(const uint8_t* word, int32_t length, const AnnotRecord* annot, void* context) {
    auto* listed = static_cast<Listed*>(context);
    if ((annot->data == nullptr) != listed->numbersOnly) fail("word annotation data present in the wrong mode");
    listed->words.emplace_back(std::string(reinterpret_cast<const char*>(word), size_t(length)), annot->number);
    return 1;
}

int32_t onAnnot(const AnnotRecord* annot, void* context) {
    auto* listed = static_cast<Listed*>(context);
    listed->annots.emplace_back(annot->number, std::string(reinterpret_cast<const char*>(annot->data), size_t(annot->length)));
    return 1;
}

int64_t lookup(const Dict& dict, const std::string& word) {
    return dict.lookup(reinterpret_cast<const uint8_t*>(word.data()), int32_t(word.size()));
}

int64_t expected(const Input& in, const std::string& word) {
    auto it = in.words.find(word);
    return it == in.words.end() ? -1 : int64_t(it->second);
}

void checkListing(const Input& in, const Dict& dict) {
    Listed listed{{}, {}, in.numbersOnly};
    if (dict.forEachWord(dict.root, onWord, &listed) != 1) fail("the enumeration stopped early");
    if (listed.words.size() != in.words.size()) fail("the enumeration gave another number of words");
    auto want = in.words.begin();
    for (const auto& [word, number] : listed.words) {
        if (word != want->first) fail("the enumeration gave another word");
        if (number != want->second) fail("the enumeration gave a word another number");
        ++want;
    }
    dict.forEachAnnot(onAnnot, &listed);
    std::vector<std::pair<uint32_t, std::string>> annots;
    if (in.numbersOnly) {
        std::map<uint32_t, bool> used;
        for (const auto& entry : in.words) used[entry.second] = true;
        for (const auto& entry : used) annots.emplace_back(entry.first, "");
    } else {
        for (size_t i = 0; i < in.table.size(); ++i) annots.emplace_back(uint32_t(i), in.table[i]);
    }
    if (listed.annots != annots) fail("the annotations differ");
}

void checkLookups(const Input& in, const Dict& dict) {
    for (const auto& [word, number] : in.words) {
        if (lookup(dict, word) != int64_t(number)) fail("a word does not look up to its number");
        const std::string longer = word + '\0';
        if (lookup(dict, longer) != expected(in, longer)) fail("an extension looks up wrongly");
        if (!word.empty()) {
            const std::string shorter = word.substr(0, word.size() - 1);
            if (lookup(dict, shorter) != expected(in, shorter)) fail("a prefix looks up wrongly");
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const Input in = parse(data, size);
    DictBuilder builder(in.options);
    for (const auto& [word, number] : in.words) builder.add(word, number);
    BuildStats stats;
    MemorySource source(builder.finishToMemory(in.table, in.numbersOnly, &stats));
    if (stats.words != in.words.size() || stats.bytes != source.size()) fail("the build statistics are wrong");

    for (bool slow : {false, true}) {
        std::unique_ptr<Dict> dict = Dict::create(source, slow);
        const HeaderRecord& header = dict->header();
        if ((header.isSparse != 0) != (in.options.layout == Layout::Sparse)) fail("the layout is not the one asked for");
        if ((header.isBigEndian != 0) != in.options.bigEndian) fail("the byte order is not the one asked for");
        checkListing(in, *dict);
        checkLookups(in, *dict);
    }
    return 0;
}
