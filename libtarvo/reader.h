// Reading a validated dictionary: lookups, enumerations, the dump.
#pragma once

#include "view.h"

#include <cstdio>
#include <string>
#include <vector>

namespace velkin::libtarvo {

// Annotation number of the word spelled from `state`, or -1. `slow` takes the
// generic arc-by-arc path instead of the layout's direct one.
int64_t lookup(const View& view, uint32_t state, const uint8_t* word, int32_t length, bool slow);

// One layout's lookup, chosen once when a dictionary is opened. The length
// must not be negative. The walk is the same loop giving the flat interface's
// 32-bit result, so that tarvo_walk can jump to it rather than call it.
using LookupFunction = int64_t (*)(const View& view, uint32_t state, const uint8_t* word, int32_t length);
using WalkFunction = int32_t (*)(const View& view, uint32_t state, const uint8_t* word, int32_t length);
struct LookupPath {
    LookupFunction lookup;
    WalkFunction walk;
};
LookupPath chooseLookup(const View& view, bool slow);

// What is spelled before an enumeration's state: the words it lists begin
// with `prefix`, and their numbers count `sum`, the outputs along its path.
// A word a callback stops the enumeration at goes to `stoppedAt`, if set.
struct Spelled {
    const uint8_t* prefix = nullptr;
    uint32_t length = 0;
    uint64_t sum = 0;
    std::string* stoppedAt = nullptr;
};

int32_t enumerateWords(const View& view, uint32_t state, const Spelled& start, WordCallback callback, void* context);
// Calls back once for the word `word` that ends in a final state of final
// output `finalOutput`. Returns 0 when the callback did.
int32_t reportWord(const View& view, const Spelled& word, uint32_t finalOutput, WordCallback callback, void* context);

// The spans of DictImpl::splitWords and the listing of one (spans.cpp).
std::vector<WordSpan> splitWords(const View& view);
int32_t enumerateSpan(const View& view, const WordSpan& span, WordCallback callback, void* context,
                      std::string* stoppedAt);
int32_t enumerateAnnots(const View& view, AnnotCallback callback, void* context);

// Writes the dump form of FORMAT.md. Returns false when writing failed.
bool dump(const View& view, std::FILE* out);

// The largest annotation number of the words spelled from the root, found from
// the leaves up in one pass over the states, or kNoWord when there is no word.
// The dump computes no numbers, so its caller checks them with this first.
constexpr uint64_t kNoWord = UINT64_MAX;
uint64_t largestWordNumber(const View& view);

class DictImpl final : public Dict {
public:
    // `backing`: whether the bytes are a mapping of a file, whose pages the
    // checks may hand back once read (see validate).
    DictImpl(const uint8_t* data, uint64_t size, bool slow, bool verifyChecksum, Backing backing = Backing::Memory);
    const HeaderRecord& header() const override { return view_.header; }
    int64_t lookup(const uint8_t* word, int32_t length) const override;
    int32_t forEachWord(uint32_t state, WordCallback callback, void* context) const override;
    std::vector<WordSpan> splitWords() const override;
    int32_t forEachWordIn(const WordSpan& span, WordCallback callback, void* context,
                          std::string* stoppedAt) const override;
    int32_t forEachAnnot(AnnotCallback callback, void* context) const override;

    const View& view() const { return view_; }
    // Like lookup() from any state; a state other than the root is checked
    // first (once, then remembered); the length must not be negative. Inline,
    // so that a walk from the flat interface reaches the layout's loop in one
    // jump.
    int32_t walk(uint32_t state, const uint8_t* word, int32_t length) {
        if (__builtin_expect(state != checkedState_, 0)) return walkFromNewState(state, word, length);
        return path_.walk(view_, state, word, length);
    }

private:
    int32_t walkFromNewState(uint32_t state, const uint8_t* word, int32_t length);

    View view_;
    uint32_t checkedState_;
    LookupPath path_;
};

} // namespace velkin::libtarvo
