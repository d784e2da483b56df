// Lookup rows for our library: tarvo_walk on handles from tarvo_open, with the
// layout's own lookup path (slow = 0) and the generic one (slow = 1).
#include "lookup_bench.h"

#include "tarvo.h"

#include <cstdio>
#include <filesystem>

namespace lookup_bench {

static std::string layoutName(const HeaderRecord& header)
{
    return header.isSparse ? "sparse" : "compact";
}

static void addRow(const Workload& work, const std::string& path, int slow, std::vector<Row>& rows)
{
    char errorText[TARVO_ERROR_TEXT_SIZE];
    auto start = std::chrono::steady_clock::now();
    TarvoHandle dict = tarvo_open(path.c_str(), slow, errorText);
    double openSeconds = secondsSince(start);
    if (dict == nullptr) {
        std::fprintf(stderr, "lookup_bench: %s: %s\n", path.c_str(), errorText);
        return;
    }
    Row row;
    row.name = "tarvo " + layoutName(*tarvo_header(dict)) + " (" +
               std::filesystem::path(path).filename().string() + "), tarvo_open slow=" +
               std::to_string(slow);
    row.readySeconds = openSeconds;
    row.sizeMB = static_cast<double>(std::filesystem::file_size(path)) / 1e6;
    uint32_t root = tarvo_get_root(dict);
    unsigned char scratch[20];
    measure(
        work,
        [&](const std::string& word) -> int64_t {
            return tarvo_walk(dict, word.data(), static_cast<int32_t>(word.size()), root, scratch);
        },
        row);
    tarvo_close(dict);
    rows.push_back(row);
}

void addTarvoRows(const Workload& work, const std::vector<std::string>& dictPaths,
                  std::vector<Row>& rows)
{
    for (const std::string& path : dictPaths) {
        addRow(work, path, 0, rows);
        addRow(work, path, 1, rows);
    }
}

} // namespace lookup_bench
