#include "line_formatter.h"

#include "block_sink.h"
#include "export_options.h"
#include "field_encoders.h"

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdio>

namespace dictexport {

namespace {

using velkin::libtarvo::AnnotRecord;

// Room for a number field: the ten digits of the largest 32-bit value.
constexpr std::size_t kNumberRoom = 10;

// Out of the per-line path: the buffer grows for a line it has no room for.
[[gnu::noinline]] void growLineBuffer(ExportOptions& options, std::size_t size) {
    options.line.grow(std::max(options.lineUsed + size, options.blockSize + options.blockSize / 2), options.lineUsed);
}

// Room for a line of `size` bytes behind the lines already waiting.
inline uint8_t* lineBuffer(ExportOptions& options, std::size_t size) {
    if (options.line.size() < options.lineUsed + size) [[unlikely]]
        growLineBuffer(options, size);
    return reinterpret_cast<uint8_t*>(options.line.data()) + options.lineUsed;
}

// A block is full: the driver's check of the dictionary, then out.
[[gnu::noinline]] void endBlock(ExportOptions& options) {
    if (options.checkSource != nullptr) options.checkSource();
    flushLines(options);
}

// The line from the buffer's free part up to `end` is complete.
inline void writeBlock(ExportOptions& options, const uint8_t* end) {
    options.lineUsed = std::size_t(end - reinterpret_cast<const uint8_t*>(options.line.data()));
    if (options.lineUsed >= options.blockSize) [[unlikely]] endBlock(options);
}

} // namespace

// A failed write is only remembered here, with its reason, which a later
// write or flush might no longer give; the driver reports it at the end.
void flushLines(ExportOptions& options) {
    if (options.writer != nullptr) {
        // Emptied first: the buffer given back holds none of these lines.
        std::size_t used = options.lineUsed;
        options.lineUsed = 0;
        if (used) options.writer->submit(options.line, used);
        if (options.writeError == 0) options.writeError = options.writer->error();
        return;
    }
    if (options.lineUsed &&
        fwrite_unlocked(options.line.data(), 1, options.lineUsed, options.out) != options.lineUsed &&
        options.writeError == 0)
        options.writeError = errno != 0 ? errno : EIO;
    options.lineUsed = 0;
}

namespace {

// Words longer than this take the general raw path.
constexpr std::size_t kShortWord = 32;

// 1 while no block write has failed; 0 ends the enumeration once one has:
// every later one would fail too, and a listing can be far longer than its
// file (2^n words in n states).
inline int32_t status(const ExportOptions& options) { return options.writeError == 0 ? 1 : 0; }

[[gnu::noinline]] int32_t flushAndReport(ExportOptions& options) {
    endBlock(options);
    return status(options);
}

// Ends the line of a raw word of `length` bytes copied to `start`, the
// buffer's free part: its line feed, then the block goes out once full.
inline int32_t endRawWordLine(ExportOptions& options, uint8_t* start, std::size_t length) {
    start[length] = '\n';
    options.lineUsed += length + 1;
    if (options.lineUsed >= options.blockSize) [[unlikely]]
        return flushAndReport(options);
    return status(options);
}

// A raw word alone on its line, any length.
[[gnu::noinline]] int32_t writeRawWordLine(ExportOptions& options, const uint8_t* word, int32_t wordLength) {
    if (wordLength < 0) raiseBadLength();
    std::size_t length = std::size_t(wordLength);
    uint8_t* start = lineBuffer(options, length + 1);
    copyField(start, word, length);
    return endRawWordLine(options, start, length);
}

[[gnu::noinline]] int32_t writeFullWordLine(const uint8_t* word, int32_t wordLength,
                                            const AnnotRecord* annot, ExportOptions& options) {
    // Null data means a dictionary of numbers only: the number is shown then.
    bool showBytes = options.showAnnots && annot->data != nullptr && !options.annotNumbers;
    std::size_t annotPart = 0;
    if (showBytes)
        annotPart = std::size_t(options.encodedLength(annot->data, annot->length,
                                                      options.encodeAnnots)) + 1;
    else if (options.showAnnots)
        annotPart = kNumberRoom + 1;
    std::size_t wordPart = std::size_t(options.encodedLength(word, wordLength, options.encodeWords));

    uint8_t* start = lineBuffer(options, wordPart + annotPart + 1);
    uint8_t* position = options.encodeField(word, wordLength, start, options.encodeWords);
    if (options.showAnnots) {
        *position++ = options.separator;
        position = showBytes
            ? options.encodeField(annot->data, annot->length, position, options.encodeAnnots)
            : writeNumber(annot->number, position);
    }
    *position++ = '\n';
    writeBlock(options, position);
    return status(options);
}

} // namespace

// The listing's most common line, a short raw word alone, makes no call, so
// that it saves no registers; everything else is handed on whole.
int32_t writeWordLine(const uint8_t* word, int32_t wordLength, const AnnotRecord* annot,
                      void* context) {
    ExportOptions& options = *static_cast<ExportOptions*>(context);
    if (options.showAnnots || options.encodeWords) return writeFullWordLine(word, wordLength, annot, options);
    std::size_t length = std::size_t(uint32_t(wordLength));
    if (wordLength < 0 || length > kShortWord || options.line.size() < options.lineUsed + length + 1)
        [[unlikely]]
        return writeRawWordLine(options, word, wordLength);
    uint8_t* start = reinterpret_cast<uint8_t*>(options.line.data()) + options.lineUsed;
    copyShortField(start, word, length);
    return endRawWordLine(options, start, length);
}

int32_t writeAnnotLine(const AnnotRecord* annot, void* context) {
    ExportOptions& options = *static_cast<ExportOptions*>(context);
    std::size_t bytesPart =
        std::size_t(options.encodedLength(annot->data, annot->length, options.encodeAnnots));

    // Digits, separator, annotation bytes, line feed.
    uint8_t* start = lineBuffer(options, kNumberRoom + 1 + bytesPart + 1);
    uint8_t* position = writeNumber(annot->number, start);
    *position++ = options.separator;
    position = options.encodeField(annot->data, annot->length, position, options.encodeAnnots);
    *position++ = '\n';
    writeBlock(options, position);
    return status(options);
}

} // namespace dictexport
