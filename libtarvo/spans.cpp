// Splitting the word list into spans that can be listed apart, and listing
// one. Spans come from the top of the automaton, where states are few, so
// states are read here arc by arc through the generic decoders.
#include "reader.h"

#include "compact_state.h"

#include <algorithm>
#include <string>
#include <vector>

namespace velkin::libtarvo {

namespace {

// Spans for a few threads to start from; a listing that finds them uneven
// cuts the rest of a span further as it goes (spansAfter). A large automaton
// is split finer, about a span for every 128 KiB of it: its spans take long
// to list, and what a thread lists ahead of the others waits in memory.
constexpr size_t kFewestSpans = 64;
constexpr size_t kMostSpans = 1024;
constexpr uint64_t kBytesPerSpan = uint64_t(128) << 10;

size_t spansFor(const View& v) {
    return size_t(std::clamp<uint64_t>(v.fsaSize / kBytesPerSpan, kFewestSpans, kMostSpans));
}
// Splitting stops this deep, so that a dictionary of a few long words does
// not copy long prefixes level after level.
constexpr size_t kSplitDepth = 32;

struct Arc {
    uint8_t label;
    uint32_t target;
    uint32_t output;
};

// A state of either layout: a compact state's offset or a sparse state's code.
struct StateInfo {
    bool final = false;
    uint32_t finalOutput = 0;
    std::vector<Arc> arcs;
};

StateInfo readState(const View& v, uint32_t state) {
    StateInfo info;
    if (v.sparse) {
        uint32_t base = state >> 1;
        info.final = state & 1;
        if (info.final) info.finalOutput = v.payload(base);
        for (uint32_t c = 1; c <= v.alphabetSize; ++c)
            if (v.check(base + c) == c) info.arcs.push_back({v.alphabet[c - 1], v.payload(base + c), v.output(base + c)});
        return info;
    }
    CompactState s;
    decodeCompact(v.fsa, state, s);
    info.final = s.final;
    info.finalOutput = s.finalOutput;
    const uint8_t* out = s.outs;
    for (uint32_t k = 0; k < s.n; ++k) {
        uint32_t output = nextOutput(s, out);
        info.arcs.push_back({s.labels[k], compactTarget(s, k, v.big), output});
    }
    return info;
}

// The arc of `state` labelled `label`, if there is one.
bool findArc(const View& v, uint32_t state, uint8_t label, Arc& arc) {
    if (v.sparse) {
        uint32_t c = v.labelCode[label];
        uint32_t slot = (state >> 1) + c;
        if (c == 0 || v.check(slot) != c) return false;
        arc = {label, v.payload(slot), v.output(slot)};
        return true;
    }
    CompactState s;
    decodeCompact(v.fsa, state, s);
    const uint8_t* out = s.outs;
    for (uint32_t k = 0; k < s.n; ++k) {
        uint32_t output = nextOutput(s, out);
        if (s.labels[k] != label) continue;
        arc = {label, compactTarget(s, k, v.big), output};
        return true;
    }
    return false;
}

struct OpenSpan {
    WordSpan span;
    uint32_t state;  // where span.prefix leads
};

bool wholeSubtree(const WordSpan& span) { return span.withPrefix && span.first == 0 && span.last == 255; }

// Replaces a span of every word under `open.state` by the prefix's own word
// and one span for each arc; false when the state has no arcs to split by.
bool splitSpan(const View& v, const OpenSpan& open, std::vector<OpenSpan>& into) {
    StateInfo info = readState(v, open.state);
    if (info.arcs.empty()) return false;
    if (info.final) into.push_back({{open.span.prefix, true, 1, 0}, open.state});
    for (const Arc& arc : info.arcs) into.push_back({{open.span.prefix + char(arc.label)}, arc.target});
    return true;
}

} // namespace

// Level by level from the root, so that the first parts are split no deeper
// than the later ones.
std::vector<WordSpan> splitWords(const View& v) {
    const size_t wanted = spansFor(v);
    std::vector<OpenSpan> level{{WordSpan{}, v.root()}};
    for (size_t depth = 0; depth < kSplitDepth && level.size() < wanted; ++depth) {
        std::vector<OpenSpan> next;
        bool split = false;
        for (const OpenSpan& open : level) {
            // Once there are enough, the rest stay whole: a listing cuts
            // what turns out large as it goes.
            if (next.size() < wanted && wholeSubtree(open.span) && splitSpan(v, open, next)) split = true;
            else next.push_back(open);
        }
        if (!split) break;
        level = std::move(next);
    }
    std::vector<WordSpan> spans;
    spans.reserve(level.size());
    for (OpenSpan& open : level) spans.push_back(std::move(open.span));
    return spans;
}

int32_t enumerateSpan(const View& v, const WordSpan& span, WordCallback callback, void* context,
                      std::string* stoppedAt) {
    if (span.prefix.size() > uint64_t(INT32_MAX) - 1) throw Error(Error::Kind::BadInput, "span prefix is too long");
    const auto* prefix = reinterpret_cast<const uint8_t*>(span.prefix.data());
    Spelled start{prefix, uint32_t(span.prefix.size()), 0, stoppedAt};
    uint32_t state = v.root();
    for (uint8_t byte : span.prefix) {
        Arc taken;
        if (!findArc(v, state, byte, taken)) return 1;  // no word begins so
        start.sum += taken.output;
        state = taken.target;
    }
    if (wholeSubtree(span)) return enumerateWords(v, state, start, callback, context);
    StateInfo info = readState(v, state);
    if (span.withPrefix && info.final && reportWord(v, start, info.finalOutput, callback, context) == 0) return 0;
    std::string word = span.prefix + '\0';
    for (const Arc& arc : info.arcs) {
        if (arc.label < span.first || arc.label > span.last) continue;
        word.back() = char(arc.label);
        Spelled next{reinterpret_cast<const uint8_t*>(word.data()), uint32_t(word.size()), start.sum + arc.output,
                     stoppedAt};
        if (enumerateWords(v, arc.target, next, callback, context) == 0) return 0;
    }
    return 1;
}

std::vector<WordSpan> spansAfter(const WordSpan& span, const std::string& word) {
    const size_t p = span.prefix.size();
    if (word.size() < p || word.compare(0, p, span.prefix) != 0)
        throw Error(Error::Kind::BadInput, "the word does not begin with the span's prefix");
    std::vector<WordSpan> rest;
    if (word.size() == p) {  // the prefix's own word: its continuations follow
        if (span.first <= span.last) rest.push_back({span.prefix, false, span.first, span.last});
        return rest;
    }
    const auto next = uint8_t(word[p]);
    if (next < span.first || next > span.last) throw Error(Error::Kind::BadInput, "the word is not in the span");
    // The word's own continuations, then at each shorter prefix the bytes
    // after the word's, down to the span's own range.
    rest.push_back({word, false, 0, 255});
    for (size_t j = word.size() - 1; j > p; --j) {
        const auto byte = uint8_t(word[j]);
        if (byte < 255) rest.push_back({word.substr(0, j), false, uint8_t(byte + 1), 255});
    }
    if (next < span.last) rest.push_back({span.prefix, false, uint8_t(next + 1), span.last});
    return rest;
}

std::vector<WordSpan> DictImpl::splitWords() const { return libtarvo::splitWords(view_); }

int32_t DictImpl::forEachWordIn(const WordSpan& span, WordCallback callback, void* context,
                                std::string* stoppedAt) const {
    return enumerateSpan(view_, span, callback, context, stoppedAt);
}

} // namespace velkin::libtarvo
