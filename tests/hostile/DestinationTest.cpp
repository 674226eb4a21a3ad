// Destinations that already hold links pointing elsewhere, or files the user keeps. The entries
// that would go through a symlink are refused and the link is left as it is; a hard link is
// replaced, never written through; a read-only file is not written and stays as it is; nothing
// outside the destination changes, and the other entries are written.
#include "Destination.h"
#include "DatArchive.h"
#include "EntryPath.h"
#include "Extraction.h"

#include "ArchiveBuilder.h"
#include "Harness.h"
#include "HostileSupport.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <map>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Paths in the layout: DEST and OUTSIDE stand for the two folders.
struct Layout {
    std::string dest;
    std::string outside;
};

struct LinkCase {
    std::string name{};
    std::function<void(const Layout&)> plant{};                // puts the links in place
    std::vector<std::pair<std::string, std::string>> stored{}; // entry name -> content
    std::vector<std::pair<std::string, std::string>> packed{};
    std::uint32_t refused = 0;
    std::string tree{}; // the destination afterwards
    std::map<std::string, std::string> files{};
    std::vector<std::string> notWritten{}; // entries not written; the rest is written
};

const std::string kPrecious = "precious: must stay as it is\n";

void Link(const std::string& target, const std::string& at) {
    ASSERT_EQ(::symlink(target.c_str(), at.c_str()), 0) << at;
}

std::vector<LinkCase> Cases() {
    return {
        {.name = "FolderSymlinkPointingOutside",
         .plant = [](const Layout& l) { Link(l.outside, l.dest + "/linked"); },
         .stored = {{"linked\\evil.txt", "escaped\n"}, {"ok.txt", "fine\n"}},
         .packed = {{"linked\\deeper\\evil2.txt", "escaped too\n"}, {"sub\\ok2.txt", "fine too\n"}},
         .refused = 2,
         .tree = "linked\nok.txt\nsub/\nsub/ok2.txt\n",
         .files = {{"ok.txt", "fine\n"}, {"sub/ok2.txt", "fine too\n"}}},
        {.name = "FileSymlinkPointingOutside",
         .plant =
             [](const Layout& l) { Link(l.outside + "/precious.txt", l.dest + "/victim.txt"); },
         .stored = {{"victim.txt", "overwritten\n"}, {"ok.txt", "fine\n"}},
         .packed = {{"victim2.txt", "not planted, written\n"}},
         .refused = 1,
         .tree = "ok.txt\nvictim.txt\nvictim2.txt\n",
         .files = {{"ok.txt", "fine\n"}, {"victim2.txt", "not planted, written\n"}}},
        {.name = "PackedEntryOnAFileSymlink",
         .plant =
             [](const Layout& l) { Link(l.outside + "/precious.txt", l.dest + "/victim.txt"); },
         .packed = {{"victim.txt", "overwritten by a packed entry\n"}},
         .refused = 1,
         .tree = "victim.txt\n"},
        {.name = "DanglingSymlinkPointingOutside",
         .plant =
             [](const Layout& l) { Link(l.outside + "/created.txt", l.dest + "/dangling.txt"); },
         .stored = {{"dangling.txt", "would create a file outside\n"}, {"ok.txt", "fine\n"}},
         .refused = 1,
         .tree = "dangling.txt\nok.txt\n",
         .files = {{"ok.txt", "fine\n"}}},
        {.name = "SymlinkDeeperDown",
         .plant =
             [](const Layout& l) {
                 ASSERT_EQ(::mkdir((l.dest + "/real").c_str(), 0755), 0);
                 Link("../../outside", l.dest + "/real/inner");
             },
         .stored = {{"real\\inner\\x.txt", "escaped\n"}, {"real\\y.txt", "fine\n"}},
         .packed = {{"real\\inner\\sub\\z.txt", "escaped\n"}},
         .refused = 2,
         .tree = "real/\nreal/inner\nreal/y.txt\n",
         .files = {{"real/y.txt", "fine\n"}}},
        {.name = "SymlinkStayingInsideIsRefusedToo",
         .plant =
             [](const Layout& l) {
                 ASSERT_EQ(::mkdir((l.dest + "/real").c_str(), 0755), 0);
                 Link("real", l.dest + "/alias");
             },
         .stored = {{"alias\\x.txt", "through a link\n"}, {"real\\x.txt", "direct\n"}},
         .refused = 1,
         .tree = "alias\nreal/\nreal/x.txt\n",
         .files = {{"real/x.txt", "direct\n"}}},
        {.name = "HardLinkToAFileOutside",
         .plant =
             [](const Layout& l) {
                 ASSERT_EQ(
                     ::link((l.outside + "/precious.txt").c_str(), (l.dest + "/hard.txt").c_str()),
                     0);
             },
         .stored = {{"hard.txt", "replaced, not written through\n"}},
         .refused = 0,
         .tree = "hard.txt\n",
         .files = {{"hard.txt", "replaced, not written through\n"}}},
        // Root may write anything: the owner's write bit is what tells a file the user keeps.
        {.name = "ReadOnlyFileInTheWay",
         .plant =
             [](const Layout& l) {
                 WriteFile(l.dest + "/kept.txt", kPrecious);
                 ASSERT_EQ(::chmod((l.dest + "/kept.txt").c_str(), 0444), 0);
                 WriteFile(l.dest + "/others-may-write.txt", kPrecious);
                 ASSERT_EQ(::chmod((l.dest + "/others-may-write.txt").c_str(), 0577), 0);
             },
         .stored = {{"kept.txt", "would replace a read-only file\n"}, {"ok.txt", "fine\n"}},
         .packed = {{"others-may-write.txt", "packed, would replace it too\n"}},
         .refused = 0,
         .tree = "kept.txt\nok.txt\nothers-may-write.txt\n",
         .files = {{"kept.txt", kPrecious},
                   {"ok.txt", "fine\n"},
                   {"others-may-write.txt", kPrecious}},
         .notWritten = {"kept.txt", "others-may-write.txt"}},
    };
}

// Failures name the case rather than dumping its bytes.
void PrintTo(const LinkCase& c, std::ostream* os) {
    *os << c.name;
}

class LinksInTheDestination : public ::testing::TestWithParam<LinkCase> {
protected:
    // A fresh world: the archive, an outside folder with a file in it, and the destination
    // with the case's links planted.
    Layout MakeWorld(const TempDir& dir, const std::string& label) {
        Layout l{dir / (label + "/dest"), dir / (label + "/outside")};
        EXPECT_EQ(::mkdir((dir / label).c_str(), 0755), 0);
        EXPECT_EQ(::mkdir(l.dest.c_str(), 0755), 0);
        EXPECT_EQ(::mkdir(l.outside.c_str(), 0755), 0);
        WriteFile(l.outside + "/precious.txt", kPrecious);
        GetParam().plant(l);
        return l;
    }

    std::string Archive() const {
        ArchiveBuilder b;
        for (const auto& [name, content] : GetParam().stored)
            b.AddStored(name, content);
        for (const auto& [name, content] : GetParam().packed)
            b.AddPacked(name, content);
        return b.Build();
    }

    void ExpectOnlyDestinationChanged(const Layout& l,
                                      const std::map<std::string, std::string>& linksBefore,
                                      const std::map<std::string, std::string>& outsideBefore) {
        const LinkCase& c = GetParam();
        EXPECT_EQ(Contents(l.outside), outsideBefore);
        const auto after = Contents(l.dest);
        for (const auto& [rel, what] : linksBefore) {
            if (what.starts_with("link ") || std::ranges::count(c.notWritten, rel) > 0) {
                EXPECT_EQ(after.count(rel) ? after.at(rel) : "gone", what) << rel;
            }
        }
        EXPECT_EQ(ListTree(l.dest), c.tree);
        for (const auto& [path, content] : c.files)
            EXPECT_EQ(ReadFile(l.dest + "/" + path), content) << path;
    }
};

TEST_P(LinksInTheDestination, RefusesWhatGoesThroughALinkAndWritesTheRest) {
    const LinkCase& c = GetParam();
    const auto total = std::uint32_t(c.stored.size() + c.packed.size());
    const auto notWritten = std::uint32_t(c.notWritten.size());
    const auto failed = c.refused + notWritten;
    TempDir dir;
    const std::string archivePath = dir / "archive.dat";
    WriteFile(archivePath, Archive());

    {
        SCOPED_TRACE("library");
        const Layout l = MakeWorld(dir, "library");
        const auto outsideBefore = Contents(l.outside);
        const auto linksBefore = Contents(l.dest);
        RecordedArchive recorded;
        auto& [messages, list, progress, archive] = recorded;
        ASSERT_TRUE(archive.Open(archivePath));
        archive.LoadDirectory();
        Extractor extractor(archive, messages, progress);
        extractor.SetDestination(l.dest);
        const ExtractSummary s = extractor.ExtractAll();
        EXPECT_EQ(s.refused, c.refused);
        EXPECT_EQ(s.notWritten, notWritten);
        EXPECT_EQ(s.written, total - failed);
        EXPECT_EQ(messages.messages,
                  std::vector<RecordedMessage>(failed, {"Can`t Extract file", "Error!"}));
        ExpectOnlyDestinationChanged(l, linksBefore, outsideBefore);
    }
    {
        SCOPED_TRACE("vdat");
        const Layout l = MakeWorld(dir, "vdat");
        const auto outsideBefore = Contents(l.outside);
        const auto linksBefore = Contents(l.dest);
        const ProcessResult run = RunVdat({"extract", archivePath, "-C", l.dest});
        EXPECT_EQ(run.exitCode, failed ? 1 : 0) << run.err;
        EXPECT_EQ(Occurrences(run.err, VdatShown("Can`t Extract file")), failed) << run.err;
        for (const std::string& name : c.notWritten)
            EXPECT_EQ(Occurrences(run.err, "vdat: " + name + ": Can`t Extract file (not written"),
                      1u)
                << run.err;
        ExtractSummary s;
        s.written = total - failed;
        s.refused = c.refused;
        s.notWritten = notWritten;
        EXPECT_EQ(Occurrences(run.err, SummaryLine(s)), 1u) << run.err;
        ExpectOnlyDestinationChanged(l, linksBefore, outsideBefore);
    }
}

INSTANTIATE_TEST_SUITE_P(Destinations, LinksInTheDestination, ::testing::ValuesIn(Cases()),
                         [](const ::testing::TestParamInfo<LinkCase>& info) {
                             return info.param.name;
                         });

// A replacement is written under a temporary name beside the old file. Whatever already holds
// the names it tries (a folder, a symlink to a file outside, a dangling symlink) is passed over:
// never followed, never removed.
TEST(ReplacementInTheDestination, PassesOverWhateverHoldsATemporaryName) {
    TempDir dir;
    const Layout l{dir / "dest", dir / "outside"};
    ASSERT_EQ(::mkdir(l.dest.c_str(), 0755), 0);
    ASSERT_EQ(::mkdir(l.outside.c_str(), 0755), 0);
    ASSERT_EQ(::mkdir((l.dest + "/sub").c_str(), 0755), 0);
    WriteFile(l.outside + "/precious.txt", kPrecious);
    WriteFile(l.dest + "/sub/f.txt", "the old file\n");
    ArchiveBuilder b;
    b.AddPacked("sub\\f.txt", "the new file\n");
    const std::string archivePath = dir / "archive.dat";
    WriteFile(archivePath, b.Build());

    constexpr std::uint64_t kSeed = 1234;
    const EntryPath path = *ParseEntryPath("sub\\f.txt");
    Destination predictor;
    predictor.SeedTemporaryNames(kSeed);
    const std::string taken[] = {predictor.TemporaryName(path), predictor.TemporaryName(path),
                                 predictor.TemporaryName(path)};
    EXPECT_TRUE(taken[0].starts_with("sub/.f.txt.vdat-")) << taken[0];
    ASSERT_EQ(::mkdir((l.dest + "/" + taken[0]).c_str(), 0755), 0);
    WriteFile(l.dest + "/" + taken[0] + "/inside.txt", kPrecious);
    Link(l.outside + "/precious.txt", l.dest + "/" + taken[1]);
    Link(l.outside + "/created.txt", l.dest + "/" + taken[2]);
    const auto outsideBefore = Contents(l.outside);
    const auto destBefore = Contents(l.dest);

    RecordedArchive recorded;
    auto& [messages, list, progress, archive] = recorded;
    ASSERT_TRUE(archive.Open(archivePath));
    archive.LoadDirectory();
    Destination destination;
    ASSERT_TRUE(destination.Open(l.dest));
    destination.SeedTemporaryNames(kSeed);
    EntryWriter writer;
    EXPECT_EQ(writer.WriteEntry(archive, 0, destination, messages).outcome, EntryOutcome::Written);
    EXPECT_TRUE(messages.messages.empty());
    EXPECT_EQ(ReadFile(l.dest + "/sub/f.txt"), "the new file\n");
    EXPECT_EQ(Contents(l.outside), outsideBefore);
    auto destAfter = Contents(l.dest);
    destAfter.erase("sub/f.txt");
    auto expected = destBefore;
    expected.erase("sub/f.txt");
    EXPECT_EQ(destAfter, expected); // the three in the way as they were, and nothing else left
}

// A replacement killed while it was written leaves its temporary file behind; the next run that
// writes that file clears it, but not one a live run still holds, nor another file's; also when
// the folder's handle was dropped (few descriptors, many folders) between finding and writing.
TEST(ReplacementInTheDestination, ClearsWhatAKilledRunLeftButNotALiveOne) {
    for (const bool dropped : {false, true}) {
        SCOPED_TRACE(dropped ? "folder dropped in between" : "one entry");
        TempDir dir;
        const std::string dest = dir / "dest", sub = dir / "dest/sub";
        ASSERT_EQ(::mkdir(dest.c_str(), 0755), 0);
        ASSERT_EQ(::mkdir(sub.c_str(), 0755), 0);
        WriteFile(sub + "/f.txt", "the old file\n");
        const std::string stale = sub + "/.f.txt.vdat-0123abcd",
                          live = sub + "/.f.txt.vdat-89abcdef",
                          other = sub + "/.g.txt.vdat-00000000";
        for (const std::string& path : {stale, live, other})
            WriteFile(path, "part of an entry");
        const int held = ::open(live.c_str(), O_RDONLY | O_CLOEXEC);
        ASSERT_EQ(::flock(held, LOCK_EX), 0);
        ArchiveBuilder b;
        if (dropped) {
            b.AddStored("sub\\a.txt", "a");
            for (int i = 0; i < 100; ++i)
                b.AddStored("d" + std::to_string(i) + "\\x", "x");
        }
        b.AddPacked("sub\\f.txt", "the new file\n");
        const std::string archivePath = dir / "archive.dat";
        WriteFile(archivePath, b.Build());

        ProcessOptions options;
        options.openFilesLimit = dropped ? 64 : -1;
        const ProcessResult run =
            RunProcess({VDAT_BIN, "extract", "-j", "1", archivePath, "-C", dest}, options);
        ::close(held);
        EXPECT_EQ(run.exitCode, 0) << run.err;
        EXPECT_EQ(ReadFile(sub + "/f.txt"), "the new file\n");
        EXPECT_EQ(ListTree(sub), std::string(".f.txt.vdat-89abcdef\n.g.txt.vdat-00000000\n") +
                                     (dropped ? "a.txt\n" : "") + "f.txt\n");
    }
}

// ---- vdat extract interrupted ----------------------------------------------------------------

struct InterruptCase {
    std::string name;
    int signal;
    const char* jobs;
    bool replacing; // every entry's name already holds a file
    int times;      // how often the signal is sent
};

void PrintTo(const InterruptCase& c, std::ostream* os) {
    *os << c.name;
}

// Large enough that vdat is caught in the middle of it: it is inflated in one go, then written
// in pieces; the stored one is copied in pieces.
struct InterruptArchive {
    std::vector<std::pair<std::string, std::string>> entries; // output path -> content
    std::string bytes;
    InterruptArchive() {
        // Sixteen letters in no order: few matches, so it inflates slowly enough to be caught.
        std::string big(32 << 20, '\0');
        std::uint32_t x = 1;
        for (std::size_t i = 0; i < big.size(); ++i, x = x * 1664525u + 1013904223u)
            big[i] = char('a' + (x >> 28));
        std::string stored(16 << 20, '\0');
        for (std::size_t i = 0; i < stored.size(); ++i)
            stored[i] = char((i * 13 + i / 999) & 0xFF);
        ArchiveBuilder b;
        b.AddStored("first.txt", "first");
        b.AddPacked("big.bin", big, 1);
        b.AddStored("sub\\stored.bin", stored);
        b.AddStored("last.txt", "last");
        bytes = b.Build();
        entries = {{"first.txt", "first"},
                   {"big.bin", std::move(big)},
                   {"sub/stored.bin", std::move(stored)},
                   {"last.txt", "last"}};
    }
};

const InterruptArchive& SharedInterruptArchive() {
    static const InterruptArchive archive;
    return archive;
}

class InterruptedExtraction : public ::testing::TestWithParam<InterruptCase> {};

// Whatever the moment: every file under an entry's name is whole (or the user's old one), no
// temporary file stays, the summary is printed, and vdat ends by the signal it was sent.
TEST_P(InterruptedExtraction, LeavesNoPartOfAnEntryAndEndsByTheSignal) {
    const InterruptCase& c = GetParam();
    const InterruptArchive& content = SharedInterruptArchive();
    TempDir dir;
    const std::string archivePath = dir / "archive.dat";
    WriteFile(archivePath, content.bytes);
    const std::string dest = dir / "dest";
    ASSERT_EQ(::mkdir(dest.c_str(), 0755), 0);
    ASSERT_EQ(::mkdir((dest + "/sub").c_str(), 0755), 0);
    if (c.replacing) {
        for (const auto& [path, bytes] : content.entries)
            WriteFile(dest + "/" + path, "old " + path);
    }

    // In the middle of the large packed entry: it is inflated whole before anything is
    // written, so its file, not yet under any name, stays empty for a while; the others' files
    // grow at once or are done in a moment.
    // Only big.bin's file counts (under its name, or its replacement's temporary name): on a
    // busy machine even first.txt's may stay empty for a moment before its five bytes.
    std::map<ino_t, std::chrono::steady_clock::time_point> empty;
    auto isBig = [&](ino_t file) {
        for (const auto& entry : std::filesystem::directory_iterator(dest)) {
            const std::string name = entry.path().filename().string();
            struct stat st;
            if ((name == "big.bin" || name.starts_with(".big.bin.vdat-")) &&
                ::lstat(entry.path().c_str(), &st) == 0 && st.st_ino == file)
                return true;
        }
        return false;
    };
    auto inTheMiddle = [&] {
        const auto now = std::chrono::steady_clock::now();
        for (ino_t file : ChildFilesBeneath(dest, 1)) {
            if (!isBig(file))
                continue;
            const auto [at, fresh] = empty.emplace(file, now);
            if (!fresh && now - at->second > std::chrono::milliseconds(1))
                return true;
        }
        return false;
    };
    ProcessOptions signalled;
    signalled.signalWhen = inTheMiddle;
    signalled.signal = c.signal;
    signalled.signalTimes = c.times;
    const ProcessResult run =
        RunVdat({"extract", "-j", c.jobs, archivePath, "-C", dest}, signalled);

    EXPECT_EQ(run.signal, c.signal) << run.err;
    EXPECT_EQ(run.exitCode, -1);
    EXPECT_EQ(Occurrences(run.err, "vdat: big.bin: stopped"), 1u) << run.err;
    EXPECT_EQ(Occurrences(run.err, " stopped, "), 1u) << run.err;
    EXPECT_TRUE(run.err.ends_with(": interrupted\n")) << run.err;
    for (const auto& [path, bytes] : content.entries) {
        const std::string at = dest + "/" + path;
        if (c.replacing) {
            EXPECT_TRUE(ReadFile(at) == bytes || ReadFile(at) == "old " + path) << path;
        } else if (Exists(at)) {
            EXPECT_TRUE(ReadFile(at) == bytes) << path;
        }
    }
    EXPECT_EQ(ListTree(dest).find(".vdat-"), std::string::npos) << ListTree(dest);
}

const InterruptCase kInterruptCases[] = {
    {.name = "Interrupt", .signal = SIGINT, .jobs = "1", .replacing = false, .times = 1},
    {.name = "Terminate", .signal = SIGTERM, .jobs = "2", .replacing = false, .times = 1},
    {.name = "InterruptReplacing", .signal = SIGINT, .jobs = "2", .replacing = true, .times = 1},
    {.name = "TerminateReplacing", .signal = SIGTERM, .jobs = "1", .replacing = true, .times = 1},
    {.name = "HangUp", .signal = SIGHUP, .jobs = "2", .replacing = false, .times = 1},
    {.name = "InterruptTwice", .signal = SIGINT, .jobs = "2", .replacing = true, .times = 2},
};

INSTANTIATE_TEST_SUITE_P(Signals, InterruptedExtraction, ::testing::ValuesIn(kInterruptCases),
                         [](const ::testing::TestParamInfo<InterruptCase>& info) {
                             return info.param.name;
                         });

} // namespace
