// The reading tools in hostile surroundings: standard output on a full disk,
// closed, or a pipe whose reader goes away early. Each must end with a
// message naming the output and status 1, never die by SIGPIPE.
#include "format.h"
#include "run.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace {

using tarvo_test::RunResult;
using tarvo_test::TempDir;
using tarvo_test::tool;

constexpr int kTimeoutSeconds = 60;

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kAddressSanitizer = true;
#else
constexpr bool kAddressSanitizer = false;
#endif

// A dictionary whose listing and dump are far larger than a pipe holds:
// words of pseudo-random letters, which share little of their endings.
std::string buildLargeDict(const TempDir& dir) {
    std::string words = "word!N\n";
    uint32_t state = 12345;
    for (int i = 0; i < 20000; ++i) {
        for (int k = 0; k < 10; ++k) {
            state = state * 1103515245u + 12345u;
            words += char('a' + (state >> 16) % 26);
        }
        words += "!N" + std::to_string(i % 7) + "\n";
    }
    std::string path = dir.file("large.dict");
    RunResult built = tarvo_test::run({tool("dict_build"), "-a", "-o", path}, words, {}, kTimeoutSeconds);
    EXPECT_EQ(built.status, 0) << built.err;
    return path;
}

// A crafted file of a few hundred bytes that holds 2^40 words: 40 states,
// each with arcs on "a" and "b" to the next, the last one final. Its listing
// never ends in practice, so only a stop at the first failed write ends it.
std::string writeManyWordsDict(const TempDir& dir) {
    using namespace velkin::libtarvo;
    constexpr int kStates = 40;
    std::vector<uint8_t> fsa;
    for (int i = 0; i < kStates; ++i) fsa.insert(fsa.end(), {0x12, 'a', 'b', 5, 5});  // 2 arcs, 1-byte targets
    fsa.insert(fsa.end(), {0x80, 0x00});  // final, output 0
    HeaderRecord h{};
    h.magic = int32_t(format::kMagic);
    h.version = format::kVersion;
    h.alphabetOffset = 80;
    h.alphabetSize = 2;
    h.fsaOffset = 82;
    h.transCount = 2 * kStates;
    h.destSize = 1;
    h.charSize = 1;
    h.transSizeTotal = int32_t(fsa.size());
    h.annotOffset = h.fsaOffset + h.transSizeTotal;
    h.annotChunkSize = 1;  // numbers only: the one number in use, 0
    h.annotChunksCount = 1;
    std::vector<uint8_t> file(80);
    format::writeHeader(h, file.data());
    file.insert(file.end(), {'a', 'b'});
    file.insert(file.end(), fsa.begin(), fsa.end());
    file.push_back(0);
    format::storeN(file.data() + 4, format::fileChecksum(file.data(), file.size()), 4, false);
    std::string path = dir.file("many.dict");
    tarvo_test::writeFile(path, std::string(file.begin(), file.end()));
    return path;
}

// Runs `argv` under the shell with `redirection` applied to its standard
// output; the tool's status is appended to standard error as "status N".
// `prelude`: shell commands run first, such as limits.
RunResult runRedirected(const std::vector<std::string>& argv, const std::string& redirection,
                        const std::string& prelude = "") {
    std::vector<std::string> shell = {"/bin/sh", "-c", prelude + "\"$@\" " + redirection + "; echo \"status $?\" >&2",
                                      "sh"};
    shell.insert(shell.end(), argv.begin(), argv.end());
    return tarvo_test::run(shell, "", {}, kTimeoutSeconds);
}

// A reader that takes ten bytes and goes away.
RunResult runIntoShortReader(const std::vector<std::string>& argv) {
    std::vector<std::string> shell = {"/bin/sh", "-c", "{ \"$@\"; echo \"status $?\" >&2; } | head -c 10 >/dev/null", "sh"};
    shell.insert(shell.end(), argv.begin(), argv.end());
    return tarvo_test::run(shell, "", {}, kTimeoutSeconds);
}

struct ToolLine {
    const char* name;
    std::vector<std::string> args;  // after the program, DICT standing for the dictionary
    bool outlastsPipe;              // writes more than a pipe holds
};

const ToolLine kTools[] = {
    {"dict_export", {"-d", "DICT", "-a"}, true},
    {"dict_export", {"-d", "DICT", "-t", "annots"}, false},
    {"dict_dump", {"DICT"}, true},
    {"dict_header", {"DICT"}, false},
    {"dict_bench", {"DICT", "word", "10", "Y", "Y"}, false},
};

std::vector<std::string> argvFor(const ToolLine& t, const std::string& dict) {
    std::vector<std::string> argv = {tool(t.name)};
    for (const std::string& a : t.args) argv.push_back(a == "DICT" ? dict : a);
    return argv;
}

class Surroundings : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dir_ = new TempDir;
        dict_ = buildLargeDict(*dir_);
    }
    static void TearDownTestSuite() {
        delete dir_;
        dir_ = nullptr;
    }
    static TempDir* dir_;
    static std::string dict_;
};

// Standard output on a full disk, and closed, with the reason each gives.
struct BadOutput {
    const char* redirection;
    std::string reason;
};
const BadOutput kFullOrClosed[] = {
    {">/dev/full", "No space left on device"},
    {">&-", "Bad file descriptor"},
};

TempDir* Surroundings::dir_ = nullptr;
std::string Surroundings::dict_;

TEST_F(Surroundings, FullOrClosedStandardOutput) {
    for (const ToolLine& t : kTools) {
        for (const auto& output : kFullOrClosed) {
            SCOPED_TRACE(std::string(t.name) + " " + t.args.back() + " " + output.redirection);
            RunResult r = runRedirected(argvFor(t, dict_), output.redirection);
            EXPECT_FALSE(r.timedOut);
            EXPECT_EQ(r.err, "Can`t write to standard output (" + output.reason + ")\nstatus 1\n");
        }
    }
}

// Only a run whose output outlasts the pipe's buffer meets the closed end
// for certain.
TEST_F(Surroundings, ReaderGoesAwayEarly) {
    for (const ToolLine& t : kTools) {
        if (!t.outlastsPipe) continue;
        SCOPED_TRACE(std::string(t.name) + " " + t.args.back());
        RunResult r = runIntoShortReader(argvFor(t, dict_));
        EXPECT_FALSE(r.timedOut);
        EXPECT_EQ(r.err, "Can`t write to standard output (Broken pipe)\nstatus 1\n");
    }
}

// dict_export's named output: a full disk and a folder that does not exist.
TEST_F(Surroundings, ExportOutputFile) {
    RunResult full = tarvo_test::run({tool("dict_export"), "-d", dict_, "-N", "-o", "/dev/full"}, "", {}, kTimeoutSeconds);
    EXPECT_EQ(full.status, 1);
    EXPECT_EQ(full.out, "");
    EXPECT_EQ(full.err, "Can`t write '/dev/full' file (No space left on device)\n");

    std::string missing = dir_->file("no/such/dir/x");
    RunResult nowhere = tarvo_test::run({tool("dict_export"), "-d", dict_, "-o", missing}, "", {}, kTimeoutSeconds);
    EXPECT_EQ(nowhere.status, 1);
    EXPECT_EQ(nowhere.err, "Can`t create '" + missing + "' file\n");
}

// A listing far longer than its file stops at the first failed write.
TEST_F(Surroundings, EndlessListingStopsAtFirstFailedWrite) {
    std::string many = writeManyWordsDict(*dir_);
    std::vector<std::string> exportMany = {tool("dict_export"), "-d", many, "-N"};
    for (const auto& output : kFullOrClosed) {
        SCOPED_TRACE(output.redirection);
        RunResult r = runRedirected(exportMany, output.redirection);
        EXPECT_FALSE(r.timedOut);
        EXPECT_EQ(r.err, "Can`t write to standard output (" + output.reason + ")\nstatus 1\n");
    }
    RunResult pipe = runIntoShortReader(exportMany);
    EXPECT_FALSE(pipe.timedOut);
    EXPECT_EQ(pipe.err, "Can`t write to standard output (Broken pipe)\nstatus 1\n");
    std::vector<std::string> toFull = exportMany;
    toFull.insert(toFull.end(), {"-o", "/dev/full"});
    RunResult file = tarvo_test::run(toFull, "", {}, kTimeoutSeconds);
    EXPECT_FALSE(file.timedOut);
    EXPECT_EQ(file.status, 1);
    EXPECT_EQ(file.err, "Can`t write '/dev/full' file (No space left on device)\n");
    // A regular file, whose blocks are written on a thread of their own, that
    // cannot grow past a size limit, named and as standard output: what it
    // holds is where the listing begins.
    std::string limited = dir_->file("limited.txt");
    std::string begins = runRedirected(exportMany, "| head -c 1000000").out;
    for (const std::string& target : {"-o '" + limited + "'", ">'" + limited + "'"}) {
        SCOPED_TRACE(target);
        RunResult r = runRedirected(exportMany, target, "trap '' XFSZ; ulimit -f 128; ");
        EXPECT_FALSE(r.timedOut);
        std::string named = target[0] == '-' ? "'" + limited + "' file" : "to standard output";
        EXPECT_EQ(r.err, "Can`t write " + named + " (File too large)\nstatus 1\n");
        std::string held = tarvo_test::readFile(limited);
        EXPECT_GT(held.size(), 0u);
        EXPECT_EQ(held, begins.substr(0, held.size()));
    }
    // The other tools read it in time linear in the file.
    for (std::vector<std::string> argv : {std::vector<std::string>{tool("dict_dump"), many},
                                          {tool("dict_header"), many},
                                          {tool("dict_bench"), many, std::string(40, 'b'), "5", "Y", "Y"}}) {
        SCOPED_TRACE(argv[0]);
        RunResult r = runRedirected(argv, ">/dev/null");
        EXPECT_FALSE(r.timedOut);
        EXPECT_EQ(r.err, "status 0\n");
    }
}

// Written in full, the same tools end with status 0: the checks above find
// only real write errors.
TEST_F(Surroundings, SoundOutputIsNoError) {
    for (const ToolLine& t : kTools) {
        SCOPED_TRACE(std::string(t.name) + " " + t.args.back());
        RunResult r = runRedirected(argvFor(t, dict_), ">/dev/null");
        EXPECT_EQ(r.err, "status 0\n");
    }
}

// Two million numbered words, w0000000 to w1999999: a listing of 18 MB, far
// longer than the lines that may be spelled ahead of a full pipe, from a
// dictionary of a few hundred bytes.
std::string numberedWords() {
    std::string words;
    char line[16];
    for (int i = 0; i < 2000000; ++i) {
        std::snprintf(line, sizeof line, "w%07d\n", i);
        words += line;
    }
    return words;
}

// Lists `dict` into a pipe whose reader takes one byte, then runs `meanwhile`
// ($1 the dictionary, $2 `other`) and reads the rest; the listing's status
// follows its messages.
RunResult listWhile(const std::string& dict, const std::string& meanwhile, const std::string& other = "") {
    return tarvo_test::run({"/bin/sh", "-c",
                            "{ \"$0\" -d \"$1\"; echo \"status $?\" >&2; } |"
                            " { head -c 1; { " + meanwhile + "; } 2>/dev/null; cat; }",
                            tool("dict_export"), dict, other},
                           "", {}, kTimeoutSeconds);
}

// The dictionary is shortened while dict_export, held up by a full pipe,
// lists it: the listing reads the mapping past the file's new end, which
// faults. The run must end with a message and status 1, not die of SIGBUS.
TEST(ShortenedDictionary, ListingEndsWithAMessage) {
    TempDir dir;
    std::string dict = dir.file("numbers.dict");
    RunResult built = tarvo_test::run({tool("dict_build"), "-o", dict}, numberedWords(), {}, kTimeoutSeconds);
    ASSERT_EQ(built.status, 0) << built.err;
    RunResult r = listWhile(dict, "truncate -s 0 \"$1\"");
    EXPECT_FALSE(r.timedOut);
    EXPECT_EQ(r.err, "Can`t read the dictionary file (it was shortened, or the disk failed)\nstatus 1\n");
}

// Written over in place while dict_export, held up by a full pipe, lists it,
// the file keeping its size: zeros end the listing's paths early, and 'A's
// make targets that lead far outside the mapping, where a read faults with
// SIGSEGV. Either way the run must end with a message and status 1, never a
// crash or status 0 after a listing of two files mixed. A new file renamed
// over the old one is no change: the listing reads the old one to its end.
TEST(RewrittenDictionary, ListingEndsWithAMessage) {
    TempDir dir;
    const std::string words = numberedWords();
    std::string dict = dir.file("numbers.dict");
    std::string other = dir.file("other.dict");
    ASSERT_EQ(tarvo_test::run({tool("dict_build"), "-o", other}, "other\n", {}, kTimeoutSeconds).status, 0);
    const std::string changed = "Can`t read the dictionary file (it was changed while it was listed)\nstatus 1\n";
    struct Rewrite {
        const char* name;
        const char* command;  // $1 the dictionary, $2 another one
        bool listedInFull;
        bool readsPastTheFile;
    };
    const Rewrite rewrites[] = {
        {"zeros", "dd if=/dev/zero of=\"$1\" bs=1 seek=100 count=$(($(wc -c <\"$1\") - 100)) conv=notrunc", false,
         false},
        {"letters A",
         "head -c $(($(wc -c <\"$1\") - 100)) /dev/zero | tr '\\0' A | dd of=\"$1\" bs=1 seek=100 conv=notrunc", false,
         true},
        {"renamed over", "cp \"$2\" \"$1.new\" && mv \"$1.new\" \"$1\"", true, false},
    };
    for (const Rewrite& rewrite : rewrites) {
        SCOPED_TRACE(rewrite.name);
        // Under AddressSanitizer the mapping's bytes past the file are marked
        // unaddressable (mapping_guard.h): a wild read there is reported as
        // such before any fault or check can end the run.
        if (kAddressSanitizer && rewrite.readsPastTheFile) continue;
        RunResult built = tarvo_test::run({tool("dict_build"), "-o", dict}, words, {}, kTimeoutSeconds);
        ASSERT_EQ(built.status, 0) << built.err;
        RunResult r = listWhile(dict, rewrite.command, other);
        EXPECT_FALSE(r.timedOut);
        if (rewrite.listedInFull) {
            EXPECT_EQ(r.err, "status 0\n");
            EXPECT_TRUE(r.out == words) << r.out.size() << " bytes listed";
        } else {
            EXPECT_EQ(r.err, changed);
            EXPECT_LT(r.out.size(), words.size());
        }
    }
}

// The guard every run of this suite relies on: a program that outlives its
// time is killed, with whatever its shell started, and reported as hung.
TEST(RunTimeLimit, KillsTheWholeRun) {
    auto start = std::chrono::steady_clock::now();
    RunResult r = tarvo_test::run({"/bin/sh", "-c", "sleep 60 & wait"}, "", {}, 1);
    EXPECT_TRUE(r.timedOut);
    EXPECT_TRUE(r.signaled);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
}

} // namespace
