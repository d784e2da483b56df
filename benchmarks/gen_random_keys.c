/* Writes COUNT distinct random keys of MIN to MAX lowercase letters (default 5
 * to 20), one a line, from a fixed seed, so every run gives the same set in the
 * same (random, unsorted) order.
 * Usage: gen_random_keys [COUNT [SEED [MIN MAX]]] */
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

/* splitmix64: tiny, fast, and the same sequence on every platform. */
static uint64_t next_random(uint64_t* state)
{
    uint64_t z = (*state += 0x9e3779b97f4a7c15ULL);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31);
}

/* Maps a random value to [0, n) without division (Lemire's multiply-shift). */
static unsigned below(uint64_t* state, unsigned n)
{
    return (unsigned)(((next_random(state) >> 32) * n) >> 32);
}

static uint64_t fnv1a(const char* key, size_t length)
{
    uint64_t h = 0xcbf29ce484222325ULL;
    for (size_t i = 0; i < length; ++i)
        h = (h ^ (unsigned char)key[i]) * 0x100000001b3ULL;
    return h | 1; /* 0 marks an empty slot */
}

/* Open-addressing set of key fingerprints; returns 1 when the fingerprint was
 * new. A fingerprint clash only skips a key, and does so on every run alike. */
static int insert_fingerprint(uint64_t* table, uint64_t mask, uint64_t fingerprint)
{
    for (uint64_t slot = fingerprint & mask;; slot = (slot + 1) & mask) {
        if (table[slot] == fingerprint)
            return 0;
        if (table[slot] == 0) {
            table[slot] = fingerprint;
            return 1;
        }
    }
}

int main(int argc, char** argv)
{
    uint64_t count = argc > 1 ? strtoull(argv[1], NULL, 10) : 10000000;
    uint64_t state = argc > 2 ? strtoull(argv[2], NULL, 10) : 20240229;
    unsigned shortest = argc > 4 ? (unsigned)strtoul(argv[3], NULL, 10) : 5;
    unsigned longest = argc > 4 ? (unsigned)strtoul(argv[4], NULL, 10) : 20;
    if (shortest < 1 || longest < shortest || longest > 22) {
        fprintf(stderr, "gen_random_keys: lengths must satisfy 1 <= MIN <= MAX <= 22\n");
        return 1;
    }
    uint64_t slots = 1024;
    while (slots < 2 * count)
        slots *= 2;
    uint64_t* table = calloc(slots, sizeof *table);
    if (table == NULL) {
        fprintf(stderr, "gen_random_keys: out of memory\n");
        return 1;
    }
    char key[24];
    for (uint64_t written = 0; written < count;) {
        unsigned length = shortest + below(&state, longest - shortest + 1);
        for (unsigned i = 0; i < length; ++i)
            key[i] = (char)('a' + below(&state, 26));
        if (!insert_fingerprint(table, slots - 1, fnv1a(key, length)))
            continue;
        key[length] = '\n';
        fwrite(key, 1, length + 1, stdout);
        ++written;
    }
    free(table);
    return fflush(stdout) == 0 ? 0 : 1;
}
