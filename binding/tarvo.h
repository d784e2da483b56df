/* libtarvo: compiled word dictionaries.
 *
 * The flat interface (C linkage, compiles as C) and, for C++ callers, the
 * object interface in namespace velkin::libtarvo. The file format is described
 * in libtarvo/FORMAT.md. */
#ifndef TARVO_H
#define TARVO_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(__GNUC__)
#define TARVO_API __attribute__((visibility("default")))
#else
#define TARVO_API
#endif

/* Header word 0 of every dictionary file, read in the file's byte order. */
#define TARVO_MAGIC 0x4F565254

/* Opaque handle of an open dictionary; null means failure. */
typedef struct TarvoDict* TarvoHandle;

/* The dictionary header as the library reads it, every field converted to the
 * machine's byte order. Valid until the handle is closed. */
typedef struct HeaderRecord {
    int32_t magic;            /* TARVO_MAGIC */
    int32_t checksum;         /* CRC-32C of the file from byte 8 on */
    int32_t version;
    int32_t isTree;
    int32_t isHash;
    int32_t isSparse;
    int32_t isBigEndian;
    int32_t alphabetOffset;
    int32_t fsaOffset;
    int32_t annotOffset;
    int32_t alphabetSize;
    int32_t transCount;
    int32_t annotLengthSize;
    int32_t annotChunkSize;
    int32_t annotChunksCount;
    int32_t charSize;
    int32_t paddingSize;
    int32_t destSize;
    int32_t hashSize;
    int32_t transSizeTotal;
} HeaderRecord;

/* The record given to tarvo_dump; only `mode` is read, and 0 is its only value. */
typedef struct TarvoDumpOptions {
    int32_t mode;
    int32_t reserved[5];
} TarvoDumpOptions;

/* Length of the reason buffer that tarvo_open and tarvo_mmap may fill. */
#define TARVO_ERROR_TEXT_SIZE 4096

/* Stores a pointer to the version text ("0.3.1") through `text`; the other
 * arguments are reserved and must be 0. Returns 0. */
TARVO_API int tarvo_version(const char** text, int reserved1, int reserved2, int reserved3);

/* Open a dictionary: tarvo_open reads the file into memory, tarvo_mmap maps it.
 * With `slow` 1 lookups take the generic path instead of the layout's own fast
 * one (see FORMAT.md); results are identical. On failure they return null and,
 * when `error_text` is not null, write a NUL-terminated reason of at most
 * TARVO_ERROR_TEXT_SIZE bytes into it. A mapped file that is shortened while
 * it is open, or whose disk fails, raises SIGBUS at the next read of it; a
 * file read by tarvo_open is safe from both once open. */
TARVO_API TarvoHandle tarvo_open(const char* path, int slow, char* error_text);
TARVO_API TarvoHandle tarvo_mmap(const char* path, int slow, char* error_text);
TARVO_API void tarvo_close(TarvoHandle handle);

TARVO_API const HeaderRecord* tarvo_header(TarvoHandle handle);
TARVO_API uint32_t tarvo_get_root(TarvoHandle handle);

/* Looks up `length` bytes at `word` from state `root`. Returns the word's
 * annotation number when the path ends in a final state, -1 otherwise. The
 * number's 32 bits are returned as a signed value: one of 2^31 or more comes
 * back negative, and 4294967295 as -1 (Dict::lookup returns every number as
 * it is). `result` is 20 bytes of scratch the library may write. */
TARVO_API int32_t tarvo_walk(TarvoHandle handle, const char* word, int32_t length, uint32_t root,
                             void* result);

/* Prints the dictionary to standard output in the dump form of FORMAT.md.
 * Returns 0, or -1 when the options are not understood, writing failed, or a
 * word's annotation number lies outside the table (then nothing is printed
 * and the reason goes to standard error). */
TARVO_API int tarvo_dump(TarvoHandle handle, const TarvoDumpOptions* options);

#ifdef __cplusplus
} /* extern "C" */

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace velkin::libtarvo {

/* One annotation handed to a callback; owned by the library, valid during the
 * call only. In word mode `data` is null when the dictionary keeps numbers only. */
struct AnnotRecord {
    const uint8_t* data;
    int32_t length;
    uint32_t number;
};

/* A callback result of 0 stops the enumeration; any other value goes on. */
typedef int32_t (*WordCallback)(const uint8_t* word, int32_t wordLength, const AnnotRecord* annot,
                                void* context);
typedef int32_t (*AnnotCallback)(const AnnotRecord* annot, void* context);

/* A stretch of the word list: the word `prefix` itself, when `withPrefix` is
 * set and it is in the dictionary, then every word that continues `prefix`
 * with a byte from `first` to `last`. The default: every word that begins
 * with `prefix`. */
struct WordSpan {
    std::string prefix;
    bool withPrefix = true;
    uint8_t first = 0;
    uint8_t last = 255;
};

/* The words of `span` that come after `word`, one of them, as spans in
 * order; none when `word` is its last. */
TARVO_API std::vector<WordSpan> spansAfter(const WordSpan& span, const std::string& word);

/* Every failure of the library is an Error; what() says what is wrong. */
class TARVO_API Error : public std::runtime_error {
public:
    enum class Kind { CannotOpen, NotADictionary, Damaged, UnsupportedVersion, BadInput, TooLarge };
    Error(Kind kind, const std::string& what);
    Kind kind() const noexcept { return kind_; }

private:
    Kind kind_;
};

class TARVO_API LibTarvoInfo {
public:
    static std::string getVersion();
};

/* The bytes of a dictionary file. */
class TARVO_API Source {
public:
    Source() = default;
    Source(const Source&) = delete;
    Source& operator=(const Source&) = delete;
    virtual ~Source();
    virtual const uint8_t* data() const = 0;
    virtual uint64_t size() const = 0;
};

/* A dictionary file mapped into memory (see tarvo_mmap on SIGBUS). */
class TARVO_API FileSource : public Source {
public:
    FileSource();
    ~FileSource() override;
    /* Maps the file; raises Error (CannotOpen) on failure. */
    void open(const char* path);
    const uint8_t* data() const override;
    uint64_t size() const override;

private:
    const uint8_t* data_ = nullptr;
    uint64_t size_ = 0;
    void* mapping_ = nullptr;
    uint64_t mappingSize_ = 0;
};

class TARVO_API Dict {
public:
    virtual ~Dict();
    /* The file's header, in the machine's byte order. */
    virtual const HeaderRecord& header() const = 0;
    /* Annotation number of `word`, or -1 when it is not in the dictionary. */
    virtual int64_t lookup(const uint8_t* word, int32_t length) const = 0;
    /* Calls back once per word reachable from `state` (root: every word), in
     * byte order, a word before its extensions. Raises Error for an invalid
     * state. Returns 0 when a callback stopped it, 1 otherwise. */
    virtual int32_t forEachWord(uint32_t state, WordCallback callback, void* context) const = 0;
    /* Spans that together hold every word from the root once: listed one
     * after another they give forEachWord's words in its order. They let a
     * listing spell its parts on several threads at once; there are at least
     * 64 where the words allow. */
    virtual std::vector<WordSpan> splitWords() const = 0;
    /* Calls back once per word of `span`, in forEachWord's order. Calls may
     * run on several threads at once. Returns 0 when a callback stopped it,
     * and then, when `stoppedAt` is not null, stores there the word that
     * callback was given (see spansAfter); 1 otherwise. */
    virtual int32_t forEachWordIn(const WordSpan& span, WordCallback callback, void* context,
                                  std::string* stoppedAt) const = 0;
    /* Calls back once per annotation, in increasing number order. */
    virtual int32_t forEachAnnot(AnnotCallback callback, void* context) const = 0;

    /* Validates the source's bytes and builds a dictionary over them; the
     * source must outlive it. `slow` selects the generic lookup path. Raises
     * Error when the bytes are not a sound dictionary. */
    static std::unique_ptr<Dict> create(const Source& source, bool slow);

    /* The state to give forEachWord for every word. Lookups keep to the
     * file's own root, and another value is checked as any state is. */
    uint32_t root = 0;

protected:
    Dict() = default;
};

} // namespace velkin::libtarvo

#endif /* __cplusplus */

#endif /* TARVO_H */
