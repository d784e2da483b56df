// Line formatter: the export line format, byte for byte, for every mode.
#include "block_writer.h"
#include "expect_bad_length.h"
#include "export_options.h"
#include "line_formatter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

namespace dictexport {
namespace {

using velkin::libtarvo::AnnotRecord;

// ExportOptions writing into memory, as the driver's record writes to a file.
class Formatter : public ::testing::Test {
protected:
    void SetUp() override {
        options.out = open_memstream(&buffer_, &size_);
        ASSERT_NE(options.out, nullptr);
    }
    void TearDown() override {
        std::fclose(options.out);
        std::free(buffer_);
    }
    std::string written() {
        flushLines(options);
        std::fflush(options.out);
        return std::string(buffer_, size_);
    }
    int32_t word(const std::string& w, const AnnotRecord* annot) {
        return writeWordLine(reinterpret_cast<const uint8_t*>(w.data()), int32_t(w.size()), annot,
                             &options);
    }

    ExportOptions options;

private:
    char* buffer_ = nullptr;
    std::size_t size_ = 0;
};

AnnotRecord record(const std::string& bytes, uint32_t number) {
    return {reinterpret_cast<const uint8_t*>(bytes.data()), int32_t(bytes.size()), number};
}

const std::string kN = "N";

struct LineCase {
    const char* name;
    std::function<void(ExportOptions&)> set; // the command line's effect on the record
    bool annotMode;
    std::string expected;
};

// A word "cat" whose annotation is the byte "N" with number 7.
TEST_F(Formatter, CatExamples) {
    auto A = [](ExportOptions& o) { o.encodeAnnots = true; o.showAnnots = true; };
    const std::vector<LineCase> cases = {
        {"defaults", [](ExportOptions&) {}, false, "cat\n"},
        {"-A", A, false, "cat!4E\n"},
        {"-A -W", [&](ExportOptions& o) { A(o); o.encodeWords = true; }, false, "636174!4E\n"},
        {"-A -W -e base64",
         [&](ExportOptions& o) { A(o); o.encodeWords = true; o.useBase64 = true; }, false,
         "Y2F0!Tg==\n"},
        {"-N", [](ExportOptions& o) { o.annotNumbers = true; o.showAnnots = true; }, false,
         "cat!7\n"},
        {"-n", [](ExportOptions& o) { o.annotNumbers = false; o.showAnnots = true; }, false,
         "cat!4E\n"},
        {"-a", [](ExportOptions& o) { o.encodeAnnots = false; o.showAnnots = true; }, false,
         "cat!N\n"},
        {"-W", [](ExportOptions& o) { o.encodeWords = true; }, false, "636174\n"},
        {"-W -e base64", [](ExportOptions& o) { o.encodeWords = true; o.useBase64 = true; },
         false, "Y2F0\n"},
        {"-A -s tab", [&](ExportOptions& o) { A(o); o.separator = '\t'; }, false, "cat\t4E\n"},
        {"-A -s empty", [&](ExportOptions& o) { A(o); o.separator = 0; }, false,
         std::string("cat\0" "4E\n", 7)},
        {"annots", [](ExportOptions&) {}, true, "7!4E\n"},
        {"annots -a", [](ExportOptions& o) { o.encodeAnnots = false; }, true, "7!N\n"},
        {"annots -e base64", [](ExportOptions& o) { o.useBase64 = true; }, true, "7!Tg==\n"},
        // Word-mode switches play no part in annotation mode.
        {"annots -N -W", [](ExportOptions& o) { o.annotNumbers = true; o.encodeWords = true; },
         true, "7!4E\n"},
    };
    AnnotRecord annot = record(kN, 7);
    for (const LineCase& c : cases) {
        SCOPED_TRACE(c.name);
        ExportOptions fresh;
        fresh.out = options.out;
        options = fresh;
        c.set(options);
        std::string before = written();
        int32_t result = c.annotMode ? writeAnnotLine(&annot, &options) : word("cat", &annot);
        EXPECT_EQ(result, 1);
        EXPECT_EQ(written().substr(before.size()), c.expected);
    }
}

// A dictionary of numbers only hands null data: the number is shown even
// without -N; with the field off the record is not read at all.
TEST_F(Formatter, NullAnnotationData) {
    AnnotRecord numbersOnly = {nullptr, 0, 42};
    options.showAnnots = true;
    word("cat", &numbersOnly);
    options.encodeAnnots = false;
    word("dog", &numbersOnly);
    options.showAnnots = false;
    word("eel", nullptr);
    EXPECT_EQ(written(), "cat!42\ndog!42\neel\n");
}

TEST_F(Formatter, EmptyFields) {
    AnnotRecord annot = record(kN, 3);
    AnnotRecord empty = record("", 5);
    word("", nullptr);
    options.showAnnots = true;
    word("", &annot);
    word("cat", &empty);
    writeAnnotLine(&empty, &options);
    options.encodeWords = true;
    options.useBase64 = true;
    word("", &empty);
    EXPECT_EQ(written(), "\n!4E\ncat!\n5!\n!\n");
}

// Raw fields go out unchanged, separator and line feed bytes included.
TEST_F(Formatter, RawFieldsAreNotEscaped) {
    std::string all;
    for (int i = 0; i < 256; ++i) all.push_back(char(i));
    AnnotRecord annot = record(all, 1);
    options.encodeAnnots = false;
    options.showAnnots = true;
    word(all, &annot);
    writeAnnotLine(&annot, &options);
    EXPECT_EQ(written(), all + "!" + all + "\n" + "1!" + all + "\n");
}

TEST_F(Formatter, LargestNumber) {
    AnnotRecord annot = record(kN, 4294967295u);
    options.annotNumbers = true;
    options.showAnnots = true;
    word("cat", &annot);
    writeAnnotLine(&annot, &options);
    AnnotRecord zero = record(kN, 0);
    word("", &zero);
    EXPECT_EQ(written(), "cat!4294967295\n4294967295!4E\n!0\n");
}

// The one line buffer grows for a long line and a short line after it
// carries nothing of it.
TEST_F(Formatter, LongLineThenShortLine) {
    std::string longWord(100000, 'x');
    std::string longAnnot(70000, '\xff');
    AnnotRecord big = record(longAnnot, 9);
    AnnotRecord small = record(kN, 1);
    options.showAnnots = true;
    options.useBase64 = true;
    word("a", &small);
    word(longWord, &big);
    word("b", &small);
    writeAnnotLine(&big, &options);
    writeAnnotLine(&small, &options);
    std::string base64Annot;
    for (int i = 0; i < 70000 / 3; ++i) base64Annot += "////";
    base64Annot += "/w==";
    EXPECT_EQ(written(), "a!Tg==\n" + longWord + "!" + base64Annot + "\nb!Tg==\n" + "9!" +
                             base64Annot + "\n1!Tg==\n");
}

// Raw words are copied in pieces chosen by their length: every length from
// empty to past the longest short word comes out whole, each word exactly
// where the last one ended, including across the point where the waiting
// lines go out as one block. Each word is handed over in a buffer of exactly
// its size, so that a read past its end is caught.
TEST_F(Formatter, RawWordsOfEveryLength) {
    std::string expected;
    for (int round = 0; round < 300; ++round) {
        for (std::size_t length = 0; length <= 70; ++length) {
            std::vector<uint8_t> w(length);
            for (std::size_t i = 0; i < length; ++i) w[i] = uint8_t('A' + (round + i * 7) % 58);
            ASSERT_EQ(writeWordLine(w.data(), int32_t(length), nullptr, &options), 1);
            expected.append(w.begin(), w.end());
            expected += '\n';
        }
    }
    EXPECT_EQ(written(), expected);
}

// Through a writer's thread, in small blocks: short lines, one line far
// longer than a block, short lines again. The bytes are the same, and the
// long line's buffer is not kept.
TEST_F(Formatter, ThroughAWriterThread) {
    constexpr std::size_t kKeep = 8192;
    BlockWriter writer(options.out, kKeep);
    options.writer = &writer;
    options.blockSize = 4096;
    AnnotRecord n = record(kN, 7);
    options.showAnnots = true;
    std::string expected;
    std::size_t largest = 0;  // the buffer's largest size between lines
    auto lines = [&](int count) {
        for (int i = 0; i < count; ++i) {
            std::string w = "word" + std::to_string(i);
            ASSERT_EQ(word(w, &n), 1);
            expected += w + "!4E\n";
            largest = std::max(largest, options.line.size());
        }
    };
    lines(3000);
    std::string longWord(100000, 'x');
    ASSERT_EQ(word(longWord, &n), 1);
    expected += longWord + "!4E\n";
    lines(3000);
    flushLines(options);
    writer.drain();
    options.writer = nullptr;
    EXPECT_EQ(writer.error(), 0);
    EXPECT_LE(largest, kKeep);
    EXPECT_EQ(written(), expected);
}

struct NegativeCase {
    const char* name;
    std::function<void(ExportOptions&)> set;
    bool negativeWord;
    bool annotMode;
};

// A negative length from the library leaves the callback before anything of
// the line is written, whichever field and encoding it hits.
TEST_F(Formatter, NegativeLengthWritesNothing) {
    auto raw = [](ExportOptions& o) { o.encodeAnnots = false; o.showAnnots = true; };
    auto hex = [](ExportOptions& o) { o.showAnnots = true; };
    auto base64 = [](ExportOptions& o) { o.showAnnots = true; o.useBase64 = true; };
    const std::vector<NegativeCase> cases = {
        {"raw word", [](ExportOptions&) {}, true, false},
        {"hex word", [](ExportOptions& o) { o.encodeWords = true; }, true, false},
        {"base64 word", [](ExportOptions& o) { o.encodeWords = true; o.useBase64 = true; }, true,
         false},
        {"raw annotation", raw, false, false},
        {"hex annotation", hex, false, false},
        {"base64 annotation", base64, false, false},
        {"annots raw", raw, false, true},
        {"annots hex", hex, false, true},
        {"annots base64", base64, false, true},
    };
    const std::string bytes = "cat";
    for (const NegativeCase& c : cases) {
        SCOPED_TRACE(c.name);
        ExportOptions fresh;
        fresh.out = options.out;
        options = fresh;
        c.set(options);
        AnnotRecord annot = {reinterpret_cast<const uint8_t*>(bytes.data()),
                             c.negativeWord ? 1 : -1, 7};
        int32_t wordLength = c.negativeWord ? -1 : 3;
        const uint8_t* w = reinterpret_cast<const uint8_t*>(bytes.data()) + 3;
        if (c.annotMode)
            expectBadLength([&] { writeAnnotLine(&annot, &options); });
        else
            expectBadLength([&] { writeWordLine(w, wordLength, &annot, &options); });
    }
    EXPECT_EQ(written(), "");
}

// With the number shown, the annotation's length is not read.
TEST_F(Formatter, NumberFieldIgnoresAnnotationLength) {
    AnnotRecord annot = {nullptr, -1, 7};
    options.showAnnots = true;
    options.annotNumbers = true;
    word("cat", &annot);
    EXPECT_EQ(written(), "cat!7\n");
}

} // namespace
} // namespace dictexport
