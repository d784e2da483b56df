// Lists every key of a dawgdic dictionary built with a guide
// (`dawgdic-build -g`), depth first in byte order, one key a line.
// Usage: dawgdic_list DICT > KEYS
#include <dawgdic/completer.h>
#include <dawgdic/dictionary.h>
#include <dawgdic/guide.h>

#include <cstdio>
#include <fstream>
#include <vector>

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: dawgdic_list DICT\n");
        return 2;
    }
    std::ifstream input(argv[1], std::ios::binary);
    dawgdic::Dictionary dic;
    dawgdic::Guide guide;
    // dawgdic-build -g writes the dictionary, then the guide.
    if (!dic.Read(&input) || !guide.Read(&input)) {
        std::fprintf(stderr, "dawgdic_list: %s: not a dawgdic dictionary with guide\n", argv[1]);
        return 1;
    }
    std::vector<char> buffer(1 << 20);
    std::setvbuf(stdout, buffer.data(), _IOFBF, buffer.size());
    dawgdic::Completer completer(dic, guide);
    completer.Start(dic.root());
    while (completer.Next()) {
        std::fwrite(completer.key(), 1, completer.length(), stdout);
        std::putc('\n', stdout);
    }
    return std::fflush(stdout) == 0 ? 0 : 1;
}
