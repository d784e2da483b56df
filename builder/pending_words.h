// Words that came out of order: held in memory up to a limit, then sorted and
// written to a temporary file as a run; at the end every run is merged.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace dictbuild {

// One held word and where it came from.
struct HeldWord {
    std::string_view word;
    uint32_t annot;
    uint64_t line;
};

class RunCursor;
class MemoryCursor;

// Every run merged: words in byte order, equal words in input order.
class RunMerge {
public:
    explicit RunMerge(std::vector<std::unique_ptr<RunCursor>> runs);
    ~RunMerge();
    RunMerge(RunMerge&&) noexcept;
    RunMerge& operator=(RunMerge&&) noexcept;

    // The smallest word left, or null at the end; valid until pop().
    const HeldWord* top() const;
    void pop();

private:
    std::vector<std::unique_ptr<RunCursor>> runs_;
    std::vector<RunCursor*> heap_;
};

class PendingWords {
public:
    // Holds at most about `memoryLimit` bytes (words and their records, and
    // the buffers that write and merge runs) before writing a run into
    // `tempDir`.
    PendingWords(uint64_t memoryLimit, std::string tempDir);
    ~PendingWords();
    PendingWords(const PendingWords&) = delete;
    PendingWords& operator=(const PendingWords&) = delete;

    // Lines must grow from one call to the next: twins are kept in their order.
    void add(std::string_view word, uint32_t annot, uint64_t line);
    bool empty() const { return entries_.empty() && runs_.empty(); }
    // Runs written so far, merged ones counted once each.
    size_t runCount() const { return written_; }
    // Runs open now: at most kFanIn a level.
    size_t openRuns() const { return runs_.size(); }

    // This many runs of one level are merged into one of the next, so that
    // open files stay few (kFanIn a level) however small the limit.
    static constexpr size_t kFanIn = 16;

    // Sorts what is held and merges it with the runs. Adding afterwards is
    // not allowed.
    RunMerge merge();

private:
    friend class MemoryCursor;
    struct Entry {
        uint64_t offset;
        uint32_t length;
        uint32_t annot;
        uint64_t line;
    };
    std::string_view word(const Entry& e) const { return std::string_view(text_.data() + e.offset, e.length); }
    struct Run {
        int fd;  // unnamed: removed by the system when closed
        unsigned level;
    };
    bool makeRoom(size_t length);
    void sortHeld();
    void writeRun();
    void mergeLastRuns();

    size_t block_;    // each run file's buffer
    uint64_t limit_;  // for the held words: the memory limit less the merges' buffers
    std::string tempDir_;
    std::vector<char> text_;  // the held words, back to back
    std::vector<Entry> entries_;
    std::vector<Run> runs_;  // in input order, levels never increasing
    size_t written_ = 0;
};

// Where temporary runs go: `chosen` when given, else $TMPDIR, else /tmp.
std::string tempDirectory(const std::string& chosen);

} // namespace dictbuild
