// Hands back pages of a file mapping that the checks on open have read, so
// that checking a large file does not keep all of it resident beside the
// checks' own bitmaps. A later read faults the pages in again from the page
// cache. Only a mapping of a file may drop its pages: memory of our own
// would come back as zeros.
#pragma once

#include <algorithm>
#include <cstdint>
#include <sys/mman.h>
#include <unistd.h>

namespace velkin::libtarvo {

// What the bytes of a dictionary are: memory of the caller's, whose pages
// stay, or a mapping of a file, whose pages the checks may hand back.
enum class Backing { Memory, FileMapping };

// Only the file's first part is handed back: as many bytes as the bitmaps
// may take (a quarter of the file) and four steps more. The pages kept and
// the bitmaps then stay within the file's size together, and a listing
// faults in again only that part. Each drop costs the process's other
// threads a flush of their address translations, hence steps of a
// thirty-second of the file.
class ReadBehind {
public:
    // A pass reading forward from `from` in the file of `size` bytes at
    // `file`; does nothing unless `on`.
    ReadBehind(bool on, const uint8_t* file, uint64_t size, const uint8_t* from)
        : step_(stepFor(size)), end_(firstPartEnd(file, size)), dropped_(pageOf(from)),
          next_(on && dropped_ < end_ ? dropped_ + step_ : UINTPTR_MAX) {}

    // Every byte before `p` has been read.
    void passed(const uint8_t* p) {
        if (reinterpret_cast<uintptr_t>(p) >= next_) [[unlikely]] drop(p);
    }

    // The pass is over, at `p`.
    void done(const uint8_t* p) {
        if (next_ != UINTPTR_MAX) drop(p);
    }

    // Once every pass is over: a fault of one pass may have mapped pages that
    // another had handed back (the kernel maps a large folio of the page
    // cache at once), so the whole first part goes back again.
    static void handBackFirstPart(const uint8_t* file, uint64_t size) {
        const uintptr_t first = pageOf(file), end = firstPartEnd(file, size);
        if (end > first) madvise(reinterpret_cast<void*>(first), end - first, MADV_DONTNEED);
    }

private:
    static constexpr uint64_t kMinStep = uint64_t(256) << 10;
    static constexpr uint64_t kMaxStep = uint64_t(16) << 20;

    static uintptr_t pageOf(const uint8_t* p) {
        return reinterpret_cast<uintptr_t>(p) & ~(uintptr_t(sysconf(_SC_PAGESIZE)) - 1);
    }
    static uint64_t stepFor(uint64_t size) { return std::clamp<uint64_t>(size / 32, kMinStep, kMaxStep); }
    // No page from here on is handed back.
    static uintptr_t firstPartEnd(const uint8_t* file, uint64_t size) {
        return pageOf(file + std::min<uint64_t>(size, size / 4 + 4 * stepFor(size)));
    }

    // The whole pages from the last drop up to the one that holds `p`.
    void drop(const uint8_t* p) {
        const uintptr_t last = std::min(pageOf(p), end_);
        if (last > dropped_) madvise(reinterpret_cast<void*>(dropped_), last - dropped_, MADV_DONTNEED);
        dropped_ = last;
        next_ = last < end_ ? last + step_ : UINTPTR_MAX;
    }

    uintptr_t step_;
    uintptr_t end_;      // where the first part ends
    uintptr_t dropped_;  // the pages before it are handed back
    uintptr_t next_;     // the next drop once the pass gets here
};

} // namespace velkin::libtarvo
