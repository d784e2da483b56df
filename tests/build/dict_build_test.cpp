// dict_build end to end: the real binary on inputs written into a temporary
// directory, its dictionaries read back through the library.
#include "run.h"
#include "tarvo.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <ostream>
#include <random>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace {

using namespace std::string_literals;
using tarvo_test::fileExists;
using tarvo_test::readFile;
using tarvo_test::run;
using tarvo_test::RunResult;
using tarvo_test::runTool;
using tarvo_test::TempDir;
using tarvo_test::tool;
using tarvo_test::writeFile;
namespace lt = velkin::libtarvo;
using Args = std::vector<std::string>;

// ---------------------------------------------------------------------------
// Reading a dictionary back through the library.

// One word as the library lists it; `bytes` is absent in a numbers-only
// dictionary.
struct Entry {
    std::string word;
    std::optional<std::string> bytes;
    uint32_t number;
    bool operator==(const Entry&) const = default;
};
using Listing = std::vector<Entry>;

std::string hex(const std::string& bytes) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : bytes) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

void PrintTo(const Entry& e, std::ostream* os) {
    *os << "{word " << hex(e.word) << ", bytes " << (e.bytes ? hex(*e.bytes) : "(numbers only)") << ", number "
        << e.number << "}";
}

int32_t collectWord(const uint8_t* word, int32_t length, const lt::AnnotRecord* annot, void* context) {
    Entry e{std::string(reinterpret_cast<const char*>(word), size_t(length)), std::nullopt, annot->number};
    if (annot->data) e.bytes.emplace(reinterpret_cast<const char*>(annot->data), size_t(annot->length));
    static_cast<Listing*>(context)->push_back(std::move(e));
    return 1;
}

int32_t collectAnnot(const lt::AnnotRecord* annot, void* context) {
    static_cast<std::vector<std::pair<uint32_t, std::string>>*>(context)->emplace_back(
        annot->number, std::string(reinterpret_cast<const char*>(annot->data), size_t(annot->length)));
    return 1;
}

// Every listed word must also be found by the flat interface's walk, with
// the same number.
void expectWalksAgree(const std::string& path, const Listing& list) {
    char reason[TARVO_ERROR_TEXT_SIZE] = "";
    TarvoHandle h = tarvo_open(path.c_str(), 0, reason);
    ASSERT_NE(h, nullptr) << reason;
    char scratch[20];
    for (const Entry& e : list)
        EXPECT_EQ(tarvo_walk(h, e.word.data(), int32_t(e.word.size()), tarvo_get_root(h), scratch),
                  int32_t(e.number))
            << "walk of " << hex(e.word);
    tarvo_close(h);
}

// The words of the dictionary at `path`, in the library's order.
Listing listWords(const std::string& path) {
    lt::FileSource source;
    source.open(path.c_str());
    std::unique_ptr<lt::Dict> dict = lt::Dict::create(source, false);
    Listing list;
    dict->forEachWord(dict->root, collectWord, &list);
    expectWalksAgree(path, list);
    return list;
}

// The annotation table: number and bytes, in number order.
std::vector<std::pair<uint32_t, std::string>> listAnnots(const std::string& path) {
    lt::FileSource source;
    source.open(path.c_str());
    std::unique_ptr<lt::Dict> dict = lt::Dict::create(source, false);
    std::vector<std::pair<uint32_t, std::string>> list;
    dict->forEachAnnot(collectAnnot, &list);
    return list;
}

HeaderRecord headerOf(const std::string& path) {
    char reason[TARVO_ERROR_TEXT_SIZE] = "";
    TarvoHandle h = tarvo_open(path.c_str(), 0, reason);
    if (!h) throw std::runtime_error("cannot open " + path + ": " + reason);
    HeaderRecord header = *tarvo_header(h);
    tarvo_close(h);
    return header;
}

// ---------------------------------------------------------------------------
// Running the tools.

RunResult build(const Args& args, const std::string& input = "") { return runTool("dict_build", args, input); }

Args operator+(Args a, const Args& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

std::string usageLine() {
    return "Usage: " + tool("dict_build") +
           " -o DICT [-i INPUT] [-s SEP] [-e base64|hex] [-w|-W] [-a|-A] [-N] [-T TABLE]"
           " [-L compact|sparse] [-E little|big] [-M MIB] [-h] [-v]\n";
}

std::set<std::string> namesIn(const std::string& dir) {
    std::set<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir)) names.insert(e.path().filename().string());
    return names;
}

// The four layout and byte order choices.
const std::vector<Args>& layouts() {
    static const std::vector<Args> all = {
        {"-L", "compact", "-E", "little"}, {"-L", "sparse", "-E", "little"},
        {"-L", "compact", "-E", "big"}, {"-L", "sparse", "-E", "big"}};
    return all;
}

// ---------------------------------------------------------------------------
// A varied word set: the empty word, every byte value alone, random words over
// all 256 bytes (the separator and the line feed among them), and families
// that share prefixes and endings. Unique, in byte order.

struct Word {
    std::string word;
    std::string annot;
};

std::vector<Word> variedWords() {
    const std::vector<std::string> annots = {"", "N", "noun:sg", "\n", "a!b", "\0\xff"s, "verb", "x"};
    std::mt19937 random(20240611);
    std::set<std::string> words = {""};
    for (int b = 0; b < 256; ++b) words.insert(std::string(1, char(b)));
    for (int i = 0; i < 300; ++i) {
        std::string w(1 + random() % 10, '\0');
        for (char& c : w) c = char(random() % 256);
        words.insert(w);
    }
    for (const char* stem : {"walk", "talk", "stalk", "balk"})
        for (const char* ending : {"", "s", "ed", "ing", "er", "ers"}) words.insert(std::string(stem) + ending);
    std::vector<Word> list;
    for (const std::string& w : words) list.push_back({w, annots[random() % annots.size()]});
    return list;
}

// Lines WORD!ANNOT with both fields in hexadecimal (-W -A).
std::string encodedLines(const std::vector<Word>& list) {
    std::string text;
    for (const Word& w : list) text += hex(w.word) + "!" + hex(w.annot) + "\n";
    return text;
}

// ---------------------------------------------------------------------------
// Input forms: each row's input on standard input, the dictionary listed back.

struct FormCase {
    const char* name;
    Args options;
    std::string input;
    Listing expected;
};

const std::vector<FormCase>& formCases() {
    static const std::vector<FormCase> cases = {
        {"raw annotations", {"-a"}, "cat!N\ndog!N\neel!XY\n", {{"cat", "N", 0}, {"dog", "N", 0}, {"eel", "XY", 1}}},
        {"hexadecimal annotations by default, either case", {}, "cat!4e\ndog!4E\neel!5859\n",
         {{"cat", "N", 0}, {"dog", "N", 0}, {"eel", "XY", 1}}},
        {"-A after -a", {"-a", "-A"}, "cat!4E\n", {{"cat", "N", 0}}},
        {"base64 annotations", {"-e", "base64"}, "a!AP8=\nb!Tg==\nc!WFk=\nd!\ne!WFla\n",
         {{"a", "\0\xff"s, 0}, {"b", "N", 1}, {"c", "XY", 2}, {"d", "", 3}, {"e", "XYZ", 4}}},
        {"hexadecimal words", {"-W"}, "612162!4E\n0A!4E\n00FF!5A\n!00\n",
         {{"", "\0"s, 2}, {"\0\xff"s, "Z", 1}, {"\n", "N", 0}, {"a!b", "N", 0}}},
        {"base64 words", {"-W", "-e", "base64"}, "YSFi!Tg==\nCg==!Tg==\n!\n",
         {{"", "", 1}, {"\n", "N", 0}, {"a!b", "N", 0}}},
        {"-w after -W", {"-W", "-w", "-a"}, "4E!x\n", {{"4E", "x", 0}}},
        {"raw words hold any byte but the line feed", {"-a"}, "a\0b!x\n\xff\x01\n"s,
         {{"a\0b"s, "x", 0}, {"\xff\x01", "", 1}}},
        {"separator ';'", {"-a", "-s", ";"}, "a!b;x\nc;y\n", {{"a!b", "x", 0}, {"c", "y", 1}}},
        {"tab separator", {"-a", "-s", "\t"}, "cat\tN\n", {{"cat", "N", 0}}},
        {"separator above 0x7F", {"-a", "-s", "\xff"}, "a!b\xffx\xfey\n", {{"a!b", "x\xfey", 0}}},
        {"empty separator: the zero byte", {"-a", "-s", ""}, "a!b\0N\nc\0\0\n"s,
         {{"a!b", "N", 0}, {"c", "\0"s, 1}}},
        {"split at the first separator", {"-a"}, "a!b!c\nd;e;f\n", {{"a", "b!c", 0}, {"d;e;f", "", 1}}},
        {"split at the first ';'", {"-a", "-s", ";"}, "x;y;z\n", {{"x", "y;z", 0}}},
        {"no separator: the empty annotation", {"-a"}, "cat\ndog!\neel!E\n",
         {{"cat", "", 0}, {"dog", "", 0}, {"eel", "E", 1}}},
        {"empty line: the empty word", {"-a"}, "b!x\n\nc!y\n", {{"", "", 1}, {"b", "x", 0}, {"c", "y", 2}}},
        {"empty word with an annotation", {"-a"}, "!x\n", {{"", "x", 0}}},
        {"last line without a line feed", {"-a"}, "a!x\nb!y", {{"a", "x", 0}, {"b", "y", 1}}},
        {"a single line without a line feed", {"-a"}, "b", {{"b", "", 0}}},
        {"carriage return kept as data", {"-a"}, "cat!N\r\ndog\r\n", {{"cat", "N\r", 0}, {"dog\r", "", 1}}},
        {"numbers by first appearance", {"-a"}, "zeta!C\nalpha!B\nmid!C\nbeta!A\n",
         {{"alpha", "B", 1}, {"beta", "A", 2}, {"mid", "C", 0}, {"zeta", "C", 0}}},
        {"numbers only", {"-N"}, "b!7\na!0\nc!4294967295\nd!7\n",
         {{"a", {}, 0}, {"b", {}, 7}, {"c", {}, 4294967295u}, {"d", {}, 7}}},
        {"numbers with the zero byte separator", {"-N", "-s", ""}, "a\0" "12\nb\0" "3\n"s,
         {{"a", {}, 12}, {"b", {}, 3}}},
        {"duplicates collapse", {"-a"}, "a!x\na!x\nb!y\na!x\nb!y\n", {{"a", "x", 0}, {"b", "y", 1}}},
        {"duplicates collapse, numbers only", {"-N"}, "b!1\na!2\nb!1\na!2\n", {{"a", {}, 2}, {"b", {}, 1}}},
        {"the empty annotation written two ways", {}, "a!\nb!4E\na\n", {{"a", "", 0}, {"b", "N", 1}}},
        {"bytes ordered unsigned", {"-W"}, "80\n7F\n\nFF\n01\n",
         {{"", "", 0}, {"\x01", "", 0}, {"\x7f", "", 0}, {"\x80", "", 0}, {"\xff", "", 0}}},
        {"a word before its extensions", {"-a"}, "abc\nab\na\nabd\n",
         {{"a", "", 0}, {"ab", "", 0}, {"abc", "", 0}, {"abd", "", 0}}},
        {"empty input", {}, "", {}},
    };
    return cases;
}

TEST(BuildInput, EveryFormListsBack) {
    TempDir dir;
    const std::string dict = dir.file("d.dict");
    for (const FormCase& c : formCases()) {
        SCOPED_TRACE(c.name);
        RunResult r = build(Args{"-o", dict} + c.options, c.input);
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(listWords(dict), c.expected);
    }
}

// A line far longer than the reader's block, and many short ones around it,
// read from a file and from standard input alike.
TEST(BuildInput, LongLineAndFileInputMatchStandardInput) {
    TempDir dir;
    const std::string longWord(3 << 19, 'q');
    std::string input;
    for (int i = 0; i < 30000; ++i) input += "w" + std::to_string(i) + "!" + std::to_string(i % 7) + "\n";
    input += longWord + "!L\n" + "zz!end";
    writeFile(dir.file("in.txt"), input);

    RunResult fromFile = build({"-a", "-o", dir.file("file.dict"), "-i", dir.file("in.txt")});
    ASSERT_EQ(fromFile.status, 0) << fromFile.err;
    RunResult fromStdin = build({"-a", "-o", dir.file("stdin.dict")}, input);
    ASSERT_EQ(fromStdin.status, 0) << fromStdin.err;
    EXPECT_TRUE(readFile(dir.file("file.dict")) == readFile(dir.file("stdin.dict")));

    Listing list = listWords(dir.file("file.dict"));
    ASSERT_EQ(list.size(), 30002u);
    auto found = std::find_if(list.begin(), list.end(), [&](const Entry& e) { return e.word == longWord; });
    ASSERT_NE(found, list.end());
    EXPECT_EQ(found->bytes, "L");
    EXPECT_EQ(found->number, 7u);  // "0" to "6" came first
    EXPECT_EQ(list.back(), (Entry{"zz", "end", 8}));
}

// ---------------------------------------------------------------------------
// -T TABLE pins the numbers.

struct TableCase {
    const char* name;
    Args options;
    std::string table;
    std::string words;
    Listing expected;
    std::vector<std::pair<uint32_t, std::string>> annots;
};

TEST(BuildTable, TablePinsTheNumbers) {
    const std::vector<TableCase> cases = {
        {"raw table, unused entries kept", {"-N", "-a"}, "0!N\n1!\n2!XY\n3!unused\n", "cat!2\ndog!0\neel!1\n",
         {{"cat", "XY", 2}, {"dog", "N", 0}, {"eel", "", 1}}, {{0, "N"}, {1, ""}, {2, "XY"}, {3, "unused"}}},
        {"hexadecimal table in any order, no last line feed", {"-N"}, "2!5859\n0!4E\n1!", "cat!2\ndog!0\neel!1\n",
         {{"cat", "XY", 2}, {"dog", "N", 0}, {"eel", "", 1}}, {{0, "N"}, {1, ""}, {2, "XY"}}},
        {"base64 table", {"-N", "-e", "base64"}, "0!Tg==\n1!\n2!WFk=\n", "cat!2\ndog!0\n",
         {{"cat", "XY", 2}, {"dog", "N", 0}}, {{0, "N"}, {1, ""}, {2, "XY"}}},
        {"words with bytes take the table's numbers", {"-a"}, "0!B\n1!A\n", "x!A\ny!B\nz!A\n",
         {{"x", "A", 1}, {"y", "B", 0}, {"z", "A", 1}}, {{0, "B"}, {1, "A"}}},
        {"other separator, split at the first", {"-N", "-a", "-s", ";"}, "0;a;b\n", "w;0\n",
         {{"w", "a;b", 0}}, {{0, "a;b"}}},
    };
    TempDir dir;
    for (const TableCase& c : cases) {
        SCOPED_TRACE(c.name);
        writeFile(dir.file("table.txt"), c.table);
        RunResult r = build(Args{"-o", dir.file("d.dict"), "-T", dir.file("table.txt")} + c.options, c.words);
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(listWords(dir.file("d.dict")), c.expected);
        EXPECT_EQ(listAnnots(dir.file("d.dict")), c.annots);
    }
}

// ---------------------------------------------------------------------------
// Refused input: a message naming the line, status 1, and no output made or
// changed.

// Runs a failing build twice: with no output file (none may appear), then over
// an existing one (it must stay as it was, with nothing left beside it).
void expectRefusedWithoutOutput(const Args& options, const std::string& input, const std::string& mustSay) {
    TempDir dir;
    std::filesystem::create_directory(dir.file("out"));
    const std::string dict = dir.file("out/d.dict");
    RunResult r = build(Args{"-o", dict} + options, input);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find(mustSay), std::string::npos) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_FALSE(fileExists(dict));

    const std::string before = "earlier dictionary, not to be touched\n";
    writeFile(dict, before);
    r = build(Args{"-o", dict} + options, input);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(readFile(dict), before);
    EXPECT_EQ(namesIn(dir.file("out")), std::set<std::string>{"d.dict"});
}

struct BadLineCase {
    const char* name;
    Args options;
    std::string input;
    int line;
};

TEST(BuildRefused, BadLineNamesItsNumber) {
    const std::vector<BadLineCase> cases = {
        {"duplicate word, another annotation", {"-a"}, "a!x\na!y\n", 2},
        {"duplicate word out of order", {"-a"}, "b!x\nc!x\na!x\nb!y\n", 4},
        {"duplicate word, both out of order", {"-a"}, "c!x\na!x\nb!x\na!y\n", 4},
        {"duplicate word, empty and other annotation", {"-a"}, "a\nb\na!x\n", 3},
        {"duplicate word, other number", {"-N"}, "a!1\na!2\n", 2},
        {"duplicate empty word", {"-a"}, "\nb\n!x\n", 3},
        {"odd hexadecimal annotation", {}, "a!4E\nb!4E5\n", 2},
        {"bad hexadecimal digit", {}, "a!4G\n", 1},
        {"carriage return after hexadecimal", {}, "a!4E\r\n", 1},
        {"hexadecimal with a sign", {}, "a!-4\n", 1},
        {"separator inside a hexadecimal field", {}, "a!4E!\n", 1},
        {"bad hexadecimal word", {"-W"}, "61!4E\n6Z!4E\n", 2},
        {"odd hexadecimal word", {"-W"}, "616\n", 1},
        {"base64 length", {"-e", "base64"}, "a!Tg=\n", 1},
        {"base64 letter", {"-e", "base64"}, "a!T*==\n", 1},
        {"base64 data after padding", {"-e", "base64"}, "a!Tg=A\n", 1},
        {"base64 padding inside", {"-e", "base64"}, "a!Tg==Tg==\n", 1},
        {"base64 word", {"-W", "-e", "base64"}, "YSFi\n@@@@\n", 2},
        {"number with a plus sign", {"-N"}, "a!1\nb!+1\n", 2},
        {"negative number", {"-N"}, "a!-1\n", 1},
        {"number with letters", {"-N"}, "a!12a\n", 1},
        {"letters for a number", {"-N"}, "a!x\n", 1},
        {"number with a space", {"-N"}, "a! 1\n", 1},
        {"number above 4294967295", {"-N"}, "a!4294967296\n", 1},
        {"long number", {"-N"}, "a!99999999999\n", 1},
        {"empty number", {"-N"}, "a!\n", 1},
        {"no number", {"-N"}, "a!1\nb\n", 2},
        {"line numbers count empty lines", {}, "\n\na\n\na!zz\n", 5},
        {"bad last line without a line feed", {}, "a!4E\nb!4", 2},
    };
    for (const BadLineCase& c : cases) {
        SCOPED_TRACE(c.name);
        expectRefusedWithoutOutput(c.options, c.input, "standard input, line " + std::to_string(c.line) + ":");
    }
}

// Table faults name the table file; a number the table lacks names the word line.
TEST(BuildRefused, BadTableOrNumberMissingFromIt) {
    struct Case {
        const char* name;
        Args options;
        std::string table;
        std::string words;
        std::string mustSay;  // after the file name
    };
    const std::vector<Case> cases = {
        {"hole in the numbers", {"-N"}, "0!4E\n2!5A\n", "a!0\n", ", line"},
        {"numbers not from 0", {"-N"}, "1!4E\n", "a!1\n", ", line"},
        {"repeated number", {"-N"}, "0!4E\n1!5A\n0!5A\n", "a!0\n", ", line 3:"},
        {"repeated number, same bytes", {"-N"}, "0!4E\n0!4E\n", "a!0\n", ", line 2:"},
        {"letters for a number", {"-N"}, "0!4E\nx!5A\n", "a!0\n", ", line 2:"},
        {"negative number", {"-N"}, "-1!4E\n", "a!0\n", ", line 1:"},
        {"bad hexadecimal bytes", {"-N"}, "0!4\n", "a!0\n", ", line 1:"},
        {"bad base64 bytes", {"-N", "-e", "base64"}, "0!Tg=\n", "a!0\n", ", line 1:"},
        {"number missing from the table", {"-N"}, "0!4E\n1!5A\n", "a!0\nb!2\n", "standard input, line 2:"},
        {"largest number missing from the table", {"-N"}, "0!4E\n", "a!4294967295\n", "standard input, line 1:"},
        {"bytes missing from the table", {"-a"}, "0!N\n", "a!N\nb!Z\n", "standard input, line 2:"},
    };
    TempDir tables;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string table = tables.file("table.txt");
        writeFile(table, c.table);
        std::string mustSay = c.mustSay.rfind("standard input", 0) == 0 ? c.mustSay : table + c.mustSay;
        expectRefusedWithoutOutput(Args{"-T", table} + c.options, c.words, mustSay);
    }
}

// A table's numbers are checked against its own length: one line with a
// large number is a hole like any other, refused without reserving room for
// every number below it. The child runs with its memory capped, so a build
// that reserves it fails fast instead of filling the machine.
TEST(BuildRefused, LargeNumberInAShortTable) {
    TempDir dir;
    const std::string table = dir.file("table.txt");
    writeFile(table, "0!4E\n2000000000!4E\n");
    Args args = {tool("dict_build"), "-N", "-T", table, "-o", dir.file("d.dict")};
#ifdef __SANITIZE_ADDRESS__
    const char* given = std::getenv("ASAN_OPTIONS");
    const std::vector<std::string> env = {"ASAN_OPTIONS=" + std::string(given ? given : "") +
                                          ":max_allocation_size_mb=512"};
#else
    const std::vector<std::string> env;
    args.insert(args.begin(), {"/bin/sh", "-c", "ulimit -v 1048576 && exec \"$0\" \"$@\""});
#endif
    RunResult r = run(args, "a!0\n", env);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find(table + ", line "), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("out of memory"), std::string::npos) << r.err;
    EXPECT_FALSE(fileExists(dir.file("d.dict")));
}

// Files that cannot be read or written: status 1 and a message naming the
// file and the reason.
TEST(BuildRefused, FilesThatCannotBeReadOrWritten) {
    struct Case {
        const char* name;
        Args args;  // "@" stands for the temporary directory
        std::vector<std::string> mustSay;
    };
    const std::vector<Case> cases = {
        {"missing input", {"-o", "@/d.dict", "-i", "@/missing.txt"}, {"@/missing.txt", "No such file or directory"}},
        {"input is a directory", {"-o", "@/d.dict", "-i", "@"}, {"Is a directory"}},
        {"missing table", {"-o", "@/d.dict", "-N", "-T", "@/missing.txt"},
         {"@/missing.txt", "No such file or directory"}},
        {"output directory missing", {"-o", "@/none/d.dict"}, {"@/none/d.dict", "No such file or directory"}},
        {"output is a directory", {"-o", "@/sub"}, {"@/sub"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        std::filesystem::create_directory(dir.file("sub"));
        auto place = [&](std::string s) {
            for (size_t at; (at = s.find('@')) != std::string::npos;) s.replace(at, 1, dir.path());
            return s;
        };
        Args args;
        for (const std::string& a : c.args) args.push_back(place(a));
        RunResult r = build(args, "cat!4E\n");
        EXPECT_EQ(r.status, 1);
        for (const std::string& text : c.mustSay) EXPECT_NE(r.err.find(place(text)), std::string::npos) << r.err;
        EXPECT_EQ(namesIn(dir.path()), std::set<std::string>{"sub"});
        EXPECT_TRUE(std::filesystem::is_directory(dir.file("sub")));
    }
}

// ---------------------------------------------------------------------------
// The command line.

TEST(BuildUsage, UsageErrorsPrintUsageOnStandardError) {
    struct Case {
        Args args;
        std::string mustSay;  // besides the usage line
    };
    TempDir dir;
    const std::string dict = dir.file("d.dict");
    const std::vector<Case> cases = {
        {{}, "-o"},
        {{"-i", dir.file("in.txt")}, "-o"},
        {{"-o"}, "o"},
        {{"-q", "-o", dict}, "q"},
        {{"-o", dict, "extra"}, "extra"},
        {{"-o", dict, "-e", "base32"}, "base32"},
        {{"-o", dict, "-L", "dense"}, "dense"},
        {{"-o", dict, "-E", "middle"}, "middle"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.args));
        RunResult r = build(c.args, "cat\n");
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, "");
        std::string message = r.err;
        const size_t usageAt = message.find(usageLine());
        EXPECT_NE(usageAt, std::string::npos) << r.err;
        if (usageAt != std::string::npos) message.erase(usageAt, usageLine().size());
        EXPECT_NE(message.find(c.mustSay), std::string::npos) << r.err;
        EXPECT_FALSE(fileExists(dict));
    }
}

TEST(BuildUsage, HelpOnStandardOutput) {
    RunResult r = build({"-h"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, usageLine());
    EXPECT_EQ(r.err, "");
}

// One summary line on standard error, whose figures are the file's.
TEST(BuildSummary, OneLineWithTheFilesFigures) {
    struct Case {
        Args options;
        std::string input;
        uint64_t words, annotations;
    };
    const std::vector<Case> cases = {
        {{"-a"}, "cat!N\ndog!N\neel!X\n", 3, 2},
        {{"-N", "-L", "sparse"}, "a!5\nb!5\nc!9\n", 3, 2},
        {{}, "", 0, 0},
    };
    TempDir dir;
    const std::string dict = dir.file("d.dict");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.input);
        RunResult r = build(Args{"-o", dict} + c.options, c.input);
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out, "");
        // The figures the line must show, the states and seconds taken from it.
        unsigned long long states = 0;
        double seconds = -1;
        std::sscanf(r.err.c_str(), "words: %*u, annotations: %*u, states: %llu, transitions: %*u, bytes: %*u, "
                    "bytes per word: %*f, seconds: %lf", &states, &seconds);
        EXPECT_GT(states, 0u);
        EXPECT_GE(seconds, 0.0);
        const uint64_t size = readFile(dict).size();
        char expected[256];
        std::snprintf(expected, sizeof expected,
                      "words: %llu, annotations: %llu, states: %llu, transitions: %d, bytes: %llu, "
                      "bytes per word: %.2f, seconds: %.2f\n",
                      (unsigned long long)c.words, (unsigned long long)c.annotations, states,
                      headerOf(dict).transCount, (unsigned long long)size,
                      c.words ? double(size) / double(c.words) : 0.0, seconds);
        EXPECT_EQ(r.err, expected);
    }
}

// ---------------------------------------------------------------------------
// Layout and byte order.

TEST(BuildLayout, OptionsSetTheHeaderFlags) {
    struct Case {
        Args options;
        int sparse, big;
    };
    const std::vector<Case> cases = {
        {{}, 0, 0},
        {{"-L", "compact", "-E", "little"}, 0, 0},
        {{"-L", "sparse"}, 1, 0},
        {{"-E", "big"}, 0, 1},
        {{"-L", "sparse", "-E", "big"}, 1, 1},
        {{"-L", "sparse", "-L", "compact", "-E", "big", "-E", "little"}, 0, 0},
    };
    TempDir dir;
    const std::string input = encodedLines(variedWords());
    ASSERT_EQ(build({"-W", "-o", dir.file("default.dict")}, input).status, 0);
    const Listing expected = listWords(dir.file("default.dict"));
    ASSERT_EQ(expected.size(), variedWords().size());
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.options));
        const std::string dict = dir.file("d.dict");
        RunResult r = build(Args{"-W", "-o", dict} + c.options, input);
        ASSERT_EQ(r.status, 0) << r.err;
        const HeaderRecord h = headerOf(dict);
        EXPECT_EQ(h.isSparse, c.sparse);
        EXPECT_EQ(h.isBigEndian, c.big);
        EXPECT_EQ(readFile(dict).substr(0, 4), c.big ? "OVRT" : "TRVO");
        EXPECT_EQ(listWords(dict), expected);
    }
}

// ---------------------------------------------------------------------------
// Order of the input.

// The varied words rearranged: sorted, shuffled with every line twice,
// reversed, and sorted but for every fifth word moved to the end.
std::vector<std::vector<Word>> arrangements(const std::vector<Word>& sorted) {
    std::mt19937 random(7);
    std::vector<Word> shuffled = sorted;
    shuffled.insert(shuffled.end(), sorted.begin(), sorted.end());
    std::shuffle(shuffled.begin(), shuffled.end(), random);
    std::vector<Word> reversed(sorted.rbegin(), sorted.rend());
    std::vector<Word> mostly, moved;
    for (size_t i = 0; i < sorted.size(); ++i) (i % 5 == 3 ? moved : mostly).push_back(sorted[i]);
    mostly.insert(mostly.end(), moved.rbegin(), moved.rend());
    return {sorted, shuffled, reversed, mostly};
}

// Lines HEXWORD!NUMBER with each annotation's place in `table` as its number.
std::string numberedLines(const std::vector<Word>& list, const std::vector<std::string>& table) {
    std::string text;
    for (const Word& w : list) {
        auto at = std::find(table.begin(), table.end(), w.annot);
        text += hex(w.word) + "!" + std::to_string(at - table.begin()) + "\n";
    }
    return text;
}

TEST(BuildOrder, UnsortedInputGivesTheSameBytes) {
    const std::vector<Word> sorted = variedWords();
    const std::vector<std::string> table = {"", "N", "noun:sg", "\n", "a!b", "\0\xff"s, "verb", "x"};
    std::string tableText;
    for (size_t i = 0; i < table.size(); ++i) tableText += std::to_string(i) + "!" + hex(table[i]) + "\n";
    TempDir dir;
    writeFile(dir.file("table.txt"), tableText);
    const std::vector<Args> modes = {{"-W", "-N"}, {"-W", "-N", "-T", dir.file("table.txt")}};
    for (const Args& mode : modes) {
        for (const Args& layout : {layouts()[0], layouts()[3]}) {
            SCOPED_TRACE(testing::PrintToString(mode + layout));
            std::string first;
            int arrangement = 0;
            for (const std::vector<Word>& list : arrangements(sorted)) {
                SCOPED_TRACE("arrangement " + std::to_string(arrangement++));
                const std::string dict = dir.file("d.dict");
                RunResult r = build(Args{"-o", dict} + mode + layout, numberedLines(list, table));
                ASSERT_EQ(r.status, 0) << r.err;
                std::string bytes = readFile(dict);
                if (first.empty()) first = bytes;
                else EXPECT_TRUE(bytes == first) << "dictionary bytes differ from the sorted input's";
            }
        }
    }
}

// Annotation bytes in any order: the words come out sorted, numbered by the
// first appearance of their annotation.
TEST(BuildOrder, UnsortedInputNumbersByFirstAppearance) {
    TempDir dir;
    int arrangement = 0;
    for (const std::vector<Word>& list : arrangements(variedWords())) {
        SCOPED_TRACE("arrangement " + std::to_string(arrangement++));
        std::vector<std::string> seen;
        for (const Word& w : list)
            if (std::find(seen.begin(), seen.end(), w.annot) == seen.end()) seen.push_back(w.annot);
        Listing expected;
        for (const Word& w : variedWords()) {
            uint32_t number = uint32_t(std::find(seen.begin(), seen.end(), w.annot) - seen.begin());
            expected.push_back({w.word, w.annot, number});
        }
        const std::string dict = dir.file("d.dict");
        RunResult r = build({"-W", "-o", dict}, encodedLines(list));
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(listWords(dict), expected);
    }
}

// ---------------------------------------------------------------------------
// Round trips.

// Builds the varied words into `dict`: with their annotation bytes, or
// numbers only.
void buildVaried(const std::string& dict, const Args& layout, bool numbersOnly) {
    const std::vector<Word> words = variedWords();
    std::vector<std::string> table;
    for (const Word& w : words) table.push_back(w.annot);
    RunResult r = numbersOnly ? build(Args{"-W", "-N", "-o", dict} + layout, numberedLines(words, table))
                              : build(Args{"-W", "-o", dict} + layout, encodedLines(words));
    ASSERT_EQ(r.status, 0) << r.err;
}

Listing withoutNumbers(Listing list) {
    for (Entry& e : list) e.number = 0;
    return list;
}

bool haveExport() {
    try {
        tool("dict_export");
        return true;
    } catch (const std::runtime_error&) {
        return false;
    }
}

// The table and the numbered words that dict_export writes rebuild the same
// bytes; the annotated listing rebuilds the same words and annotation bytes.
TEST(BuildRoundTrip, ThroughDictExport) {
    if (!haveExport()) GTEST_SKIP() << "dict_export is not built";
    TempDir dir;
    const std::string dict = dir.file("d.dict"), again = dir.file("again.dict");
    for (const Args& layout : layouts()) {
        SCOPED_TRACE(testing::PrintToString(layout));
        for (bool numbersOnly : {false, true}) {
            SCOPED_TRACE(numbersOnly ? "numbers only" : "annotation bytes");
            buildVaried(dict, layout, numbersOnly);
            const std::string original = readFile(dict);
            RunResult words = runTool("dict_export", {"-d", dict, "-N", "-W"});
            ASSERT_EQ(words.status, 0) << words.err;
            writeFile(dir.file("w.txt"), words.out);
            Args rebuild = {"-N", "-W", "-i", dir.file("w.txt"), "-o", again};
            if (!numbersOnly) {
                RunResult table = runTool("dict_export", {"-d", dict, "-t", "annots", "-A"});
                ASSERT_EQ(table.status, 0) << table.err;
                writeFile(dir.file("t.txt"), table.out);
                rebuild = rebuild + Args{"-T", dir.file("t.txt")};
            }
            RunResult r = build(rebuild + layout);
            ASSERT_EQ(r.status, 0) << r.err;
            EXPECT_TRUE(readFile(again) == original) << "rebuilt dictionary differs";
        }

        buildVaried(dict, layout, false);
        RunResult listing = runTool("dict_export", {"-d", dict, "-A", "-W"});
        ASSERT_EQ(listing.status, 0) << listing.err;
        RunResult r = build(Args{"-W", "-o", again} + layout, listing.out);
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(withoutNumbers(listWords(again)), withoutNumbers(listWords(dict)));
    }

    // Words without the separator or a line feed travel raw.
    ASSERT_EQ(build({"-a", "-o", dict}, "cat!N\ndog!noun:sg\neel!\n\xc5\x82\xc3\xb3" "d\xc5\xba!\x01\xff\n").status, 0);
    RunResult listing = runTool("dict_export", {"-d", dict, "-A"});
    ASSERT_EQ(listing.status, 0) << listing.err;
    RunResult r = build({"-o", again}, listing.out);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(withoutNumbers(listWords(again)), withoutNumbers(listWords(dict)));
}

// The same property without dict_export: the lines written here from the
// library's listing, as NUMBER!HEX and HEXWORD!NUMBER.
TEST(BuildRoundTrip, ThroughTheLibrary) {
    TempDir dir;
    const std::string dict = dir.file("d.dict"), again = dir.file("again.dict");
    for (const Args& layout : layouts()) {
        SCOPED_TRACE(testing::PrintToString(layout));
        for (bool numbersOnly : {false, true}) {
            SCOPED_TRACE(numbersOnly ? "numbers only" : "annotation bytes");
            buildVaried(dict, layout, numbersOnly);
            std::string words, table;
            for (const Entry& e : listWords(dict)) words += hex(e.word) + "!" + std::to_string(e.number) + "\n";
            for (const auto& [number, bytes] : listAnnots(dict)) table += std::to_string(number) + "!" + hex(bytes) + "\n";
            writeFile(dir.file("w.txt"), words);
            writeFile(dir.file("t.txt"), table);
            Args rebuild = {"-N", "-W", "-i", dir.file("w.txt"), "-o", again};
            if (!numbersOnly) rebuild = rebuild + Args{"-T", dir.file("t.txt")};
            RunResult r = build(rebuild + layout);
            ASSERT_EQ(r.status, 0) << r.err;
            EXPECT_TRUE(readFile(again) == readFile(dict)) << "rebuilt dictionary differs";
        }
    }
}

} // namespace
