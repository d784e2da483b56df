// dict_build end to end against its surroundings: a full disk, devices and
// missing places as the output, closed standard streams, signals part way,
// and out-of-order input through temporary runs. After every failure a
// previous dictionary at the target is byte for byte what it was.
#include "run.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <random>
#include <set>
#include <spawn.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

using tarvo_test::readFile;
using tarvo_test::run;
using tarvo_test::RunResult;
using tarvo_test::TempDir;
using tarvo_test::tool;
using tarvo_test::writeFile;
using Args = std::vector<std::string>;

RunResult build(Args args, const std::string& input = "", const std::vector<std::string>& env = {}) {
    return tarvo_test::runTool("dict_build", std::move(args), input, env);
}

std::set<std::string> namesIn(const std::string& dir) {
    std::set<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir)) names.insert(e.path().filename().string());
    return names;
}

// Distinct random words of 6 to 14 letters, one a line, in random order.
std::string randomLines(size_t count, unsigned seed) {
    std::mt19937 random(seed);
    std::set<std::string> seen;
    std::string text;
    while (seen.size() < count) {
        std::string w(6 + random() % 9, '\0');
        for (char& c : w) c = char('a' + random() % 26);
        if (seen.insert(w).second) text += w + "\n";
    }
    return text;
}

// A dictionary at `target` from a small input, returned as its bytes.
std::string previousDictionary(const std::string& target) {
    RunResult r = build({"-a", "-o", target}, "cat!N\ndog!N\n");
    EXPECT_EQ(r.status, 0) << r.err;
    return readFile(target);
}

// ---------------------------------------------------------------------------
// The output.

TEST(BuildOutput, DevicesAreWrittenInPlace) {
    struct Case {
        const char* target;
        int status;
        std::string err;  // the whole of standard error for a failure
    };
    const std::vector<Case> cases = {
        {"/dev/full", 1, "cannot write '/dev/full': No space left on device\n"},
        {"/dev/null", 0, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.target);
        RunResult r = build({"-a", "-o", c.target}, "cat!N\n");
        EXPECT_EQ(r.status, c.status);
        if (c.status != 0) {
            EXPECT_EQ(r.err, tool("dict_build") + ": " + c.err);
        }
        EXPECT_TRUE(std::filesystem::is_character_file(c.target)) << "the device node was replaced";
    }
}

// A pipe as the output gets the dictionary's bytes.
TEST(BuildOutput, PipeGetsTheBytes) {
    TempDir dir;
    const std::string expected = previousDictionary(dir.file("d.dict"));
    RunResult r = run({"/bin/sh", "-c", "\"$0\" -a -o /dev/stdout | cat", tool("dict_build")}, "cat!N\ndog!N\n");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(r.out == expected);
}

// Faults of the output place are found before any input is read: the bad
// line below is never reported.
TEST(BuildOutput, MissingPlaceRefusedBeforeReading) {
    TempDir dir;
    writeFile(dir.file("file"), "");
    std::filesystem::create_symlink("none/d.dict", dir.file("dangling"));
    std::filesystem::create_symlink("loop2", dir.file("loop1"));
    std::filesystem::create_symlink("loop1", dir.file("loop2"));
    struct Case {
        std::string target;
        std::string reason;
    };
    const std::vector<Case> cases = {
        {dir.file("none/d.dict"), "No such file or directory"},
        {dir.file("file/d.dict"), "Not a directory"},
        {dir.path(), "Is a directory"},
        {dir.file("dangling"), "No such file or directory"},  // the directory the link leads to
        {dir.file("loop1"), "Too many levels of symbolic links"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.target);
        RunResult r = build({"-o", c.target}, "cat!not hexadecimal\n");
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, tool("dict_build") + ": cannot write '" + c.target + "': " + c.reason + "\n");
    }
    EXPECT_EQ(namesIn(dir.path()), (std::set<std::string>{"dangling", "file", "loop1", "loop2"}));
    EXPECT_TRUE(std::filesystem::is_symlink(dir.file("loop1")));
}

// A name as long as a directory entry allows is written: the temporary file
// beside it takes a shorter one.
TEST(BuildOutput, LongestNameIsWritten) {
    TempDir dir;
    const std::string name = std::string(250, 'x') + ".dict";
    RunResult r = build({"-a", "-o", dir.file(name)}, "cat!N\n");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(namesIn(dir.path()), std::set<std::string>{name});
}

// ---------------------------------------------------------------------------
// Closed standard streams.

// Runs dict_build through the shell with `redirections` applied to it, and
// prints its exit status on standard output.
RunResult buildRedirected(const std::string& arguments, const std::string& redirections, const std::string& input) {
    return run({"/bin/sh", "-c", "\"$0\" " + arguments + " " + redirections + "; echo $?", tool("dict_build")},
               input);
}

TEST(BuildStreams, ClosedStandardErrorOrOutput) {
    TempDir dir;
    const std::string target = dir.file("d.dict");
    const std::string expected = previousDictionary(target);
    std::filesystem::remove(target);
    struct Case {
        const char* name;
        std::string redirections;
        std::string input;
        std::string status;
        bool built;
    };
    const std::vector<Case> cases = {
        {"standard error closed", "2>&-", "cat!N\ndog!N\n", "0\n", true},
        {"standard output closed", ">&-", "cat!N\ndog!N\n", "0\n", true},
        {"standard error closed, faulty line", "2>&-", "cat!N\ncat!V\n", "1\n", false},
        {"standard input closed", "<&-", "", "1\n", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RunResult r = buildRedirected("-a -o " + target, c.redirections, c.input);
        EXPECT_EQ(r.out, c.status);
        if (c.built) {
            EXPECT_TRUE(readFile(target) == expected);
        }
        // Nothing opened later took the closed descriptor's place.
        EXPECT_EQ(namesIn(dir.path()), c.built ? std::set<std::string>{"d.dict"} : std::set<std::string>{});
        std::filesystem::remove(target);
    }
}

// A path that names a closed standard descriptor fails as the descriptor
// would: what holds its place neither swallows the dictionary nor reads as
// empty input.
TEST(BuildStreams, PathsOfClosedDescriptorsAreRefused) {
    TempDir dir;
    struct Case {
        std::string arguments;
        const char* redirections;
        std::string message;
    };
    const std::string target = dir.file("d.dict");
    const std::vector<Case> cases = {
        {"-o /dev/stdout", ">&-", "cannot write '/dev/stdout': Bad file descriptor"},
        {"-o /dev/fd/1", ">&-", "cannot write '/dev/fd/1': Bad file descriptor"},
        {"-o /proc/self/fd/1", ">&-", "cannot write '/proc/self/fd/1': Bad file descriptor"},
        {"-o /proc/thread-self/fd/1", ">&-", "cannot write '/proc/thread-self/fd/1': Bad file descriptor"},
        {"-o /dev/stdin", "<&-", "cannot write '/dev/stdin': Bad file descriptor"},
        // Any other name of the held descriptor opens a directory.
        {"-o /dev/fd/./1", ">&-", "cannot write '/dev/fd/./1': Is a directory"},
        {"-i /proc/self/./fd/0 -o " + target, "<&-", "cannot read '/proc/self/./fd/0': Is a directory"},
        {"-i /dev/stdin -o " + target, "<&-", "cannot read '/dev/stdin': Bad file descriptor"},
        {"-T /dev/stdin -o " + target, "<&-", "cannot read '/dev/stdin': Bad file descriptor"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.arguments + " " + c.redirections);
        RunResult r = run({"/bin/sh", "-c", "\"$0\" " + c.arguments + " " + c.redirections + "; echo \"status $?\" >&2",
                           tool("dict_build")},
                          "cat\n");
        EXPECT_EQ(r.err, tool("dict_build") + ": " + c.message + "\nstatus 1\n");
    }
    EXPECT_TRUE(namesIn(dir.path()).empty());
}

// A reader of standard error that has gone away: the build still completes.
TEST(BuildStreams, BrokenPipeOnStandardError) {
    TempDir dir;
    const std::string target = dir.file("d.dict");
    int pipeEnds[2];
    ASSERT_EQ(pipe(pipeEnds), 0);
    close(pipeEnds[0]);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], 2);
    const std::string program = tool("dict_build");
    std::vector<std::string> args = {program, "-o", target};
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid;
    ASSERT_EQ(posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    close(pipeEnds[1]);
    int status;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_TRUE(tarvo_test::fileExists(target));
}

// ---------------------------------------------------------------------------
// Signals part way through a build.

// A dict_build started with default signal handling, its standard input a
// pipe this test writes into, its temporary runs in `tempDir`.
struct Child {
    pid_t pid = -1;
    int input = -1;
};

Child startBuild(const Args& options, const std::string& tempDir) {
    int pipeEnds[2];
    if (pipe(pipeEnds) != 0) throw std::runtime_error("pipe");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeEnds[0], 0);
    posix_spawn_file_actions_addclose(&actions, pipeEnds[1]);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t all, none;
    sigfillset(&all);
    sigemptyset(&none);
    posix_spawnattr_setsigdefault(&attributes, &all);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
    std::vector<std::string> args = {tool("dict_build")};
    args.insert(args.end(), options.begin(), options.end());
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<std::string> env = {"TMPDIR=" + tempDir};
    for (char** e = environ; *e; ++e)
        if (std::string(*e).rfind("TMPDIR=", 0) != 0) env.push_back(*e);
    std::vector<char*> envp;
    for (std::string& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    Child child;
    int failed = posix_spawn(&child.pid, args[0].c_str(), &actions, &attributes, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    close(pipeEnds[0]);
    if (failed) throw std::runtime_error("posix_spawn");
    child.input = pipeEnds[1];
    return child;
}

bool writeAll(int fd, const std::string& bytes) {
    for (size_t done = 0; done < bytes.size();) {
        ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n <= 0) return false;
        done += size_t(n);
    }
    return true;
}

// Several megabytes go through the pipe before the signal, so dict_build has
// read them and written temporary runs (-M 1); the pipe stays open, so it is
// still waiting for more when the signal comes, however loaded the machine.
TEST(BuildSignals, StopPartWayLeavesThePreviousDictionary) {
    const std::string lines = randomLines(400000, 3);
    for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGKILL}) {
        SCOPED_TRACE(strsignal(sig));
        TempDir dir;
        const std::string target = dir.file("d.dict");
        const std::string previous = previousDictionary(target);
        std::filesystem::create_directory(dir.file("tmp"));
        signal(SIGPIPE, SIG_IGN);
        Child child = startBuild({"-M", "1", "-o", target}, dir.file("tmp"));
        EXPECT_TRUE(writeAll(child.input, lines));
        kill(child.pid, sig);
        int status;
        ASSERT_EQ(waitpid(child.pid, &status, 0), child.pid);
        close(child.input);
        ASSERT_TRUE(WIFSIGNALED(status)) << "exit status " << WEXITSTATUS(status);
        EXPECT_EQ(WTERMSIG(status), sig);
        EXPECT_TRUE(readFile(target) == previous);
        EXPECT_EQ(namesIn(dir.path()), (std::set<std::string>{"d.dict", "tmp"}));
        EXPECT_TRUE(namesIn(dir.file("tmp")).empty()) << "temporary runs left behind";
    }
}

// A kill at any moment, the final write included: the target holds the old
// dictionary or the whole new one, and nothing else is in its directory.
TEST(BuildSignals, KillAtAnyMomentLeavesOldOrNew) {
    TempDir dir;
    const std::string input = dir.file("in.txt");
    writeFile(input, randomLines(150000, 4));
    const std::string target = dir.file("d.dict");
    const std::string previous = previousDictionary(target);
    RunResult r = build({"-o", dir.file("new.dict"), "-i", input});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string fresh = readFile(dir.file("new.dict"));
    std::filesystem::remove(dir.file("new.dict"));

    // How long a whole build takes here, then kills spread over that time.
    auto started = std::chrono::steady_clock::now();
    r = build({"-o", dir.file("timed.dict"), "-i", input});
    const auto whole = std::chrono::steady_clock::now() - started;
    std::filesystem::remove(dir.file("timed.dict"));
    std::set<std::string> outcomes;
    for (int step = 1; step <= 10; ++step) {
        SCOPED_TRACE(step);
        writeFile(target, previous);
        Child child = startBuild({"-i", input, "-o", target}, dir.path());
        close(child.input);
        std::this_thread::sleep_for(whole * step / 10);
        kill(child.pid, SIGKILL);
        int status;
        ASSERT_EQ(waitpid(child.pid, &status, 0), child.pid);
        const std::string now = readFile(target);
        EXPECT_TRUE(now == previous || now == fresh) << "a partial dictionary under the target's name";
        outcomes.insert(now == previous ? "old" : "new");
        EXPECT_EQ(namesIn(dir.path()), (std::set<std::string>{"d.dict", "in.txt"}));
    }
    RecordProperty("outcomes", testing::PrintToString(outcomes));
}

// ---------------------------------------------------------------------------
// Out-of-order input through temporary runs.

TEST(BuildRuns, SameBytesWhateverTheMemoryLimit) {
    TempDir dir;
    const std::string lines = randomLines(100000, 5);
    std::vector<std::string> sorted;
    for (size_t at = 0, next; at < lines.size(); at = next + 1) {
        next = lines.find('\n', at);
        sorted.push_back(lines.substr(at, next - at + 1));
    }
    std::sort(sorted.begin(), sorted.end());
    std::string sortedText;
    for (const std::string& l : sorted) sortedText += l;
    RunResult r = build({"-o", dir.file("sorted.dict")}, sortedText);
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string expected = readFile(dir.file("sorted.dict"));
    const std::vector<std::string> tmp = {"TMPDIR=" + dir.file("tmp")};
    std::filesystem::create_directory(dir.file("tmp"));
    for (const char* limit : {"1", "2", "4096"}) {
        SCOPED_TRACE(limit);
        r = build({"-M", limit, "-o", dir.file("d.dict")}, lines, tmp);
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_TRUE(readFile(dir.file("d.dict")) == expected);
        EXPECT_TRUE(namesIn(dir.file("tmp")).empty());
    }
}

TEST(BuildRuns, MissingTemporaryDirectory) {
    TempDir dir;
    const std::string target = dir.file("d.dict");
    const std::string previous = previousDictionary(target);
    RunResult r = build({"-M", "1", "-o", target}, randomLines(100000, 7), {"TMPDIR=" + dir.file("tmp")});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, tool("dict_build") + ": cannot write a temporary file in '" + dir.file("tmp") +
                         "': No such file or directory\n");
    EXPECT_TRUE(readFile(target) == previous);
}

TEST(BuildRuns, TwinWithAnotherAnnotationNamesItsLine) {
    TempDir dir;
    std::string lines = "zebra!A\nmoth!A\n" + randomLines(100000, 6) + "moth!B\n";
    const std::string target = dir.file("d.dict");
    const std::string previous = previousDictionary(target);
    RunResult r = build({"-a", "-M", "1", "-o", target}, lines);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, tool("dict_build") + ": standard input, line 100003: duplicate word with another annotation\n");
    EXPECT_TRUE(readFile(target) == previous);
}

TEST(BuildRuns, BadMemoryLimitIsAUsageError) {
    for (const char* limit : {"0", "x", "-1", "4294967296"}) {
        SCOPED_TRACE(limit);
        RunResult r = build({"-M", limit, "-o", "/dev/null"});
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.err.find("bad memory limit '" + std::string(limit) + "'"), std::string::npos) << r.err;
        EXPECT_NE(r.err.find("Usage: "), std::string::npos) << r.err;
    }
}

} // namespace
