// dict_dump: has the library print a dictionary in its own dump form.
#include <cstdio>

#include "banner.h"
#include "binding/tarvo.h"

namespace {

enum ExitStatus { ExitOk = 0, ExitFailure = 1 };

} // namespace

int main(int argc, char** argv) {
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
    tarvo_dump(handle, &options);
    tarvo_close(handle);
    return ExitOk;
}
