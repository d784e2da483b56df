// The option scanner, driven by a table of argument vectors: each row gives
// the option string, the vector, the environment and opterr, then every call's
// result and state, the vector after the scan and the exact standard error.
#include "option_scanner.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace {

constexpr const char* kDriver = "d:o:s:t:e:wWaAnNhbv";
constexpr const char* kProgram = "dict_export";
constexpr const char* none = nullptr;

// The state after one call.
struct Call {
    int result;
    const char* optarg; // expected text, or null
    int optind;
    int optopt;
};

struct Row {
    const char* name;
    const char* optstring = kDriver;
    std::vector<std::string> args = {};  // the elements behind the program name
    const char* posixly = nullptr;       // value of POSIXLY_CORRECT; null: not set
    int opterr = 1;
    std::vector<Call> calls = {};        // every call made, in order
    std::vector<std::string> after = {}; // the elements after the scan; empty: unchanged
    std::string err = {};                // standard error, byte for byte
};

void PrintTo(const Row& row, std::ostream* os) { *os << row.name; }

const std::string kIllegal = std::string(kProgram) + ": illegal option -- ";
const std::string kRequires = std::string(kProgram) + ": option requires an argument -- ";

const std::vector<Row> kRows = {
    // Elements and clusters, with the driver's option string.
    {.name = "no_elements", .calls = {{-1, none, 1, 0}}},
    {.name = "cluster", .args = {"-wW"},
     .calls = {{'w', none, 1, 'w'}, {'W', none, 2, 'W'}, {-1, none, 2, 'W'}}},
    {.name = "argument_in_element", .args = {"-dX"},
     .calls = {{'d', "X", 2, 'd'}, {-1, none, 2, 'd'}}},
    {.name = "argument_in_cluster", .args = {"-wdX", "-w"},
     .calls = {{'w', none, 1, 'w'}, {'d', "X", 2, 'd'}, {'w', none, 3, 'w'}, {-1, none, 3, 'w'}}},
    {.name = "argument_is_next_element_whatever_it_holds",
     .args = {"-d", "-w", "-o", "", "-s", "--", "-w"},
     .calls = {{'d', "-w", 3, 'd'}, {'o', "", 5, 'o'}, {'s', "--", 7, 's'}, {'w', none, 8, 'w'},
               {-1, none, 8, 'w'}}},
    {.name = "missing_argument", .args = {"-d"},
     .calls = {{'?', none, 2, 'd'}, {-1, none, 2, 'd'}}, .err = kRequires + "d\n"},
    {.name = "missing_argument_ends_cluster", .args = {"-wd"},
     .calls = {{'w', none, 1, 'w'}, {'?', none, 2, 'd'}, {-1, none, 2, 'd'}},
     .err = kRequires + "d\n"},
    {.name = "illegal_option", .args = {"-x"},
     .calls = {{'?', none, 2, 'x'}, {-1, none, 2, 'x'}}, .err = kIllegal + "x\n"},
    {.name = "illegal_option_then_rest_of_cluster", .args = {"-xw"},
     .calls = {{'?', none, 1, 'x'}, {'w', none, 2, 'w'}, {-1, none, 2, 'w'}},
     .err = kIllegal + "x\n"},
    {.name = "both_messages", .args = {"-x", "-d"},
     .calls = {{'?', none, 2, 'x'}, {'?', none, 3, 'd'}, {-1, none, 3, 'd'}},
     .err = kIllegal + "x\n" + kRequires + "d\n"},
    {.name = "opterr_zero_writes_nothing", .args = {"-x", "-d"}, .opterr = 0,
     .calls = {{'?', none, 2, 'x'}, {'?', none, 3, 'd'}, {-1, none, 3, 'd'}}},
    {.name = "colon_is_looked_up_in_the_list", .args = {"-:"},
     .calls = {{':', none, 2, ':'}, {-1, none, 2, ':'}}},
    {.name = "end_marker", .args = {"--"}, .calls = {{-1, none, 2, 0}}},
    {.name = "end_marker_hides_the_rest", .args = {"--", "-w"}, .calls = {{-1, none, 2, 0}}},
    {.name = "call_after_minus_one_examines_anew", .args = {"--", "-w"},
     .calls = {{-1, none, 2, 0}, {'w', none, 3, 'w'}, {-1, none, 3, 'w'}}},
    {.name = "lone_dash_is_a_non_option", .args = {"-"}, .calls = {{-1, none, 1, 0}}},
    {.name = "empty_element_is_a_non_option", .args = {""}, .calls = {{-1, none, 1, 0}}},
    {.name = "double_dash_word_is_a_cluster", .args = {"--help"},
     .calls = {{'?', none, 1, '-'}, {'h', none, 1, 'h'}, {'e', "lp", 2, 'e'}, {-1, none, 2, 'e'}},
     .err = kIllegal + "-\n"},

    // Permutation.
    {.name = "permute_one_option", .args = {"A", "-w", "B"},
     .calls = {{'w', none, 2, 'w'}, {-1, none, 2, 'w'}, {-1, none, 2, 'w'}},
     .after = {"-w", "A", "B"}},
    {.name = "permute_option_with_argument_element", .args = {"A", "B", "-d", "F", "G"},
     .calls = {{'d', "F", 3, 'd'}, {-1, none, 3, 'd'}},
     .after = {"-d", "F", "A", "B", "G"}},
    {.name = "permute_partly_scanned_element", .args = {"A", "-wW"},
     .calls = {{'w', none, 2, 'w'}, {'W', none, 2, 'W'}, {-1, none, 2, 'W'}},
     .after = {"-wW", "A"}},
    {.name = "permute_cluster_ending_in_argument", .args = {"A", "-wd", "F", "G"},
     .calls = {{'w', none, 2, 'w'}, {'d', "F", 3, 'd'}, {-1, none, 3, 'd'}},
     .after = {"-wd", "F", "A", "G"}},
    {.name = "permute_two_skipped_partly_scanned", .args = {"A", "B", "-wd", "F", "C"},
     .calls = {{'w', none, 3, 'w'}, {'d', "F", 3, 'd'}, {-1, none, 3, 'd'}},
     .after = {"-wd", "F", "A", "B", "C"}},
    {.name = "permute_to_end_marker", .args = {"A", "--", "-w"},
     .calls = {{-1, none, 2, 0}}, .after = {"--", "A", "-w"}},
    {.name = "permute_passes_over_lone_dash_and_empty", .args = {"-", "", "-w"},
     .calls = {{'w', none, 2, 'w'}, {-1, none, 2, 'w'}}, .after = {"-w", "-", ""}},
    {.name = "permute_whole_vector",
     .args = {"A", "-w", "B", "C", "-d", "F", "G", "--", "H", "-w"},
     .calls = {{'w', none, 2, 'w'}, {'d', "F", 4, 'd'}, {-1, none, 5, 'd'}},
     .after = {"-w", "-d", "F", "--", "A", "B", "C", "G", "H", "-w"}},
    {.name = "permute_missing_argument", .args = {"A", "-d"},
     .calls = {{'?', none, 2, 'd'}, {-1, none, 2, 'd'}}, .after = {"-d", "A"},
     .err = kRequires + "d\n"},
    {.name = "permute_missing_argument_after_partly_scanned", .args = {"A", "B", "-wd"},
     .calls = {{'w', none, 3, 'w'}, {'?', none, 2, 'd'}, {-1, none, 2, 'd'}},
     .after = {"-wd", "A", "B"}, .err = kRequires + "d\n"},
    {.name = "permute_illegal_option_finishing_element", .args = {"A", "-wx"},
     .calls = {{'w', none, 2, 'w'}, {'?', none, 2, 'x'}, {-1, none, 2, 'x'}},
     .after = {"-wx", "A"}, .err = kIllegal + "x\n"},
    {.name = "permute_optional_argument_left_out", .optstring = "wx::", .args = {"A", "-wx", "B"},
     .calls = {{'w', none, 2, 'w'}, {'x', none, 2, 'x'}, {-1, none, 2, 'x'}},
     .after = {"-wx", "A", "B"}},

    // POSIXLY_CORRECT: stop at the first non-option, no prefix.
    {.name = "posixly_correct_stops", .args = {"A", "-w"}, .posixly = "1",
     .calls = {{-1, none, 1, 0}}},
    {.name = "posixly_correct_empty_value_stops", .args = {"-w", "A", "-W"}, .posixly = "",
     .calls = {{'w', none, 2, 'w'}, {-1, none, 2, 'w'}}},
    {.name = "posixly_correct_plus_is_an_option", .optstring = "+d:", .args = {"-+"},
     .posixly = "1", .calls = {{'+', none, 2, '+'}, {-1, none, 2, '+'}}},
    {.name = "plus_prefix_is_not_an_option", .optstring = "+d:", .args = {"-+"},
     .calls = {{'?', none, 2, '+'}, {-1, none, 2, '+'}}, .err = kIllegal + "+\n"},
    {.name = "posixly_correct_minus_is_an_option", .optstring = "-d:", .args = {"--x", "A", "-d"},
     .posixly = "1",
     .calls = {{'-', none, 1, '-'}, {'?', none, 2, 'x'}, {-1, none, 2, 'x'}},
     .err = kIllegal + "x\n"},
    {.name = "posixly_correct_colon_is_in_the_list", .optstring = ":d:", .args = {"-:", "-d"},
     .posixly = "", .calls = {{':', none, 2, ':'}, {'?', none, 3, 'd'}, {-1, none, 3, 'd'}},
     .err = kRequires + "d\n"},

    // Prefixes of the option string.
    {.name = "colon_mode_still_writes_message", .optstring = ":d:", .args = {"-d"},
     .calls = {{':', none, 2, 'd'}, {-1, none, 2, 'd'}}, .err = kRequires + "d\n"},
    {.name = "colon_mode_permutes", .optstring = ":d:", .args = {"A", "-d"},
     .calls = {{':', none, 2, 'd'}, {-1, none, 2, 'd'}}, .after = {"-d", "A"},
     .err = kRequires + "d\n"},
    {.name = "colon_mode_silent_with_opterr_zero", .optstring = ":d:", .args = {"-d"},
     .opterr = 0, .calls = {{':', none, 2, 'd'}, {-1, none, 2, 'd'}}},
    {.name = "plus_stops", .optstring = "+d:", .args = {"A", "-d"}, .calls = {{-1, none, 1, 0}}},
    {.name = "plus_colon_mode_off", .optstring = "+d:", .args = {"-d"},
     .calls = {{'?', none, 2, 'd'}, {-1, none, 2, 'd'}}, .err = kRequires + "d\n"},
    {.name = "minus_in_order", .optstring = "-d:", .args = {"A", "-d"},
     .calls = {{1, "A", 2, 0}, {'?', none, 3, 'd'}, {-1, none, 3, 'd'}},
     .err = kRequires + "d\n"},
    {.name = "minus_in_order_keeps_order", .optstring = "-w",
     .args = {"-w", "A", "-", "-w", "--", "C"},
     .calls = {{'w', none, 2, 'w'}, {1, "A", 3, 'w'}, {1, "-", 4, 'w'}, {'w', none, 5, 'w'},
               {-1, none, 6, 'w'}, {1, "C", 7, 'w'}, {-1, none, 7, 'w'}}},
    {.name = "minus_colon_in_order_colon_mode", .optstring = "-:d:", .args = {"A", "-d"},
     .calls = {{1, "A", 2, 0}, {':', none, 3, 'd'}, {-1, none, 3, 'd'}},
     .err = kRequires + "d\n"},
    {.name = "colon_minus_in_order_colon_mode", .optstring = ":-d:", .args = {"A", "-d"},
     .calls = {{1, "A", 2, 0}, {':', none, 3, 'd'}, {-1, none, 3, 'd'}},
     .err = kRequires + "d\n"},
    {.name = "colon_plus_stops", .optstring = ":+wd:", .args = {"-w", "A", "-d"},
     .calls = {{'w', none, 2, 'w'}, {-1, none, 2, 'w'}}},
    {.name = "colon_plus_colon_mode", .optstring = ":+wd:", .args = {"-d"},
     .calls = {{':', none, 2, 'd'}, {-1, none, 2, 'd'}}, .err = kRequires + "d\n"},
    {.name = "plus_colon_stops", .optstring = "+:w", .args = {"-w", "-:", "A", "-w"},
     .calls = {{'w', none, 2, 'w'}, {'?', none, 3, ':'}, {-1, none, 3, ':'}},
     .err = kIllegal + ":\n"},
    {.name = "plus_colon_colon_mode", .optstring = "+:wd:", .args = {"-d"},
     .calls = {{':', none, 2, 'd'}, {-1, none, 2, 'd'}}, .err = kRequires + "d\n"},
    {.name = "second_colon_belongs_to_list", .optstring = ":+:w", .args = {"-:", "-+", "A", "-w"},
     .calls = {{':', none, 2, ':'}, {'?', none, 3, '+'}, {-1, none, 3, '+'}},
     .err = kIllegal + "+\n"},

    // Optional arguments and "W;".
    {.name = "optional_argument_in_element", .optstring = "x::", .args = {"-xv"},
     .calls = {{'x', "v", 2, 'x'}, {-1, none, 2, 'x'}}},
    {.name = "optional_argument_never_next_element", .optstring = "x::", .args = {"-x", "v"},
     .calls = {{'x', none, 2, 'x'}, {-1, none, 2, 'x'}}},
    {.name = "optional_argument_in_cluster", .optstring = "wx::", .args = {"-wxv"},
     .calls = {{'w', none, 1, 'w'}, {'x', "v", 2, 'x'}, {-1, none, 2, 'x'}}},
    {.name = "w_semicolon_required", .optstring = "W;", .args = {"-Wv", "-W", "u"},
     .calls = {{'W', "v", 2, 'W'}, {'W', "u", 4, 'W'}, {-1, none, 4, 'W'}}},
    {.name = "w_semicolon_missing", .optstring = "W;", .args = {"-W"},
     .calls = {{'?', none, 2, 'W'}, {-1, none, 2, 'W'}}, .err = kRequires + "W\n"},
    {.name = "w_semicolon_colon_optional", .optstring = "W;:", .args = {"-Wv", "-W", "u"},
     .calls = {{'W', "v", 2, 'W'}, {'W', none, 3, 'W'}, {-1, none, 3, 'W'}}},
    {.name = "w_semicolon_colon_optional_last", .optstring = "W;:", .args = {"-W"},
     .calls = {{'W', none, 2, 'W'}, {-1, none, 2, 'W'}}},
    {.name = "semicolon_after_other_character", .optstring = "x;", .args = {"-x", "v", "-;"},
     .calls = {{'x', none, 2, 'x'}, {';', none, 3, ';'}, {-1, none, 3, ';'}},
     .after = {"-x", "-;", "v"}},

    // Bytes above 127 come back as negative numbers.
    {.name = "high_byte_declared", .optstring = "\xe9", .args = {"-\xe9"},
     .calls = {{-23, none, 2, -23}, {-1, none, 2, -23}}},
    {.name = "byte_255_looks_like_the_end", .optstring = "\xffw", .args = {"-\xffw"},
     .calls = {{-1, none, 1, -1}, {'w', none, 2, 'w'}, {-1, none, 2, 'w'}}},
    {.name = "high_byte_undeclared", .args = {"-\xe9"},
     .calls = {{'?', none, 2, -23}, {-1, none, 2, -23}}, .err = kIllegal + "\xe9\n"},
    {.name = "high_byte_missing_argument", .optstring = "\xe9:", .args = {"-\xe9"},
     .calls = {{'?', none, 2, -23}, {-1, none, 2, -23}}, .err = kRequires + "\xe9\n"},
};

// Sends file descriptor 2 to a temporary file while `body` runs; returns what was written.
template <class Body>
std::string captureStderr(Body body) {
    std::fflush(stderr);
    std::FILE* sink = std::tmpfile();
    const int saved = dup(2);
    dup2(fileno(sink), 2);
    body();
    std::fflush(stderr);
    dup2(saved, 2);
    close(saved);
    std::string text;
    std::rewind(sink);
    for (int c = std::fgetc(sink); c != EOF; c = std::fgetc(sink))
        text.push_back(static_cast<char>(c));
    std::fclose(sink);
    return text;
}

void setPosixlyCorrect(const char* value) {
    if (value == nullptr)
        unsetenv("POSIXLY_CORRECT");
    else
        setenv("POSIXLY_CORRECT", value, 1);
}

// Whether `p` points into one of the argument strings (optarg is never a copy).
bool pointsIntoArguments(const char* p, std::vector<std::string>& text) {
    return std::any_of(text.begin(), text.end(), [p](std::string& s) {
        return p >= s.data() && p <= s.data() + s.size();
    });
}

// An argument vector over strings owned by the test, with argv[argc] null.
struct Vector {
    std::vector<std::string> text;
    std::vector<char*> argv;

    explicit Vector(const std::vector<std::string>& args) : text{kProgram} {
        text.insert(text.end(), args.begin(), args.end());
        for (std::string& s : text)
            argv.push_back(s.data());
        argv.push_back(nullptr);
    }
    int argc() const { return static_cast<int>(text.size()); }
    std::vector<std::string> elements() const {
        return std::vector<std::string>(argv.begin() + 1, argv.end() - 1);
    }
};

// Keeps POSIXLY_CORRECT and the scanner state from leaking between tests.
class ScannerTest : public testing::Test {
protected:
    void SetUp() override {
        if (const char* value = std::getenv("POSIXLY_CORRECT"))
            saved_ = value;
        setPosixlyCorrect(nullptr);
        dictexport::resetScanner();
    }
    void TearDown() override {
        setPosixlyCorrect(saved_ ? saved_->c_str() : nullptr);
        dictexport::resetScanner();
    }

private:
    std::optional<std::string> saved_;
};

class ScannerTable : public ScannerTest, public testing::WithParamInterface<Row> {};

struct Seen {
    int result;
    char* optarg;
    int optind;
    int optopt;
    int optpos;
};

TEST_P(ScannerTable, Scan) {
    const Row& row = GetParam();
    Vector v(row.args);
    const std::vector<std::string> original = v.text;
    const std::vector<char*> pointers = v.argv;
    setPosixlyCorrect(row.posixly);
    dictexport::opterr = row.opterr;

    std::vector<Seen> seen;
    const std::string err = captureStderr([&] {
        for (size_t i = 0; i < row.calls.size(); ++i) {
            const int result = dictexport::getopt(v.argc(), v.argv.data(), row.optstring);
            seen.push_back({result, dictexport::optarg, dictexport::optind, dictexport::optopt,
                            dictexport::optpos});
        }
    });

    for (size_t i = 0; i < row.calls.size(); ++i) {
        SCOPED_TRACE("call " + std::to_string(i + 1));
        const Call& want = row.calls[i];
        const Seen& got = seen[i];
        EXPECT_EQ(got.result, want.result);
        EXPECT_EQ(got.optind, want.optind);
        EXPECT_EQ(got.optopt, want.optopt);
        if (want.optarg == nullptr) {
            EXPECT_EQ(got.optarg, nullptr);
        } else if (got.optarg == nullptr) {
            ADD_FAILURE() << "optarg is null, expected \"" << want.optarg << "\"";
        } else {
            EXPECT_STREQ(got.optarg, want.optarg);
            EXPECT_TRUE(pointsIntoArguments(got.optarg, v.text));
        }
        // A declared byte 255 or 1 also gives -1 or 1, from inside an element.
        if ((got.result == -1 || got.result == 1) && got.result != got.optopt) {
            EXPECT_EQ(got.optpos, 0) << "-1 and 1 leave the scanner between elements";
        }
    }
    EXPECT_EQ(v.elements(), row.after.empty() ? row.args : row.after);
    EXPECT_TRUE(std::is_permutation(v.argv.begin(), v.argv.end(), pointers.begin()))
        << "only the pointers move";
    EXPECT_EQ(v.argv[0], pointers[0]);
    EXPECT_EQ(v.text, original) << "the strings are never written";
    EXPECT_EQ(err, row.err);
}

INSTANTIATE_TEST_SUITE_P(Rows, ScannerTable, testing::ValuesIn(kRows),
                         [](const testing::TestParamInfo<Row>& info) {
                             return std::string(info.param.name);
                         });

TEST_F(ScannerTest, PosixlyCorrectIsReadOnEveryCall) {
    Vector v({"-w", "A", "-W"});
    EXPECT_EQ(dictexport::getopt(v.argc(), v.argv.data(), kDriver), 'w');
    setPosixlyCorrect("1");
    EXPECT_EQ(dictexport::getopt(v.argc(), v.argv.data(), kDriver), -1);
    EXPECT_EQ(dictexport::optind, 2);
    setPosixlyCorrect(nullptr);
    EXPECT_EQ(dictexport::getopt(v.argc(), v.argv.data(), kDriver), 'W');
    EXPECT_EQ(dictexport::optind, 3);
    EXPECT_EQ(dictexport::getopt(v.argc(), v.argv.data(), kDriver), -1);
    EXPECT_EQ(v.elements(), (std::vector<std::string>{"-w", "-W", "A"}));
}

TEST_F(ScannerTest, OpterrIsReadOnEveryCall) {
    Vector v({"-xy"});
    const std::string err = captureStderr([&] {
        dictexport::getopt(v.argc(), v.argv.data(), kDriver);
        dictexport::opterr = 0;
        dictexport::getopt(v.argc(), v.argv.data(), kDriver);
    });
    EXPECT_EQ(err, kIllegal + "x\n");
    EXPECT_EQ(dictexport::optopt, 'y');
    EXPECT_EQ(dictexport::optind, 2);
}

TEST_F(ScannerTest, ResetScannerStartsAFreshScan) {
    // Leave an element partly scanned, with a non-option passed over to reach it.
    Vector first({"A", "-wW"});
    ASSERT_EQ(dictexport::getopt(first.argc(), first.argv.data(), kDriver), 'w');
    ASSERT_NE(dictexport::optpos, 0);
    dictexport::opterr = 0;

    dictexport::resetScanner();
    EXPECT_EQ(dictexport::optind, 1);
    EXPECT_EQ(dictexport::optpos, 0);
    EXPECT_EQ(dictexport::optarg, nullptr);
    EXPECT_EQ(dictexport::optopt, 0);
    EXPECT_EQ(dictexport::opterr, 1);
    EXPECT_EQ(dictexport::optskip, -1);

    Vector second({"-dX", "B"});
    EXPECT_EQ(dictexport::getopt(second.argc(), second.argv.data(), kDriver), 'd');
    EXPECT_STREQ(dictexport::optarg, "X");
    EXPECT_EQ(dictexport::getopt(second.argc(), second.argv.data(), kDriver), -1);
    EXPECT_EQ(dictexport::optind, 2);
    EXPECT_EQ(second.elements(), (std::vector<std::string>{"-dX", "B"}));
}

} // namespace
