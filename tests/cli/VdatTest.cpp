// vdat end to end: the program is run as a user would run it, and its stdout, stderr, exit
// status and the files it writes are checked.
#include "ArchiveBuilder.h"
#include "Process.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

namespace {

ProcessResult Vdat(std::vector<std::string> args, const ProcessOptions& options = {}) {
    args.insert(args.begin(), VDAT_BINARY);
    return RunProcess(args, options);
}

ProcessOptions InFolder(const std::string& folder) {
    ProcessOptions options;
    options.workingDirectory = folder;
    return options;
}

ProcessOptions StdoutTo(const std::string& path) {
    ProcessOptions options;
    options.stdoutPath = path;
    return options;
}

std::string LastLine(const std::string& text) {
    if (text.empty())
        return "";
    const std::size_t end = text.back() == '\n' ? text.size() - 1 : text.size();
    const std::size_t start = text.rfind('\n', end - 1);
    return text.substr(start == std::string::npos ? 0 : start + 1,
                       end - (start == std::string::npos ? 0 : start + 1));
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = text.find('\n', start);
        lines.push_back(text.substr(start, end - start));
        if (end == std::string::npos)
            break;
        start = end + 1;
    }
    return lines;
}

// Checks the summary line of `extract` counts each outcome as expected.
void ExpectSummary(const std::string& err, unsigned written, unsigned refused, unsigned damaged,
                   unsigned notWritten) {
    const std::string last = LastLine(err);
    EXPECT_NE(last.find(std::to_string(written) + " written"), std::string::npos) << last;
    EXPECT_NE(last.find(std::to_string(refused) + " refused"), std::string::npos) << last;
    EXPECT_NE(last.find(std::to_string(damaged) + " damaged"), std::string::npos) << last;
    EXPECT_NE(last.find(std::to_string(notWritten) + " not written"), std::string::npos) << last;
}

// Directory at 0x15, two records.
std::string TwoEntries() {
    ArchiveBuilder b;
    b.AddStored("x.txt", "abcd");
    b.AddStored("y.txt", "efghi");
    return b.Build();
}

std::string CutShortKiB() {
    std::string bytes;
    ArchiveBuilder::PutLE32(bytes, 0x54414456);
    ArchiveBuilder::PutLE32(bytes, 12);
    ArchiveBuilder::PutLE32(bytes, 0xFFFFFFFF);
    for (int i = 0; i < 7; ++i)
        bytes += ArchiveBuilder::Record("f" + std::to_string(i) + ".txt", 0, 4, 0);
    bytes.resize(1024, 'G');
    return bytes;
}

struct Scratch {
    TempDir dir;
    std::string Archive(const std::string& bytes, const std::string& name = "a.dat") {
        WriteFile(dir / name, bytes);
        return dir / name;
    }
    std::string Folder(const std::string& name) {
        ::mkdir((dir / name).c_str(), 0755);
        return dir / name;
    }
};

TEST(VdatInfo, PrintsTheHeaderValuesWithThePathAsGiven) {
    Scratch s;
    s.Archive(TwoEntries(), "two.dat");
    const ProcessResult r = Vdat({"info", "two.dat"}, InFolder(s.dir.Path()));
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, "Dat File:two.dat\niD:0x54414456\nTable Offset:0x15\nTable Size:0x120\n"
                     "Num of Files:2\n");
    EXPECT_EQ(r.err, "");
}

TEST(VdatInfo, FailuresGoToStderrAsCaptionAndText) {
    Scratch s;
    const std::string zip = s.Archive(std::string("PK\x03\x04\x14\0\0\0\0\0\0\0", 12), "x.zip");
    ProcessResult r = Vdat({"info", zip});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, "Error!: It`s not DAT file!\niD:0x 4034B50\n");
    EXPECT_EQ(r.out, "Dat File:" + zip +
                         "\niD:0x4034b50\nTable Offset:0x0\nTable Size:0x0\nNum of Files:0\n");

    const std::string missing = s.dir / "missing.dat";
    r = Vdat({"info", missing});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, "Error!: Can`t open DAT file!\nFile:" + missing + "\n");

    r = Vdat({"info", s.Archive("VDA", "short.dat")});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, "Error!: It`s not DAT file!\niD:0x  414456\n");
}

TEST(VdatInfo, CutShortDirectoryFails) {
    Scratch s;
    const ProcessResult r = Vdat({"info", s.Archive(CutShortKiB())});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.out.find("\nTable Size:0xffffffff\nNum of Files:7\n"), std::string::npos) << r.out;
    EXPECT_EQ(r.err.rfind("Error!: ", 0), 0u) << r.err;
}

TEST(VdatList, OneLinePerEntryWithControlBytesEscaped) {
    Scratch s;
    ArchiveBuilder b;
    const std::string packedText(3000, 'r');
    b.AddPacked("readme.txt", packedText);
    b.AddStored("dir\\sub\\a.bmp", "12345");
    b.AddStored("x\ty\x01\x1b[2J\x7f.wav", "abc");
    b.AddStored("caf\xe9.mp3", "");
    const std::string full = std::string(124, 'n') + ".apd";
    b.AddStored(full, "");
    b.AddStored("noext", "");
    const std::string packed = std::to_string(ArchiveBuilder::Zlib(packedText).size());
    const ProcessResult r = Vdat({"list", s.Archive(b.Build())});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, "readme.txt\t" + packed +
                         " [3000]\ttxt\n"
                         "dir\\sub\\a.bmp\t0 [5]\tbmp\n"
                         "x\\x09y\\x01\\x1b[2J\\x7f.wav\t0 [3]\twav\n"
                         "caf\xe9.mp3\t0 [0]\tmp3\n" +
                         full +
                         "\t0 [0]\tapd\n"
                         "noext\t0 [0]\tunk\n");
}

TEST(VdatList, SizesAreUnsigned) {
    Scratch s;
    std::string bytes;
    ArchiveBuilder::PutLE32(bytes, 0x54414456);
    ArchiveBuilder::PutLE32(bytes, 12);
    ArchiveBuilder::PutLE32(bytes, 144);
    bytes += ArchiveBuilder::Record("big.pcx", 0, 3000000000u, 0);
    const ProcessResult r = Vdat({"list", s.Archive(bytes)});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, "big.pcx\t0 [3000000000]\tpcx\n");
}

TEST(VdatList, CutShortListsWholeRecordsAndFails) {
    Scratch s;
    const ProcessResult r = Vdat({"list", s.Archive(CutShortKiB())});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(Lines(r.out).size(), 7u);
    EXPECT_EQ(Lines(r.out).back(), "f6.txt\t0 [4]\ttxt");
    EXPECT_EQ(r.err.rfind("Error!: ", 0), 0u) << r.err;
}

TEST(VdatList, UnopenableArchiveFailsWithNothingOnStdout) {
    Scratch s;
    const ProcessResult r = Vdat({"list", s.Archive("DATV\x0c\0\0\0\0\0\0\0", "wrong.dat")});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "Error!: It`s not DAT file!\niD:0x56544144\n");
}

// Output that cannot be written is a failure, not a silent success.
TEST(VdatOutput, FullDiskIsAFailure) {
    if (::access("/dev/full", W_OK) != 0)
        GTEST_SKIP() << "no /dev/full";
    Scratch s;
    const std::string archive = s.Archive(TwoEntries());
    EXPECT_EQ(Vdat({"list", archive}, StdoutTo("/dev/full")).exitCode, 1);
    EXPECT_EQ(Vdat({"info", archive}, StdoutTo("/dev/full")).exitCode, 1);
}

std::string MixedArchive() {
    ArchiveBuilder b;
    b.AddPacked("textures\\walls\\stone.pcx", std::string(5000, 's'));
    b.AddStored("textures\\sky.tga", "sky");
    b.AddStored("top.txt", "top");
    return b.Build();
}

TEST(VdatExtract, AllEntriesBeneathTheFolderGiven) {
    Scratch s;
    const std::string archive = s.Archive(MixedArchive());
    const std::string out = s.Folder("out");
    const ProcessResult r = Vdat({"extract", archive, "-C", out});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(Lines(r.err).size(), 1u) << r.err;
    ExpectSummary(r.err, 3, 0, 0, 0);
    EXPECT_EQ(ListTree(out), "textures/\ntextures/sky.tga\ntextures/walls/\n"
                             "textures/walls/stone.pcx\ntop.txt\n");
    EXPECT_EQ(ReadFile(out + "/textures/walls/stone.pcx"), std::string(5000, 's'));
    EXPECT_EQ(ReadFile(out + "/top.txt"), "top");
}

TEST(VdatExtract, MakesADestinationThatDoesNotExistYet) {
    Scratch s;
    const std::string archive = s.Archive(MixedArchive());
    const std::string out = s.dir / "new/deeper";
    const ProcessResult r = Vdat({"extract", archive, "-C", out});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(ReadFile(out + "/top.txt"), "top");

    // A file where the folder should be cannot be extracted into.
    WriteFile(s.dir / "plain", "x");
    const ProcessResult blocked = Vdat({"extract", archive, "-C", s.dir / "plain"});
    EXPECT_EQ(blocked.exitCode, 1);
    EXPECT_NE(blocked.err.find("cannot open the destination folder"), std::string::npos);
}

TEST(VdatExtract, DefaultsToTheCurrentFolder) {
    Scratch s;
    const std::string archive = s.Archive(MixedArchive(), "m.dat");
    const std::string work = s.Folder("work");
    const ProcessResult r = Vdat({"extract", archive}, InFolder(work));
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(ReadFile(work + "/textures/sky.tga"), "sky");
    EXPECT_EQ(ListTree(s.dir.Path()), "m.dat\nwork/\nwork/textures/\nwork/textures/sky.tga\n"
                                      "work/textures/walls/\nwork/textures/walls/stone.pcx\n"
                                      "work/top.txt\n");
}

TEST(VdatExtract, NamedEntriesWithEitherSeparator) {
    Scratch s;
    const std::string archive = s.Archive(MixedArchive());
    const std::string out = s.Folder("out");
    const ProcessResult r =
        Vdat({"extract", archive, "-C", out, "textures/walls/stone.pcx", "top.txt"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(ListTree(out), "textures/\ntextures/walls/\ntextures/walls/stone.pcx\ntop.txt\n");

    const std::string out2 = s.Folder("out2");
    EXPECT_EQ(Vdat({"extract", archive, "-C", out2, "textures\\sky.tga"}).exitCode, 0);
    EXPECT_EQ(ListTree(out2), "textures/\ntextures/sky.tga\n");
}

// A '/' stored in a name is part of the name: giving the stored name selects it.
TEST(VdatExtract, StoredNameWithASlashCanBeNamed) {
    Scratch s;
    ArchiveBuilder b;
    b.AddStored("a/b.txt", "slash");
    b.AddStored("a\\b.txt", "backslash");
    const std::string archive = s.Archive(b.Build());
    const std::string out = s.Folder("out");
    const ProcessResult r = Vdat({"extract", archive, "-C", out, "a/b.txt"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(ListTree(out), "a/\na/b.txt\na_b.txt\n");
    EXPECT_EQ(ReadFile(out + "/a_b.txt"), "slash");
    EXPECT_EQ(ReadFile(out + "/a/b.txt"), "backslash");
}

TEST(VdatExtract, UnmatchedNameFailsAndSaysWhich) {
    Scratch s;
    const std::string archive = s.Archive(MixedArchive());
    const std::string out = s.Folder("out");
    const ProcessResult r = Vdat({"extract", archive, "-C", out, "top.txt", "nosuch.txt"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("nosuch.txt"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("top.txt"), std::string::npos) << r.err;
    EXPECT_EQ(ListTree(out), "top.txt\n");
}

TEST(VdatExtract, RefusedAndDamagedEntriesAreCountedAndFail) {
    Scratch s;
    ArchiveBuilder b;
    b.AddStored("..\\evil.txt", "escape");
    std::string stream = ArchiveBuilder::Zlib(std::string(1000, 'x'));
    stream[stream.size() - 2] ^= 0x40;
    b.AddRaw("bad.bin", stream, 1000, std::uint32_t(stream.size()));
    b.AddStored("good.txt", "good");
    const std::string archive = s.Archive(b.Build());
    const std::string out = s.Folder("out");
    const ProcessResult r = Vdat({"extract", archive, "-C", out});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("Error!: Can`t Extract file\n"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("bad.bin"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("evil.txt"), std::string::npos) << r.err;
    ExpectSummary(r.err, 1, 1, 1, 0);
    EXPECT_EQ(ListTree(s.dir.Path()), "a.dat\nout/\nout/bad.bin\nout/good.txt\n");
    EXPECT_EQ(ReadFile(out + "/bad.bin"), "");
}

TEST(VdatExtract, ShortAndCutDataAreDamaged) {
    Scratch s;
    ArchiveBuilder b;
    const std::string stream = ArchiveBuilder::Zlib("abc");
    b.AddRaw("short.bin", stream, 8, std::uint32_t(stream.size()));
    b.AddStored("cut.bin", "");
    const std::uint32_t size = std::uint32_t(b.Build().size());
    b.Entries()[1].dataOffset = size - 3;
    b.Entries()[1].realSize = 50;
    const std::string bytes = b.Build();
    const std::string out = s.Folder("out");
    const ProcessResult r = Vdat({"extract", s.Archive(bytes), "-C", out});
    EXPECT_EQ(r.exitCode, 1);
    ExpectSummary(r.err, 0, 0, 2, 0);
    EXPECT_EQ(ReadFile(out + "/short.bin"), std::string("abc\0\0\0\0\0", 8));
    EXPECT_EQ(ReadFile(out + "/cut.bin"), bytes.substr(size - 3));
}

TEST(VdatExtract, CutShortDirectoryExtractsWholeRecordsAndFails) {
    Scratch s;
    const std::string out = s.Folder("out");
    const ProcessResult r = Vdat({"extract", s.Archive(CutShortKiB()), "-C", out});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err.rfind("Error!: ", 0), 0u) << r.err;
    EXPECT_EQ(ReadFile(out + "/f6.txt"), "VDAT");
}

TEST(VdatTest, CutShortDirectoryFails) {
    Scratch s;
    const ProcessResult r = Vdat({"test", s.Archive(CutShortKiB())});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err.rfind("Error!: ", 0), 0u) << r.err;
}

// On a terminal a progress bar is drawn, and its line is cleared before any message and before
// the summary.
TEST(VdatExtract, ProgressBarOnATerminalOnly) {
    Scratch s;
    ArchiveBuilder b;
    for (int i = 0; i < 20; ++i)
        b.AddStored("f" + std::to_string(i) + ".txt", "x");
    b.AddStored("..\\refused.txt", "r");
    const std::string archive = s.Archive(b.Build());
    ProcessOptions terminal;
    terminal.stderrOnTerminal = true;
    const ProcessResult r = Vdat({"extract", archive, "-C", s.Folder("out")}, terminal);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("100%"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("\r\033[KError!: Can`t Extract file"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("\r\033[Kvdat: 20 written"), std::string::npos) << r.err;

    const ProcessResult piped = Vdat({"extract", archive, "-C", s.Folder("out2")});
    EXPECT_EQ(piped.err.find('\r'), std::string::npos) << piped.err;
    EXPECT_EQ(piped.err.find('%'), std::string::npos) << piped.err;
}

// Many entries in shared folders, one job and several: the same files, whole and in place.
TEST(VdatExtract, ManyEntriesWithAnyNumberOfJobs) {
    Scratch s;
    ArchiveBuilder b;
    std::vector<std::pair<std::string, std::string>> files;
    for (int i = 0; i < 400; ++i) {
        const std::string name = "d" + std::to_string(i % 7) + "\\e" + std::to_string(i % 3) +
                                 "\\f" + std::to_string(i) + ".bin";
        std::string content(std::size_t(i * 37 % 3000), char('a' + i % 26));
        if (i % 2)
            b.AddPacked(name, content);
        else
            b.AddStored(name, content);
        files.emplace_back("d" + std::to_string(i % 7) + "/e" + std::to_string(i % 3) + "/f" +
                               std::to_string(i) + ".bin",
                           content);
    }
    b.AddStored("..\\refused.txt", "r");
    const std::string archive = s.Archive(b.Build());
    for (const char* jobs : {"1", "4"}) {
        SCOPED_TRACE(jobs);
        const std::string out = s.Folder(std::string("out") + jobs);
        const ProcessResult r = Vdat({"extract", "-j", jobs, archive, "-C", out});
        EXPECT_EQ(r.exitCode, 1);
        ExpectSummary(r.err, 400, 1, 0, 0);
        EXPECT_EQ(r.err.find("Error!: Can`t Extract file\n"), 0u) << r.err;
        for (const auto& [path, content] : files)
            ASSERT_EQ(ReadFile(out + "/" + path), content) << path;
    }
    EXPECT_EQ(ListTree(s.dir / "out1"), ListTree(s.dir / "out4"));
}

// Entries whose outputs meet give what a run in directory order gives, whatever the number of
// jobs, and the messages come in directory order too.
TEST(VdatExtract, EntriesThatMeetAreWrittenInDirectoryOrder) {
    Scratch s;
    ArchiveBuilder b;
    b.AddStored("dup.txt", "first");
    b.AddPacked("big.bin", std::string(200000, 'b'));
    b.AddStored("x", "a file named x");
    b.AddStored("x\\y.txt", "needs x to be a folder");
    b.AddStored("z\\w.txt", "makes z a folder");
    b.AddStored("z", "a file where the folder is");
    b.AddStored("a/b", "slash");
    b.AddStored("a_b", "underscore");
    b.AddPacked("dup.txt", "second");
    const std::string archive = s.Archive(b.Build());
    std::string firstErr;
    for (const char* jobs : {"1", "4"}) {
        SCOPED_TRACE(jobs);
        const std::string out = s.Folder(std::string("out") + jobs);
        const ProcessResult r = Vdat({"extract", "-j", jobs, archive, "-C", out});
        EXPECT_EQ(r.exitCode, 1);
        ExpectSummary(r.err, 7, 0, 0, 2);
        EXPECT_EQ(ReadFile(out + "/dup.txt"), "second");
        EXPECT_EQ(ReadFile(out + "/x"), "a file named x");
        EXPECT_EQ(ReadFile(out + "/z/w.txt"), "makes z a folder");
        EXPECT_EQ(ReadFile(out + "/a_b"), "underscore");
        EXPECT_EQ(ListTree(out), "a_b\nbig.bin\ndup.txt\nx\nz/\nz/w.txt\n");
        if (firstErr.empty())
            firstErr = r.err;
        else
            EXPECT_EQ(r.err, firstErr);
    }
}

TEST(VdatTest, NamesEachDamagedEntryAndWritesNothing) {
    Scratch s;
    ArchiveBuilder b;
    b.AddPacked("fine.txt", "fine");
    b.AddRaw("broken.bin", "no zlib here", 10, 12);
    const std::string stream = ArchiveBuilder::Zlib("abc");
    b.AddRaw("short.bin", stream, 8, std::uint32_t(stream.size()));
    b.AddRaw("liar.bin", stream, 0xFFFFFF00, std::uint32_t(stream.size()));
    b.AddStored("fine2.txt", "fine");
    const std::string archive = s.Archive(b.Build());
    const std::string work = s.Folder("work");
    const ProcessResult r = Vdat({"test", archive}, InFolder(work));
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, "");
    for (const char* name : {"broken.bin", "short.bin", "liar.bin"})
        EXPECT_NE(r.err.find(name), std::string::npos) << name << " in " << r.err;
    EXPECT_EQ(r.err.find("fine"), std::string::npos) << r.err;
    EXPECT_EQ(ListTree(work), "");

    ArchiveBuilder clean;
    clean.AddPacked("a.txt", "aaaa");
    clean.AddStored("b.txt", "bbbb");
    const ProcessResult ok = Vdat({"test", s.Archive(clean.Build(), "clean.dat")});
    EXPECT_EQ(ok.exitCode, 0) << ok.err;
    EXPECT_EQ(ok.out, "");
}

TEST(VdatUsage, ErrorsExitTwo) {
    Scratch s;
    const std::string archive = s.Archive(TwoEntries());
    const std::vector<std::vector<std::string>> cases = {
        {},
        {"bogus"},
        {"info"},
        {"list"},
        {"test"},
        {"info", archive, archive},
        {"extract"},
        {"extract", archive, "-C"},
        {"extract", archive, "-x"},
        {"extract", "-C", s.dir.Path()},
        {"extract", archive, "-j", "0"},
        {"--nonsense"},
        {"info", "--help"},
        {"list", "-h"},
    };
    for (const auto& args : cases) {
        std::string shown;
        for (const auto& a : args)
            shown += a + " ";
        SCOPED_TRACE(shown);
        const ProcessResult r = Vdat(args, InFolder(s.dir.Path()));
        EXPECT_EQ(r.exitCode, 2);
        EXPECT_EQ(r.out, "");
        EXPECT_NE(r.err, "");
    }
    EXPECT_EQ(ListTree(s.dir.Path()), "a.dat\n");
}

TEST(VdatUsage, HelpShowsTheCommandsAndExitCodes) {
    const ProcessResult r = Vdat({"--help"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.err, "");
    for (const char* word : {"info", "list", "extract", "test", "-C", "--version", "Exit status",
                             "0 ", "1 ", "2 ", "usage error"})
        EXPECT_NE(r.out.find(word), std::string::npos) << word;
}

TEST(VdatUsage, VersionIsTheProjectVersion) {
    const ProcessResult r = Vdat({"--version"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, std::string("vdat ") + VDAT_VERSION + "\n");
    EXPECT_EQ(r.err, "");
}

} // namespace
