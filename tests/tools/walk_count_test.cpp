// dict_bench's count scanning and walk loop, including counts too long to run end to end.
#include <gtest/gtest.h>

#include <cstdint>

#include "bench/walk_count.h"

namespace {

using dictbench::CountScan;
using dictbench::repeatWalk;
using dictbench::scanCount;

TEST(ScanCount, AcceptsUnsignedDecimalsUpTo32Bits) {
    const struct { const char* text; uint32_t count; } cases[] = {
        {"0", 0}, {"abc", 0}, {"", 0}, {"12abc", 12}, {" 7", 7}, {"\n\t\v\f\r 7", 7},
        {"+5", 5}, {"-0", 0}, {"+", 0}, {"-", 0}, {"- 5", 0}, {"+-5", 0}, {"7 8", 7},
        {"000000000000004", 4}, {"2147483648", 2147483648u}, {"4294967295", 4294967295u},
        {"4294967295abc", 4294967295u}};
    for (const auto& c : cases) {
        uint32_t count = 99;
        EXPECT_EQ(scanCount(c.text, count), CountScan::Ok) << '"' << c.text << '"';
        EXPECT_EQ(count, c.count) << '"' << c.text << '"';
    }
}

TEST(ScanCount, RefusesNegativeAndOver32Bits) {
    for (const char* text : {"-1", " -7", "-4294967295", "-99999999999", "4294967296",
                             "99999999999", "18446744073709551617", "4294967296abc"}) {
        uint32_t count = 99;
        EXPECT_EQ(scanCount(text, count), CountScan::OutOfRange) << '"' << text << '"';
    }
}

TEST(RepeatWalk, CallsExactlyCountTimesAndGivesTheLastResult) {
    const uint32_t counts[] = {0, 1, 3, 2147483648u};
    for (uint32_t count : counts) {
        uint64_t calls = 0;
        int32_t result = repeatWalk(count, [&] {
            ++calls;
            return 7;
        });
        EXPECT_EQ(calls, count);
        EXPECT_EQ(result, count == 0 ? 0 : 7) << count;
    }
}

TEST(RepeatWalk, ResultIsTheLastCalls) {
    int32_t calls = 0;
    EXPECT_EQ(repeatWalk(3, [&] { return ++calls * 10; }), 30);
}

} // namespace
