// dict_bench: looks one word up ITERS times and reports the elapsed time and the rates.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "binding/tarvo.h"
#include "inspect/output.h"
#include "walk_count.h"

namespace {

enum ExitStatus { ExitOk = 0, ExitFailure = 1 };

struct WalkRun {
    int64_t ticks;       // difference of the two clock readings
    int32_t wordLength;
    int32_t result;      // the last walk's result, 0 when there was none
};

// Whole milliseconds elapsed from a fixed point: 1000 ticks per second.
int64_t readClock() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

// SLOW_ACCESS and USE_MMAP are on when they start with "1", "Y" or "y"; a missing one is off.
bool switchOn(int argc, char** argv, int position) {
    if (position >= argc) return false;
    char first = argv[position][0];
    return first == '1' || first == 'Y' || first == 'y';
}

TarvoHandle openDict(const char* path, bool slow, bool useMmap) {
    if (useMmap) {
        std::printf("Use mmap\n");
        return tarvo_mmap(path, slow ? 1 : 0, nullptr);
    }
    return tarvo_open(path, slow ? 1 : 0, nullptr);
}

// Only the length, the root and the walks lie between the two clock readings. Each walk is a
// call into the shared library, which the compiler cannot see into, so none is merged away.
WalkRun timeWalks(TarvoHandle handle, const char* word, uint32_t count) {
    int32_t scratch[5];  // the 20 bytes the library may write during a walk
    int64_t start = readClock();
    int32_t length = static_cast<int32_t>(std::strlen(word));
    uint32_t root = tarvo_get_root(handle);
    int32_t result = dictbench::repeatWalk(
        count, [&] { return tarvo_walk(handle, word, length, root, scratch); });
    int64_t end = readClock();
    return {end - start, length, result};
}

// A run under one tick gives 0 seconds, and the rates then print as infinity, or as
// not-a-number when their multiplier is 0.
void printReport(const WalkRun& run, uint32_t count) {
    double seconds = static_cast<double>(run.ticks) * static_cast<double>(0.001f);
    double perSecond = static_cast<double>(1.0f) / seconds;
    // 64 bits: the bytes looked up pass 4 GiB long before the count runs out.
    uint64_t mebibytes = (static_cast<uint64_t>(run.wordLength) * count) >> 20;
    std::printf("time: %0.2f; words per sec: %0.2f; Mb per sec: %0.2f; result: %d\n", seconds,
                static_cast<double>(count) * perSecond,
                static_cast<double>(mebibytes) * perSecond, run.result);
}

} // namespace

int main(int argc, char** argv) {
    inspect::reportBrokenPipes();
    if (argc < 4) {
        std::fprintf(stderr,
                     "Usage %s DICT_FILE WORD ITERS [SLOW_ACCESS - Y/N] [USE_MMAP - Y/N]\n",
                     argv[0]);
        return ExitFailure;
    }
    uint32_t count = 0;
    if (dictbench::scanCount(argv[3], count) != dictbench::CountScan::Ok) {
        std::fprintf(stderr, "%s: ITERS must be a number from 0 to 4294967295, not \"%s\"\n",
                     argv[0], argv[3]);
        return ExitFailure;
    }
    bool slow = switchOn(argc, argv, 4);
    bool useMmap = switchOn(argc, argv, 5);

    TarvoHandle handle = openDict(argv[1], slow, useMmap);
    if (!handle) {
        std::fflush(stdout);  // "Use mmap" stays ahead of the complaint
        std::fprintf(stderr, "Can`t open %s file", argv[1]);
        return ExitFailure;
    }
    if (slow) std::printf("Use slow access\n");

    WalkRun run = timeWalks(handle, argv[2], count);
    printReport(run, count);
    tarvo_close(handle);
    return inspect::finishOutput() ? ExitOk : ExitFailure;
}
