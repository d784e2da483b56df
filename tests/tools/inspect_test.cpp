// End-to-end tests of dict_header and dict_dump on dictionaries made by dict_build.
#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "binding/tarvo.h"
#include "run.h"
#include "tool_runs.h"

using tarvo_test::RunResult;
using tarvo_test::TempDir;
using tarvo_test::run;
using tarvo_test::tool;

namespace {

std::string banner() {
    const char* version = "";
    tarvo_version(&version, 0, 0, 0);
    return std::string("libtarvo v") + version + ", self v0.3.1\n";
}

std::vector<std::string> splitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// The header's flags as the library reads them, in the order the report names them.
std::string flagsOf(const std::string& path) {
    TarvoHandle handle = tarvo_open(path.c_str(), 0, nullptr);
    if (!handle) return "(cannot open)";
    const HeaderRecord& h = *tarvo_header(handle);
    std::string flags = std::string(h.isTree ? "[TREE]" : "") + (h.isSparse ? "[SPARSE]" : "") +
                        (h.isHash ? "[HASH]" : "") + (h.isBigEndian ? "[BIG_ENDIAN]" : "");
    tarvo_close(handle);
    return flags;
}

class Inspect : public ::testing::Test {
protected:
    TempDir dir;

    std::string build(const std::string& name, const std::string& input,
                      std::vector<std::string> options) {
        std::string path = dir.file(name);
        tools_test::buildDict(path, input, options);
        return path;
    }
    std::string animals(std::vector<std::string> options = {}) {
        options.push_back("-N");
        return build("animals.dict", "cat!7\ndog!42\nmouse!3\n", options);
    }
};

TEST_F(Inspect, WithoutAPathBothPrintTheirUsageOnly) {
    RunResult header = run({tool("dict_header")});
    EXPECT_EQ(header.status, 1);
    EXPECT_EQ(header.out, "");
    EXPECT_EQ(header.err, "Usage " + tool("dict_header") + " DICT_FILE [ONLY_COMMON - Y/N]\n");
    RunResult dump = run({tool("dict_dump")});
    EXPECT_EQ(dump.status, 1);
    EXPECT_EQ(dump.out, "");
    EXPECT_EQ(dump.err, "Usage " + tool("dict_dump") + " DICT_FILE\n");
}

// Every line of the full report, values as the library reads the header.
TEST_F(Inspect, HeaderFullReport) {
    std::string path = animals({"-L", "sparse", "-E", "big"});
    TarvoHandle handle = tarvo_open(path.c_str(), 0, nullptr);
    ASSERT_NE(handle, nullptr);
    const HeaderRecord h = *tarvo_header(handle);
    tarvo_close(handle);
    const struct { const char* label; int32_t value; } sections[] = {
        {"Alphabet offset: ", h.alphabetOffset}, {"Fsa offset: ", h.fsaOffset},
        {"Annot offset: ", h.annotOffset},       {"Alphabet size: ", h.alphabetSize},
        {"Transes count: ", h.transCount},       {"Annot length size: ", h.annotLengthSize},
        {"Annot chunk size: ", h.annotChunkSize}, {"Annot chunks count: ", h.annotChunksCount},
        {"Char size: ", h.charSize},             {"Padding size: ", h.paddingSize},
        {"Dest size: ", h.destSize},             {"Hash size ", h.hashSize},
        {"Trans size(total): ", h.transSizeTotal}};
    std::string expected = banner() + "Ver: " + std::to_string(h.version) + "\n" + "Flags: " +
                           flagsOf(path) + "\n";
    for (const auto& s : sections) expected += s.label + std::to_string(s.value) + "\n";

    RunResult r = run({tool("dict_header"), path});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, expected);
}

// Flags are printed when set, always in the order TREE, SPARSE, HASH, BIG_ENDIAN. A file is a
// tree when no state is shared: one word is, while "bat" and "cat" share the state after "a".
TEST_F(Inspect, HeaderFlagsLine) {
    const char* shared = "bat!1\ncat!1\nrat!1\n";
    const char* tree = "cat!7\n";
    const struct { const char* name; const char* input; std::vector<std::string> options;
                   const char* flags; } cases[] = {
        {"no flag", shared, {"-N"}, ""},
        {"sparse", shared, {"-N", "-L", "sparse"}, "[SPARSE]"},
        {"big", shared, {"-N", "-E", "big"}, "[BIG_ENDIAN]"},
        {"sparse big", shared, {"-N", "-L", "sparse", "-E", "big"}, "[SPARSE][BIG_ENDIAN]"},
        {"tree", tree, {"-N"}, "[TREE]"},
        {"tree sparse big", tree, {"-N", "-L", "sparse", "-E", "big"},
         "[TREE][SPARSE][BIG_ENDIAN]"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::string path = build("flags.dict", c.input, c.options);
        ASSERT_EQ(flagsOf(path), c.flags);  // what the file really says
        RunResult r = run({tool("dict_header"), path});
        EXPECT_EQ(r.status, 0) << r.err;
        std::vector<std::string> lines = splitLines(r.out);
        ASSERT_EQ(lines.size(), 16u) << r.out;
        EXPECT_EQ(lines[2], std::string("Flags: ") + c.flags);
    }
}

// The hash flag, which no file the builder makes has, in its place among the others.
TEST_F(Inspect, HeaderAllFlagsInOrder) {
    std::string path = animals();
    RunResult r = run({tool("dict_header"), path, "Y"},
                      "", {std::string("LD_PRELOAD=") + TOOLS_ALL_FLAGS,
                           tools_test::preloadAsanOptions()});
    EXPECT_EQ(r.status, 0) << r.err;
    std::vector<std::string> lines = splitLines(r.out);
    ASSERT_EQ(lines.size(), 3u) << r.out;
    EXPECT_EQ(lines[2], "Flags: [TREE][SPARSE][HASH][BIG_ENDIAN]");
}

// Only "Y" and "1" ask for the common part alone; a lower-case "y" does not.
TEST_F(Inspect, HeaderOnlyCommon) {
    std::string path = animals();
    const struct { const char* arg; size_t lines; } cases[] = {
        {"Y", 3}, {"1", 3}, {"Yes", 3}, {"y", 16}, {"N", 16}, {"n", 16}, {"0", 16}, {"", 16}};
    std::string full = run({tool("dict_header"), path}).out;
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string("ONLY_COMMON \"") + c.arg + "\"");
        RunResult r = run({tool("dict_header"), path, c.arg});
        EXPECT_EQ(r.status, 0) << r.err;
        std::vector<std::string> lines = splitLines(r.out);
        ASSERT_EQ(lines.size(), c.lines) << r.out;
        // The common part is the head of the full report, unchanged.
        EXPECT_EQ(full.compare(0, r.out.size(), r.out), 0) << r.out;
    }
}

TEST_F(Inspect, HeaderFailedOpenAfterTheBanner) {
    std::string missing = dir.file("missing.dict");
    std::string notADict = dir.file("words.txt");
    tarvo_test::writeFile(notADict, "cat!7\ndog!42\n");
    for (const std::string& path : {missing, notADict}) {
        SCOPED_TRACE(path);
        RunResult r = run({tool("dict_header"), path});
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, banner());
        // The library's reason in parentheses, and no line feed.
        std::string head = "Can`t open " + path + " file (";
        EXPECT_EQ(r.err.rfind(head, 0), 0u) << r.err;
        EXPECT_GT(r.err.size(), head.size() + 1) << r.err;
        EXPECT_EQ(r.err.back(), ')') << r.err;
        EXPECT_EQ(r.err.find('\n'), std::string::npos) << r.err;
        RunResult joined = tools_test::runJoined({tool("dict_header"), path});
        EXPECT_EQ(joined.out, banner() + r.err);
    }
}

// A library that fails without a reason leaves the parentheses empty, never garbage.
TEST_F(Inspect, HeaderFailedOpenWithoutReason) {
    std::string path = animals();
    RunResult r = run({tool("dict_header"), path},
                      "", {std::string("LD_PRELOAD=") + TOOLS_SILENT_OPEN,
                           tools_test::preloadAsanOptions()});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, banner());
    EXPECT_EQ(r.err, "Can`t open " + path + " file ()");
}

TEST_F(Inspect, DumpFailedOpenAfterTheBanner) {
    std::string missing = dir.file("missing.dict");
    RunResult r = run({tool("dict_dump"), missing});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, banner());
    EXPECT_EQ(r.err, "Can`t open " + missing + " file");
    RunResult joined = tools_test::runJoined({tool("dict_dump"), missing});
    EXPECT_EQ(joined.out, banner() + "Can`t open " + missing + " file");
}

// The dump of the sample dictionary, kept in golden/; TARVO_UPDATE_GOLDEN=1 rewrites it.
TEST(DictDump, SampleDictionaryMatchesGolden) {
    std::string sample = std::string(TARVO_BINARY_DIR) + "/samples/sample.dict";
    std::string golden = std::string(TARVO_SOURCE_DIR) + "/tests/tools/golden/sample_dump.txt";
    RunResult r = run({tool("dict_dump"), sample});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    ASSERT_EQ(r.out.compare(0, banner().size(), banner()), 0) << r.out.substr(0, 200);
    const char* update = std::getenv("TARVO_UPDATE_GOLDEN");
    if (update && std::string(update) == "1") {
        tarvo_test::writeFile(golden, r.out);
        GTEST_SKIP() << "rewrote " << golden;
    }
    EXPECT_TRUE(r.out == tarvo_test::readFile(golden))
        << "dict_dump output differs from " << golden;
}

} // namespace
