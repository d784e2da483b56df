#include "dictionary_watch.h"

#include <atomic>
#include <csignal>
#include <fcntl.h>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

namespace dictexport {

const char kDictionaryChanged[] = "Can`t read the dictionary file (it was changed while it was listed)";

namespace {

// File-wide because the fault handlers read them; set before any listing
// thread starts and not changed after.
int watchedFd = -1;
struct stat watchedState;
struct sigaction segvBefore;

constexpr int kFailure = 1;

bool sameTime(const timespec& a, const timespec& b) { return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec; }

// Only calls that are safe in a signal handler. Both listing threads may
// fault at once: the first says it, the other waits for the exit to end it.
[[noreturn]] void endRun(const char* message, size_t length) {
    static std::atomic<bool> reported{false};
    if (reported.exchange(true))
        for (;;) pause();
    ssize_t written = write(STDERR_FILENO, message, length);
    written = write(STDERR_FILENO, "\n", 1);
    (void)written;
    _exit(kFailure);
}

void onBusError(int) {
    static const char message[] = "Can`t read the dictionary file (it was shortened, or the disk failed)";
    endRun(message, sizeof message - 1);
}

void onSegmentationFault(int, siginfo_t* info, void*) {
    if (dictionaryChanged()) endRun(kDictionaryChanged, sizeof kDictionaryChanged - 1);
    // Not the file's doing: a fault comes again on return, to the handler
    // before this one or to the default action; a signal sent by another
    // process is sent again, to be taken once this handler returns.
    sigaction(SIGSEGV, &segvBefore, nullptr);
    if (info->si_code <= 0) raise(SIGSEGV);
}

} // namespace

void watchDictionary(const char* path) {
    int fd = ::open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return;
    if (fstat(fd, &watchedState) != 0) {
        ::close(fd);
        return;
    }
    watchedFd = fd;
}

bool dictionaryChanged() {
    if (watchedFd < 0) return false;
    struct stat now;
    if (fstat(watchedFd, &now) != 0) return false;
    return now.st_size != watchedState.st_size || !sameTime(now.st_mtim, watchedState.st_mtim);
}

void checkDictionary() {
    if (dictionaryChanged()) throw std::runtime_error(kDictionaryChanged);
}

void reportMappingFaults() {
    struct sigaction action = {};
    sigemptyset(&action.sa_mask);
    action.sa_handler = onBusError;
    sigaction(SIGBUS, &action, nullptr);
    action.sa_sigaction = onSegmentationFault;
    action.sa_flags = SA_SIGINFO;
    sigaction(SIGSEGV, &action, &segvBefore);
}

} // namespace dictexport
