// What dict_header, dict_dump and dict_bench do about their standard output: a write error
// met at any point of the run (a full disk, a closed or broken pipe) is
// reported at the end, and never kills the tool.
#pragma once

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>

namespace inspect {

// A reader that goes away early must end in a reported write error, not in
// death by SIGPIPE.
inline void reportBrokenPipes() { std::signal(SIGPIPE, SIG_IGN); }

// Pushes out what is buffered; false, with a message on standard error, when
// any write to standard output failed. `earlierReason` is the errno of a
// failure met before, for when nothing is left to write now.
inline bool finishOutput(int earlierReason = 0) {
    errno = 0;
    bool failed = std::fflush(stdout) != 0;
    int reason = errno != 0 ? errno : earlierReason;
    failed = std::ferror(stdout) != 0 || failed;
    if (!failed) return true;
    std::fprintf(stderr, "Can`t write to standard output (%s)\n",
                 reason != 0 ? std::strerror(reason) : "write error");
    return false;
}

} // namespace inspect
