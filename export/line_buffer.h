// The bytes of complete lines on their way out. The buffer grows without
// clearing what it adds, so that only the bytes written into it are touched:
// each fresh page of memory costs a fault when first touched.
#pragma once

#include <cstddef>
#include <cstring>
#include <memory>
#include <utility>

namespace dictexport {

class LineBuffer {
public:
    LineBuffer() = default;
    LineBuffer(const LineBuffer& other) { assign(other.data(), other.size()); }
    LineBuffer& operator=(const LineBuffer& other) {
        if (this != &other) assign(other.data(), other.size());
        return *this;
    }
    LineBuffer(LineBuffer&& other) noexcept
        : bytes_(std::move(other.bytes_)), size_(std::exchange(other.size_, 0)) {}
    LineBuffer& operator=(LineBuffer&& other) noexcept {
        bytes_ = std::move(other.bytes_);
        size_ = std::exchange(other.size_, 0);
        return *this;
    }

    char* data() const { return bytes_.get(); }
    // The bytes it has room for.
    std::size_t size() const { return size_; }

    // Room for `size` bytes at least; the first `keep` bytes stay.
    void grow(std::size_t size, std::size_t keep) {
        if (size <= size_) return;
        auto bytes = std::make_unique_for_overwrite<char[]>(size);
        if (keep != 0) std::memcpy(bytes.get(), bytes_.get(), keep);
        bytes_ = std::move(bytes);
        size_ = size;
    }

    // Exactly `count` bytes, a copy of those at `from`.
    void assign(const char* from, std::size_t count) {
        if (count == 0) return release();
        bytes_ = std::make_unique_for_overwrite<char[]>(count);
        std::memcpy(bytes_.get(), from, count);
        size_ = count;
    }

    void release() {
        bytes_.reset();
        size_ = 0;
    }

private:
    std::unique_ptr<char[]> bytes_;
    std::size_t size_ = 0;
};

} // namespace dictexport
