#include "compiler.h"

#include <algorithm>

namespace lt = velkin::libtarvo;

namespace dictbuild {

std::string displayName(const std::string& path) { return path.empty() ? "standard input" : path; }

namespace {

[[noreturn]] void inputError(const std::string& file, uint64_t line, const std::string& message) {
    throw InputError{displayName(file), line, message};
}

void splitLine(std::string_view line, char separator, std::string_view& first, std::string_view& rest,
               bool& hasRest) {
    size_t at = line.find(separator);
    hasRest = at != std::string_view::npos;
    first = line.substr(0, at);
    rest = hasRest ? line.substr(at + 1) : std::string_view();
}

void decodeOrFail(std::string_view text, bool encoded, Encoding encoding, std::string& out, const char* what,
                  const std::string& file, uint64_t line) {
    if (!encoded) {
        out.assign(text);
        return;
    }
    if (!decodeField(text, encoding, out))
        inputError(file, line, std::string("bad ") + (encoding == Encoding::Hex ? "hexadecimal" : "base64") +
                                   " encoding of the " + what);
}

// A merge reads the in-order words back through this callback.
struct MergeContext {
    Compiler* compiler;
    lt::DictBuilder* out;
    RunMerge* merge;
};

} // namespace

uint32_t Annotations::numberFor(const std::string& annotation, const std::string& file, uint64_t line) {
    auto found = numberOf.find(annotation);
    if (found != numberOf.end()) return found->second;
    if (pinned) inputError(file, line, "annotation not in the table");
    if (bytes.size() == 0xFFFFFFFFu) inputError(file, line, "too many annotations");
    uint32_t number = uint32_t(bytes.size());
    bytes.push_back(annotation);
    numberOf.emplace(annotation, number);
    return number;
}

Annotations readTable(const Settings& s) {
    struct Entry {
        uint32_t number;
        uint64_t line;
        std::string bytes;
    };
    std::vector<Entry> entries;
    LineReader reader(s.table);
    std::string_view line, numberText, rest;
    bool hasRest;
    std::string decoded;
    while (reader.next(line)) {
        splitLine(line, s.separator, numberText, rest, hasRest);
        uint32_t number;
        if (!hasRest) inputError(s.table, reader.lineNumber(), "no separator after the annotation number");
        if (!parseNumber(numberText, number)) inputError(s.table, reader.lineNumber(), "bad annotation number");
        decodeOrFail(rest, s.encodedAnnots, s.encoding, decoded, "annotation", s.table, reader.lineNumber());
        entries.push_back({number, reader.lineNumber(), decoded});
    }
    // The numbers must run from 0 to one less than the number of lines.
    std::stable_sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) { return a.number < b.number; });
    Annotations table;
    table.pinned = true;
    for (size_t i = 0; i < entries.size(); ++i) {
        if (i > 0 && entries[i].number == entries[i - 1].number)
            inputError(s.table, entries[i].line, "annotation number listed twice");
        if (entries[i].number != i)
            inputError(s.table, entries[i].line,
                       "annotation " + std::to_string(i) + " is missing (numbers must run from 0 to " +
                           std::to_string(entries.size() - 1) + ")");
        table.numberOf.emplace(entries[i].bytes, entries[i].number);
        table.bytes.push_back(std::move(entries[i].bytes));
    }
    return table;
}

Compiler::Compiler(const Settings& s, Annotations& annotations)
    : s_(s), annotations_(annotations), builder_(s.build), pending_(s.memoryLimit, tempDirectory(s.tempDir)) {}

void Compiler::addLine(std::string_view line, uint64_t number) {
    std::string_view wordText, field;
    bool hasField;
    splitLine(line, s_.separator, wordText, field, hasField);
    std::string_view word = wordText;  // raw words are used where they lie
    if (s_.encodedWords) {
        decodeOrFail(wordText, true, s_.encoding, word_, "word", s_.input, number);
        word = word_;
    }
    uint32_t annot;
    if (s_.numbers) {
        if (!hasField) inputError(s_.input, number, "no annotation number");
        if (!parseNumber(field, annot)) inputError(s_.input, number, "bad annotation number");
        if (annotations_.pinned && annot >= annotations_.bytes.size())
            inputError(s_.input, number, "annotation number " + std::to_string(annot) + " is not in the table");
    } else {
        // Neighbouring lines often carry the same annotation: its field
        // is compared before anything is decoded or looked up.
        if (haveLastField_ && field == lastField_) {
            annot = lastFieldNumber_;
        } else {
            decodeOrFail(field, s_.encodedAnnots, s_.encoding, annotBytes_, "annotation", s_.input, number);
            annot = annotations_.numberFor(annotBytes_, s_.input, number);
            lastField_.assign(field);
            lastFieldNumber_ = annot;
            haveLastField_ = true;
        }
    }
    if (word.size() > 0x7FFFFFFFu) inputError(s_.input, number, "word too long");
    add(word, annot, number);
}

// Once one word has waited, every later one waits too: the merge then meets
// twins in input order and reports the later line.
void Compiler::add(std::string_view word, uint32_t annot, uint64_t line) {
    if (pending_.empty() && (builder_.wordCount() == 0 || builder_.lastWord() < word)) {
        builder_.add(word, annot);
        lastAnnot_ = annot;
        return;
    }
    if (pending_.empty() && builder_.lastWord() == word) {
        if (annot != lastAnnot_) inputError(s_.input, line, "duplicate word with another annotation");
        return;
    }
    pending_.add(word, annot, line);
}

lt::BuildStats Compiler::finish() {
    return complete().finish(s_.output, annotations_.bytes, numbersOnly());
}

std::vector<uint8_t> Compiler::finishToMemory() {
    return complete().finishToMemory(annotations_.bytes, numbersOnly());
}

void Compiler::put(lt::DictBuilder& out, std::string_view word, uint32_t annot, uint64_t line) {
    if (mergedAny_ && mergedLast_ == word) {
        if (annot != mergedLastAnnot_) inputError(s_.input, line, "duplicate word with another annotation");
        return;
    }
    out.add(word, annot);
    mergedLast_.assign(word);
    mergedLastAnnot_ = annot;
    mergedAny_ = true;
}

// Adds the waiting words before `word` (all of them with `all`).
void Compiler::putPendingBefore(lt::DictBuilder& out, RunMerge& merge, std::string_view word, bool all) {
    for (const HeldWord* h; (h = merge.top()) && (all || h->word < word); merge.pop()) put(out, h->word, h->annot, h->line);
}

int32_t Compiler::onInOrderWord(const uint8_t* w, int32_t length, const lt::AnnotRecord* annot, void* context) {
    MergeContext& m = *static_cast<MergeContext*>(context);
    std::string_view word(reinterpret_cast<const char*>(w), size_t(length));
    m.compiler->putPendingBefore(*m.out, *m.merge, word, false);
    // An in-order word came before any waiting twin in the input.
    m.compiler->put(*m.out, word, annot->number, 0);
    for (const HeldWord* h; (h = m.merge->top()) && h->word == word; m.merge->pop())
        m.compiler->put(*m.out, h->word, h->annot, h->line);
    return 1;
}

// The builder holding every word. With words waiting, the in-order ones are
// compiled already: they are listed back from that dictionary and merged with
// the sorted rest into a new one.
lt::DictBuilder& Compiler::complete() {
    if (pending_.empty()) return builder_;
    RunMerge merge = pending_.merge();
    std::vector<uint8_t> partial = builder_.finishToMemory(annotations_.bytes, numbersOnly());
    lt::MemorySource source(std::move(partial));
    std::unique_ptr<lt::Dict> dict = lt::Dict::create(source, false);
    merged_ = std::make_unique<lt::DictBuilder>(s_.build);
    MergeContext m{this, merged_.get(), &merge};
    dict->forEachWord(dict->root, &Compiler::onInOrderWord, &m);
    putPendingBefore(*merged_, merge, std::string_view(), true);
    return *merged_;
}

} // namespace dictbuild
