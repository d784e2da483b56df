// The block writer: blocks reach the stream whole and in order, and the first
// failed write is kept.
#include "block_writer.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <memory>
#include <string>

namespace dictexport {
namespace {

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

File unbuffered(std::FILE* f) {
    if (f != nullptr) std::setvbuf(f, nullptr, _IONBF, 0);
    return File(f);
}

std::string contents(std::FILE* f) {
    std::fflush(f);
    std::rewind(f);
    std::string all;
    char chunk[4096];
    for (std::size_t n; (n = std::fread(chunk, 1, sizeof chunk, f)) > 0;) all.append(chunk, n);
    return all;
}

// Blocks of every size from empty up, each with bytes of its own, some
// only partly used; the buffers given back (those above the size kept come
// back empty) are refilled as the formatter does. Destroying the writer
// without a drain still writes them all.
TEST(BlockWriter, WritesEveryBlockWholeAndInOrder) {
    File file = unbuffered(std::tmpfile());
    ASSERT_NE(file, nullptr);
    std::string expected;
    {
        BlockWriter writer(file.get(), 4096);
        LineBuffer block;
        for (std::size_t i = 0; i < 2000; ++i) {
            std::size_t used = (i * 37) % 5000;
            block.grow(used + 7, 0);
            for (std::size_t k = 0; k < used; ++k) block.data()[k] = char('a' + (i + k) % 26);
            expected.append(block.data(), used);
            writer.submit(block, used);
            if (i % 500 == 0) writer.drain();
        }
        EXPECT_EQ(writer.error(), 0);
    }
    EXPECT_EQ(contents(file.get()), expected);
}

// The first failure is kept; later blocks are dropped without waiting on a
// stream that fails.
TEST(BlockWriter, KeepsTheFirstFailure) {
    File full = unbuffered(std::fopen("/dev/full", "wb"));
    ASSERT_NE(full, nullptr);
    BlockWriter writer(full.get(), 4096);
    LineBuffer block;
    block.assign(std::string(1000, 'x').data(), 1000);
    writer.submit(block, 1000);
    writer.drain();
    EXPECT_EQ(writer.error(), ENOSPC);
    for (int i = 0; i < 100; ++i) {
        block.assign(std::string(1000, 'y').data(), 1000);
        writer.submit(block, 1000);
    }
    writer.drain();
    EXPECT_EQ(writer.error(), ENOSPC);
}

} // namespace
} // namespace dictexport
