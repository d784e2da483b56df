// Field encoders of dict_export: raw, upper-case hexadecimal and base64
// (RFC 4648 section 4, padded, no line breaks), written in place into the
// caller's buffer. None writes a terminating zero.
#pragma once

#include <cstdint>

namespace dictexport {

// The text of the std::runtime_error raised for a field whose length is
// negative, or so large that its encoded size would not fit in 32 bits.
inline constexpr const char kBadLengthMessage[] =
    "Too long or negative string given for encode as quoted printable";

// Raises std::runtime_error with kBadLengthMessage.
[[noreturn]] void raiseBadLength();

// Padded base64 size of `count` bytes.
constexpr int64_t base64EncodedSize(int64_t count) { return (count + 2) / 3 * 4; }

// Writes the base64 form of [begin, end) and returns the number of characters
// written, (n + 2) / 3 * 4.
int32_t base64Encode(const uint8_t* begin, const uint8_t* end, uint8_t* destination);

// Writes two hexadecimal digits per byte, high half first; returns 2 * n.
int32_t hexEncode(const uint8_t* begin, const uint8_t* end, uint8_t* destination);

// Twice the byte count of [begin, end).
int32_t hexLength(const uint8_t* begin, const uint8_t* end);

// Writes `value` in decimal (1 to 10 digits) and returns the position after
// the last digit.
uint8_t* writeNumber(uint32_t value, uint8_t* destination);

} // namespace dictexport
