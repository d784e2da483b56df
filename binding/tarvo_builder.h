// libtarvo: building dictionary files (C++ only).
//
// DictBuilder takes words in strictly increasing byte order, each with its
// annotation number, and builds the minimal automaton incrementally in memory
// proportional to the automaton. finish() writes the file.
#ifndef TARVO_BUILDER_H
#define TARVO_BUILDER_H

#include "tarvo.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace velkin::libtarvo {

enum class Layout { Compact, Sparse };

struct BuildOptions {
    Layout layout = Layout::Compact;
    bool bigEndian = false;
    // The largest file the builder writes: the format's limit, 2^31 - 1 bytes.
    // A build that would pass it raises Error (TooLarge). Lowered only to test
    // that refusal without gigabytes of input.
    uint64_t sizeLimit = 0x7FFFFFFF;
    // A compact automaton of at least this many bytes is laid out again in
    // the order a listing reads it (see the format document), which lists
    // large dictionaries much faster and takes a few percent more bytes.
    // Smaller ones stay in the processor's caches and keep the order of
    // construction, which builds faster. Lowered by tests.
    uint64_t readingLayoutFrom = uint64_t(4) << 20;
};

// What a finished build holds.
struct BuildStats {
    uint64_t words = 0;
    uint64_t annotations = 0;
    uint64_t states = 0;
    uint64_t transitions = 0;
    uint64_t bytes = 0;
};

// Raises Error, before any work is done, where no dictionary can be written
// to `path`: it is a directory, or the directory it would go in (through
// any symbolic links) is missing.
TARVO_API void checkOutputPath(const std::string& path);

class TARVO_API DictBuilder {
public:
    explicit DictBuilder(BuildOptions options = {});
    ~DictBuilder();
    DictBuilder(const DictBuilder&) = delete;
    DictBuilder& operator=(const DictBuilder&) = delete;

    // Adds a word; words must come in strictly increasing byte order (unsigned
    // bytes, a word before its extensions). Raises Error (BadInput) otherwise.
    void add(std::string_view word, uint32_t annotation);

    // The word most recently added (empty before the first).
    std::string_view lastWord() const;
    uint64_t wordCount() const;

    // Writes the dictionary file to `path` through a temporary file beside it,
    // renamed into place only when complete (through a symbolic link, onto the
    // file it points at, keeping that file's permissions). `annotations` is the table
    // (number i -> bytes); with `numbersOnly` there is no table and the
    // numbers in use are kept instead. Raises Error on failure; the builder
    // cannot be used afterwards.
    BuildStats finish(const std::string& path, const std::vector<std::string>& annotations,
                      bool numbersOnly);

    // The same, into memory.
    std::vector<uint8_t> finishToMemory(const std::vector<std::string>& annotations, bool numbersOnly,
                                        BuildStats* stats = nullptr);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// A dictionary over bytes in memory, for tests and tools that build and read
// in one process.
class TARVO_API MemorySource : public Source {
public:
    explicit MemorySource(std::vector<uint8_t> bytes);
    const uint8_t* data() const override;
    uint64_t size() const override;

private:
    std::vector<uint8_t> bytes_;
};

} // namespace velkin::libtarvo

#endif // TARVO_BUILDER_H
