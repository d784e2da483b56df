// dict_export: lists every word of a dictionary (optionally with its
// annotation), or every annotation with its number, one entry per line, to a
// file or to standard output.
#include "binding/tarvo.h"
#include "block_writer.h"
#include "dictionary_watch.h"
#include "export_options.h"
#include "line_formatter.h"
#include "option_scanner.h"
#include "span_listing.h"
#include "standard_descriptors.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <exception>
#include <fcntl.h>
#include <memory>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <system_error>
#include <thread>
#include <unistd.h>
#include <vector>

namespace dictexport {

namespace {

using velkin::libtarvo::Dict;
using velkin::libtarvo::FileSource;
using velkin::libtarvo::LibTarvoInfo;
using velkin::libtarvo::WordSpan;

// Every exit status of the tool.
enum ExitStatus { kSuccess = 0, kFailure = 1 };

constexpr const char kOptionString[] = "d:o:s:t:e:wWaAnNhbv";
constexpr const char kSelfVersion[] = "0.3.1";


enum class Mode { Words, Annots };

// The driver's own settings beside ExportOptions.
struct DriverSettings {
    std::string dictionaryPath;
    std::string outputPath;       // empty: standard output
    Mode mode = Mode::Words;
    bool reportTime = false;
};

void printUsage(const char* program) {
    std::printf("Usage [-v] %s -d dict file [-o out file] [-s separator] [-t words|annots] "
                "[-e base64|hex] [-wWaAnNhb]\n",
                program);
}

void printBanner() {
    std::printf("libtarvo v%s, self v%s", LibTarvoInfo::getVersion().c_str(), kSelfVersion);
}

// Applies the options in the order given. Returns false when the run ends
// here with status 0: the usage text or the banner has been printed.
bool scanOptions(int argc, char** argv, ExportOptions& options, DriverSettings& settings) {
    int option;
    while ((option = getopt(argc, argv, kOptionString)) != -1) {
        switch (option) {
        case 'd': settings.dictionaryPath = optarg; break;
        case 'o': settings.outputPath = optarg; break;
        case 's': options.separator = uint8_t(optarg[0]); break;
        case 't':
            settings.mode = std::strcmp(optarg, "annots") == 0 ? Mode::Annots : Mode::Words;
            break;
        case 'e': options.useBase64 = std::strcmp(optarg, "base64") == 0; break;
        case 'w': options.encodeWords = false; break;
        case 'W': options.encodeWords = true; break;
        case 'a': options.encodeAnnots = false; options.showAnnots = true; break;
        case 'A': options.encodeAnnots = true; options.showAnnots = true; break;
        case 'n': options.annotNumbers = false; options.showAnnots = true; break;
        case 'N': options.annotNumbers = true; options.showAnnots = true; break;
        case 'b': settings.reportTime = true; break;
        case 'v': printBanner(); return false;
        default: printUsage(argv[0]); return false; // -h, '?' (already reported) and ':'
        }
    }
    return true;
}

// Elapsed milliseconds from a fixed point: the clock the timing line is
// computed from, 1000 ticks per second.
long long readClock() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

// The named output file, or standard output for an empty path; null when
// the file cannot be created.
std::FILE* openOutput(const std::string& path) {
    // /dev/stdout with standard output closed fails here as writing to the
    // closed descriptor would, rather than at opening what holds its place.
    if (!path.empty() && descriptorDenies(path, O_WRONLY)) return nullptr;
    std::FILE* out = path.empty() ? stdout : std::fopen(path.c_str(), "wb");
    // The line formatter hands the stream whole blocks of lines: unbuffered,
    // each block goes out in one write, without a copy into a stream buffer.
    if (out != nullptr) std::setvbuf(out, nullptr, _IONBF, 0);
    return out;
}

// True when the output (the named file, or standard output for an empty
// path) is the dictionary file itself: creating the output would empty the
// dictionary before it is read, and a listing appended to it corrupts it.
bool outputIsDictionary(const DriverSettings& settings) {
    struct stat dict, out;
    if (::stat(settings.dictionaryPath.c_str(), &dict) != 0 || !S_ISREG(dict.st_mode)) return false;
    const int found = settings.outputPath.empty() ? ::fstat(STDOUT_FILENO, &out)
                                                  : ::stat(settings.outputPath.c_str(), &out);
    return found == 0 && out.st_dev == dict.st_dev && out.st_ino == dict.st_ino;
}

// Writing to a regular file costs a copy into the page cache on the writing
// thread, which a thread of its own can do beside the listing. To a device
// (/dev/null costs nothing) or a pipe (its reader wants the other core) the
// blocks are written on the listing's thread.
bool writesToRegularFile(std::FILE* out) {
    struct stat st;
    return fstat(fileno(out), &st) == 0 && S_ISREG(st.st_mode);
}

// Blocks for the writer's thread are larger: each handover costs a wake-up.
constexpr std::size_t kThreadedBlockSize = 256 * 1024;

// Threads that spell the words: one a core, up to four, as the lines of
// all go out through one stream.
unsigned listingThreads() {
    return std::clamp(std::thread::hardware_concurrency(), 1u, 4u);
}

// Hands over the last lines and, with a writer, waits until all are written;
// the stream is the driver's alone again then.
void endLines(ExportOptions& options, BlockWriter* writer) {
    flushLines(options);
    if (writer == nullptr) return;
    writer->drain();
    if (options.writeError == 0) options.writeError = writer->error();
    options.writer = nullptr;
}

// Runs the enumeration of the mode. An error raised inside it (an encoder's
// length check, or the library's) ends the listing after the last complete
// line; it is reported and false returned.
bool enumerate(const Dict& dict, Mode mode, ExportOptions& options) {
    // Words are spelled on every core (up to a few), each spelling spans of
    // its own; their lines go out in order, so the bytes are the same.
    const unsigned threads = mode == Mode::Words ? listingThreads() : 1;
    std::vector<WordSpan> spans;
    if (threads > 1) {
        try {
            spans = dict.splitWords();
        } catch (const std::exception&) {
            spans.clear();  // listed whole on this thread then
        }
    }
    const bool inSpans = spans.size() > 1;
    std::optional<BlockWriter> writer;
    if (!inSpans && writesToRegularFile(options.out)) {
        try {
            writer.emplace(options.out, 2 * kThreadedBlockSize);
            options.writer = &*writer;
            options.blockSize = kThreadedBlockSize;
        } catch (const std::system_error&) {
            // No thread to be had (a process limit): the listing's own thread writes.
        }
    }
    try {
        if (mode == Mode::Annots)
            dict.forEachAnnot(writeAnnotLine, &options);
        else if (inSpans)
            listSpansInOrder(dict, spans, options, threads);
        else
            dict.forEachWord(dict.root, writeWordLine, &options);
    } catch (const std::exception& error) {
        endLines(options, writer ? &*writer : nullptr);
        // Bytes written over the file may read as any fault of the library's.
        std::fprintf(stderr, "%s\n", dictionaryChanged() ? kDictionaryChanged : error.what());
        return false;
    }
    endLines(options, writer ? &*writer : nullptr);
    return true;
}

// Pushes the buffered lines out and reports a write error met at any point
// of the run (a full disk, a closed or broken standard output);
// `earlierReason` is the errno of a block write that failed before, or 0.
// The stream stays open: the process end closes it.
bool finishOutput(std::FILE* out, const std::string& path, int earlierReason) {
    errno = 0;
    bool failed = std::fflush(out) != 0 || earlierReason != 0;
    int reason = earlierReason != 0 ? earlierReason : errno;
    failed = std::ferror(out) != 0 || failed;
    if (!failed) return true;
    const char* why = reason != 0 ? std::strerror(reason) : "write error";
    if (path.empty())
        std::fprintf(stderr, "Can`t write to standard output (%s)\n", why);
    else
        std::fprintf(stderr, "Can`t write '%s' file (%s)\n", path.c_str(), why);
    return false;
}

int runExport(int argc, char** argv) {
    // Before the output file is opened, which a closed descriptor's number
    // would otherwise make the messages' or the banner's place.
    holdStandardDescriptors();
    // A closed or broken standard output must end in a reported write error,
    // not in death by signal.
    std::signal(SIGPIPE, SIG_IGN);
    reportMappingFaults();
    ExportOptions options;
    DriverSettings settings;
    if (argc < 2) {
        printUsage(argv[0]);
        return kSuccess;
    }
    if (!scanOptions(argc, argv, options, settings)) return kSuccess;

    if (outputIsDictionary(settings)) {
        if (settings.outputPath.empty())
            std::fprintf(stderr, "Can`t write to standard output (it is the dictionary file)\n");
        else
            std::fprintf(stderr, "Can`t create '%s' file (it is the dictionary file)\n", settings.outputPath.c_str());
        return kFailure;
    }
    options.out = openOutput(settings.outputPath);
    if (options.out == nullptr) {
        std::fprintf(stderr, "Can`t create '%s' file\n", settings.outputPath.c_str());
        return kFailure;
    }

    // Declared in this order so that the dictionary goes before its source.
    FileSource source;
    std::unique_ptr<Dict> dict;
    try {
        source.open(settings.dictionaryPath.c_str());
        watchDictionary(settings.dictionaryPath.c_str());
        dict = Dict::create(source, false);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "Can`t create libtarvo dict for '%s' file(%s)",
                     settings.dictionaryPath.c_str(), error.what());
        return kFailure;
    }

    options.checkSource = checkDictionary;
    long long start = readClock();
    bool listed = enumerate(*dict, settings.mode, options);
    long long end = readClock();
    // Written over after its last block went out: still a mix of two files.
    if (listed && dictionaryChanged()) {
        std::fprintf(stderr, "%s\n", kDictionaryChanged);
        listed = false;
    }
    if (listed && settings.reportTime)
        std::fprintf(stderr, "time: %0.2f\n", double(end - start) * double(0.001f));

    bool written = finishOutput(options.out, settings.outputPath, options.writeError);
    return listed && written ? kSuccess : kFailure;
}

} // namespace

} // namespace dictexport

int main(int argc, char** argv) { return dictexport::runExport(argc, argv); }
