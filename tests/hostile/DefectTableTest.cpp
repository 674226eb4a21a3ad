// One archive per defect, each named after it: what the library shows and writes for it, and what
// vdat makes of the same file (exit status, messages on stderr, files written).
#include "DatArchive.h"
#include "Extraction.h"
#include "MountTree.h"

#include "ArchiveBuilder.h"
#include "Harness.h"
#include "HostileSupport.h"
#include "InflateOracle.h"
#include "MountWalk.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <map>
#include <ostream>
#include <sys/stat.h>
#include <unistd.h>

// Messages in failures as their caption and text.
void PrintTo(const RecordedMessage& m, std::ostream* os) {
    *os << '"' << m.caption << ": " << m.text << '"';
}

namespace {

struct Defect {
    std::string name{};
    std::string archive{};
    std::vector<RecordedMessage> messages{}; // everything the library shows, in order
    bool opens = true;
    ExtractSummary counts{}; // what the library counts, and vdat's summary line says
    int exitCode = 0;
    std::string tree{}; // the destination afterwards, as ListTree shows it
    std::map<std::string, std::string> files{};
};

const RecordedMessage kExtractFailed{"Can`t Extract file", "Error!"};

RecordedMessage NotDat(const std::string& id) {
    return {"It`s not DAT file!\niD:0x" + id, "Error!"};
}

RecordedMessage CutShort(unsigned loaded, unsigned claimed) {
    return {"DAT file is cut short!\nTable:" + std::to_string(loaded) + " of " +
                std::to_string(claimed) + " files",
            "Error!"};
}

const std::string kText = "A line that packs well, again and again and again and again.\n";
const std::string kFine = "fine\n";

// A sound entry after the broken one shows that extraction goes on.
std::string WithSoundEntry(const std::string& badName, std::string_view content = "bad\n") {
    ArchiveBuilder b;
    b.AddStored(badName, content);
    b.AddStored("ok.txt", kFine);
    return b.Build();
}

std::string PackedWith(const std::string& name, std::string stream, std::uint32_t real,
                       std::uint32_t packed) {
    ArchiveBuilder b;
    b.AddRaw(name, std::move(stream), real, packed);
    return b.Build();
}

// The header: cut anywhere in its 12 bytes, or not a DAT file at all.
std::vector<Defect> HeaderDefects() {
    std::vector<Defect> d;

    ArchiveBuilder sound;
    sound.AddStored("ok.txt", kFine);
    const std::string whole = sound.Build();
    // Bytes the file lacks read as zero, so a cut identifier shows only what is there.
    const char* const cutIds[] = {"       0", "      56", "    4456", "  414456"};
    for (std::size_t n = 0; n < 12; ++n)
        d.push_back({.name = "HeaderCutAt" + std::to_string(n),
                     .archive = whole.substr(0, n),
                     .messages = {NotDat(n < 4 ? cutIds[n] : "54414456")},
                     .opens = false,
                     .exitCode = 1});
    d.push_back({.name = "WrongIdentifier",
                 .archive = "DATV" + whole.substr(4),
                 .messages = {NotDat("56544144")},
                 .opens = false,
                 .exitCode = 1});
    return d;
}

// The directory: where the header says it is, it is not, or not all of it.
std::vector<Defect> DirectoryDefects() {
    std::vector<Defect> d;
    {
        ArchiveBuilder b;
        b.AddStored("ok.txt", kFine);
        b.directoryOffset = std::uint32_t(b.Build().size() + 100);
        d.push_back({.name = "DirectoryOffsetPastTheEnd",
                     .archive = b.Build(),
                     .messages = {CutShort(0, 1)},
                     .exitCode = 1});
    }
    {
        ArchiveBuilder b;
        b.AddStored("ok.txt", kFine);
        b.directorySize = 0xFFFFFFFF;
        d.push_back({.name = "DirectorySizeAllOnes",
                     .archive = b.Build(),
                     .messages = {CutShort(1, 29826161)},
                     .counts = {.written = 1},
                     .exitCode = 1,
                     .tree = "ok.txt\n",
                     .files = {{"ok.txt", kFine}}});
    }
    {
        ArchiveBuilder b;
        b.AddStored("ok.txt", kFine);
        b.AddStored("lost.txt", "never listed\n");
        std::string bytes = b.Build();
        bytes.pop_back();
        d.push_back({.name = "DirectoryRunsPastTheEndByOneByte",
                     .archive = bytes,
                     .messages = {CutShort(1, 2)},
                     .counts = {.written = 1},
                     .exitCode = 1,
                     .tree = "ok.txt\n",
                     .files = {{"ok.txt", kFine}}});
    }
    return d;
}

// Names: kept, rewritten or refused.
std::vector<Defect> NameDefects() {
    std::vector<Defect> d;
    {
        const std::string name = std::string(124, 'n') + ".txt"; // 128 bytes, no NUL
        ArchiveBuilder b;
        b.AddStored(name, kFine);
        d.push_back({.name = "NameWithoutNul",
                     .archive = b.Build(),
                     .counts = {.written = 1},
                     .tree = name + "\n",
                     .files = {{name, kFine}}});
    }

    // Names that are refused: nothing is created for them, not even a folder.
    const std::pair<const char*, std::string> refused[] = {
        {"EmptyName", ""},
        {"NameOnlyBackslashes", "\\\\\\"},
        {"NameClimbsOneUp", "..\\x"},
        {"NameClimbsThroughAFolder", "a\\..\\..\\x"},
        {"NameWithLeadingBackslash", "\\x"},
        {"NameWithDrivePrefix", "C:\\x"},
        {"NameWithDoubleBackslash", "a\\\\x"},
        {"NameWithDotFolder", "a\\.\\x"},
        {"NameEndingInBackslash", "a\\"},
    };
    for (const auto& [label, name] : refused)
        d.push_back({.name = label,
                     .archive = WithSoundEntry(name),
                     .messages = {kExtractFailed},
                     .counts = {.written = 1, .refused = 1},
                     .exitCode = 1,
                     .tree = "ok.txt\n",
                     .files = {{"ok.txt", kFine}}});

    {
        ArchiveBuilder b;
        b.AddStored("dir/file.txt", "slash\n");
        b.AddStored("a\\b/c.txt", "deep\n");
        b.AddStored("/abs.txt", "abs\n");
        b.AddStored("up/../x.txt", "up\n");
        d.push_back({.name = "ForwardSlash",
                     .archive = b.Build(),
                     .counts = {.written = 4},
                     .tree = "_abs.txt\na/\na/b_c.txt\ndir_file.txt\nup_.._x.txt\n",
                     .files = {{"dir_file.txt", "slash\n"},
                               {"a/b_c.txt", "deep\n"},
                               {"_abs.txt", "abs\n"},
                               {"up_.._x.txt", "up\n"}}});
    }
    {
        // Names are bytes on disk: controls, Latin-1, and all 128 bytes with no NUL.
        const std::string name = "ctl\x01\x1b[2J\t.txt";
        const std::string full = std::string(124, 'n') + ".txt";
        ArchiveBuilder b;
        b.AddStored(name, kFine);
        b.AddStored("caf\xe9\\na\xefve.txt", "1");
        b.AddStored(full, "2");
        d.push_back({.name = "ControlCharactersAndEightBitNames",
                     .archive = b.Build(),
                     .counts = {.written = 3},
                     .tree = "caf\xe9/\ncaf\xe9/na\xefve.txt\n" + name + "\n" + full + "\n",
                     .files = {{name, kFine}, {"caf\xe9/na\xefve.txt", "1"}, {full, "2"}}});
    }
    return d;
}

// Damaged data: the entry's file is left empty or holding what could be read, the window tells
// the failure, and vdat counts it.
std::vector<Defect> DataDefects() {
    std::vector<Defect> d;
    {
        ArchiveBuilder b;
        b.AddStored("gone.bin", "0123456789");
        b.AddStored("ok.txt", kFine);
        b.Entries()[0].dataOffset = 0x7FFFFFF0;
        d.push_back({.name = "DataOffsetPastTheEnd",
                     .archive = b.Build(),
                     .counts = {.written = 1, .damaged = 1},
                     .exitCode = 1,
                     .tree = "gone.bin\nok.txt\n",
                     .files = {{"gone.bin", ""}, {"ok.txt", kFine}}});
    }
    {
        ArchiveBuilder b;
        b.AddPacked("gone.txt", kText);
        b.Entries()[0].dataOffset = 0xFFFFFF00;
        d.push_back({.name = "PackedDataOffsetPastTheEnd",
                     .archive = b.Build(),
                     .counts = {.damaged = 1},
                     .exitCode = 1,
                     .tree = "gone.txt\n",
                     .files = {{"gone.txt", ""}}});
    }
    {
        ArchiveBuilder b;
        b.AddStored("ok.txt", kFine);
        b.AddRaw("short.bin", "", 10, 0);
        b.trailer = "123456789"; // the entry's data is the last 9 bytes of the file: one short
        b.Entries()[1].dataOffset = std::uint32_t(b.Build().size() - 9);
        d.push_back({.name = "DataRunsPastTheEndByOneByte",
                     .archive = b.Build(),
                     .counts = {.written = 1, .damaged = 1},
                     .exitCode = 1,
                     .tree = "ok.txt\nshort.bin\n",
                     .files = {{"ok.txt", kFine}, {"short.bin", "123456789"}}});
    }
    {
        // The whole file, and then some: what can be read is written, without a buffer that size.
        ArchiveBuilder b;
        b.AddRaw("huge.bin", "", 0xFFFFFFFF, 0).dataOffset = 0;
        const std::string bytes = b.Build();
        d.push_back({.name = "StoredSizeAllOnes",
                     .archive = bytes,
                     .counts = {.damaged = 1},
                     .exitCode = 1,
                     .tree = "huge.bin\n",
                     .files = {{"huge.bin", bytes}}});
    }
    {
        ArchiveBuilder b;
        b.AddPacked("big.txt", kText);
        b.Entries()[0].packedSize = 1u << 20;
        d.push_back({.name = "PackedSizeLargerThanTheFile",
                     .archive = b.Build(),
                     .counts = {.damaged = 1},
                     .exitCode = 1,
                     .tree = "big.txt\n",
                     .files = {{"big.txt", ""}}});
    }
    const std::string stream = ArchiveBuilder::Zlib(kText);
    const auto real = std::uint32_t(kText.size());
    {
        // Long enough that, in pieces, the file has data in it when the trailer proves it wrong.
        std::string bad = ArchiveBuilder::Zlib(std::string(3 << 20, 'b') + kText);
        bad.back() = char(bad.back() ^ 0xFF);
        ArchiveBuilder b;
        b.AddRaw("adler.txt", bad, (3 << 20) + real, std::uint32_t(bad.size()));
        b.AddRaw("garbage.bin", "this is no zlib stream", 50, 22);
        b.AddStored("ok.txt", kFine);
        d.push_back({.name = "ZlibBadAdler32",
                     .archive = b.Build(),
                     .counts = {.written = 1, .damaged = 2},
                     .exitCode = 1,
                     .tree = "adler.txt\ngarbage.bin\nok.txt\n",
                     .files = {{"adler.txt", ""}, {"garbage.bin", ""}, {"ok.txt", kFine}}});
    }
    {
        // Inflating to more than the real size: the entry does not fit and nothing is written.
        const std::string big = ArchiveBuilder::Zlib(std::string(3 << 20, 'g'));
        ArchiveBuilder b;
        b.AddRaw("long.txt", stream, real - 1, std::uint32_t(stream.size()));
        b.AddRaw("long2.bin", big, (3 << 20) - 1, std::uint32_t(big.size()));
        d.push_back({.name = "ZlibLongerThanTheRealSize",
                     .archive = b.Build(),
                     .counts = {.damaged = 2},
                     .exitCode = 1,
                     .tree = "long.txt\nlong2.bin\n",
                     .files = {{"long.txt", ""}, {"long2.bin", ""}}});
    }
    {
        // Inflating to less: the rest is zeros, never what an earlier, larger entry left in a
        // reused buffer; in pieces, the zeros take more than one piece.
        std::string most(1 << 20, '\0'); // too varied to pass for a lie about its real size
        for (std::size_t i = 0; i < most.size(); ++i)
            most[i] = char((i * 7 + i / 256) & 0xFF);
        const std::string mostStream = ArchiveBuilder::Zlib(most);
        ArchiveBuilder b;
        b.AddPacked("first.bin", std::string(4096, '#'));
        b.AddRaw("short.txt", stream, real + 10, std::uint32_t(stream.size()));
        b.AddRaw("short2.bin", mostStream, 3 << 20, std::uint32_t(mostStream.size()));
        d.push_back({.name = "ZlibShorterThanTheRealSize",
                     .archive = b.Build(),
                     .counts = {.written = 1, .damaged = 2},
                     .exitCode = 1,
                     .tree = "first.bin\nshort.txt\nshort2.bin\n",
                     .files = {{"first.bin", std::string(4096, '#')},
                               {"short.txt", kText + std::string(10, '\0')},
                               {"short2.bin", most + std::string(2 << 20, '\0')}}});
    }
    {
        const std::string half = stream.substr(0, stream.size() / 2);
        d.push_back({.name = "ZlibCutShort",
                     .archive = PackedWith("half.txt", half, real, std::uint32_t(half.size())),
                     .counts = {.damaged = 1},
                     .exitCode = 1,
                     .tree = "half.txt\n",
                     .files = {{"half.txt", ""}}});
    }
    {
        // The stream itself is whole and its checksum holds; what follows it is not read.
        const std::string padded = stream + "trailing";
        d.push_back({.name = "ZlibTrailingBytes",
                     .archive = PackedWith("trail.txt", padded, real, std::uint32_t(padded.size())),
                     .counts = {.written = 1},
                     .tree = "trail.txt\n",
                     .files = {{"trail.txt", kText}}});
    }
    {
        std::string twenty = ArchiveBuilder::Zlib("tiny");
        twenty.resize(20, '\0');
        d.push_back({.name = "RealSize4GiBFrom20PackedBytes",
                     .archive = PackedWith("huge.bin", twenty, 0xFFFFFFFF, 20),
                     .counts = {.damaged = 1},
                     .exitCode = 1,
                     .tree = "huge.bin\n",
                     .files = {{"huge.bin", ""}}});
    }
    return d;
}

// Sound archives that look odd: every entry is written.
std::vector<Defect> OddButSoundArchives() {
    std::vector<Defect> d;
    const std::string stream = ArchiveBuilder::Zlib(kText);
    const auto real = std::uint32_t(kText.size());
    {
        ArchiveBuilder b;
        b.AddStored("same.txt", "first\n");
        b.AddStored("same.txt", "second\n");
        d.push_back({.name = "TwoEntriesWithTheSameName",
                     .archive = b.Build(),
                     .counts = {.written = 2},
                     .tree = "same.txt\n",
                     .files = {{"same.txt", "second\n"}}});
    }
    {
        const std::string shared = "shared bytes\n";
        ArchiveBuilder b;
        b.AddStored("one.txt", shared);
        b.AddPacked("p1.txt", kText);
        b.AddRaw("two.txt", "", std::uint32_t(shared.size()), 0).dataOffset = 12;
        b.AddRaw("p2.txt", "", real, std::uint32_t(stream.size())).dataOffset =
            std::uint32_t(12 + shared.size());
        d.push_back(
            {.name = "EntriesSharingData",
             .archive = b.Build(),
             .counts = {.written = 4},
             .tree = "one.txt\np1.txt\np2.txt\ntwo.txt\n",
             .files = {
                 {"one.txt", shared}, {"two.txt", shared}, {"p1.txt", kText}, {"p2.txt", kText}}});
    }
    {
        // '/' is written as '_', so these two are one file: the later one wins.
        ArchiveBuilder b;
        b.AddStored("a/b", "slash\n");
        b.AddStored("a_b", "underscore\n");
        d.push_back({.name = "SlashAndUnderscoreMeet",
                     .archive = b.Build(),
                     .counts = {.written = 2},
                     .tree = "a_b\n",
                     .files = {{"a_b", "underscore\n"}}});
    }
    {
        ArchiveBuilder b;
        b.AddStored("a", "a file\n");
        b.AddStored("a\\b", "needs a folder a\n");
        d.push_back({.name = "FileWhereAFolderMustGo",
                     .archive = b.Build(),
                     .messages = {kExtractFailed},
                     .counts = {.written = 1, .notWritten = 1},
                     .exitCode = 1,
                     .tree = "a\n",
                     .files = {{"a", "a file\n"}}});
    }
    {
        ArchiveBuilder b;
        b.AddStored("a\\b", "in folder a\n");
        b.AddStored("a", "a file where the folder is\n");
        d.push_back({.name = "FolderWhereAFileMustGo",
                     .archive = b.Build(),
                     .messages = {kExtractFailed},
                     .counts = {.written = 1, .notWritten = 1},
                     .exitCode = 1,
                     .tree = "a/\na/b\n",
                     .files = {{"a/b", "in folder a\n"}}});
    }
    {
        ArchiveBuilder b;
        b.AddStored("Readme.TXT", "mixed\n");
        b.AddStored("README.txt", "upper\n");
        b.AddStored("readme.txt", "lower\n");
        d.push_back({.name = "NamesDifferingOnlyInCase",
                     .archive = b.Build(),
                     .counts = {.written = 3},
                     .tree = "README.txt\nReadme.TXT\nreadme.txt\n",
                     .files = {{"Readme.TXT", "mixed\n"},
                               {"README.txt", "upper\n"},
                               {"readme.txt", "lower\n"}}});
    }
    return d;
}

std::vector<Defect> Defects() {
    std::vector<Defect> d;
    for (auto part :
         {HeaderDefects, DirectoryDefects, NameDefects, DataDefects, OddButSoundArchives})
        for (Defect& c : part())
            d.push_back(std::move(c));
    return d;
}

// Failures name the case rather than dumping its bytes.
void PrintTo(const Defect& c, std::ostream* os) {
    *os << c.name;
}

class OneDefect : public ::testing::TestWithParam<Defect> {};

TEST_P(OneDefect, LibraryAndVdatAgreeOnWhatIsRefusedAndWritten) {
    const Defect& c = GetParam();
    TempDir dir;
    const std::string archivePath = dir / "archive.dat";
    WriteFile(archivePath, c.archive);
    const std::string vdatDest = dir / "vdat";
    ASSERT_EQ(::mkdir(vdatDest.c_str(), 0755), 0);

    // Once with packed entries inflated whole, once in pieces: both must give the same.
    for (const std::size_t wholeLimit : {kWholeEntryLimit, std::size_t(0)}) {
        SCOPED_TRACE(wholeLimit ? "library" : "library, inflating in pieces");
        const std::string libraryDest = dir / (wholeLimit ? "library" : "pieces");
        ::mkdir(libraryDest.c_str(), 0755);
        RecordedArchive recorded;
        auto& [messages, list, progress, archive] = recorded;
        const bool opened = archive.Open(archivePath);
        EXPECT_EQ(opened, c.opens);
        if (opened)
            archive.LoadDirectory();
        Extractor extractor(archive, messages, progress);
        extractor.SetDestination(libraryDest);
        // Asking for more than the file can justify shows up as "not written".
        extractor.Writer().SetBufferLimit(1100 * c.archive.size() + (1u << 20));
        extractor.Writer().SetWholeEntryLimit(wholeLimit);
        const ExtractSummary s = extractor.ExtractAll();
        // The window tells each damaged entry as a failure too; vdat names it on its own line.
        std::vector<RecordedMessage> shown = c.messages;
        shown.insert(shown.end(), c.counts.damaged, kExtractFailed);
        EXPECT_EQ(messages.messages, shown);
        EXPECT_EQ(s.written, c.counts.written);
        EXPECT_EQ(s.refused, c.counts.refused);
        EXPECT_EQ(s.damaged, c.counts.damaged);
        EXPECT_EQ(s.notWritten, c.counts.notWritten);
        EXPECT_EQ(s.stopped, c.counts.stopped);
        EXPECT_EQ(ListTree(libraryDest), c.tree);
        for (const auto& [path, content] : c.files)
            EXPECT_EQ(ReadFile(libraryDest + "/" + path), content) << path;
    }
    {
        SCOPED_TRACE("vdat");
        const ProcessResult run = RunVdat({"extract", archivePath, "-C", vdatDest});
        EXPECT_EQ(run.exitCode, c.exitCode) << run.err;
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(ListTree(vdatDest), c.tree);
        for (const auto& [path, content] : c.files)
            EXPECT_EQ(ReadFile(vdatDest + "/" + path), content) << path;
        for (const RecordedMessage& m : c.messages) {
            const auto expected = std::count(c.messages.begin(), c.messages.end(), m);
            EXPECT_EQ(Occurrences(run.err, VdatShown(m.text)), std::size_t(expected)) << run.err;
        }
        EXPECT_EQ(VdatMessageLines(run.err), c.messages.size()) << run.err;
        if (c.opens) {
            EXPECT_EQ(Occurrences(run.err, SummaryLine(c.counts)), 1u) << run.err;
        }
    }
}

// A mount of the same archive shows what extraction writes: the same tree and bytes, every name
// extraction refuses or cannot write left out and told, a damaged entry's reads failing with EIO.
TEST_P(OneDefect, TheMountShowsWhatExtractionWrites) {
    const Defect& c = GetParam();
    TempDir dir;
    WriteFile(dir / "archive.dat", c.archive);
    const int folder = ::open(dir.Path().c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(folder, 0);
    for (const std::size_t wholeLimit : {kWholeEntryLimit, std::size_t(0)}) {
        SCOPED_TRACE(wholeLimit ? "whole" : "in pieces");
        MountTree mount({.wholeLimit = wholeLimit});
        std::vector<MountRefusal> refused;
        mount.OnRefusal([&](const MountRefusal& r) { refused.push_back(r); });
        ArchiveProblem problem;
        EXPECT_EQ(mount.Open(folder, "archive.dat", problem), c.opens);
        if (!c.opens)
            continue;
        const MountWalk walk = WalkMount(mount, 64 * 1024);
        EXPECT_EQ(walk.broken, "");
        EXPECT_EQ(walk.tree, c.tree);
        EXPECT_EQ(refused.size(), c.counts.refused + c.counts.notWritten);
        EXPECT_EQ(walk.failed.size(), c.counts.damaged);
        for (const auto& [path, error] : walk.failed)
            EXPECT_EQ(error, EIO) << path;
        for (const auto& [path, content] : c.files) {
            if (!walk.failed.count(path)) {
                EXPECT_TRUE(walk.files.at(path) == content) << path;
            }
        }
    }
    ::close(folder);
}

// Every stream in the table, through both of the library's inflaters and through uncompress.
TEST_P(OneDefect, EveryStreamInflatesAsUncompressHasIt) {
    const Defect& c = GetParam();
    TempDir dir;
    const std::string archivePath = dir / "archive.dat";
    WriteFile(archivePath, c.archive);
    RecordedArchive recorded;
    auto& [messages, list, progress, archive] = recorded;
    if (!archive.Open(archivePath))
        return;
    archive.LoadDirectory();
    WholeInflater whole;
    PieceInflater pieces;
    for (const auto& e : archive.Entries()) {
        const DirectoryEntry& entry = e.entry;
        // Streams that cannot be read whole, or claim more than 1032:1, are never inflated.
        if (!entry.IsPacked() || entry.dataOffset > c.archive.size() ||
            entry.packedSize > c.archive.size() - entry.dataOffset ||
            entry.realSize > 1032ull * entry.packedSize + 64)
            continue;
        const std::string_view stream =
            std::string_view(c.archive).substr(entry.dataOffset, entry.packedSize);
        for (const std::size_t piece : {std::size_t(1), std::size_t(5), std::size_t(1) << 20})
            EXPECT_EQ(DifferenceFromUncompress(whole, pieces, stream, entry.realSize, piece, piece),
                      "")
                << entry.Name();
    }
}

INSTANTIATE_TEST_SUITE_P(Archives, OneDefect, ::testing::ValuesIn(Defects()),
                         [](const ::testing::TestParamInfo<Defect>& info) {
                             return info.param.name;
                         });

} // namespace
