// Helpers for end-to-end tests: run a program, capture what it writes.
#pragma once

#include <string>
#include <vector>

namespace tarvo_test {

struct RunResult {
    int status = -1;     // exit status, or 128 + signal number
    bool signaled = false;
    bool timedOut = false; // killed when the time given to run() ran out
    std::string out;     // standard output, byte for byte
    std::string err;     // standard error, byte for byte
};

// Runs `argv` (argv[0] is the program path and the name it sees) with
// `input` on standard input. `env` entries "NAME=value" are added to the
// environment; "-NAME" removes NAME. A program still running after
// `timeoutSeconds` (0: no limit) is killed and reported as timed out.
RunResult run(const std::vector<std::string>& argv, const std::string& input = "",
              const std::vector<std::string>& env = {}, int timeoutSeconds = 0);

// A fresh empty directory for one test, removed by the destructor.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& bytes);
bool fileExists(const std::string& path);

// Path of a built tool, e.g. tool("dict_export").
std::string tool(const std::string& name);

// Runs the built tool `name` (as tool() finds it) with `args`, like run().
RunResult runTool(const std::string& name, std::vector<std::string> args, const std::string& input = "",
                  const std::vector<std::string>& env = {});

} // namespace tarvo_test
