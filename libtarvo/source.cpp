// Sources of dictionary bytes, the error type, and Dict::create.
#include "internal.h"
#include "reader.h"
#include "tarvo_builder.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace velkin::libtarvo {

Error::Error(Kind kind, const std::string& what) : std::runtime_error(what), kind_(kind) {}

std::string LibTarvoInfo::getVersion() { return "0.3.1"; }

Source::~Source() = default;
Dict::~Dict() = default;

FileSource::FileSource() = default;

FileSource::~FileSource() {
    if (mapping_) munmap(mapping_, mappingSize_);
}

void FileSource::open(const char* path) {
    if (mapping_) munmap(mapping_, mappingSize_);
    mapping_ = nullptr;
    mappingSize_ = 0;
    data_ = nullptr;
    size_ = 0;
    int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) throw Error(Error::Kind::CannotOpen, std::strerror(errno));
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        int e = S_ISDIR(st.st_mode) ? EISDIR : errno;
        ::close(fd);
        throw Error(Error::Kind::CannotOpen, e ? std::strerror(e) : "not a regular file");
    }
    if (st.st_size > 0) {
        void* m = mmap(nullptr, size_t(st.st_size), PROT_READ, MAP_PRIVATE, fd, 0);
        if (m == MAP_FAILED) {
            int e = errno;
            ::close(fd);
            throw Error(Error::Kind::CannotOpen, std::strerror(e));
        }
        mapping_ = m;
        mappingSize_ = uint64_t(st.st_size);
        data_ = static_cast<const uint8_t*>(m);
        size_ = mappingSize_;
    }
    ::close(fd);
}

const uint8_t* FileSource::data() const { return data_; }
uint64_t FileSource::size() const { return size_; }

MemorySource::MemorySource(std::vector<uint8_t> bytes) : bytes_(std::move(bytes)) {}
const uint8_t* MemorySource::data() const { return bytes_.data(); }
uint64_t MemorySource::size() const { return bytes_.size(); }

std::unique_ptr<Dict> createDict(const uint8_t* data, uint64_t size, bool slow, bool verifyChecksum) {
    return std::make_unique<DictImpl>(data, size, slow, verifyChecksum);
}

std::unique_ptr<Dict> Dict::create(const Source& source, bool slow) {
    return createDict(source.data(), source.size(), slow, true);
}

} // namespace velkin::libtarvo
