#include "standard_descriptors.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

namespace dictexport {

void holdStandardDescriptors() {
    for (int fd = 0; fd <= 2; ++fd) {
        if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
        int opened = ::open("/", O_PATH | O_DIRECTORY);
        if (opened >= 0 && opened != fd) {
            ::dup2(opened, fd);
            ::close(opened);
        }
    }
}

namespace {

// The descriptor that `path` itself names ("/proc/self/fd/3", "/dev/fd/3",
// "/proc/PID/fd/3" with this process's PID), or -1.
int descriptorNamed(const std::string& path) {
    const std::string own = "/proc/" + std::to_string(::getpid()) + "/fd/";
    for (const std::string& directory : {std::string("/proc/self/fd/"), std::string("/proc/thread-self/fd/"),
                                         std::string("/dev/fd/"), own}) {
        if (path.compare(0, directory.size(), directory) != 0 || path.size() == directory.size()) continue;
        const std::string digits = path.substr(directory.size());
        if (digits.size() > 9 || digits.find_first_not_of("0123456789") != std::string::npos) return -1;
        return std::atoi(digits.c_str());
    }
    return -1;
}

std::string directoryOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

} // namespace

bool descriptorDenies(const std::string& path, int access) {
    std::string at = path;
    for (int hop = 0; hop <= 40; ++hop) {
        if (int fd = descriptorNamed(at); fd >= 0) {
            const int flags = ::fcntl(fd, F_GETFL);
            return flags == -1 || (flags & O_PATH) || (flags & O_ACCMODE) == (access == O_RDONLY ? O_WRONLY : O_RDONLY);
        }
        std::string link(4096, '\0');
        const ssize_t n = ::readlink(at.c_str(), link.data(), link.size());
        if (n <= 0 || size_t(n) == link.size()) return false;
        link.resize(size_t(n));
        at = link.front() == '/' ? link : directoryOf(at) + "/" + link;
    }
    return false;
}

} // namespace dictexport
