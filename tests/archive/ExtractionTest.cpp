// Writing entries out: every way an entry's data can be good or broken, folders, overwriting,
// names and symlinks that would lead outside the destination, and failures to get memory or
// to write.
#include "Harness.h"
#include "ParallelExtraction.h"

#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <numeric>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string AllByteValues(std::size_t length) {
    std::string out(length, '\0');
    for (std::size_t i = 0; i < length; ++i)
        out[i] = char((i * 7 + i / 256) & 0xFF);
    return out;
}

// An opened archive plus an extractor writing into <scratch>/out.
struct ExtractHarness : Harness {
    Extractor extractor{archive, messages, progress};
    std::string out = dir / "out";

    ExtractHarness() {
        ::mkdir(out.c_str(), 0755);
        extractor.SetDestination(out);
    }
    void Load(const ArchiveBuilder& b) {
        ASSERT_TRUE(OpenBytes(b.Build()));
        progress.positions.clear();
    }
    std::string Output(const std::string& relative) { return ReadFile(out + "/" + relative); }
    std::string Tree() { return ListTree(out); }
};

const RecordedMessage kCantExtract{"Can`t Extract file", "Error!"};

TEST(Extract, StoredIsCopiedByteForByteEvenWhenItLooksPacked) {
    ExtractHarness h;
    ArchiveBuilder b;
    const std::string binary = AllByteValues(300000);
    const std::string looksPacked = ArchiveBuilder::Zlib("not to be inflated");
    b.AddStored("bin.dat", binary);
    b.AddStored("z.bin", looksPacked);
    h.Load(b);
    EXPECT_EQ(h.extractor.ExtractEntry(0).outcome, EntryOutcome::Written);
    EXPECT_EQ(h.extractor.ExtractEntry(1).outcome, EntryOutcome::Written);
    EXPECT_EQ(h.Output("bin.dat"), binary);
    EXPECT_EQ(h.Output("z.bin"), looksPacked);
    EXPECT_TRUE(h.messages.messages.empty());
    EXPECT_TRUE(h.progress.positions.empty()); // a single entry does not move the bar
}

TEST(Extract, PackedIsInflated) {
    ExtractHarness h;
    ArchiveBuilder b;
    const std::string text = AllByteValues(5000) + std::string(200000, 'q');
    b.AddPacked("maps\\level.bsp", text);
    b.AddPacked("fast.txt", text, 1);
    h.Load(b);
    EXPECT_EQ(h.extractor.ExtractAll().written, 2u);
    EXPECT_EQ(h.Output("maps/level.bsp"), text);
    EXPECT_EQ(h.Output("fast.txt"), text);
    EXPECT_TRUE(h.messages.messages.empty());
}

// The most compressible data there is must not be mistaken for a lie about the real size.
TEST(Extract, HighlyCompressedDataIsWritten) {
    ExtractHarness h;
    ArchiveBuilder b;
    const std::string zeros(8 << 20, '\0');
    b.AddPacked("zeros.bin", zeros, 9);
    h.Load(b);
    EXPECT_EQ(h.extractor.ExtractEntry(0).outcome, EntryOutcome::Written);
    EXPECT_EQ(h.Output("zeros.bin"), zeros);
}

TEST(Extract, ZeroSizeGivesAnEmptyFileSilently) {
    ExtractHarness h;
    ArchiveBuilder b;
    b.AddStored("stored.txt", "");
    b.AddPacked("packed.txt", "");
    h.Load(b);
    const ExtractSummary s = h.extractor.ExtractAll();
    EXPECT_EQ(s.written, 2u);
    EXPECT_TRUE(s.AllWritten());
    EXPECT_EQ(FileSizeOf(h.out + "/stored.txt"), 0);
    EXPECT_EQ(FileSizeOf(h.out + "/packed.txt"), 0);
    EXPECT_TRUE(h.messages.messages.empty());
}

// Packed entries are inflated whole up to a size, in pieces beyond; the tests of broken streams
// run both ways, the limit set to 0 for the pieces.
const std::size_t kBothWays[] = {kWholeEntryLimit, 0};

// What a damaged entry leaves where there was no file is in the defect table; where the user
// already had a file of the name, a damaged entry never replaces it.
TEST(Extract, DamagedStreamNeverReplacesAFile) {
    for (const std::size_t wholeLimit : kBothWays) {
        SCOPED_TRACE(wholeLimit ? "whole" : "in pieces");
        ExtractHarness h;
        ArchiveBuilder b;
        // Long enough that, in pieces, the file has data in it when the trailer proves it wrong.
        std::string stream = ArchiveBuilder::Zlib(AllByteValues(3 << 20));
        stream[stream.size() - 1] ^= 0x55; // the Adler-32 trailer no longer matches
        b.AddRaw("bad.bin", stream, 3 << 20, std::uint32_t(stream.size()));
        b.AddRaw("garbage.bin", "this is no zlib stream", 50, 22);
        b.AddStored("next.txt", "after");
        h.Load(b);
        h.extractor.Writer().SetWholeEntryLimit(wholeLimit);
        WriteFile(h.out + "/bad.bin", "kept");
        WriteFile(h.out + "/garbage.bin", "kept too");
        const ExtractSummary again = h.extractor.ExtractAll();
        EXPECT_EQ(again.damaged, 2u);
        EXPECT_EQ(again.written, 1u);
        EXPECT_EQ(h.Output("bad.bin"), "kept");
        EXPECT_EQ(h.Output("garbage.bin"), "kept too");
        EXPECT_EQ(h.Tree(), "bad.bin\ngarbage.bin\nnext.txt\n");
        // The window tells each one, with the inflater's reason.
        EXPECT_EQ(h.messages.messages, std::vector<RecordedMessage>(2, kCantExtract));
        ASSERT_EQ(h.messages.failures.size(), 2u);
        EXPECT_EQ(h.messages.failures[0].entry, "bad.bin");
        EXPECT_EQ(h.messages.failures[0].reason, "damaged data: zlib stream does not inflate");
        EXPECT_EQ(h.messages.failures[1].entry, "garbage.bin");
    }
}

// A real size beyond what the packed bytes can inflate to is refused before any buffer of
// that size is obtained: with a 1 MiB buffer limit, trying would show as "not written".
TEST(Extract, ImpossibleRealSizeIsDamagedWithoutAHugeBuffer) {
    ExtractHarness h;
    ArchiveBuilder b;
    const std::string stream = ArchiveBuilder::Zlib("tiny");
    b.AddRaw("liar.bin", stream, 0xFFFFFFF0, std::uint32_t(stream.size()));
    b.AddRaw("liar2.bin", stream, 1032 * std::uint32_t(stream.size()) + 65,
             std::uint32_t(stream.size()));
    h.Load(b);
    h.extractor.Writer().SetBufferLimit(1 << 20);
    ASSERT_TRUE(ResetPeakResident()); // so the bound holds whatever ran before in this process
    const long before = PeakResidentKiB();
    EXPECT_EQ(h.extractor.ExtractEntry(0).outcome, EntryOutcome::Damaged);
    EXPECT_EQ(h.extractor.ExtractEntry(1).outcome, EntryOutcome::Damaged);
    EXPECT_LT(PeakResidentKiB() - before, 32 * 1024);
    EXPECT_EQ(FileSizeOf(h.out + "/liar.bin"), 0);
    EXPECT_EQ(FileSizeOf(h.out + "/liar2.bin"), 0);
    EXPECT_EQ(h.messages.failures.size(), 2u);
    EXPECT_EQ(h.messages.failures[0].reason,
              "damaged data: real size is more than the data can hold");
}

TEST(Extract, SharedFoldersAreCreatedOnceAndNamesWithoutFoldersLandAtTheTop) {
    ExtractHarness h;
    ArchiveBuilder b;
    b.AddStored("maps\\walls\\stone.pcx", "1");
    b.AddPacked("maps\\walls\\brick.pcx", "2");
    b.AddStored("maps\\e1m1.bsp", "3");
    b.AddStored("top.txt", "4");
    h.Load(b);
    const ExtractSummary s = h.extractor.ExtractAll();
    EXPECT_EQ(s.written, 4u);
    EXPECT_EQ(h.Tree(),
              "maps/\nmaps/e1m1.bsp\nmaps/walls/\nmaps/walls/brick.pcx\nmaps/walls/stone.pcx\n"
              "top.txt\n");
    EXPECT_EQ(h.Output("maps/walls/brick.pcx"), "2");
    EXPECT_TRUE(h.messages.messages.empty());
    // Again, into folders that now exist.
    EXPECT_EQ(h.extractor.ExtractAll().written, 4u);
    EXPECT_TRUE(h.messages.messages.empty());
}

TEST(Extract, OverwritesAndReplacesRatherThanWritingThroughAHardLink) {
    ExtractHarness h;
    ArchiveBuilder b;
    b.AddStored("f.txt", "new");
    h.Load(b);
    WriteFile(h.out + "/f.txt", "an older and much longer content");
    ASSERT_EQ(::chmod((h.out + "/f.txt").c_str(), 0600), 0);
    EXPECT_EQ(h.extractor.ExtractEntry(0).outcome, EntryOutcome::Written);
    EXPECT_EQ(h.Output("f.txt"), "new");
    // The replacement is a new file, with the mode a new file gets.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    struct stat replaced;
    ASSERT_EQ(::stat((h.out + "/f.txt").c_str(), &replaced), 0);
    EXPECT_EQ(replaced.st_mode & 0777, 0666 & ~mask);
    EXPECT_EQ(h.extractor.ExtractEntry(0).outcome, EntryOutcome::Written);
    EXPECT_EQ(h.Output("f.txt"), "new");

    const std::string elsewhere = h.dir / "elsewhere.txt";
    WriteFile(elsewhere, "keep me");
    ASSERT_EQ(::unlink((h.out + "/f.txt").c_str()), 0);
    ASSERT_EQ(::link(elsewhere.c_str(), (h.out + "/f.txt").c_str()), 0);
    EXPECT_EQ(h.extractor.ExtractEntry(0).outcome, EntryOutcome::Written);
    EXPECT_EQ(h.Output("f.txt"), "new");
    EXPECT_EQ(ReadFile(elsewhere), "keep me");
    struct stat st;
    ASSERT_EQ(::stat(elsewhere.c_str(), &st), 0);
    EXPECT_EQ(st.st_nlink, 1u);
    EXPECT_TRUE(h.messages.messages.empty());
}

TEST(Extract, RowsOutsideTheTableWriteNothing) {
    ExtractHarness h;
    ArchiveBuilder b;
    b.AddStored("a.txt", "a");
    h.Load(b);
    h.extractor.ExtractEntry(-1);
    h.extractor.ExtractEntry(1);
    h.extractor.ExtractEntry(1000000);
    EXPECT_EQ(h.Tree(), "");
    EXPECT_TRUE(h.messages.messages.empty());
    EXPECT_TRUE(h.progress.positions.empty());
}

TEST(ExtractAll, ProgressCountsUpAndEndsAtZero) {
    ExtractHarness h;
    ArchiveBuilder b;
    b.AddStored("a.txt", "a");
    b.AddStored("..\\refused.txt", "r");
    b.AddStored("c.txt", "c");
    h.Load(b);
    EXPECT_EQ(h.progress.range, 3u);
    const ExtractSummary s = h.extractor.ExtractAll();
    EXPECT_EQ(s.written, 2u);
    EXPECT_EQ(s.refused, 1u);
    EXPECT_FALSE(s.AllWritten());
    EXPECT_EQ(h.progress.positions, (std::vector<std::uint32_t>{0, 1, 2, 3, 0}));
    EXPECT_EQ(h.progress.range, 3u);
    EXPECT_EQ(h.Tree(), "a.txt\nc.txt\n");
    EXPECT_EQ(h.messages.messages, std::vector<RecordedMessage>{kCantExtract});
}

// A stop asked for in the middle of a large entry ends it between two pieces: nothing of it
// stays under its name (a file it was to replace stays as it was), and the entries after it
// are not started.
TEST(ExtractAll, AStopInsideALargeEntryLeavesNothingOfItAndStartsNoMore) {
    for (const int kind : {0, 1, 2}) {
        for (const bool replacing : {false, true}) {
            const bool packed = kind > 0;
            SCOPED_TRACE(kind == 0 ? "stored" : kind == 1 ? "packed" : "packed, in pieces");
            SCOPED_TRACE(replacing ? "replacing" : "new");
            ExtractHarness h;
            if (replacing)
                WriteFile(h.out + "/big.bin", "the old file");
            ArchiveBuilder b;
            b.AddStored("first.txt", "done before the stop");
            const std::string big = AllByteValues(24 << 20);
            packed ? b.AddPacked("big.bin", big, 1) : b.AddStored("big.bin", big);
            b.AddStored("after.txt", "never started");
            h.Load(b);
            std::atomic<bool> stop{false};
            h.extractor.Writer().SetWholeEntryLimit(kind == 2 ? 0 : kWholeEntryLimit);
            h.extractor.Writer().SetStopFlag(&stop);
            h.extractor.Writer().SetBetweenPieces([&] { stop = true; });
            const ExtractSummary s = h.extractor.ExtractAll();
            EXPECT_EQ(s.written, 1u);
            EXPECT_EQ(s.stopped, 1u);
            EXPECT_EQ(s.kept, 0u);
            EXPECT_FALSE(s.AllWritten());
            EXPECT_EQ(h.Tree(), replacing ? "big.bin\nfirst.txt\n" : "first.txt\n");
            if (replacing) {
                EXPECT_EQ(h.Output("big.bin"), "the old file");
            }
            EXPECT_TRUE(h.messages.messages.empty());
        }
    }
}

TEST(ExtractAll, WithNoArchiveOpenOnlySetsZero) {
    ExtractHarness h;
    EXPECT_TRUE(h.extractor.ExtractAll().AllWritten());
    EXPECT_EQ(h.progress.positions, std::vector<std::uint32_t>{0});
    h.extractor.ExtractEntry(0);

    // After a failed open that closed a good archive, too.
    ArchiveBuilder b;
    b.AddStored("a.txt", "a");
    h.Load(b);
    EXPECT_FALSE(h.archive.Open(h.dir / "missing.dat"));
    h.messages.messages.clear();
    h.extractor.ExtractAll();
    h.extractor.ExtractEntry(0);
    EXPECT_EQ(h.progress.positions, std::vector<std::uint32_t>{0});
    EXPECT_EQ(h.Tree(), "");
    EXPECT_TRUE(h.messages.messages.empty());
}

class RefusedNameTest : public testing::TestWithParam<std::string> {};

TEST_P(RefusedNameTest, NothingIsCreatedAndTheUserIsTold) {
    ExtractHarness h;
    ArchiveBuilder b;
    b.AddStored(GetParam(), "escaped");
    h.Load(b);
    const std::string scratchBefore = ListTree(h.dir.Path());
    EXPECT_EQ(h.extractor.ExtractEntry(0).outcome, EntryOutcome::Refused);
    EXPECT_EQ(h.messages.messages, std::vector<RecordedMessage>{kCantExtract});
    EXPECT_EQ(h.extractor.ExtractAll().refused, 1u);
    EXPECT_EQ(h.Tree(), "");
    EXPECT_EQ(ListTree(h.dir.Path()), scratchBefore);
}

INSTANTIATE_TEST_SUITE_P(Names, RefusedNameTest,
                         testing::Values("\\abs.txt", "\\", "\\\\\\", "C:x", "c:\\x.txt",
                                         "Z:", "a\\\\x.txt", "a\\", ".", "..", ".\\x.txt",
                                         "..\\x.txt", "a\\.\\x.txt", "a\\..\\x.txt", "a\\b\\..",
                                         "..\\..\\..\\tmp\\evil.txt", "",
                                         // Hidden names: settings planted in a home folder.
                                         ".bashrc", ".ssh\\authorized_keys",
                                         ".config\\autostart\\x.desktop", "mod\\.git\\config"));

// The window writes beside the archive: neither an entry named like it nor one named like a
// hard link to it replaces it.
TEST(Extract, NeverOverTheArchiveBeingRead) {
    ExtractHarness h;
    ArchiveBuilder b;
    b.AddStored("test.dat", "would replace the archive");
    b.AddPacked("twin.dat", "would replace it too");
    b.AddStored("ok.txt", "fine");
    const std::string bytes = b.Build();
    h.Load(b);
    ASSERT_EQ(::link((h.dir / "test.dat").c_str(), (h.dir / "twin.dat").c_str()), 0);
    h.extractor.SetDestination(h.dir.Path());
    const ExtractSummary s = h.extractor.ExtractAll();
    EXPECT_EQ(s.refused, 2u);
    EXPECT_EQ(s.written, 1u);
    EXPECT_EQ(h.messages.messages, std::vector<RecordedMessage>(2, kCantExtract));
    EXPECT_EQ(ReadFile(h.dir / "test.dat"), bytes);
    struct stat st;
    ASSERT_EQ(::stat((h.dir / "twin.dat").c_str(), &st), 0);
    EXPECT_EQ(st.st_nlink, 2u);
}

// The decoder into memory, as a preview takes an entry: the same bytes and outcomes as a file,
// and a limit that is a failure, not a short result.
TEST(DecodeEntry, IntoMemoryGivesWhatAFileGets) {
    ExtractHarness h;
    ArchiveBuilder b;
    const std::string data = AllByteValues(300000);
    b.AddStored("stored.bin", data);
    b.AddPacked("packed.bin", data);
    std::string stream = ArchiveBuilder::Zlib(data);
    stream[stream.size() / 2] ^= 0x55;
    b.AddRaw("damaged.bin", stream, std::uint32_t(data.size()), std::uint32_t(stream.size()));
    h.Load(b);
    struct Row {
        std::uint32_t index;
        std::size_t limit;
        EntryOutcome outcome;
        std::string bytes;
    };
    const std::vector<Row> rows = {
        {0, SIZE_MAX, EntryOutcome::Written, data},
        {1, SIZE_MAX, EntryOutcome::Written, data},
        {2, SIZE_MAX, EntryOutcome::Damaged, ""},
        {1, 1000, EntryOutcome::NotWritten, ""},
    };
    EntryWriter writer;
    for (const Row& row : rows) {
        SCOPED_TRACE(std::to_string(row.index) + " limit " + std::to_string(row.limit));
        h.messages.messages.clear();
        MemorySink sink(row.limit);
        EXPECT_EQ(writer.DecodeEntry(h.archive, row.index, sink, h.messages).outcome, row.outcome);
        EXPECT_EQ(sink.Bytes(), row.bytes);
        EXPECT_EQ(h.messages.messages.size(), row.outcome == EntryOutcome::NotWritten ? 1u : 0u);
    }
}

TEST(Extract, NoMemoryForTheBufferLeavesAnEmptyFile) {
    ExtractHarness h;
    ArchiveBuilder b;
    b.AddStored("stored.bin", std::string(1000, 's'));
    b.AddPacked("packed.bin", std::string(1000, 'p'));
    b.AddStored("small.txt", "ok");
    h.Load(b);
    h.extractor.Writer().SetBufferLimit(16);
    const ExtractSummary s = h.extractor.ExtractAll();
    EXPECT_EQ(s.notWritten, 2u);
    EXPECT_EQ(s.written, 1u);
    EXPECT_EQ(h.messages.messages, std::vector<RecordedMessage>(2, kCantExtract));
    EXPECT_TRUE(Exists(h.out + "/stored.bin"));
    EXPECT_EQ(FileSizeOf(h.out + "/stored.bin"), 0);
    EXPECT_EQ(FileSizeOf(h.out + "/packed.bin"), 0);
    EXPECT_EQ(h.Output("small.txt"), "ok");
}

// A file-size limit stands in for a full disk: the write fails part way.
TEST(Extract, OutputThatCannotBeWrittenWholeIsNotWrittenAndEmpty) {
    ExtractHarness h;
    ArchiveBuilder b;
    b.AddStored("stored.bin", AllByteValues(64 * 1024));
    b.AddPacked("packed.bin", AllByteValues(64 * 1024));
    b.AddStored("small.txt", "ok");
    h.Load(b);

    for (const std::size_t wholeLimit : kBothWays) {
        SCOPED_TRACE(wholeLimit ? "whole" : "in pieces");
        h.messages.messages.clear();
        h.messages.failures.clear();
        h.extractor.Writer().SetWholeEntryLimit(wholeLimit);
        ExtractSummary s;
        {
            ScopedFileSizeLimit limit(4096);
            s = h.extractor.ExtractAll();
        }
        EXPECT_EQ(s.notWritten, 2u);
        EXPECT_EQ(s.written, 1u);
        EXPECT_EQ(h.messages.messages, std::vector<RecordedMessage>(2, kCantExtract));
        // The user is told which entry, and the system's own reason.
        ASSERT_EQ(h.messages.failures.size(), 2u);
        EXPECT_EQ(h.messages.failures[0].entry, "stored.bin");
        EXPECT_EQ(h.messages.failures[1].entry, "packed.bin");
        EXPECT_EQ(h.messages.failures[0].reason, std::strerror(EFBIG));
        EXPECT_EQ(h.messages.failures[1].reason, std::strerror(EFBIG));
        EXPECT_EQ(FileSizeOf(h.out + "/stored.bin"), 0);
        EXPECT_EQ(FileSizeOf(h.out + "/packed.bin"), 0);
        EXPECT_EQ(h.Output("small.txt"), "ok");
    }
}

TEST(Extract, SomethingElseInTheWayIsNotWritten) {
    ExtractHarness h;
    ArchiveBuilder b;
    b.AddStored("taken", "file where a folder is");
    b.AddStored("taken\\x.txt", "x");
    b.AddStored("folder", "a folder is here");
    h.Load(b);
    ASSERT_EQ(::mkdir((h.out + "/folder").c_str(), 0755), 0);
    const ExtractSummary s = h.extractor.ExtractAll();
    EXPECT_EQ(s.written, 1u);
    EXPECT_EQ(s.notWritten, 2u);
    EXPECT_EQ(h.messages.messages, std::vector<RecordedMessage>(2, kCantExtract));
    EXPECT_EQ(h.Tree(), "folder/\ntaken\n");
}

TEST(Extract, MissingDestinationFolderIsReported) {
    ExtractHarness h;
    ArchiveBuilder b;
    b.AddStored("a.txt", "a");
    b.AddStored("b.txt", "b");
    h.Load(b);
    h.extractor.SetDestination(h.dir / "nowhere");
    EXPECT_EQ(h.extractor.ExtractEntry(0).outcome, EntryOutcome::NotWritten);
    const ExtractSummary s = h.extractor.ExtractAll();
    EXPECT_EQ(s.notWritten, 2u);
    EXPECT_FALSE(Exists(h.dir / "nowhere"));
    EXPECT_EQ(h.messages.messages.size(), 2u);
    EXPECT_EQ(h.messages.messages[0], kCantExtract);
}

// Data and directories beyond 2 GiB (and up to 4 GiB) are served: the file is sparse, so it
// costs no disk space.
TEST(Extract, OffsetsBeyondTwoGibibytes) {
    ExtractHarness h;
    const std::string stored = AllByteValues(5000);
    const std::string content = AllByteValues(20000) + std::string(20000, 'z');
    const std::string stream = ArchiveBuilder::Zlib(content);
    constexpr std::uint32_t kStoredAt = 0x80000010u;
    constexpr std::uint32_t kDirectoryAt = 0xC0000000u;
    constexpr std::uint32_t kPackedAt = 0xFFFF0000u;

    std::string header;
    ArchiveBuilder::PutLE32(header, 0x54414456);
    ArchiveBuilder::PutLE32(header, kDirectoryAt);
    ArchiveBuilder::PutLE32(header, 2 * 144);
    const std::string directory =
        ArchiveBuilder::Record("far\\stored.bin", kStoredAt, std::uint32_t(stored.size()), 0) +
        ArchiveBuilder::Record("far\\packed.bin", kPackedAt, std::uint32_t(content.size()),
                               std::uint32_t(stream.size()));

    const std::string path = h.dir / "sparse.dat";
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    const auto put = [&](const std::string& bytes, std::uint64_t at) {
        return ::pwrite(fd, bytes.data(), bytes.size(), off_t(at)) == ssize_t(bytes.size());
    };
    const bool written = put(header, 0) && put(stored, kStoredAt) && put(directory, kDirectoryAt) &&
                         put(stream, kPackedAt);
    ::close(fd);
    if (!written) {
        ::unlink(path.c_str());
        GTEST_SKIP() << "this file system cannot hold a sparse 4 GiB file";
    }

    ASSERT_TRUE(h.archive.Open(path));
    h.archive.LoadDirectory();
    EXPECT_TRUE(h.messages.messages.empty());
    ASSERT_EQ(h.list.rows.size(), 2u);
    EXPECT_EQ(h.list.rows[0].name, "far\\stored.bin");
    EXPECT_EQ(h.list.rows[1].name, "far\\packed.bin");
    const ExtractSummary s = h.extractor.ExtractAll();
    EXPECT_EQ(s.written, 2u);
    EXPECT_EQ(h.Output("far/stored.bin"), stored);
    EXPECT_EQ(h.Output("far/packed.bin"), content);
    EXPECT_TRUE(h.messages.messages.empty());
}

// Small entries, packed and stored, are read through a window onto the archive: whatever order
// they are asked for in, and wherever a window boundary falls, each gets exactly its own bytes.
std::string Varied(std::size_t i) {
    std::string out(1 + (i * 7919) % 20000, '\0');
    for (std::size_t k = 0; k < out.size(); ++k)
        out[k] = char("window"[k % 6] + (k / 97 + i) % 5);
    return out;
}

TEST(ReadWindow, EntriesInAnyOrderGetTheirOwnBytes) {
    ExtractHarness h;
    ArchiveBuilder b;
    constexpr std::size_t kCount = 700;
    for (std::size_t i = 0; i < kCount; ++i) {
        const std::string name = "d" + std::to_string(i % 9) + "\\e" + std::to_string(i);
        i % 7 == 3 ? b.AddStored(name, Varied(i)) : b.AddPacked(name, Varied(i));
    }
    h.Load(b);
    auto check = [&](const std::string& folder, std::span<const std::uint32_t> which) {
        for (std::uint32_t i : which)
            ASSERT_EQ(ReadFile(folder + "/d" + std::to_string(i % 9) + "/e" + std::to_string(i)),
                      Varied(i))
                << "entry " << i;
    };
    std::vector<std::uint32_t> all(kCount);
    for (std::uint32_t i = 0; i < kCount; ++i)
        all[i] = i;
    EXPECT_EQ(h.extractor.ExtractAll().written, kCount);
    check(h.out, all);

    // Backwards, every third then the rest, with one and with two workers.
    std::vector<std::uint32_t> backwards(all.rbegin(), all.rend());
    std::vector<std::uint32_t> strided;
    for (std::uint32_t start : {0u, 1u, 2u})
        for (std::uint32_t i = start; i < kCount; i += 3)
            strided.push_back(i);
    int round = 0;
    for (const auto* order : {&backwards, &strided}) {
        for (unsigned workers : {1u, 2u}) {
            const std::string folder = h.dir / ("round" + std::to_string(round++));
            ::mkdir(folder.c_str(), 0755);
            Destination destination;
            ASSERT_TRUE(destination.Open(folder));
            const ExtractSummary summary = RunExtraction(
                h.archive, {.entries = *order, .destination = &destination, .workers = workers},
                h.messages, [](std::size_t, std::uint32_t, const EntryResult&) {});
            EXPECT_EQ(summary.written, kCount);
            check(folder, *order);
        }
    }
    EXPECT_TRUE(h.messages.messages.empty());
}

// Failures of a run on the pool reach the user in directory order, whichever worker met them,
// and a Stop answer ends the run at that entry: nothing after it is reported.
TEST(ParallelRun, FailuresInDirectoryOrderAndStopEndsTheRunThere) {
    struct Row {
        unsigned workers;
        bool reporterOnly; // this thread only reports, as the window runs it
    };
    const Row rows[] = {
        {.workers = 1, .reporterOnly = false},
        {.workers = 3, .reporterOnly = false},
        {.workers = 3, .reporterOnly = true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message()
                     << row.workers << " workers, reporter only " << row.reporterOnly);
        ExtractHarness h;
        ArchiveBuilder b;
        for (int i = 0; i < 400; ++i)
            b.AddPacked(i % 50 == 7 ? "..\\bad" + std::to_string(i) : "e" + std::to_string(i),
                        std::string(3000, char('a' + i % 26)));
        h.Load(b);
        h.messages.answers = {FailureAnswer::Ok, FailureAnswer::SkipAll, FailureAnswer::Stop};
        std::vector<std::uint32_t> all(400);
        std::iota(all.begin(), all.end(), 0u);
        Destination destination;
        ASSERT_TRUE(destination.Open(h.out));
        std::vector<std::size_t> reported;
        int waits = 0;
        const ExtractSummary s = RunExtraction(
            h.archive,
            {.entries = all,
             .destination = &destination,
             .workers = row.workers,
             .whileWaiting = row.reporterOnly ? std::function<void()>([&] { ++waits; }) : nullptr},
            h.messages, [&](std::size_t position, std::uint32_t, const EntryResult&) {
                reported.push_back(position);
            });
        ASSERT_EQ(h.messages.failures.size(), 3u);
        EXPECT_EQ(h.messages.failures[0].entry, "..\\bad7");
        EXPECT_EQ(h.messages.failures[1].entry, "..\\bad57");
        EXPECT_EQ(h.messages.failures[2].entry, "..\\bad107");
        EXPECT_EQ(h.messages.failures[2].reason, "name leads outside the destination");
        std::vector<std::size_t> expected(108);
        std::iota(expected.begin(), expected.end(), 0u);
        EXPECT_EQ(reported, expected);
        EXPECT_EQ(s.refused, 3u);
        EXPECT_EQ(s.written, 105u);
        EXPECT_EQ(h.Output("e106"), std::string(3000, char('a' + 106 % 26)));
        EXPECT_EQ(row.reporterOnly, waits > 0);
    }
}

// Two archives of the same layout and different bytes, opened in turn by one DatArchive and
// written by one writer that is never told to let go of what it read.
TEST(ReadWindow, AReopenedArchiveIsNeverServedTheEarlierFilesBytes) {
    Harness h;
    ArchiveBuilder first, second;
    for (const char* name : {"a.txt", "b.txt"}) {
        first.AddPacked(name, std::string(3000, 'x') + name, 0);
        second.AddPacked(name, std::string(3000, 'y') + name, 0);
    }
    ASSERT_EQ(first.Build().size(), second.Build().size());
    const std::string out = h.dir / "out";
    ::mkdir(out.c_str(), 0755);
    Destination destination;
    ASSERT_TRUE(destination.Open(out));
    EntryWriter writer;

    ASSERT_TRUE(h.OpenBytes(first.Build(), "first.dat"));
    EXPECT_EQ(writer.WriteEntry(h.archive, 0, destination, h.messages).outcome,
              EntryOutcome::Written);
    ASSERT_TRUE(h.OpenBytes(second.Build(), "second.dat"));
    EXPECT_EQ(writer.WriteEntry(h.archive, 1, destination, h.messages).outcome,
              EntryOutcome::Written);
    EXPECT_EQ(ReadFile(out + "/b.txt"), std::string(3000, 'y') + "b.txt");
}

} // namespace
