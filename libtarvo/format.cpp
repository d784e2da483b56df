// Header I/O and the checksum; see FORMAT.md ("Header", "Checksum").
#include "format.h"

#include "read_behind.h"

#include <algorithm>
#include <array>

#if defined(__x86_64__)
#include <nmmintrin.h>
#endif

namespace velkin::libtarvo::format {

namespace {

std::array<uint32_t, 256> makeCrcTable() {
    std::array<uint32_t, 256> table{};
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t c = i;
        for (int k = 0; k < 8; ++k) c = (c & 1) ? (c >> 1) ^ 0x82F63B78u : c >> 1;
        table[i] = c;
    }
    return table;
}

uint32_t crc32cPortable(uint32_t crc, const uint8_t* data, size_t size) {
    static const std::array<uint32_t, 256> table = makeCrcTable();
    crc = ~crc;
    for (size_t i = 0; i < size; ++i) crc = table[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

#if defined(__x86_64__)
__attribute__((target("sse4.2"))) uint32_t crc32cHardware(uint32_t crc, const uint8_t* data,
                                                          size_t size) {
    uint64_t c = ~crc;
    while (size >= 8) {
        uint64_t word;
        std::memcpy(&word, data, 8);
        c = _mm_crc32_u64(c, word);
        data += 8;
        size -= 8;
    }
    uint32_t c32 = uint32_t(c);
    while (size--) c32 = _mm_crc32_u8(c32, *data++);
    return ~c32;
}
#endif

int32_t word(const uint8_t* file, unsigned index, bool big) {
    return int32_t(loadN(file + 4 * index, 4, big));
}

[[noreturn]] void fail(Error::Kind kind, const std::string& what) { throw Error(kind, what); }

void requireFlag(int32_t value, const char* name) {
    if (value != 0 && value != 1)
        damaged(std::string("header flag ") + name + " is " + std::to_string(value));
}

} // namespace

void damaged(const std::string& what) { fail(Error::Kind::Damaged, "damaged: " + what); }

uint32_t crc32c(uint32_t crc, const uint8_t* data, size_t size) {
#if defined(__x86_64__)
    static const bool hardware = __builtin_cpu_supports("sse4.2");
    if (hardware) return crc32cHardware(crc, data, size);
#endif
    return crc32cPortable(crc, data, size);
}

uint32_t fileChecksum(const uint8_t* file, size_t size, bool dropRead) {
    if (size <= 8) return 0;
    // A mebibyte at a time, so that a mapped file's pages go back as they are summed.
    constexpr size_t kChunk = size_t(1) << 20;
    ReadBehind behind(dropRead, file, size, file);
    uint32_t crc = 0;
    for (size_t at = 8; at < size; at += kChunk) {
        crc = crc32c(crc, file + at, std::min(kChunk, size - at));
        behind.passed(file + std::min(at + kChunk, size));
    }
    behind.done(file + size);
    return crc;
}

HeaderRecord readHeaderStart(const uint8_t* file, uint64_t size) {
    if (size < 4) fail(Error::Kind::NotADictionary, "not a dictionary: file too short");
    uint32_t magic = loadN<false>(file, 4);
    bool big;
    if (magic == kMagic) big = false;
    else if (magic == bswap32(kMagic)) big = true;
    else fail(Error::Kind::NotADictionary, "not a dictionary: bad magic");
    if (size < kHeaderSize) damaged("file ends inside the header");
    if (size > kMaxFileSize) fail(Error::Kind::TooLarge, "file larger than 2 GiB");

    HeaderRecord h;
    int32_t* fields = &h.magic;
    for (unsigned i = 0; i < kHeaderSize / 4; ++i) fields[i] = word(file, i, big);

    if (h.version != kVersion)
        fail(Error::Kind::UnsupportedVersion, "unsupported version " + std::to_string(h.version) +
                                                  " (this library reads version " +
                                                  std::to_string(kVersion) + ")");
    return h;
}

HeaderRecord readHeader(const uint8_t* file, uint64_t size, bool verifyChecksum, bool dropRead) {
    HeaderRecord h = readHeaderStart(file, size);
    const bool big = loadN<false>(file, 4) != kMagic;  // the start checked the other order's magic
    if (verifyChecksum && uint32_t(h.checksum) != fileChecksum(file, size, dropRead))
        damaged("checksum mismatch");

    requireFlag(h.isTree, "isTree");
    requireFlag(h.isHash, "isHash");
    requireFlag(h.isSparse, "isSparse");
    requireFlag(h.isBigEndian, "isBigEndian");
    if (h.isBigEndian != int32_t(big)) damaged("byte-order flag disagrees with the magic");
    if (h.isHash || h.hashSize != 0)
        fail(Error::Kind::UnsupportedVersion, "unsupported: hash index");

    auto bad = [](const std::string& field, int32_t value) {
        damaged("header field " + field + " is " + std::to_string(value));
    };
    if (h.alphabetOffset != int32_t(kHeaderSize)) bad("alphabetOffset", h.alphabetOffset);
    if (h.alphabetSize < 0 || h.alphabetSize > 256) bad("alphabetSize", h.alphabetSize);
    if (h.fsaOffset != h.alphabetOffset + h.alphabetSize) bad("fsaOffset", h.fsaOffset);
    if (h.transSizeTotal < 1 || int64_t(h.fsaOffset) + h.transSizeTotal > int64_t(size))
        bad("transSizeTotal", h.transSizeTotal);
    if (h.annotOffset != h.fsaOffset + h.transSizeTotal) bad("annotOffset", h.annotOffset);
    if (h.transCount < 0) bad("transCount", h.transCount);
    if (h.paddingSize < 0) bad("paddingSize", h.paddingSize);
    if (h.isSparse) {
        int32_t wantChar = h.alphabetSize > 255 ? 2 : 1;
        if (h.charSize != wantChar) bad("charSize", h.charSize);
        if (h.destSize < 1 || h.destSize > 4) bad("destSize", h.destSize);
    } else {
        if (h.charSize != 1) bad("charSize", h.charSize);
        if (h.destSize < 0 || h.destSize > 4) bad("destSize", h.destSize);
        if (h.paddingSize != 0) bad("paddingSize", h.paddingSize);
    }
    if (h.annotLengthSize < 0 || h.annotLengthSize > 4) bad("annotLengthSize", h.annotLengthSize);
    if (h.annotChunkSize < 0) bad("annotChunkSize", h.annotChunkSize);
    if (h.annotChunksCount < 0) bad("annotChunksCount", h.annotChunksCount);
    int64_t annotBytes = h.annotChunkSize;
    if (h.annotLengthSize > 0) annotBytes += (int64_t(h.annotChunksCount) + 1) * h.annotLengthSize;
    int64_t end = int64_t(h.annotOffset) + annotBytes;
    if (end > int64_t(size)) damaged("file truncated: annotation section ends past the file");
    if (end < int64_t(size)) damaged("file has " + std::to_string(int64_t(size) - end) +
                                     " bytes after the annotation section");
    return h;
}

void writeHeader(const HeaderRecord& header, uint8_t* out) {
    const int32_t* fields = &header.magic;
    for (unsigned i = 0; i < kHeaderSize / 4; ++i)
        storeN(out + 4 * i, uint32_t(fields[i]), 4, header.isBigEndian != 0);
}

} // namespace velkin::libtarvo::format
