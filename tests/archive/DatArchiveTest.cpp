// Opening, reopening and closing archives: the header values each kind of failure leaves, the
// table allocation, a directory that claims more than the file holds, progress and Info.
#include "Directory.h"
#include "Harness.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Three entries: data "abc" (3 bytes), so the directory starts at 0xf and is 0x1b0 long.
std::string ThreeEntries() {
    ArchiveBuilder b;
    b.AddStored("a.txt", "a");
    b.AddStored("b.txt", "b");
    b.AddStored("c.txt", "c");
    return b.Build();
}

// Two entries in a different layout: directory at 0x15 (data "abcdefghi"), 0x120 long.
std::string TwoEntries() {
    ArchiveBuilder b;
    b.AddStored("x.txt", "abcd");
    b.AddStored("y.txt", "efghi");
    return b.Build();
}

struct Values {
    std::uint32_t identifier, offset, size, count;
    bool operator==(const Values&) const = default;
};

Values ValuesOf(const DatArchive& a) {
    return {a.Identifier(), a.DirectoryOffset(), a.DirectorySize(), a.EntryCount()};
}

void PrintTo(const Values& v, std::ostream* os) {
    *os << std::hex << "{id 0x" << v.identifier << ", offset 0x" << v.offset << ", size 0x"
        << v.size << ", count " << std::dec << v.count << "}";
}

TEST(Lifecycle, StartsClosedWithZeroValues) {
    Harness h;
    EXPECT_FALSE(h.archive.IsOpen());
    EXPECT_EQ(ValuesOf(h.archive), (Values{0, 0, 0, 0}));
    EXPECT_TRUE(h.archive.Entries().empty());
    EXPECT_EQ(InfoText(h.archive),
              "Dat File:\niD:0x0\nTable Offset:0x0\nTable Size:0x0\nNum of Files:0\n");
}

// Each failure keeps exactly the values it did not read, and the path of the attempt.
TEST(Lifecycle, FailedOpensKeepWhatTheyDidNotRead) {
    Harness h;
    const std::string good = h.Write(ThreeEntries(), "good.dat");
    ASSERT_TRUE(h.archive.Open(good));
    h.archive.LoadDirectory();
    const Values first{0x54414456, 0xf, 0x1b0, 3};
    EXPECT_EQ(ValuesOf(h.archive), first);

    // The file cannot be opened: nothing read.
    const std::string missing = h.dir / "missing.dat";
    EXPECT_FALSE(h.archive.Open(missing));
    EXPECT_FALSE(h.archive.IsOpen());
    EXPECT_TRUE(h.archive.Entries().empty());
    EXPECT_EQ(h.archive.Path(), missing);
    EXPECT_EQ(ValuesOf(h.archive), first);
    EXPECT_EQ(h.messages.messages.back(), Error("Can`t open DAT file!\nFile:" + missing));

    // A folder and a FIFO cannot be opened either (and the FIFO must not hang the open).
    EXPECT_FALSE(h.archive.Open(h.dir.Path()));
    EXPECT_EQ(h.messages.messages.back(), Error("Can`t open DAT file!\nFile:" + h.dir.Path()));
    const std::string fifo = h.dir / "fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_FALSE(h.archive.Open(fifo));
    EXPECT_EQ(h.messages.messages.back(), Error("Can`t open DAT file!\nFile:" + fifo));
    EXPECT_EQ(ValuesOf(h.archive), first);

    // A wrong identifier: only the identifier was read.
    const std::string zip = h.Write(std::string("PK\x03\x04\x14\0\0\0\0\0\0\0", 12), "x.zip");
    EXPECT_FALSE(h.archive.Open(zip));
    EXPECT_EQ(h.archive.Path(), zip);
    EXPECT_EQ(ValuesOf(h.archive), (Values{0x04034B50, 0xf, 0x1b0, 3}));
    EXPECT_EQ(h.messages.messages.back(), Error("It`s not DAT file!\niD:0x 4034B50"));
    EXPECT_EQ(InfoText(h.archive), "Dat File:" + zip +
                                       "\niD:0x4034b50\nTable Offset:0xf\nTable Size:0x1b0\n"
                                       "Num of Files:3\n");

    // No memory for the table: all four come from the new file.
    const std::string other = h.Write(TwoEntries(), "other.dat");
    h.archive.SetTableAllocator([](std::size_t) { return std::unique_ptr<EntryRecord[]>(); });
    EXPECT_FALSE(h.archive.Open(other));
    EXPECT_FALSE(h.archive.IsOpen());
    EXPECT_TRUE(h.archive.Entries().empty());
    EXPECT_EQ(ValuesOf(h.archive), (Values{0x54414456, 0x15, 0x120, 2}));
    EXPECT_EQ(h.messages.messages.back(), Error("Can`t creat Memory!"));
    EXPECT_EQ(h.messages.messages.size(), 5u);

    // The list saw only the first archive; nothing was added by the failures.
    EXPECT_EQ(h.list.rows.size(), 3u);
}

TEST(Lifecycle, FailedOpenClosesTheArchiveThatWasOpenAndLeavesTheProgressBar) {
    Harness h;
    const int before = OpenDescriptors();
    ASSERT_TRUE(h.OpenBytes(ThreeEntries()));
    EXPECT_EQ(OpenDescriptors(), before + 1);
    EXPECT_EQ(h.progress.range, 3u);
    EXPECT_EQ(h.progress.position, 3u);
    const auto positions = h.progress.positions;

    EXPECT_FALSE(h.archive.Open(h.dir / "missing.dat"));
    EXPECT_EQ(OpenDescriptors(), before);
    EXPECT_EQ(h.progress.range, 3u);
    EXPECT_EQ(h.progress.positions, positions);
}

TEST(Lifecycle, OpeningTwiceKeepsOneFileOpen) {
    Harness h;
    const std::string path = h.Write(ThreeEntries());
    const int before = OpenDescriptors();
    for (int round = 0; round < 2; ++round) {
        h.list.rows.clear(); // the window clears its list before every open
        ASSERT_TRUE(h.archive.Open(path));
        h.archive.LoadDirectory();
        EXPECT_EQ(OpenDescriptors(), before + 1);
        EXPECT_EQ(h.list.rows.size(), 3u);
        EXPECT_EQ(h.archive.Entries().size(), 3u);
    }
    h.archive.Close();
    EXPECT_EQ(OpenDescriptors(), before);
    EXPECT_FALSE(h.archive.IsOpen());
    EXPECT_TRUE(h.archive.Entries().empty());
    // Close keeps the path and the header values.
    EXPECT_EQ(h.archive.Path(), path);
    EXPECT_EQ(ValuesOf(h.archive), (Values{0x54414456, 0xf, 0x1b0, 3}));
    h.archive.Close(); // twice is harmless
    EXPECT_TRUE(h.messages.messages.empty());
}

TEST(Lifecycle, PathIsKeptWhole) {
    Harness h;
    std::string folder = h.dir.Path();
    while (folder.size() < 300) {
        folder += "/" + std::string(60, 'p');
        ASSERT_EQ(::mkdir(folder.c_str(), 0700), 0);
    }
    const std::string path = folder + "/archive.dat";
    WriteFile(path, ThreeEntries());
    ASSERT_TRUE(h.archive.Open(path));
    EXPECT_EQ(h.archive.Path(), path);
    EXPECT_EQ(InfoText(h.archive).substr(0, 9 + path.size() + 1), "Dat File:" + path + "\n");

    const std::string missing = folder + "/missing.dat";
    EXPECT_FALSE(h.archive.Open(missing));
    EXPECT_EQ(h.messages.messages.back(), Error("Can`t open DAT file!\nFile:" + missing));
}

TEST(Info, ShowsTheHeaderValues) {
    Harness h;
    const std::string path = h.Write(TwoEntries());
    ASSERT_TRUE(h.archive.Open(path));
    EXPECT_EQ(InfoText(h.archive), "Dat File:" + path +
                                       "\niD:0x54414456\nTable Offset:0x15\nTable Size:0x120\n"
                                       "Num of Files:2\n");
}

TEST(TableAllocation, AskedForTheEntryCountAndFailureIsReported) {
    Harness h;
    std::vector<std::size_t> asked;
    h.archive.SetTableAllocator([&](std::size_t count) {
        asked.push_back(count);
        return std::unique_ptr<EntryRecord[]>(new EntryRecord[count]);
    });
    ASSERT_TRUE(h.OpenBytes(ThreeEntries()));
    EXPECT_EQ(asked, std::vector<std::size_t>{3});
    EXPECT_TRUE(h.messages.messages.empty());

    h.archive.SetTableAllocator([](std::size_t) { return std::unique_ptr<EntryRecord[]>(); });
    h.list.rows.clear();
    EXPECT_FALSE(h.OpenBytes(ThreeEntries()));
    EXPECT_FALSE(h.archive.IsOpen());
    ASSERT_EQ(h.messages.messages.size(), 1u);
    EXPECT_EQ(h.messages.messages[0], Error("Can`t creat Memory!"));
    EXPECT_TRUE(h.list.rows.empty());
}

// A 1 KiB file whose directory claims 4,294,967,295 bytes (29,826,161 records): only the seven
// records that lie whole inside the file are loaded.
std::string CutShortKiB() {
    std::string bytes;
    ArchiveBuilder::PutLE32(bytes, 0x54414456);
    ArchiveBuilder::PutLE32(bytes, 12);
    ArchiveBuilder::PutLE32(bytes, 0xFFFFFFFF);
    for (int i = 0; i < 7; ++i)
        bytes += ArchiveBuilder::Record("file" + std::to_string(i) + ".txt", 0, 4, 0);
    bytes.resize(1024, 'G'); // the start of an eighth record, never to be shown
    return bytes;
}

TEST(CutShortDirectory, LoadsOnlyWholeRecordsAndSaysSo) {
    Harness h;
    ASSERT_TRUE(ResetPeakResident()); // so the bound holds whatever ran before in this process
    const long before = PeakResidentKiB();
    ASSERT_TRUE(h.OpenBytes(CutShortKiB()));
    const long grown = PeakResidentKiB() - before;
    EXPECT_LT(grown, 32 * 1024) << "peak memory grew by " << grown << " KiB for a 1 KiB file";

    EXPECT_TRUE(h.archive.IsOpen());
    EXPECT_TRUE(h.archive.IsDirectoryCutShort());
    EXPECT_EQ(h.archive.EntryCount(), 7u);
    EXPECT_EQ(h.archive.DirectorySize(), 0xFFFFFFFFu);
    ASSERT_EQ(h.list.rows.size(), 7u);
    for (int i = 0; i < 7; ++i)
        EXPECT_EQ(h.list.rows[i].name, "file" + std::to_string(i) + ".txt");
    ASSERT_EQ(h.messages.messages.size(), 1u);
    EXPECT_EQ(h.messages.messages[0].caption, "Error!");
    EXPECT_FALSE(h.messages.messages[0].text.empty());
    EXPECT_EQ(h.progress.range, 7u);
    EXPECT_EQ(h.progress.position, 7u);
    EXPECT_EQ(InfoText(h.archive), "Dat File:" + h.archive.Path() +
                                       "\niD:0x54414456\nTable Offset:0xc\nTable Size:0xffffffff\n"
                                       "Num of Files:7\n");
}

// The directory as a value, with no sinks: the records, or what failed and why.
TEST(DirectoryValue, RecordsOrTheProblem) {
    TempDir dir;
    ArchiveBuilder b;
    b.AddStored("a.txt", "a");
    b.AddPacked("sub\\b.txt", "bbbb");
    WriteFile(dir / "good.dat", b.Build());
    WriteFile(dir / "cut.dat", CutShortKiB());
    WriteFile(dir / "text.dat", "hello, world");
    struct Row {
        std::string file;
        bool read;
        ArchiveFailure what;
        std::size_t entries;
        bool cutShort;
    };
    const std::vector<Row> rows = {
        {"good.dat", true, ArchiveFailure::None, 2, false},
        {"cut.dat", true, ArchiveFailure::None, 7, true},
        {"text.dat", false, ArchiveFailure::NotAnArchive, 0, false},
        {"missing.dat", false, ArchiveFailure::CannotOpen, 0, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.file);
        Directory directory;
        ArchiveProblem problem;
        EXPECT_EQ(ReadArchiveDirectory(dir / row.file, directory, problem), row.read);
        EXPECT_EQ(problem.what, row.what);
        EXPECT_EQ(directory.entries.size(), row.entries);
        EXPECT_EQ(directory.CutShort(), row.cutShort);
    }
    Directory directory;
    ArchiveProblem problem;
    ASSERT_TRUE(ReadArchiveDirectory(dir / "good.dat", directory, problem));
    EXPECT_EQ(directory.entries[1].Name(), "sub\\b.txt");
    EXPECT_EQ(directory.entries[1].realSize, 4u);
    ReadArchiveDirectory(dir / "missing.dat", directory, problem);
    EXPECT_EQ(problem.error, ENOENT);
    ReadArchiveDirectory(dir / "text.dat", directory, problem);
    EXPECT_EQ(problem.identifier, 0x6c6c6568u); // "hell"
}

// Listing without keeping: the same rows and messages as loading, and afterwards nothing that
// extraction could mistake for a loaded table.
TEST(ListDirectory, SendsWhatLoadingSendsAndKeepsNothing) {
    for (const std::string& bytes : {ThreeEntries(), CutShortKiB()}) {
        Harness loaded, listed;
        const std::string path = loaded.Write(bytes);
        ASSERT_TRUE(loaded.archive.Open(path));
        loaded.archive.LoadDirectory();
        ASSERT_TRUE(listed.archive.Open(path));
        listed.archive.ListDirectory();

        ASSERT_EQ(listed.list.rows.size(), loaded.list.rows.size());
        for (std::size_t i = 0; i < loaded.list.rows.size(); ++i) {
            EXPECT_EQ(listed.list.rows[i].name, loaded.list.rows[i].name);
            EXPECT_EQ(listed.list.rows[i].image, loaded.list.rows[i].image);
            EXPECT_EQ(listed.list.rows[i].sizeText, loaded.list.rows[i].sizeText);
        }
        EXPECT_EQ(listed.messages.messages, loaded.messages.messages);
        EXPECT_EQ(listed.archive.IsDirectoryCutShort(), loaded.archive.IsDirectoryCutShort());
        EXPECT_EQ(listed.progress.position, loaded.progress.position);
        EXPECT_TRUE(listed.archive.Entries().empty());
        EXPECT_FALSE(loaded.archive.Entries().empty());
    }
}

TEST(CutShortDirectory, TableIsSizedByTheFileNotTheHeader) {
    Harness h;
    std::vector<std::size_t> asked;
    h.archive.SetTableAllocator([&](std::size_t count) {
        asked.push_back(count);
        return count > 1000 ? nullptr : std::unique_ptr<EntryRecord[]>(new EntryRecord[count]);
    });
    EXPECT_TRUE(h.OpenBytes(CutShortKiB()));
    EXPECT_EQ(asked, std::vector<std::size_t>{7});
}

TEST(CutShortDirectory, DirectoryPastTheEndOrEndingInsideARecord) {
    {
        Harness h;
        ArchiveBuilder b;
        b.AddStored("a.txt", "a");
        b.directoryOffset = 5000;
        ASSERT_TRUE(h.OpenBytes(b.Build()));
        EXPECT_TRUE(h.archive.IsDirectoryCutShort());
        EXPECT_EQ(h.archive.EntryCount(), 0u);
        EXPECT_TRUE(h.list.rows.empty());
        ASSERT_EQ(h.messages.messages.size(), 1u);
        EXPECT_EQ(h.messages.messages[0].caption, "Error!");
    }
    {
        Harness h;
        ArchiveBuilder b;
        b.AddStored("a.txt", "a");
        b.AddStored("b.txt", "b");
        std::string bytes = b.Build();
        bytes.resize(bytes.size() - 100); // the second record is cut
        ASSERT_TRUE(h.OpenBytes(bytes));
        EXPECT_TRUE(h.archive.IsDirectoryCutShort());
        EXPECT_EQ(h.archive.EntryCount(), 1u);
        ASSERT_EQ(h.list.rows.size(), 1u);
        EXPECT_EQ(h.list.rows[0].name, "a.txt");
        EXPECT_EQ(h.messages.messages.size(), 1u);
    }
}

TEST(Progress, RangeIsTheEntryCountAndPositionsCountUp) {
    Harness h;
    ASSERT_TRUE(h.OpenBytes(ThreeEntries()));
    EXPECT_EQ(h.progress.range, 3u);
    EXPECT_EQ(h.progress.positions, (std::vector<std::uint32_t>{0, 1, 2, 3}));

    Harness empty;
    ArchiveBuilder b;
    ASSERT_TRUE(empty.OpenBytes(b.Build()));
    EXPECT_EQ(empty.progress.range, 0u);
    EXPECT_EQ(empty.progress.positions, std::vector<std::uint32_t>{0});
}

// Progress ranges above 65,535 must not be cut to 16 bits.
TEST(Progress, LargeDirectories) {
    Harness h;
    constexpr std::uint32_t kCount = 70000;
    std::string bytes;
    ArchiveBuilder::PutLE32(bytes, 0x54414456);
    ArchiveBuilder::PutLE32(bytes, 12);
    ArchiveBuilder::PutLE32(bytes, kCount * 144);
    const std::string record = ArchiveBuilder::Record("same.txt", 0, 0, 0);
    bytes.reserve(12 + kCount * 144);
    for (std::uint32_t i = 0; i < kCount; ++i)
        bytes += record;
    ASSERT_TRUE(h.OpenBytes(bytes));
    EXPECT_EQ(h.progress.range, kCount);
    EXPECT_EQ(h.progress.positions.size(), kCount + 1);
    EXPECT_EQ(h.progress.position, kCount);
    EXPECT_EQ(h.list.rows.size(), kCount);
}

} // namespace
