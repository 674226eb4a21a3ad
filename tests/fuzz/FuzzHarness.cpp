// The body of the archive fuzz target. The expectations are worked out from the input bytes by a
// small model of the format written here from scratch, so the library is never checked against
// itself: every name and size text it shows must be the bytes of the input, every file it writes
// must hold exactly what its record and data allow, and nothing may change outside the folder
// it was told to write into.
#include "FuzzHarness.h"

#include "DatArchive.h"
#include "Destination.h"
#include "Extraction.h"
#include "InflateOracle.h"
#include "MemoryMeter.h"
#include "ParallelExtraction.h"
#include "Recorders.h"
#include "ResourceUse.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <map>
#include <new>
#include <optional>
#include <set>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>
#include <zlib.h>

namespace fs = std::filesystem;

namespace {
constexpr char kErrorCaption[] = "Error!";
constexpr std::uint32_t kMagic = 0x54414456;
constexpr std::size_t kRecord = 144;
constexpr std::size_t kNameField = 128;

// One archive may ask for far more output than its size (many records sharing one small stream
// that inflates 1000-fold); entries past this much output are left out so that every input
// finishes quickly. The budget still admits the largest single entry a 64 KiB input can hold.
constexpr std::uint64_t kOutputBudget = 72u << 20;

// Records the table allocator hands out start as this pattern, so a record shown or used
// without having been read from the file stands out.
constexpr unsigned char kPoison = 0xA5;

// The parallel extraction vdat uses runs too, into a second destination, and must leave exactly
// what the sequential one leaves.
constexpr unsigned kWorkers = 3;

// The sequential writer inflates entries larger than this in pieces.
constexpr std::size_t kWholeLimitForPieces = 300;

// Symlinks placed in every fresh destination, pointing outside it.
const char* const kLinks[][2] = {
    {"lnk", "../../keep"},
    {"file-lnk", "../../sentinel.txt"},
    {"abs-lnk", nullptr}, // points at the sandbox's keep folder by its absolute path
};

std::string Printable(std::string_view bytes) {
    std::string out;
    for (unsigned char c : bytes) {
        if (c >= 0x20 && c < 0x7F && c != '\\') {
            out.push_back(char(c));
        } else {
            char hex[5];
            std::snprintf(hex, sizeof hex, "\\x%02x", c);
            out += hex;
        }
    }
    return out;
}

[[noreturn]] void Fail(const std::string& what) {
    std::fprintf(stderr, "archive fuzz: %s\n", what.c_str());
    std::fflush(stderr);
    std::abort();
}

#define EXPECT_OR_FAIL(condition, message)                                                         \
    do {                                                                                           \
        if (!(condition))                                                                          \
            Fail(message);                                                                         \
    } while (0)

std::uint32_t LE32(const std::uint8_t* p) {
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
           std::uint32_t(p[3]) << 24;
}

// ---- the workspace, made once per process --------------------------------------------------

struct Workspace {
    std::string base;    // everything below is ours and goes at exit
    std::string input;   // the archive file
    std::string sandbox; // must look the same after every input, the destinations aside
    std::string dest;    // made afresh for every input
    std::string parallelDest;
    std::string absTarget;
    std::map<std::string, std::string> baseline;
};

std::string ReadWhole(const std::string& path) {
    std::string out;
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        Fail("cannot read " + path);
    char buffer[65536];
    for (;;) {
        ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n <= 0)
            break;
        out.append(buffer, std::size_t(n));
    }
    ::close(fd);
    return out;
}

void WriteWhole(const std::string& path, const void* data, std::size_t size) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    EXPECT_OR_FAIL(fd >= 0, "cannot create " + path);
    const auto* p = static_cast<const char*>(data);
    while (size > 0) {
        ssize_t n = ::write(fd, p, size);
        EXPECT_OR_FAIL(n > 0, "cannot write " + path);
        p += n;
        size -= std::size_t(n);
    }
    ::close(fd);
}

// What a path is, without following a symlink: a folder, a file with its bytes, a link with
// its target.
std::string Describe(const std::string& path) {
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0)
        return "missing";
    if (S_ISDIR(st.st_mode))
        return "folder";
    if (S_ISREG(st.st_mode))
        return "file " + ReadWhole(path);
    if (S_ISLNK(st.st_mode)) {
        char target[4096];
        ssize_t n = ::readlink(path.c_str(), target, sizeof target);
        return "link " + std::string(target, n > 0 ? std::size_t(n) : 0);
    }
    return "other";
}

// Everything below root, relative path -> description, leaving out `skip` and what they hold.
std::map<std::string, std::string> Snapshot(const std::string& root,
                                            const std::set<std::string>& skip = {}) {
    std::map<std::string, std::string> out;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(root, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        const std::string path = it->path().string();
        if (skip.contains(path)) {
            it.disable_recursion_pending();
            continue;
        }
        out[path.substr(root.size() + 1)] = Describe(path);
    }
    EXPECT_OR_FAIL(!ec, "cannot walk " + root + ": " + ec.message());
    return out;
}

void RemoveBase();

Workspace MakeWorkspace() {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/vdat-fuzz-XXXXXX";
    if (!::mkdtemp(pattern.data()))
        Fail("cannot make a scratch folder in " + pattern);
    Workspace w;
    w.base = pattern;
    w.input = w.base + "/input.dat";
    w.sandbox = w.base + "/sandbox";
    w.dest = w.sandbox + "/up/dest";
    w.parallelDest = w.sandbox + "/up/parallel";
    w.absTarget = w.sandbox + "/keep";
    for (const char* folder : {"", "/keep", "/up"})
        EXPECT_OR_FAIL(::mkdir((w.sandbox + folder).c_str(), 0755) == 0, "cannot make sandbox");
    const char sentinel[] = "sentinel: must never change\n";
    WriteWhole(w.sandbox + "/sentinel.txt", sentinel, sizeof sentinel - 1);
    WriteWhole(w.sandbox + "/keep/inner.txt", "kept\n", 5);
    WriteWhole(w.sandbox + "/up/beside.txt", "beside the destination\n", 23);
    w.baseline = Snapshot(w.sandbox, {w.dest, w.parallelDest});
    return w;
}

// Never destroyed, so that it is still there when the exit handler removes its folder.
Workspace& TheWorkspace() {
    static Workspace* w = [] {
        auto* made = new Workspace(MakeWorkspace());
        std::atexit(RemoveBase);
        return made;
    }();
    return *w;
}

void RemoveBase() {
    std::error_code ec;
    fs::remove_all(TheWorkspace().base, ec);
}

void MakeDestination(const Workspace& w, const std::string& dest) {
    std::error_code ec;
    fs::remove_all(dest, ec);
    EXPECT_OR_FAIL(::mkdir(dest.c_str(), 0755) == 0, "cannot make " + dest);
    for (const auto& link : kLinks) {
        const std::string target = link[1] ? link[1] : w.absTarget;
        EXPECT_OR_FAIL(::symlink(target.c_str(), (dest + "/" + link[0]).c_str()) == 0,
                       "cannot make a symlink in " + dest);
    }
}

// ---- the model -----------------------------------------------------------------------------

struct ModelEntry {
    std::string name;
    std::uint32_t offset = 0;
    std::uint32_t real = 0;
    std::uint32_t packed = 0;
    std::optional<std::string> path; // below the destination; none when the name is refused
    bool underLink = false;          // the path starts at one of the planted symlinks
    bool extracted = false;          // inside the output budget
    EntryOutcome data = EntryOutcome::Written; // what its data allows: Written or Damaged
    std::string content;                       // the file it must leave when written
};

struct Model {
    std::uint32_t identifier = 0;
    bool isArchive = false;
    std::uint32_t directoryOffset = 0;
    std::uint32_t directorySize = 0;
    std::uint32_t claimed = 0;
    std::vector<ModelEntry> entries;
};

bool IsDriveLetter(std::string_view part) {
    return part.size() >= 2 && part[1] == ':' &&
           ((part[0] >= 'A' && part[0] <= 'Z') || (part[0] >= 'a' && part[0] <= 'z'));
}

// Backslash separates folders; an empty, "." or ".." part, or a drive at the front, is refused;
// a forward slash stays inside its part as '_'.
std::optional<std::string> PathOf(std::string_view name) {
    std::string path;
    std::size_t start = 0;
    for (bool first = true;; first = false) {
        std::size_t end = name.find('\\', start);
        if (end == std::string_view::npos)
            end = name.size();
        std::string_view part = name.substr(start, end - start);
        // ".", ".." and every other part that begins with '.' (hidden names) are refused.
        if (part.empty() || part[0] == '.' || (first && IsDriveLetter(part)))
            return std::nullopt;
        for (char c : part)
            path.push_back(c == '/' ? '_' : c);
        if (end == name.size())
            return path;
        path.push_back('/');
        start = end + 1;
    }
}

Model ModelOf(const std::uint8_t* data, std::size_t size) {
    Model m;
    std::uint8_t head[4] = {};
    if (size > 0)
        std::memcpy(head, data, std::min<std::size_t>(size, 4));
    m.identifier = LE32(head);
    m.isArchive = size >= 12 && m.identifier == kMagic;
    if (!m.isArchive)
        return m;
    m.directoryOffset = LE32(data + 4);
    m.directorySize = LE32(data + 8);
    m.claimed = m.directorySize / kRecord;
    const std::uint64_t after = size > m.directoryOffset ? size - m.directoryOffset : 0;
    const std::uint64_t count = std::min<std::uint64_t>(m.claimed, after / kRecord);
    for (std::uint64_t i = 0; i < count; ++i) {
        const std::uint8_t* r = data + m.directoryOffset + i * kRecord;
        ModelEntry e;
        const void* nul = std::memchr(r, 0, kNameField);
        e.name.assign(reinterpret_cast<const char*>(r),
                      nul ? static_cast<const std::uint8_t*>(nul) - r : kNameField);
        e.offset = LE32(r + 128);
        e.real = LE32(r + 132);
        e.packed = LE32(r + 136);
        e.path = PathOf(e.name);
        if (e.path) {
            const std::string first = e.path->substr(0, e.path->find('/'));
            for (const auto& link : kLinks)
                e.underLink = e.underLink || first == link[0];
        }
        m.entries.push_back(std::move(e));
    }
    return m;
}

std::uint64_t Available(std::size_t size, std::uint32_t offset) {
    return size > offset ? size - offset : 0;
}

bool InflatableSize(const ModelEntry& e) {
    return std::uint64_t(e.real) <= 1032 * std::uint64_t(e.packed) + 64;
}

// How much output an entry asks for, before its data is looked at.
std::uint64_t OutputCost(const ModelEntry& e, std::size_t size) {
    const std::uint64_t available = Available(size, e.offset);
    if (e.packed == 0)
        return std::min<std::uint64_t>(e.real, available);
    if (e.packed > available || !InflatableSize(e))
        return 0;
    return std::uint64_t(e.real) + e.packed;
}

void WorkOutData(ModelEntry& e, const std::uint8_t* data, std::size_t size) {
    const std::uint64_t available = Available(size, e.offset);
    if (e.packed == 0) {
        const std::uint64_t n = std::min<std::uint64_t>(e.real, available);
        e.content.assign(reinterpret_cast<const char*>(data) + (n ? e.offset : 0), n);
        e.data = n < e.real ? EntryOutcome::Damaged : EntryOutcome::Written;
        return;
    }
    e.data = EntryOutcome::Damaged;
    if (e.packed > available || !InflatableSize(e))
        return;
    std::string out(e.real, '\0');
    unsigned char spare = 0;
    uLongf length = e.real;
    Bytef* target = e.real ? reinterpret_cast<Bytef*>(out.data()) : &spare;
    // Both of the library's inflaters must agree with uncompress on every stream, byte for byte;
    // the piece sizes vary with the input.
    static WholeInflater whole;
    static PieceInflater pieces;
    const std::string difference = DifferenceFromUncompress(
        whole, pieces, std::string_view(reinterpret_cast<const char*>(data) + e.offset, e.packed),
        e.real, 1 + e.offset % 97, 1 + e.real % 61);
    EXPECT_OR_FAIL(difference.empty(), "inflating differs from uncompress: " + difference);
    if (::uncompress(target, &length, data + e.offset, e.packed) != Z_OK)
        return;
    // Fewer bytes than the record claims: the rest of the file is zeros, and it counts as damage.
    e.data = length < e.real ? EntryOutcome::Damaged : EntryOutcome::Written;
    e.content = std::move(out);
}

std::unique_ptr<EntryRecord[]> PoisonedTable(std::size_t count) {
    std::unique_ptr<EntryRecord[]> table(new (std::nothrow) EntryRecord[count]);
    if (table && count)
        std::memset(static_cast<void*>(table.get()), kPoison, count * sizeof(EntryRecord));
    return table;
}

// ---- what the library did ------------------------------------------------------------------

struct Observed {
    bool opened = false;
    std::uint32_t identifier = 0, directoryOffset = 0, directorySize = 0, entryCount = 0;
    bool cutShort = false;
    std::vector<RecordedMessage> openMessages;
    std::vector<RecordedMessage> extractMessages;
    std::vector<ListRecorder::Row> rows;
    std::uint32_t range = 0;
    std::vector<std::uint32_t> positions;
    std::vector<EntryOutcome> outcomes;     // per entry, for extracted ones
    std::vector<EntryOutcome> testOutcomes; // TestEntry, per extracted entry
    std::vector<std::size_t> messagesShown; // by WriteEntry, per entry
    std::size_t peak = 0;
    bool ranParallel = false;
    ExtractSummary parallelSummary;
    std::vector<EntryOutcome> parallelOutcomes; // per extracted entry, in directory order
    std::vector<RecordedMessage> parallelMessages;
    std::size_t parallelPeak = 0;
};

void Run(const Workspace& w, const Model& model, Observed& seen) {
    memory_meter::Reset();
    MessageRecorder messages;
    ListRecorder list;
    ProgressRecorder progress;
    const std::size_t count = model.entries.size();
    seen.outcomes.assign(count, EntryOutcome::Written);
    seen.testOutcomes.assign(count, EntryOutcome::Written);
    seen.messagesShown.assign(count, 0);
    {
        DatArchive archive(messages, list, progress);
        archive.SetTableAllocator(PoisonedTable);
        seen.opened = archive.Open(w.input);
        seen.openMessages = messages.messages;
        messages.messages.clear();
        if (seen.opened)
            archive.LoadDirectory();
        seen.identifier = archive.Identifier();
        seen.directoryOffset = archive.DirectoryOffset();
        seen.directorySize = archive.DirectorySize();
        seen.entryCount = archive.EntryCount();
        seen.cutShort = archive.IsDirectoryCutShort();
        EXPECT_OR_FAIL(archive.Entries().size() == (seen.opened ? seen.entryCount : 0),
                       "the entry table and the entry count disagree");
        if (seen.opened && seen.entryCount == count) {
            {
                Destination destination;
                EXPECT_OR_FAIL(destination.Open(w.dest), "cannot open the destination");
                // Entries past a few hundred bytes go through the inflating in pieces here;
                // the parallel run below inflates them whole, and must leave the same files.
                EntryWriter writer;
                writer.SetWholeEntryLimit(kWholeLimitForPieces);
                for (std::uint32_t i = 0; i < count; ++i) {
                    if (!model.entries[i].extracted)
                        continue;
                    const std::size_t before = messages.messages.size();
                    seen.outcomes[i] = writer.WriteEntry(archive, i, destination, messages).outcome;
                    seen.messagesShown[i] = messages.messages.size() - before;
                }
            }
            // A second writer, as "vdat test" has, once the first has given its buffers back.
            EntryWriter tester;
            for (std::uint32_t i = 0; i < count; ++i)
                if (model.entries[i].extracted)
                    seen.testOutcomes[i] = tester.TestEntry(archive, i, messages).outcome;
            // Rows outside the table do nothing at all.
            Extractor extractor(archive, messages, progress);
            extractor.SetDestination(w.dest);
            extractor.ExtractEntry(-1);
            extractor.ExtractEntry(int(count));
        }
        seen.peak = memory_meter::PeakSinceReset();

        if (seen.opened && seen.entryCount == count) {
            std::vector<std::uint32_t> selected;
            for (std::uint32_t i = 0; i < count; ++i)
                if (model.entries[i].extracted)
                    selected.push_back(i);
            seen.parallelOutcomes.reserve(selected.size());
            MessageRecorder held;
            memory_meter::Reset();
            Destination destination;
            EXPECT_OR_FAIL(destination.Open(w.parallelDest), "cannot open the destination");
            seen.parallelSummary = RunExtraction(
                archive, {.entries = selected, .destination = &destination, .workers = kWorkers},
                held, [&](std::size_t position, std::uint32_t index, const EntryResult& result) {
                    EXPECT_OR_FAIL(position == seen.parallelOutcomes.size() &&
                                       index == selected[position],
                                   "parallel extraction reported out of order");
                    seen.parallelOutcomes.push_back(result.outcome);
                });
            seen.parallelPeak = memory_meter::PeakSinceReset();
            // vdat test: the same pool, reading only; each entry as TestEntry found it.
            MessageRecorder testMessages;
            RunExtraction(archive, {.entries = selected, .workers = kWorkers}, testMessages,
                          [&](std::size_t position, std::uint32_t index, const EntryResult& r) {
                              EXPECT_OR_FAIL(position < selected.size() &&
                                                 index == selected[position] &&
                                                 r.outcome == seen.testOutcomes[index],
                                             "testing in parallel gave another result for "
                                             "entry " +
                                                 std::to_string(index));
                          });
            seen.parallelMessages = std::move(held.messages);
            seen.ranParallel = true;
        }
    }
    seen.extractMessages = std::move(messages.messages);
    seen.rows = std::move(list.rows);
    seen.range = progress.range;
    seen.positions = std::move(progress.positions);
}

// ---- the checks ----------------------------------------------------------------------------

void CheckOpenAndList(const Model& model, const Observed& seen) {
    if (!model.isArchive) {
        char text[64];
        std::snprintf(text, sizeof text, "It`s not DAT file!\niD:0x%8X", model.identifier);
        EXPECT_OR_FAIL(!seen.opened, "a file that is not an archive was opened");
        EXPECT_OR_FAIL(seen.openMessages.size() == 1 && seen.openMessages[0].text == text &&
                           seen.openMessages[0].caption == kErrorCaption,
                       "not-an-archive message wrong: expected '" + Printable(text) + "'");
        EXPECT_OR_FAIL(seen.identifier == model.identifier, "identifier kept wrong");
        EXPECT_OR_FAIL(seen.rows.empty() && seen.extractMessages.empty(),
                       "something was listed for a file that is not an archive");
        return;
    }
    const std::size_t count = model.entries.size();
    EXPECT_OR_FAIL(seen.opened, "an archive whose table fits in the file failed to open");
    EXPECT_OR_FAIL(seen.identifier == model.identifier &&
                       seen.directoryOffset == model.directoryOffset &&
                       seen.directorySize == model.directorySize,
                   "header values kept wrong");
    EXPECT_OR_FAIL(seen.entryCount == count, "entry count " + std::to_string(seen.entryCount) +
                                                 ", the file holds " + std::to_string(count));
    const bool cutShort = count < model.claimed;
    EXPECT_OR_FAIL(seen.cutShort == cutShort, "cut-short flag wrong");
    if (cutShort) {
        EXPECT_OR_FAIL(seen.openMessages.size() == 1, "the cut-short directory was not told");
        const RecordedMessage& m = seen.openMessages[0];
        EXPECT_OR_FAIL(m.caption == kErrorCaption &&
                           m.text.find(std::to_string(count)) != std::string::npos &&
                           m.text.find(std::to_string(model.claimed)) != std::string::npos,
                       "cut-short message wrong: '" + Printable(m.text) + "'");
    } else {
        EXPECT_OR_FAIL(seen.openMessages.empty(),
                       "message on a sound open: '" + Printable(seen.openMessages[0].text) + "'");
    }

    EXPECT_OR_FAIL(seen.rows.size() == count, "rows listed: " + std::to_string(seen.rows.size()) +
                                                  ", entries: " + std::to_string(count));
    for (std::size_t i = 0; i < count; ++i) {
        const ModelEntry& e = model.entries[i];
        const ListRecorder::Row& row = seen.rows[i];
        char size[32];
        std::snprintf(size, sizeof size, "%" PRIu32 " [%" PRIu32 "]", e.packed, e.real);
        EXPECT_OR_FAIL(row.name == e.name, "row " + std::to_string(i) + " shows '" +
                                               Printable(row.name) + "', the file holds '" +
                                               Printable(e.name) + "'");
        EXPECT_OR_FAIL(row.sizeText == size, "row " + std::to_string(i) + " size text '" +
                                                 Printable(row.sizeText) + "', expected " + size);
        EXPECT_OR_FAIL(row.level == 0 && row.image >= 0 && row.image <= 11 &&
                           row.image == int(DatArchive::ClassifyName(e.name)),
                       "row " + std::to_string(i) + " picture or level wrong");
    }
    EXPECT_OR_FAIL(seen.range == count, "progress range wrong");
    EXPECT_OR_FAIL(seen.positions.size() == count + 1, "progress moved a wrong number of times");
    for (std::size_t i = 0; i <= count; ++i)
        EXPECT_OR_FAIL(seen.positions[i] == i, "progress positions out of order");
}

void CheckOutcomes(const Model& model, const Observed& seen, const std::set<std::string>& files,
                   const std::set<std::string>& folders) {
    std::size_t messagesExpected = 0;
    for (std::size_t i = 0; i < model.entries.size(); ++i) {
        const ModelEntry& e = model.entries[i];
        if (!e.extracted)
            continue;
        const EntryOutcome got = seen.outcomes[i];
        const std::string who = "entry " + std::to_string(i) + " '" + Printable(e.name) + "' ";
        EXPECT_OR_FAIL(seen.testOutcomes[i] == e.data, who + "tests " +
                                                           OutcomeWord(seen.testOutcomes[i]) +
                                                           ", its data is " + OutcomeWord(e.data));
        if (!e.path || e.underLink) {
            EXPECT_OR_FAIL(got == EntryOutcome::Refused,
                           who + "was " + OutcomeWord(got) + ", it must be refused");
        } else {
            // A file where one of its folders must go, or a folder where it must go.
            bool conflict = folders.contains(*e.path);
            for (std::size_t at = e.path->find('/'); !conflict && at != std::string::npos;
                 at = e.path->find('/', at + 1))
                conflict = files.contains(e.path->substr(0, at));
            EXPECT_OR_FAIL(got == e.data || (conflict && got == EntryOutcome::NotWritten),
                           who + "was " + OutcomeWord(got) + ", its data is " +
                               OutcomeWord(e.data));
        }
        const bool tells = got == EntryOutcome::Refused || got == EntryOutcome::NotWritten;
        EXPECT_OR_FAIL(seen.messagesShown[i] == (tells ? 1u : 0u),
                       who + "showed " + std::to_string(seen.messagesShown[i]) + " messages");
        messagesExpected += seen.messagesShown[i];
    }
    EXPECT_OR_FAIL(seen.extractMessages.size() == messagesExpected,
                   "messages shown outside WriteEntry");
    for (const RecordedMessage& m : seen.extractMessages)
        EXPECT_OR_FAIL(m.text == kExtractFailedText && m.caption == kErrorCaption,
                       "extraction message wrong: '" + Printable(m.text) + "'");
}

void CheckDestination(const Workspace& w, const Model& model, const Observed& seen,
                      const std::set<std::string>& files, const std::set<std::string>& folders) {
    for (const auto& link : kLinks) {
        const std::string target = link[1] ? link[1] : w.absTarget;
        EXPECT_OR_FAIL(Describe(w.dest + "/" + link[0]) == "link " + target,
                       std::string("the planted symlink ") + link[0] + " was changed");
    }
    std::map<std::string, std::size_t> lastWriter;
    for (std::size_t i = 0; i < model.entries.size(); ++i) {
        const ModelEntry& e = model.entries[i];
        if (!e.extracted || !e.path || e.underLink)
            continue;
        // A damaged entry never replaces a file that is already there.
        if (seen.outcomes[i] == EntryOutcome::Written ||
            (seen.outcomes[i] == EntryOutcome::Damaged && !lastWriter.contains(*e.path)))
            lastWriter[*e.path] = i;
    }
    std::error_code ec;
    std::set<std::string> present;
    for (auto it = fs::recursive_directory_iterator(w.dest, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        const std::string rel = it->path().string().substr(w.dest.size() + 1);
        struct stat st;
        EXPECT_OR_FAIL(::lstat(it->path().c_str(), &st) == 0, "cannot stat " + Printable(rel));
        present.insert(rel);
        if (S_ISLNK(st.st_mode)) {
            bool planted = false;
            for (const auto& link : kLinks)
                planted = planted || rel == link[0];
            EXPECT_OR_FAIL(planted, "a symlink appeared: " + Printable(rel));
        } else if (S_ISDIR(st.st_mode)) {
            EXPECT_OR_FAIL(folders.contains(rel), "a folder no entry names: " + Printable(rel));
        } else if (S_ISREG(st.st_mode)) {
            EXPECT_OR_FAIL(files.contains(rel), "a file no entry names: " + Printable(rel));
            auto writer = lastWriter.find(rel);
            EXPECT_OR_FAIL(writer != lastWriter.end(),
                           "a file left by entries that all failed: " + Printable(rel));
            const ModelEntry& e = model.entries[writer->second];
            EXPECT_OR_FAIL(std::uint64_t(st.st_size) == e.content.size() &&
                               ReadWhole(it->path().string()) == e.content,
                           "file " + Printable(rel) + " does not hold what entry " +
                               std::to_string(writer->second) + " allows (" +
                               std::to_string(st.st_size) + " bytes, expected " +
                               std::to_string(e.content.size()) + ")");
        } else {
            Fail("something that is neither file nor folder appeared: " + Printable(rel));
        }
    }
    EXPECT_OR_FAIL(!ec, "cannot walk the destination: " + ec.message());
    for (const auto& [path, index] : lastWriter)
        EXPECT_OR_FAIL(present.contains(path), "entry " + std::to_string(index) +
                                                   " was reported written but " + Printable(path) +
                                                   " is missing");
}
// The parallel run against the sequential one: the same results, the same messages in the same
// order, the same files, and memory within the same bound for each worker.
void CheckParallel(const Workspace& w, const Model& model, const Observed& seen, std::size_t size) {
    EXPECT_OR_FAIL(seen.ranParallel, "parallel extraction did not run");
    std::vector<EntryOutcome> sequential;
    ExtractSummary summary;
    for (std::size_t i = 0; i < model.entries.size(); ++i) {
        if (model.entries[i].extracted) {
            sequential.push_back(seen.outcomes[i]);
            summary.Add(seen.outcomes[i]);
        }
    }
    EXPECT_OR_FAIL(seen.parallelOutcomes == sequential,
                   "parallel extraction gave other results than sequential");
    const ExtractSummary& p = seen.parallelSummary;
    EXPECT_OR_FAIL(p.written == summary.written && p.refused == summary.refused &&
                       p.damaged == summary.damaged && p.notWritten == summary.notWritten,
                   "parallel extraction counted differently");
    EXPECT_OR_FAIL(seen.parallelMessages == seen.extractMessages,
                   "parallel extraction showed other messages");
    const std::size_t bound = kWorkers * (kMemoryConstant + kMemoryPerInputByte * size);
    EXPECT_OR_FAIL(seen.parallelPeak <= bound, "parallel peak heap " +
                                                   std::to_string(seen.parallelPeak) +
                                                   " bytes, bound " + std::to_string(bound));
    const auto left = Snapshot(w.dest), right = Snapshot(w.parallelDest);
    for (const auto& [path, what] : left) {
        auto other = right.find(path);
        EXPECT_OR_FAIL(other != right.end() && other->second == what,
                       "parallel extraction left " + Printable(path) + " otherwise");
    }
    EXPECT_OR_FAIL(left.size() == right.size(), "parallel extraction left other files");
}
} // namespace

namespace {
std::size_t lastPeak = 0;
} // namespace

std::size_t LastPeakHeap() {
    return lastPeak;
}

void CheckArchiveInput(const std::uint8_t* data, std::size_t size) {
    const Workspace& w = TheWorkspace();
    WriteWhole(w.input, data, size);
    MakeDestination(w, w.dest);
    MakeDestination(w, w.parallelDest);
    const int descriptors = OpenDescriptors();

    Model model = ModelOf(data, size);
    std::uint64_t spent = 0;
    for (ModelEntry& e : model.entries) {
        const std::uint64_t cost = OutputCost(e, size) + kRecord;
        if (spent + cost > kOutputBudget)
            continue;
        spent += cost;
        e.extracted = true;
        WorkOutData(e, data, size);
    }
    // Every place an extracted entry may put a file or a folder.
    std::set<std::string> files, folders;
    for (const ModelEntry& e : model.entries) {
        if (!e.extracted || !e.path || e.underLink)
            continue;
        files.insert(*e.path);
        for (std::size_t at = e.path->find('/'); at != std::string::npos;
             at = e.path->find('/', at + 1))
            folders.insert(e.path->substr(0, at));
    }

    Observed seen;
    Run(w, model, seen);

    lastPeak = seen.peak;
    const std::size_t bound = kMemoryConstant + kMemoryPerInputByte * size;
    EXPECT_OR_FAIL(seen.peak <= bound, "peak heap " + std::to_string(seen.peak) + " bytes, bound " +
                                           std::to_string(bound));
    EXPECT_OR_FAIL(OpenDescriptors() == descriptors, "a file descriptor was left open");
    CheckOpenAndList(model, seen);
    if (model.isArchive) {
        CheckOutcomes(model, seen, files, folders);
        CheckDestination(w, model, seen, files, folders);
        CheckParallel(w, model, seen, size);
    } else {
        EXPECT_OR_FAIL(Snapshot(w.dest).size() == std::size(kLinks),
                       "something was written for a file that is not an archive");
    }
    EXPECT_OR_FAIL(Snapshot(w.sandbox, {w.dest, w.parallelDest}) == w.baseline,
                   "something outside the destination changed");
    std::set<std::string> besideSandbox;
    for (const auto& entry : fs::directory_iterator(w.base))
        besideSandbox.insert(entry.path().filename().string());
    EXPECT_OR_FAIL(besideSandbox == std::set<std::string>({"input.dat", "sandbox"}),
                   "something appeared beside the sandbox");
    EXPECT_OR_FAIL(ReadWhole(w.input) ==
                       std::string_view(reinterpret_cast<const char*>(data), size),
                   "the archive file itself changed");
}
