#include "file_writer.h"

#include "tarvo.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace velkin::libtarvo {

namespace {

[[noreturn]] void fail(const std::string& path, int error, const std::string& temporary) {
    if (!temporary.empty()) ::unlink(temporary.c_str());
    throw Error(Error::Kind::CannotOpen, "cannot write '" + path + "': " + std::strerror(error));
}

mode_t creationMode() {
    mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}

} // namespace

void writeFileAtomically(const std::string& path, const std::vector<std::span<const uint8_t>>& parts) {
    std::string temporary = path + ".tmp-XXXXXX";
    int fd = ::mkstemp(temporary.data());
    if (fd < 0) fail(path, errno, "");
    ::fchmod(fd, creationMode());
    for (std::span<const uint8_t> part : parts) {
        size_t written = 0;
        while (written < part.size()) {
            ssize_t n = ::write(fd, part.data() + written, part.size() - written);
            if (n < 0) {
                if (errno == EINTR) continue;
                int e = errno;
                ::close(fd);
                fail(path, e, temporary);
            }
            written += size_t(n);
        }
    }
    if (::fsync(fd) != 0 && errno != EINVAL) {
        int e = errno;
        ::close(fd);
        fail(path, e, temporary);
    }
    if (::close(fd) != 0) fail(path, errno, temporary);
    if (::rename(temporary.c_str(), path.c_str()) != 0) fail(path, errno, temporary);
}

} // namespace velkin::libtarvo
