// Shared by the lookup benchmark's peer rows (lookup_bench.cpp) and its rows
// for our library (lookup_tarvo.cpp, or lookup_tarvo_absent.cpp without it).
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace lookup_bench {

// What every structure is asked: one hot word many times over, and a fixed
// random sample of present words in a fixed random order.
struct Workload {
    std::string hot;
    std::vector<std::string> sample;
    int64_t hotRepeats = 0;
    int samplePasses = 0;
    int rounds = 0; // the best round counts
};

struct Row {
    std::string name;
    double readySeconds = 0; // peers: built from the keys in memory; ours: opened
    double sizeMB = -1;       // -1: not known
    double hotNs = 0;
    double sampleNs = 0;
    int64_t missed = 0; // lookups that said "absent": must be 0
};

// Keeps the compiler from hoisting a lookup of an unchanged word out of a
// loop or dropping a result nobody reads.
template <class T>
inline void keep(const T& value)
{
    asm volatile("" : : "r,m"(value) : "memory");
}

inline double secondsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Times `lookup(word)` (an int64_t, negative for an absent word) on the
// workload and fills the row's timing fields.
template <class Lookup>
void measure(const Workload& work, Lookup lookup, Row& row)
{
    double bestHot = 1e300, bestSample = 1e300;
    int64_t missed = 0;
    for (int round = 0; round < work.rounds; ++round) {
        missed = 0;
        auto start = std::chrono::steady_clock::now();
        for (int64_t i = 0; i < work.hotRepeats; ++i) {
            const std::string& word = work.hot;
            keep(word.data());
            int64_t result = lookup(word);
            keep(result);
            missed += result < 0;
        }
        double hot = secondsSince(start);
        start = std::chrono::steady_clock::now();
        for (int pass = 0; pass < work.samplePasses; ++pass) {
            for (const std::string& word : work.sample) {
                int64_t result = lookup(word);
                keep(result);
                missed += result < 0;
            }
        }
        double sample = secondsSince(start);
        bestHot = std::min(bestHot, hot);
        bestSample = std::min(bestSample, sample);
    }
    row.hotNs = bestHot * 1e9 / static_cast<double>(work.hotRepeats);
    row.sampleNs = bestSample * 1e9 /
                   (static_cast<double>(work.sample.size()) * work.samplePasses);
    row.missed = missed;
}

// Appends our library's rows, two per dictionary file (fast and slow path).
void addTarvoRows(const Workload& work, const std::vector<std::string>& dictPaths,
                  std::vector<Row>& rows);

} // namespace lookup_bench
