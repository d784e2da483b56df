// End-to-end tests of dict_bench on dictionaries made by dict_build.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "run.h"
#include "tool_runs.h"

using tarvo_test::RunResult;
using tarvo_test::TempDir;
using tarvo_test::run;
using tarvo_test::tool;

namespace {

const char kUsageTail[] = " DICT_FILE WORD ITERS [SLOW_ACCESS - Y/N] [USE_MMAP - Y/N]\n";

struct Report {
    double seconds = 0;
    double wordsPerSecond = 0;
    double mbPerSecond = 0;
    int result = 0;
};

// %0.2f of a finite value that is not negative.
bool isDecimal(const std::string& field) {
    size_t point = field.find('.');
    return point != 0 && point != std::string::npos && field.size() == point + 3 &&
           field.find_first_not_of("0123456789") == point &&
           field.find_first_not_of("0123456789", point + 1) == std::string::npos;
}

// A rate may also be infinity or not-a-number, printed as printf prints them.
bool isRate(const std::string& field) {
    return isDecimal(field) || field == "inf" || field == "nan" || field == "-nan";
}

bool isWhole(const std::string& field) {
    size_t digits = field.compare(0, 1, "-") == 0 ? 1 : 0;
    return field.size() > digits && field.find_first_not_of("0123456789", digits) == std::string::npos;
}

// True when `text` is exactly one report line
// "time: %0.2f; words per sec: %0.2f; Mb per sec: %0.2f; result: %d\n"; its numbers go to
// `report`.
bool parseReport(const std::string& text, Report& report) {
    const char* const labels[] = {"time: ", "; words per sec: ", "; Mb per sec: ", "; result: ", "\n"};
    std::vector<std::string> fields;
    size_t at = 0;
    for (size_t i = 0; i < 5; ++i) {
        if (text.compare(at, std::strlen(labels[i]), labels[i]) != 0) return false;
        at += std::strlen(labels[i]);
        if (i == 4) break;
        size_t end = text.find(labels[i + 1], at);
        if (end == std::string::npos) return false;
        fields.push_back(text.substr(at, end - at));
        at = end;
    }
    if (at != text.size()) return false;
    if (!isDecimal(fields[0]) || !isRate(fields[1]) || !isRate(fields[2]) || !isWhole(fields[3]))
        return false;
    report.seconds = std::strtod(fields[0].c_str(), nullptr);
    report.wordsPerSecond = std::strtod(fields[1].c_str(), nullptr);
    report.mbPerSecond = std::strtod(fields[2].c_str(), nullptr);
    report.result = std::stoi(fields[3]);
    return true;
}

// What the walk probe saw of one run.
struct ProbeLog {
    unsigned long long walks = 0;
    unsigned long long roots = 0;
    int length = -1;
};

class DictBench : public ::testing::Test {
protected:
    // cat 7, dog 42, mouse 3: distinct numbers, so a result names its word.
    static void SetUpTestSuite() {
        dir = new TempDir;
        dict = dir->file("animals.dict");
        tools_test::buildDict(dict, "cat!7\ndog!42\nmouse!3\n");
    }
    static void TearDownTestSuite() {
        delete dir;
        dir = nullptr;
    }

    static RunResult bench(std::vector<std::string> args) {
        args.insert(args.begin(), tool("dict_bench"));
        return run(args);
    }

    // Runs dict_bench with the walk probe preloaded, which counts the library calls and may
    // make the first walk sleep `delayMs`.
    RunResult benchProbed(std::vector<std::string> args, ProbeLog& log, int delayMs = 0) {
        std::string logPath = dir->file("probe.log");
        std::remove(logPath.c_str());
        std::vector<std::string> env = {std::string("LD_PRELOAD=") + TOOLS_WALK_PROBE,
                                        "TARVO_WALK_LOG=" + logPath,
                                        tools_test::preloadAsanOptions()};
        if (delayMs > 0) env.push_back("TARVO_WALK_DELAY_MS=" + std::to_string(delayMs));
        args.insert(args.begin(), tool("dict_bench"));
        RunResult r = run(args, "", env);
        std::string text = tarvo_test::readFile(logPath);
        EXPECT_EQ(std::sscanf(text.c_str(), "walks=%llu roots=%llu length=%d", &log.walks,
                              &log.roots, &log.length),
                  3)
            << text;
        return r;
    }

    static TempDir* dir;
    static std::string dict;
};

TempDir* DictBench::dir = nullptr;
std::string DictBench::dict;

TEST_F(DictBench, FewerThanThreeArgumentsIsAUsageError) {
    const std::vector<std::vector<std::string>> cases = {{}, {dict}, {dict, "cat"}};
    for (const auto& args : cases) {
        RunResult r = bench(args);
        EXPECT_EQ(r.status, 1) << args.size();
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, "Usage " + tool("dict_bench") + kUsageTail);
    }
}

TEST_F(DictBench, ThreeArgumentsPrintOnlyTheReport) {
    RunResult r = bench({dict, "cat", "3"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    Report report;
    ASSERT_TRUE(parseReport(r.out, report)) << r.out;
    EXPECT_EQ(report.result, 7);
}

// The result is the word's annotation number, or -1, whichever way the file is opened.
TEST_F(DictBench, ResultInEverySwitchCombination) {
    const struct { const char* word; int result; } words[] = {
        {"cat", 7}, {"dog", 42}, {"mouse", 3}, {"cow", -1}, {"ca", -1}, {"cats", -1}, {"", -1}};
    for (const char* slow : {"N", "Y"}) {
        for (const char* mmap : {"N", "Y"}) {
            std::string notes = std::string(mmap[0] == 'Y' ? "Use mmap\n" : "") +
                                (slow[0] == 'Y' ? "Use slow access\n" : "");
            for (const auto& w : words) {
                SCOPED_TRACE(std::string("slow ") + slow + ", mmap " + mmap + ", word " + w.word);
                RunResult r = bench({dict, w.word, "4", slow, mmap});
                EXPECT_EQ(r.status, 0) << r.err;
                ASSERT_EQ(r.out.compare(0, notes.size(), notes), 0) << r.out;
                Report report;
                ASSERT_TRUE(parseReport(r.out.substr(notes.size()), report)) << r.out;
                EXPECT_EQ(report.result, w.result);
            }
        }
    }
}

// The walk returns a signed 32-bit result: numbers of 2^31 and more come
// back as the same 32 bits, so the largest, 4294967295, reads as -1.
TEST_F(DictBench, NumbersPast31BitsComeBackAsTheirSigned32Bits) {
    const std::string numbered = dir->file("large-numbers.dict");
    tools_test::buildDict(numbered, "a!2147483647\nb!2147483648\nc!4294967295\n");
    const struct { const char* word; int result; } words[] = {
        {"a", 2147483647}, {"b", -2147483647 - 1}, {"c", -1}};
    for (const auto& w : words) {
        SCOPED_TRACE(w.word);
        RunResult r = bench({numbered, w.word, "1"});
        Report report;
        ASSERT_TRUE(parseReport(r.out, report)) << r.out;
        EXPECT_EQ(report.result, w.result);
    }
}

// Only the first character of a switch counts: "1", "Y" or "y" is on.
TEST_F(DictBench, SwitchesReadTheirFirstCharacter) {
    const struct { const char* text; bool on; } cases[] = {
        {"1", true}, {"Y", true}, {"y", true}, {"yes", true}, {"Yes", true}, {"10", true},
        {"N", false}, {"n", false}, {"0", false}, {"", false}, {"x", false}, {" Y", false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string("switch \"") + c.text + "\"");
        RunResult slow = bench({dict, "cat", "1", c.text});
        EXPECT_EQ(slow.status, 0);
        EXPECT_EQ(slow.out.rfind("Use slow access\n", 0) == 0, c.on) << slow.out;
        RunResult mmap = bench({dict, "cat", "1", "N", c.text});
        EXPECT_EQ(mmap.status, 0);
        EXPECT_EQ(mmap.out.rfind("Use mmap\n", 0) == 0, c.on) << mmap.out;
    }
}

TEST_F(DictBench, ItersIsScannedAsAnUnsignedDecimal) {
    const struct { const char* text; unsigned long long walks; } cases[] = {
        {"0", 0}, {"abc", 0}, {"", 0}, {"12abc", 12}, {" 7", 7}, {"\t 7", 7}, {"+5", 5},
        {"-0", 0}, {"+", 0}, {"0009", 9}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string("ITERS \"") + c.text + "\"");
        ProbeLog log;
        RunResult r = benchProbed({dict, "cat", c.text}, log);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(log.walks, c.walks);
        Report report;
        ASSERT_TRUE(parseReport(r.out, report)) << r.out;
        EXPECT_EQ(report.result, c.walks == 0 ? 0 : 7);
    }
}

// Negative counts and counts past 32 bits are refused before the dictionary is opened.
TEST_F(DictBench, ItersOutOfRangeIsAUsageError) {
    for (const char* text : {"-1", " -7", "-4294967295", "4294967296", "99999999999",
                             "18446744073709551617"}) {
        SCOPED_TRACE(std::string("ITERS \"") + text + "\"");
        ProbeLog log;
        RunResult r = benchProbed({dict, "cat", text, "N", "Y"}, log);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, tool("dict_bench") + ": ITERS must be a number from 0 to 4294967295, not \"" +
                             text + "\"\n");
        EXPECT_EQ(log.roots, 0u);
    }
}

// The largest counts pass the scan: with a missing dictionary the complaint is the open's.
TEST_F(DictBench, LargestCountsAreAccepted) {
    std::string missing = dir->file("missing.dict");
    for (const char* text : {"4294967295", "2147483648", "2147483647"}) {
        RunResult r = bench({missing, "cat", text});
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, "Can`t open " + missing + " file") << text;
    }
}

TEST_F(DictBench, WalksCountTimesWithOneRootLookup) {
    ProbeLog log;
    RunResult r = benchProbed({dict, "mouse", "1000", "Y", "Y"}, log);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(log.walks, 1000u);
    EXPECT_EQ(log.roots, 1u);
    EXPECT_EQ(log.length, 5);
    EXPECT_NE(r.out.find("result: 3\n"), std::string::npos) << r.out;
}

// Under one clock tick the time is 0.00 and the rates are infinite, or not a number when their
// multiplier is 0. A run may straddle a tick now and then, so a few tries are allowed.
TEST_F(DictBench, RunUnderOneTickPrintsInfinityAndNotANumber) {
    const struct { const char* iters; bool wordsInfinite; int result; } cases[] = {
        {"1", true, 7},   // 3 bytes are 0 whole mebibytes: 0 times infinity
        {"0", false, 0},  // no walk: both multipliers are 0
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string("ITERS ") + c.iters);
        Report report;
        std::string seen;
        for (int attempt = 0; attempt < 3; ++attempt) {
            RunResult r = bench({dict, "cat", c.iters});
            ASSERT_EQ(r.status, 0) << r.err;
            seen = r.out;
            ASSERT_TRUE(parseReport(seen, report)) << seen;
            if (std::isinf(report.wordsPerSecond) || std::isnan(report.wordsPerSecond)) break;
        }
        EXPECT_EQ(seen.rfind("time: 0.00; ", 0), 0u) << seen;
        EXPECT_EQ(std::isinf(report.wordsPerSecond), c.wordsInfinite) << seen;
        EXPECT_EQ(std::isnan(report.wordsPerSecond), !c.wordsInfinite) << seen;
        EXPECT_TRUE(std::isnan(report.mbPerSecond)) << seen;
        EXPECT_EQ(report.result, c.result);
    }
}

// The time is elapsed time in whole milliseconds times 0.001: the probe's first walk sleeps
// 150 ms, which the report must show whether or not the process used the processor meanwhile.
TEST_F(DictBench, TimeIsElapsedWholeMilliseconds) {
    const uint32_t count = 300000;  // many digits in the rate, and under one mebibyte
    ProbeLog log;
    auto start = std::chrono::steady_clock::now();
    RunResult r = benchProbed({dict, "dog", std::to_string(count)}, log, 150);
    double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    ASSERT_EQ(r.status, 0) << r.err;
    Report report;
    ASSERT_TRUE(parseReport(r.out, report)) << r.out;
    EXPECT_GE(report.seconds, 0.15);
    EXPECT_LE(report.seconds, wall + 0.01);
    // words per sec = count / (ticks * 0.001f): the ticks come back as a whole number.
    double ticks = count / report.wordsPerSecond / double(0.001f);
    EXPECT_NEAR(ticks, std::round(ticks), 0.01) << r.out;
    // 3 bytes 300000 times is below one mebibyte.
    EXPECT_EQ(report.mbPerSecond, 0.0) << r.out;
    EXPECT_EQ(report.result, 42);
}

// 65536 walks of a 65536-byte word are 4 GiB: a 32-bit product would wrap to 0 mebibytes.
TEST_F(DictBench, MegabytesCountPast4GiB) {
    std::string word(65536, 'z');
    ProbeLog log;
    RunResult r = benchProbed({dict, word, "65536"}, log, 20);
    ASSERT_EQ(r.status, 0) << r.err;
    Report report;
    ASSERT_TRUE(parseReport(r.out, report)) << r.out;
    EXPECT_EQ(report.result, -1);
    EXPECT_EQ(log.length, 65536);
    ASSERT_GT(report.mbPerSecond, 0.0) << r.out;
    // 65536 words against 4096 mebibytes, at the same rate.
    EXPECT_NEAR(report.wordsPerSecond / report.mbPerSecond, 16.0, 1e-4) << r.out;
}

TEST_F(DictBench, FailedOpenComplainsWithoutLineFeed) {
    std::string missing = dir->file("missing.dict");
    std::string notADict = dir->file("words.txt");
    tarvo_test::writeFile(notADict, "cat!7\ndog!42\n");
    for (const std::string& path : {missing, notADict}) {
        for (const char* mmap : {"N", "Y"}) {
            SCOPED_TRACE(path + ", mmap " + mmap);
            std::string notes = mmap[0] == 'Y' ? "Use mmap\n" : "";
            RunResult r = bench({path, "cat", "1", "Y", mmap});
            EXPECT_EQ(r.status, 1);
            EXPECT_EQ(r.out, notes);  // no "Use slow access" without an open dictionary
            EXPECT_EQ(r.err, "Can`t open " + path + " file");
            RunResult joined = tools_test::runJoined({tool("dict_bench"), path, "cat", "1", "Y", mmap});
            EXPECT_EQ(joined.out, notes + "Can`t open " + path + " file");
        }
    }
}

} // namespace
