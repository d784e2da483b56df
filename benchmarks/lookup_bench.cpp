// Time per exact lookup in marisa-trie, dawgdic, darts, std::unordered_set and
// our library, on one key file, printed as a Markdown table.
//
// Usage: lookup_bench KEYS [DICT...]
//   KEYS  byte-sorted unique keys, one a line (benchmarks/make_datasets.sh)
//   DICT  dictionaries that dict_build made from KEYS (any layout)
// Each structure answers (a) one hot word of 8 bytes, repeated, and (b)
// 100,000 different present words in a random order from a fixed seed.
#include "lookup_bench.h"

#include <dawgdic/dawg-builder.h>
#include <dawgdic/dictionary-builder.h>
#include <marisa.h>

// darts 0.32 still declares `register` variables, which C++17 dropped.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wregister"
#include <darts.h>
#pragma GCC diagnostic pop

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <malloc.h>
#include <unordered_set>

namespace lookup_bench {
namespace {

constexpr size_t kSampleSize = 100000;
constexpr size_t kHotLength = 8;
constexpr uint64_t kSeed = 20240229;

std::vector<std::string> readKeys(const char* path)
{
    std::ifstream input(path, std::ios::binary);
    if (!input) {
        std::fprintf(stderr, "lookup_bench: cannot open %s\n", path);
        std::exit(1);
    }
    std::vector<std::string> keys;
    std::string line;
    while (std::getline(input, line))
        if (!line.empty())
            keys.push_back(line);
    return keys;
}

// splitmix64, so the sample is the same with every standard library.
uint64_t nextRandom(uint64_t& state)
{
    uint64_t z = (state += 0x9e3779b97f4a7c15ULL);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31);
}

// The first key of kHotLength bytes from the middle of the set on: a typical
// word, not one of the shortest or an early prefix.
std::string pickHotWord(const std::vector<std::string>& keys)
{
    for (size_t i = keys.size() / 2; i < keys.size(); ++i)
        if (keys[i].size() == kHotLength)
            return keys[i];
    return keys[keys.size() / 2];
}

// A partial Fisher-Yates shuffle: kSampleSize distinct keys in random order.
std::vector<std::string> pickSample(const std::vector<std::string>& keys)
{
    std::vector<size_t> order(keys.size());
    for (size_t i = 0; i < order.size(); ++i)
        order[i] = i;
    size_t count = std::min(kSampleSize, keys.size());
    uint64_t state = kSeed;
    for (size_t i = 0; i < count; ++i)
        std::swap(order[i], order[i + nextRandom(state) % (order.size() - i)]);
    std::vector<std::string> sample;
    sample.reserve(count);
    for (size_t i = 0; i < count; ++i)
        sample.push_back(keys[order[i]]);
    return sample;
}

Row marisaRow(const Workload& work, const std::vector<std::string>& keys)
{
    Row row{.name = "marisa-trie (default config)"};
    auto start = std::chrono::steady_clock::now();
    marisa::Keyset keyset;
    for (const std::string& key : keys)
        keyset.push_back(key.data(), key.size());
    marisa::Trie trie;
    trie.build(keyset);
    row.readySeconds = secondsSince(start);
    row.sizeMB = static_cast<double>(trie.io_size()) / 1e6;
    marisa::Agent agent;
    measure(
        work,
        [&](const std::string& word) -> int64_t {
            agent.set_query(word.data(), word.size());
            return trie.lookup(agent) ? static_cast<int64_t>(agent.key().id()) : -1;
        },
        row);
    return row;
}

Row dawgdicRow(const Workload& work, const std::vector<std::string>& keys)
{
    Row row{.name = "dawgdic (dictionary, no guide)"};
    auto start = std::chrono::steady_clock::now();
    dawgdic::DawgBuilder builder;
    for (const std::string& key : keys)
        builder.Insert(key.data(), key.size(), 0);
    dawgdic::Dawg dawg;
    dawgdic::Dictionary dic;
    if (!builder.Finish(&dawg) || !dawgdic::DictionaryBuilder::Build(dawg, &dic)) {
        std::fprintf(stderr, "lookup_bench: dawgdic could not build the dictionary\n");
        std::exit(1);
    }
    row.readySeconds = secondsSince(start);
    row.sizeMB = static_cast<double>(dic.total_size()) / 1e6;
    measure(
        work,
        [&](const std::string& word) -> int64_t {
            dawgdic::ValueType value;
            return dic.Find(word.data(), word.size(), &value) ? value : -1;
        },
        row);
    return row;
}

Row dartsRow(const Workload& work, const std::vector<std::string>& keys)
{
    Row row{.name = "darts 0.32 (double array)"};
    auto start = std::chrono::steady_clock::now();
    std::vector<const char*> pointers;
    std::vector<size_t> lengths;
    pointers.reserve(keys.size());
    lengths.reserve(keys.size());
    for (const std::string& key : keys) {
        pointers.push_back(key.data());
        lengths.push_back(key.size());
    }
    Darts::DoubleArray array;
    if (array.build(keys.size(), pointers.data(), lengths.data()) != 0) {
        std::fprintf(stderr, "lookup_bench: darts could not build the double array\n");
        std::exit(1);
    }
    row.readySeconds = secondsSince(start);
    row.sizeMB = static_cast<double>(array.total_size()) / 1e6;
    measure(
        work,
        [&](const std::string& word) -> int64_t {
            return array.exactMatchSearch<Darts::DoubleArray::result_type>(word.data(),
                                                                           word.size());
        },
        row);
    return row;
}

Row unorderedSetRow(const Workload& work, const std::vector<std::string>& keys)
{
    Row row{.name = "std::unordered_set<std::string>"};
    auto start = std::chrono::steady_clock::now();
    std::unordered_set<std::string> set(keys.begin(), keys.end());
    row.readySeconds = secondsSince(start);
    measure(
        work, [&](const std::string& word) -> int64_t { return set.count(word) ? 1 : -1; }, row);
    return row;
}

void printTable(const char* keysPath, size_t keyCount, const Workload& work,
                const std::vector<Row>& rows)
{
    std::printf("Keys: `%s` (%zu keys). Hot word: \"%s\" (%zu bytes), %lld lookups; sample: "
                "%zu present words in random order, %d passes. Best of %d rounds.\n\n",
                keysPath, keyCount, work.hot.c_str(), work.hot.size(),
                static_cast<long long>(work.hotRepeats), work.sample.size(), work.samplePasses,
                work.rounds);
    std::printf("| Structure | Ready s | Size MB | Hot word ns/lookup | "
                "100,000 words ns/lookup | Missed |\n");
    std::printf("| --- | ---: | ---: | ---: | ---: | ---: |\n");
    for (const Row& row : rows) {
        char size[32] = "";
        if (row.sizeMB >= 0)
            std::snprintf(size, sizeof size, "%.2f", row.sizeMB);
        std::printf("| %s | %.3f | %s | %.1f | %.1f | %lld |\n", row.name.c_str(),
                    row.readySeconds, size, row.hotNs, row.sampleNs,
                    static_cast<long long>(row.missed));
    }
    std::printf("\nReady s: peers build from the keys in memory; ours open the file "
                "(tarvo_open). Missed must be 0.\n");
}

} // namespace
} // namespace lookup_bench

int main(int argc, char** argv)
{
    using namespace lookup_bench;
    if (argc < 2) {
        std::fprintf(stderr, "usage: lookup_bench KEYS [DICT...]\n");
        return 2;
    }
    std::vector<std::string> keys = readKeys(argv[1]);
    if (keys.empty()) {
        std::fprintf(stderr, "lookup_bench: %s has no keys\n", argv[1]);
        return 1;
    }
    Workload work;
    work.hot = pickHotWord(keys);
    work.sample = pickSample(keys);
    work.hotRepeats = 10000000;
    work.samplePasses = 10;
    work.rounds = 3;

    // A peer's structure leaves millions of small chunks free in the heap
    // when it goes; glibc merges them at the next large allocation, which
    // would be charged to whatever is timed next (our tarvo_open) unless
    // the heap is tidied between rows, outside the clock.
    std::vector<Row> rows;
    rows.push_back(marisaRow(work, keys));
    malloc_trim(0);
    rows.push_back(dawgdicRow(work, keys));
    malloc_trim(0);
    rows.push_back(dartsRow(work, keys));
    malloc_trim(0);
    rows.push_back(unorderedSetRow(work, keys));
    malloc_trim(0);
    addTarvoRows(work, std::vector<std::string>(argv + 2, argv + argc), rows);
    printTable(argv[1], keys.size(), work, rows);
    return 0;
}
