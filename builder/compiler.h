// dict_build's work apart from its command line: the settings, the annotation
// table, and the compiler that turns input lines into a dictionary.
#pragma once

#include "input_reader.h"
#include "pending_words.h"
#include "tarvo_builder.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace dictbuild {

// Out-of-order words held in memory before they go to a temporary run.
constexpr uint64_t kDefaultMemoryLimit = uint64_t(1024) << 20;

struct Settings {
    std::string output;
    std::string input;  // empty: standard input
    std::string table;  // empty: no annotation table
    char separator = '!';
    Encoding encoding = Encoding::Hex;
    bool encodedWords = false;
    bool encodedAnnots = true;
    bool numbers = false;
    uint64_t memoryLimit = kDefaultMemoryLimit;
    std::string tempDir;  // empty: $TMPDIR, else /tmp
    velkin::libtarvo::BuildOptions build;
};

// A fault in the input, reported with its place.
struct InputError {
    std::string file;
    uint64_t line;
    std::string message;
};

// "standard input" for the empty path.
std::string displayName(const std::string& path);

// The annotation table: numbers to bytes, and bytes to their number.
struct Annotations {
    std::vector<std::string> bytes;
    std::unordered_map<std::string, uint32_t> numberOf;
    bool pinned = false;  // read from -T: no new numbers

    uint32_t numberFor(const std::string& annotation, const std::string& file, uint64_t line);
};

// Reads the -T table. Raises InputError for a faulty line, std::runtime_error
// when the file cannot be read.
Annotations readTable(const Settings& s);

// Takes the input lines one by one, in any order, and builds the dictionary.
// Words in order go straight to the builder; the others wait in PendingWords
// and are merged in at the end. Raises InputError for a faulty line.
class Compiler {
public:
    Compiler(const Settings& s, Annotations& annotations);

    void addLine(std::string_view line, uint64_t number);

    // Writes the dictionary to the settings' output file.
    velkin::libtarvo::BuildStats finish();
    // The same, into memory.
    std::vector<uint8_t> finishToMemory();

    size_t runCount() const { return pending_.runCount(); }

private:
    void add(std::string_view word, uint32_t annot, uint64_t line);
    velkin::libtarvo::DictBuilder& complete();
    void put(velkin::libtarvo::DictBuilder& out, std::string_view word, uint32_t annot, uint64_t line);
    void putPendingBefore(velkin::libtarvo::DictBuilder& out, RunMerge& merge, std::string_view word, bool all);
    static int32_t onInOrderWord(const uint8_t* w, int32_t length, const velkin::libtarvo::AnnotRecord* annot,
                                 void* context);
    bool numbersOnly() const { return s_.numbers && !annotations_.pinned; }

    const Settings& s_;
    Annotations& annotations_;
    velkin::libtarvo::DictBuilder builder_;
    std::unique_ptr<velkin::libtarvo::DictBuilder> merged_;
    PendingWords pending_;
    uint32_t lastAnnot_ = 0;
    std::string word_;
    std::string annotBytes_;
    std::string lastField_;
    uint32_t lastFieldNumber_ = 0;
    bool haveLastField_ = false;
    // The last word the merge wrote, to catch duplicates across its sources.
    std::string mergedLast_;
    uint32_t mergedLastAnnot_ = 0;
    bool mergedAny_ = false;
};

} // namespace dictbuild
