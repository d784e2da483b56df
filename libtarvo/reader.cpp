// Lookups and enumerations over both layouts and both byte orders.
#include "reader.h"

#include <cstring>
#include <vector>

namespace velkin::libtarvo {

namespace {

// A compact state decoded from trusted bytes.
struct CompactState {
    uint32_t start;
    uint32_t end;
    uint32_t n;
    unsigned width;
    bool final;
    uint32_t annot;
    const uint8_t* labels;
    const uint8_t* targets;
};

inline void decodeCompact(const uint8_t* fsa, uint32_t o, CompactState& s) {
    const uint8_t* p = fsa + o;
    uint8_t h = *p++;
    uint32_t n = h & format::kCountMask;
    if (n == format::kCountEscape) n += format::getVarintTrusted(p);
    s.final = h & format::kFinalBit;
    s.annot = s.final ? format::getVarintTrusted(p) : 0;
    s.width = (h >> format::kWidthShift) & 7;
    s.n = n;
    s.start = o;
    s.labels = p;
    s.targets = p + n;
    s.end = uint32_t(s.targets + n * s.width - fsa);
}

template <bool Big>
inline uint32_t compactTarget(const CompactState& s, uint32_t k) {
    return s.width == 0 ? s.end : s.start + format::loadN<Big>(s.targets + k * s.width, s.width);
}

template <bool Big>
int64_t lookupCompactFast(const View& v, uint32_t o, const uint8_t* word, int32_t length) {
    const uint8_t* fsa = v.fsa;
    for (int32_t i = 0; i < length; ++i) {
        const uint8_t* p = fsa + o;
        uint8_t h = *p++;
        uint32_t n = h & format::kCountMask;
        if (n == format::kCountEscape) n += format::getVarintTrusted(p);
        if (h & format::kFinalBit) {
            while (*p++ & 0x80) {}
        }
        const uint8_t* hit = static_cast<const uint8_t*>(std::memchr(p, word[i], n));
        if (!hit) return -1;
        unsigned width = (h >> format::kWidthShift) & 7;
        if (width == 0) o = uint32_t(p + 1 - fsa);
        else o += format::loadN<Big>(p + n + uint32_t(hit - p) * width, width);
    }
    const uint8_t* p = fsa + o;
    uint8_t h = *p++;
    if (!(h & format::kFinalBit)) return -1;
    if ((h & format::kCountMask) == format::kCountEscape) format::getVarintTrusted(p);
    return format::getVarintTrusted(p);
}

// The reference path: the same arc-by-arc cursor the enumeration uses.
template <bool Big>
int64_t lookupCompactSlow(const View& v, uint32_t o, const uint8_t* word, int32_t length) {
    CompactState s;
    decodeCompact(v.fsa, o, s);
    for (int32_t i = 0; i < length; ++i) {
        uint32_t k = 0;
        while (k < s.n && s.labels[k] < word[i]) ++k;
        if (k == s.n || s.labels[k] != word[i]) return -1;
        decodeCompact(v.fsa, compactTarget<Big>(s, k), s);
    }
    return s.final ? int64_t(s.annot) : -1;
}

int64_t lookupSparseFast(const View& v, uint32_t code, const uint8_t* word, int32_t length) {
    for (int32_t i = 0; i < length; ++i) {
        uint32_t c = v.labelCode[word[i]];
        if (c == 0) return -1;
        uint32_t slot = (code >> 1) + c;
        if (v.check(slot) != c) return -1;
        code = v.payload(slot);
    }
    return (code & 1) ? int64_t(v.payload(code >> 1)) : -1;
}

int64_t lookupSparseSlow(const View& v, uint32_t code, const uint8_t* word, int32_t length) {
    for (int32_t i = 0; i < length; ++i) {
        uint32_t base = code >> 1;
        uint32_t c = 1;
        while (c <= v.alphabetSize && !(v.check(base + c) == c && v.alphabet[c - 1] >= word[i])) ++c;
        if (c > v.alphabetSize || v.alphabet[c - 1] != word[i]) return -1;
        code = v.payload(base + c);
    }
    return (code & 1) ? int64_t(v.payload(code >> 1)) : -1;
}

const uint8_t kNoBytes[1] = {0};

struct AnnotSource {
    const View& v;
    AnnotRecord record(uint32_t number) const {
        if (v.numbersOnly) return AnnotRecord{nullptr, 0, number};
        uint32_t begin = v.annotOffset(number);
        return AnnotRecord{v.annotData + begin, int32_t(v.annotOffset(number + 1) - begin), number};
    }
};

struct CompactFrame {
    uint32_t start;
    uint32_t end;
    const uint8_t* labels;
    const uint8_t* targets;
    uint32_t n;
    uint32_t next;
    unsigned width;
};

template <bool Big>
int32_t enumerateCompact(const View& v, uint32_t state, WordCallback callback, void* context) {
    AnnotSource annots{v};
    std::vector<uint8_t> word(64);
    std::vector<CompactFrame> stack;
    stack.reserve(64);
    CompactState s;
    decodeCompact(v.fsa, state, s);
    if (s.final) {
        AnnotRecord r = annots.record(s.annot);
        if (callback(kNoBytes, 0, &r, context) == 0) return 0;
    }
    if (s.n) stack.push_back({s.start, s.end, s.labels, s.targets, s.n, 0, s.width});
    while (!stack.empty()) {
        CompactFrame& f = stack.back();
        if (f.next == f.n) {
            stack.pop_back();
            continue;
        }
        uint32_t k = f.next++;
        size_t depth = stack.size();
        if (depth > word.size()) word.resize(word.size() * 2);
        word[depth - 1] = f.labels[k];
        uint32_t target = f.width == 0 ? f.end : f.start + format::loadN<Big>(f.targets + k * f.width, f.width);
        decodeCompact(v.fsa, target, s);
        if (s.final) {
            AnnotRecord r = annots.record(s.annot);
            if (callback(word.data(), int32_t(depth), &r, context) == 0) return 0;
        }
        if (s.n) stack.push_back({s.start, s.end, s.labels, s.targets, s.n, 0, s.width});
    }
    return 1;
}

struct SparseFrame {
    uint32_t base;
    uint32_t next;
};

int32_t enumerateSparse(const View& v, uint32_t code, WordCallback callback, void* context) {
    AnnotSource annots{v};
    std::vector<uint8_t> word(64);
    std::vector<SparseFrame> stack;
    if (code & 1) {
        AnnotRecord r = annots.record(v.payload(code >> 1));
        if (callback(kNoBytes, 0, &r, context) == 0) return 0;
    }
    stack.push_back({code >> 1, 1});
    const uint32_t A = v.alphabetSize;
    while (!stack.empty()) {
        SparseFrame& f = stack.back();
        uint32_t c = f.next;
        while (c <= A && v.check(f.base + c) != c) ++c;
        if (c > A) {
            stack.pop_back();
            continue;
        }
        f.next = c + 1;
        uint32_t target = v.payload(f.base + c);
        size_t depth = stack.size();
        if (depth > word.size()) word.resize(word.size() * 2);
        word[depth - 1] = v.alphabet[c - 1];
        if (target & 1) {
            AnnotRecord r = annots.record(v.payload(target >> 1));
            if (callback(word.data(), int32_t(depth), &r, context) == 0) return 0;
        }
        stack.push_back({target >> 1, 1});
    }
    return 1;
}

} // namespace

int64_t lookup(const View& v, uint32_t state, const uint8_t* word, int32_t length, bool slow) {
    if (length < 0) return -1;
    if (v.sparse) return slow ? lookupSparseSlow(v, state, word, length) : lookupSparseFast(v, state, word, length);
    if (v.big) return slow ? lookupCompactSlow<true>(v, state, word, length) : lookupCompactFast<true>(v, state, word, length);
    return slow ? lookupCompactSlow<false>(v, state, word, length) : lookupCompactFast<false>(v, state, word, length);
}

int32_t enumerateWords(const View& v, uint32_t state, WordCallback callback, void* context) {
    if (v.sparse) return enumerateSparse(v, state, callback, context);
    return v.big ? enumerateCompact<true>(v, state, callback, context)
                 : enumerateCompact<false>(v, state, callback, context);
}

int32_t enumerateAnnots(const View& v, AnnotCallback callback, void* context) {
    if (v.numbersOnly) {
        const uint8_t* p = v.annotData;
        uint32_t number = 0;
        for (uint32_t i = 0; i < v.annotCount; ++i) {
            number += format::getVarintTrusted(p);
            AnnotRecord r{kNoBytes, 0, number};
            if (callback(&r, context) == 0) return 0;
        }
        return 1;
    }
    AnnotSource annots{v};
    for (uint32_t i = 0; i < v.annotCount; ++i) {
        AnnotRecord r = annots.record(i);
        if (callback(&r, context) == 0) return 0;
    }
    return 1;
}

DictImpl::DictImpl(const uint8_t* data, uint64_t size, bool slow, bool verifyChecksum) : slow_(slow) {
    validate(data, size, verifyChecksum, view_);
    root = view_.root();
    checkedState_ = root;
}

int64_t DictImpl::lookup(const uint8_t* word, int32_t length) const {
    return libtarvo::lookup(view_, root, word, length, slow_);
}

int32_t DictImpl::forEachWord(uint32_t state, WordCallback callback, void* context) const {
    if (state != root && !isState(view_, state))
        throw Error(Error::Kind::BadInput, "invalid state " + std::to_string(state));
    return enumerateWords(view_, state, callback, context);
}

int32_t DictImpl::forEachAnnot(AnnotCallback callback, void* context) const {
    return enumerateAnnots(view_, callback, context);
}

int64_t DictImpl::walk(uint32_t state, const uint8_t* word, int32_t length) {
    if (state != checkedState_) {
        if (!isState(view_, state)) return -1;
        checkedState_ = state;
    }
    return libtarvo::lookup(view_, state, word, length, slow_);
}

} // namespace velkin::libtarvo
