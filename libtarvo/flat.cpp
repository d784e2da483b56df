// The flat C interface over the same reader.
#include "internal.h"
#include "mapping_guard.h"
#include "page_memory.h"
#include "reader.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

using velkin::libtarvo::Backing;
using velkin::libtarvo::DictImpl;
using velkin::libtarvo::Error;
using velkin::libtarvo::FileSource;
namespace format = velkin::libtarvo::format;

namespace {

// A file's bytes in memory of their own, which the read fills without a
// clearing pass of ours before it; a large file's on large pages, so that
// reading it faults a page in once every 2 MiB rather than every 4 KiB.
class FileBytes {
public:
    FileBytes() = default;
    FileBytes(const FileBytes&) = delete;
    FileBytes& operator=(const FileBytes&) = delete;
    ~FileBytes() {
        if (memory_.reserved()) velkin::libtarvo::releaseGuard(memory_.reserved(), memory_.reservedSize());
    }

    // Room for `size` bytes; false when there is no memory for them.
    bool allocate(size_t size) {
        if (!memory_.allocate(size)) return false;
        if (memory_.reserved())
            velkin::libtarvo::guardOutsideFile(memory_.reserved(), memory_.reservedSize(), memory_.data(), size);
        return true;
    }
    uint8_t* data() const { return memory_.data(); }
    size_t size() const { return memory_.size(); }

private:
    velkin::libtarvo::PageMemory memory_;
};

} // namespace

struct TarvoDict {
    FileBytes bytes;     // tarvo_open: the file read into memory
    FileSource mapping;  // tarvo_mmap: the file mapped
    std::unique_ptr<DictImpl> dict;
};

namespace {

void setError(char* errorText, const char* reason) {
    if (errorText) std::snprintf(errorText, TARVO_ERROR_TEXT_SIZE, "%s", reason);
}

// Reads `count` bytes of the file from offset `at` into `to`.
void readAt(int fd, uint8_t* to, size_t count, uint64_t at) {
    while (count > 0) {
        ssize_t n = ::pread(fd, to, count, off_t(at));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0)
            throw Error(Error::Kind::CannotOpen, n < 0 ? std::strerror(errno) : "file shorter than its size when read");
        to += n;
        count -= size_t(n);
        at += uint64_t(n);
    }
}

// Reads the file in one go into a buffer sized from its length. The header
// comes first, so that a file that is no dictionary of ours is refused
// before memory is taken for it and the rest is read.
void readWholeFile(const char* path, FileBytes& bytes) {
    uint64_t size;
    int fd = velkin::libtarvo::openRegularFile(path, size);
    try {
        uint8_t header[format::kHeaderSize];
        readAt(fd, header, size_t(std::min<uint64_t>(size, sizeof header)), 0);
        format::readHeaderStart(header, size);  // the size is at most 2 GiB from here on
        if (!bytes.allocate(static_cast<size_t>(size))) throw std::bad_alloc();
        readAt(fd, bytes.data(), bytes.size(), 0);
    } catch (...) {
        ::close(fd);
        throw;
    }
    ::close(fd);
}

TarvoHandle openWith(const char* path, int slow, char* errorText, bool map) {
    try {
        if (!path) throw Error(Error::Kind::CannotOpen, "no path given");
        auto handle = std::make_unique<TarvoDict>();
        const uint8_t* data;
        uint64_t size;
        if (map) {
            handle->mapping.open(path);
            data = handle->mapping.data();
            size = handle->mapping.size();
        } else {
            readWholeFile(path, handle->bytes);
            data = handle->bytes.data();
            size = handle->bytes.size();
        }
        const Backing backing = map ? Backing::FileMapping : Backing::Memory;
        handle->dict = std::make_unique<DictImpl>(data, size, slow != 0, true, backing);
        return handle.release();
    } catch (const std::bad_alloc&) {
        setError(errorText, "out of memory");
    } catch (const std::exception& e) {
        setError(errorText, e.what());
    }
    return nullptr;
}

// Annotation numbers are checked where they are computed, and the dump
// computes none; it checks them all first, so that it never shows a file
// whose words cannot be listed.
bool wordNumbersValid(const velkin::libtarvo::View& v) {
    uint64_t largest = velkin::libtarvo::largestWordNumber(v);
    if (largest == velkin::libtarvo::kNoWord || v.numberValid(largest)) return true;
    std::fprintf(stderr, "damaged: annotation number %llu lies outside the table\n",
                 static_cast<unsigned long long>(largest));
    return false;
}

} // namespace

extern "C" {

int tarvo_version(const char** text, int, int, int) {
    if (!text) return -1;
    *text = velkin::libtarvo::format::kLibraryVersion;
    return 0;
}

TarvoHandle tarvo_open(const char* path, int slow, char* errorText) { return openWith(path, slow, errorText, false); }
TarvoHandle tarvo_mmap(const char* path, int slow, char* errorText) { return openWith(path, slow, errorText, true); }

void tarvo_close(TarvoHandle handle) { delete handle; }

const HeaderRecord* tarvo_header(TarvoHandle handle) { return handle ? &handle->dict->header() : nullptr; }

uint32_t tarvo_get_root(TarvoHandle handle) { return handle ? handle->dict->root : 0; }

int32_t tarvo_walk(TarvoHandle handle, const char* word, int32_t length, uint32_t root, void*) {
    if (__builtin_expect(!handle || length < 0 || (!word && length > 0), 0)) return -1;
    return handle->dict->walk(root, reinterpret_cast<const uint8_t*>(word), length);
}

int tarvo_dump(TarvoHandle handle, const TarvoDumpOptions* options) {
    if (!handle || !options || options->mode != 0) return -1;
    if (!wordNumbersValid(handle->dict->view())) return -1;
    return velkin::libtarvo::dump(handle->dict->view(), stdout) ? 0 : -1;
}

} // extern "C"
