// dict_dump: has the library print a dictionary in its own dump form.
#include <cerrno>
#include <cstdio>

#include "banner.h"
#include "binding/tarvo.h"
#include "output.h"

namespace {

enum ExitStatus { ExitOk = 0, ExitFailure = 1 };

} // namespace

int main(int argc, char** argv) {
    inspect::reportBrokenPipes();
    if (argc < 2) {
        std::fprintf(stderr, "Usage %s DICT_FILE\n", argv[0]);
        return ExitFailure;
    }
    inspect::printBanner();
    // The library may write the dump past our buffer; the banner goes first either way.
    std::fflush(stdout);

    TarvoHandle handle = tarvo_open(argv[1], 0, nullptr);
    if (!handle) {
        std::fprintf(stderr, "Can`t open %s file", argv[1]);
        return ExitFailure;
    }
    TarvoDumpOptions options = {};  // mode 0, the library's one dump form
    // A dictionary whose words cannot all be listed is refused by the library,
    // which says why on standard error; a write error is reported below.
    errno = 0;
    bool dumped = tarvo_dump(handle, &options) == 0;
    int writeReason = errno;  // the library's own flush may have met the write error
    tarvo_close(handle);
    bool written = inspect::finishOutput(writeReason);
    return dumped && written ? ExitOk : ExitFailure;
}
