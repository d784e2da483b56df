// Reading dict_build's input: lines from a file or standard input, and the
// decoding of encoded fields.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace dictbuild {

// Hands out the lines of a file one by one, without their line feed; a last
// line without one counts. Lines may be of any length.
class LineReader {
public:
    // Opens `path`, or standard input for an empty path. Raises
    // std::runtime_error with the reason when the file cannot be read.
    explicit LineReader(const std::string& path);
    // Reads the open descriptor `fd`, which stays open, `block` bytes at a
    // time at first (small blocks let tests reach the refills).
    LineReader(int fd, size_t block);
    ~LineReader();
    LineReader(const LineReader&) = delete;
    LineReader& operator=(const LineReader&) = delete;

    // False at the end of the input. The view stays valid until the next call.
    bool next(std::string_view& line);
    uint64_t lineNumber() const { return lineNumber_; }

private:
    bool fill();
    int fd_;
    bool ownsFd_;
    bool eof_ = false;
    std::string buffer_;
    size_t begin_ = 0;
    size_t end_ = 0;
    uint64_t lineNumber_ = 0;
};

enum class Encoding { Hex, Base64 };

// Decode `text` into `out`; false when it is not a valid encoding.
bool decodeHex(std::string_view text, std::string& out);
bool decodeBase64(std::string_view text, std::string& out);
bool decodeField(std::string_view text, Encoding encoding, std::string& out);

// A decimal number from 0 to 4294967295, digits only.
bool parseNumber(std::string_view text, uint32_t& value);

} // namespace dictbuild
