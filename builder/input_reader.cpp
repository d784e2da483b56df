#include "input_reader.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <stdexcept>
#include <unistd.h>

namespace dictbuild {

namespace {
constexpr size_t kBlock = 1 << 20;

int hexValue(unsigned char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

int base64Value(unsigned char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}
} // namespace

LineReader::LineReader(const std::string& path) : fd_(0), ownsFd_(false) {
    if (!path.empty()) {
        fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd_ < 0) throw std::runtime_error(std::strerror(errno));
        ownsFd_ = true;
    }
    buffer_.resize(kBlock);
}

LineReader::LineReader(int fd, size_t block) : fd_(fd), ownsFd_(false) { buffer_.resize(block ? block : 1); }

LineReader::~LineReader() {
    if (ownsFd_) ::close(fd_);
}

// Moves the unread rest to the front and reads more; false at the end.
bool LineReader::fill() {
    if (eof_) return false;
    if (begin_ > 0) {
        std::memmove(buffer_.data(), buffer_.data() + begin_, end_ - begin_);
        end_ -= begin_;
        begin_ = 0;
    }
    if (end_ == buffer_.size()) buffer_.resize(buffer_.size() * 2);
    for (;;) {
        ssize_t n = ::read(fd_, buffer_.data() + end_, buffer_.size() - end_);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) throw std::runtime_error(std::strerror(errno));
        if (n == 0) eof_ = true;
        end_ += size_t(n);
        return n > 0;
    }
}

bool LineReader::next(std::string_view& line) {
    size_t searched = 0;  // bytes after begin_ known to hold no line feed
    for (;;) {
        const char* from = buffer_.data() + begin_ + searched;
        const void* nl = std::memchr(from, '\n', end_ - begin_ - searched);
        if (nl) {
            size_t at = size_t(static_cast<const char*>(nl) - buffer_.data());
            line = std::string_view(buffer_.data() + begin_, at - begin_);
            begin_ = at + 1;
            ++lineNumber_;
            return true;
        }
        searched = end_ - begin_;
        if (!fill()) {
            if (begin_ == end_) return false;
            line = std::string_view(buffer_.data() + begin_, end_ - begin_);
            begin_ = end_;
            ++lineNumber_;
            return true;
        }
    }
}

bool decodeHex(std::string_view text, std::string& out) {
    out.clear();
    if (text.size() % 2) return false;
    out.resize(text.size() / 2);
    for (size_t i = 0; i < out.size(); ++i) {
        int hi = hexValue(text[2 * i]), lo = hexValue(text[2 * i + 1]);
        if (hi < 0 || lo < 0) return false;
        out[i] = char(hi << 4 | lo);
    }
    return true;
}

bool decodeBase64(std::string_view text, std::string& out) {
    out.clear();
    if (text.size() % 4) return false;
    for (size_t i = 0; i < text.size(); i += 4) {
        bool last = i + 4 == text.size();
        int v[4];
        int padding = 0;
        for (int k = 0; k < 4; ++k) {
            unsigned char c = text[i + k];
            if (c == '=' && last && k >= 2) {
                v[k] = 0;
                ++padding;
                continue;
            }
            if (padding) return false;  // data after '='
            v[k] = base64Value(c);
            if (v[k] < 0) return false;
        }
        uint32_t bits = uint32_t(v[0]) << 18 | uint32_t(v[1]) << 12 | uint32_t(v[2]) << 6 | uint32_t(v[3]);
        out.push_back(char(bits >> 16));
        if (padding < 2) out.push_back(char(bits >> 8));
        if (padding < 1) out.push_back(char(bits));
    }
    return true;
}

bool decodeField(std::string_view text, Encoding encoding, std::string& out) {
    return encoding == Encoding::Hex ? decodeHex(text, out) : decodeBase64(text, out);
}

bool parseNumber(std::string_view text, uint32_t& value) {
    if (text.empty() || text.size() > 10) return false;
    uint64_t v = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + uint64_t(c - '0');
    }
    if (v > 0xFFFFFFFFu) return false;
    value = uint32_t(v);
    return true;
}

} // namespace dictbuild
