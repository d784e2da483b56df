// Arbitrary bytes as a dictionary file. The checksum check is skipped, so the
// structural checks alone stand between the bytes and the reader; whatever
// they accept must then be safe to enumerate, walk, and dump, and the fast
// and slow lookups must agree with the enumeration. Every way of checking a
// compact file (in halves, with far marks delayed as in a large file) must
// give the verdict of the one plain pass.
#include "reader.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace {

using velkin::libtarvo::AnnotRecord;
using velkin::libtarvo::DictImpl;
using velkin::libtarvo::Error;
using velkin::libtarvo::View;

// A crafted automaton may spell exponentially many words: stop early.
constexpr size_t kMaxWords = 4096;
constexpr size_t kKeptWords = 32;
constexpr size_t kMaxAnnots = 1 << 16;

struct Word {
    std::string bytes;
    uint32_t number;
};

struct Listing {
    size_t count = 0;
    std::string previous;  // words come in strictly increasing byte order
    std::vector<Word> kept;
    uint32_t touched = 0;  // folds in every annotation byte, so each is read
};

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "dict_open_fuzz: %s\n", what);
    std::abort();
}

uint32_t touch(const AnnotRecord* annot) {
    uint32_t sum = annot->number;
    if (annot->length < 0) fail("annotation with a negative length");
    if (annot->data != nullptr)
        for (int32_t i = 0; i < annot->length; ++i) sum = sum * 31 + annot->data[i];
    return sum;
}

int32_t onWord(const uint8_t* word, int32_t length, const AnnotRecord* annot, void* context) {
    auto* listing = static_cast<Listing*>(context);
    if (length < 0) fail("word with a negative length");
    listing->touched += touch(annot);
    std::string bytes(reinterpret_cast<const char*>(word), size_t(length));
    if (listing->count > 0 && !(listing->previous < bytes)) fail("words out of order");
    if (listing->kept.size() < kKeptWords) listing->kept.push_back({bytes, annot->number});
    listing->previous = std::move(bytes);
    return ++listing->count < kMaxWords;
}

int32_t onAnnot(const AnnotRecord* annot, void* context) {
    auto* listing = static_cast<Listing*>(context);
    listing->touched += touch(annot);
    return ++listing->count < kMaxAnnots;
}

// Both lookup paths from `state`; they must agree on any word.
int64_t walkBoth(DictImpl& dict, uint32_t state, const std::string& word) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(word.data());
    int32_t length = int32_t(word.size());
    int64_t fast = velkin::libtarvo::lookup(dict.view(), state, bytes, length, false);
    int64_t slow = velkin::libtarvo::lookup(dict.view(), state, bytes, length, true);
    if (fast != slow) fail("fast and slow lookups disagree");
    return fast;
}

// Enumerates from the root (stopping early on a huge automaton), then checks
// that each word kept walks to the number the enumeration gave it.
void enumerateAndWalk(DictImpl& dict, uint8_t extra) {
    Listing words;
    try {
        dict.forEachWord(dict.root, onWord, &words);
    } catch (const Error&) {
        // A damaged annotation number stops the enumeration; what came before stands.
    }
    for (const Word& w : words.kept) {
        if (walkBoth(dict, dict.root, w.bytes) != int64_t(w.number)) fail("a listed word does not walk to its number");
        if (dict.lookup(reinterpret_cast<const uint8_t*>(w.bytes.data()), int32_t(w.bytes.size())) != int64_t(w.number))
            fail("lookup disagrees with the enumeration");
        walkBoth(dict, dict.root, w.bytes + char(extra));
        if (!w.bytes.empty()) walkBoth(dict, dict.root, w.bytes.substr(0, w.bytes.size() - 1));
    }
}

// A state number taken from the input's last bytes: usually not a state,
// which walk() and forEachWord() must notice.
void fromOtherState(DictImpl& dict, const uint8_t* data, size_t size) {
    uint32_t state = 0;
    for (size_t i = size >= 4 ? size - 4 : 0; i < size; ++i) state = state << 8 | data[i];
    state %= dict.view().size + 1;
    std::string word(reinterpret_cast<const char*>(data), size < 3 ? size : 3);
    int32_t walked = dict.walk(state, reinterpret_cast<const uint8_t*>(word.data()), int32_t(word.size()));
    Listing words;
    try {
        dict.forEachWord(state, onWord, &words);
    } catch (const Error&) {
        return;  // not a state, or a damaged number below it
    }
    if (int32_t(walkBoth(dict, state, word)) != walked) fail("walk() disagrees with lookup() from a state");
}

std::string verdict(const uint8_t* data, size_t size, uint64_t directMarks, uint64_t halvesFrom) {
    View v;
    try {
        velkin::libtarvo::validate(data, size, false, v, velkin::libtarvo::Backing::Memory,
                                   velkin::libtarvo::kChecksumBeside, directMarks, halvesFrom);
    } catch (const Error& e) {
        return e.what();
    }
    return "accepted";
}

void checkEveryWay(const uint8_t* data, size_t size) {
    using velkin::libtarvo::kDirectMarks;
    const std::string onePass = verdict(data, size, kDirectMarks, UINT64_MAX);
    const std::pair<uint64_t, uint64_t> ways[] = {{kDirectMarks, 0}, {0, UINT64_MAX}, {0, 0}};
    for (const auto& [directMarks, halvesFrom] : ways)
        if (verdict(data, size, directMarks, halvesFrom) != onePass) fail("ways of checking disagree");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static std::FILE* null = std::fopen("/dev/null", "w");
    checkEveryWay(data, size);
    std::unique_ptr<DictImpl> dict;
    try {
        dict = std::make_unique<DictImpl>(data, size, false, false);
    } catch (const Error&) {
        return 0;
    }
    const uint8_t extra = size > 0 ? data[size - 1] : 0;
    enumerateAndWalk(*dict, extra);
    fromOtherState(*dict, data, size);

    Listing annots;
    dict->forEachAnnot(onAnnot, &annots);
    if (annots.count != std::min<size_t>(dict->view().annotCount, kMaxAnnots))
        fail("annotation count disagrees with the enumeration");

    const HeaderRecord& header = dict->header();
    if (header.transSizeTotal != int32_t(dict->view().fsaSize)) fail("header disagrees with the view");
    if (null != nullptr && !velkin::libtarvo::dump(dict->view(), null)) fail("dump failed");
    return 0;
}
