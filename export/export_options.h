// The settings record of dict_export: filled by the driver, read by the line
// formatter and the field encoders.
#pragma once

#include "field_encoders.h"
#include "line_buffer.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

namespace dictexport {

class BlockSink;

struct ExportOptions {
    bool encodeWords = false;    // words written encoded (hex or base64) or raw
    bool encodeAnnots = true;    // annotation bytes written encoded or raw
    bool annotNumbers = false;   // word mode: the annotation's number instead of its bytes
    bool showAnnots = false;     // word mode: each line carries separator and annotation field
    uint8_t separator = '!';     // the byte between the fields of a line
    bool useBase64 = false;      // encoding: base64 (true) or upper-case hexadecimal
    std::FILE* out = stdout;     // where the lines go

    // Not settings: the formatter's state. Complete lines gather in `line`
    // and go to `out` together once `blockSize` bytes wait (flushLines), so
    // the stream sees large blocks; the buffer grows when a line does not
    // fit. With a `writer`, the blocks go to it instead (to `out` on a
    // thread of its own, or in turn with other threads' blocks), and each
    // flush swaps the buffer for one the writer is done with.
    LineBuffer line;
    std::size_t lineUsed = 0;
    std::size_t blockSize = 64 * 1024;
    BlockSink* writer = nullptr;
    // errno of the first block write that failed, 0 while none has; the
    // driver reports it once at the end.
    int writeError = 0;
    // Set by the driver: raises once the dictionary's file has changed since
    // it was opened. Each full block calls it before the block goes out, so
    // a listing of a file written over meanwhile stops there.
    void (*checkSource)() = nullptr;

    // Predicted output size of a field of `length` bytes; `encode` is the
    // field's own switch (encodeWords or encodeAnnots), useBase64 picks the
    // encoding. Raises std::runtime_error for a negative length or one whose
    // encoding would not fit in 32 bits.
    int32_t encodedLength(const uint8_t* bytes, int32_t length, bool encode) const;

    // Writes the field at `destination` as encodedLength predicts and returns
    // the position just past it. Raises like encodedLength, before writing.
    uint8_t* encodeField(const uint8_t* bytes, int32_t length, uint8_t* destination,
                         bool encode) const;
};

// Defined here so that the formatter's per-line path inlines the raw case.

// Copies a field of at most 32 bytes without a call: two overlapping loads
// and stores each way, which stay inside both fields.
[[gnu::always_inline]] inline void copyShortField(uint8_t* destination, const uint8_t* bytes, std::size_t length) {
    auto copyEnds = [&](auto chunk) {
        std::memcpy(&chunk, bytes, sizeof chunk);
        auto tail = chunk;
        std::memcpy(&tail, bytes + length - sizeof chunk, sizeof chunk);
        std::memcpy(destination, &chunk, sizeof chunk);
        std::memcpy(destination + length - sizeof chunk, &tail, sizeof chunk);
    };
    struct Sixteen {
        uint64_t low, high;
    };
    if (length >= 16) copyEnds(Sixteen{});
    else if (length >= 8) copyEnds(uint64_t{});
    else if (length >= 4) copyEnds(uint32_t{});
    else if (length != 0) {
        // One to three bytes: the first, the middle and the last.
        destination[0] = bytes[0];
        destination[length / 2] = bytes[length / 2];
        destination[length - 1] = bytes[length - 1];
    }
}

// Copies a raw field; most are short.
inline void copyField(uint8_t* destination, const uint8_t* bytes, std::size_t length) {
    if (length <= 32) copyShortField(destination, bytes, length);
    else std::memcpy(destination, bytes, length);
}

inline int32_t ExportOptions::encodedLength(const uint8_t* bytes, int32_t length,
                                            bool encode) const {
    // Checked before any pointer arithmetic: bytes may be null.
    if (length < 0) raiseBadLength();
    if (!encode) return length;
    if (useBase64) {
        if (base64EncodedSize(length) > INT32_MAX) raiseBadLength();
        return int32_t(base64EncodedSize(length));
    }
    // Too long for hexadecimal: raised before the end pointer is formed.
    if (2 * int64_t(length) > INT32_MAX) raiseBadLength();
    return hexLength(bytes, bytes + length);
}

inline uint8_t* ExportOptions::encodeField(const uint8_t* bytes, int32_t length,
                                           uint8_t* destination, bool encode) const {
    if (length < 0) raiseBadLength();
    if (!encode) {
        copyField(destination, bytes, std::size_t(length));
        return destination + length;
    }
    if (useBase64) return destination + base64Encode(bytes, bytes + length, destination);
    return destination + hexEncode(bytes, bytes + length, destination);
}

} // namespace dictexport
