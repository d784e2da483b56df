#include "field_encoders.h"

#include <array>
#include <bit>
#include <cstddef>
#include <cstring>
#include <limits>
#include <stdexcept>

namespace dictexport {

namespace {

constexpr char kBase64Alphabet[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr char kHexDigits[] = "0123456789ABCDEF";

// Two characters as they lie in memory, written with one store.
constexpr uint16_t charPair(char first, char second) {
    uint16_t a = uint8_t(first), b = uint8_t(second);
    return std::endian::native == std::endian::little ? uint16_t(a | b << 8) : uint16_t(a << 8 | b);
}

// The base64 characters of every 12-bit value: a group of three bytes takes
// two lookups instead of four.
constexpr std::array<uint16_t, 4096> kBase64Pairs = [] {
    std::array<uint16_t, 4096> pairs{};
    for (unsigned v = 0; v < 4096; ++v) pairs[v] = charPair(kBase64Alphabet[v >> 6], kBase64Alphabet[v & 63]);
    return pairs;
}();

// The two hexadecimal digits of every byte.
constexpr std::array<uint16_t, 256> kHexPairs = [] {
    std::array<uint16_t, 256> pairs{};
    for (unsigned v = 0; v < 256; ++v) pairs[v] = charPair(kHexDigits[v >> 4], kHexDigits[v & 15]);
    return pairs;
}();

constexpr int64_t kMaxSize = std::numeric_limits<int32_t>::max();

// Byte count of [begin, end), checked so that its encoded size fits the
// 32-bit sizes the formatter works with.
int64_t checkedCount(const uint8_t* begin, const uint8_t* end) {
    std::ptrdiff_t count = end - begin;
    if (count < 0 || count > kMaxSize) raiseBadLength();
    return count;
}

} // namespace

void raiseBadLength() { throw std::runtime_error(kBadLengthMessage); }

int32_t base64Encode(const uint8_t* begin, const uint8_t* end, uint8_t* destination) {
    int64_t count = checkedCount(begin, end);
    if (base64EncodedSize(count) > kMaxSize) raiseBadLength();
    uint8_t* out = destination;
    const uint8_t* in = begin;
    for (; end - in >= 3; in += 3) {
        uint32_t group = uint32_t(in[0]) << 16 | uint32_t(in[1]) << 8 | in[2];
        std::memcpy(out, &kBase64Pairs[group >> 12], 2);
        std::memcpy(out + 2, &kBase64Pairs[group & 0xFFF], 2);
        out += 4;
    }
    if (end - in == 1) {
        uint32_t b0 = in[0];
        out[0] = kBase64Alphabet[b0 >> 2];
        out[1] = kBase64Alphabet[(b0 & 3) << 4];
        out[2] = '=';
        out[3] = '=';
        out += 4;
    } else if (end - in == 2) {
        uint32_t b0 = in[0], b1 = in[1];
        out[0] = kBase64Alphabet[b0 >> 2];
        out[1] = kBase64Alphabet[((b0 & 3) << 4) | (b1 >> 4)];
        out[2] = kBase64Alphabet[(b1 & 15) << 2];
        out[3] = '=';
        out += 4;
    }
    return int32_t(out - destination);
}

int32_t hexEncode(const uint8_t* begin, const uint8_t* end, uint8_t* destination) {
    int32_t size = hexLength(begin, end);
    uint8_t* out = destination;
    for (const uint8_t* in = begin; in != end; ++in) {
        std::memcpy(out, &kHexPairs[*in], 2);
        out += 2;
    }
    return size;
}

int32_t hexLength(const uint8_t* begin, const uint8_t* end) {
    int64_t count = checkedCount(begin, end);
    if (2 * count > kMaxSize) raiseBadLength();
    return int32_t(2 * count);
}

// Gives the bytes of formatting the value with "%u" into a 16-byte scratch
// buffer and copying the digits out; done by hand since it runs once a line.
uint8_t* writeNumber(uint32_t value, uint8_t* destination) {
    uint8_t scratch[16];
    uint8_t* digits = scratch + sizeof scratch;
    do {
        *--digits = uint8_t('0' + value % 10);
        value /= 10;
    } while (value != 0);
    std::size_t count = std::size_t(scratch + sizeof scratch - digits);
    std::memcpy(destination, digits, count);
    return destination + count;
}

} // namespace dictexport
