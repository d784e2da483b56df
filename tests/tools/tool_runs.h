// Shared pieces of the dict_bench, dict_header and dict_dump end-to-end tests.
#pragma once

#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

#include "run.h"

namespace tools_test {

// Builds the lines of `input` ("word!field" each) into a dictionary at `path` with dict_build.
inline void buildDict(const std::string& path, const std::string& input,
                      const std::vector<std::string>& options = {"-N"}) {
    std::vector<std::string> argv = {tarvo_test::tool("dict_build"), "-o", path};
    argv.insert(argv.end(), options.begin(), options.end());
    tarvo_test::RunResult built = tarvo_test::run(argv, input);
    if (built.status != 0) throw std::runtime_error("dict_build failed: " + built.err);
}

// Runs `argv` with standard error joined to standard output, to see the order of the two.
inline tarvo_test::RunResult runJoined(const std::vector<std::string>& argv) {
    std::vector<std::string> shell = {"/bin/sh", "-c", "exec \"$@\" 2>&1", "sh"};
    shell.insert(shell.end(), argv.begin(), argv.end());
    return tarvo_test::run(shell);
}

// The environment entry that lets a preloaded probe come before a sanitizer's runtime.
inline std::string preloadAsanOptions() {
    const char* current = std::getenv("ASAN_OPTIONS");
    std::string options = current ? std::string(current) + ":" : "";
    return "ASAN_OPTIONS=" + options + "verify_asan_link_order=0";
}

} // namespace tools_test
