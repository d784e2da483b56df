// The dictionary file format: constants, byte order, header I/O and the
// checksum. FORMAT.md beside this file is the reference for every rule here.
#pragma once

#include "tarvo.h"

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

namespace velkin::libtarvo::format {

// "TRVO" in a little-endian file, "OVRT" in a big-endian one.
constexpr uint32_t kMagic = TARVO_MAGIC;
constexpr int32_t kVersion = 1;
constexpr char kLibraryVersion[] = "0.3.1";  // LibTarvoInfo::getVersion and tarvo_version
constexpr uint32_t kHeaderSize = 80;  // 20 words of 4 bytes
constexpr uint64_t kMaxFileSize = 0x7FFFFFFFu;  // offsets and sizes are signed 32-bit

// Compact state head byte.
constexpr uint8_t kFinalBit = 0x80;
constexpr unsigned kWidthShift = 4;      // bits 4-6: target width 0..4
constexpr uint8_t kOutputsBit = 0x08;    // the arcs carry outputs
constexpr uint8_t kCountMask = 0x07;     // bits 0-2: arc count, 7 = escape
constexpr uint32_t kCountEscape = 7;

// Sparse section prefix: root code (4 bytes), output width (1 byte), 3 zero bytes.
constexpr uint32_t kSparsePrefix = 8;

// Skips `count` varints.
inline const uint8_t* skipVarints(const uint8_t* p, uint32_t count) {
    while (count) count -= !(*p++ & 0x80);
    return p;
}

inline uint32_t bswap32(uint32_t v) { return __builtin_bswap32(v); }

// Loads an unsigned value of `width` (0..4) bytes in the given byte order.
template <bool Big>
inline uint32_t loadN(const uint8_t* p, unsigned width) {
    uint32_t v = 0;
    if constexpr (Big) {
        for (unsigned i = 0; i < width; ++i) v = (v << 8) | p[i];
    } else {
        for (unsigned i = width; i-- > 0;) v = (v << 8) | p[i];
    }
    return v;
}

inline uint32_t loadN(const uint8_t* p, unsigned width, bool big) {
    return big ? loadN<true>(p, width) : loadN<false>(p, width);
}

// Bytes (1 to 4) a fixed-width field needs to hold `v`.
inline unsigned bytesFor(uint32_t v) { return v < 0x100 ? 1 : v < 0x10000 ? 2 : v < 0x1000000 ? 3 : 4; }

// A little-endian field of `width` (1..4) bytes at p, loaded as four bytes and
// cut down where the file has four bytes there (the usual case), else byte by byte.
inline uint32_t loadLittleField(const uint8_t* p, unsigned width, const uint8_t* fileEnd) {
    if (std::endian::native != std::endian::little || p + 4 > fileEnd) return loadN<false>(p, width);
    static constexpr uint32_t kMask[5] = {0, 0xFF, 0xFFFF, 0xFFFFFF, 0xFFFFFFFF};
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v & kMask[width];
}

inline void storeN(uint8_t* p, uint32_t v, unsigned width, bool big) {
    for (unsigned i = 0; i < width; ++i) {
        unsigned shift = big ? 8 * (width - 1 - i) : 8 * i;
        p[i] = uint8_t(v >> shift);
    }
}

// Unsigned LEB128 of at most five bytes. Returns bytes written.
inline unsigned putVarint(uint8_t* out, uint32_t v) {
    unsigned n = 0;
    while (v >= 0x80) {
        out[n++] = uint8_t(v | 0x80);
        v >>= 7;
    }
    out[n++] = uint8_t(v);
    return n;
}

inline unsigned varintSize(uint32_t v) {
    unsigned n = 1;
    while (v >= 0x80) { v >>= 7; ++n; }
    return n;
}

// Reads a varint at p, not past end. Returns false when it is truncated or
// does not fit in 32 bits.
inline bool getVarint(const uint8_t*& p, const uint8_t* end, uint32_t& value) {
    uint32_t v = 0;
    for (unsigned shift = 0; shift < 35; shift += 7) {
        if (p == end) return false;
        uint8_t b = *p++;
        if (shift == 28 && (b & 0xF0)) return false;
        v |= uint32_t(b & 0x7F) << shift;
        if (!(b & 0x80)) { value = v; return true; }
    }
    return false;
}

// Trusted form for bytes already validated.
inline uint32_t getVarintTrusted(const uint8_t*& p) {
    uint32_t v = *p++;
    if (v < 0x80) return v;
    v &= 0x7F;
    for (unsigned shift = 7;; shift += 7) {
        uint8_t b = *p++;
        v |= uint32_t(b & 0x7F) << shift;
        if (!(b & 0x80)) return v;
    }
}

// CRC-32C (Castagnoli), continued from `crc` (0 to start).
uint32_t crc32c(uint32_t crc, const uint8_t* data, size_t size);

// Checksum of a whole file image as stored in header word 1. `dropRead`: the
// image is a mapping of a file, whose pages go back as they are summed.
uint32_t fileChecksum(const uint8_t* file, size_t size, bool dropRead = false);

// The header's words in machine order, with what is checked before the
// checksum: the magic, the file's size and the version. Raises Error. Reads
// no more than the first kHeaderSize bytes, nor past `size`.
HeaderRecord readHeaderStart(const uint8_t* file, uint64_t size);

// Reads and checks the header of a file image: magic, version, the sections'
// offsets and sizes against each other and the file size. Raises Error.
// `dropRead` as for fileChecksum.
HeaderRecord readHeader(const uint8_t* file, uint64_t size, bool verifyChecksum, bool dropRead = false);

// Writes `header` (machine order) in the file's byte order, given by
// header.isBigEndian, into 80 bytes at `out`.
void writeHeader(const HeaderRecord& header, uint8_t* out);

[[noreturn]] void damaged(const std::string& what);

} // namespace velkin::libtarvo::format
