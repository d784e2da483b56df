// A program outside the tree that uses the installed library: looks one word
// up in a dictionary and prints the library's version and the word's number.
#include <tarvo.h>

#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s DICT WORD\n", argv[0]);
        return 1;
    }
    char reason[TARVO_ERROR_TEXT_SIZE] = {};
    TarvoHandle dict = tarvo_open(argv[1], 0, reason);
    if (!dict) {
        std::fprintf(stderr, "%s: %s\n", argv[1], reason);
        return 1;
    }
    char scratch[20];
    int32_t number = tarvo_walk(dict, argv[2], int32_t(std::strlen(argv[2])), tarvo_get_root(dict), scratch);
    // The object interface too, so that a C++ symbol crosses the boundary.
    std::printf("libtarvo %s: %s %d\n", velkin::libtarvo::LibTarvoInfo::getVersion().c_str(), argv[2], number);
    tarvo_close(dict);
    return 0;
}
