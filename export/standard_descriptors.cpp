#include "standard_descriptors.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace dictexport {

void holdStandardDescriptors() {
    const int modes[] = {O_WRONLY, O_RDONLY, O_WRONLY};
    for (int fd = 0; fd <= 2; ++fd) {
        if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
        int opened = ::open("/dev/null", modes[fd]);
        if (opened >= 0 && opened != fd) {
            ::dup2(opened, fd);
            ::close(opened);
        }
    }
}

} // namespace dictexport
