// A stand-in for libtarvo's object interface, linked into a second build of
// the dict_export driver (dict_export_fake) so that tests can make the
// library misbehave in ways a sound dictionary file never does.
//
// The dictionary path names the behaviour:
//   "words"          three words, each annotated "N"/7, "XY"/8, "Z"/9
//   "negative-word"  two words, then a word of length -1
//   "negative-annot" two entries, then an annotation of length -5 (both
//                    enumerations)
//   "library-error"  two entries, then an Error raised by the library
//   "slow"           one word after sleeping 1.2 s
//   "fail:TEXT"      open raises an Error whose what() is TEXT
#include "binding/tarvo.h"

#include <chrono>
#include <string>
#include <thread>

namespace velkin::libtarvo {

namespace {

// The behaviour chosen by the last open; the driver opens one source.
std::string behaviour;

constexpr uint32_t kRoot = 77;

class FakeDict : public Dict {
public:
    const HeaderRecord& header() const override { return header_; }
    int64_t lookup(const uint8_t*, int32_t) const override { return -1; }

    int32_t forEachWord(uint32_t state, WordCallback callback, void* context) const override {
        if (state != kRoot) throw Error(Error::Kind::BadInput, "not the root state");
        if (behaviour == "slow") std::this_thread::sleep_for(std::chrono::milliseconds(1200));
        for (int i = 0; i < count(); ++i) {
            AnnotRecord annot = annotation(i);
            const std::string& word = kWords[i];
            int32_t length = behaviour == "negative-word" && i == 2 ? -1 : int32_t(word.size());
            if (behaviour == "library-error" && i == 2)
                throw Error(Error::Kind::Damaged, "damaged transition at offset 123");
            callback(bytes(word), length, &annot, context);
        }
        return 1;
    }

    // One span for each word, so that the driver lists them on its threads.
    std::vector<WordSpan> splitWords() const override {
        std::vector<WordSpan> spans;
        for (int i = 0; i < count(); ++i) spans.push_back({kWords[i], true, 1, 0});
        return spans;
    }

    int32_t forEachWordIn(const WordSpan& span, WordCallback callback, void* context, std::string*) const override {
        for (int i = 0; i < count(); ++i) {
            if (span.prefix != kWords[i]) continue;
            AnnotRecord annot = annotation(i);
            int32_t length = behaviour == "negative-word" && i == 2 ? -1 : int32_t(span.prefix.size());
            if (behaviour == "library-error" && i == 2)
                throw Error(Error::Kind::Damaged, "damaged transition at offset 123");
            return callback(bytes(kWords[i]), length, &annot, context) == 0 ? 0 : 1;
        }
        return 1;
    }

    int32_t forEachAnnot(AnnotCallback callback, void* context) const override {
        for (int i = 0; i < count(); ++i) {
            if (behaviour == "library-error" && i == 2)
                throw Error(Error::Kind::Damaged, "damaged transition at offset 123");
            AnnotRecord annot = annotation(i);
            callback(&annot, context);
        }
        return 1;
    }

private:
    static const uint8_t* bytes(const std::string& s) {
        return reinterpret_cast<const uint8_t*>(s.data());
    }
    static int count() { return behaviour == "slow" ? 1 : 3; }
    static AnnotRecord annotation(int i) {
        const std::string& bytesOfAnnot = kAnnots[i];
        int32_t length = behaviour == "negative-annot" && i == 2 ? -5 : int32_t(bytesOfAnnot.size());
        return {bytes(bytesOfAnnot), length, uint32_t(7 + i)};
    }

    inline static const std::string kWords[3] = {"alpha", "beta", "gamma"};
    inline static const std::string kAnnots[3] = {"N", "XY", "Z"};
    HeaderRecord header_{};
};

} // namespace

std::vector<WordSpan> spansAfter(const WordSpan&, const std::string&) { return {}; }  // each span is one word

Error::Error(Kind kind, const std::string& what) : std::runtime_error(what), kind_(kind) {}

std::string LibTarvoInfo::getVersion() { return "0.3.1"; }

Source::~Source() = default;
FileSource::FileSource() = default;
FileSource::~FileSource() = default;

void FileSource::open(const char* path) {
    behaviour = path;
    if (behaviour.rfind("fail:", 0) == 0) throw Error(Error::Kind::CannotOpen, behaviour.substr(5));
}

const uint8_t* FileSource::data() const { return data_; }
uint64_t FileSource::size() const { return size_; }

Dict::~Dict() = default;

std::unique_ptr<Dict> Dict::create(const Source&, bool) {
    std::unique_ptr<Dict> dict = std::make_unique<FakeDict>();
    dict->root = kRoot;
    return dict;
}

} // namespace velkin::libtarvo
