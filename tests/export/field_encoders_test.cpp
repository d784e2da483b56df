// Field encoders: exact bytes, predicted sizes, and the length checks.
#include "expect_bad_length.h"
#include "export_options.h"
#include "field_encoders.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

namespace dictexport {
namespace {

const uint8_t* bytesOf(const std::string& s) { return reinterpret_cast<const uint8_t*>(s.data()); }

std::string allByteValues(bool descending = false) {
    std::string s;
    for (int i = 0; i < 256; ++i) s.push_back(char(descending ? 255 - i : i));
    return s;
}

// Reference computed apart from the encoder: two "%02X" digits per byte.
std::string referenceHex(const std::string& bytes) {
    std::string hex;
    char pair[3];
    for (unsigned char c : bytes) {
        std::snprintf(pair, sizeof pair, "%02X", c);
        hex += pair;
    }
    return hex;
}

// The base64 alphabet, for references computed apart from the encoder.
constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// A destination with guard bytes behind the predicted size, so that a write
// past the prediction shows.
class Destination {
public:
    explicit Destination(std::size_t size) : bytes_(size + kGuard, kFill), size_(size) {}
    uint8_t* data() { return bytes_.data(); }
    std::string written(const uint8_t* end) const {
        return std::string(bytes_.begin(), bytes_.begin() + (end - bytes_.data()));
    }
    bool guardIntact() const {
        for (std::size_t i = size_; i < bytes_.size(); ++i)
            if (bytes_[i] != kFill) return false;
        return true;
    }
    bool untouched() const {
        for (uint8_t b : bytes_)
            if (b != kFill) return false;
        return true;
    }

private:
    static constexpr std::size_t kGuard = 16;
    static constexpr uint8_t kFill = 0xA5;
    std::vector<uint8_t> bytes_;
    std::size_t size_;
};

struct EncodingCase {
    std::string bytes;
    std::string hex;
    std::string base64;
};

const std::vector<EncodingCase>& encodingCases() {
    static const std::vector<EncodingCase> cases = {
        {"", "", ""},
        {"cat", "636174", "Y2F0"},
        {"N", "4E", "Tg=="},
        {"ab", "6162", "YWI="},
        {std::string("\x00\x7f\xff", 3), "007FFF", "AH//"},
        {"f", "66", "Zg=="},
        {"fo", "666F", "Zm8="},
        {"foo", "666F6F", "Zm9v"},
        {"foob", "666F6F62", "Zm9vYg=="},
        {"fooba", "666F6F6261", "Zm9vYmE="},
        {"foobar", "666F6F626172", "Zm9vYmFy"},
        {std::string("a\nb!c\0", 6), "610A622163" "00", "YQpiIWMA"},
        {allByteValues(), referenceHex(allByteValues()),
         "AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHh8gISIjJCUmJygpKissLS4vMDEyMzQ1Njc4OTo7PD0+"
         "P0BBQkNERUZHSElKS0xNTk9QUVJTVFVWV1hZWltcXV5fYGFiY2RlZmdoaWprbG1ub3BxcnN0dXZ3eHl6e3x9"
         "fn+AgYKDhIWGh4iJiouMjY6PkJGSk5SVlpeYmZqbnJ2en6ChoqOkpaanqKmqq6ytrq+wsbKztLW2t7i5uru8"
         "vb6/wMHCw8TFxsfIycrLzM3Oz9DR0tPU1dbX2Nna29zd3t/g4eLj5OXm5+jp6uvs7e7v8PHy8/T19vf4+fr7"
         "/P3+/w=="},
        {allByteValues(true), referenceHex(allByteValues(true)),
         "//79/Pv6+fj39vX08/Lx8O/u7ezr6uno5+bl5OPi4eDf3t3c29rZ2NfW1dTT0tHQz87NzMvKycjHxsXEw8LB"
         "wL++vby7urm4t7a1tLOysbCvrq2sq6qpqKempaSjoqGgn56dnJuamZiXlpWUk5KRkI+OjYyLiomIh4aFhIOC"
         "gYB/fn18e3p5eHd2dXRzcnFwb25tbGtqaWhnZmVkY2JhYF9eXVxbWllYV1ZVVFNSUVBPTk1MS0pJSEdGRURD"
         "QkFAPz49PDs6OTg3NjU0MzIxMC8uLSwrKikoJyYlJCMiISAfHh0cGxoZGBcWFRQTEhEQDw4NDAsKCQgHBgUE"
         "AwIBAA=="},
    };
    return cases;
}

TEST(FieldEncoders, FreeFunctionsWriteExactBytes) {
    for (const EncodingCase& c : encodingCases()) {
        SCOPED_TRACE(referenceHex(c.bytes.substr(0, 8)));
        const uint8_t* begin = bytesOf(c.bytes);
        const uint8_t* end = begin + c.bytes.size();

        EXPECT_EQ(hexLength(begin, end), int32_t(c.hex.size()));
        Destination hex(c.hex.size());
        int32_t hexCount = hexEncode(begin, end, hex.data());
        EXPECT_EQ(hex.written(hex.data() + hexCount), c.hex);
        EXPECT_TRUE(hex.guardIntact());

        Destination base64(c.base64.size());
        int32_t base64Count = base64Encode(begin, end, base64.data());
        EXPECT_EQ(base64.written(base64.data() + base64Count), c.base64);
        EXPECT_EQ(base64Count, int32_t((c.bytes.size() + 2) / 3 * 4));
        EXPECT_TRUE(base64.guardIntact());
    }
}

// Every single byte value alone: each hexadecimal digit pair and each
// one-byte base64 group, against references computed apart.
TEST(FieldEncoders, EverySingleByte) {
    for (int value = 0; value < 256; ++value) {
        SCOPED_TRACE(value);
        std::string one(1, char(value));
        uint8_t out[4];
        ASSERT_EQ(hexEncode(bytesOf(one), bytesOf(one) + 1, out), 2);
        EXPECT_EQ(std::string(out, out + 2), referenceHex(one));
        ASSERT_EQ(base64Encode(bytesOf(one), bytesOf(one) + 1, out), 4);
        std::string expected = {kAlphabet[value >> 2], kAlphabet[(value & 3) << 4], '=', '='};
        EXPECT_EQ(std::string(out, out + 4), expected);
    }
}

// Every value of both halves of a full three-byte group (the encoder takes a
// group as two 12-bit values), against a reference taken six bits at a time.
TEST(FieldEncoders, EveryHalfOfAFullBase64Group) {
    for (uint32_t high = 0; high < 4096; ++high) {
        uint32_t group = high << 12 | (4095 - high);
        const uint8_t bytes[3] = {uint8_t(group >> 16), uint8_t(group >> 8), uint8_t(group)};
        std::string expected;
        for (int shift = 18; shift >= 0; shift -= 6) expected += kAlphabet[(group >> shift) & 63];
        uint8_t out[4];
        ASSERT_EQ(base64Encode(bytes, bytes + 3, out), 4);
        ASSERT_EQ(std::string(out, out + 4), expected) << "group " << group;
    }
}

struct Switch {
    const char* name;
    bool encode;
    bool useBase64;
};

const Switch kSwitches[] = {{"raw", false, false}, {"raw, base64 chosen", false, true},
                            {"hex", true, false}, {"base64", true, true}};

// The member operations pick the encoding, predict exactly what they write,
// and write nothing past it.
TEST(FieldEncoders, MemberOperationsPredictWhatTheyWrite) {
    for (const Switch& s : kSwitches) {
        ExportOptions options;
        options.useBase64 = s.useBase64;
        for (const EncodingCase& c : encodingCases()) {
            SCOPED_TRACE(std::string(s.name) + " " + referenceHex(c.bytes.substr(0, 8)));
            const std::string& expected = !s.encode ? c.bytes : s.useBase64 ? c.base64 : c.hex;
            int32_t length = int32_t(c.bytes.size());
            int32_t predicted = options.encodedLength(bytesOf(c.bytes), length, s.encode);
            EXPECT_EQ(predicted, int32_t(expected.size()));
            Destination out{std::size_t(predicted)};
            uint8_t* end = options.encodeField(bytesOf(c.bytes), length, out.data(), s.encode);
            EXPECT_EQ(end - out.data(), predicted);
            EXPECT_EQ(out.written(end), expected);
            EXPECT_TRUE(out.guardIntact());
        }
    }
}

TEST(FieldEncoders, ZeroLengthFieldFromNullPointer) {
    for (const Switch& s : kSwitches) {
        SCOPED_TRACE(s.name);
        ExportOptions options;
        options.useBase64 = s.useBase64;
        EXPECT_EQ(options.encodedLength(nullptr, 0, s.encode), 0);
        Destination out(0);
        EXPECT_EQ(options.encodeField(nullptr, 0, out.data(), s.encode), out.data());
        EXPECT_TRUE(out.untouched());
    }
}

TEST(FieldEncoders, WriteNumber) {
    const uint32_t values[] = {0u,         1u,          9u,          10u,         99u,
                               100u,       65535u,      999999999u,  1000000000u, 2147483647u,
                               2147483648u, 4294967294u, 4294967295u};
    for (uint32_t value : values) {
        SCOPED_TRACE(value);
        char reference[16];
        int digits = std::snprintf(reference, sizeof reference, "%u", value);
        Destination out{std::size_t(digits)};
        uint8_t* end = writeNumber(value, out.data());
        EXPECT_EQ(out.written(end), std::string(reference, std::size_t(digits)));
        EXPECT_TRUE(out.guardIntact());
    }
    uint8_t out[10];
    EXPECT_EQ(std::string(out, writeNumber(0, out)), "0");
    EXPECT_EQ(std::string(out, writeNumber(4294967295u, out)), "4294967295");
}

// A negative length is refused on every path a length enters, before any
// byte is written.
TEST(FieldEncoders, NegativeLengthRaisesOnEveryPath) {
    const std::string field = "abcdef";
    const uint8_t* begin = bytesOf(field);
    for (const Switch& s : kSwitches) {
        for (int32_t length : {-1, -3, INT32_MIN}) {
            SCOPED_TRACE(std::string(s.name) + " " + std::to_string(length));
            ExportOptions options;
            options.useBase64 = s.useBase64;
            Destination out(64);
            expectBadLength([&] { options.encodedLength(begin, length, s.encode); });
            expectBadLength([&] { options.encodedLength(nullptr, length, s.encode); });
            expectBadLength([&] { options.encodeField(begin + 6, length, out.data(), s.encode); });
            EXPECT_TRUE(out.untouched());
        }
    }
    Destination out(64);
    expectBadLength([&] { hexLength(begin + 1, begin); });
    expectBadLength([&] { hexEncode(begin + 3, begin, out.data()); });
    expectBadLength([&] { base64Encode(begin + 3, begin, out.data()); });
    EXPECT_TRUE(out.untouched());
}

// Encoded sizes beyond 32 bits are refused with the same error; raw fields
// never grow, so any non-negative length is predicted as itself.
TEST(FieldEncoders, EncodedSizeBeyondThirtyTwoBitsRaises) {
    const uint8_t byte = 0;
    ExportOptions options;
    EXPECT_EQ(options.encodedLength(&byte, INT32_MAX, false), INT32_MAX);
    expectBadLength([&] { options.encodedLength(&byte, 1073741824, true); });
    options.useBase64 = true;
    EXPECT_EQ(options.encodedLength(&byte, 1610612733, true), 2147483644);
    expectBadLength([&] { options.encodedLength(&byte, 1610612734, true); });
    expectBadLength([&] { options.encodedLength(&byte, INT32_MAX, true); });
}

} // namespace
} // namespace dictexport
