/* Preloaded into dict_bench by its tests: counts the calls of tarvo_walk and
 * tarvo_get_root on their way to the library and writes the counts, at exit,
 * to the file named by TARVO_WALK_LOG. TARVO_WALK_DELAY_MS makes the first walk
 * sleep that long, so that a run takes a known least time. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <stdio.h>
#include <stdlib.h>
#include <time.h>

#include "binding/tarvo.h"

typedef int32_t (*WalkFunction)(TarvoHandle, const char*, int32_t, uint32_t, void*);
typedef uint32_t (*RootFunction)(TarvoHandle);

static unsigned long long walks;
static unsigned long long roots;
static int32_t lastLength = -1;

static void* next(const char* name) {
    void* f = dlsym(RTLD_NEXT, name);
    if (!f) {
        fprintf(stderr, "walk_probe: no %s\n", name);
        abort();
    }
    return f;
}

static void sleepMilliseconds(long ms) {
    struct timespec left = {ms / 1000, (ms % 1000) * 1000000L};
    while (nanosleep(&left, &left) != 0) {}
}

int32_t tarvo_walk(TarvoHandle handle, const char* word, int32_t length, uint32_t root,
                   void* result) {
    static WalkFunction realWalk;
    if (!realWalk) {
        *(void**)&realWalk = next("tarvo_walk");
        const char* delay = getenv("TARVO_WALK_DELAY_MS");
        if (delay) sleepMilliseconds(atol(delay));
    }
    ++walks;
    lastLength = length;
    return realWalk(handle, word, length, root, result);
}

uint32_t tarvo_get_root(TarvoHandle handle) {
    static RootFunction realRoot;
    if (!realRoot) *(void**)&realRoot = next("tarvo_get_root");
    ++roots;
    return realRoot(handle);
}

__attribute__((destructor)) static void writeLog(void) {
    const char* path = getenv("TARVO_WALK_LOG");
    if (!path) return;
    FILE* log = fopen(path, "w");
    if (!log) return;
    fprintf(log, "walks=%llu roots=%llu length=%d\n", walks, roots, (int)lastLength);
    fclose(log);
}
