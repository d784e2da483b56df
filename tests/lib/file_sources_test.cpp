// Opening dictionary files from disk: the bytes past a file's end are not the
// library's to read, a file that reads shorter than its size is refused, and
// the checks on open do not leave a mapped file resident.
#include "mapping_guard.h"
#include "run.h"
#include "tarvo.h"
#include "tarvo_builder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <random>
#include <set>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace {

using namespace velkin::libtarvo;

[[maybe_unused]] std::string writeSmallDict(const tarvo_test::TempDir& dir) {
    DictBuilder builder({Layout::Compact, false});
    builder.add("cat", 0);
    builder.add("dog", 0);
    std::vector<uint8_t> bytes = builder.finishToMemory({"noun"}, false, nullptr);
    std::string path = dir.file("small.dict");
    tarvo_test::writeFile(path, std::string(bytes.begin(), bytes.end()));
    return path;
}

// Kilobytes of the mapping that starts at `start` resident in this process.
long residentKiB(const void* start) {
    std::FILE* maps = std::fopen("/proc/self/smaps", "r");
    if (!maps) return -1;
    char line[512];
    bool inside = false;
    long kib = -1;
    while (kib < 0 && std::fgets(line, sizeof line, maps)) {
        uintptr_t from, to;
        if (std::sscanf(line, "%" SCNxPTR "-%" SCNxPTR " ", &from, &to) == 2) inside = from == uintptr_t(start);
        else if (inside) std::sscanf(line, "Rss: %ld kB", &kib);
    }
    std::fclose(maps);
    return kib;
}

int32_t collectWord(const uint8_t* word, int32_t length, const AnnotRecord*, void* context) {
    static_cast<std::vector<std::string>*>(context)->emplace_back(reinterpret_cast<const char*>(word), size_t(length));
    return 1;
}

// A compact dictionary of random words, large enough to be checked in
// halves and to be more than the part of a mapped file that goes back.
class LargeFile : public testing::Test {
protected:
    void SetUp() override {
        std::mt19937 random(11);
        while (words.size() < 200000) {
            std::string w(12, '\0');
            for (char& c : w) c = char('a' + random() % 26);
            words.insert(w);
        }
        DictBuilder builder({Layout::Compact, false});
        for (const std::string& w : words) builder.add(w, 0);
        bytes = builder.finishToMemory({"x"}, false, nullptr);
        ASSERT_GT(bytes.size(), size_t(2) << 20);
        path = dir.file("random.dict");
        tarvo_test::writeFile(path, std::string(bytes.begin(), bytes.end()));
    }

    void expectAllWords(const Dict& dict) const {
        std::vector<std::string> listed;
        dict.forEachWord(dict.root, collectWord, &listed);
        EXPECT_TRUE(std::equal(listed.begin(), listed.end(), words.begin(), words.end()));
    }

    std::set<std::string> words;
    std::vector<uint8_t> bytes;
    tarvo_test::TempDir dir;
    std::string path;
};

// The checks read the whole file; on a mapping they hand back at least as
// many of its pages as their bitmaps take, a quarter of the file, so that the
// bitmaps do not come on top of a resident file. The words read afterwards,
// from pages faulted in again, are the same.
TEST_F(LargeFile, OpeningItMappedLeavesLittleOfItResident) {
    FileSource source;
    source.open(path.c_str());
    std::unique_ptr<Dict> dict = Dict::create(source, false);
    const long kib = residentKiB(source.data());
    ASSERT_GE(kib, 0) << "no mapping at the source's start";
    EXPECT_LT(kib, long(bytes.size() / 1024 * 3 / 4));
    expectAllWords(*dict);
}

// A source derived from FileSource may hand out bytes of its own: those are
// no mapping of the file, and handing back their pages would zero them.
TEST_F(LargeFile, BytesOfADerivedSourceStay) {
    class CopiedFile : public FileSource {
    public:
        explicit CopiedFile(const std::vector<uint8_t>& bytes) : copy_(bytes) {}
        const uint8_t* data() const override { return copy_.data(); }
        uint64_t size() const override { return copy_.size(); }

    private:
        std::vector<uint8_t> copy_;
    };
    CopiedFile source(bytes);
    std::unique_ptr<Dict> dict = Dict::create(source, false);
    expectAllWords(*dict);
}

// A mapping ends in the page's zeros; under AddressSanitizer a read of them
// must be reported, or the sanitized tests could not see a read past a file.
TEST(FileSourcesDeathTest, ReadPastTheMappedFileIsReported) {
#if !defined(TARVO_GUARD_MAPPINGS)
    GTEST_SKIP() << "only AddressSanitizer reports it";
#else
    tarvo_test::TempDir dir;
    const std::string path = writeSmallDict(dir);
    const std::string file = tarvo_test::readFile(path);
    FileSource source;
    source.open(path.c_str());
    ASSERT_EQ(source.size(), file.size());
    const volatile uint8_t* bytes = source.data();
    EXPECT_EQ(bytes[source.size() - 1], uint8_t(file.back()));  // the file's own bytes stay readable
    EXPECT_DEATH((void)bytes[source.size()], "AddressSanitizer");
#endif
}

// Files of the kernel's that state a size and read fewer bytes.
TEST(FileSources, FileShorterThanItsSizeIsRefused) {
    const char* candidates[] = {"/sys/kernel/mm/transparent_hugepage/enabled", "/sys/kernel/profiling",
                                "/sys/power/state"};
    for (const char* path : candidates) {
        struct stat st;
        std::string bytes;
        if (stat(path, &st) != 0 || !S_ISREG(st.st_mode)) continue;
        try {
            bytes = tarvo_test::readFile(path);
        } catch (...) {
            continue;
        }
        if (off_t(bytes.size()) >= st.st_size) continue;
        SCOPED_TRACE(path);
        char reason[TARVO_ERROR_TEXT_SIZE] = {};
        TarvoHandle handle = tarvo_open(path, 0, reason);
        EXPECT_EQ(handle, nullptr);
        if (handle) tarvo_close(handle);
        EXPECT_STREQ(reason, "file shorter than its size when read");
        return;
    }
    GTEST_SKIP() << "no file here reads shorter than its size";
}

} // namespace
