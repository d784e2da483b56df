// dict_export end to end: the real binary on dictionaries made by dict_build.
#include "run.h"
#include "timing_line.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <string>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

using tarvo_test::readFile;
using tarvo_test::run;
using tarvo_test::RunResult;
using tarvo_test::TempDir;
using tarvo_test::tool;

RunResult exportWith(std::vector<std::string> args, const std::vector<std::string>& env = {}) {
    return tarvo_test::runTool("dict_export", std::move(args), "", env);
}

// Builds a dictionary from `list` with dict_build and returns its path.
std::string buildDict(const TempDir& dir, const std::string& name, const std::string& list,
                      std::vector<std::string> buildArgs) {
    std::string input = dir.file(name + ".txt");
    std::string dict = dir.file(name + ".dict");
    tarvo_test::writeFile(input, list);
    std::vector<std::string> args = {tool("dict_build"), "-o", dict, "-i", input};
    args.insert(args.end(), buildArgs.begin(), buildArgs.end());
    RunResult r = run(args);
    EXPECT_EQ(r.status, 0) << r.err;
    return dict;
}

std::string usageOf(const std::string& program) {
    return "Usage [-v] " + program +
           " -d dict file [-o out file] [-s separator] [-t words|annots] [-e base64|hex] "
           "[-wWaAnNhb]\n";
}

// Five words, one holding the separator byte and one outside ASCII, with
// annotations numbered in order of first appearance:
//   a!b -> 00 FF (0), cat -> "N" (1), dog -> "N" (1), eel -> "XY" (2), łódź -> "Z" (3)
class Export : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dir_ = new TempDir;
        dict_ = buildDict(*dir_, "small",
                          "612162!00FF\n636174!4E\n646F67!4E\n65656C!5859\nC582C3B364C5BA!5A\n",
                          {"-W"});
    }
    static void TearDownTestSuite() {
        delete dir_;
        dir_ = nullptr;
    }
    static TempDir* dir_;
    static std::string dict_;
};

TempDir* Export::dir_ = nullptr;
std::string Export::dict_;

const std::string kLodz = "\xc5\x82\xc3\xb3" "d\xc5\xba";

struct ListingCase {
    std::vector<std::string> options;
    std::string expected;
};

// Every mode, encoding and separator, and later options overriding earlier
// ones.
const std::vector<ListingCase>& listingCases() {
    static const std::vector<ListingCase> cases = {
        {{}, "a!b\ncat\ndog\neel\n" + kLodz + "\n"},
        {{"-w"}, "a!b\ncat\ndog\neel\n" + kLodz + "\n"},
        {{"-W"}, "612162\n636174\n646F67\n65656C\nC582C3B364C5BA\n"},
        {{"-W", "-e", "base64"}, "YSFi\nY2F0\nZG9n\nZWVs\nxYLDs2TFug==\n"},
        {{"-A"}, "a!b!00FF\ncat!4E\ndog!4E\neel!5859\n" + kLodz + "!5A\n"},
        {{"-n"}, "a!b!00FF\ncat!4E\ndog!4E\neel!5859\n" + kLodz + "!5A\n"},
        {{"-a"}, std::string("a!b!\x00\xff\n", 7) + "cat!N\ndog!N\neel!XY\n" + kLodz + "!Z\n"},
        {{"-N"}, "a!b!0\ncat!1\ndog!1\neel!2\n" + kLodz + "!3\n"},
        {{"-A", "-e", "base64"}, "a!b!AP8=\ncat!Tg==\ndog!Tg==\neel!WFk=\n" + kLodz + "!Wg==\n"},
        {{"-A", "-W", "-e", "base64"},
         "YSFi!AP8=\nY2F0!Tg==\nZG9n!Tg==\nZWVs!WFk=\nxYLDs2TFug==!Wg==\n"},
        {{"-W", "-N"}, "612162!0\n636174!1\n646F67!1\n65656C!2\nC582C3B364C5BA!3\n"},
        {{"-A", "-s", ";"}, "a!b;00FF\ncat;4E\ndog;4E\neel;5859\n" + kLodz + ";5A\n"},
        {{"-N", "-s", "tab"}, "a!bt0\ncatt1\ndogt1\neelt2\n" + kLodz + "t3\n"},
        {{"-N", "-s", ""},
         std::string("a!b\0" "0\ncat\0" "1\ndog\0" "1\neel\0" "2\n", 24) + kLodz +
             std::string("\0" "3\n", 3)},
        {{"-t", "annots"}, "0!00FF\n1!4E\n2!5859\n3!5A\n"},
        {{"-t", "annots", "-a"}, std::string("0!\x00\xff\n", 5) + "1!N\n2!XY\n3!Z\n"},
        {{"-t", "annots", "-e", "base64"}, "0!AP8=\n1!Tg==\n2!WFk=\n3!Wg==\n"},
        {{"-t", "annots", "-s", ":", "-N", "-W"}, "0:00FF\n1:4E\n2:5859\n3:5A\n"},
        {{"-t", "words", "-N"}, "a!b!0\ncat!1\ndog!1\neel!2\n" + kLodz + "!3\n"},
        {{"-t", "Annots"}, "a!b\ncat\ndog\neel\n" + kLodz + "\n"},
        {{"-A", "-e", "hex"}, "a!b!00FF\ncat!4E\ndog!4E\neel!5859\n" + kLodz + "!5A\n"},
        {{"-A", "-e", "BASE64"}, "a!b!00FF\ncat!4E\ndog!4E\neel!5859\n" + kLodz + "!5A\n"},
        // Later options override earlier ones.
        {{"-a", "-A", "-e", "base64", "-e", "hex"},
         "a!b!00FF\ncat!4E\ndog!4E\neel!5859\n" + kLodz + "!5A\n"},
        {{"-N", "-n", "-a"}, std::string("a!b!\x00\xff\n", 7) + "cat!N\ndog!N\neel!XY\n" + kLodz + "!Z\n"},
        {{"-W", "-w", "-t", "annots", "-t", "words"}, "a!b\ncat\ndog\neel\n" + kLodz + "\n"},
        {{"-s", ";", "-s", "#", "-N"}, "a!b#0\ncat#1\ndog#1\neel#2\n" + kLodz + "#3\n"},
    };
    return cases;
}

TEST_F(Export, EveryModeEncodingAndSeparator) {
    for (const ListingCase& c : listingCases()) {
        SCOPED_TRACE(testing::PrintToString(c.options));
        std::vector<std::string> args = {"-d", dict_};
        args.insert(args.end(), c.options.begin(), c.options.end());
        RunResult r = exportWith(args);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(r.out, c.expected);
    }
}

// A named output file receives the same bytes as standard output; an empty
// -o argument means standard output.
TEST_F(Export, OutputFileAndStandardOutputAgree) {
    TempDir dir;
    for (const ListingCase& c : listingCases()) {
        SCOPED_TRACE(testing::PrintToString(c.options));
        std::string out = dir.file("out.txt");
        tarvo_test::writeFile(out, "old content, longer than some listings, to be truncated\n");
        std::vector<std::string> args = {"-d", dict_, "-o", out};
        args.insert(args.end(), c.options.begin(), c.options.end());
        RunResult toFile = exportWith(args);
        EXPECT_EQ(toFile.status, 0);
        EXPECT_EQ(toFile.out, "");
        EXPECT_EQ(readFile(out), c.expected);

        args[3] = "";
        RunResult emptyPath = exportWith(args);
        EXPECT_EQ(emptyPath.status, 0);
        EXPECT_EQ(emptyPath.out, c.expected);
    }
}

// A numbers-only dictionary hands no annotation bytes: the number is shown
// whenever the annotation field is.
TEST(ExportNumbersOnly, NumberShownForEveryAnnotationSwitch) {
    TempDir dir;
    std::string dict = buildDict(dir, "numbers", "cat!5\ndog!9\neel!4294967295\n", {"-N"});
    for (const char* option : {"-a", "-A", "-n", "-N"}) {
        SCOPED_TRACE(option);
        RunResult r = exportWith({"-d", dict, option});
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out, "cat!5\ndog!9\neel!4294967295\n");
    }
    EXPECT_EQ(exportWith({"-d", dict}).out, "cat\ndog\neel\n");
}

TEST(ExportLayouts, SparseAndBigEndianListTheSame) {
    TempDir dir;
    const std::string list = "cat!4E\ncats!4E\ndog!5859\n";
    const std::string expected = "cat!4E\ncats!4E\ndog!5859\n";
    for (std::vector<std::string> layout : {std::vector<std::string>{"-L", "sparse"},
                                            std::vector<std::string>{"-E", "big"},
                                            std::vector<std::string>{"-L", "sparse", "-E", "big"}}) {
        SCOPED_TRACE(testing::PrintToString(layout));
        std::string dict = buildDict(dir, "layout", list, layout);
        RunResult r = exportWith({"-d", dict, "-A"});
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out, expected);
    }
}

// Enough lines to cross the output stream's buffer many times.
TEST(ExportLarge, ListingCrossesStreamBuffers) {
    TempDir dir;
    std::string words;
    for (int i = 0; i < 120000; ++i) {
        char line[32];
        std::snprintf(line, sizeof line, "w%06d\n", i);
        words += line;
    }
    std::string dict = buildDict(dir, "large", words, {});
    RunResult r = exportWith({"-d", dict});
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(r.out == words) << "listing differs from the word list";
    std::string out = dir.file("large.out");
    EXPECT_EQ(exportWith({"-d", dict, "-o", out}).status, 0);
    EXPECT_TRUE(readFile(out) == words) << "file listing differs from the word list";
}

// Word lists whose listing the threads share unevenly: one first byte
// holding most words, with more lines after it than may wait in memory, and
// words too long to cut the rest of a span after. The listing must still be
// the list, byte for byte, however the threads meet.
TEST(ExportLarge, UnevenSpansAndLongWordsListInOrder) {
    std::string heavy;
    char line[32];
    for (int c = '0'; c <= '~'; ++c) {
        if (!std::isalnum(c) && c < '{') continue;
        for (int i = 0, count = c == 'a' ? 500000 : c > 'a' ? 20000 : 2000; i < count; ++i) {
            std::snprintf(line, sizeof line, "%c%06d\n", c, i);
            heavy += line;
        }
    }
    std::string longWords;
    for (int first = 0; first < 8; ++first)
        for (int second = 0; second < 100; ++second) {
            std::snprintf(line, sizeof line, "%c%03d", '0' + first, second);
            longWords += line + std::string(3000, char('a' + (first + second) % 26)) + "\n";
        }
    const std::pair<const char*, const std::string*> lists[] = {{"heavy", &heavy}, {"long", &longWords}};
    TempDir dir;
    for (const auto& [name, list] : lists) {
        SCOPED_TRACE(name);
        std::string dict = buildDict(dir, name, *list, {});
        for (int run = 0; run < 3; ++run) {
            RunResult r = exportWith({"-d", dict});
            EXPECT_EQ(r.status, 0) << r.err;
            ASSERT_TRUE(r.out == *list) << "listing differs from the word list";
        }
    }
}

TEST(ExportUsage, UsageOnStandardOutputWithStatusZero) {
    TempDir dir;
    const std::string program = tool("dict_export");
    const std::string out = dir.file("never.txt");
    struct Case {
        std::vector<std::string> args;
        std::string err;
    };
    const std::vector<Case> cases = {
        {{}, ""},
        {{"-h"}, ""},
        {{"-o", out, "-h"}, ""},
        {{"-o", out, "-x"}, program + ": illegal option -- x\n"},
        {{"-o", out, "-d"}, program + ": option requires an argument -- d\n"},
        {{"-o", out, "-:"}, ""},
        {{"--help"}, program + ": illegal option -- -\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.args));
        RunResult r = exportWith(c.args);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out, usageOf(program));
        EXPECT_EQ(r.err, c.err);
        EXPECT_FALSE(tarvo_test::fileExists(out));
    }
}

// The banner has no line feed, and nothing is opened: not the output file,
// not the dictionary.
TEST(ExportVersion, BannerOnly) {
    TempDir dir;
    const std::string out = dir.file("never.txt");
    for (std::vector<std::string> args :
         {std::vector<std::string>{"-v"},
          std::vector<std::string>{"-d", dir.file("missing.dict"), "-o", out, "-v", "-h"}}) {
        RunResult r = exportWith(args);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out, "libtarvo v0.3.1, self v0.3.1");
        EXPECT_EQ(r.err, "");
        EXPECT_FALSE(tarvo_test::fileExists(out));
    }
}

TEST(ExportFailures, CannotCreateOutput) {
    TempDir dir;
    std::string out = dir.file("no/such/dir/out.txt");
    RunResult r = exportWith({"-d", dir.file("missing.dict"), "-o", out});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "Can`t create '" + out + "' file\n");
}

// An output that is the dictionary file itself, by any name, is refused
// before anything is written: the dictionary stays as it was.
TEST_F(Export, OutputThatIsTheDictionaryIsRefused) {
    const std::string copy = dir_->file("own-output.dict");
    const std::string symlinked = dir_->file("own-output-symlink.dict");
    const std::string hardLinked = dir_->file("own-output-hardlink.dict");
    const std::string before = readFile(dict_);
    struct Case {
        const char* name;
        std::string command;  // $0 the tool, $1 the dictionary, $2 and $3 its other names
        std::string err;
    };
    const Case cases[] = {
        {"the same path", "\"$0\" -d \"$1\" -o \"$1\"",
         "Can`t create '" + copy + "' file (it is the dictionary file)\n"},
        {"a symbolic link", "\"$0\" -d \"$1\" -o \"$2\"",
         "Can`t create '" + symlinked + "' file (it is the dictionary file)\n"},
        {"a hard link", "\"$0\" -d \"$3\" -o \"$1\"",
         "Can`t create '" + copy + "' file (it is the dictionary file)\n"},
        {"standard output appended", "\"$0\" -d \"$1\" -A >>\"$1\"",
         "Can`t write to standard output (it is the dictionary file)\n"},
        {"standard output read and written", "\"$0\" -d \"$1\" 1<>\"$1\"",
         "Can`t write to standard output (it is the dictionary file)\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        tarvo_test::writeFile(copy, before);
        std::remove(symlinked.c_str());
        std::remove(hardLinked.c_str());
        ASSERT_EQ(::symlink(copy.c_str(), symlinked.c_str()), 0);
        ASSERT_EQ(::link(copy.c_str(), hardLinked.c_str()), 0);
        RunResult r = run({"/bin/sh", "-c", c.command + "; echo \"status $?\"", tool("dict_export"), copy,
                           symlinked, hardLinked});
        EXPECT_EQ(r.out, "status 1\n");
        EXPECT_EQ(r.err, c.err);
        EXPECT_EQ(readFile(copy), before);
    }
}

// The output file is created before the dictionary is opened, so it is left
// behind empty; the message has no line feed.
TEST(ExportFailures, CannotOpenDictionary) {
    TempDir dir;
    tarvo_test::writeFile(dir.file("text.dict"), "this is not a dictionary\n");
    tarvo_test::writeFile(dir.file("empty.dict"), "");
    for (std::string dict : {dir.file("missing.dict"), dir.file("text.dict"), dir.file("empty.dict"),
                             dir.path()}) {
        SCOPED_TRACE(dict);
        std::string out = dir.file("out.txt");
        tarvo_test::writeFile(out, "stale listing\n");
        RunResult r = exportWith({"-d", dict, "-o", out, "-A"});
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, "");
        std::string prefix = "Can`t create libtarvo dict for '" + dict + "' file(";
        EXPECT_EQ(r.err.substr(0, prefix.size()), prefix);
        EXPECT_GT(r.err.size(), prefix.size() + 1) << "no reason given";
        EXPECT_EQ(r.err.back(), ')');
        EXPECT_TRUE(tarvo_test::fileExists(out));
        EXPECT_EQ(readFile(out), "");
    }
}

// Without -d the source is opened on the empty path and the library's
// refusal is reported.
TEST(ExportFailures, NoDictionaryPath) {
    RunResult r = exportWith({"-A"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    std::string prefix = "Can`t create libtarvo dict for '' file(";
    EXPECT_EQ(r.err.substr(0, prefix.size()), prefix);
    EXPECT_EQ(r.err.back(), ')');
}

// Write errors are reported at the end, naming the output, with status 1;
// a closed or broken standard output does not kill the tool.
TEST_F(Export, WriteErrors) {
    RunResult full = exportWith({"-d", dict_, "-o", "/dev/full"});
    EXPECT_FALSE(full.signaled);
    EXPECT_EQ(full.status, 1);
    EXPECT_EQ(full.err, "Can`t write '/dev/full' file (No space left on device)\n");

    RunResult closed = run({"/bin/sh", "-c", "\"$0\" -d \"$1\" >&-; echo \"status $?\" >&2",
                            tool("dict_export"), dict_});
    EXPECT_EQ(closed.err, "Can`t write to standard output (Bad file descriptor)\nstatus 1\n");

    RunResult fullStdout = run({"/bin/sh", "-c", "\"$0\" -d \"$1\" >/dev/full; echo \"status $?\" >&2",
                                tool("dict_export"), dict_});
    EXPECT_EQ(fullStdout.err, "Can`t write to standard output (No space left on device)\nstatus 1\n");

    // Named, a closed standard descriptor is no more writable: the listing
    // must not go to what holds its place.
    const std::pair<std::string, std::string> closedByName[] = {
        {"/dev/stdout", ">&-"}, {"/dev/fd/1", ">&-"}, {"/proc/self/./fd/1", ">&-"}, {"/dev/stdin", "<&-"}};
    for (const auto& [named, redirection] : closedByName) {
        SCOPED_TRACE(named);
        RunResult r = run({"/bin/sh", "-c", "\"$0\" -d \"$1\" -o \"$2\" " + redirection + "; echo \"status $?\" >&2",
                           tool("dict_export"), dict_, named});
        EXPECT_EQ(r.err, "Can`t create '" + named + "' file\nstatus 1\n");
    }
}

// With standard error closed, the output file must not take its number:
// the refusal of a dictionary and the timing line go nowhere, and the file
// holds the listing alone.
TEST_F(Export, ClosedStandardErrorStaysOutOfTheOutputFile) {
    tarvo_test::writeFile(dir_->file("text.dict"), "this is not a dictionary\n");
    struct Case {
        std::string dict;
        const char* option;
        int status;
        std::string listed;
    };
    const Case cases[] = {
        {dir_->file("text.dict"), "-N", 1, ""},
        {dict_, "-b", 0, "a!b\ncat\ndog\neel\n" + kLodz + "\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.dict + " " + c.option);
        std::string out = dir_->file("closed-stderr.txt");
        RunResult r = run({"/bin/sh", "-c", "\"$0\" -d \"$1\" \"$2\" -o \"$3\" 2>&-; echo \"status $?\"",
                           tool("dict_export"), c.dict, c.option, out});
        EXPECT_EQ(r.out, "status " + std::to_string(c.status) + "\n");
        EXPECT_EQ(readFile(out), c.listed);
    }
}

TEST(ExportBrokenPipe, ReportedNotKilled) {
    TempDir dir;
    std::string words;
    for (int i = 0; i < 100000; ++i) words += "word" + std::to_string(1000000 + i) + "\n";
    std::string dict = buildDict(dir, "pipe", words, {});
    // The reader is gone at once; the listing is far larger than the pipe holds.
    RunResult r = run({"/bin/sh", "-c", "{ \"$0\" -d \"$1\"; echo \"status $?\" >&2; } | true",
                       tool("dict_export"), dict});
    EXPECT_EQ(r.err, "Can`t write to standard output (Broken pipe)\nstatus 1\n");
}

TEST_F(Export, TimingLine) {
    RunResult r = exportWith({"-d", dict_, "-b", "-N"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "a!b!0\ncat!1\ndog!1\neel!2\n" + kLodz + "!3\n");
    double seconds = -1;
    EXPECT_TRUE(export_test::parseTimingLine(r.err, seconds)) << r.err;
    EXPECT_GE(seconds, 0.0);
}

struct ScanCase {
    std::vector<std::string> args; // DICT stands for the dictionary's path
    std::vector<std::string> env;
    int status;
    std::string out;
};

// How the option scanner shapes what the driver sees: non-options are passed
// over (and options behind them seen), "--" ends the options, and
// POSIXLY_CORRECT stops at the first non-option.
TEST_F(Export, OptionScanning) {
    const std::string plain = "a!b\ncat\ndog\neel\n" + kLodz + "\n";
    const std::string numbers = "a!b!0\ncat!1\ndog!1\neel!2\n" + kLodz + "!3\n";
    const std::vector<ScanCase> cases = {
        {{"stray", "-d", "DICT", "more", "-N"}, {}, 0, numbers},
        {{"-dDICT", "-WN", "-w"}, {}, 0, numbers},
        {{"-Nd", "DICT"}, {}, 0, numbers},
        {{"-d", "DICT", "--", "-N"}, {}, 0, plain},
        {{"-d", "DICT", "-", "-N"}, {}, 0, numbers},
        {{"-d", "DICT", "stray", "-N"}, {"POSIXLY_CORRECT="}, 0, plain},
        {{"-d", "DICT", "-N", "stray"}, {"POSIXLY_CORRECT=1"}, 0, numbers},
        {{"-d", "DICT", "stray", "-N"}, {"-POSIXLY_CORRECT"}, 0, numbers},
    };
    for (const ScanCase& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.args) + testing::PrintToString(c.env));
        std::vector<std::string> args;
        for (std::string a : c.args) {
            std::size_t at = a.find("DICT");
            if (at != std::string::npos) a.replace(at, 4, dict_);
            args.push_back(a);
        }
        RunResult r = exportWith(args, c.env);
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(r.out, c.out);
        EXPECT_EQ(r.err, "");
    }
}

// Options hidden behind a non-option under POSIXLY_CORRECT are not seen:
// here the -d, so the empty path is opened and refused.
TEST_F(Export, PosixlyCorrectHidesDictionary) {
    RunResult r = exportWith({"stray", "-d", dict_}, {"POSIXLY_CORRECT=1"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err.rfind("Can`t create libtarvo dict for '' file(", 0), 0u) << r.err;
}

// An option's argument is the next element whatever it holds: "-s -W" makes
// the separator "-", and "-s --" does not end the options.
TEST_F(Export, ArgumentTakenVerbatim) {
    const std::string expected = "a!b-0\ncat-1\ndog-1\neel-2\n" + kLodz + "-3\n";
    for (const char* argument : {"-W", "--"}) {
        SCOPED_TRACE(argument);
        RunResult r = exportWith({"-d", dict_, "-s", argument, "-N"});
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out, expected);
    }
}

// Listings feed dict_build back: the annotation table and the numbered word
// list rebuild a dictionary that lists the same; so do encoded words with
// encoded annotations.
TEST_F(Export, RoundTripThroughDictBuild) {
    TempDir dir;
    std::string table = dir.file("table.txt");
    std::string numbered = dir.file("numbered.txt");
    ASSERT_EQ(exportWith({"-d", dict_, "-t", "annots", "-A", "-o", table}).status, 0);
    ASSERT_EQ(exportWith({"-d", dict_, "-W", "-N", "-o", numbered}).status, 0);
    std::string rebuilt = dir.file("rebuilt.dict");
    RunResult build = run({tool("dict_build"), "-o", rebuilt, "-T", table, "-N", "-W", "-i", numbered});
    ASSERT_EQ(build.status, 0) << build.err;

    std::string encoded = dir.file("encoded.txt");
    ASSERT_EQ(exportWith({"-d", dict_, "-W", "-A", "-e", "base64", "-o", encoded}).status, 0);
    std::string fromEncoded = dir.file("encoded.dict");
    build = run({tool("dict_build"), "-o", fromEncoded, "-W", "-A", "-e", "base64", "-i", encoded});
    ASSERT_EQ(build.status, 0) << build.err;

    for (const std::vector<std::string>& options :
         {std::vector<std::string>{"-t", "annots", "-A"}, std::vector<std::string>{"-W", "-N"},
          std::vector<std::string>{"-a"}, std::vector<std::string>{}}) {
        SCOPED_TRACE(testing::PrintToString(options));
        std::vector<std::string> original = {"-d", dict_};
        original.insert(original.end(), options.begin(), options.end());
        std::string expected = exportWith(original).out;
        for (const std::string& again : {rebuilt, fromEncoded}) {
            std::vector<std::string> args = {"-d", again};
            args.insert(args.end(), options.begin(), options.end());
            EXPECT_EQ(exportWith(args).out, expected) << again;
        }
    }
}

} // namespace
