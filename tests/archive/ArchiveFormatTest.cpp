// The archive format as the reader sees it: identifier check and its message, short files,
// directory sizes, name fields, field decoding, picture choice and the size text; and what the
// writer refuses to write.
#include "ArchiveRewriter.h"
#include "ArchiveWriter.h"
#include "Harness.h"

#include <sys/mman.h>

#include <gtest/gtest.h>

namespace {

struct IdentifierCase {
    std::string firstBytes;
    const char* shownId; // the iD line of the message
};

class IdentifierTest : public testing::TestWithParam<IdentifierCase> {};

TEST_P(IdentifierTest, OtherFilesAreNotArchivesAndShowTheirFirstFourBytes) {
    Harness h;
    // A plausible header follows, so only the identifier can be the reason for the refusal.
    std::string bytes = GetParam().firstBytes;
    ArchiveBuilder::PutLE32(bytes, 12);
    ArchiveBuilder::PutLE32(bytes, 0);
    EXPECT_FALSE(h.OpenBytes(bytes));
    EXPECT_FALSE(h.archive.IsOpen());
    ASSERT_EQ(h.messages.messages.size(), 1u);
    EXPECT_EQ(h.messages.messages[0],
              Error(std::string("It`s not DAT file!\niD:0x") + GetParam().shownId));
    EXPECT_TRUE(h.list.rows.empty());
}

INSTANTIATE_TEST_SUITE_P(Identifiers, IdentifierTest,
                         testing::Values(IdentifierCase{"DATV", "56544144"},
                                         IdentifierCase{"vdat", "74616476"},
                                         IdentifierCase{"VDAt", "74414456"},
                                         IdentifierCase{"TADV", "56444154"},
                                         IdentifierCase{std::string("PK\x03\x04", 4), " 4034B50"},
                                         IdentifierCase{std::string("\0\0\0\0", 4), "       0"},
                                         IdentifierCase{"\xff\xff\xff\xff", "FFFFFFFF"}));

TEST(Identifier, VdatOpens) {
    Harness h;
    ArchiveBuilder b;
    EXPECT_TRUE(h.OpenBytes(b.Build()));
    EXPECT_TRUE(h.archive.IsOpen());
    EXPECT_EQ(h.archive.Identifier(), 0x54414456u);
    EXPECT_TRUE(h.messages.messages.empty());
}

// A file that ends inside the 12-byte header is not an archive, even when it starts with VDAT;
// the bytes it lacks read as zero on the iD line.
TEST(ShortFile, EveryLengthBelowTheHeaderIsNotAnArchive) {
    ArchiveBuilder b;
    b.directorySize = 0;
    const std::string full = b.Build(); // "VDAT", offset 12, size 0
    ASSERT_EQ(full.size(), 12u);
    const char* shown[] = {"       0", "      56", "    4456", "  414456", "54414456"};
    for (std::size_t length = 0; length < 12; ++length) {
        SCOPED_TRACE(length);
        Harness h;
        EXPECT_FALSE(h.OpenBytes(full.substr(0, length)));
        EXPECT_FALSE(h.archive.IsOpen());
        ASSERT_EQ(h.messages.messages.size(), 1u);
        EXPECT_EQ(h.messages.messages[0], Error(std::string("It`s not DAT file!\niD:0x") +
                                                shown[std::min<std::size_t>(length, 4)]));
    }
    Harness h;
    EXPECT_TRUE(h.OpenBytes(full));
    EXPECT_EQ(h.archive.EntryCount(), 0u);
}

struct DirectorySizeCase {
    std::uint32_t size;
    std::uint32_t entries;
};

class DirectorySizeTest : public testing::TestWithParam<DirectorySizeCase> {};

// The file holds exactly the bytes the directory size claims, so none of these is cut short and
// none may complain: a remainder below 144 is simply never read.
TEST_P(DirectorySizeTest, WholeRecordsOnly) {
    Harness h;
    ArchiveBuilder b;
    b.AddStored("one.txt", "1");
    b.AddStored("two.txt", "22");
    b.AddStored("three.txt", "333");
    std::string bytes = b.Build();
    const std::size_t directoryOffset = 12 + 6;
    bytes.resize(directoryOffset + GetParam().size);
    bytes.replace(8, 4, [&] {
        std::string s;
        ArchiveBuilder::PutLE32(s, GetParam().size);
        return s;
    }());
    ASSERT_TRUE(h.OpenBytes(bytes));
    EXPECT_TRUE(h.messages.messages.empty());
    EXPECT_FALSE(h.archive.IsDirectoryCutShort());
    EXPECT_EQ(h.archive.DirectorySize(), GetParam().size);
    EXPECT_EQ(h.archive.EntryCount(), GetParam().entries);
    EXPECT_EQ(h.archive.Entries().size(), GetParam().entries);
    ASSERT_EQ(h.list.rows.size(), GetParam().entries);
    EXPECT_EQ(h.progress.range, GetParam().entries);
    const char* names[] = {"one.txt", "two.txt", "three.txt"};
    for (std::uint32_t i = 0; i < GetParam().entries; ++i)
        EXPECT_EQ(h.list.rows[i].name, names[i]);
}

INSTANTIATE_TEST_SUITE_P(Sizes, DirectorySizeTest,
                         testing::Values(DirectorySizeCase{0, 0}, DirectorySizeCase{143, 0},
                                         DirectorySizeCase{144, 1}, DirectorySizeCase{300, 2},
                                         DirectorySizeCase{432, 3}));

TEST(DirectoryRecord, FieldsAreLittleEndianAndKeptAsRead) {
    Harness h;
    std::string bytes;
    ArchiveBuilder::PutLE32(bytes, 0x54414456);
    ArchiveBuilder::PutLE32(bytes, 12);
    ArchiveBuilder::PutLE32(bytes, 144);
    bytes += ArchiveBuilder::Record("x.bin", 0x04030201, 0x08070605, 0x0C0B0A09, 0xDEADBEEF);
    ASSERT_TRUE(h.OpenBytes(bytes));
    ASSERT_EQ(h.archive.Entries().size(), 1u);
    const DirectoryEntry& e = h.archive.Entries()[0].entry;
    EXPECT_EQ(e.Name(), "x.bin");
    EXPECT_EQ(e.dataOffset, 0x04030201u);
    EXPECT_EQ(e.realSize, 0x08070605u);
    EXPECT_EQ(e.packedSize, 0x0C0B0A09u);
    EXPECT_EQ(e.fourthValue, 0xDEADBEEFu);
    EXPECT_EQ(h.archive.DirectoryOffset(), 12u);
    EXPECT_EQ(h.list.rows[0].sizeText, "202050057 [134678021]");
}

TEST(NameField, UsesEverythingBeforeTheNulAndAllOf128BytesWithoutOne) {
    Harness h;
    const std::string name127 = std::string(123, 'a') + ".wav";
    const std::string name128 = std::string(124, 'b') + ".png";
    ArchiveBuilder b;
    b.AddStored(name127, "x");
    b.AddStored(name128, "y");                             // fills the field: no NUL
    b.AddStored(std::string("abc\0garbage.mp3", 15), "z"); // bytes after the NUL are not used
    b.AddStored(std::string("\0hidden", 7), "w");          // an empty name
    ASSERT_TRUE(h.OpenBytes(b.Build()));
    ASSERT_EQ(h.list.rows.size(), 4u);
    EXPECT_EQ(h.list.rows[0].name, name127);
    EXPECT_EQ(h.list.rows[0].image, IconWav);
    EXPECT_EQ(h.list.rows[1].name, name128);
    EXPECT_EQ(h.list.rows[1].image, IconPng);
    EXPECT_EQ(h.list.rows[2].name, "abc");
    EXPECT_EQ(h.list.rows[2].image, IconUnknown);
    EXPECT_EQ(h.list.rows[3].name, "");
    EXPECT_EQ(h.archive.Entries()[1].entry.Name(), name128);
    for (const auto& row : h.list.rows)
        EXPECT_EQ(row.level, 0);
}

struct ClassifyCase {
    const char* name;
    FileTypeIcon icon;
};

class ClassifyTest : public testing::TestWithParam<ClassifyCase> {};

TEST_P(ClassifyTest, ThirdAndSecondLastCharacters) {
    EXPECT_EQ(DatArchive::ClassifyName(GetParam().name), GetParam().icon);
    // The list gets the same picture when the name comes from a directory.
    Harness h;
    ArchiveBuilder b;
    b.AddStored(GetParam().name, "");
    ASSERT_TRUE(h.OpenBytes(b.Build()));
    ASSERT_EQ(h.list.rows.size(), 1u);
    EXPECT_EQ(h.list.rows[0].image, GetParam().icon);
}

INSTANTIATE_TEST_SUITE_P(Names, ClassifyTest,
                         testing::Values(ClassifyCase{.name = "sound\\x.mp3", .icon = IconMp3},
                                         ClassifyCase{.name = "clip.mpg", .icon = IconMp3},
                                         ClassifyCase{.name = "model.md2", .icon = IconMdl},
                                         ClassifyCase{.name = "setup.ini", .icon = IconTxt},
                                         ClassifyCase{.name = "PIC.BMP", .icon = IconUnknown},
                                         ClassifyCase{.name = "xmpq", .icon = IconMp3},
                                         ClassifyCase{.name = "a.dmp", .icon = IconUnknown},
                                         ClassifyCase{.name = "a.bmp", .icon = IconBmp},
                                         ClassifyCase{.name = "e1m1.gdb", .icon = IconGdb},
                                         ClassifyCase{.name = "s.pcx", .icon = IconPcx},
                                         ClassifyCase{.name = "s.tga", .icon = IconTga},
                                         ClassifyCase{.name = "l.png", .icon = IconPng},
                                         ClassifyCase{.name = "d.wav", .icon = IconWav},
                                         ClassifyCase{.name = "m.bsp", .icon = IconBsp},
                                         ClassifyCase{.name = "r.txt", .icon = IconTxt},
                                         ClassifyCase{.name = "i.apd", .icon = IconApd},
                                         ClassifyCase{.name = "mpx", .icon = IconMp3},
                                         ClassifyCase{.name = "mp", .icon = IconUnknown},
                                         ClassifyCase{.name = "", .icon = IconUnknown},
                                         ClassifyCase{.name = "x.Mp3", .icon = IconUnknown},
                                         ClassifyCase{.name = "noext", .icon = IconUnknown}));

TEST(SizeText, PackedThenRealBothUnsigned) {
    DirectoryEntry e{};
    e.realSize = 1234;
    EXPECT_EQ(SizeText(e).String(), "0 [1234]");
    e.packedSize = 512;
    e.realSize = 2048;
    EXPECT_EQ(SizeText(e).String(), "512 [2048]");
    e.packedSize = 0;
    e.realSize = 3000000000u;
    EXPECT_EQ(SizeText(e).String(), "0 [3000000000]");
    e.packedSize = 0xFFFFFFFF;
    e.realSize = 0xFFFFFFFF;
    EXPECT_EQ(SizeText(e).String(), "4294967295 [4294967295]");
}

// The list index a record keeps is whatever the list returned, and the size text goes to it.
TEST(ListIndex, IsTheValueTheListReturned) {
    struct OffsetList : ListSink {
        int AddEntry(std::string_view, int, int) override { return 100 + added++; }
        void SetEntryText(int index, int column, std::string_view text) override {
            texts.push_back(std::to_string(index) + ":" + std::to_string(column) + ":" +
                            std::string(text));
        }
        int added = 0;
        std::vector<std::string> texts;
    } list;
    MessageRecorder messages;
    ProgressRecorder progress;
    DatArchive archive(messages, list, progress);
    TempDir dir;
    ArchiveBuilder b;
    b.AddStored("a", "1");
    b.AddPacked("b", "22");
    WriteFile(dir / "x.dat", b.Build());
    ASSERT_TRUE(archive.Open(dir / "x.dat"));
    archive.LoadDirectory();
    ASSERT_EQ(archive.Entries().size(), 2u);
    EXPECT_EQ(archive.Entries()[0].listIndex, 100);
    EXPECT_EQ(archive.Entries()[1].listIndex, 101);
    const std::string packed = std::to_string(archive.Entries()[1].entry.packedSize);
    EXPECT_EQ(list.texts, (std::vector<std::string>{"100:1:0 [1]", "101:1:" + packed + " [2]"}));
}

// Names the writer must not put into an archive: no room for the NUL, a NUL inside, or a name
// extraction would refuse.
TEST(ArchiveWriterNames, RefusesWhatReadersCannotTakeBack) {
    const std::vector<std::pair<std::string, bool>> rows = {
        {std::string(127, 'a'), true},
        {std::string(128, 'a'), false},
        {std::string("a\0b", 3), false},
        {"maps\\e1.bsp", true},
        {"..\\x", false},
        {"a\\\\b", false},
        {"C:x", false},
        {"caf\xe9 folder\\x", true},
    };
    for (const auto& [name, accepted] : rows)
        EXPECT_EQ(EntryNameProblem(name) == nullptr, accepted) << name;
}

// Takes bytes without keeping them, so archives of many GiB cost no memory.
class CountingOutput : public ArchiveOutput {
public:
    bool Append(const void*, std::size_t length) override {
        appended += length;
        return true;
    }
    bool WriteAt(std::uint64_t, const void*, std::size_t) override { return true; }
    std::uint64_t appended = 0;
};

TEST(ArchiveWriterLimits, DataPast32BitOffsetsIsRefused) {
    // Address space only: the counting output never reads these bytes.
    constexpr std::size_t kGiB = std::size_t(1) << 30;
    void* reserved =
        ::mmap(nullptr, 4 * kGiB, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    ASSERT_NE(reserved, MAP_FAILED);
    const std::string_view huge(static_cast<const char*>(reserved), 2 * kGiB);
    CountingOutput output;
    ArchiveWriter writer(output);
    EXPECT_TRUE(writer.AddEntry("a", huge, 0, 1));
    // 12 + 2 GiB + (2 GiB - 12) ends exactly at 4 GiB, one past the last addressable byte.
    EXPECT_FALSE(writer.AddEntry("b", huge.substr(0, 2 * kGiB - 12), 0, 1));
    EXPECT_TRUE(writer.Overflow());
    EXPECT_EQ(writer.Directory().size(), 1u);
    CountingOutput fits;
    ArchiveWriter fitting(fits);
    EXPECT_TRUE(fitting.AddEntry("a", huge, 0, 1));
    EXPECT_TRUE(fitting.AddEntry("b", huge.substr(0, 2 * kGiB - 13), 0, 1));
    EXPECT_TRUE(fitting.Finish());
    EXPECT_FALSE(fitting.Overflow());
    EXPECT_EQ(fits.appended, 4 * kGiB - 1 + 2 * 144);
    ::munmap(reserved, 4 * kGiB);
}

} // namespace

// The rewriter copies entries as they are stored, without inflating them, and puts the new
// archive in place only on commit: abandoned, it leaves nothing beside its target.
TEST(ArchiveRewriter, CopiesRawEntriesAndLeavesNothingWhenAbandoned) {
    Harness h;
    ArchiveBuilder b;
    b.AddStored("a.txt", "stored as it is");
    b.AddPacked("dir\\b.bin", std::string(5000, 'b'));
    b.AddRaw("bad.bin", "not a zlib stream", 100, 17); // copied as it is: damage and all
    const std::string bytes = b.Build();
    ASSERT_TRUE(h.OpenBytes(bytes));
    const std::string target = h.dir / "copy.dat";
    {
        ArchiveRewriter rewriter;
        ASSERT_TRUE(rewriter.Begin(target));
        EXPECT_EQ(rewriter.AddRaw("a.txt", h.archive, 0), ArchiveRewriter::Result::Done);
        EXPECT_NE(ListTree(h.dir.Path()).find("copy.dat."), std::string::npos);
    }
    EXPECT_EQ(ListTree(h.dir.Path()), "test.dat\n");

    ArchiveRewriter rewriter;
    ASSERT_TRUE(rewriter.Begin(target));
    for (std::uint32_t i = 0; i < 3; ++i)
        EXPECT_EQ(rewriter.AddRaw(h.archive.EntryName(i), h.archive, i),
                  ArchiveRewriter::Result::Done);
    EXPECT_EQ(rewriter.Commit(target, false), ArchiveRewriter::Result::Done);
    EXPECT_EQ(ReadFile(target), bytes); // the same layout: data in order, then the directory
}
