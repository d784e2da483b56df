// Sources of dictionary bytes, the error type, and Dict::create.
#include "internal.h"
#include "mapping_guard.h"
#include "reader.h"
#include "tarvo_builder.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <typeinfo>
#include <unistd.h>

namespace velkin::libtarvo {

Error::Error(Kind kind, const std::string& what) : std::runtime_error(what), kind_(kind) {}

std::string LibTarvoInfo::getVersion() { return format::kLibraryVersion; }

Source::~Source() = default;
Dict::~Dict() = default;

FileSource::FileSource() = default;

namespace {

void unmapFile(void* mapping, uint64_t size) {
    if (!mapping) return;
    releaseGuard(mapping, size_t(size));
    munmap(mapping, size_t(size));
}

} // namespace

FileSource::~FileSource() { unmapFile(mapping_, mappingSize_); }

void FileSource::open(const char* path) {
    unmapFile(mapping_, mappingSize_);
    mapping_ = nullptr;
    mappingSize_ = 0;
    data_ = nullptr;
    size_ = 0;
    uint64_t fileSize;
    int fd = openRegularFile(path, fileSize);
    if (fileSize > 0) {
        void* m = mmap(nullptr, size_t(fileSize), PROT_READ, MAP_PRIVATE, fd, 0);
        if (m == MAP_FAILED) {
            int e = errno;
            ::close(fd);
            throw Error(Error::Kind::CannotOpen, std::strerror(e));
        }
        mapping_ = m;
        mappingSize_ = fileSize;
        data_ = static_cast<const uint8_t*>(m);
        size_ = mappingSize_;
        guardOutsideFile(mapping_, size_t(mappingSize_), data_, size_t(size_));
    }
    ::close(fd);
}

const uint8_t* FileSource::data() const { return data_; }
uint64_t FileSource::size() const { return size_; }

MemorySource::MemorySource(std::vector<uint8_t> bytes) : bytes_(std::move(bytes)) {}
const uint8_t* MemorySource::data() const { return bytes_.data(); }
uint64_t MemorySource::size() const { return bytes_.size(); }

int openRegularFile(const char* path, uint64_t& size) {
    // Non-blocking: opening a FIFO would otherwise wait for a writer before
    // fstat could refuse it. Reads of a regular file ignore the flag.
    int fd = ::open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) throw Error(Error::Kind::CannotOpen, std::strerror(errno));
    struct stat st;
    int error = 0;
    if (fstat(fd, &st) != 0) error = errno;
    else if (S_ISDIR(st.st_mode)) error = EISDIR;
    else if (!S_ISREG(st.st_mode)) error = -1;
    if (error) {
        ::close(fd);
        throw Error(Error::Kind::CannotOpen, error > 0 ? std::strerror(error) : "not a regular file");
    }
    size = uint64_t(st.st_size);
    return fd;
}

std::unique_ptr<Dict> createDict(const uint8_t* data, uint64_t size, bool slow, bool verifyChecksum, Backing backing) {
    return std::make_unique<DictImpl>(data, size, slow, verifyChecksum, backing);
}

std::unique_ptr<Dict> Dict::create(const Source& source, bool slow) {
    // Only our own mapping is known to be one: a class derived from FileSource
    // may hand out bytes of its own, whose pages must stay.
    const Backing backing = typeid(source) == typeid(FileSource) ? Backing::FileMapping : Backing::Memory;
    return createDict(source.data(), source.size(), slow, true, backing);
}

} // namespace velkin::libtarvo
