// dict_bench's iteration count: scanning the ITERS argument and the timed walk loop.
#pragma once

#include <cctype>
#include <cstdint>

namespace dictbench {

enum class CountScan { Ok, OutOfRange };

// Reads ITERS as an unsigned decimal number: leading white space skipped, one sign accepted,
// reading stops at the first non-digit; text without a number gives 0. A negative value or
// one beyond 4294967295 is refused rather than wrapped into some other count.
inline CountScan scanCount(const char* text, uint32_t& count) {
    count = 0;
    const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
    while (std::isspace(*p)) ++p;
    bool negative = *p == '-';
    if (*p == '-' || *p == '+') ++p;
    uint64_t value = 0;
    for (; std::isdigit(*p); ++p) {
        value = value * 10 + (*p - '0');
        if (value > UINT32_MAX) return CountScan::OutOfRange;
    }
    if (negative && value != 0) return CountScan::OutOfRange;
    count = static_cast<uint32_t>(value);
    return CountScan::Ok;
}

// Calls `walk` exactly `count` times and gives the last call's result, 0 for no call. The
// counter is unsigned so that counts of 2^31 and more are walked too.
template <class Walk>
int32_t repeatWalk(uint32_t count, Walk walk) {
    int32_t result = 0;
    for (uint32_t i = 0; i < count; ++i) result = walk();
    return result;
}

} // namespace dictbench
