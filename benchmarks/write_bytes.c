/* The floor for any listing: reads FILE into memory, then writes it to
 * standard output in one go and prints the seconds the writing took.
 * Usage: write_bytes FILE > OUT */
#define _POSIX_C_SOURCE 200809L
#include <stdio.h>
#include <stdlib.h>
#include <time.h>
#include <unistd.h>

static double now(void)
{
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec + t.tv_nsec / 1e9;
}

int main(int argc, char** argv)
{
    FILE* input = argc == 2 ? fopen(argv[1], "rb") : NULL;
    if (input == NULL) {
        fprintf(stderr, "usage: write_bytes FILE > OUT\n");
        return 2;
    }
    fseek(input, 0, SEEK_END);
    long size = ftell(input);
    rewind(input);
    char* bytes = malloc(size > 0 ? (size_t)size : 1);
    if (bytes == NULL || fread(bytes, 1, (size_t)size, input) != (size_t)size) {
        fprintf(stderr, "write_bytes: cannot read %s\n", argv[1]);
        return 1;
    }
    double start = now();
    for (long done = 0; done < size;) {
        ssize_t n = write(STDOUT_FILENO, bytes + done, (size_t)(size - done));
        if (n <= 0) {
            perror("write_bytes");
            return 1;
        }
        done += n;
    }
    fprintf(stderr, "%.3f\n", now() - start);
    free(bytes);
    fclose(input);
    return 0;
}
