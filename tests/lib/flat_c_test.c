/* The flat interface used from C: this file is compiled as C99.
 * Usage: flat_c_test DICT MISSING, where DICT holds cat 7 and dog 42 (made with
 * dict_build -N) and MISSING names a file that does not exist. */
#include <stdio.h>
#include <string.h>

#include "binding/tarvo.h"


static int failures;

#define CHECK(condition)                                                          \
    do {                                                                          \
        if (!(condition)) {                                                       \
            fprintf(stderr, "%s:%d: failed: %s\n", __FILE__, __LINE__, #condition); \
            ++failures;                                                           \
        }                                                                         \
    } while (0)

static void checkVersion(void) {
    const char* text = NULL;
    CHECK(tarvo_version(&text, 0, 0, 0) == 0);
    CHECK(text != NULL && strcmp(text, "0.3.1") == 0);
}

/* Both ways of opening give null and a reason; without a buffer, null alone. */
static void checkMissing(const char* path) {
    char reason[TARVO_ERROR_TEXT_SIZE];
    memset(reason, 0, sizeof reason);
    CHECK(tarvo_open(path, 0, reason) == NULL);
    CHECK(reason[0] != '\0');
    memset(reason, 0, sizeof reason);
    CHECK(tarvo_mmap(path, 1, reason) == NULL);
    CHECK(reason[0] != '\0');
    CHECK(tarvo_open(path, 0, NULL) == NULL);
    CHECK(tarvo_mmap(path, 0, NULL) == NULL);
}

static void checkLookups(TarvoHandle handle) {
    const HeaderRecord* header = tarvo_header(handle);
    uint32_t root = tarvo_get_root(handle);
    int32_t scratch[5];
    TarvoDumpOptions unknownMode;
    memset(&unknownMode, 0, sizeof unknownMode);
    unknownMode.mode = 1;

    CHECK(header != NULL && header->magic == TARVO_MAGIC);
    CHECK(tarvo_walk(handle, "cat", 3, root, scratch) == 7);
    CHECK(tarvo_walk(handle, "dog", 3, root, scratch) == 42);
    CHECK(tarvo_walk(handle, "cow", 3, root, scratch) == -1);
    CHECK(tarvo_walk(handle, "ca", 2, root, scratch) == -1);
    CHECK(tarvo_walk(handle, "cats", 4, root, scratch) == -1);
    CHECK(tarvo_walk(handle, "", 0, root, scratch) == -1);
    /* The length, not a terminating zero, ends the word. */
    CHECK(tarvo_walk(handle, "cattle", 3, root, scratch) == 7);
    CHECK(tarvo_dump(handle, &unknownMode) == -1);
}

int main(int argc, char** argv) {
    int slow;
    if (argc != 3) {
        fprintf(stderr, "Usage %s DICT MISSING\n", argv[0]);
        return 2;
    }
    checkVersion();
    checkMissing(argv[2]);
    for (slow = 0; slow <= 1; ++slow) {
        TarvoHandle opened = tarvo_open(argv[1], slow, NULL);
        TarvoHandle mapped = tarvo_mmap(argv[1], slow, NULL);
        CHECK(opened != NULL);
        CHECK(mapped != NULL);
        if (opened) checkLookups(opened);
        if (mapped) checkLookups(mapped);
        tarvo_close(opened);
        tarvo_close(mapped);
    }
    return failures == 0 ? 0 : 1;
}
