// vdat as a user runs it: its stdout, stderr, exit status and the files it writes are checked,
// through a process of its own where exit, signals or the terminal matter, else in process.
#include "ArchiveBuilder.h"
#include "ArchiveFormat.h"
#include "Commands.h"
#include "Options.h"
#include "Process.h"
#include "TempDir.h"
#include "TerminalSinks.h"

#include <gtest/gtest.h>

#include <map>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

ProcessResult Vdat(std::vector<std::string> args, const ProcessOptions& options = {}) {
    args.insert(args.begin(), VDAT_BINARY);
    return RunProcess(args, options);
}

// vdat's command run in this process, as main() runs it, for what needs no process of its own.
// Paths in the output are shown relative to folder ("A" for folder/A).
ProcessResult InProcess(std::vector<std::string> args, const std::string& folder = "") {
    args.insert(args.begin(), "vdat");
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    Options options;
    ProcessResult r;
    r.exitCode = ParseOptions(int(args.size()), argv.data(), options);
    if (r.exitCode < 0)
        r.exitCode = RunCommand(options);
    std::fflush(stdout);
    std::fflush(stderr);
    r.out = testing::internal::GetCapturedStdout();
    r.err = testing::internal::GetCapturedStderr();
    SetNamesInUtf8(false);
    for (std::string* text : {&r.out, &r.err})
        for (std::size_t at;
             !folder.empty() && (at = text->find(folder + "/")) != std::string::npos;)
            text->erase(at, folder.size() + 1);
    return r;
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

// Each name followed by a NUL, as `list -0` writes them.
std::string NullEnded(const std::vector<std::string>& names) {
    std::string out;
    for (const std::string& name : names)
        out += name + '\0';
    return out;
}

// The one line vdat writes for a failure: `vdat: SUBJECT: TEXT (REASON)`.
std::string ErrorLine(const std::string& subject, const std::string& text,
                      const std::string& reason = "") {
    return "vdat: " + subject + ": " + text + (reason.empty() ? "" : " (" + reason + ")") + "\n";
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

// Every command that opens an archive tells why it could not, in one line, and a failed info or
// list writes nothing on stdout.
TEST(VdatErrors, OneLineWithTheReasonAndNothingOnStdout) {
    Scratch s;
    const std::string zip = s.Archive(std::string("PK\x03\x04\x14\0\0\0\0\0\0\0", 12), "x.zip");
    const std::string shortFile = s.Archive("VDA", "short.dat");
    const std::string wrong = s.Archive("DATV\x0c\0\0\0\0\0\0\0", "wrong.dat");
    const std::string missing = s.dir / "missing.dat";
    const std::string folder = s.Folder("folder.dat");
    const std::string locked = s.Archive(TwoEntries(), "locked.dat");
    ::chmod(locked.c_str(), 0);
    const bool root = ::geteuid() == 0; // root reads it all the same
    const std::string notFolder = s.dir / "x.zip/inner.dat";
    struct Row {
        std::string archive;
        std::string line;
    };
    const std::vector<Row> rows = {
        {zip, ErrorLine(zip, "It`s not DAT file! iD:0x 4034B50")},
        {shortFile, ErrorLine(shortFile, "It`s not DAT file! iD:0x  414456")},
        {wrong, ErrorLine(wrong, "It`s not DAT file! iD:0x56544144")},
        {missing, ErrorLine(missing, "Can`t open DAT file!", "No such file or directory")},
        {folder, ErrorLine(folder, "Can`t open DAT file!", "Is a directory")},
        {notFolder, ErrorLine(notFolder, "Can`t open DAT file!", "Not a directory")},
        {"/dev/null", ErrorLine("/dev/null", "Can`t open DAT file!", "not a regular file")},
        {locked, root ? "" : ErrorLine(locked, "Can`t open DAT file!", "Permission denied")},
    };
    for (const Row& row : rows) {
        if (row.line.empty())
            continue;
        for (const std::string command : {"info", "list", "test", "extract"}) {
            SCOPED_TRACE(command + " " + row.archive);
            std::vector<std::string> args = {command, row.archive};
            if (command == "extract")
                args.insert(args.end(), {"-C", s.dir / "out"});
            const ProcessResult r = InProcess(args);
            EXPECT_EQ(r.exitCode, 1);
            EXPECT_EQ(r.err, row.line);
            EXPECT_EQ(r.out, "");
        }
    }
    EXPECT_FALSE(Exists(s.dir / "out/x.txt"));
}

TEST(VdatInfo, CutShortDirectoryFails) {
    Scratch s;
    const ProcessResult r = InProcess({"info", s.Archive(CutShortKiB())});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.out.find("\nTable Size:0xffffffff\nNum of Files:7\n"), std::string::npos) << r.out;
    EXPECT_EQ(r.err,
              ErrorLine(s.dir / "a.dat", "DAT file is cut short! Table:7 of 29826161 files"));
}

std::string ListFormsArchive() {
    ArchiveBuilder b;
    b.AddPacked("dir\\a.txt", std::string(2000, 'a'));
    b.AddStored("caf\xe9\n\"q\"\\b.wav", "xyz");
    b.AddStored("plain.pcx", "");
    return b.Build();
}

// Every form of `list`, in process: the plain lines with what could drive a terminal escaped,
// unsigned sizes, names read in a code page, and the forms for programs, which carry every field
// and a name as its exact bytes (JSON: each character one stored byte).
TEST(VdatList, EveryForm) {
    ArchiveBuilder plain;
    const std::string packedText(3000, 'r');
    plain.AddPacked("readme.txt", packedText);
    plain.AddStored("dir\\sub\\a.bmp", "12345");
    plain.AddStored("x\ty\x01\x1b[2J\x7f.wav", "abc");
    plain.AddStored("caf\xe9.mp3", "");
    plain.AddStored("csi\x9b[2J.wav", ""); // the rest of the rule: VdatEscaping
    const std::string full = std::string(124, 'n') + ".apd";
    plain.AddStored(full, "");
    plain.AddStored("noext", "");
    const std::string zlib = std::to_string(ArchiveBuilder::Zlib(packedText).size());
    std::string huge;
    ArchiveBuilder::PutLE32(huge, 0x54414456);
    ArchiveBuilder::PutLE32(huge, 12);
    ArchiveBuilder::PutLE32(huge, 144);
    huge += ArchiveBuilder::Record("big.pcx", 0, 3000000000u, 0);
    // Read in a code page, 0x9B is U+009B in ISO-8859-1 but a quotation mark in CP1252.
    const auto one = [](const std::string& name) {
        ArchiveBuilder b;
        b.AddStored(name, "");
        return b.Build();
    };
    ArchiveBuilder cyrillic;
    cyrillic.AddStored("\xcf\xf0\xe8\xe2\xe5\xf2\\\xf4\xe0\xe9\xeb.txt", "cyrillic"); // Привет\файл
    cyrillic.AddStored("plain.txt", "plain");
    ArchiveBuilder odd; // 0x81 is no character of CP1252
    odd.AddStored("bad\x81.txt", "bad");
    odd.AddStored("caf\xe9.txt", "cafe");
    const std::string forms = ListFormsArchive();
    const std::string packed = std::to_string(ArchiveBuilder::Zlib(std::string(2000, 'a')).size());
    const std::string second = std::to_string(12 + std::stoul(packed));
    const std::string third = std::to_string(12 + std::stoul(packed) + 3);
    const std::string longForm = "dir\\a.txt\t12\t" + packed + "\t2000\tpacked\ttxt\n" +
                                 "caf\xe9\\x0a\"q\"\\b.wav\t" + second + "\t0\t3\tstored\twav\n" +
                                 "plain.pcx\t" + third + "\t0\t0\tstored\tpcx\n";
    std::string cutShortLines;
    for (int i = 0; i < 7; ++i)
        cutShortLines += "f" + std::to_string(i) + ".txt\t0 [4]\ttxt\n";
    struct Row {
        std::string archive;
        std::vector<std::string> options;
        int status;
        std::string out, errStart;
    };
    const std::vector<Row> rows = {
        {plain.Build(),
         {},
         0,
         "readme.txt\t" + zlib + " [3000]\ttxt\n" + "dir\\sub\\a.bmp\t0 [5]\tbmp\n" +
             "x\\x09y\\x01\\x1b[2J\\x7f.wav\t0 [3]\twav\n" + "caf\xe9.mp3\t0 [0]\tmp3\n" +
             "csi\\x9b[2J.wav\t0 [0]\twav\n" + full + "\t0 [0]\tapd\n" + "noext\t0 [0]\tunk\n",
         ""},
        {huge, {}, 0, "big.pcx\t0 [3000000000]\tpcx\n", ""},
        {CutShortKiB(), {}, 1, cutShortLines, "vdat: A: DAT file is cut short!"},
        {one("csi\x9b[2J caf\xe9.wav"),
         {"--charset=ISO-8859-1"},
         0,
         "csi\\xc2\\x9b[2J café.wav\t0 [0]\twav\n",
         ""},
        {one("\xc0 \x9b caf\xe9.wav"), {"--charset=CP1252"}, 0, "À › café.wav\t0 [0]\twav\n", ""},
        {cyrillic.Build(),
         {"--charset=CP1251"},
         0,
         "Привет\\файл.txt\t0 [8]\ttxt\nplain.txt\t0 [5]\ttxt\n",
         ""},
        {odd.Build(),
         {"--charset=CP1252"},
         1,
         "bad\\x81.txt\t0 [3]\ttxt\ncafé.txt\t0 [4]\ttxt\n",
         "vdat: bad\\x81.txt: the name is not CP1252"},
        {odd.Build(), {"--charset=NO-SUCH-PAGE"}, 2, "", "vdat: NO-SUCH-PAGE: unknown code page"},
        {forms, {"-l"}, 0, longForm, ""},
        {forms, {"--long"}, 0, longForm, ""},
        {forms, {"-0"}, 0, NullEnded({"dir\\a.txt", "caf\xe9\n\"q\"\\b.wav", "plain.pcx"}), ""},
        {forms,
         {"--null", "-l"},
         0,
         std::string("dir\\a.txt\0", 10) + "12\t" + packed + "\t2000\tpacked\ttxt\n" +
             std::string("caf\xe9\n\"q\"\\b.wav\0", 15) + second + "\t0\t3\tstored\twav\n" +
             std::string("plain.pcx\0", 10) + third + "\t0\t0\tstored\tpcx\n",
         ""},
        {forms,
         {"--json"},
         0,
         "[\n{\"name\":\"dir\\\\a.txt\",\"offset\":12,\"packed\":" + packed +
             ",\"real\":2000,\"type\":\"txt\"},\n"
             "{\"name\":\"caf\xc3\xa9\\u000a\\\"q\\\"\\\\b.wav\",\"offset\":" +
             second +
             ",\"packed\":0,\"real\":3,\"type\":\"wav\"},\n"
             "{\"name\":\"plain.pcx\",\"offset\":" +
             third + ",\"packed\":0,\"real\":0,\"type\":\"pcx\"}\n]\n",
         ""},
        {ArchiveBuilder().Build(), {"--json"}, 0, "[]\n", ""},
    };
    Scratch s;
    for (const Row& row : rows) {
        SCOPED_TRACE(Lines(row.out).empty() ? "" : Lines(row.out)[0]);
        std::vector<std::string> args = {"list", s.Archive(row.archive, "A")};
        args.insert(args.end(), row.options.begin(), row.options.end());
        const ProcessResult r = InProcess(args, s.dir.Path());
        EXPECT_EQ(r.exitCode, row.status) << r.err;
        EXPECT_EQ(r.out, row.out);
        EXPECT_EQ(r.err.substr(0, row.errStart.size()), row.errStart);
        EXPECT_EQ(r.err.empty(), row.errStart.empty()) << r.err;
    }
}

// Names stored in a code page are written in UTF-8; one that is not in it is refused on its own.
TEST(VdatCharset, NamesAreReadInTheCodePageGiven) {
    Scratch s;
    ArchiveBuilder b;
    b.AddStored("\xcf\xf0\xe8\xe2\xe5\xf2\\\xf4\xe0\xe9\xeb.txt", "cyrillic"); // Привет\файл.txt
    b.AddStored("plain.txt", "plain");
    const std::string archive = s.Archive(b.Build());
    const std::string out = s.Folder("out");
    ProcessResult r = Vdat({"extract", archive, "--charset", "CP1251", "-C", out, "Привет"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(ListTree(out), "Привет/\nПривет/файл.txt\n");
    EXPECT_EQ(ReadFile(out + "/Привет/файл.txt"), "cyrillic");

    // 0x81 is no character of CP1252.
    ArchiveBuilder odd;
    odd.AddStored("bad\x81.txt", "bad");
    odd.AddStored("caf\xe9.txt", "cafe");
    const std::string oddArchive = s.Archive(odd.Build(), "odd.dat");
    const std::string out2 = s.Folder("out2");
    r = Vdat({"extract", oddArchive, "--charset=CP1252", "-C", out2});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(Lines(r.err).front(),
              "vdat: bad\\x81.txt: Can`t Extract file (refused: the name is not CP1252: " +
                  std::string(std::strerror(EILSEQ)) + ")");
    ExpectSummary(r.err, 1, 1, 0, 0);
    EXPECT_EQ(ListTree(out2), "café.txt\n");
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

// Every entry, or those NAMEs choose (either separator; patterns and excludes, which
// VdatPatterns checks on their own), written beneath the folder given; a NAME that matches
// nothing is named and fails the run.
TEST(VdatExtract, ChoosesEntriesAndWritesThemBeneathTheFolder) {
    Scratch s;
    const std::string archive = s.Archive(MixedArchive());
    const std::string all = "textures/\ntextures/sky.tga\ntextures/walls/\n"
                            "textures/walls/stone.pcx\ntop.txt\n";
    const std::string sky = "textures/\ntextures/sky.tga\n";
    struct Row {
        std::vector<std::string> names;
        int status;
        std::string tree, errHas, errLacks;
    };
    const std::vector<Row> rows = {
        {{}, 0, all, "vdat: 3 written, 0 refused, 0 damaged, 0 not written\n", ""},
        {{"textures/walls/stone.pcx", "top.txt"},
         0,
         "textures/\ntextures/walls/\ntextures/walls/stone.pcx\ntop.txt\n",
         "",
         ""},
        {{"textures\\sky.tga"}, 0, sky, "", ""},
        {{"*.tga"}, 0, sky, "", ""},
        {{"textures", "--exclude", "*walls*", "-x", "nothing"}, 0, sky, "", ""},
        {{"text"}, 1, "", "vdat: no entry named 'text'\n", ""},
        {{"top.txt", "nosuch.txt"}, 1, "top.txt\n", "'nosuch.txt'", "top.txt"},
    };
    int n = 0;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.names.empty() ? "all" : row.names.front());
        const std::string out = s.Folder("out" + std::to_string(n++));
        std::vector<std::string> args = {"extract", archive, "-C", out};
        args.insert(args.end(), row.names.begin(), row.names.end());
        const ProcessResult r = InProcess(args);
        EXPECT_EQ(r.exitCode, row.status) << r.err;
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(ListTree(out), row.tree);
        EXPECT_NE(r.err.find(row.errHas), std::string::npos) << r.err;
        if (!row.errLacks.empty()) {
            EXPECT_EQ(r.err.find(row.errLacks), std::string::npos) << r.err;
        }
    }
    EXPECT_EQ(ReadFile(s.dir / "out0/textures/walls/stone.pcx"), std::string(5000, 's'));
    EXPECT_EQ(ReadFile(s.dir / "out0/top.txt"), "top");
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

// -O writes the chosen entries' data to stdout in directory order and creates no file.
TEST(VdatExtract, ToStdoutInDirectoryOrder) {
    Scratch s;
    const std::string archive = s.Archive(MixedArchive());
    const std::string work = s.Folder("work");
    ProcessResult r = Vdat({"extract", archive, "-O", "top.txt", "textures"}, InFolder(work));
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, std::string(5000, 's') + "sky" + "top");
    EXPECT_EQ(ListTree(work), "");
    r = Vdat({"extract", "--to-stdout", "-q", archive, "*.tga"});
    EXPECT_EQ(r.out, "sky");
    EXPECT_EQ(r.err, "");
}

// -k leaves existing files as they are and counts them as kept; -v names each entry, -q keeps
// a clean run silent.
TEST(VdatExtract, KeepOldFilesVerboseAndQuiet) {
    Scratch s;
    const std::string archive = s.Archive(MixedArchive());
    const std::string out = s.Folder("out");
    WriteFile(out + "/top.txt", "mine");
    ProcessResult r = Vdat({"extract", archive, "-C", out, "-k", "-v"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err, "textures\\walls\\stone.pcx\ntextures\\sky.tga\ntop.txt (kept)\n"
                     "vdat: 2 written, 1 kept, 0 refused, 0 damaged, 0 not written\n");
    EXPECT_EQ(ReadFile(out + "/top.txt"), "mine");
    EXPECT_EQ(ReadFile(out + "/textures/sky.tga"), "sky");

    r = Vdat({"extract", "--keep-old-files", "--quiet", archive, "-C", out});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(ReadFile(out + "/top.txt"), "mine");

    // Without -k the file is replaced.
    r = Vdat({"extract", archive, "-C", out, "-q"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(ReadFile(out + "/top.txt"), "top");
}

// The same run whichever way the options are written, before or after the archive.
// Every form is parsed alike (VdatOptions); two of them run end to end.
TEST(VdatExtract, OptionFormsAreAlike) {
    Scratch s;
    const std::string archive = s.Archive(MixedArchive());
    const std::string expected = "textures/\ntextures/sky.tga\ntextures/walls/\n"
                                 "textures/walls/stone.pcx\ntop.txt\n";
    const std::vector<std::vector<std::string>> forms = {
        {"extract", archive, "-C", "@"},
        {"extract", "--directory", "@", "-j2", archive},
    };
    int n = 0;
    for (std::vector<std::string> args : forms) {
        const std::string out = s.dir / ("form" + std::to_string(n++));
        for (std::string& a : args)
            if (auto at = a.find('@'); at != std::string::npos)
                a.replace(at, 1, out);
        SCOPED_TRACE(args[1] + " " + args[2]);
        const ProcessResult r = Vdat(args);
        EXPECT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(ListTree(out), expected);
    }
    // After `--` an archive may start with '-', in every command.
    s.Archive(MixedArchive(), "-m.dat");
    const ProcessOptions here = InFolder(s.dir.Path());
    EXPECT_EQ(Vdat({"info", "--", "-m.dat"}, here).exitCode, 0);
    EXPECT_EQ(Vdat({"list", "--", "-m.dat"}, here).exitCode, 0);
    EXPECT_EQ(Vdat({"test", "--", "-m.dat"}, here).exitCode, 0);
    EXPECT_EQ(Vdat({"extract", "-C", "dashed", "--", "-m.dat", "-top.txt"}, here).exitCode, 1);
    EXPECT_EQ(Vdat({"extract", "-C", "dashed", "--", "-m.dat", "top.txt"}, here).exitCode, 0);
    EXPECT_EQ(Vdat({"create", "-C", "dashed", "--", "-new.dat"}, here).exitCode, 0);
    EXPECT_TRUE(Exists(s.dir / "-new.dat"));
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
    EXPECT_NE(r.err.find(ErrorLine("..\\evil.txt", "Can`t Extract file",
                                   "refused: name leads outside the destination")),
              std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find(ErrorLine("bad.bin", "damaged", "zlib stream does not inflate")),
              std::string::npos)
        << r.err;
    EXPECT_EQ(Lines(r.err).size(), 3u) << r.err;
    ExpectSummary(r.err, 1, 1, 1, 0);
    EXPECT_EQ(ListTree(s.dir.Path()), "a.dat\nout/\nout/bad.bin\nout/good.txt\n");
    EXPECT_EQ(ReadFile(out + "/bad.bin"), "");
}

// Beside the archive, as the window extracts: an entry named like it never replaces it, and a
// hidden name is written only with --hidden.
TEST(VdatExtract, NeverOverTheArchiveAndHiddenNamesOnlyWhenAsked) {
    Scratch s;
    ArchiveBuilder b;
    b.AddStored("a.dat", "would replace the archive");
    b.AddStored(".bashrc", "planted");
    b.AddStored("good.txt", "good");
    const std::string bytes = b.Build();
    const std::string archive = s.Archive(bytes);
    ProcessResult r = Vdat({"extract", archive, "-C", s.dir.Path()});
    EXPECT_EQ(r.exitCode, 1);
    for (const auto& [name, why] : {std::pair{"a.dat", "it is the archive being read"},
                                    std::pair{".bashrc", "a hidden name (a part begins with '.')"}})
        EXPECT_NE(r.err.find(ErrorLine(name, "Can`t Extract file", std::string("refused: ") + why)),
                  std::string::npos)
            << r.err;
    ExpectSummary(r.err, 1, 2, 0, 0);
    EXPECT_EQ(ReadFile(archive), bytes);
    EXPECT_EQ(ListTree(s.dir.Path()), "a.dat\ngood.txt\n");
    r = Vdat({"extract", "--hidden", archive, "-C", s.dir.Path(), ".bashrc"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(ReadFile(s.dir / ".bashrc"), "planted");
}

TEST(VdatTest, CutShortDirectoryFails) {
    Scratch s;
    const ProcessResult r = Vdat({"test", s.Archive(CutShortKiB())});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err.rfind("vdat: " + s.dir / "a.dat: DAT file is cut short!", 0), 0u) << r.err;
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
    EXPECT_NE(r.err.find("\r\033[Kvdat: ..\\refused.txt: Can`t Extract file"), std::string::npos)
        << r.err;
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
        const std::string name = "d" + std::to_string(i % 37) + "\\e" + std::to_string(i % 3) +
                                 "\\f" + std::to_string(i) + ".bin";
        std::string content(std::size_t(i * 37 % 3000), char('a' + i % 26));
        if (i % 2)
            b.AddPacked(name, content);
        else
            b.AddStored(name, content);
        files.emplace_back("d" + std::to_string(i % 37) + "/e" + std::to_string(i % 3) + "/f" +
                               std::to_string(i) + ".bin",
                           content);
    }
    b.AddStored("..\\refused.txt", "r");
    const std::string archive = s.Archive(b.Build());
    // Few descriptors: folders are dropped and opened again all the time.
    for (const auto& [jobs, openFiles] :
         {std::pair{"1", -1L}, std::pair{"4", -1L}, std::pair{"4", 64L}}) {
        SCOPED_TRACE(jobs + std::string(" jobs, open files ") + std::to_string(openFiles));
        const std::string out = s.Folder(std::string("out") + jobs + std::to_string(openFiles));
        ProcessOptions options;
        options.openFilesLimit = openFiles;
        const ProcessResult r = Vdat({"extract", "-j", jobs, archive, "-C", out}, options);
        EXPECT_EQ(r.exitCode, 1);
        ExpectSummary(r.err, 400, 1, 0, 0);
        EXPECT_EQ(r.err.find("vdat: ..\\refused.txt: Can`t Extract file"), 0u) << r.err;
        for (const auto& [path, content] : files)
            ASSERT_EQ(ReadFile(out + "/" + path), content) << path;
    }
    EXPECT_EQ(ListTree(s.dir / "out1-1"), ListTree(s.dir / "out4-1"));
    EXPECT_EQ(ListTree(s.dir / "out1-1"), ListTree(s.dir / "out464"));
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
    // Entries are tested on every core, and still named in directory order.
    std::size_t after = 0;
    for (const char* name : {"broken.bin", "short.bin", "liar.bin"}) {
        const std::size_t at = r.err.find(name);
        EXPECT_NE(at, std::string::npos) << name << " in " << r.err;
        EXPECT_GE(at, after) << name << " out of order in " << r.err;
        after = at;
    }
    EXPECT_EQ(r.err.find("fine"), std::string::npos) << r.err;
    EXPECT_EQ(ListTree(work), "");

    ArchiveBuilder clean;
    clean.AddPacked("a.txt", "aaaa");
    clean.AddStored("b.txt", "bbbb");
    const ProcessResult ok = Vdat({"test", s.Archive(clean.Build(), "clean.dat")});
    EXPECT_EQ(ok.exitCode, 0) << ok.err;
    EXPECT_EQ(ok.out, "");
}

// A tree of files of every kind create meets: nested folders, an empty file, text that packs,
// noise that does not, names with a space and a byte past ASCII.
void MakeSourceTree(const std::string& root) {
    ::mkdir(root.c_str(), 0755);
    for (const char* folder : {"maps", "maps/e1", "sound", "empty folder"})
        ::mkdir((root + "/" + folder).c_str(), 0755);
    WriteFile(root + "/readme.txt", std::string(3000, 'r') + "end");
    WriteFile(root + "/maps/e1/m1.bsp", std::string(70000, 'm'));
    std::string noise;
    unsigned seed = 7;
    for (int i = 0; i < 5000; ++i) {
        seed = seed * 1103515245u + 12345u;
        noise.push_back(char(seed >> 16));
    }
    WriteFile(root + "/sound/noise wave.wav", noise);
    WriteFile(root + "/sound/caf\xe9.mp3", "tiny");
    WriteFile(root + "/empty.txt", "");
    WriteFile(root + "/Zed.txt", "upper case sorts first");
}

// create then extract gives the same tree byte for byte, whatever the number of jobs.
TEST(VdatCreate, RoundTripIsExactAndTheSameWhateverTheJobs) {
    Scratch s;
    const std::string source = s.dir / "source";
    MakeSourceTree(source);
    std::string first;
    for (const char* jobs : {"1", "2", "5"}) {
        SCOPED_TRACE(jobs);
        const std::string archive = s.dir / (std::string("j") + jobs + ".dat");
        const ProcessResult r = Vdat({"create", archive, "-C", source, "-j", jobs});
        EXPECT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(r.out, "");
        const std::string bytes = ReadFile(archive);
        if (first.empty())
            first = bytes;
        EXPECT_EQ(bytes, first);
    }
    const std::string archive = s.dir / "j1.dat";
    const ProcessResult test = Vdat({"test", archive});
    EXPECT_EQ(test.exitCode, 0) << test.err;
    const std::string out = s.dir / "out";
    ASSERT_EQ(Vdat({"extract", archive, "-C", out}).exitCode, 0);
    // Folders without files are not in the archive.
    std::string tree = ListTree(source);
    tree.replace(tree.find("empty folder/\n"), 14, "");
    EXPECT_EQ(ListTree(out), tree);
    for (const char* file : {"readme.txt", "maps/e1/m1.bsp", "sound/noise wave.wav",
                             "sound/caf\xe9.mp3", "empty.txt", "Zed.txt"})
        EXPECT_EQ(ReadFile(out + "/" + file), ReadFile(source + "/" + file)) << file;

    // Byte order of names, '\' between folders; noise is stored, the rest packed but the empty.
    const ProcessResult list = Vdat({"list", "-l", archive});
    std::vector<std::string> kinds;
    for (const std::string& line : Lines(list.out))
        kinds.push_back(line.substr(0, line.find('\t')) + " " +
                        line.substr(line.rfind('\t', line.rfind('\t') - 1) + 1, 6));
    EXPECT_EQ(kinds, (std::vector<std::string>{"Zed.txt stored", "empty.txt stored",
                                               "maps\\e1\\m1.bsp packed", "readme.txt packed",
                                               "sound\\caf\xe9.mp3 stored",
                                               "sound\\noise wave.wav stored"}));

    // The directory comes after the data, and every fourth value is 0.
    const auto* p = reinterpret_cast<const unsigned char*>(first.data());
    EXPECT_EQ(ReadLE32(p + 4) + ReadLE32(p + 8), first.size());
    EXPECT_EQ(ReadLE32(p + 8), 6u * 144);
    for (std::uint32_t at = ReadLE32(p + 4); at < first.size(); at += 144)
        EXPECT_EQ(ReadLE32(p + at + 140), 0u);
}

// Levels, --store, chosen PATHs and the current folder as the default source.
TEST(VdatCreate, LevelsStoreAndPaths) {
    Scratch s;
    const std::string source = s.dir / "source";
    MakeSourceTree(source);
    // Text of a few letters: the levels differ on it, as they need not on runs of one byte.
    std::string words(200000, '\0');
    for (std::size_t i = 0; i < words.size(); ++i)
        words[i] = char('a' + (i * i / 7 + i / 3) % 11);
    WriteFile(source + "/words.txt", words);
    ASSERT_EQ(Vdat({"create", "-1", s.dir / "fast.dat", "-C", source}).exitCode, 0);
    ASSERT_EQ(Vdat({"create", "-9", s.dir / "best.dat", "-C", source}).exitCode, 0);
    ASSERT_EQ(Vdat({"create", "--store", s.dir / "stored.dat", "-C", source}).exitCode, 0);
    EXPECT_LT(ReadFile(s.dir / "best.dat").size(), ReadFile(s.dir / "fast.dat").size());
    const ProcessResult stored = Vdat({"list", "-l", s.dir / "stored.dat"});
    EXPECT_EQ(stored.out.find("\tpacked\t"), std::string::npos) << stored.out;
    for (const char* name : {"fast.dat", "best.dat", "stored.dat"})
        EXPECT_EQ(Vdat({"test", s.dir / name}).exitCode, 0) << name;

    ProcessResult r = Vdat({"create", s.dir / "some.dat", "maps", "./sound/", "maps/e1/m1.bsp"},
                           InFolder(source));
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(Vdat({"list", "-0", s.dir / "some.dat"}).out,
              NullEnded({"maps\\e1\\m1.bsp", "sound\\caf\xe9.mp3", "sound\\noise wave.wav"}));
    r = Vdat({"create", "../here.dat"}, InFolder(source));
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(Vdat({"list", "-0", s.dir / "here.dat"}).out.size(),
              Vdat({"list", "-0", s.dir / "best.dat"}).out.size());
}

// What create refuses leaves no archive behind and an existing one as it was.
TEST(VdatCreate, RefusalsLeaveNothingBehind) {
    Scratch s;
    const std::string source = s.Folder("source");
    WriteFile(source + "/fine.txt", "fine");
    const std::string longName(128, 'n');
    struct Row {
        std::string setUp; // a file to make in its own folder: "long", "backslash", "growing"
        std::vector<std::string> args;
        std::string line;
    };
    const std::vector<Row> rows = {
        {"long",
         {},
         "vdat: " + longName + ": cannot be put in the archive (name is 128 bytes or longer)"},
        {"backslash",
         {},
         "vdat: a\\b.txt: cannot be put in the archive (name holds a '\\', which the archive reads "
         "as a folder separator)"},
        {"growing",
         {"-h"},
         "vdat: status: cannot be put in the archive (it changed size while it was read)"},
        {"", {"../outside"}, "vdat: ../outside: not a path beneath the source folder"},
        {"", {"missing"}, "vdat: missing: cannot add it (No such file or directory)"},
    };
    int n = 0;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.line);
        const std::string folder = s.Folder("case" + std::to_string(n++));
        WriteFile(folder + "/fine.txt", "fine");
        if (row.setUp == "long")
            WriteFile(folder + "/" + longName, "x");
        else if (row.setUp == "backslash")
            WriteFile(folder + "/a\\b.txt", "x");
        else if (row.setUp == "growing") { // its size says 0, yet it reads as more
            ASSERT_EQ(::symlink("/proc/self/status", (folder + "/status").c_str()), 0);
        }
        const std::string archive = s.dir / "out/made.dat";
        ::mkdir((s.dir / "out").c_str(), 0755);
        WriteFile(archive, "the old archive");
        std::vector<std::string> args = {"create", archive, "-C", folder};
        args.insert(args.end(), row.args.begin(), row.args.end());
        const ProcessResult r = Vdat(args);
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_EQ(r.err, row.line + "\n");
        EXPECT_EQ(ReadFile(archive), "the old archive");
        EXPECT_EQ(ListTree(s.dir / "out"), "made.dat\n");
        ::unlink(archive.c_str());
        EXPECT_EQ(Vdat(args).exitCode, 1);
        EXPECT_EQ(ListTree(s.dir / "out"), "");
    }
}

// Symbolic links and other files that are not regular are skipped with a note, unless -h.
TEST(VdatCreate, LinksAreSkippedUnlessFollowed) {
    Scratch s;
    const std::string source = s.Folder("source");
    const std::string elsewhere = s.Folder("elsewhere");
    WriteFile(elsewhere + "/linked.txt", "through a link");
    WriteFile(source + "/real.txt", "real");
    ASSERT_EQ(::symlink("../elsewhere", (source + "/folderlink").c_str()), 0);
    ASSERT_EQ(::symlink("real.txt", (source + "/filelink").c_str()), 0);
    ASSERT_EQ(::mkfifo((source + "/pipe").c_str(), 0644), 0);
    ProcessResult r = Vdat({"create", "-q", s.dir / "plain.dat", "-C", source});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_NE(r.err.find("vdat: filelink: symbolic link skipped"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("vdat: folderlink: symbolic link skipped"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("vdat: pipe: skipped (not a regular file)"), std::string::npos) << r.err;
    EXPECT_EQ(Vdat({"list", "-0", s.dir / "plain.dat"}).out, NullEnded({"real.txt"}));

    r = Vdat({"create", "-q", "--dereference", s.dir / "followed.dat", "-C", source});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(Vdat({"list", "-0", s.dir / "followed.dat"}).out,
              NullEnded({"filelink", "folderlink\\linked.txt", "real.txt"}));

    // A link partway down a PATH is no more followed than one at its end.
    for (const bool follow : {false, true}) {
        r = Vdat({"create", "-q", follow ? "-h" : "-q", s.dir / "through.dat", "-C", source,
                  "real.txt", "folderlink/linked.txt"});
        EXPECT_EQ(r.exitCode, 0);
        EXPECT_EQ(r.err, follow ? ""
                                : "vdat: folderlink: symbolic link skipped (-h follows "
                                  "symbolic links)\n");
        EXPECT_EQ(Vdat({"list", "-0", s.dir / "through.dat"}).out,
                  follow ? NullEnded({"folderlink\\linked.txt", "real.txt"})
                         : NullEnded({"real.txt"}));
    }

    // The archive is not put into itself when it lies among the files.
    r = Vdat({"create", "-q", "self.dat"}, InFolder(source));
    EXPECT_EQ(r.exitCode, 0);
    r = Vdat({"create", "-q", "self.dat"}, InFolder(source));
    EXPECT_NE(r.err.find("vdat: self.dat: skipped"), std::string::npos) << r.err;
    EXPECT_EQ(Vdat({"list", "-0", source + "/self.dat"}).out, NullEnded({"real.txt"}));
}

// A file that something else takes the place of between the walk and its reading is refused,
// not read, and a FIFO does not hold create up. The swap is made as soon as the temporary
// archive appears, while a large first file is still being compressed.
TEST(VdatCreate, FilesReplacedAfterTheWalkAreRefused) {
    struct Row {
        std::string swap; // what takes sub/z.txt's place
        std::string line;
    };
    const std::vector<Row> rows = {
        {"fifo", "vdat: sub/z.txt: cannot be put in the archive (not a regular file)"},
        {"file",
         "vdat: sub/z.txt: cannot be put in the archive (it was replaced after it was found)"},
        {"folder link",
         "vdat: sub/z.txt: cannot be put in the archive (cannot read it: Not a directory)"},
    };
    std::string big;
    unsigned seed = 7;
    for (int i = 0; i < (1 << 20); ++i) {
        seed = seed * 1103515245u + 12345u;
        big.push_back(char('a' + (seed >> 16) % 8));
    }
    for (const Row& row : rows) {
        SCOPED_TRACE(row.swap);
        Scratch s;
        const std::string source = s.Folder("source");
        const std::string outside = s.Folder("outside");
        const std::string sub = s.Folder("source/sub");
        const std::string out = s.Folder("out");
        WriteFile(source + "/a.big", big);
        WriteFile(sub + "/z.txt", "inside!!");
        WriteFile(outside + "/z.txt", "OUTSIDE!");
        bool swapped = false;
        const auto start = std::chrono::steady_clock::now();
        ProcessOptions options;
        options.signalWhen = [&] {
            if (!swapped && ListTree(out) != "") {
                swapped = true;
                if (row.swap == "fifo")
                    EXPECT_TRUE(::unlink((sub + "/z.txt").c_str()) == 0 &&
                                ::mkfifo((sub + "/z.txt").c_str(), 0644) == 0);
                else if (row.swap == "file")
                    EXPECT_EQ(std::rename((outside + "/z.txt").c_str(), (sub + "/z.txt").c_str()),
                              0);
                else
                    EXPECT_TRUE(std::rename(sub.c_str(), (source + "/old").c_str()) == 0 &&
                                ::symlink(outside.c_str(), sub.c_str()) == 0);
            }
            return std::chrono::steady_clock::now() - start > std::chrono::seconds(5);
        };
        options.signal = SIGKILL;
        const ProcessResult r =
            Vdat({"create", "-q", "-9", "-j1", out + "/made.dat", "-C", source}, options);
        EXPECT_TRUE(swapped);
        EXPECT_EQ(r.signal, 0); // not stuck opening the FIFO
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_EQ(r.err, row.line + "\n");
        EXPECT_EQ(ListTree(out), "");
    }
}

// Files beneath a folder: relative path to content.
using Files = std::map<std::string, std::string>;

void WriteFiles(const std::string& root, const Files& files) {
    ::mkdir(root.c_str(), 0755);
    for (const auto& [path, content] : files) {
        for (std::size_t at = path.find('/'); at != std::string::npos; at = path.find('/', at + 1))
            ::mkdir((root + "/" + path.substr(0, at)).c_str(), 0755);
        WriteFile(root + "/" + path, content);
    }
}

// What extracting the archive into out gives.
Files Extracted(const std::string& archive, const std::string& out) {
    const ProcessResult r = Vdat({"extract", "-q", archive, "-C", out});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    Files files;
    for (const std::string& path : Lines(ListTree(out)))
        if (path.back() != '/')
            files[path] = ReadFile(out + "/" + path);
    return files;
}

std::string Noise(std::size_t size, unsigned seed, int alphabet = 256) {
    std::string bytes(size, '\0');
    for (char& c : bytes) {
        seed = seed * 1103515245u + 12345u;
        c = char(alphabet == 256 ? seed >> 16 : 'a' + (seed >> 16) % unsigned(alphabet));
    }
    return bytes;
}

// An archive whose one entry lies just below 4 GiB, in a sparse file: no more data fits after it.
std::string NearTheLimit(const std::string& path) {
    std::string bytes;
    ArchiveBuilder::PutLE32(bytes, kArchiveMagic);
    ArchiveBuilder::PutLE32(bytes, 12);
    ArchiveBuilder::PutLE32(bytes, 144);
    bytes += ArchiveBuilder::Record("far.txt", 0xFFFFE000u, 16, 0);
    WriteFile(path, bytes);
    if (::truncate(path.c_str(), 0xFFFFE000) != 0)
        return std::strerror(errno);
    std::FILE* f = std::fopen(path.c_str(), "ab");
    const bool written = f && std::fwrite("far far far far.", 1, 16, f) == 16;
    return f && std::fclose(f) == 0 && written ? "" : "cannot write";
}

// Every change extracts as `vdat create` of the files expected extracts, keeps the archive's
// mode, and says once when it leaves most of the file unused.
TEST(VdatChange, EachExtractsAsCreateOfTheExpectedFiles) {
    const Files two = {{"a.txt", "alpha"}, {"sub/b.txt", std::string(20, 'b')}};
    ArchiveBuilder duplicated;
    duplicated.AddStored("dup.txt", "one");
    duplicated.AddPacked("keep.txt", std::string(900, 'k'));
    duplicated.AddStored("dup.txt", "two");
    // Header, then the directory, then the data.
    std::string directoryFirst;
    ArchiveBuilder::PutLE32(directoryFirst, kArchiveMagic);
    ArchiveBuilder::PutLE32(directoryFirst, 12);
    ArchiveBuilder::PutLE32(directoryFirst, 2 * 144);
    const std::string packed = ArchiveBuilder::Zlib(std::string(500, 'y'));
    directoryFirst += ArchiveBuilder::Record("x.txt", 300, 4, 0);
    directoryFirst += ArchiveBuilder::Record("y.txt", 304, 500, std::uint32_t(packed.size()));
    directoryFirst += "xxxx" + packed;
    // Two entries on the same bytes, the bytes of a third no record names, and a trailer.
    ArchiveBuilder gaps;
    gaps.AddStored("a.txt", "shared");
    gaps.AddStored("b.txt", "unused").dataOffset = 12;
    gaps.trailer = "left over";
    // A stored '/' is the same name to a NAME as '\\': renaming onto it would make two.
    ArchiveBuilder slashed;
    slashed.AddStored("a.txt", "alpha");
    slashed.AddStored("x/y.txt", "slash");

    struct Row {
        std::string what;
        std::string old; // the archive's bytes; empty: created from `before`; "near": NearTheLimit
        Files before, sources;
        std::vector<std::string> args; // the command, then what follows ARCHIVE; SRC: sources
        Files expected;
        std::vector<std::string> names = {}; // list -0 afterwards, when given
        int exitCode = 0;
        std::string line = {}; // a line stderr holds once, when given
        long long size = -1;   // the archive's size afterwards, when given
    };
    const std::vector<Row> rows = {
        {"add new",
         "",
         two,
         {{"c.txt", "gamma"}},
         {"add", "-C", "SRC", "c.txt"},
         {{"a.txt", "alpha"}, {"sub/b.txt", std::string(20, 'b')}, {"c.txt", "gamma"}},
         {"a.txt", "sub\\b.txt", "c.txt"}},
        {"replace",
         "",
         two,
         {{"a.txt", "ALPHA!"}},
         {"add", "-9", "a.txt", "-C", "SRC"},
         {{"a.txt", "ALPHA!"}, {"sub/b.txt", std::string(20, 'b')}},
         {"a.txt", "sub\\b.txt"}},
        {"replace a duplicated name",
         duplicated.Build(),
         {},
         {{"dup.txt", "three"}},
         {"add", "--store", "-C", "SRC", "dup.txt"},
         {{"dup.txt", "three"}, {"keep.txt", std::string(900, 'k')}},
         {"dup.txt", "keep.txt"}},
        {"delete by pattern",
         "",
         {{"a.txt", "alpha"}, {"sub/b.txt", "bb"}, {"sub/c.wav", Noise(60000, 3)}, {"d.wav", "d"}},
         {},
         {"delete", "*.wav"},
         {{"a.txt", "alpha"}, {"sub/b.txt", "bb"}},
         {"a.txt", "sub\\b.txt"},
         0,
         "bytes are unused; 'vdat compact' writes it without them"},
        {"rename",
         "",
         two,
         {},
         {"rename", "sub/b.txt", "z/y.txt"},
         {{"a.txt", "alpha"}, {"z/y.txt", std::string(20, 'b')}},
         {"a.txt", "z\\y.txt"}},
        {"onto an empty archive",
         ArchiveBuilder().Build(),
         {},
         two,
         {"add", "-C", "SRC", "a.txt", "sub"},
         two,
         {"a.txt", "sub\\b.txt"}},
        {"onto one whose directory sits before its data",
         directoryFirst,
         {},
         {{"x.txt", "new x"}, {"z.txt", "zz"}},
         {"add", "-C", "SRC", "z.txt", "x.txt"},
         {{"x.txt", "new x"}, {"y.txt", std::string(500, 'y')}, {"z.txt", "zz"}},
         {"x.txt", "y.txt", "z.txt"}},
        {"past the 32-bit limit",
         "near",
         {},
         {{"big.bin", Noise(8192, 5)}},
         {"add", "-C", "SRC", "big.bin"},
         {{"far.txt", "far far far far."}},
         {"far.txt"},
         1,
         "cannot change the archive (its data would pass the 4 GiB that 32-bit "
         "offsets address; 'vdat compact' may make room)"},
        {"compact makes room",
         "near",
         {},
         {},
         {"compact"},
         {{"far.txt", "far far far far."}},
         {"far.txt"},
         0,
         "",
         12 + 16 + 144},
        {"compact keeps shared data shared",
         gaps.Build(),
         {},
         {},
         {"compact", "-q"},
         {{"a.txt", "shared"}, {"b.txt", "shared"}},
         {"a.txt", "b.txt"},
         0,
         "",
         12 + 6 + 2 * 144},
        {"rename onto a name stored with '/'",
         slashed.Build(),
         {},
         {},
         {"rename", "a.txt", "x\\y.txt"},
         {{"a.txt", "alpha"}, {"x_y.txt", "slash"}},
         {},
         1,
         "(an entry of that name is there already)"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        Scratch s;
        const std::string archive = s.dir / "a.dat", source = s.dir / "src";
        if (row.old == "near") {
            const std::string problem = NearTheLimit(archive);
            if (!problem.empty())
                GTEST_SKIP() << "no sparse file of 4 GiB here: " << problem;
        } else if (row.old.empty()) {
            WriteFiles(s.dir / "before", row.before);
            ASSERT_EQ(Vdat({"create", "-q", archive, "-C", s.dir / "before"}).exitCode, 0);
        } else {
            WriteFile(archive, row.old);
        }
        ASSERT_EQ(::chmod(archive.c_str(), 0640), 0);
        WriteFiles(source, row.sources);
        const bool small = row.old != "near";
        const std::string oldBytes = small ? ReadFile(archive) : "";
        std::vector<std::string> args = row.args;
        args.insert(args.begin() + 1, archive);
        for (std::string& a : args)
            if (a.rfind("SRC", 0) == 0)
                a.replace(0, 3, source);
        const ProcessResult r = Vdat(args);
        EXPECT_EQ(r.exitCode, row.exitCode) << r.err;
        if (!row.line.empty()) {
            const std::size_t at = r.err.find(row.line);
            EXPECT_NE(at, std::string::npos) << r.err;
            EXPECT_EQ(r.err.find(row.line, at + 1), std::string::npos) << r.err;
        }
        if (row.exitCode != 0 && small) {
            EXPECT_EQ(ReadFile(archive), oldBytes);
        }
        WriteFiles(s.dir / "expected", row.expected);
        ASSERT_EQ(Vdat({"create", "-q", s.dir / "want.dat", "-C", s.dir / "expected"}).exitCode, 0);
        const Files got = Extracted(archive, s.dir / "got");
        EXPECT_EQ(got, Extracted(s.dir / "want.dat", s.dir / "wanted"));
        EXPECT_EQ(got, row.expected);
        if (!row.names.empty()) {
            EXPECT_EQ(Vdat({"list", "-0", archive}).out, NullEnded(row.names));
        }
        struct stat st;
        ASSERT_EQ(::stat(archive.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, 0640u);
        if (row.size >= 0) {
            EXPECT_EQ(st.st_size, row.size);
        }
        ::unlink(archive.c_str()); // 4 GiB of holes go at once
    }
}

// A change that is refused, fails or is stopped leaves the archive byte for byte as it was.
TEST(VdatChange, RefusedFailedOrStoppedChangesLeaveTheArchiveAsItWas) {
    const std::string longName(128, 'n');
    struct Row {
        std::string what;
        std::vector<std::string> args; // the command, then what follows ARCHIVE; SRC: sources
        std::string line;              // the end of the line stderr holds
        int exitCode = 1;
        int signal = 0;
        long fileSizeLimit = -1; // bytes more than the archive has
    };
    const std::vector<Row> rows = {
        {"a name too long",
         {"add", "-C", "SRC", longName},
         ": cannot be put in the archive (name is 128 bytes or longer)"},
        {"a file changing while read",
         {"add", "-h", "-C", "SRC", "status"},
         "vdat: status: cannot be put in the archive (it changed size while it was read)"},
        {"a full disk",
         {"add", "--store", "-C", "SRC", "noise.bin"},
         "(File too large)",
         1,
         0,
         1000},
        {"stopped", {"add", "-9", "-C", "SRC", "large.txt"}, "", -1, SIGTERM},
        {"another change under way",
         {"delete", "--no-wait", "a.txt"},
         ": cannot change the archive (another change to it is under way)"},
        {"a NAME that matches nothing",
         {"delete", "a.txt", "nothing"},
         "vdat: no entry named 'nothing'"},
        {"a NAME too long", {"rename", "a.txt", longName}, "(name is 128 bytes or longer)"},
        {"a NAME taken",
         {"rename", "a.txt", "sub/b.txt"},
         "vdat: sub/b.txt: cannot be put in the archive (an entry of that name is there already)"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        Scratch s;
        const std::string archive = s.dir / "a.dat", source = s.dir / "src";
        WriteFiles(s.dir / "before", {{"a.txt", "alpha"}, {"sub/b.txt", "beta"}});
        ASSERT_EQ(Vdat({"create", "-q", archive, "-C", s.dir / "before"}).exitCode, 0);
        WriteFiles(source, {{longName, "x"},
                            {"noise.bin", Noise(50000, 9)},
                            {"large.txt", Noise(16 << 20, 11, 8)}});
        ASSERT_EQ(::symlink("/proc/self/status", (source + "/status").c_str()), 0);
        const std::string oldBytes = ReadFile(archive);
        std::vector<std::string> args = row.args;
        args.insert(args.begin() + 1, archive);
        for (std::string& a : args)
            if (a == "SRC")
                a = source;
        ProcessOptions options;
        if (row.fileSizeLimit >= 0)
            options.fileSizeLimit = long(oldBytes.size()) + row.fileSizeLimit;
        const auto start = std::chrono::steady_clock::now();
        if (row.signal) {
            // While the large file is compressed, after the archive was opened for the change.
            options.signal = row.signal;
            options.signalWhen = [&] {
                return std::chrono::steady_clock::now() - start > std::chrono::milliseconds(300);
            };
        }
        const int held = ::open(archive.c_str(), O_RDONLY | O_CLOEXEC);
        if (row.what == "another change under way") {
            ASSERT_EQ(::flock(held, LOCK_EX), 0);
        }
        const ProcessResult r = Vdat(args, options);
        ::close(held);
        EXPECT_EQ(r.exitCode, row.exitCode) << r.err;
        EXPECT_EQ(r.signal, row.signal);
        if (!row.line.empty()) {
            EXPECT_EQ(Lines(r.err).size(), 1u) << r.err;
            EXPECT_NE(r.err.find(row.line + "\n"), std::string::npos) << r.err;
        }
        EXPECT_EQ(ReadFile(archive), oldBytes);
    }
}

// A second change waits for the one that holds the archive, then goes through.
TEST(VdatChange, ASecondChangeWaitsForTheFirst) {
    Scratch s;
    const std::string archive = s.dir / "a.dat";
    WriteFiles(s.dir / "before", {{"a.txt", "alpha"}, {"b.txt", "beta"}});
    ASSERT_EQ(Vdat({"create", "-q", archive, "-C", s.dir / "before"}).exitCode, 0);
    const std::string oldBytes = ReadFile(archive);
    int held = ::open(archive.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_EQ(::flock(held, LOCK_EX), 0);
    const auto start = std::chrono::steady_clock::now();
    bool unchangedWhileHeld = false;
    ProcessOptions options;
    options.signalWhen = [&] {
        if (held >= 0 &&
            std::chrono::steady_clock::now() - start > std::chrono::milliseconds(300)) {
            unchangedWhileHeld = ReadFile(archive) == oldBytes;
            ::close(held);
            held = -1;
        }
        return false;
    };
    const ProcessResult r = Vdat({"delete", archive, "a.txt"}, options);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(held, -1); // it was still waiting when the lock went
    EXPECT_TRUE(unchangedWhileHeld);
    EXPECT_EQ(Vdat({"list", "-0", archive}).out, NullEnded({"b.txt"}));
}

// vdat add killed at moments spread over its run: the archive reads as the old one or the new one,
// and the next run goes through on what the killed one left.
TEST(VdatChange, KilledAddLeavesTheOldOrTheNewArchive) {
    using Clock = std::chrono::steady_clock;
    Scratch s;
    const std::string archive = s.dir / "a.dat", source = s.dir / "src";
    WriteFiles(s.dir / "before", {{"a.txt", "alpha"}, {"b.txt", std::string(5000, 'b')}});
    WriteFiles(source, {{"b.txt", Noise(50 << 20, 13)}});
    ASSERT_EQ(Vdat({"create", "-q", archive, "-C", s.dir / "before"}).exitCode, 0);
    const std::string oldBytes = ReadFile(archive);
    const std::string oldList = Vdat({"list", "-l", archive}).out;
    const std::vector<std::string> add = {"add", "-q", "--store", archive, "-C", source, "b.txt"};
    auto start = Clock::now();
    ASSERT_EQ(Vdat(add).exitCode, 0);
    const auto whole = Clock::now() - start;
    const std::string newList = Vdat({"list", "-l", archive}).out;
    ASSERT_NE(newList, oldList);
    WriteFile(archive, oldBytes);
    constexpr int kKills = 12;
    int old = 0;
    for (int k = 0; k < kKills; ++k) {
        SCOPED_TRACE("kill " + std::to_string(k));
        const auto when = whole * (k + 0.5) / kKills;
        ProcessOptions options;
        options.signal = SIGKILL;
        start = Clock::now();
        options.signalWhen = [&] { return Clock::now() - start >= when; };
        Vdat(add, options);
        const std::string list = Vdat({"list", "-l", archive}).out;
        EXPECT_TRUE(list == oldList || list == newList) << list;
        EXPECT_EQ(Vdat({"test", archive}).exitCode, 0);
        if (list == oldList)
            ++old;
        else
            WriteFile(archive, oldBytes);
    }
    RecordProperty("killed with the old archive left", old);
    ASSERT_EQ(Vdat(add).exitCode, 0);
    EXPECT_EQ(Vdat({"list", "-l", archive}).out, newList);
}

// The program's side of a usage error the parser cannot see (the parsing itself is
// VdatOptions'): exit 2, nothing on stdout, nothing written.
TEST(VdatUsage, UnknownCodePageExitsTwoAndWritesNothing) {
    Scratch s;
    const std::string archive = s.Archive(TwoEntries());
    const ProcessResult r =
        InProcess({"extract", archive, "-C", s.dir.Path(), "--charset=NO-SUCH-CODE-PAGE"});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err, "");
    EXPECT_EQ(ListTree(s.dir.Path()), "a.dat\n");
}

TEST(VdatUsage, EachCommandHasItsOwnHelp) {
    const std::vector<std::pair<std::string, std::vector<std::string>>> commands = {
        {"info", {"Usage: vdat info", "--long"}},
        {"list", {"Usage: vdat list", "--long", "--json", "--null", "--charset"}},
        {"test", {"Usage: vdat test", "--charset"}},
        {"extract",
         {"Usage: vdat extract", "--directory", "--jobs", "--exclude", "--to-stdout",
          "--keep-old-files", "--verbose", "--quiet", "--charset"}},
        {"create",
         {"Usage: vdat create", "--directory", "--jobs", "-9", "--store", "--dereference",
          "--verbose", "--quiet"}},
        {"add",
         {"Usage: vdat add", "--directory", "--jobs", "-9", "--store", "--dereference", "--verbose",
          "--quiet", "--no-wait"}},
        {"delete", {"Usage: vdat delete", "--quiet", "--no-wait"}},
        {"rename", {"Usage: vdat rename", "--no-wait"}},
        {"compact", {"Usage: vdat compact", "--quiet", "--no-wait"}},
        {"mount", {"Usage: vdat mount", "MOUNTPOINT", "--foreground", "--charset"}},
    };
    for (const auto& [command, words] : commands) {
        // --help wins wherever it stands, even before a missing ARCHIVE.
        for (const std::vector<std::string>& args :
             {std::vector<std::string>{command, "--help"},
              std::vector<std::string>{command, "x.dat", "--help", "-q"}}) {
            const ProcessResult r = Vdat(args);
            SCOPED_TRACE(command);
            EXPECT_EQ(r.exitCode, 0);
            EXPECT_EQ(r.err, "");
            for (const std::string& word : words)
                EXPECT_NE(r.out.find(word), std::string::npos) << word;
        }
    }
}

TEST(VdatUsage, HelpShowsTheCommandsAndExitCodes) {
    const ProcessResult r = Vdat({"--help"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.err, "");
    for (const char* word : {"info",           "list",        "extract",
                             "test",           "create",      "add",
                             "delete",         "rename",      "compact",
                             "--no-wait",      "-C",          "--version",
                             "COMMAND --help", "--json",      "--null",
                             "--exclude",      "--to-stdout", "--keep-old-files",
                             "--charset",      "--store",     "--dereference",
                             "mount"})
        EXPECT_NE(r.out.find(word), std::string::npos) << word;
    // Each exit status on a line of its own, after the heading, in order: a "0 " anywhere in
    // the text (a default, a count) would not do.
    const std::vector<std::string> lines = Lines(r.out);
    const auto heading = std::find(lines.begin(), lines.end(), "Exit status:");
    ASSERT_NE(heading, lines.end()) << r.out;
    // The section runs to the first blank line; each command's options may follow it.
    const std::vector<std::string> statuses(heading + 1, std::find(heading, lines.end(), ""));
    ASSERT_GE(statuses.size(), 4u) << r.out;
    EXPECT_EQ(statuses[0], "  0  all done");
    EXPECT_EQ(statuses[1].rfind("  1  the archive could not be opened", 0), 0u) << statuses[1];
    EXPECT_EQ(statuses.back(), "  2  usage error");
}

TEST(VdatUsage, VersionIsTheProjectVersion) {
    const ProcessResult r = Vdat({"--version"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, std::string("vdat ") + VDAT_VERSION + "\n");
    EXPECT_EQ(r.err, "");
}

} // namespace
