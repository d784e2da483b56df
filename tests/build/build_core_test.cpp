// dict_build's core in process: the runs of out-of-order words, the size
// limit of the format, and the writer that never leaves a partial file.
#include "compiler.h"
#include "file_writer.h"
#include "pending_words.h"
#include "run.h"
#include "tarvo.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <ostream>
#include <random>
#include <set>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

namespace lt = velkin::libtarvo;
using tarvo_test::readFile;
using tarvo_test::TempDir;
using tarvo_test::writeFile;

struct Held {
    std::string word;
    uint32_t annot;
    uint64_t line;
    bool operator==(const Held&) const = default;
};

void PrintTo(const Held& h, std::ostream* os) {
    *os << "{";
    for (unsigned char c : h.word) *os << std::hex << unsigned(c) << std::dec << ".";
    *os << " annot " << h.annot << " line " << h.line << "}";
}

std::set<std::string> namesIn(const std::string& dir) {
    std::set<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir)) names.insert(e.path().filename().string());
    return names;
}

std::vector<Held> randomWords(size_t count, unsigned seed) {
    std::mt19937 random(seed);
    std::vector<Held> words;
    for (size_t i = 0; i < count; ++i) {
        // Few letters and short words, so that many repeat.
        std::string w(random() % 4, '\0');
        for (char& c : w) c = char("ab\xff"[random() % 3]);
        words.push_back({w, uint32_t(random() % 5), i + 1});
    }
    return words;
}

std::vector<Held> drain(dictbuild::RunMerge merge) {
    std::vector<Held> out;
    for (const dictbuild::HeldWord* h; (h = merge.top()); merge.pop())
        out.push_back({std::string(h->word), h->annot, h->line});
    return out;
}

// Whatever the limit, the merge gives the words in unsigned byte order and
// twins in input order; a limit of one byte makes a run of every word.
TEST(PendingWords, MergeIsByteOrderThenInputOrder) {
    TempDir dir;
    const std::vector<Held> input = randomWords(1500, 7);
    std::vector<Held> expected = input;
    std::stable_sort(expected.begin(), expected.end(), [](const Held& a, const Held& b) {
        return std::string_view(a.word) < std::string_view(b.word);
    });
    struct Case {
        uint64_t limit;
        bool manyRuns;
    };
    for (const Case& c : {Case{1 << 30, false}, Case{4096, true}, Case{1, true}}) {
        SCOPED_TRACE(c.limit);
        dictbuild::PendingWords pending(c.limit, dir.path());
        for (const Held& h : input) pending.add(h.word, h.annot, h.line);
        EXPECT_EQ(pending.runCount() > 1, c.manyRuns);
        // Runs of one level are merged kFanIn at a time: few stay open.
        EXPECT_LT(pending.openRuns(), 4 * dictbuild::PendingWords::kFanIn);
        EXPECT_EQ(drain(pending.merge()), expected);
        EXPECT_TRUE(namesIn(dir.path()).empty()) << "runs have no name in the directory";
    }
}

// The words' text and their records share a small limit as the words need
// it: 100,000 words of 24 bytes, 5.6 MB with their records, make a run for
// each 0.75 MiB or so under a limit of 1 MiB, not one for each 1,024 words.
TEST(PendingWords, SmallLimitIsFilledByEachRun) {
    TempDir dir;
    dictbuild::PendingWords pending(1 << 20, dir.path());
    std::mt19937 random(3);
    for (uint64_t line = 1; line <= 100000; ++line) {
        std::string word(24, 'a');
        for (char& c : word) c = char('a' + random() % 26);
        pending.add(word, 0, line);
    }
    EXPECT_GE(pending.runCount(), 6u);
    EXPECT_LE(pending.runCount(), 10u);
}

// A word longer than the whole limit is still taken, in its own run.
TEST(PendingWords, WordLargerThanTheLimit) {
    TempDir dir;
    dictbuild::PendingWords pending(64, dir.path());
    const std::string big(1000, 'z');
    pending.add("b", 1, 1);
    pending.add(big, 2, 2);
    pending.add("a", 3, 3);
    EXPECT_EQ(drain(pending.merge()), (std::vector<Held>{{"a", 3, 3}, {"b", 1, 1}, {big, 2, 2}}));
}

TEST(PendingWords, MissingTemporaryDirectoryIsReported) {
    TempDir dir;
    const std::string missing = dir.file("none");
    dictbuild::PendingWords pending(1, missing);
    pending.add("b", 0, 1);
    try {
        pending.add("a", 0, 2);
        FAIL() << "no error";
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find("cannot write a temporary file in '" + missing + "'"), std::string::npos)
            << e.what();
    }
}

// ---------------------------------------------------------------------------
// The compiler: out-of-order words through runs give the bytes sorted input
// gives; twins across runs are still caught with their line.

dictbuild::Settings rawSettings(const std::string& output, uint64_t memoryLimit, const std::string& tempDir) {
    dictbuild::Settings s;
    s.output = output;
    s.encodedAnnots = false;
    s.memoryLimit = memoryLimit;
    s.tempDir = tempDir;
    return s;
}

std::vector<uint8_t> compile(const dictbuild::Settings& s, const std::vector<std::string>& lines) {
    dictbuild::Annotations annotations;
    dictbuild::Compiler compiler(s, annotations);
    for (size_t i = 0; i < lines.size(); ++i) compiler.addLine(lines[i], i + 1);
    return compiler.finishToMemory();
}

TEST(Compiler, RunsGiveTheBytesOfSortedInput) {
    TempDir dir;
    std::vector<std::string> lines;
    std::mt19937 random(11);
    for (int i = 0; i < 5000; ++i) {
        std::string w(random() % 8, '\0');
        for (char& c : w) c = char('a' + random() % 6);
        lines.push_back(w + "!" + std::string(1, char('A' + w.size() % 3)));  // twins agree
    }
    std::vector<std::string> sorted = lines;
    std::sort(sorted.begin(), sorted.end(), [](const std::string& a, const std::string& b) {
        return a.substr(0, a.find('!')) < b.substr(0, b.find('!'));
    });
    // Annotation numbers follow first appearance: the same order of first
    // appearance in both inputs, so the same bytes.
    std::vector<std::string> firsts = {"x!A", "y!B", "z!C"};
    lines.insert(lines.begin(), firsts.begin(), firsts.end());
    sorted.insert(sorted.begin(), firsts.begin(), firsts.end());
    const std::vector<uint8_t> expected = compile(rawSettings("", 1 << 30, dir.path()), sorted);
    for (uint64_t limit : {uint64_t(1) << 30, uint64_t(4096), uint64_t(256)}) {
        SCOPED_TRACE(limit);
        EXPECT_TRUE(compile(rawSettings("", limit, dir.path()), lines) == expected);
    }
}

TEST(Compiler, TwinWithAnotherAnnotationAcrossRuns) {
    TempDir dir;
    struct Case {
        const char* name;
        std::vector<std::string> lines;
        uint64_t faultyLine;
    };
    std::vector<std::string> filler;
    for (int i = 0; i < 300; ++i) filler.push_back("w" + std::to_string(1000 - i) + "!F");
    auto with = [&](std::vector<std::string> head, std::vector<std::string> tail) {
        head.insert(head.end(), filler.begin(), filler.end());
        head.insert(head.end(), tail.begin(), tail.end());
        return head;
    };
    const std::vector<Case> cases = {
        {"first in order, twin in a later run", with({"m!A", "a!B"}, {"m!C"}), 303},
        {"both waiting, in different runs", with({"z!A", "m!A"}, {"m!A", "m!B"}), 304},
        {"twins agree, a third does not", with({"z!A", "q!A"}, {"q!A", "q!A", "q!B"}), 305},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        for (uint64_t limit : {uint64_t(1) << 30, uint64_t(64)}) {
            SCOPED_TRACE(limit);
            try {
                compile(rawSettings("", limit, dir.path()), c.lines);
                ADD_FAILURE() << "no error";
            } catch (const dictbuild::InputError& e) {
                EXPECT_EQ(e.line, c.faultyLine);
                EXPECT_EQ(e.message, "duplicate word with another annotation");
            }
        }
    }
}

// ---------------------------------------------------------------------------
// The format's limit, lowered: the build is refused and the target stays.

// 2000 random words of eight letters, in the order drawn: they share little,
// so their automaton is large.
std::vector<std::string> randomWords() {
    std::vector<std::string> words;
    std::mt19937 random(5);
    for (int i = 0; i < 2000; ++i) {
        std::string w(8, '\0');
        for (char& c : w) c = char('a' + random() % 26);
        words.push_back(w);
    }
    return words;
}

TEST(SizeLimit, RefusedAndTheTargetStays) {
    struct Case {
        const char* name;
        std::vector<std::string> lines;
        uint64_t memoryLimit;
        std::string mustSay;
    };
    const std::vector<std::string> manyWords = randomWords(), oneBigAnnotation = {"a!" + std::string(5000, 'x')};
    std::vector<std::string> sortedWords = manyWords;
    std::sort(sortedWords.begin(), sortedWords.end());
    const std::vector<Case> cases = {
        {"automaton, words in order", sortedWords, 1 << 30, "the automaton would pass the limit of 4000 bytes"},
        {"automaton, words through runs", manyWords, 64, "the automaton would pass the limit of 4000 bytes"},
        {"annotations", oneBigAnnotation, 1 << 30, "the annotations would pass the limit of 4000 bytes"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        const std::string target = dir.file("d.dict");
        writeFile(target, "previous bytes");
        dictbuild::Settings s = rawSettings(target, c.memoryLimit, dir.path());
        s.build.sizeLimit = 4000;
        const std::vector<std::string>& lines = c.lines;
        try {
            dictbuild::Annotations annotations;
            dictbuild::Compiler compiler(s, annotations);
            for (size_t i = 0; i < lines.size(); ++i) compiler.addLine(lines[i], i + 1);
            compiler.finish();
            ADD_FAILURE() << "no error";
        } catch (const lt::Error& e) {
            EXPECT_EQ(e.kind(), lt::Error::Kind::TooLarge);
            EXPECT_NE(std::string(e.what()).find(c.mustSay), std::string::npos) << e.what();
        }
        EXPECT_EQ(readFile(target), "previous bytes");
        EXPECT_EQ(namesIn(dir.path()), std::set<std::string>{"d.dict"});
    }
}

// At the limit exactly the file is written; one byte less refuses it.
TEST(SizeLimit, BoundaryIsTheFileSize) {
    lt::DictBuilder probe;
    for (const char* w : {"cat", "cats", "dog"}) probe.add(w, 0);
    const uint64_t size = probe.finishToMemory({"N"}, false).size();
    for (uint64_t limit : {size, size - 1}) {
        lt::BuildOptions options;
        options.sizeLimit = limit;
        lt::DictBuilder b(options);
        for (const char* w : {"cat", "cats", "dog"}) b.add(w, 0);
        if (limit == size) EXPECT_EQ(b.finishToMemory({"N"}, false).size(), size);
        else EXPECT_THROW(b.finishToMemory({"N"}, false), lt::Error);
    }
}

// The builder lays a large compact automaton out again for reading, which can
// take a few bytes more. When those would pass the limit and the automaton as built
// does not, the file keeps the built layout and holds the same words.
TEST(SizeLimit, ReadingLayoutGivesWayToTheLimit) {
    std::vector<std::string> words = randomWords();
    std::sort(words.begin(), words.end());
    words.erase(std::unique(words.begin(), words.end()), words.end());
    auto build = [&words](uint64_t limit) {
        lt::BuildOptions options;
        options.sizeLimit = limit;
        options.readingLayoutFrom = 0;
        lt::DictBuilder b(options);
        for (const std::string& w : words) b.add(w, 0);
        return b.finishToMemory({"N"}, false);
    };
    const std::vector<uint8_t> reading = build(lt::BuildOptions{}.sizeLimit);
    const std::vector<uint8_t> built = build(reading.size() - 1);
    EXPECT_LT(built.size(), reading.size());
    for (const std::vector<uint8_t>* file : {&reading, &built}) {
        const lt::MemorySource source(*file);
        auto dict = lt::Dict::create(source, false);
        std::vector<std::string> listed;
        auto collect = [](const uint8_t* w, int32_t n, const lt::AnnotRecord*, void* c) {
            static_cast<std::vector<std::string>*>(c)->emplace_back(reinterpret_cast<const char*>(w), size_t(n));
            return int32_t(1);
        };
        dict->forEachWord(0, collect, &listed);  // 0: the root of a compact file
        EXPECT_EQ(listed, words);
    }
}

// ---------------------------------------------------------------------------
// The writer.

// A stop signal that arrives while the file is written cancels it: the old
// file stays, nothing else is left, and the signal is still there after.
TEST(FileWriter, StopSignalCancelsTheWrite) {
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
        SCOPED_TRACE(sig);
        TempDir dir;
        const std::string target = dir.file("d.dict");
        writeFile(target, "old");
        sigset_t one, previous;
        sigemptyset(&one);
        sigaddset(&one, sig);
        ASSERT_EQ(pthread_sigmask(SIG_BLOCK, &one, &previous), 0);
        raise(sig);  // held: pending until taken below
        const uint8_t bytes[] = {'n', 'e', 'w'};
        try {
            lt::writeFileAtomically(target, {std::span<const uint8_t>(bytes)});
            ADD_FAILURE() << "no error";
        } catch (const lt::Error& e) {
            EXPECT_NE(std::string(e.what()).find("interrupted"), std::string::npos) << e.what();
        }
        timespec none{0, 0};
        EXPECT_EQ(sigtimedwait(&one, nullptr, &none), sig);
        pthread_sigmask(SIG_SETMASK, &previous, nullptr);
        EXPECT_EQ(readFile(target), "old");
        EXPECT_EQ(namesIn(dir.path()), std::set<std::string>{"d.dict"});
    }
}

TEST(FileWriter, ReplacesARegularFileAndWritesADeviceInPlace) {
    TempDir dir;
    const uint8_t bytes[] = {'n', 'e', 'w'};
    const std::string target = dir.file("d.dict");
    writeFile(target, "old");
    lt::writeFileAtomically(target, {std::span<const uint8_t>(bytes)});
    EXPECT_EQ(readFile(target), "new");
    EXPECT_EQ(namesIn(dir.path()), std::set<std::string>{"d.dict"});
    lt::writeFileAtomically("/dev/null", {std::span<const uint8_t>(bytes)});
    EXPECT_TRUE(std::filesystem::is_character_file("/dev/null"));
    try {
        lt::writeFileAtomically("/dev/full", {std::span<const uint8_t>(bytes)});
        ADD_FAILURE() << "no error";
    } catch (const lt::Error& e) {
        EXPECT_STREQ(e.what(), "cannot write '/dev/full': No space left on device");
    }
    EXPECT_TRUE(std::filesystem::is_character_file("/dev/full"));
}

// A file reached through /proc/self/fd after its name is gone has nothing
// to rename over: it is written in place, and no file is made from the
// text of its link ("... (deleted)").
TEST(FileWriter, AFileWithoutANameIsWrittenInPlace) {
    TempDir dir;
    const std::string file = dir.file("d.dict");
    writeFile(file, "old");
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    std::filesystem::remove(file);
    const uint8_t bytes[] = {'n', 'e', 'w'};
    lt::writeFileAtomically("/proc/self/fd/" + std::to_string(fd), {std::span<const uint8_t>(bytes)});
    char back[4] = {};
    EXPECT_EQ(::pread(fd, back, 3, 0), 3);
    EXPECT_STREQ(back, "new");
    ::close(fd);
    EXPECT_TRUE(namesIn(dir.path()).empty());
}

// Rebuilding a dictionary changes its bytes and nothing else about it: its
// permissions stay, and a symbolic link to it stays a link to the new bytes,
// wherever it points.
TEST(FileWriter, KeepsTheReplacedFilesModeAndFollowsLinks) {
    TempDir dir;
    std::filesystem::create_directory(dir.file("releases"));
    const std::string file = dir.file("releases/v3.dict");
    const std::string link = dir.file("current.dict");
    writeFile(file, "old");
    ::chmod(file.c_str(), 0640);
    std::filesystem::create_symlink("releases/v3.dict", link);
    const uint8_t bytes[] = {'n', 'e', 'w'};
    for (const std::string& target : {file, link}) {
        SCOPED_TRACE(target);
        lt::writeFileAtomically(target, {std::span<const uint8_t>(bytes)});
        EXPECT_EQ(readFile(file), "new");
        EXPECT_TRUE(std::filesystem::is_symlink(link));
        struct stat st;
        ASSERT_EQ(::stat(file.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, 0640u);
        EXPECT_EQ(namesIn(dir.file("releases")), std::set<std::string>{"v3.dict"});
        EXPECT_EQ(namesIn(dir.path()), (std::set<std::string>{"current.dict", "releases"}));
        writeFile(file, "old");
    }
    // A link to a file not there yet makes it, as the shell's > would.
    const std::string next = dir.file("next.dict");
    std::filesystem::create_symlink("releases/v4.dict", next);
    const mode_t mask = ::umask(027);
    lt::writeFileAtomically(next, {std::span<const uint8_t>(bytes)});
    ::umask(mask);
    EXPECT_TRUE(std::filesystem::is_symlink(next));
    EXPECT_EQ(readFile(dir.file("releases/v4.dict")), "new");
    struct stat st;
    ASSERT_EQ(::stat(next.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u) << "a new file gets what the umask leaves";
}

} // namespace
