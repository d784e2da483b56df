#include "span_listing.h"

#include "block_sink.h"
#include "line_formatter.h"
#include "libtarvo/start_elsewhere.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <exception>
#include <list>
#include <mutex>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>
#include <utility>

namespace dictexport {

namespace {

using velkin::libtarvo::Dict;
using velkin::libtarvo::WordSpan;

// Blocks of spans listed ahead wait in memory up to about this many bytes
// (twice as many for the span next to the first); past it, a thread listing
// ahead stops its span and takes up one no block waits before, nearer the
// first.
constexpr std::size_t kWaitingBytes = 2 << 20;

// Blocks of the listing threads: each ends in a handover, and a thread that
// stops its span does so at the end of one.
constexpr std::size_t kSpanBlockSize = 256 * 1024;

// A short last block of a span waits as a copy of its lines rather than in a
// buffer that a whole block fills, and goes out together with its neighbours.
constexpr std::size_t kShortBlock = 16 * 1024;

// What the sink answers a block with when the enumeration is to stop after
// the word just written; the rest of its span is cut into spans of their own.
constexpr int kCutHere = -1;

// The rest of a span is cut after a word at most this many bytes past the
// span's prefix: cutting makes a span for each of those bytes, each with a
// prefix as long, so after a longer word the thread lists the rest itself.
constexpr std::size_t kDeepestCut = 256;

struct Block {
    LineBuffer bytes;
    std::size_t used;
    std::size_t counted = 0;  // its share of waitingBytes_
};

// A span not yet wholly handed on, in the order of the listing.
struct SpanRecord {
    explicit SpanRecord(WordSpan listed) : span(std::move(listed)) {}

    WordSpan span;
    bool claimed = false;
    bool complete = false;
    std::vector<Block> waiting;  // its blocks, while the spans before it are not out
    std::exception_ptr error;    // raised while the span was listed
};

using Record = std::list<SpanRecord>::iterator;

class SpanOrder;

// The formatter's writer while a thread lists a span.
class SpanSink final : public BlockSink {
public:
    explicit SpanSink(SpanOrder& order) : order_(order) {}
    void submit(LineBuffer& block, std::size_t used) override;
    int error() override;

    Record record;
    bool tooFarAhead = false;  // the span is to stop: too many blocks wait
    bool whole = false;        // the span is listed to its end, whatever others want

private:
    SpanOrder& order_;
};

// The spans' order and their blocks. One thread at a time hands blocks on:
// the one listing the first span (the head), or the one that completed the
// span before it, which then hands on the spans completed since.
class SpanOrder {
public:
    // Made on the calling thread before any other lists: each thread's
    // formatter starts from a copy of `out`'s settings.
    SpanOrder(const Dict& dict, const std::vector<WordSpan>& spans, ExportOptions& out)
        : dict_(dict), out_(out), settings_(out) {
        settings_.line = LineBuffer();
        settings_.lineUsed = 0;
        settings_.writeError = 0;
        settings_.writer = nullptr;
        settings_.blockSize = kSpanBlockSize;
        for (const WordSpan& span : spans) records_.emplace_back(span);
    }

    // Lists spans until none is left or the listing has stopped.
    void work();

    int32_t finish() {
        if (firstError_) std::rethrow_exception(firstError_);
        return out_.writeError == 0 ? 1 : 0;
    }

    void submit(SpanSink& sink, LineBuffer& block, std::size_t used);

    // Read at every block: no lock.
    int error(const SpanSink& sink) const {
        if (stopped_.load(std::memory_order_relaxed)) return ECANCELED;
        if (sink.whole) return 0;
        return sink.tooFarAhead || wanting_.load(std::memory_order_relaxed) > 0 ? kCutHere : 0;
    }

private:
    bool claim(Record& record);
    bool waitsBehind(Record record) const;
    void complete(Record record, std::exception_ptr error);
    void cutRest(Record record, const std::string& stoppedAt);
    void listRest(SpanSink& sink, ExportOptions& mine, const std::string& stoppedAt);
    void handOnWaiting(std::unique_lock<std::mutex>& lock, SpanRecord& record);
    void handOn(LineBuffer& block, std::size_t used);
    void advanceHead(std::unique_lock<std::mutex>& lock);
    void stop() { stopped_.store(true, std::memory_order_relaxed); }
    void wake() {
        if (wanting_.load(std::memory_order_relaxed) > 0) changed_.notify_all();
    }

    const Dict& dict_;
    ExportOptions& out_;  // its stream or writer takes the blocks; used by the one handing on
    ExportOptions settings_;
    std::mutex mutex_;
    std::condition_variable changed_;  // spans were cut or completed, or blocks went out
    std::list<SpanRecord> records_;
    std::size_t listing_ = 0;          // spans claimed and not complete
    std::size_t waitingBytes_ = 0;
    std::vector<LineBuffer> spare_;    // buffers handed on, for reuse
    std::atomic<unsigned> wanting_{0}; // threads waiting for a span they may claim
    std::atomic<bool> stopped_{false}; // a write failed, or a span raised an error
    std::exception_ptr firstError_;
};

void SpanSink::submit(LineBuffer& block, std::size_t used) { order_.submit(*this, block, used); }
int SpanSink::error() { return order_.error(*this); }

// Whether blocks of `record` would wait behind blocks already waiting, once
// the waiting ones are too many: then the thread lists nearer the head.
bool SpanOrder::waitsBehind(Record record) const {
    if (waitingBytes_ <= kWaitingBytes) return false;
    for (auto r = records_.begin(); r != record; ++r)
        if (!r->waiting.empty() || r->complete) return true;
    return false;
}

// The first span not claimed, in order, so that the head is always being
// listed or complete; waits while none may be claimed and others list.
bool SpanOrder::claim(Record& record) {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        if (stopped_.load(std::memory_order_relaxed)) return false;
        auto r = std::find_if(records_.begin(), records_.end(), [](const SpanRecord& s) { return !s.claimed; });
        if (r != records_.end() && !waitsBehind(r)) {
            r->claimed = true;
            ++listing_;
            record = r;
            return true;
        }
        // With nothing left to claim or cut, the listing is done. A span
        // that may not be claimed yet becomes claimable once the blocks
        // before it, which another thread is handing on, are out.
        if (r == records_.end() && listing_ == 0) return false;
        wanting_.fetch_add(1, std::memory_order_relaxed);
        changed_.wait(lock);
        wanting_.fetch_sub(1, std::memory_order_relaxed);
    }
}

// Short blocks gather in the output's own buffer and go out together.
void SpanOrder::handOn(LineBuffer& block, std::size_t used) {
    if (used < kShortBlock) {
        out_.line.grow(std::max(out_.lineUsed + used, out_.blockSize), out_.lineUsed);
        std::memcpy(out_.line.data() + out_.lineUsed, block.data(), used);
        out_.lineUsed += used;
        if (out_.lineUsed >= out_.blockSize) flushLines(out_);
        return;
    }
    flushLines(out_);
    std::swap(out_.line, block);
    out_.lineUsed = used;
    flushLines(out_);
    std::swap(out_.line, block);
}

// Hands on the blocks waiting in `record`, whose turn it is; the caller is the
// only one handing on.
void SpanOrder::handOnWaiting(std::unique_lock<std::mutex>& lock, SpanRecord& record) {
    while (!record.waiting.empty()) {
        std::vector<Block> blocks = std::move(record.waiting);
        record.waiting.clear();
        lock.unlock();
        for (Block& block : blocks) handOn(block.bytes, block.used);
        lock.lock();
        for (Block& block : blocks) {
            waitingBytes_ -= block.counted;
            // Every buffer of a block's size is kept for the blocks that go to
            // wait next, so that they do not fault in new memory: no more
            // are ever kept than waited at once.
            if (block.bytes.size() > kShortBlock && block.bytes.size() <= 2 * settings_.blockSize)
                spare_.push_back(std::move(block.bytes));
        }
        if (out_.writeError != 0) stop();
        wake();
    }
}

void SpanOrder::submit(SpanSink& sink, LineBuffer& block, std::size_t used) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (stopped_.load(std::memory_order_relaxed)) return;  // the lines are not wanted
    if (sink.record == records_.begin()) {
        handOnWaiting(lock, *sink.record);
        lock.unlock();
        handOn(block, used);
        if (out_.writeError != 0) stop();
        return;
    }
    Block waiting{LineBuffer(), used};
    if (used <= kShortBlock) {
        waiting.bytes.assign(block.data(), used);
    } else {
        waiting.bytes = std::move(block);
        if (!spare_.empty()) {
            block = std::move(spare_.back());
            spare_.pop_back();
        }
    }
    waiting.counted = waiting.bytes.size();
    waitingBytes_ += waiting.counted;
    sink.record->waiting.push_back(std::move(waiting));
    // Too many wait: the span stops here, and its thread takes up work
    // nearer the head, which others' blocks wait for. The span next to the
    // head may go on to twice the limit: its blocks go out first.
    if (waitsBehind(sink.record) || waitingBytes_ > 2 * kWaitingBytes) sink.tooFarAhead = true;
}

void SpanOrder::complete(Record record, std::exception_ptr error) {
    std::unique_lock<std::mutex> lock(mutex_);
    record->complete = true;
    record->error = error;
    --listing_;
    if (record == records_.begin()) advanceHead(lock);
    wake();
}

// The span was stopped after `stoppedAt`: the rest of it follows it as
// spans of their own, for any thread to claim.
void SpanOrder::cutRest(Record record, const std::string& stoppedAt) {
    std::vector<WordSpan> rest = velkin::libtarvo::spansAfter(record->span, stoppedAt);
    std::lock_guard<std::mutex> lock(mutex_);
    Record after = std::next(record);
    for (WordSpan& span : rest) records_.emplace(after, std::move(span));
}

// Words up to `after` were written already: they are passed over, and from
// the first one past it each goes to the formatter.
struct PastWord {
    ExportOptions& options;
    const std::string& after;
    bool reached = false;
};

int32_t writeWordPast(const uint8_t* word, int32_t length, const velkin::libtarvo::AnnotRecord* annot, void* context) {
    PastWord& past = *static_cast<PastWord*>(context);
    if (!past.reached && length >= 0) {
        std::string_view spelled(reinterpret_cast<const char*>(word), std::size_t(length));
        if (spelled <= std::string_view(past.after)) return 1;
        past.reached = true;
    }
    return writeWordLine(word, length, annot, &past.options);
}

// The span stopped after a word too long to cut after: this thread lists the
// rest of it itself, spelling the words before again without writing them.
void SpanOrder::listRest(SpanSink& sink, ExportOptions& mine, const std::string& stoppedAt) {
    mine.writeError = 0;
    sink.whole = true;
    PastWord past{mine, stoppedAt};
    dict_.forEachWordIn(sink.record->span, writeWordPast, &past, nullptr);
    sink.whole = false;
}

// The head span is complete: its blocks and those of the complete spans
// after it go on, up to a span still being listed, whose thread hands on its
// own blocks at its next block.
void SpanOrder::advanceHead(std::unique_lock<std::mutex>& lock) {
    while (!stopped_.load(std::memory_order_relaxed) && !records_.empty() && records_.front().complete) {
        SpanRecord& front = records_.front();
        handOnWaiting(lock, front);
        if (front.error) {
            firstError_ = front.error;
            stop();
        }
        records_.pop_front();
    }
}

void SpanOrder::work() {
    SpanSink sink(*this);
    ExportOptions mine = settings_;
    mine.writer = &sink;
    std::string stoppedAt;
    Record record;
    while (claim(record)) {
        sink.record = record;
        sink.tooFarAhead = false;
        sink.whole = false;
        std::exception_ptr error;
        try {
            if (dict_.forEachWordIn(record->span, writeWordLine, &mine, &stoppedAt) == 0 &&
                mine.writeError == kCutHere) {
                if (stoppedAt.size() - record->span.prefix.size() <= kDeepestCut) cutRest(record, stoppedAt);
                else listRest(sink, mine, stoppedAt);
            }
        } catch (...) {
            error = std::current_exception();
        }
        // Complete lines only: a line that failed was never counted in.
        try {
            flushLines(mine);
        } catch (...) {
            if (!error) error = std::current_exception();
        }
        mine.writeError = 0;
        complete(record, error);
    }
}

} // namespace

int32_t listSpansInOrder(const Dict& dict, const std::vector<WordSpan>& spans, ExportOptions& options,
                         unsigned threads) {
    SpanOrder order(dict, spans, options);
    std::vector<std::thread> helpers;
    for (unsigned i = 1; i < threads; ++i) {
        try {
            helpers.push_back(velkin::threads::startElsewhere([&order] { order.work(); }));
        } catch (const std::system_error&) {
            break;  // no more threads to be had: fewer list
        }
    }
    order.work();
    for (std::thread& helper : helpers) helper.join();
    return order.finish();
}

} // namespace dictexport
