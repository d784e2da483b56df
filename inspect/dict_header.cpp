// dict_header: prints the header of a dictionary file as the library reads it.
#include <cstdio>

#include "banner.h"
#include "binding/tarvo.h"
#include "output.h"

namespace {

enum ExitStatus { ExitOk = 0, ExitFailure = 1 };

// ONLY_COMMON is on for "Y" or "1" only: a lower-case "y" asks for the full report.
bool onlyCommon(int argc, char** argv) {
    if (argc < 3) return false;
    char first = argv[2][0];
    return first == 'Y' || first == '1';
}

// The flags in this order, which is not the order of the fields.
void printFlags(const HeaderRecord& header) {
    std::printf("Flags: ");
    if (header.isTree) std::printf("[TREE]");
    if (header.isSparse) std::printf("[SPARSE]");
    if (header.isHash) std::printf("[HASH]");
    if (header.isBigEndian) std::printf("[BIG_ENDIAN]");
    std::printf("\n");
}

void printSections(const HeaderRecord& header) {
    std::printf("Alphabet offset: %d\n", header.alphabetOffset);
    std::printf("Fsa offset: %d\n", header.fsaOffset);
    std::printf("Annot offset: %d\n", header.annotOffset);
    std::printf("Alphabet size: %d\n", header.alphabetSize);
    std::printf("Transes count: %d\n", header.transCount);
    std::printf("Annot length size: %d\n", header.annotLengthSize);
    std::printf("Annot chunk size: %d\n", header.annotChunkSize);
    std::printf("Annot chunks count: %d\n", header.annotChunksCount);
    std::printf("Char size: %d\n", header.charSize);
    std::printf("Padding size: %d\n", header.paddingSize);
    std::printf("Dest size: %d\n", header.destSize);
    std::printf("Hash size %d\n", header.hashSize);
    std::printf("Trans size(total): %d\n", header.transSizeTotal);
}

} // namespace

int main(int argc, char** argv) {
    inspect::reportBrokenPipes();
    if (argc < 2) {
        std::fprintf(stderr, "Usage %s DICT_FILE [ONLY_COMMON - Y/N]\n", argv[0]);
        return ExitFailure;
    }
    inspect::printBanner();

    // Cleared first, so a failure that leaves no reason prints an empty one.
    char reason[TARVO_ERROR_TEXT_SIZE] = {};
    TarvoHandle handle = tarvo_open(argv[1], 0, reason);
    if (!handle) {
        reason[sizeof reason - 1] = '\0';
        std::fflush(stdout);  // the banner stays ahead of the complaint
        std::fprintf(stderr, "Can`t open %s file (%s)", argv[1], reason);
        return ExitFailure;
    }

    const HeaderRecord& header = *tarvo_header(handle);
    std::printf("Ver: %d\n", header.version);
    printFlags(header);
    if (!onlyCommon(argc, argv)) printSections(header);
    tarvo_close(handle);
    return inspect::finishOutput() ? ExitOk : ExitFailure;
}
