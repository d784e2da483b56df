// Replays inputs through a fuzz target without libFuzzer: every file named on
// the command line, and every file in each folder named, in name order. The
// empty input comes first, as libFuzzer also tries it. A fault aborts (under
// the sanitizers, with their report); otherwise the exit status is 0.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

namespace fs = std::filesystem;

bool readWhole(const fs::path& path, std::vector<uint8_t>& bytes) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

// Runs one input from a buffer of exactly its size, so that a read one byte
// past the end is caught by the address sanitizer.
void replay(const std::vector<uint8_t>& bytes) {
    std::vector<uint8_t> exact(bytes);
    exact.shrink_to_fit();
    LLVMFuzzerTestOneInput(exact.empty() ? nullptr : exact.data(), exact.size());
}

// The files to replay for one argument; false when it names nothing.
bool collect(const fs::path& argument, std::vector<fs::path>& files) {
    std::error_code error;
    if (fs::is_regular_file(argument, error)) {
        files.push_back(argument);
        return true;
    }
    if (!fs::is_directory(argument, error)) return false;
    std::vector<fs::path> found;
    for (const fs::directory_entry& entry : fs::directory_iterator(argument, error))
        if (entry.is_regular_file(error)) found.push_back(entry.path());
    std::sort(found.begin(), found.end());
    files.insert(files.end(), found.begin(), found.end());
    return !error;
}

} // namespace

int main(int argc, char** argv) {
    std::vector<fs::path> files;
    for (int i = 1; i < argc; ++i) {
        if (!collect(argv[i], files)) {
            std::fprintf(stderr, "%s: cannot read %s\n", argv[0], argv[i]);
            return 2;
        }
    }
    replay({});
    for (const fs::path& file : files) {
        std::vector<uint8_t> bytes;
        if (!readWhole(file, bytes)) {
            std::fprintf(stderr, "%s: cannot read %s\n", argv[0], file.c_str());
            return 2;
        }
        replay(bytes);
    }
    std::printf("replayed %zu inputs\n", files.size() + 1);
    return 0;
}
