#include "line_formatter.h"

#include "export_options.h"
#include "field_encoders.h"

#include <algorithm>
#include <cstddef>
#include <cstdio>

namespace dictexport {

namespace {

using velkin::libtarvo::AnnotRecord;

// Room for a number field: the ten digits of the largest 32-bit value.
constexpr std::size_t kNumberRoom = 10;

// Lines gather until this many bytes are waiting, then go out as one block.
constexpr std::size_t kBatch = 64 * 1024;

// Room for a line of `size` bytes behind the lines already waiting.
uint8_t* lineBuffer(ExportOptions& options, std::size_t size) {
    if (options.line.size() < options.lineUsed + size)
        options.line.resize(std::max(options.lineUsed + size, kBatch + kBatch / 2));
    return reinterpret_cast<uint8_t*>(options.line.data()) + options.lineUsed;
}

// The line from the buffer's free part up to `end` is complete.
void writeBlock(ExportOptions& options, const uint8_t* end) {
    options.lineUsed = std::size_t(end - reinterpret_cast<const uint8_t*>(options.line.data()));
    if (options.lineUsed >= kBatch) flushLines(options);
}

} // namespace

// The result is not looked at here: a failed write sets the stream's error
// state, which the driver checks once at the end.
void flushLines(ExportOptions& options) {
    if (options.lineUsed) fwrite_unlocked(options.line.data(), 1, options.lineUsed, options.out);
    options.lineUsed = 0;
}

int32_t writeWordLine(const uint8_t* word, int32_t wordLength, const AnnotRecord* annot,
                      void* context) {
    ExportOptions& options = *static_cast<ExportOptions*>(context);
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
    return 1;
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
    return 1;
}

} // namespace dictexport
