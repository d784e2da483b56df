// Memory of its own, straight from the system and zero until written. Each
// 4 KiB page first touched costs a fault, which on virtual machines takes
// microseconds: a large block is aligned to and asks for 2 MiB pages, so
// that it faults once every 2 MiB instead.
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>
#include <sys/mman.h>
#include <utility>

namespace velkin::libtarvo {

class PageMemory {
public:
    PageMemory() = default;
    PageMemory(const PageMemory&) = delete;
    PageMemory& operator=(const PageMemory&) = delete;
    PageMemory(PageMemory&& other) noexcept { swap(other); }
    PageMemory& operator=(PageMemory&& other) noexcept {
        PageMemory(std::move(other)).swap(*this);
        return *this;
    }
    ~PageMemory() {
        if (reserved_ != nullptr) munmap(reserved_, reservedSize_);
    }

    // Room for `size` zero bytes in place of any held before; false when
    // there is no memory for them. Blocks of kLargeFrom bytes and more
    // reserve whole large pages and one more, to align the start.
    bool allocate(std::size_t size) {
        PageMemory().swap(*this);
        const bool large = size >= kLargeFrom;
        const std::size_t pages = (size + kLargePage - 1) & ~(kLargePage - 1);
        const std::size_t reserved = large ? pages + kLargePage : size;
        if (reserved == 0) return true;
        void* m = mmap(nullptr, reserved, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (m == MAP_FAILED) return false;
        reserved_ = m;
        reservedSize_ = reserved;
        uintptr_t at = reinterpret_cast<uintptr_t>(m);
        if (large) {
            at = (at + kLargePage - 1) & ~uintptr_t(kLargePage - 1);
            madvise(reinterpret_cast<void*>(at), pages, MADV_HUGEPAGE);
        }
        data_ = reinterpret_cast<uint8_t*>(at);
        size_ = size;
        return true;
    }

    uint8_t* data() const { return data_; }
    std::size_t size() const { return size_; }
    // The whole mapping, alignment included.
    void* reserved() const { return reserved_; }
    std::size_t reservedSize() const { return reservedSize_; }

private:
    static constexpr std::size_t kLargePage = std::size_t(2) << 20;
    static constexpr std::size_t kLargeFrom = std::size_t(8) << 20;

    void swap(PageMemory& other) noexcept {
        std::swap(reserved_, other.reserved_);
        std::swap(reservedSize_, other.reservedSize_);
        std::swap(data_, other.data_);
        std::swap(size_, other.size_);
    }

    void* reserved_ = nullptr;
    std::size_t reservedSize_ = 0;
    uint8_t* data_ = nullptr;
    std::size_t size_ = 0;
};

// A bitmap's 64-bit words, all zero at first; raises std::bad_alloc when
// there is no memory for them.
class ZeroWords {
public:
    ZeroWords() = default;
    explicit ZeroWords(std::size_t count) {
        if (!memory_.allocate(count * sizeof(uint64_t))) throw std::bad_alloc();
        count_ = count;
    }
    uint64_t* data() const { return reinterpret_cast<uint64_t*>(memory_.data()); }
    std::size_t size() const { return count_; }
    uint64_t& operator[](std::size_t i) const { return data()[i]; }
    bool test(uint64_t bit) const { return (data()[bit >> 6] >> (bit & 63)) & 1; }
    void set(uint64_t bit) const { data()[bit >> 6] |= uint64_t(1) << (bit & 63); }

private:
    PageMemory memory_;
    std::size_t count_ = 0;
};

} // namespace velkin::libtarvo
