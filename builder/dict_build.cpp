// dict_build: compiles a word list, in the form dict_export writes, into a
// dictionary file.
#include "compiler.h"
#include "input_reader.h"
#include "option_scanner.h"
#include "standard_descriptors.h"
#include "tarvo_builder.h"

#include <cerrno>
#include <chrono>
#include <cinttypes>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <stdexcept>
#include <string>
#include <unistd.h>

namespace lt = velkin::libtarvo;
using dictbuild::Compiler;
using dictbuild::displayName;
using dictbuild::Encoding;
using dictbuild::InputError;
using dictbuild::Settings;

namespace {

const char kUsage[] =
    "Usage: %s -o DICT [-i INPUT] [-s SEP] [-e base64|hex] [-w|-W] [-a|-A] [-N] [-T TABLE]"
    " [-L compact|sparse] [-E little|big] [-M MIB] [-h] [-v]\n";

struct ReadError {
    std::string file;
    std::string reason;
};

// A path such as /dev/stdin that names a closed descriptor fails as reading
// that descriptor would, rather than at opening what holds its place.
void checkReadable(const std::string& path, const std::string& shown) {
    if (!path.empty() && dictexport::descriptorDenies(path, O_RDONLY)) throw ReadError{shown, std::strerror(EBADF)};
}

// Reads every line of the input into the compiler.
void readInput(const Settings& s, Compiler& compiler) {
    std::unique_ptr<dictbuild::LineReader> reader;
    checkReadable(s.input, displayName(s.input));
    try {
        reader = std::make_unique<dictbuild::LineReader>(s.input);
    } catch (const std::runtime_error& e) {
        throw ReadError{displayName(s.input), e.what()};
    }
    const bool progress = isatty(2);
    std::string_view line;
    for (;;) {
        bool more;
        try {
            more = reader->next(line);
        } catch (const std::runtime_error& e) {
            throw ReadError{displayName(s.input), e.what()};
        }
        if (!more) break;
        compiler.addLine(line, reader->lineNumber());
        if (progress && reader->lineNumber() % 1000000 == 0)
            std::fprintf(stderr, "\rread %" PRIu64 " lines", reader->lineNumber());
    }
    if (progress && reader->lineNumber() >= 1000000) std::fputc('\n', stderr);
}

dictbuild::Annotations loadTable(const Settings& s) {
    checkReadable(s.table, s.table);
    try {
        return dictbuild::readTable(s);
    } catch (const std::runtime_error& e) {
        throw ReadError{s.table, e.what()};
    }
}

bool chooseWord(const char* text, const char* a, const char* b, bool& choseB) {
    if (std::strcmp(text, a) == 0) choseB = false;
    else if (std::strcmp(text, b) == 0) choseB = true;
    else return false;
    return true;
}

int usage(const char* program, FILE* to, int status) {
    std::fprintf(to, kUsage, program);
    return status;
}

// Fills `s` from the command line; returns -1 to go on, else the exit status.
int parseCommandLine(int argc, char** argv, Settings& s) {
    const char* program = argv[0];
    int option;
    bool chosen;
    while ((option = dictexport::getopt(argc, argv, "o:i:s:e:T:L:E:M:wWaANhv")) != -1) {
        const char* arg = dictexport::optarg;
        switch (option) {
        case 'o': s.output = arg; break;
        case 'i': s.input = arg; break;
        case 'T': s.table = arg; break;
        case 's': s.separator = arg[0]; break;
        case 'w': s.encodedWords = false; break;
        case 'W': s.encodedWords = true; break;
        case 'a': s.encodedAnnots = false; break;
        case 'A': s.encodedAnnots = true; break;
        case 'N': s.numbers = true; break;
        case 'e':
            if (!chooseWord(arg, "hex", "base64", chosen)) {
                std::fprintf(stderr, "%s: unknown encoding '%s' (hex or base64)\n", program, arg);
                return usage(program, stderr, 1);
            }
            s.encoding = chosen ? Encoding::Base64 : Encoding::Hex;
            break;
        case 'L':
            if (!chooseWord(arg, "compact", "sparse", chosen)) {
                std::fprintf(stderr, "%s: unknown layout '%s' (compact or sparse)\n", program, arg);
                return usage(program, stderr, 1);
            }
            s.build.layout = chosen ? lt::Layout::Sparse : lt::Layout::Compact;
            break;
        case 'E':
            if (!chooseWord(arg, "little", "big", chosen)) {
                std::fprintf(stderr, "%s: unknown byte order '%s' (little or big)\n", program, arg);
                return usage(program, stderr, 1);
            }
            s.build.bigEndian = chosen;
            break;
        case 'M': {
            uint32_t mib;
            if (!dictbuild::parseNumber(arg, mib) || mib == 0) {
                std::fprintf(stderr, "%s: bad memory limit '%s' (MiB, at least 1)\n", program, arg);
                return usage(program, stderr, 1);
            }
            s.memoryLimit = uint64_t(mib) << 20;
            break;
        }
        case 'h': return usage(program, stdout, 0);
        case 'v':
            std::printf("libtarvo v%s, self v%s\n", lt::LibTarvoInfo::getVersion().c_str(), "0.3.1");
            return 0;
        default: return usage(program, stderr, 1);
        }
    }
    if (dictexport::optind < argc) {
        std::fprintf(stderr, "%s: unexpected argument '%s'\n", program, argv[dictexport::optind]);
        return usage(program, stderr, 1);
    }
    if (s.output.empty()) {
        std::fprintf(stderr, "%s: no output file given (-o DICT)\n", program);
        return usage(program, stderr, 1);
    }
    return -1;
}

void printSummary(const lt::BuildStats& stats, double seconds) {
    std::fprintf(stderr,
                 "words: %" PRIu64 ", annotations: %" PRIu64 ", states: %" PRIu64 ", transitions: %" PRIu64
                 ", bytes: %" PRIu64 ", bytes per word: %.2f, seconds: %.2f\n",
                 stats.words, stats.annotations, stats.states, stats.transitions, stats.bytes,
                 stats.words ? double(stats.bytes) / double(stats.words) : 0.0, seconds);
}

} // namespace

int main(int argc, char** argv) {
    const char* program = argv[0];
    dictexport::holdStandardDescriptors();
    // A closed pipe on standard error must not end the build: writes to it
    // then fail quietly instead. SIGINT, SIGTERM and SIGHUP keep their
    // default action: the output and the runs are unnamed files until the
    // final rename, so dying at any moment leaves nothing behind.
    std::signal(SIGPIPE, SIG_IGN);
    Settings s;
    int status = parseCommandLine(argc, argv, s);
    if (status >= 0) return status;
    auto started = std::chrono::steady_clock::now();
    try {
        // Before any input is read.
        if (dictexport::descriptorDenies(s.output, O_WRONLY))
            throw std::runtime_error("cannot write '" + s.output + "': " + std::strerror(EBADF));
        lt::checkOutputPath(s.output);
        dictbuild::Annotations annotations;
        if (!s.table.empty()) annotations = loadTable(s);
        Compiler compiler(s, annotations);
        readInput(s, compiler);
        lt::BuildStats stats = compiler.finish();
        printSummary(stats, std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count());
        return 0;
    } catch (const InputError& e) {
        std::fprintf(stderr, "%s: %s, line %" PRIu64 ": %s\n", program, e.file.c_str(), e.line, e.message.c_str());
    } catch (const ReadError& e) {
        std::fprintf(stderr, "%s: cannot read '%s': %s\n", program, e.file.c_str(), e.reason.c_str());
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "%s: out of memory\n", program);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s: %s\n", program, e.what());
    }
    return 1;
}
