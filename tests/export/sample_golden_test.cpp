// Golden listings of the bundled sample dictionary (samples/words.txt built
// with dict_build -a), one per mode, kept in tests/export/golden/.
// TARVO_UPDATE_GOLDEN=1 rewrites them from the current dict_export.
#include "run.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace {

using tarvo_test::readFile;
using tarvo_test::RunResult;

const std::string kSampleDict = std::string(TARVO_BINARY_DIR) + "/samples/sample.dict";
const std::string kGoldenDir = std::string(TARVO_SOURCE_DIR) + "/tests/export/golden";

bool updating() {
    const char* update = std::getenv("TARVO_UPDATE_GOLDEN");
    return update != nullptr && std::string(update) == "1";
}

RunResult exportSample(const std::vector<std::string>& options) {
    std::vector<std::string> args = {tarvo_test::tool("dict_export"), "-d", kSampleDict};
    args.insert(args.end(), options.begin(), options.end());
    return tarvo_test::run(args);
}

// Line number and both texts of the first line that differs.
std::string firstDifference(const std::string& expected, const std::string& actual) {
    std::size_t at = 0, line = 1;
    while (at < expected.size() && at < actual.size() && expected[at] == actual[at]) {
        if (expected[at] == '\n') ++line;
        ++at;
    }
    auto lineAround = [at](const std::string& s) {
        std::size_t begin = s.rfind('\n', at == 0 ? 0 : at - 1);
        begin = begin == std::string::npos || at == 0 ? 0 : begin + 1;
        return s.substr(begin, s.find('\n', begin) - begin);
    };
    return "first difference on line " + std::to_string(line) + ": expected '" +
           lineAround(expected) + "', got '" + lineAround(actual) + "'";
}

struct GoldenCase {
    const char* file;
    std::vector<std::string> options;
};

TEST(SampleGolden, EveryMode) {
    ASSERT_TRUE(tarvo_test::fileExists(kSampleDict)) << kSampleDict << " not built";
    const std::vector<GoldenCase> cases = {
        {"words.txt", {}},
        {"words-raw-annots.txt", {"-a"}},
        {"words-hex-annots.txt", {"-A"}},
        {"words-numbers.txt", {"-N"}},
        {"words-base64.txt", {"-W", "-A", "-e", "base64"}},
        {"annots-hex.txt", {"-t", "annots"}},
        {"annots-raw.txt", {"-t", "annots", "-a"}},
    };
    for (const GoldenCase& c : cases) {
        SCOPED_TRACE(c.file);
        RunResult r = exportSample(c.options);
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.err, "");
        std::string golden = kGoldenDir + "/" + c.file;
        if (updating()) {
            tarvo_test::writeFile(golden, r.out);
            continue;
        }
        ASSERT_TRUE(tarvo_test::fileExists(golden))
            << golden << " missing; TARVO_UPDATE_GOLDEN=1 writes it";
        std::string expected = readFile(golden);
        EXPECT_TRUE(r.out == expected) << firstDifference(expected, r.out);
    }
}

// The sample's word list is sorted in byte order with one line per word, so
// listing the words with their raw annotations gives it back byte for byte.
TEST(SampleGolden, RawListingIsTheWordList) {
    RunResult r = exportSample({"-a"});
    ASSERT_EQ(r.status, 0) << r.err;
    std::string words = readFile(std::string(TARVO_SOURCE_DIR) + "/samples/words.txt");
    EXPECT_TRUE(r.out == words) << firstDifference(words, r.out);
}

} // namespace
