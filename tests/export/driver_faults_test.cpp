// The dict_export driver over a misbehaving library (dict_export_fake, see
// fake_tarvo.cpp): errors raised during the enumeration and the elapsed time.
#include "run.h"
#include "timing_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using tarvo_test::run;
using tarvo_test::RunResult;

const std::string kBadLength = "Too long or negative string given for encode as quoted printable\n";

RunResult exportFake(std::vector<std::string> args) {
    args.insert(args.begin(), DICT_EXPORT_FAKE);
    return run(args);
}

struct FaultCase {
    std::vector<std::string> args;
    std::string listed; // the complete lines before the fault
    std::string err;
};

// The listing stops after the last complete line; the error's message goes
// to standard error and the status is 1.
TEST(DriverFaults, ErrorDuringEnumerationEndsListing) {
    const std::vector<FaultCase> cases = {
        {{"-d", "negative-word"}, "alpha\nbeta\n", kBadLength},
        {{"-d", "negative-word", "-W"}, "616C706861\n62657461\n", kBadLength},
        {{"-d", "negative-word", "-W", "-e", "base64"}, "YWxwaGE=\nYmV0YQ==\n", kBadLength},
        {{"-d", "negative-annot", "-a"}, "alpha!N\nbeta!XY\n", kBadLength},
        {{"-d", "negative-annot", "-A"}, "alpha!4E\nbeta!5859\n", kBadLength},
        {{"-d", "negative-annot", "-A", "-e", "base64"}, "alpha!Tg==\nbeta!WFk=\n", kBadLength},
        {{"-d", "negative-annot", "-t", "annots"}, "7!4E\n8!5859\n", kBadLength},
        {{"-d", "negative-annot", "-t", "annots", "-a"}, "7!N\n8!XY\n", kBadLength},
        {{"-d", "library-error", "-N"}, "alpha!7\nbeta!8\n", "damaged transition at offset 123\n"},
        {{"-d", "library-error", "-t", "annots"}, "7!4E\n8!5859\n",
         "damaged transition at offset 123\n"},
        // Timing is not reported for a listing that failed.
        {{"-d", "negative-word", "-b"}, "alpha\nbeta\n", kBadLength},
    };
    for (const FaultCase& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.args));
        RunResult r = exportFake(c.args);
        EXPECT_FALSE(r.signaled);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, c.listed);
        EXPECT_EQ(r.err, c.err);
    }
}

TEST(DriverFaults, ErrorDuringEnumerationKeepsCompleteLinesInFile) {
    tarvo_test::TempDir dir;
    std::string out = dir.file("list.txt");
    RunResult r = exportFake({"-d", "negative-word", "-o", out});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, kBadLength);
    EXPECT_EQ(tarvo_test::readFile(out), "alpha\nbeta\n");
}

// Fields that are not shown are not read: a bad annotation length in a plain
// word listing, or with numbers shown, does no harm.
TEST(DriverFaults, UnreadFieldsDoNotFail) {
    RunResult plain = exportFake({"-d", "negative-annot"});
    EXPECT_EQ(plain.status, 0);
    EXPECT_EQ(plain.out, "alpha\nbeta\ngamma\n");
    RunResult numbers = exportFake({"-d", "negative-annot", "-N"});
    EXPECT_EQ(numbers.status, 0);
    EXPECT_EQ(numbers.out, "alpha!7\nbeta!8\ngamma!9\n");
}

// The enumeration starts at the dictionary's own root state.
TEST(DriverFaults, EnumerationStartsAtRoot) {
    RunResult r = exportFake({"-d", "words", "-A"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, "alpha!4E\nbeta!5859\ngamma!5A\n");
}

TEST(DriverFaults, OpenFailureMessage) {
    RunResult r = exportFake({"-d", "fail:no such file"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "Can`t create libtarvo dict for 'fail:no such file' file(no such file)");
}

// The timing line measures elapsed time: a listing that spends 1.2 s
// waiting, with next to no processor time, reports at least 1.2 s.
TEST(DriverFaults, TimingIsElapsedTime) {
    RunResult r = exportFake({"-d", "slow", "-b"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "alpha\n");
    double seconds = 0;
    ASSERT_TRUE(export_test::parseTimingLine(r.err, seconds)) << r.err;
    EXPECT_GE(seconds, 1.15);
    EXPECT_LT(seconds, 30.0);
}

} // namespace
