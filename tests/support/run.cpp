#include "run.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace tarvo_test {

namespace {

std::vector<std::string> buildEnvironment(const std::vector<std::string>& changes) {
    std::vector<std::string> result;
    for (char** e = environ; *e; ++e) result.emplace_back(*e);
    for (const std::string& change : changes) {
        bool remove = !change.empty() && change[0] == '-';
        std::string name = remove ? change.substr(1) : change.substr(0, change.find('='));
        std::erase_if(result, [&](const std::string& entry) {
            return entry.compare(0, name.size() + 1, name + "=") == 0;
        });
        if (!remove) result.push_back(change);
    }
    return result;
}

// Milliseconds for poll() until `deadline`; -1 waits without limit.
int pollTimeout(bool limited, std::chrono::steady_clock::time_point deadline) {
    if (!limited) return -1;
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    return int(std::max<long long>(0, left.count()));
}

void pump(int inFd, const std::string& input, int outFd, int errFd, RunResult& result, pid_t pid,
          int timeoutSeconds) {
    size_t written = 0;
    bool limited = timeoutSeconds > 0;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
    if (input.empty()) { close(inFd); inFd = -1; }
    char buffer[65536];
    while (outFd >= 0 || errFd >= 0) {
        pollfd fds[3];
        int n = 0;
        int inIdx = -1, outIdx = -1, errIdx = -1;
        if (inFd >= 0) { fds[n] = {inFd, POLLOUT, 0}; inIdx = n++; }
        if (outFd >= 0) { fds[n] = {outFd, POLLIN, 0}; outIdx = n++; }
        if (errFd >= 0) { fds[n] = {errFd, POLLIN, 0}; errIdx = n++; }
        int ready = poll(fds, n, pollTimeout(limited, deadline));
        if (ready < 0) {
            if (errno == EINTR) continue;
            throw std::runtime_error("poll failed");
        }
        if (ready == 0) {
            // Out of time: the kill closes the program's ends of the pipes.
            kill(-pid, SIGKILL);
            result.timedOut = true;
            limited = false;
            continue;
        }
        if (inIdx >= 0 && fds[inIdx].revents) {
            ssize_t k = write(inFd, input.data() + written, input.size() - written);
            if (k > 0) written += size_t(k);
            if (k < 0 || written == input.size()) { close(inFd); inFd = -1; }
        }
        auto drain = [&](int idx, int& fd, std::string& sink) {
            if (idx < 0 || !fds[idx].revents) return;
            ssize_t k = read(fd, buffer, sizeof buffer);
            if (k > 0) sink.append(buffer, size_t(k));
            else { close(fd); fd = -1; }
        };
        drain(outIdx, outFd, result.out);
        drain(errIdx, errFd, result.err);
    }
    if (inFd >= 0) close(inFd);
}

} // namespace

RunResult run(const std::vector<std::string>& argv, const std::string& input,
              const std::vector<std::string>& env, int timeoutSeconds) {
    int inPipe[2], outPipe[2], errPipe[2];
    if (pipe(inPipe) || pipe(outPipe) || pipe(errPipe)) throw std::runtime_error("pipe failed");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, inPipe[0], 0);
    posix_spawn_file_actions_adddup2(&actions, outPipe[1], 1);
    posix_spawn_file_actions_adddup2(&actions, errPipe[1], 2);
    for (int fd : {inPipe[0], inPipe[1], outPipe[0], outPipe[1], errPipe[0], errPipe[1]})
        posix_spawn_file_actions_addclose(&actions, fd);

    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    std::vector<std::string> envStrings = buildEnvironment(env);
    std::vector<char*> envp;
    for (std::string& e : envStrings) envp.push_back(e.data());
    envp.push_back(nullptr);

    // The child must see SIGPIPE at its default, whatever the test runner set.
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    posix_spawnattr_setsigdefault(&attr, &defaults);
    // A run with a time limit gets a process group of its own, so that the
    // kill reaches what a shell started too.
    short flags = POSIX_SPAWN_SETSIGDEF;
    if (timeoutSeconds > 0) {
        flags |= POSIX_SPAWN_SETPGROUP;
        posix_spawnattr_setpgroup(&attr, 0);
    }
    posix_spawnattr_setflags(&attr, flags);

    pid_t pid;
    int rc = posix_spawn(&pid, argv[0].c_str(), &actions, &attr, args.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    close(inPipe[0]);
    close(outPipe[1]);
    close(errPipe[1]);
    RunResult result;
    if (rc != 0) {
        close(inPipe[1]); close(outPipe[0]); close(errPipe[0]);
        throw std::runtime_error("cannot start " + argv[0] + ": " + std::strerror(rc));
    }
    signal(SIGPIPE, SIG_IGN);
    pump(inPipe[1], input, outPipe[0], errPipe[0], result, pid, timeoutSeconds);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {}
    if (WIFSIGNALED(status)) {
        result.signaled = true;
        result.status = 128 + WTERMSIG(status);
    } else {
        result.status = WEXITSTATUS(status);
    }
    return result;
}

TempDir::TempDir() {
    std::filesystem::create_directories(TARVO_TEST_TMP);
    std::string pattern = std::string(TARVO_TEST_TMP) + "/t-XXXXXX";
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void writeFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), std::streamsize(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path);
}

bool fileExists(const std::string& path) { return std::filesystem::exists(path); }

std::string tool(const std::string& name) {
    static const char* dirs[] = {"export", "builder", "bench", "inspect"};
    for (const char* d : dirs) {
        std::string p = std::string(TARVO_BINARY_DIR) + "/" + d + "/" + name;
        if (access(p.c_str(), X_OK) == 0) return p;
    }
    throw std::runtime_error("tool not built: " + name);
}

RunResult runTool(const std::string& name, std::vector<std::string> args, const std::string& input,
                  const std::vector<std::string>& env) {
    args.insert(args.begin(), tool(name));
    return run(args, input, env);
}

} // namespace tarvo_test
