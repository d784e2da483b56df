// Opening dictionary files from disk: the bytes past a file's end are not the
// library's to read, and a file that reads shorter than its size is refused.
#include "mapping_guard.h"
#include "run.h"
#include "tarvo.h"
#include "tarvo_builder.h"

#include <gtest/gtest.h>

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
