// Arbitrary bytes as dict_build's input, through the real line reader and
// compiler into a dictionary in memory. The first two bytes pick the options:
//
//   byte 0: bits 0-1 separator ('!', ';', zero byte, tab); bit 2 encoded words
//           (-W); bit 3 base64 (-e base64); bits 4-5 annotations: encoded (-A),
//           raw (-a), numbers (-N), raw again; bit 6 sparse; bit 7 big-endian
//   byte 1: the line reader's first block size (1 to 64)
//
// The same lines are compiled twice, once holding every out-of-order word in
// memory and once spilling them to temporary runs every few words: both must
// fail at the same line or give the same bytes, and the dictionary must open
// and list its words in strictly increasing order, each number in the table.
#include "compiler.h"
#include "input_reader.h"
#include "tarvo.h"
#include "tarvo_builder.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

namespace {

namespace lt = velkin::libtarvo;

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "build_input_fuzz: %s\n", what);
    std::abort();
}

dictbuild::Settings settingsFrom(uint8_t bits) {
    dictbuild::Settings s;
    s.separator = "!;\0\t"[bits & 3];
    s.encodedWords = bits & 4;
    s.encoding = bits & 8 ? dictbuild::Encoding::Base64 : dictbuild::Encoding::Hex;
    unsigned annots = (bits >> 4) & 3;
    s.encodedAnnots = annots == 0;
    s.numbers = annots == 2;
    s.build.layout = bits & 64 ? lt::Layout::Sparse : lt::Layout::Compact;
    s.build.bigEndian = bits & 128;
    return s;
}

struct Outcome {
    std::optional<uint64_t> faultyLine;  // set when the input was refused
    std::vector<uint8_t> file;
    uint32_t annotations = 0;
    bool numbersOnly = false;
};

Outcome compile(const dictbuild::Settings& s, int fd, size_t block) {
    Outcome out;
    if (::lseek(fd, 0, SEEK_SET) != 0) fail("lseek");
    try {
        dictbuild::Annotations annotations;
        dictbuild::Compiler compiler(s, annotations);
        dictbuild::LineReader reader(fd, block);
        std::string_view line;
        while (reader.next(line)) compiler.addLine(line, reader.lineNumber());
        out.file = compiler.finishToMemory();
        out.annotations = uint32_t(annotations.bytes.size());
        out.numbersOnly = s.numbers;
    } catch (const dictbuild::InputError& e) {
        out.faultyLine = e.line;
    }
    return out;
}

struct Listing {
    const Outcome* outcome;
    std::string previous;
    uint64_t count = 0;
};

int32_t checkWord(const uint8_t* w, int32_t length, const lt::AnnotRecord* annot, void* context) {
    Listing& l = *static_cast<Listing*>(context);
    std::string word(reinterpret_cast<const char*>(w), size_t(length));
    if (l.count > 0 && !(l.previous < word)) fail("words not in strictly increasing order");
    if (!l.outcome->numbersOnly && annot->number >= l.outcome->annotations) fail("number outside the table");
    l.previous = std::move(word);
    ++l.count;
    return 1;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    dictbuild::Settings s = settingsFrom(data[0]);
    const size_t block = 1 + data[1] % 64;
    int fd = ::memfd_create("build_input", MFD_CLOEXEC);
    if (fd < 0) fail("memfd_create");
    for (size_t done = 2; done < size;) {
        ssize_t n = ::write(fd, data + done, size - done);
        if (n <= 0) fail("write");
        done += size_t(n);
    }
    const Outcome inMemory = compile(s, fd, block);
    s.memoryLimit = 48;  // a run every word or two
    const Outcome throughRuns = compile(s, fd, block);
    ::close(fd);

    if (inMemory.faultyLine != throughRuns.faultyLine) fail("runs change which line is refused");
    if (inMemory.faultyLine) return 0;
    if (inMemory.file != throughRuns.file) fail("runs change the dictionary's bytes");

    lt::MemorySource source(inMemory.file);
    std::unique_ptr<lt::Dict> dict;
    try {
        dict = lt::Dict::create(source, false);
    } catch (const lt::Error& e) {
        std::fprintf(stderr, "build_input_fuzz: %s\n", e.what());
        fail("a built dictionary does not open");
    }
    Listing listing{&inMemory, {}, 0};
    dict->forEachWord(dict->root, checkWord, &listing);
    return 0;
}
