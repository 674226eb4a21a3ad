// One archive per defect, each named after it: what the library shows and writes for it, and what
// vdat makes of the same file (exit status, messages on stderr, files written).
#include "DatArchive.h"
#include "Extraction.h"

#include "ArchiveBuilder.h"
#include "HostileSupport.h"
#include "InflateOracle.h"
#include "Recorders.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <map>
#include <ostream>
#include <sys/stat.h>

// Messages in failures as their caption and text.
void PrintTo(const RecordedMessage& m, std::ostream* os) {
    *os << '"' << m.caption << ": " << m.text << '"';
}

namespace {

struct Counts {
    std::uint32_t written = 0, refused = 0, damaged = 0, notWritten = 0;
    ExtractSummary Summary() const {
        ExtractSummary s;
        s.written = written;
        s.refused = refused;
        s.damaged = damaged;
        s.notWritten = notWritten;
        return s;
    }
};

struct Defect {
    std::string name;
    std::string archive;
    std::vector<RecordedMessage> messages; // everything the library shows, in order
    bool opens = true;
    Counts counts;
    int exitCode = 0;
    std::string tree; // the destination afterwards, as ListTree shows it
    std::map<std::string, std::string> files;
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

std::vector<Defect> Defects() {
    std::vector<Defect> d;

    ArchiveBuilder sound;
    sound.AddStored("ok.txt", kFine);
    const std::string whole = sound.Build();
    // Bytes the file lacks read as zero, so a cut identifier shows only what is there.
    const char* const cutIds[] = {"       0", "      56", "    4456", "  414456"};
    for (std::size_t n = 0; n < 12; ++n)
        d.push_back({"HeaderCutAt" + std::to_string(n),
                     whole.substr(0, n),
                     {NotDat(n < 4 ? cutIds[n] : "54414456")},
                     false,
                     {},
                     1,
                     "",
                     {}});
    d.push_back(
        {"WrongIdentifier", "DATV" + whole.substr(4), {NotDat("56544144")}, false, {}, 1, "", {}});

    {
        ArchiveBuilder b;
        b.AddStored("ok.txt", kFine);
        b.directoryOffset = std::uint32_t(b.Build().size() + 100);
        d.push_back(
            {"DirectoryOffsetPastTheEnd", b.Build(), {CutShort(0, 1)}, true, {}, 1, "", {}});
    }
    {
        ArchiveBuilder b;
        b.AddStored("ok.txt", kFine);
        b.directorySize = 0xFFFFFFFF;
        d.push_back({"DirectorySizeAllOnes",
                     b.Build(),
                     {CutShort(1, 29826161)},
                     true,
                     {1},
                     1,
                     "ok.txt\n",
                     {{"ok.txt", kFine}}});
    }
    {
        ArchiveBuilder b;
        b.AddStored("ok.txt", kFine);
        b.AddStored("lost.txt", "never listed\n");
        std::string bytes = b.Build();
        bytes.pop_back();
        d.push_back({"DirectoryRunsPastTheEndByOneByte",
                     bytes,
                     {CutShort(1, 2)},
                     true,
                     {1},
                     1,
                     "ok.txt\n",
                     {{"ok.txt", kFine}}});
    }
    {
        const std::string name = std::string(124, 'n') + ".txt"; // 128 bytes, no NUL
        ArchiveBuilder b;
        b.AddStored(name, kFine);
        d.push_back({"NameWithoutNul", b.Build(), {}, true, {1}, 0, name + "\n", {{name, kFine}}});
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
        d.push_back({label,
                     WithSoundEntry(name),
                     {kExtractFailed},
                     true,
                     {1, 1},
                     1,
                     "ok.txt\n",
                     {{"ok.txt", kFine}}});

    {
        ArchiveBuilder b;
        b.AddStored("dir/file.txt", "slash\n");
        b.AddStored("a\\b/c.txt", "deep\n");
        d.push_back({"ForwardSlash",
                     b.Build(),
                     {},
                     true,
                     {2},
                     0,
                     "a/\na/b_c.txt\ndir_file.txt\n",
                     {{"dir_file.txt", "slash\n"}, {"a/b_c.txt", "deep\n"}}});
    }
    {
        const std::string name = "ctl\x01\x1b[2J\t.txt";
        ArchiveBuilder b;
        b.AddStored(name, kFine);
        d.push_back(
            {"ControlCharacters", b.Build(), {}, true, {1}, 0, name + "\n", {{name, kFine}}});
    }

    // Damaged data: the entry's file is left empty or holding what could be read, without a
    // message in the window, and vdat counts it.
    {
        ArchiveBuilder b;
        b.AddStored("gone.bin", "0123456789");
        b.AddStored("ok.txt", kFine);
        b.Entries()[0].dataOffset = 0x7FFFFFF0;
        d.push_back({"DataOffsetPastTheEnd",
                     b.Build(),
                     {},
                     true,
                     {1, 0, 1},
                     1,
                     "gone.bin\nok.txt\n",
                     {{"gone.bin", ""}, {"ok.txt", kFine}}});
    }
    {
        ArchiveBuilder b;
        b.AddPacked("gone.txt", kText);
        b.Entries()[0].dataOffset = 0xFFFFFF00;
        d.push_back({"PackedDataOffsetPastTheEnd",
                     b.Build(),
                     {},
                     true,
                     {0, 0, 1},
                     1,
                     "gone.txt\n",
                     {{"gone.txt", ""}}});
    }
    {
        ArchiveBuilder b;
        b.AddStored("ok.txt", kFine);
        b.AddRaw("short.bin", "", 10, 0);
        b.trailer = "123456789"; // the entry's data is the last 9 bytes of the file: one short
        b.Entries()[1].dataOffset = std::uint32_t(b.Build().size() - 9);
        d.push_back({"DataRunsPastTheEndByOneByte",
                     b.Build(),
                     {},
                     true,
                     {1, 0, 1},
                     1,
                     "ok.txt\nshort.bin\n",
                     {{"ok.txt", kFine}, {"short.bin", "123456789"}}});
    }
    {
        ArchiveBuilder b;
        b.AddPacked("big.txt", kText);
        b.Entries()[0].packedSize = 1u << 20;
        d.push_back({"PackedSizeLargerThanTheFile",
                     b.Build(),
                     {},
                     true,
                     {0, 0, 1},
                     1,
                     "big.txt\n",
                     {{"big.txt", ""}}});
    }
    const std::string stream = ArchiveBuilder::Zlib(kText);
    const auto real = std::uint32_t(kText.size());
    {
        std::string bad = stream;
        bad.back() = char(bad.back() ^ 0xFF);
        d.push_back({"ZlibBadAdler32",
                     PackedWith("adler.txt", bad, real, std::uint32_t(bad.size())),
                     {},
                     true,
                     {0, 0, 1},
                     1,
                     "adler.txt\n",
                     {{"adler.txt", ""}}});
    }
    {
        const std::string half = stream.substr(0, stream.size() / 2);
        d.push_back({"ZlibCutShort",
                     PackedWith("half.txt", half, real, std::uint32_t(half.size())),
                     {},
                     true,
                     {0, 0, 1},
                     1,
                     "half.txt\n",
                     {{"half.txt", ""}}});
    }
    {
        // The stream itself is whole and its checksum holds; what follows it is not read.
        const std::string padded = stream + "trailing";
        d.push_back({"ZlibTrailingBytes",
                     PackedWith("trail.txt", padded, real, std::uint32_t(padded.size())),
                     {},
                     true,
                     {1},
                     0,
                     "trail.txt\n",
                     {{"trail.txt", kText}}});
    }
    {
        std::string twenty = ArchiveBuilder::Zlib("tiny");
        twenty.resize(20, '\0');
        d.push_back({"RealSize4GiBFrom20PackedBytes",
                     PackedWith("huge.bin", twenty, 0xFFFFFFFF, 20),
                     {},
                     true,
                     {0, 0, 1},
                     1,
                     "huge.bin\n",
                     {{"huge.bin", ""}}});
    }

    // Sound archives that look odd: every entry is written.
    {
        ArchiveBuilder b;
        b.AddStored("same.txt", "first\n");
        b.AddStored("same.txt", "second\n");
        d.push_back({"TwoEntriesWithTheSameName",
                     b.Build(),
                     {},
                     true,
                     {2},
                     0,
                     "same.txt\n",
                     {{"same.txt", "second\n"}}});
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
            {"EntriesSharingData",
             b.Build(),
             {},
             true,
             {4},
             0,
             "one.txt\np1.txt\np2.txt\ntwo.txt\n",
             {{"one.txt", shared}, {"two.txt", shared}, {"p1.txt", kText}, {"p2.txt", kText}}});
    }
    {
        // '/' is written as '_', so these two are one file: the later one wins.
        ArchiveBuilder b;
        b.AddStored("a/b", "slash\n");
        b.AddStored("a_b", "underscore\n");
        d.push_back({"SlashAndUnderscoreMeet",
                     b.Build(),
                     {},
                     true,
                     {2},
                     0,
                     "a_b\n",
                     {{"a_b", "underscore\n"}}});
    }
    {
        ArchiveBuilder b;
        b.AddStored("a", "a file\n");
        b.AddStored("a\\b", "needs a folder a\n");
        d.push_back({"FileWhereAFolderMustGo",
                     b.Build(),
                     {kExtractFailed},
                     true,
                     {1, 0, 0, 1},
                     1,
                     "a\n",
                     {{"a", "a file\n"}}});
    }
    {
        ArchiveBuilder b;
        b.AddStored("a\\b", "in folder a\n");
        b.AddStored("a", "a file where the folder is\n");
        d.push_back({"FolderWhereAFileMustGo",
                     b.Build(),
                     {kExtractFailed},
                     true,
                     {1, 0, 0, 1},
                     1,
                     "a/\na/b\n",
                     {{"a/b", "in folder a\n"}}});
    }
    {
        ArchiveBuilder b;
        b.AddStored("Readme.TXT", "mixed\n");
        b.AddStored("README.txt", "upper\n");
        b.AddStored("readme.txt", "lower\n");
        d.push_back(
            {"NamesDifferingOnlyInCase",
             b.Build(),
             {},
             true,
             {3},
             0,
             "README.txt\nReadme.TXT\nreadme.txt\n",
             {{"Readme.TXT", "mixed\n"}, {"README.txt", "upper\n"}, {"readme.txt", "lower\n"}}});
    }
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
        MessageRecorder messages;
        ListRecorder list;
        ProgressRecorder progress;
        DatArchive archive(messages, list, progress);
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
        EXPECT_EQ(messages.messages, c.messages);
        EXPECT_EQ(s.written, c.counts.written);
        EXPECT_EQ(s.refused, c.counts.refused);
        EXPECT_EQ(s.damaged, c.counts.damaged);
        EXPECT_EQ(s.notWritten, c.counts.notWritten);
        EXPECT_EQ(ListTree(libraryDest), c.tree);
        for (const auto& [path, content] : c.files)
            EXPECT_EQ(ReadFile(libraryDest + "/" + path), content) << path;
    }
    {
        SCOPED_TRACE("vdat");
        const VdatRun run = RunVdat({"extract", archivePath, "-C", vdatDest});
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
            EXPECT_EQ(Occurrences(run.err, SummaryLine(c.counts.Summary())), 1u) << run.err;
        }
    }
}

// Every stream in the table, through both of the library's inflaters and through uncompress.
TEST_P(OneDefect, EveryStreamInflatesAsUncompressHasIt) {
    const Defect& c = GetParam();
    TempDir dir;
    const std::string archivePath = dir / "archive.dat";
    WriteFile(archivePath, c.archive);
    MessageRecorder messages;
    ListRecorder list;
    ProgressRecorder progress;
    DatArchive archive(messages, list, progress);
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
