// Every tool on damaged and crafted dictionary files: dict_export in four
// modes, dict_bench on both access paths, dict_header and dict_dump. Files
// are real dictionaries made by dict_build, altered one fault at a time (the
// checksum made to match again, so that the structural checks are what
// refuses them, except where a row keeps it wrong). The library, linked in
// process, says what is wrong with each file; every tool must end with status
// 1 and say the same, never die by a signal, hang or trip a sanitizer.
#include "file_image.h"
#include "image_edits.h"
#include "internal.h"
#include "run.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <filesystem>
#include <functional>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using namespace velkin::libtarvo;
using tarvo_lib_test::Automaton;
using tarvo_lib_test::Image;
using tarvo_lib_test::State;
using namespace tarvo_lib_test;
using tarvo_test::RunResult;
using tarvo_test::TempDir;
using tarvo_test::tool;
namespace field = tarvo_lib_test;

// A run that takes longer has hung: the slowest, under the sanitizers, takes
// well under a second.
constexpr int kTimeoutSeconds = 30;
const std::string kBanner = "libtarvo v0.3.1, self v0.3.1\n";

bool endsWith(const std::string& s, const std::string& suffix) {
    return s.size() >= suffix.size() && s.compare(s.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// ---- Seed dictionaries, made by dict_build ----

// The empty word, a root of more than seven arcs, a chain of single arcs and
// shared endings; numbers of up to five varint bytes, and two words that
// share 4000000000 on one arc.
struct SeedWord {
    const char* word;
    const char* annotation;
    uint32_t number;
};
const SeedWord kSeedWords[] = {
    {"", "E", 0}, {"a", "DT", 1}, {"ab", "X", 5}, {"abc", "N", 300}, {"abd", "V", 70000},
    {"abcdefghij", "LONG", 2}, {"b", "N", 1}, {"ba", "NNS", 3}, {"bab", "N", 300}, {"c", "V", 2},
    {"ca", "N", 7}, {"cab", "NNS", 300}, {"cat", "N", 1}, {"cats", "NNS", 9}, {"d", "N", 2},
    {"dog", "N", 1}, {"dogs", "NNS", 9}, {"e", "V", 2}, {"f", "V", 2}, {"g", "V", 2}, {"h", "V", 2},
    {"xyz", "X Y", 70000}, {"xyzzy", "INTJ", 70001}, {"zz", "Z", 4000000000u}, {"zzz", "ZZ", 4000000001u}};

// Both layouts, both byte orders, with a table and numbers only: each seed
// differs from the others in two of the three.
struct SeedRecipe {
    const char* name;
    Kind kind;
    std::vector<std::string> options;
};
const SeedRecipe kSeedRecipes[] = {
    {"compact, little-endian, annotations", kCompactTable, {"-a"}},
    {"compact, big-endian, numbers only", kCompactNumbers, {"-N", "-E", "big"}},
    {"sparse, little-endian, numbers only", kSparseNumbers, {"-N", "-L", "sparse"}},
    {"sparse, big-endian, annotations", kSparseTable, {"-a", "-L", "sparse", "-E", "big"}},
};

std::vector<uint8_t> bytesOf(const std::string& path) {
    std::string s = tarvo_test::readFile(path);
    return {s.begin(), s.end()};
}

std::vector<uint8_t> buildSeed(const TempDir& dir, const SeedRecipe& recipe) {
    std::string input;
    for (const SeedWord& w : kSeedWords)
        input += std::string(w.word) + "!" + (recipe.kind & kNumbers ? std::to_string(w.number) : w.annotation) + "\n";
    std::string path = dir.file("seed.dict");
    std::vector<std::string> argv = {tool("dict_build"), "-o", path};
    argv.insert(argv.end(), recipe.options.begin(), recipe.options.end());
    RunResult built = tarvo_test::run(argv, input, {}, kTimeoutSeconds);
    if (built.status != 0) throw std::runtime_error("dict_build failed: " + built.err);
    return bytesOf(path);
}

const std::vector<Seed>& seeds() {
    static const std::vector<Seed> all = [] {
        TempDir dir;
        std::vector<Seed> out;
        for (const SeedRecipe& recipe : kSeedRecipes) {
            Image image{buildSeed(dir, recipe)};
            out.push_back({recipe.name, recipe.kind, image, tarvo_lib_test::decode(image)});
        }
        return out;
    }();
    return all;
}

// ---- What the library says about a file ----

struct Verdict {
    bool opens = false;
    bool wordsFail = false;  // opens, but its words cannot all be listed
    std::string reason;      // why it is refused, or why its words fail
    std::string listing;     // the plain word listing of a sound file
};

int32_t collectWord(const uint8_t* word, int32_t length, const AnnotRecord*, void* context) {
    static_cast<std::string*>(context)->append(reinterpret_cast<const char*>(word), size_t(length)).push_back('\n');
    return 1;
}

Verdict libraryVerdict(const std::vector<uint8_t>& bytes) {
    Verdict v;
    std::unique_ptr<Dict> dict;
    try {
        dict = createDict(bytes.data(), bytes.size(), false, true);
    } catch (const Error& e) {
        v.reason = e.what();
        return v;
    }
    v.opens = true;
    try {
        dict->forEachWord(dict->root, collectWord, &v.listing);
    } catch (const Error& e) {
        v.wordsFail = true;
        v.reason = e.what();
    }
    return v;
}

// ---- Running every tool ----

enum class Tool { Export, ExportAnnots, Bench, BenchMapped, Header, Dump };

struct ToolRun {
    const char* label;
    Tool tool;
    std::vector<std::string> options;
};

const ToolRun kToolRuns[] = {
    {"dict_export", Tool::Export, {}},
    {"dict_export -a", Tool::Export, {"-a"}},
    {"dict_export -N", Tool::Export, {"-N"}},
    {"dict_export -t annots", Tool::ExportAnnots, {"-t", "annots"}},
    {"dict_bench", Tool::Bench, {"cat", "3", "N", "N"}},
    {"dict_bench, slow access, mmap", Tool::BenchMapped, {"cat", "3", "Y", "Y"}},
    {"dict_header", Tool::Header, {}},
    {"dict_dump", Tool::Dump, {}},
};

RunResult runTool(const ToolRun& t, const std::string& path) {
    std::vector<std::string> argv;
    switch (t.tool) {
    case Tool::Export:
    case Tool::ExportAnnots: argv = {tool("dict_export"), "-d", path}; break;
    case Tool::Bench:
    case Tool::BenchMapped: argv = {tool("dict_bench"), path}; break;
    case Tool::Header: argv = {tool("dict_header"), path}; break;
    case Tool::Dump: argv = {tool("dict_dump"), path}; break;
    }
    argv.insert(argv.end(), t.options.begin(), t.options.end());
    return tarvo_test::run(argv, "", {}, kTimeoutSeconds);
}

// Whatever the file, a tool ends on its own, by its own exit.
void expectOrderlyEnd(const RunResult& r) {
    EXPECT_FALSE(r.timedOut) << "hung";
    EXPECT_FALSE(r.signaled) << "killed by signal " << r.status - 128;
    EXPECT_EQ(r.err.find("Sanitizer"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("runtime error"), std::string::npos) << r.err;
}

// The file cannot be opened, for `reason`: every tool's own complaint.
void expectRefusal(const ToolRun& t, const RunResult& r, const std::string& path, const std::string& reason) {
    EXPECT_EQ(r.status, 1);
    switch (t.tool) {
    case Tool::Export:
    case Tool::ExportAnnots:
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, "Can`t create libtarvo dict for '" + path + "' file(" + reason + ")");
        break;
    case Tool::Bench:
    case Tool::BenchMapped:
        EXPECT_EQ(r.out, t.tool == Tool::BenchMapped ? "Use mmap\n" : "");
        EXPECT_EQ(r.err, "Can`t open " + path + " file");
        break;
    case Tool::Header:
        EXPECT_EQ(r.out, kBanner);
        EXPECT_EQ(r.err, "Can`t open " + path + " file (" + reason + ")");
        break;
    case Tool::Dump:
        EXPECT_EQ(r.out, kBanner);
        EXPECT_EQ(r.err, "Can`t open " + path + " file");
        break;
    }
}

// The file opens, but some word's number lies outside the table: the tools
// that list words fail there; the annotation listing, the header and the
// lookups do not read those numbers as a list and succeed.
void expectWordsFail(const ToolRun& t, const RunResult& r, const std::string& reason) {
    switch (t.tool) {
    case Tool::Export:
        EXPECT_EQ(r.status, 1);
        EXPECT_TRUE(r.out.empty() || r.out.back() == '\n') << "a line broken off: " << r.out;
        EXPECT_EQ(r.err, reason + "\n");
        break;
    case Tool::Dump:
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, kBanner);
        EXPECT_TRUE(startsWith(r.err, "damaged: annotation number ") && endsWith(r.err, " lies outside the table\n"))
            << r.err;
        break;
    case Tool::Bench:
    case Tool::BenchMapped:
        EXPECT_EQ(r.status, 0);
        EXPECT_NE(r.out.find("; result: "), std::string::npos) << r.out;
        EXPECT_EQ(r.err, "");
        break;
    case Tool::ExportAnnots:
    case Tool::Header:
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.err, "");
        break;
    }
}

void expectSound(const ToolRun& t, const RunResult& r, const std::string& listing) {
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    if (t.tool == Tool::Export && t.options.empty()) {
        EXPECT_EQ(r.out, listing);
    }
}

void runEveryTool(const std::string& path, const Verdict& verdict) {
    for (const ToolRun& t : kToolRuns) {
        SCOPED_TRACE(t.label);
        RunResult r = runTool(t, path);
        expectOrderlyEnd(r);
        if (!verdict.opens) expectRefusal(t, r, path, verdict.reason);
        else if (verdict.wordsFail) expectWordsFail(t, r, verdict.reason);
        else expectSound(t, r, verdict.listing);
        if (::testing::Test::HasFailure() && r.signaled) return;
    }
}

// Writes `bytes` to `path`, asks the library about them, and runs every tool.
Verdict checkFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    tarvo_test::writeFile(path, std::string(bytes.begin(), bytes.end()));
    Verdict verdict = libraryVerdict(bytes);
    runEveryTool(path, verdict);
    return verdict;
}

// ---- Finding what to damage ----

size_t fsaByte(const Image& f, uint32_t offset) { return f.fsaAt() + offset; }

// The offset of arc k's output varint in a compact state that carries outputs.
size_t arcOutputAt(const Image& f, const State& s, size_t k) {
    size_t p = fsaByte(f, s.labelsAt) + s.arcs.size() * (1 + s.width);
    for (size_t i = 0; i < k; ++i) tarvo_lib_test::readVarint(f, p);
    return p;
}

const State& innerSparseState(const Automaton& a) {
    return stateWhere(a, "inner state with arcs", [&](const State& s) { return s.id != a.root && !s.arcs.empty(); });
}

// ---- The table ----

enum class Outcome { Refused, WordsFail };

struct Row {
    const char* name;
    unsigned kinds;      // the seeds it applies to
    Mutation mutate;
    Outcome outcome;
    const char* prefix;  // the library's reason starts with this
    bool keepChecksum = false;
};

const Row kRows[] = {
    // The header.
    {"bad magic", kAll, [](Image& f, const Automaton&) { f.bytes[0] ^= 0x20; }, Outcome::Refused,
     "not a dictionary: bad magic"},
    {"version 2", kAll, [](Image& f, const Automaton&) { f.setField(field::kVersion, 2); }, Outcome::Refused,
     "unsupported version 2"},
    {"a byte after the annotations", kAll, [](Image& f, const Automaton&) { f.bytes.push_back(0); },
     Outcome::Refused, "damaged: file has 1 bytes after the annotation section"},
    {"checksum left wrong", kAll, [](Image& f, const Automaton&) { f.bytes[f.fsaAt()] ^= 0x01; },
     Outcome::Refused, "damaged: checksum mismatch", true},
    {"target past the automaton, checksum left wrong", kCompact,
     [](Image& f, const Automaton& a) { const State& s = multiArcState(a); setTarget(f, s, 0, f.fsaSize()); },
     Outcome::Refused, "damaged: checksum mismatch", true},

    // Compact automaton: the only way back is a target at or inside its own
    // state, which would make a cycle.
    {"target at its own state (a cycle)", kCompact,
     [](Image& f, const Automaton& a) { const State& s = multiArcState(a); setTarget(f, s, 0, s.id); },
     Outcome::Refused, "damaged: transition"},
    {"target inside its own state", kCompact,
     [](Image& f, const Automaton& a) { const State& s = multiArcState(a); setTarget(f, s, 1, s.id + 1); },
     Outcome::Refused, "damaged: transition"},
    {"target past the automaton", kCompact,
     [](Image& f, const Automaton& a) { const State& s = multiArcState(a); setTarget(f, s, 0, f.fsaSize()); },
     Outcome::Refused, "damaged: transition"},
    {"target of the widest field", kCompact,
     [](Image& f, const Automaton& a) {
         const State& s = multiArcState(a);
         f.store(fsaByte(f, s.arcs[0].fieldAt), 0xFFFFFFFFu, s.width);
     },
     Outcome::Refused, "damaged: transition"},
    {"target into the middle of a later state", kCompact,
     [](Image& f, const Automaton& a) {
         const State& s = multiArcState(a);
         for (const State& t : a.states)
             if (t.id >= s.end && t.end - t.id >= 2 && fits(t.id + 1 - s.id, s.width)) return setTarget(f, s, 0, t.id + 1);
         throw NotApplicable("no later state within reach");
     },
     Outcome::Refused, "damaged: a transition points inside state"},
    {"label outside the alphabet", kCompact,
     [](Image& f, const Automaton& a) {
         const State& s = multiArcState(a);
         f.bytes[fsaByte(f, s.labelsAt)] = 0x01;  // below every label of the seeds
     },
     Outcome::Refused, "damaged: state"},
    {"last state's arcs past the automaton", kCompact,
     [](Image& f, const Automaton& a) { f.bytes[fsaByte(f, a.states.back().id)] |= 0x06; },
     Outcome::Refused, "damaged: state"},

    // Sparse table: targets must have smaller bases.
    {"transition to its own base (a cycle)", kSparse,
     [](Image& f, const Automaton& a) {
         const State& s = innerSparseState(a);
         setPayload(f, a, s.arcs[0].fieldAt, s.id & ~1u);
     },
     Outcome::Refused, "damaged: transition at slot"},
    {"transition to a larger base", kSparse,
     [](Image& f, const Automaton& a) {
         const State& s = innerSparseState(a);
         setPayload(f, a, s.arcs[0].fieldAt, (s.id & ~1u) + 2);
     },
     Outcome::Refused, "damaged: transition at slot"},
    {"transition far out of the table", kSparse,
     [](Image& f, const Automaton& a) {
         const State& s = innerSparseState(a);
         setPayload(f, a, s.arcs[0].fieldAt, a.payloadSize >= 4 ? 0xFFFFFFFEu : (1u << (8 * a.payloadSize)) - 2);
     },
     Outcome::Refused, "damaged: transition at slot"},
    {"root past the table", kSparse,
     [](Image& f, const Automaton& a) { f.store(f.fsaAt(), (a.slotCount - f.field(field::kAlphabetSize)) << 1, 4); },
     Outcome::Refused, "damaged: root points past the table"},
    {"slot check outside the alphabet", kSparse,
     [](Image& f, const Automaton& a) {
         const State& s = innerSparseState(a);
         setCheck(f, a, s.arcs[0].fieldAt, f.field(field::kAlphabetSize) + 1);
     },
     Outcome::Refused, "damaged: slot"},

    // Annotation table.
    {"annotation offset past the section", kTable,
     [](Image& f, const Automaton&) { setIndexEntry(f, 1, f.field(field::kAnnotChunkSize) + 1); },
     Outcome::Refused, "damaged: annotation 1 lies outside the annotation section"},
    {"annotation offsets decreasing", kTable,
     [](Image& f, const Automaton&) { setIndexEntry(f, 3, indexEntry(f, 2) - 1); }, Outcome::Refused,
     "damaged: annotation 3 lies outside the annotation section"},
    {"annotation count past the section", kTable,
     [](Image& f, const Automaton&) { f.setField(field::kAnnotChunksCount, f.field(field::kAnnotChunksCount) + 1); },
     Outcome::Refused, "damaged: file truncated"},
    {"annotation data past the section", kTable,
     [](Image& f, const Automaton&) { f.setField(field::kAnnotChunkSize, f.field(field::kAnnotChunkSize) + 1); },
     Outcome::Refused, "damaged: file truncated"},

    // Number list.
    {"number count past the list", kNumbers,
     [](Image& f, const Automaton&) { f.setField(field::kAnnotChunksCount, f.field(field::kAnnotChunksCount) + 1); },
     Outcome::Refused, "damaged: annotation number list breaks"},

    // Sums along paths, checked only where they are computed: the files open.
    {"word number past the table", kTable,
     [](Image& f, const Automaton& a) {
         const State& s = stateWhere(a, "final state", [&](const State& s) { return s.final && s.id != a.root; });
         if (a.sparse) return setPayload(f, a, s.id >> 1, 0x7F);
         if (f.bytes[fsaByte(f, s.finalOutputAt)] >= 0x80) throw NotApplicable("long final output");
         f.bytes[fsaByte(f, s.finalOutputAt)] = 0x7F;
     },
     Outcome::WordsFail, "damaged: annotation number "},
    {"word number past 32 bits", kNumbers,
     [](Image& f, const Automaton& a) {
         // The output of at least 2^28 that zz and zzz share, at its largest;
         // zzz adds 1 past it.
         for (const State& s : a.states)
             for (size_t k = 0; k < s.arcs.size(); ++k) {
                 if (s.arcs[k].output < (1u << 28)) continue;
                 if (a.sparse) {
                     if (a.outputSize != 4) throw NotApplicable("outputs narrower than 4 bytes");
                     f.store(slotAt(f, a, s.arcs[k].fieldAt) + a.checkSize + a.payloadSize, 0xFFFFFFFFu, 4);
                 } else {
                     const uint8_t largest[] = {0xFF, 0xFF, 0xFF, 0xFF, 0x0F};  // five-byte varint
                     std::copy(std::begin(largest), std::end(largest), f.bytes.begin() + long(arcOutputAt(f, s, k)));
                 }
                 return;
             }
         throw NotApplicable("no arc output of 2^28 or more");
     },
     Outcome::WordsFail, "damaged: annotation number "},
};

TEST(DamagedFilesInEveryTool, SeedsAreSound) {
    TempDir dir;
    for (const Seed& seed : seeds()) {
        SCOPED_TRACE(seed.name);
        Verdict v = checkFile(dir.file("seed.dict"), seed.image.bytes);
        EXPECT_TRUE(v.opens && !v.wordsFail) << v.reason;
        EXPECT_EQ(std::count(v.listing.begin(), v.listing.end(), '\n'), long(std::size(kSeedWords)));
    }
}

TEST(DamagedFilesInEveryTool, TableOfFaults) {
    TempDir dir;
    for (const Row& row : kRows) {
        forEachDamagedSeed(row, seeds(), [&](Image& f) {
            if (!row.keepChecksum) f.fixChecksum();
            Verdict v = checkFile(dir.file("damaged.dict"), f.bytes);
            EXPECT_EQ(v.opens, row.outcome == Outcome::WordsFail) << v.reason;
            EXPECT_TRUE(startsWith(v.reason, row.prefix)) << v.reason;
        });
    }
}

// Cut at every section boundary and one byte either side of it.
TEST(DamagedFilesInEveryTool, Truncations) {
    TempDir dir;
    for (const Seed& seed : seeds()) {
        const Image& s = seed.image;
        const size_t size = s.bytes.size();
        const std::set<size_t> lengths = truncationLengths(s, 1);
        for (size_t length : lengths) {
            SCOPED_TRACE(seed.name + " cut to " + std::to_string(length) + " of " + std::to_string(size) + " bytes");
            Image f = s;
            f.bytes.resize(length);
            f.fixChecksum();
            Verdict v = checkFile(dir.file("cut.dict"), f.bytes);
            EXPECT_FALSE(v.opens);
        }
    }
}

// Every header word set to 0, -1, the file size and INT32_MAX. Two fields no
// reader relies on may stay unchecked, isTree and the sparse padding; a file
// changed only there lists as before.
TEST(DamagedFilesInEveryTool, HeaderFields) {
    TempDir dir;
    for (const Seed& seed : seeds()) {
        const uint32_t size = uint32_t(seed.image.bytes.size());
        const std::string listing = libraryVerdict(seed.image.bytes).listing;
        for (unsigned i = 0; i < field::kFieldCount; ++i) {
            if (i == field::kChecksum) continue;
            for (uint32_t value : {0u, 0xFFFFFFFFu, size, uint32_t(INT32_MAX)}) {
                if (value == seed.image.field(i)) continue;
                SCOPED_TRACE(seed.name + ": " + field::kFieldNames[i] + " = " + std::to_string(int32_t(value)));
                Image f = seed.image;
                f.setField(i, value);
                f.fixChecksum();
                Verdict v = checkFile(dir.file("header.dict"), f.bytes);
                bool unchecked = (i == field::kIsTree && value == 0) || (i == field::kPaddingSize && (seed.kind & kSparse));
                if (unchecked && v.opens) {
                    EXPECT_EQ(v.listing, listing);
                } else {
                    EXPECT_FALSE(v.opens) << "accepted";
                }
            }
        }
    }
}

// Files that are no dictionary at all, or hardly one.
TEST(DamagedFilesInEveryTool, NotDictionaries) {
    TempDir dir;
    const Image& seed = seeds()[0].image;
    std::vector<uint8_t> garbage(300);
    for (size_t i = 0; i < garbage.size(); ++i) garbage[i] = uint8_t(i * 151 + 7);
    Image headerOnGarbage{std::vector<uint8_t>(seed.bytes.begin(), seed.bytes.begin() + 80)};
    headerOnGarbage.bytes.insert(headerOnGarbage.bytes.end(), garbage.begin(), garbage.end());
    headerOnGarbage.fixChecksum();
    Image headerAlone{std::vector<uint8_t>(seed.bytes.begin(), seed.bytes.begin() + 80)};
    headerAlone.fixChecksum();
    const std::string text = "cat!N\ndog!N\nthis is a word list, not a dictionary, long enough to pass a header\n";
    const struct {
        const char* name;
        std::vector<uint8_t> bytes;
        const char* prefix;
    } cases[] = {
        {"empty file", {}, "not a dictionary: file too short"},
        {"three bytes of the magic", {'T', 'R', 'V'}, "not a dictionary: file too short"},
        {"text file", std::vector<uint8_t>(text.begin(), text.end()), "not a dictionary: bad magic"},
        {"file of zeros", std::vector<uint8_t>(4096, 0), "not a dictionary: bad magic"},
        {"valid header on garbage", headerOnGarbage.bytes, "damaged: "},
        {"valid header alone", headerAlone.bytes, "damaged: "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Verdict v = checkFile(dir.file("not.dict"), c.bytes);
        EXPECT_FALSE(v.opens);
        EXPECT_TRUE(startsWith(v.reason, c.prefix)) << v.reason;
    }
}

// A large file that is no dictionary is refused from its header, before
// memory is taken for all of it and it is read: under a limit of 1 GiB of
// address space, a file of almost 2 GiB is refused as no dictionary, not for
// want of memory.
TEST(DamagedFilesInEveryTool, LargeFileRefusedFromItsHeader) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "AddressSanitizer reserves more address space than the limit";
#endif
    rlimit space;
    if (getrlimit(RLIMIT_AS, &space) == 0 && space.rlim_max != RLIM_INFINITY && space.rlim_max < (rlim_t(1) << 30))
        GTEST_SKIP() << "the address space is already held below the limit";
    TempDir dir;
    const std::string path = dir.file("large.dict");
    tarvo_test::writeFile(path, "cat!N\ndog!N\n");
    ASSERT_EQ(::truncate(path.c_str(), INT32_MAX), 0) << std::strerror(errno);
    // dict_header opens the file with tarvo_open and names the reason.
    RunResult r =
        tarvo_test::run({"/bin/sh", "-c", "ulimit -v 1048576 && exec \"$0\" \"$1\"", tool("dict_header"), path});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Can`t open " + path + " file (not a dictionary: bad magic)");
}

// Paths that name no readable file: every tool refuses with the system's reason.
TEST(DamagedFilesInEveryTool, UnreadablePaths) {
    TempDir dir;
    std::string fifo = dir.file("fifo.dict");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0) << std::strerror(errno);
    std::string locked = dir.file("locked.dict");
    tarvo_test::writeFile(locked, std::string(seeds()[0].image.bytes.begin(), seeds()[0].image.bytes.end()));
    chmod(locked.c_str(), 0);
    struct Case {
        std::string path;
        std::string reason;
    };
    std::vector<Case> cases = {
        {dir.path(), std::strerror(EISDIR)},
        {dir.file("missing.dict"), std::strerror(ENOENT)},
        {dir.file("missing/inside.dict"), std::strerror(ENOENT)},
        {fifo, "not a regular file"},  // opening must not wait for a writer
        {"/dev/zero", "not a regular file"},
    };
    if (geteuid() != 0) cases.push_back({locked, std::strerror(EACCES)});  // the superuser reads it anyway
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        Verdict refused;
        refused.reason = c.reason;
        runEveryTool(c.path, refused);
    }
}

// Crafted files kept as they are, such as the fuzzer's finds.
TEST(DamagedFilesInEveryTool, CommittedFiles) {
    namespace fs = std::filesystem;
    if (!fs::is_directory(DAMAGED_FILES_DIR)) GTEST_SKIP() << "no committed files";
    for (const fs::directory_entry& entry : fs::directory_iterator(DAMAGED_FILES_DIR)) {
        if (!entry.is_regular_file()) continue;
        SCOPED_TRACE(entry.path().string());
        std::string path = entry.path().string();
        runEveryTool(path, libraryVerdict(bytesOf(path)));
    }
}

} // namespace
