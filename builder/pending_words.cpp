#include "pending_words.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <stdexcept>
#include <unistd.h>

namespace dictbuild {

namespace {

// The buffers of a run's file: at most kBlock, and at least kLeastBlock
// where the limit is small, since the merges' buffers are held within it.
constexpr size_t kBlock = 1 << 20;
constexpr size_t kLeastBlock = 16 * 1024;

// The held words' text starts this large and doubles, as their records do,
// so that the two share the limit in whatever proportion the words need.
constexpr size_t kFirstText = 64 * 1024;

// A run record: word length, annotation number, line number, then the word.
constexpr size_t kRecordHead = 16;

void putU32(char* at, uint32_t v) { std::memcpy(at, &v, 4); }
void putU64(char* at, uint64_t v) { std::memcpy(at, &v, 8); }
uint32_t getU32(const char* at) {
    uint32_t v;
    std::memcpy(&v, at, 4);
    return v;
}
uint64_t getU64(const char* at) {
    uint64_t v;
    std::memcpy(&v, at, 8);
    return v;
}

[[noreturn]] void tempFailure(const std::string& dir, int error) {
    throw std::runtime_error("cannot write a temporary file in '" + dir + "': " + std::strerror(error));
}

// A file in `dir` that has no name from the start, so that nothing is left
// behind however the process ends.
int createUnnamed(const std::string& dir) {
    int fd = ::open(dir.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd >= 0) return fd;
    if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) tempFailure(dir, errno);
    std::string name = dir + "/dict_build-run-XXXXXX";
    fd = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd < 0) tempFailure(dir, errno);
    ::unlink(name.c_str());
    return fd;
}

// Writes run records to a temporary file through a buffer.
class RunWriter {
public:
    RunWriter(int fd, const std::string& dir, size_t block) : fd_(fd), dir_(dir), block_(block) { out_.reserve(block); }
    void put(std::string_view word, uint32_t annot, uint64_t line) {
        char head[kRecordHead];
        putU32(head, uint32_t(word.size()));
        putU32(head + 4, annot);
        putU64(head + 8, line);
        out_.insert(out_.end(), head, head + kRecordHead);
        out_.insert(out_.end(), word.begin(), word.end());
        if (out_.size() >= block_) flush();
    }
    void flush() {
        const char* data = out_.data();
        size_t size = out_.size();
        while (size > 0) {
            ssize_t n = ::write(fd_, data, size);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) tempFailure(dir_, errno);
            data += n;
            size -= size_t(n);
        }
        out_.clear();
    }

private:
    int fd_;
    const std::string& dir_;
    size_t block_;
    std::vector<char> out_;
};

} // namespace

// One sorted run, read from its start.
class RunCursor {
public:
    virtual ~RunCursor() = default;
    bool valid() const { return valid_; }
    const HeldWord& current() const { return current_; }
    size_t index() const { return index_; }
    virtual void advance() = 0;

protected:
    explicit RunCursor(size_t index) : index_(index) {}
    HeldWord current_{};
    bool valid_ = false;
    size_t index_;  // runs are numbered in input order; ties go to the earlier
};

namespace {

class FileCursor : public RunCursor {
public:
    FileCursor(size_t index, int fd, size_t block) : RunCursor(index), fd_(fd), buffer_(block) {
        if (::lseek(fd_, 0, SEEK_SET) != 0) fail(errno);
        advance();
    }
    void advance() override {
        valid_ = false;
        begin_ += consumed_;
        consumed_ = 0;
        if (!have(kRecordHead)) return;
        const char* head = buffer_.data() + begin_;
        uint32_t length = getU32(head);
        current_.annot = getU32(head + 4);
        current_.line = getU64(head + 8);
        if (!have(kRecordHead + length)) fail(0);
        current_.word = std::string_view(buffer_.data() + begin_ + kRecordHead, length);
        consumed_ = kRecordHead + length;
        valid_ = true;
    }

private:
    [[noreturn]] void fail(int error) {
        throw std::runtime_error(std::string("cannot read back a temporary file: ") +
                                 (error ? std::strerror(error) : "it ends early"));
    }
    // True when `n` bytes from begin_ are in the buffer; false at a clean end.
    bool have(size_t n) {
        if (end_ - begin_ >= n) return true;
        std::memmove(buffer_.data(), buffer_.data() + begin_, end_ - begin_);
        end_ -= begin_;
        begin_ = 0;
        if (buffer_.size() < n) buffer_.resize(std::max(n, buffer_.size() * 2));
        while (end_ < n) {
            ssize_t got = ::read(fd_, buffer_.data() + end_, buffer_.size() - end_);
            if (got < 0 && errno == EINTR) continue;
            if (got < 0) fail(errno);
            if (got == 0) {
                if (end_ == 0) return false;
                fail(0);
            }
            end_ += size_t(got);
        }
        return true;
    }
    int fd_;
    std::vector<char> buffer_;
    size_t begin_ = 0, end_ = 0, consumed_ = 0;
};

// Heap order: the smallest word on top, the earlier run first among equals.
bool after(const RunCursor* a, const RunCursor* b) {
    int c = a->current().word.compare(b->current().word);
    return c != 0 ? c > 0 : a->index() > b->index();
}

} // namespace

// The words still in memory, already sorted.
class MemoryCursor : public RunCursor {
public:
    MemoryCursor(size_t index, const PendingWords& held) : RunCursor(index), held_(held) { advance(); }
    void advance() override {
        valid_ = next_ < held_.entries_.size();
        if (!valid_) return;
        const PendingWords::Entry& e = held_.entries_[next_++];
        current_ = {held_.word(e), e.annot, e.line};
    }

private:
    const PendingWords& held_;
    size_t next_ = 0;
};

RunMerge::RunMerge(std::vector<std::unique_ptr<RunCursor>> runs) : runs_(std::move(runs)) {
    for (auto& r : runs_)
        if (r->valid()) heap_.push_back(r.get());
    std::make_heap(heap_.begin(), heap_.end(), after);
}
RunMerge::~RunMerge() = default;
RunMerge::RunMerge(RunMerge&&) noexcept = default;
RunMerge& RunMerge::operator=(RunMerge&&) noexcept = default;

const HeldWord* RunMerge::top() const { return heap_.empty() ? nullptr : &heap_.front()->current(); }

void RunMerge::pop() {
    std::pop_heap(heap_.begin(), heap_.end(), after);
    RunCursor* run = heap_.back();
    run->advance();
    if (run->valid()) std::push_heap(heap_.begin(), heap_.end(), after);
    else heap_.pop_back();
}

std::string tempDirectory(const std::string& chosen) {
    if (!chosen.empty()) return chosen;
    const char* env = std::getenv("TMPDIR");
    return env && *env ? env : "/tmp";
}

// A merge of kFanIn runs reads each through a buffer and writes through one:
// their share of the limit is taken off what the held words may use.
PendingWords::PendingWords(uint64_t memoryLimit, std::string tempDir)
    : block_(size_t(std::clamp<uint64_t>(memoryLimit / (4 * (kFanIn + 1)), kLeastBlock, kBlock))),
      limit_(memoryLimit > (kFanIn + 1) * block_ ? memoryLimit - (kFanIn + 1) * block_ : 0),
      tempDir_(std::move(tempDir)) {}

PendingWords::~PendingWords() {
    for (const Run& r : runs_) ::close(r.fd);
}

// Grows the buffers for one more word within the limit; false when that
// would pass it and the held words must go to a run first. A lone word
// larger than the limit is still taken.
bool PendingWords::makeRoom(size_t length) {
    const bool alone = entries_.empty();
    if (entries_.size() == entries_.capacity()) {
        uint64_t other = text_.capacity();
        uint64_t room = limit_ > other ? (limit_ - other) / sizeof(Entry) : 0;
        uint64_t wanted = std::min<uint64_t>(std::max<size_t>(1024, entries_.capacity() * 2), room);
        if (wanted <= entries_.size()) {
            if (!alone) return false;
            wanted = entries_.size() + 1;
        }
        entries_.reserve(size_t(wanted));
    }
    if (text_.size() + length > text_.capacity()) {
        uint64_t other = entries_.capacity() * sizeof(Entry);
        uint64_t room = limit_ > other ? limit_ - other : 0;
        uint64_t needed = text_.size() + length;
        uint64_t wanted = std::min<uint64_t>(std::max<uint64_t>(needed, std::max<size_t>(kFirstText, text_.capacity() * 2)), room);
        if (wanted < needed) {
            if (!alone) return false;
            wanted = needed;
        }
        text_.reserve(size_t(wanted));
    }
    return true;
}

void PendingWords::add(std::string_view w, uint32_t annot, uint64_t line) {
    if (!makeRoom(w.size())) {
        writeRun();
        makeRoom(w.size());
    }
    entries_.push_back({text_.size(), uint32_t(w.size()), annot, line});
    text_.insert(text_.end(), w.begin(), w.end());
}

// In byte order; equal words keep their input order, which their line
// numbers follow (offsets do not: empty words share theirs).
void PendingWords::sortHeld() {
    std::sort(entries_.begin(), entries_.end(), [this](const Entry& a, const Entry& b) {
        int c = word(a).compare(word(b));
        return c != 0 ? c < 0 : a.line < b.line;
    });
}

void PendingWords::writeRun() {
    sortHeld();
    int fd = createUnnamed(tempDir_);
    runs_.push_back({fd, 0});
    RunWriter out(fd, tempDir_, block_);
    for (const Entry& e : entries_) out.put(word(e), e.annot, e.line);
    out.flush();
    entries_.clear();
    text_.clear();
    ++written_;
    while (runs_.size() >= kFanIn && runs_[runs_.size() - kFanIn].level == runs_.back().level) mergeLastRuns();
}

// The last kFanIn runs, all of one level, become one run of the next. They
// are the latest in input order, so the merge keeps twins in that order.
void PendingWords::mergeLastRuns() {
    const size_t first = runs_.size() - kFanIn;
    const unsigned level = runs_.back().level + 1;
    std::vector<std::unique_ptr<RunCursor>> cursors;
    for (size_t i = first; i < runs_.size(); ++i)
        cursors.push_back(std::make_unique<FileCursor>(i, runs_[i].fd, block_));
    int fd = createUnnamed(tempDir_);
    {
        RunMerge merge(std::move(cursors));
        RunWriter out(fd, tempDir_, block_);
        for (const HeldWord* h; (h = merge.top()); merge.pop()) out.put(h->word, h->annot, h->line);
        out.flush();
    }
    for (size_t i = first; i < runs_.size(); ++i) ::close(runs_[i].fd);
    runs_.resize(first);
    runs_.push_back({fd, level});
}

RunMerge PendingWords::merge() {
    sortHeld();
    std::vector<std::unique_ptr<RunCursor>> runs;
    // The last merge may read more runs than kFanIn: they share the same room.
    const size_t room = (kFanIn + 1) * block_;
    const size_t block = runs_.empty() ? block_ : std::clamp(room / runs_.size(), kLeastBlock, block_);
    for (size_t i = 0; i < runs_.size(); ++i) runs.push_back(std::make_unique<FileCursor>(i, runs_[i].fd, block));
    runs.push_back(std::make_unique<MemoryCursor>(runs_.size(), *this));
    return RunMerge(std::move(runs));
}

} // namespace dictbuild
