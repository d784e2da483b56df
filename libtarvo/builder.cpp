// Incremental construction of the minimal acyclic automaton from sorted words
// (Daciuk, Mihov, Watson and Watson, 2000), with annotation numbers carried as
// outputs pushed towards the root (Mihov and Maurel, 2001), so that words with
// different numbers still share their endings. States are emitted as soon as
// they can no longer change; a hash register of emitted states merges equal
// ones, so memory follows the automaton, not the input.
#include "tarvo_builder.h"

#include "compact_state.h"
#include "file_writer.h"
#include "format.h"
#include "sparse_packer.h"

#include <algorithm>
#include <bit>
#include <chrono>
#include <cstring>
#include <new>
#include <span>

namespace velkin::libtarvo {

namespace {

// The most the automaton section may take of a file of `limit` bytes, known
// while words are added; the whole file is checked again once assembled.
uint64_t automatonLimit(uint64_t limit) {
    limit = std::min<uint64_t>(limit, format::kMaxFileSize);
    return limit > format::kHeaderSize ? limit - format::kHeaderSize : 0;
}

[[noreturn]] void tooLarge(const std::string& what, uint64_t limit) {
    limit = std::min<uint64_t>(limit, format::kMaxFileSize);
    throw Error(Error::Kind::TooLarge, what + " would pass the limit of " + std::to_string(limit) +
                                           " bytes a dictionary file may hold");
}

struct Arc {
    uint8_t label;
    uint32_t target;  // emit id of the target: its end offset in the emit buffer
    uint32_t output;  // added to the annotation number of every word through this arc
};

struct Node {
    std::vector<Arc> arcs;
    bool final = false;
    uint32_t annot = 0;  // final output: what a word ending here adds last
};

inline uint64_t mix(uint64_t h, uint64_t x) {
    h ^= x;
    h *= 0xff51afd7ed558ccdULL;
    return h ^ (h >> 32);
}

uint32_t nodeHash(const Node& node) {
    uint64_t h = mix(0x9E3779B97F4A7C15ULL, (uint64_t(node.annot) << 1) | node.final);
    for (const Arc& a : node.arcs) h = mix(mix(h, (uint64_t(a.target) << 8) | a.label), a.output);
    return uint32_t(h) | 1;  // never 0, so a zero slot means empty
}

// A finished file in its four parts, written one after the other.
struct FileParts {
    uint8_t header[format::kHeaderSize];
    std::vector<uint8_t> alphabet;
    std::vector<uint8_t> fsa;
    std::vector<uint8_t> annots;
    std::vector<std::span<const uint8_t>> spans() const { return {header, alphabet, fsa, annots}; }
    uint64_t size() const { return sizeof header + alphabet.size() + fsa.size() + annots.size(); }
};

// The states of a compact automaton numbered in file order: a bitmap of where
// they start, each word of it beside the count of the starts before it, so
// that numbering a state costs one cache line.
class StateIndex {
public:
    explicit StateIndex(const std::vector<uint8_t>& fsa) : words_((fsa.size() + 63) / 64 + 1) {
        CompactState s;
        for (uint32_t o = 0; o < fsa.size(); o = s.end) {
            decodeCompact(fsa.data(), o, s);
            words_[o >> 6].starts |= uint64_t(1) << (o & 63);
        }
        for (size_t w = 0; w + 1 < words_.size(); ++w)
            words_[w + 1].before = words_[w].before + uint32_t(std::popcount(words_[w].starts));
    }
    uint32_t count() const { return words_.back().before; }
    // The number of the state that starts at `offset`.
    uint32_t of(uint32_t offset) const {
        const Word& w = words_[offset >> 6];
        return w.before + uint32_t(std::popcount(w.starts & ((uint64_t(1) << (offset & 63)) - 1)));
    }

private:
    struct Word {
        uint64_t starts = 0;
        uint32_t before = 0;
    };
    std::vector<Word> words_;
};

// The order of reading: the states that one path alone reaches, depth first
// and each arc's in label order, then the states that several paths share
// (and every state below one) in the order they had. A listing then reads
// the file mostly forward, and the shared states, which every listing and
// lookup comes back to, lie together in a small part of it.
std::vector<uint32_t> readingOrder(const std::vector<uint8_t>& fsa, const StateIndex& index, bool big) {
    constexpr uint8_t kOnePath = 1, kShared = 2;
    std::vector<uint8_t> reach(index.count(), 0);
    std::vector<uint32_t> shared;
    CompactState s;
    // Every arc comes before its target, so a state's mark is complete by
    // the time the pass reaches it.
    uint32_t i = 0;
    for (uint32_t o = 0; o < fsa.size(); o = s.end, ++i) {
        decodeCompact(fsa.data(), o, s);
        const bool isShared = reach[i] == kShared;
        if (isShared) shared.push_back(o);
        for (uint32_t k = 0; k < s.n; ++k) {
            uint8_t& r = reach[index.of(compactTarget(s, k, big))];
            r = isShared || r != 0 ? kShared : kOnePath;
        }
    }
    std::vector<uint32_t> order;
    order.reserve(index.count());
    std::vector<uint32_t> pending{0};
    while (!pending.empty()) {
        uint32_t o = pending.back();
        pending.pop_back();
        order.push_back(o);
        decodeCompact(fsa.data(), o, s);
        for (uint32_t k = s.n; k-- > 0;) {
            uint32_t target = compactTarget(s, k, big);
            if (reach[index.of(target)] == kOnePath) pending.push_back(target);
        }
    }
    order.insert(order.end(), shared.begin(), shared.end());
    return order;
}

} // namespace

struct DictBuilder::Impl {
    BuildOptions options;
    std::vector<uint8_t> emit;   // emitted states, each stored byte-reversed
    std::vector<Node> path;      // states along the last word, not yet emitted
    std::string last;
    uint64_t words = 0;
    uint64_t states = 0;
    uint64_t transitions = 0;
    unsigned widest = 0;
    bool tree = true;
    bool finished = false;
    bool usedLabel[256] = {};
    std::vector<uint64_t> table;  // register: (hash << 32) | emit id; 0 = empty
    uint64_t registered = 0;
    uint8_t scratch[16 + 10 * 256];
    uint32_t maxNumber = 0;

    uint64_t maxAutomaton;

    explicit Impl(BuildOptions o)
        : options(o), path(1), table(1 << 16, 0), maxAutomaton(automatonLimit(o.sizeLimit)) {}

    // Decodes the emitted state with emit id `id` and compares it with `node`.
    bool sameAs(const Node& node, uint32_t id) const {
        const uint8_t* r = emit.data() + id - 1;  // reading goes downwards
        uint8_t h = *r--;
        bool final = h & format::kFinalBit;
        if (final != node.final) return false;
        uint32_t n = h & format::kCountMask;
        auto varint = [&r]() {
            uint32_t v = 0;
            for (unsigned shift = 0;; shift += 7) {
                uint8_t b = *r--;
                v |= uint32_t(b & 0x7F) << shift;
                if (!(b & 0x80)) return v;
            }
        };
        if (n == format::kCountEscape) n += varint();
        if (n != node.arcs.size()) return false;
        if (final && varint() != node.annot) return false;
        for (uint32_t k = 0; k < n; ++k)
            if (*r-- != node.arcs[k].label) return false;
        unsigned width = (h >> format::kWidthShift) & 7;
        if (width != 0) {
            for (uint32_t k = 0; k < n; ++k) {
                uint8_t bytes[4];
                for (unsigned i = 0; i < width; ++i) bytes[i] = *r--;
                uint32_t delta = format::loadN(bytes, width, options.bigEndian);
                if (id - delta != node.arcs[k].target) return false;
            }
        }
        bool outputs = h & format::kOutputsBit;
        for (uint32_t k = 0; k < n; ++k)
            if ((outputs ? varint() : 0) != node.arcs[k].output) return false;
        // Without a target field the one arc leads to the state emitted just
        // before this one, which ends where this one starts.
        if (width == 0 && n == 1) return node.arcs[0].target == uint32_t(r + 1 - emit.data());
        return true;
    }

    uint32_t emitState(const Node& node) {
        const uint32_t n = uint32_t(node.arcs.size());
        const uint64_t position = emit.size();
        unsigned fixed = 1 + n;
        if (n >= format::kCountEscape) fixed += format::varintSize(n - format::kCountEscape);
        if (node.final) fixed += format::varintSize(node.annot);
        bool outputs = false;
        for (const Arc& a : node.arcs) outputs |= a.output != 0;
        if (outputs)
            for (const Arc& a : node.arcs) fixed += format::varintSize(a.output);
        // A single arc to the state emitted just before needs no target bytes:
        // in the file that state follows this one.
        unsigned width = 0;
        if (!(n == 1 && node.arcs[0].target == position)) {
            for (width = 1; width <= 4; ++width) {
                uint64_t end = position + fixed + uint64_t(n) * width;
                uint64_t furthest = 0;
                for (const Arc& a : node.arcs) furthest = std::max<uint64_t>(furthest, end - a.target);
                if (width == 4 || furthest < (uint64_t(1) << (8 * width))) break;
            }
        }
        if (n == 0) width = 0;
        const uint64_t end = position + fixed + uint64_t(n) * width;
        if (end > maxAutomaton) tooLarge("the automaton", options.sizeLimit);

        uint8_t* out = scratch;
        *out++ = uint8_t((node.final ? format::kFinalBit : 0) | (width << format::kWidthShift) |
                         (outputs ? format::kOutputsBit : 0) | std::min<uint32_t>(n, format::kCountEscape));
        if (n >= format::kCountEscape) out += format::putVarint(out, n - format::kCountEscape);
        if (node.final) out += format::putVarint(out, node.annot);
        for (const Arc& a : node.arcs) *out++ = a.label;
        for (const Arc& a : node.arcs) {
            format::storeN(out, uint32_t(end - a.target), width, options.bigEndian);
            out += width;
        }
        if (outputs)
            for (const Arc& a : node.arcs) out += format::putVarint(out, a.output);
        size_t size = size_t(out - scratch);
        emit.resize(position + size);
        std::reverse_copy(scratch, out, emit.begin() + ptrdiff_t(position));
        ++states;
        transitions += n;
        if (n > 0) widest = std::max(widest, width);
        return uint32_t(end);
    }

    void growTable() {
        std::vector<uint64_t> bigger(table.size() * 2, 0);
        const size_t mask = bigger.size() - 1;
        for (uint64_t entry : table) {
            if (!entry) continue;
            size_t i = size_t(entry >> 32) & mask;
            while (bigger[i]) i = (i + 1) & mask;
            bigger[i] = entry;
        }
        table.swap(bigger);
    }

    uint32_t registerOrEmit(const Node& node) {
        const uint32_t hash = nodeHash(node);
        const size_t mask = table.size() - 1;
        size_t i = hash & mask;
        while (uint64_t entry = table[i]) {
            if (uint32_t(entry >> 32) == hash && sameAs(node, uint32_t(entry))) {
                tree = false;
                return uint32_t(entry);
            }
            i = (i + 1) & mask;
        }
        uint32_t id = emitState(node);
        table[i] = (uint64_t(hash) << 32) | id;
        if (++registered * 10 > table.size() * 7) growTable();  // load at most 0.7
        return id;
    }

    // Emits the states deeper than `depth` along the last word.
    void minimizeTo(size_t depth) {
        for (size_t d = last.size(); d > depth; --d) path[d - 1].arcs.back().target = registerOrEmit(path[d]);
    }

    void add(std::string_view word, uint32_t annot) {
        if (finished) throw Error(Error::Kind::BadInput, "builder already finished");
        if (words > 0 && !(std::string_view(last) < word))
            throw Error(Error::Kind::BadInput, word == last ? "duplicate word" : "word out of order");
        if (word.size() > 0x7FFFFFFFu) throw Error(Error::Kind::TooLarge, "word longer than 2 GiB");
        size_t common = 0;
        size_t limit = std::min(last.size(), word.size());
        while (common < limit && last[common] == word[common]) ++common;
        if (words > 0) minimizeTo(common);
        if (path.size() < word.size() + 1) path.resize(word.size() + 1);
        // Along the shared prefix each arc keeps what this word has in common
        // with the words already below it; the excess moves one state down.
        uint32_t rest = annot;
        for (size_t i = 0; i < common; ++i) {
            Arc& a = path[i].arcs.back();
            uint32_t kept = std::min(a.output, rest);
            if (uint32_t excess = a.output - kept) {
                Node& below = path[i + 1];
                for (Arc& b : below.arcs) b.output += excess;
                if (below.final) below.annot += excess;
            }
            a.output = kept;
            rest -= kept;
        }
        for (size_t i = common; i < word.size(); ++i) {
            uint8_t label = uint8_t(word[i]);
            usedLabel[label] = true;
            path[i].arcs.push_back({label, 0, i == common ? rest : 0});
            Node& next = path[i + 1];
            next.arcs.clear();
            next.final = false;
            next.annot = 0;
        }
        path[word.size()].final = true;
        path[word.size()].annot = word.size() == common ? rest : 0;
        maxNumber = std::max(maxNumber, annot);
        last.assign(word);
        ++words;
    }

    FileParts assemble(const std::vector<std::string>& annotations, bool numbersOnly, BuildStats* stats);

    // Emits everything left and lays the automaton out root first.
    std::vector<uint8_t> finishAutomaton() {
        finished = true;
        minimizeTo(0);
        emitState(path[0]);
        std::vector<uint64_t>().swap(table);
        std::reverse(emit.begin(), emit.end());
        return std::move(emit);
    }

    void layOutForReading(std::vector<uint8_t>& fsa, uint64_t room);
    void emitInOrder(const std::vector<uint8_t>& fsa, const StateIndex& index, const std::vector<uint32_t>& order);
};

// Emits the states of `fsa` again, last of `order` first, so that the file
// holds them in that order.
void DictBuilder::Impl::emitInOrder(const std::vector<uint8_t>& fsa, const StateIndex& index,
                                    const std::vector<uint32_t>& order) {
    const bool big = options.bigEndian;
    std::vector<uint32_t> emitted(index.count(), 0);
    Node node;
    CompactState s;
    for (size_t i = order.size(); i-- > 0;) {
        decodeCompact(fsa.data(), order[i], s);
        node.final = s.final;
        node.annot = s.finalOutput;
        node.arcs.clear();
        const uint8_t* out = s.outs;
        for (uint32_t k = 0; k < s.n; ++k) {
            uint32_t output = nextOutput(s, out);
            node.arcs.push_back({s.labels[k], emitted[index.of(compactTarget(s, k, big))], output});
        }
        emitted[index.of(order[i])] = emitState(node);
    }
    std::reverse(emit.begin(), emit.end());
}

// The automaton as built, children first, is laid out again in reading
// order. Should that take more than `room` bytes, or more memory than there
// is, it stays as it was: that is as sound a file.
void DictBuilder::Impl::layOutForReading(std::vector<uint8_t>& fsa, uint64_t room) {
    const uint64_t built[4] = {states, transitions, widest, maxAutomaton};
    auto keepBuilt = [&] {
        states = built[0];
        transitions = built[1];
        widest = unsigned(built[2]);
    };
    try {
        StateIndex index(fsa);
        std::vector<uint32_t> order = readingOrder(fsa, index, options.bigEndian);
        // Targets reach further in this order, so the automaton grows by a
        // few percent (under 4 % in the files measured): room for that
        // spares a doubling of the buffer at its end.
        emit = std::vector<uint8_t>();
        emit.reserve(fsa.size() + fsa.size() / 16 + 64);
        states = transitions = 0;
        widest = 0;
        maxAutomaton = std::min(maxAutomaton, room);
        emitInOrder(fsa, index, order);
        fsa.swap(emit);
    } catch (const Error& e) {
        if (e.kind() != Error::Kind::TooLarge) throw;
        keepBuilt();
    } catch (const std::bad_alloc&) {
        keepBuilt();
    }
    maxAutomaton = built[3];
    std::vector<uint8_t>().swap(emit);
}

DictBuilder::DictBuilder(BuildOptions options) : impl_(std::make_unique<Impl>(options)) {}
DictBuilder::~DictBuilder() = default;

void DictBuilder::add(std::string_view word, uint32_t annotation) { impl_->add(word, annotation); }
std::string_view DictBuilder::lastWord() const { return impl_->last; }
uint64_t DictBuilder::wordCount() const { return impl_->words; }

namespace {

// The annotation section: offsets then bytes, or the numbers in use.
std::vector<uint8_t> annotationSection(const std::vector<std::string>& annotations, bool numbersOnly,
                                       const std::vector<uint32_t>& numbersInUse, bool big, uint64_t limit,
                                       HeaderRecord& h) {
    limit = std::min<uint64_t>(limit, format::kMaxFileSize);
    std::vector<uint8_t> out;
    if (numbersOnly) {
        uint32_t previous = 0;
        uint8_t buffer[5];
        for (size_t i = 0; i < numbersInUse.size(); ++i) {
            uint32_t step = i == 0 ? numbersInUse[0] : numbersInUse[i] - previous;
            out.insert(out.end(), buffer, buffer + format::putVarint(buffer, step));
            previous = numbersInUse[i];
        }
        h.annotLengthSize = 0;
        h.annotChunkSize = int32_t(out.size());
        h.annotChunksCount = int32_t(numbersInUse.size());
        return out;
    }
    uint64_t dataSize = 0;
    for (const std::string& a : annotations) dataSize += a.size();
    // Checked before anything is allocated: the section alone may pass the limit.
    if (dataSize > limit) tooLarge("the annotations", limit);
    unsigned width = format::bytesFor(uint32_t(dataSize));
    uint64_t indexSize = (uint64_t(annotations.size()) + 1) * width;
    if (indexSize + dataSize > limit) tooLarge("the annotations", limit);
    out.resize(size_t(indexSize + dataSize));
    uint32_t offset = 0;
    uint8_t* index = out.data();
    uint8_t* data = out.data() + indexSize;
    for (size_t i = 0; i <= annotations.size(); ++i) {
        format::storeN(index + i * width, offset, width, big);
        if (i == annotations.size()) break;
        std::memcpy(data + offset, annotations[i].data(), annotations[i].size());
        offset += uint32_t(annotations[i].size());
    }
    h.annotLengthSize = int32_t(width);
    h.annotChunkSize = int32_t(dataSize);
    h.annotChunksCount = int32_t(annotations.size());
    return out;
}

// Every word's annotation number, sorted and unique: a walk over all paths.
std::vector<uint32_t> numbersInUse(const std::vector<uint8_t>& fsa, bool big) {
    struct Frame {
        CompactState state;
        uint32_t next;
        const uint8_t* out;
        uint32_t sum;
    };
    std::vector<uint32_t> numbers;
    size_t compactAt = size_t(1) << 22;
    std::vector<Frame> stack(1);
    decodeCompact(fsa.data(), 0, stack[0].state);
    stack[0].next = 0;
    stack[0].out = stack[0].state.outs;
    stack[0].sum = 0;
    if (stack[0].state.final) numbers.push_back(stack[0].state.finalOutput);
    while (!stack.empty()) {
        Frame& f = stack.back();
        if (f.next == f.state.n) {
            stack.pop_back();
            continue;
        }
        uint32_t sum = f.sum + nextOutput(f.state, f.out);
        uint32_t target = compactTarget(f.state, f.next++, big);
        Frame child;
        decodeCompact(fsa.data(), target, child.state);
        child.next = 0;
        child.out = child.state.outs;
        child.sum = sum;
        if (child.state.final) numbers.push_back(sum + child.state.finalOutput);
        if (numbers.size() >= compactAt) {  // keep memory to about the distinct numbers
            std::sort(numbers.begin(), numbers.end());
            numbers.erase(std::unique(numbers.begin(), numbers.end()), numbers.end());
            compactAt = std::max<size_t>(compactAt, numbers.size() * 2);
        }
        stack.push_back(child);
    }
    std::sort(numbers.begin(), numbers.end());
    numbers.erase(std::unique(numbers.begin(), numbers.end()), numbers.end());
    return numbers;
}

} // namespace

FileParts DictBuilder::Impl::assemble(const std::vector<std::string>& annotations, bool numbersOnly,
                                      BuildStats* stats) {
    Impl& b = *this;
    if (b.finished) throw Error(Error::Kind::BadInput, "builder already finished");
    if (annotations.size() > 0x7FFFFFFFu) throw Error(Error::Kind::TooLarge, "too many annotations (at most 2^31 - 1)");
    FileParts parts;
    std::vector<uint8_t> compact = b.finishAutomaton();
    const bool big = b.options.bigEndian;

    HeaderRecord h{};
    h.magic = int32_t(format::kMagic);
    h.version = format::kVersion;
    h.isTree = b.tree;
    h.isBigEndian = big;
    h.alphabetOffset = int32_t(format::kHeaderSize);
    for (unsigned c = 0; c < 256; ++c)
        if (b.usedLabel[c]) parts.alphabet.push_back(uint8_t(c));
    h.alphabetSize = int32_t(parts.alphabet.size());
    h.fsaOffset = h.alphabetOffset + h.alphabetSize;
    h.transCount = int32_t(b.transitions);
    h.charSize = 1;

    std::vector<uint32_t> inUse;
    if (numbersOnly) inUse = numbersInUse(compact, big);
    else if (b.words > 0 && b.maxNumber >= annotations.size())
        throw Error(Error::Kind::BadInput, "annotation " + std::to_string(b.maxNumber) + " is not in the table");

    const uint64_t limit = std::min<uint64_t>(b.options.sizeLimit, format::kMaxFileSize);
    if (b.options.layout == Layout::Sparse) {
        SparseTable table = packSparse(compact, parts.alphabet, big);
        std::vector<uint8_t>().swap(compact);
        parts.fsa = std::move(table.bytes);
        h.isSparse = 1;
        h.charSize = int32_t(table.checkSize);
        h.destSize = int32_t(table.payloadSize);
        h.paddingSize = int32_t(table.padding);
        if (parts.fsa.size() > b.maxAutomaton) tooLarge("the automaton", limit);
        parts.annots = annotationSection(annotations, numbersOnly, inUse, big, limit, h);
    } else {
        parts.annots = annotationSection(annotations, numbersOnly, inUse, big, limit, h);
        // The reading layout gets the room the rest of the file leaves, if
        // the automaton as built fits in it at all.
        const uint64_t others = format::kHeaderSize + parts.alphabet.size() + parts.annots.size();
        const uint64_t room = others < limit ? limit - others : 0;
        if (compact.size() >= b.options.readingLayoutFrom && compact.size() <= room) b.layOutForReading(compact, room);
        parts.fsa = std::move(compact);
        h.destSize = int32_t(b.widest);
        if (parts.fsa.size() > b.maxAutomaton) tooLarge("the automaton", limit);
    }
    h.transSizeTotal = int32_t(parts.fsa.size());
    h.annotOffset = h.fsaOffset + h.transSizeTotal;
    if (parts.size() > limit) tooLarge("the dictionary", limit);

    // The checksum covers the header from word 2 on and every section.
    format::writeHeader(h, parts.header);
    uint32_t crc = format::crc32c(0, parts.header + 8, format::kHeaderSize - 8);
    for (const auto* section : {&parts.alphabet, &parts.fsa, &parts.annots})
        crc = format::crc32c(crc, section->data(), section->size());
    h.checksum = int32_t(crc);
    format::writeHeader(h, parts.header);

    if (stats) {
        stats->words = b.words;
        stats->annotations = numbersOnly ? inUse.size() : annotations.size();
        stats->states = b.states;
        stats->transitions = b.transitions;
        stats->bytes = parts.size();
    }
    return parts;
}

std::vector<uint8_t> DictBuilder::finishToMemory(const std::vector<std::string>& annotations, bool numbersOnly,
                                                 BuildStats* stats) {
    FileParts parts = impl_->assemble(annotations, numbersOnly, stats);
    std::vector<uint8_t> file;
    file.reserve(size_t(parts.size()));
    for (std::span<const uint8_t> part : parts.spans()) file.insert(file.end(), part.begin(), part.end());
    return file;
}

BuildStats DictBuilder::finish(const std::string& path, const std::vector<std::string>& annotations, bool numbersOnly) {
    BuildStats stats;
    FileParts parts = impl_->assemble(annotations, numbersOnly, &stats);
    writeFileAtomically(path, parts.spans());
    return stats;
}

} // namespace velkin::libtarvo
