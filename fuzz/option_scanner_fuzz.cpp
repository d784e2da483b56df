// Arbitrary option strings and argument vectors through the option scanner.
// Input: a control byte, then NUL-separated texts: the option string first,
// then the arguments (argv[0] included). The scan must end, keep argv a
// permutation of the arguments it was given, and only ever point optarg into
// one of them.
#include "option_scanner.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr size_t kMaxArguments = 64;

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "option_scanner_fuzz: %s\n", what);
    std::abort();
}

// Splits at NUL bytes; the last text need not end in one.
std::vector<std::string> splitTexts(const uint8_t* data, size_t size) {
    std::vector<std::string> texts;
    std::string current;
    for (size_t i = 0; i < size; ++i) {
        if (data[i] != 0) {
            current += char(data[i]);
            continue;
        }
        texts.push_back(current);
        current.clear();
    }
    if (!current.empty() || texts.empty()) texts.push_back(current);
    return texts;
}

bool pointsInto(const char* p, const std::vector<std::vector<char>>& storage) {
    for (const std::vector<char>& text : storage)
        if (p >= text.data() && p < text.data() + text.size()) return true;
    return false;
}

void checkResult(int c, const std::string& optstring, int argc, const std::vector<std::vector<char>>& storage) {
    if (dictexport::optind < 0 || dictexport::optind > argc) fail("optind left the vector");
    if (dictexport::optarg != nullptr && !pointsInto(dictexport::optarg, storage)) fail("optarg points outside the arguments");
    if (c == -1 || c == '?' || c == ':' || c == 1) return;
    // Any other result is a declared option character.
    if (optstring.find(char(c)) == std::string::npos) fail("an undeclared option came back");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const uint8_t control = data[0];
    std::vector<std::string> texts = splitTexts(data + 1, size - 1);
    const std::string optstring = texts[0];
    texts.erase(texts.begin());
    if (texts.size() > kMaxArguments) texts.resize(kMaxArguments);

    // Each argument in a buffer of its own size, so a read past its NUL is caught.
    std::vector<std::vector<char>> storage;
    for (const std::string& text : texts) storage.emplace_back(text.c_str(), text.c_str() + text.size() + 1);
    std::vector<char*> argv;
    for (std::vector<char>& text : storage) argv.push_back(text.data());
    const std::vector<char*> given = argv;
    argv.push_back(nullptr);
    const int argc = int(texts.size());

    if (control & 1) setenv("POSIXLY_CORRECT", "1", 1);
    else unsetenv("POSIXLY_CORRECT");
    dictexport::resetScanner();
    dictexport::opterr = 0;

    // Each call consumes an option character or at least one element.
    size_t budget = 2;
    for (const std::string& text : texts) budget += text.size() + 1;
    int c;
    do {
        if (budget-- == 0) fail("the scan does not end");
        c = dictexport::getopt(argc, argv.data(), optstring.c_str());
        checkResult(c, optstring, argc, storage);
        // A caller may flip the switch between calls.
        if (control & 2) {
            if (c & 1) setenv("POSIXLY_CORRECT", "1", 1);
            else unsetenv("POSIXLY_CORRECT");
        }
    } while (c != -1);

    std::vector<char*> after(argv.begin(), argv.end() - 1);
    std::vector<char*> before = given;
    std::sort(after.begin(), after.end());
    std::sort(before.begin(), before.end());
    if (after != before || argv.back() != nullptr) fail("argv is no longer a permutation of the arguments");
    unsetenv("POSIXLY_CORRECT");
    return 0;
}
