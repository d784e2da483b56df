#include "span_listing.h"

#include "block_sink.h"
#include "line_formatter.h"

#include <cerrno>
#include <condition_variable>
#include <exception>
#include <list>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <utility>

namespace dictexport {

namespace {

using velkin::libtarvo::Dict;
using velkin::libtarvo::WordSpan;

// Blocks of spans listed ahead wait in memory up to this many bytes; then
// their thread waits until its span's turn comes.
constexpr std::size_t kWaitingBytes = 4 << 20;

// A short last block of a span waits as a copy of its lines rather than in a
// buffer that a whole block fills.
constexpr std::size_t kCopiedTail = 16 * 1024;

// What the sink answers a block with when another thread has no span left to
// list: the enumeration stops after the word just written, and the rest of
// its span is cut into spans that both can take.
constexpr int kCutHere = -1;

struct Block {
    std::string bytes;
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

// The spans' order and their blocks. One thread at a time hands blocks on:
// the one listing the first span (the head), or the one that completed the
// span before it, which then hands on the spans completed since.
class SpanOrder {
public:
    // Made on the calling thread before any other lists: each thread's
    // formatter starts from a copy of `out`'s settings.
    SpanOrder(const Dict& dict, const std::vector<WordSpan>& spans, ExportOptions& out) : dict_(dict), out_(out), settings_(out) {
        settings_.line = std::string();
        settings_.lineUsed = 0;
        settings_.writeError = 0;
        settings_.writer = nullptr;
        for (const WordSpan& span : spans) records_.emplace_back(span);
    }

    // Lists spans until none is left or the listing has stopped.
    void work();

    int32_t finish() {
        if (firstError_) std::rethrow_exception(firstError_);
        return out_.writeError == 0 ? 1 : 0;
    }

    void submit(Record record, std::string& block, std::size_t used);
    int error();

private:
    bool claim(Record& record);
    void complete(Record record, std::exception_ptr error);
    void cutRest(Record record, const std::string& stoppedAt);
    void handOnWaiting(std::unique_lock<std::mutex>& lock, SpanRecord& record);
    void handOn(std::string& block, std::size_t used);
    void advanceHead(std::unique_lock<std::mutex>& lock);

    const Dict& dict_;
    ExportOptions& out_;  // its stream or writer takes the blocks; used by the one handing on
    ExportOptions settings_;
    std::mutex mutex_;
    std::condition_variable changed_;  // the head moved, a span was completed or cut
    std::list<SpanRecord> records_;
    std::size_t listing_ = 0;          // spans claimed and not complete
    unsigned idle_ = 0;                // threads waiting for a span to claim
    std::size_t waitingBytes_ = 0;
    std::vector<std::string> spare_;   // buffers handed on, for reuse
    bool stopped_ = false;             // a write failed, or a span raised an error
    std::exception_ptr firstError_;
};

// The formatter's writer while a thread lists a span.
class SpanSink final : public BlockSink {
public:
    explicit SpanSink(SpanOrder& order) : order_(order) {}
    void submit(std::string& block, std::size_t used) override { order_.submit(record, block, used); }
    int error() override { return order_.error(); }

    Record record;

private:
    SpanOrder& order_;
};

// The first span not claimed, in order, so that the head is always being
// listed or complete; waits while others list and may cut theirs.
bool SpanOrder::claim(Record& record) {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        if (stopped_) return false;
        for (Record r = records_.begin(); r != records_.end(); ++r) {
            if (r->claimed) continue;
            r->claimed = true;
            ++listing_;
            record = r;
            return true;
        }
        if (listing_ == 0) return false;
        ++idle_;
        changed_.wait(lock);
        --idle_;
    }
}

void SpanOrder::handOn(std::string& block, std::size_t used) {
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
            if (spare_.size() < 4 && block.bytes.capacity() > kCopiedTail) spare_.push_back(std::move(block.bytes));
        }
        if (out_.writeError != 0) stopped_ = true;
    }
    changed_.notify_all();
}

void SpanOrder::submit(Record record, std::string& block, std::size_t used) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (stopped_) return;  // the lines are not wanted
    if (record == records_.begin()) {
        handOnWaiting(lock, *record);
        lock.unlock();
        handOn(block, used);
        if (out_.writeError != 0) {
            lock.lock();
            stopped_ = true;
        }
        return;
    }
    Block waiting{std::string(), used};
    if (used <= kCopiedTail) {
        waiting.bytes.assign(block.data(), used);
    } else {
        waiting.bytes = std::move(block);
        block.clear();
        if (!spare_.empty()) {
            block = std::move(spare_.back());
            spare_.pop_back();
        }
    }
    waiting.counted = waiting.bytes.capacity();
    waitingBytes_ += waiting.counted;
    record->waiting.push_back(std::move(waiting));
    changed_.wait(lock, [&] { return record == records_.begin() || waitingBytes_ <= kWaitingBytes || stopped_; });
    if (record == records_.begin() && !stopped_) handOnWaiting(lock, *record);
}

int SpanOrder::error() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (stopped_) return ECANCELED;
    return idle_ > 0 ? kCutHere : 0;
}

void SpanOrder::complete(Record record, std::exception_ptr error) {
    std::unique_lock<std::mutex> lock(mutex_);
    record->complete = true;
    record->error = error;
    --listing_;
    if (record == records_.begin()) advanceHead(lock);
    changed_.notify_all();
}

// The span was stopped after `stoppedAt`: the rest of it follows it as
// spans of their own, for any thread to claim.
void SpanOrder::cutRest(Record record, const std::string& stoppedAt) {
    std::vector<WordSpan> rest = velkin::libtarvo::spansAfter(record->span, stoppedAt);
    std::lock_guard<std::mutex> lock(mutex_);
    Record after = std::next(record);
    for (WordSpan& span : rest) records_.emplace(after, std::move(span));
}

// The head span is complete: its blocks and those of the complete spans
// after it go on, up to a span still being listed, whose thread hands on its
// own blocks once it finds its turn has come.
void SpanOrder::advanceHead(std::unique_lock<std::mutex>& lock) {
    while (!stopped_ && !records_.empty() && records_.front().complete) {
        SpanRecord& front = records_.front();
        handOnWaiting(lock, front);
        if (front.error) {
            firstError_ = front.error;
            stopped_ = true;
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
        std::exception_ptr error;
        try {
            if (dict_.forEachWordIn(record->span, writeWordLine, &mine, &stoppedAt) == 0 &&
                mine.writeError == kCutHere)
                cutRest(record, stoppedAt);
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
            helpers.emplace_back([&order] { order.work(); });
        } catch (const std::system_error&) {
            break;  // no more threads to be had: fewer list
        }
    }
    order.work();
    for (std::thread& helper : helpers) helper.join();
    return order.finish();
}

} // namespace dictexport
