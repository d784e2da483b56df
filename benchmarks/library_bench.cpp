// Opening and enumeration speed of the library.
// Usage: library_bench DICT [ROUNDS]
// Prints the best of ROUNDS (default 5) for opening (map + every check) and
// for listing every word through forEachWord with an empty callback.
#include "tarvo.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>

namespace lt = velkin::libtarvo;

namespace {

int32_t countWord(const uint8_t*, int32_t, const lt::AnnotRecord*, void* context) {
    ++*static_cast<uint64_t*>(context);
    return 1;
}

double seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "Usage: %s DICT [ROUNDS]\n", argv[0]);
        return 1;
    }
    int rounds = argc > 2 ? std::atoi(argv[2]) : 5;
    double bestOpen = 1e9, bestList = 1e9;
    uint64_t words = 0;
    for (int r = 0; r < rounds; ++r) {
        auto started = std::chrono::steady_clock::now();
        lt::FileSource source;
        source.open(argv[1]);
        auto dict = lt::Dict::create(source, false);
        bestOpen = std::min(bestOpen, seconds(started));
        words = 0;
        started = std::chrono::steady_clock::now();
        dict->forEachWord(dict->root, countWord, &words);
        bestList = std::min(bestList, seconds(started));
    }
    lt::FileSource source;
    source.open(argv[1]);
    std::printf("%s: %llu bytes, %llu words; open %.4f s; enumerate %.4f s = %.1f million words/s\n", argv[1],
                (unsigned long long)source.size(), (unsigned long long)words, bestOpen, bestList,
                double(words) / bestList / 1e6);
    return 0;
}
