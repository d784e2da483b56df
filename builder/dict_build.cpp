// dict_build: compiles a word list, in the form dict_export writes, into a
// dictionary file.
#include "input_reader.h"
#include "option_scanner.h"
#include "tarvo_builder.h"

#include <algorithm>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <numeric>
#include <stdexcept>
#include <string>
#include <unistd.h>
#include <unordered_map>
#include <vector>

namespace lt = velkin::libtarvo;
using dictbuild::Encoding;

namespace {

const char kUsage[] =
    "Usage: %s -o DICT [-i INPUT] [-s SEP] [-e base64|hex] [-w|-W] [-a|-A] [-N] [-T TABLE]"
    " [-L compact|sparse] [-E little|big] [-h] [-v]\n";

struct Settings {
    std::string output;
    std::string input;  // empty: standard input
    std::string table;  // empty: no annotation table
    char separator = '!';
    Encoding encoding = Encoding::Hex;
    bool encodedWords = false;
    bool encodedAnnots = true;
    bool numbers = false;
    lt::BuildOptions build;
};

// A fault in the input, reported with its place.
struct InputError {
    std::string file;
    uint64_t line;
    std::string message;
};

std::string displayName(const std::string& path) { return path.empty() ? "standard input" : path; }

[[noreturn]] void inputError(const std::string& file, uint64_t line, const std::string& message) {
    throw InputError{displayName(file), line, message};
}

// The annotation table: numbers to bytes, and bytes to their number.
struct Annotations {
    std::vector<std::string> bytes;
    std::unordered_map<std::string, uint32_t> numberOf;
    bool pinned = false;  // read from -T: no new numbers

    uint32_t numberFor(const std::string& annotation, const std::string& file, uint64_t line) {
        auto found = numberOf.find(annotation);
        if (found != numberOf.end()) return found->second;
        if (pinned) inputError(file, line, "annotation not in the table");
        if (bytes.size() == 0xFFFFFFFFu) inputError(file, line, "too many annotations");
        uint32_t number = uint32_t(bytes.size());
        bytes.push_back(annotation);
        numberOf.emplace(annotation, number);
        return number;
    }
};

void splitLine(std::string_view line, char separator, std::string_view& first, std::string_view& rest,
               bool& hasRest) {
    size_t at = line.find(separator);
    hasRest = at != std::string_view::npos;
    first = line.substr(0, at);
    rest = hasRest ? line.substr(at + 1) : std::string_view();
}

void decodeOrFail(std::string_view text, bool encoded, Encoding encoding, std::string& out, const char* what,
                  const std::string& file, uint64_t line) {
    if (!encoded) {
        out.assign(text);
        return;
    }
    if (!dictbuild::decodeField(text, encoding, out))
        inputError(file, line, std::string("bad ") + (encoding == Encoding::Hex ? "hexadecimal" : "base64") +
                                   " encoding of the " + what);
}

Annotations readTable(const Settings& s) {
    struct Entry {
        uint32_t number;
        uint64_t line;
        std::string bytes;
    };
    std::vector<Entry> entries;
    dictbuild::LineReader reader(s.table);
    std::string_view line, numberText, rest;
    bool hasRest;
    std::string decoded;
    while (reader.next(line)) {
        splitLine(line, s.separator, numberText, rest, hasRest);
        uint32_t number;
        if (!hasRest) inputError(s.table, reader.lineNumber(), "no separator after the annotation number");
        if (!dictbuild::parseNumber(numberText, number))
            inputError(s.table, reader.lineNumber(), "bad annotation number");
        decodeOrFail(rest, s.encodedAnnots, s.encoding, decoded, "annotation", s.table, reader.lineNumber());
        entries.push_back({number, reader.lineNumber(), decoded});
    }
    // The numbers must run from 0 to one less than the number of lines.
    std::stable_sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) { return a.number < b.number; });
    Annotations table;
    table.pinned = true;
    for (size_t i = 0; i < entries.size(); ++i) {
        if (i > 0 && entries[i].number == entries[i - 1].number)
            inputError(s.table, entries[i].line, "annotation number listed twice");
        if (entries[i].number != i)
            inputError(s.table, entries[i].line,
                       "annotation " + std::to_string(i) + " is missing (numbers must run from 0 to " +
                           std::to_string(entries.size() - 1) + ")");
        table.numberOf.emplace(entries[i].bytes, entries[i].number);
        table.bytes.push_back(std::move(entries[i].bytes));
    }
    return table;
}

// Words that came out of order, kept until the end, sorted, then merged with
// the words that came in order.
struct Pending {
    std::string text;  // the words, back to back
    struct Entry {
        uint64_t offset;
        uint32_t length;
        uint32_t annot;
        uint64_t line;
    };
    std::vector<Entry> entries;

    std::string_view word(const Entry& e) const { return std::string_view(text).substr(e.offset, e.length); }
    void add(std::string_view w, uint32_t annot, uint64_t line) {
        entries.push_back({text.size(), uint32_t(w.size()), annot, line});
        text.append(w);
    }
    void sort() {
        std::stable_sort(entries.begin(), entries.end(),
                         [this](const Entry& a, const Entry& b) { return word(a) < word(b); });
    }
};

class Compiler {
public:
    Compiler(const Settings& s, Annotations& annotations) : s_(s), annotations_(annotations), builder_(s.build) {}

    void addLine(std::string_view line, uint64_t number) {
        std::string_view wordText, field;
        bool hasField;
        splitLine(line, s_.separator, wordText, field, hasField);
        std::string_view word = wordText;  // raw words are used where they lie
        if (s_.encodedWords) {
            decodeOrFail(wordText, true, s_.encoding, word_, "word", s_.input, number);
            word = word_;
        }
        uint32_t annot;
        if (s_.numbers) {
            if (!hasField) inputError(s_.input, number, "no annotation number");
            if (!dictbuild::parseNumber(field, annot)) inputError(s_.input, number, "bad annotation number");
            if (annotations_.pinned && annot >= annotations_.bytes.size())
                inputError(s_.input, number, "annotation number " + std::to_string(annot) + " is not in the table");
        } else {
            // Neighbouring lines often carry the same annotation: its field
            // is compared before anything is decoded or looked up.
            if (haveLastField_ && field == lastField_) {
                annot = lastFieldNumber_;
            } else {
                decodeOrFail(field, s_.encodedAnnots, s_.encoding, annotBytes_, "annotation", s_.input, number);
                annot = annotations_.numberFor(annotBytes_, s_.input, number);
                lastField_.assign(field);
                lastFieldNumber_ = annot;
                haveLastField_ = true;
            }
        }
        if (word.size() > 0x7FFFFFFFu) inputError(s_.input, number, "word too long");
        add(word, annot, number);
    }

    lt::BuildStats finish() {
        bool numbersOnly = s_.numbers && !annotations_.pinned;
        if (pending_.entries.empty()) return builder_.finish(s_.output, annotations_.bytes, numbersOnly);
        return mergePending(numbersOnly);
    }

private:
    void add(std::string_view word, uint32_t annot, uint64_t line) {
        if (pending_.entries.empty() && (builder_.wordCount() == 0 || builder_.lastWord() < word)) {
            builder_.add(word, annot);
            lastAnnot_ = annot;
            return;
        }
        if (pending_.entries.empty() && builder_.lastWord() == word) {
            if (annot != lastAnnot_) inputError(s_.input, line, "duplicate word with another annotation");
            return;
        }
        pending_.add(word, annot, line);
    }

    // The in-order words are compiled already: list them back from that
    // dictionary and merge them with the sorted rest into a new one.
    lt::BuildStats mergePending(bool numbersOnly) {
        pending_.sort();
        std::vector<uint8_t> partial = builder_.finishToMemory(annotations_.bytes, numbersOnly);
        lt::MemorySource source(std::move(partial));
        std::unique_ptr<lt::Dict> dict = lt::Dict::create(source, false);
        lt::DictBuilder merged(s_.build);
        Merge m{*this, merged, 0, {}, false, 0};
        dict->forEachWord(dict->root, &Merge::onWord, &m);
        m.flushBefore(std::string_view(), true);
        return merged.finish(s_.output, annotations_.bytes, numbersOnly);
    }

    struct Merge {
        Compiler& c;
        lt::DictBuilder& out;
        size_t next;
        std::string lastWord;
        bool haveLast;
        uint32_t lastAnnot;

        void put(std::string_view word, uint32_t annot, uint64_t line) {
            if (haveLast && lastWord == word) {
                if (annot != lastAnnot) inputError(c.s_.input, line, "duplicate word with another annotation");
                return;
            }
            out.add(word, annot);
            lastWord.assign(word);
            haveLast = true;
            lastAnnot = annot;
        }
        // Adds the pending words before `word` (all of them with `all`).
        void flushBefore(std::string_view word, bool all) {
            const Pending& p = c.pending_;
            while (next < p.entries.size() && (all || p.word(p.entries[next]) < word)) {
                const Pending::Entry& e = p.entries[next++];
                put(p.word(e), e.annot, e.line);
            }
        }
        static int32_t onWord(const uint8_t* w, int32_t length, const lt::AnnotRecord* annot, void* context) {
            Merge& m = *static_cast<Merge*>(context);
            std::string_view word(reinterpret_cast<const char*>(w), size_t(length));
            m.flushBefore(word, false);
            // An in-order word came before any pending twin in the input.
            m.put(word, annot->number, 0);
            const Pending& p = m.c.pending_;
            while (m.next < p.entries.size() && p.word(p.entries[m.next]) == word) {
                const Pending::Entry& e = p.entries[m.next++];
                m.put(p.word(e), e.annot, e.line);
            }
            return 1;
        }
    };

    const Settings& s_;
    Annotations& annotations_;
    lt::DictBuilder builder_;
    Pending pending_;
    uint32_t lastAnnot_ = 0;
    std::string word_;
    std::string annotBytes_;
    std::string lastField_;
    uint32_t lastFieldNumber_ = 0;
    bool haveLastField_ = false;
};

} // namespace

namespace {

struct ReadError {
    std::string file;
    std::string reason;
};

// Reads every line of the input into the compiler.
void readInput(const Settings& s, Compiler& compiler) {
    std::unique_ptr<dictbuild::LineReader> reader;
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

Annotations loadTable(const Settings& s) {
    try {
        return readTable(s);
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
    while ((option = dictexport::getopt(argc, argv, "o:i:s:e:T:L:E:wWaANhv")) != -1) {
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
    Settings s;
    int status = parseCommandLine(argc, argv, s);
    if (status >= 0) return status;
    auto started = std::chrono::steady_clock::now();
    try {
        Annotations annotations;
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
