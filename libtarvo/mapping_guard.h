// Under AddressSanitizer the bytes of a mapping outside the file it holds
// are marked unaddressable, so that a read past the file's end is reported
// instead of returning the page's zeros. Elsewhere these do nothing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <sanitizer/asan_interface.h>
#include <unistd.h>

#if defined(__SANITIZE_ADDRESS__)
#define TARVO_GUARD_MAPPINGS 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TARVO_GUARD_MAPPINGS 1
#endif
#endif

namespace velkin::libtarvo {

// The end of a mapping of `length` bytes from `start`: whole pages.
inline uintptr_t mappingEnd(const void* start, std::size_t length) {
    const uintptr_t page = uintptr_t(sysconf(_SC_PAGESIZE));
    return (reinterpret_cast<uintptr_t>(start) + length + page - 1) & ~(page - 1);
}

// The mapping of `length` bytes from `start` holds the file's `size` bytes
// from `data`.
inline void guardOutsideFile([[maybe_unused]] void* start, [[maybe_unused]] std::size_t length,
                             [[maybe_unused]] const uint8_t* data, [[maybe_unused]] std::size_t size) {
#if defined(TARVO_GUARD_MAPPINGS)
    const uintptr_t first = reinterpret_cast<uintptr_t>(data);
    const uintptr_t last = first + size;
    ASAN_POISON_MEMORY_REGION(start, first - reinterpret_cast<uintptr_t>(start));
    ASAN_POISON_MEMORY_REGION(reinterpret_cast<void*>(last), mappingEnd(start, length) - last);
#endif
}

// Before the mapping is given back: its addresses may hold other memory next.
inline void releaseGuard([[maybe_unused]] void* start, [[maybe_unused]] std::size_t length) {
#if defined(TARVO_GUARD_MAPPINGS)
    ASAN_UNPOISON_MEMORY_REGION(start, mappingEnd(start, length) - reinterpret_cast<uintptr_t>(start));
#endif
}

} // namespace velkin::libtarvo
