// Writing a dictionary file so that its path holds either the old content or
// the complete new one, whatever happens: a full disk, a signal, a kill.
//
// The bytes go to an unnamed file in the target's directory (O_TMPFILE),
// which the kernel drops if the process dies. Only when every byte is on disk
// does it get a name beside the target, "PATH.tmp-PID-N", that is renamed over
// the target at once. A file system without unnamed files gets a named
// temporary file "PATH.tmp-XXXXXX" from the start; a SIGKILL then leaves it
// behind, but never a partial file under PATH. (A name too long for either
// suffix is cut short in the temporary name.)
#include "file_writer.h"

#include "tarvo.h"
#include "tarvo_builder.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

namespace velkin::libtarvo {

namespace {

using Parts = std::vector<std::span<const uint8_t>>;

[[noreturn]] void fail(const std::string& path, const std::string& reason) {
    throw Error(Error::Kind::CannotOpen, "cannot write '" + path + "': " + reason);
}

[[noreturn]] void fail(const std::string& path, int error) { fail(path, std::strerror(error)); }

// The signals that ask a build to stop. While the file is written they are
// held; one that arrived cancels the rename and is delivered afterwards.
class HeldSignals {
public:
    HeldSignals() {
        sigemptyset(&set_);
        for (int s : kStopSignals) sigaddset(&set_, s);
        pthread_sigmask(SIG_BLOCK, &set_, &previous_);
    }
    ~HeldSignals() { pthread_sigmask(SIG_SETMASK, &previous_, nullptr); }
    HeldSignals(const HeldSignals&) = delete;
    HeldSignals& operator=(const HeldSignals&) = delete;

    bool stopRequested() const {
        sigset_t pending;
        if (sigpending(&pending) != 0) return false;
        for (int s : kStopSignals)
            if (sigismember(&pending, s)) return true;
        return false;
    }

private:
    static constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};
    sigset_t set_;
    sigset_t previous_;
};

// Writes every part to `fd`; 0 or the errno of the failure.
int writeParts(int fd, const Parts& parts) {
    for (std::span<const uint8_t> part : parts) {
        size_t written = 0;
        while (written < part.size()) {
            ssize_t n = ::write(fd, part.data() + written, part.size() - written);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) return errno;
            written += size_t(n);
        }
    }
    return 0;
}

// Writes the parts, flushes them to disk and closes `fd`; 0 or the errno.
int writeAndClose(int fd, const Parts& parts) {
    int error = writeParts(fd, parts);
    if (error == 0 && ::fsync(fd) != 0 && errno != EINVAL) error = errno;
    if (::close(fd) != 0 && error == 0) error = errno;
    return error;
}

std::string directoryOf(const std::string& path) {
    size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// A device, a pipe or a socket is written as it is: renaming over it would
// replace the node (say /dev/full) by a regular file.
void writeInPlace(const std::string& path, const Parts& parts) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) fail(path, errno);
    int error = writeParts(fd, parts);
    if (::close(fd) != 0 && error == 0) error = errno;
    if (error) fail(path, error);
}

// What a write replaces: `file` is the file that `path` names, through any
// symbolic links, so that a link stays and the file it points at is
// replaced. Messages name `path` as the caller gave it.
struct Target {
    std::string path;
    std::string file;
    std::optional<struct stat> replaced;  // the regular file there, if any
};

// Follows `path` through symbolic links, also to a file not there yet, as
// the shell's > would; a loop of links fails as it would there.
std::string followLinks(const std::string& path) {
    std::string file = path;
    for (int hop = 0; hop <= 40; ++hop) {
        std::string link(4096, '\0');
        ssize_t n = ::readlink(file.c_str(), link.data(), link.size());
        if (n <= 0 || size_t(n) == link.size()) return file;
        link.resize(size_t(n));
        file = link.front() == '/' ? link : directoryOf(file) + "/" + link;
    }
    fail(path, ELOOP);
}

// A temporary name beside `file`: `file` and `suffix`, the file's own name
// cut where the two would pass the longest name a directory entry can hold.
std::string temporaryBeside(const std::string& file, const std::string& suffix) {
    constexpr size_t kLongestName = 255;
    const size_t nameStart = file.rfind('/') + 1;  // 0 without a slash
    const size_t nameLength = file.size() - nameStart;
    const size_t kept = nameLength + suffix.size() <= kLongestName ? nameLength : kLongestName - suffix.size();
    return file.substr(0, nameStart + kept) + suffix;
}

bool sameFile(const std::string& path, const struct stat& known) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && st.st_dev == known.st_dev && st.st_ino == known.st_ino;
}

Target targetOf(const std::string& path, const struct stat* existing) {
    Target target{path, followLinks(path), std::nullopt};
    if (existing) target.replaced = *existing;
    return target;
}

// The new file takes the replaced one's permissions, and its owner and group
// where the process may give them, so that a rebuild opens the file to no
// one new. A new name gets what the umask leaves of 0666.
void takeModeOf(int fd, const Target& target) {
    if (!target.replaced) {
        mode_t mask = ::umask(0);
        ::umask(mask);
        ::fchmod(fd, 0666 & ~mask);
        return;
    }
    const struct stat& old = *target.replaced;
    // The owner before the mode: giving a file away clears its set-id bits.
    if (::fchown(fd, old.st_uid, old.st_gid) != 0) {
        int groupOnly = ::fchown(fd, uid_t(-1), old.st_gid);  // fails too where the group is not ours
        (void)groupOnly;
    }
    ::fchmod(fd, old.st_mode & 07777);
}

// Gives the finished unnamed file `fd` a temporary name beside the target and
// renames it over the target. False when this system cannot name it (no /proc).
bool publishUnnamed(int fd, const Target& target, const HeldSignals& held) {
    const std::string self = "/proc/self/fd/" + std::to_string(fd);
    const std::string stem = ".tmp-" + std::to_string(::getpid()) + "-";
    for (unsigned attempt = 0;; ++attempt) {
        if (held.stopRequested()) fail(target.path, "interrupted");
        const std::string name = temporaryBeside(target.file, stem + std::to_string(attempt));
        if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) != 0) {
            if (errno == EEXIST && attempt < 1000) continue;
            if (errno == ENOENT && ::access("/proc/self/fd", F_OK) != 0) return false;
            fail(target.path, errno);
        }
        if (::rename(name.c_str(), target.file.c_str()) != 0) {
            int error = errno;
            ::unlink(name.c_str());
            fail(target.path, error);
        }
        return true;
    }
}

void writeNamed(const Target& target, const Parts& parts, const HeldSignals& held) {
    std::string temporary = temporaryBeside(target.file, ".tmp-XXXXXX");
    int fd = ::mkstemp(temporary.data());
    if (fd < 0) fail(target.path, errno);
    takeModeOf(fd, target);
    int error = writeAndClose(fd, parts);
    if (error == 0 && held.stopRequested()) error = EINTR;
    if (error == 0 && ::rename(temporary.c_str(), target.file.c_str()) != 0) error = errno;
    if (error == 0) return;
    ::unlink(temporary.c_str());
    fail(target.path, error == EINTR ? std::string("interrupted") : std::strerror(error));
}

} // namespace

void checkOutputPath(const std::string& path) {
    struct stat st;
    if (::stat(path.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode)) fail(path, EISDIR);
        return;
    }
    const std::string directory = directoryOf(followLinks(path));
    if (::stat(directory.c_str(), &st) != 0) fail(path, errno);
    if (!S_ISDIR(st.st_mode)) fail(path, ENOTDIR);
}

void writeFileAtomically(const std::string& path, const Parts& parts) {
    struct stat st;
    const bool exists = ::stat(path.c_str(), &st) == 0;
    if (exists && !S_ISREG(st.st_mode)) {
        if (S_ISDIR(st.st_mode)) fail(path, EISDIR);
        writeInPlace(path, parts);
        return;
    }
    const Target target = targetOf(path, exists ? &st : nullptr);
    if (exists && !sameFile(target.file, st)) {
        // The links end in no name of the file (/proc/self/fd/N of a
        // deleted file): there is nothing to rename over.
        writeInPlace(path, parts);
        return;
    }
    HeldSignals held;
    int fd = ::open(directoryOf(target.file).c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
    if (fd >= 0) {
        takeModeOf(fd, target);
        int error = writeParts(fd, parts);
        if (error == 0 && ::fsync(fd) != 0 && errno != EINVAL) error = errno;
        if (error) {
            ::close(fd);
            fail(path, error);
        }
        bool published;
        try {
            published = publishUnnamed(fd, target, held);
        } catch (...) {
            ::close(fd);
            throw;
        }
        ::close(fd);  // after fsync: the file is whole, in place or not
        if (published) return;
    } else if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) {
        fail(path, errno);
    }
    writeNamed(target, parts, held);
}

} // namespace velkin::libtarvo
