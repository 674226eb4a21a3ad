// vdat mount through the kernel: the mounted tree against what `vdat extract` writes, byte for
// byte; a damaged entry's reads failing with EIO; the archive rewritten in place while mounted
// and the change seen; unmounting by fusermount3 and by Ctrl-C in the foreground. Skipped where
// the machine cannot mount (no /dev/fuse, no fusermount3).
#include "ArchiveBuilder.h"
#include "Process.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <sstream>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

std::string Fusermount() {
    std::istringstream path(std::getenv("PATH") ? std::getenv("PATH") : "/usr/bin:/bin");
    for (std::string folder; std::getline(path, folder, ':');)
        if (::access((folder + "/fusermount3").c_str(), X_OK) == 0)
            return folder + "/fusermount3";
    return "";
}

std::string WhyNoMount() {
    if (::access("/dev/fuse", R_OK | W_OK) != 0)
        return "/dev/fuse cannot be opened here: no FUSE";
    if (Fusermount().empty())
        return "no fusermount3 on PATH (Debian package fuse3)";
    return "";
}

// Unmounts whatever is left mounted when a check fails half-way.
struct Unmount {
    std::string point;
    ~Unmount() { RunProcess({Fusermount(), "-u", "-z", point}); }
};

// Lines of "text" that vary, so the large entry packs well but not so well that it passes for
// a lie about its size.
std::string Lines(std::size_t bytes, const std::string& word) {
    std::string out;
    for (std::size_t i = 0; out.size() < bytes; ++i)
        out += word + " line " + std::to_string(i * 7919 % 100003) + "\n";
    out.resize(bytes);
    return out;
}

std::string Archive(const std::string& readme, bool added) {
    ArchiveBuilder b;
    b.AddPacked("readme.txt", readme);
    b.AddPacked("textures\\walls\\stone.pcx", Lines(300000, "stone"));
    b.AddStored("sound\\intro.wav", Lines(200000, "wave"));
    b.AddStored("a/b.txt", "slash\n");
    b.AddStored("same.txt", "first\n");
    b.AddStored("same.txt", "second\n");
    b.AddStored("..\\evil.txt", "refused\n");
    b.AddRaw("broken.bin", "this is no zlib stream", 5000, 22);
    // Larger than an entry inflated whole: read in pieces, the kernel reading ahead on threads.
    b.AddPacked("maps\\big.bsp", Lines((33u << 20) + 12345, "map"), 1);
    if (added)
        b.AddStored("added.txt", "added\n");
    return b.Build();
}

template <typename Condition> bool Within(std::chrono::seconds limit, Condition condition) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return true;
}

TEST(VdatMount, ShowsWhatExtractWritesAndSeesTheArchiveChange) {
    if (const std::string why = WhyNoMount(); !why.empty())
        GTEST_SKIP() << why;
    TempDir dir;
    const std::string archive = dir / "a.dat", mountpoint = dir / "m", extracted = dir / "x";
    WriteFile(archive, Archive("the readme\n", false));
    ASSERT_EQ(::mkdir(mountpoint.c_str(), 0755), 0);
    EXPECT_EQ(RunProcess({VDAT_BINARY, "extract", "-q", archive, "-C", extracted}).exitCode, 1);

    const ProcessResult mounted = RunProcess({VDAT_BINARY, "mount", archive, mountpoint});
    Unmount guard{mountpoint};
    ASSERT_EQ(mounted.exitCode, 0) << mounted.err;
    // Ready on return; the refused name told once.
    EXPECT_EQ(mounted.err, "vdat: ..\\evil.txt: not shown (name leads outside the destination)\n");
    const std::string tree = ListTree(mountpoint);
    EXPECT_EQ(tree, ListTree(extracted));
    std::istringstream paths(tree);
    for (std::string path; std::getline(paths, path);) {
        if (path.back() == '/' || path == "broken.bin")
            continue;
        EXPECT_TRUE(ReadFile(mountpoint + "/" + path) == ReadFile(extracted + "/" + path)) << path;
    }

    // The damaged entry: listed with its size, its reads fail.
    struct stat st {};
    ASSERT_EQ(::stat((mountpoint + "/broken.bin").c_str(), &st), 0);
    EXPECT_EQ(st.st_size, 5000);
    const int fd = ::open((mountpoint + "/broken.bin").c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    char byte;
    EXPECT_EQ(::read(fd, &byte, 1), -1);
    EXPECT_EQ(errno, EIO);
    ::close(fd);

    // Read-only, owned by who mounted it, with the archive's time.
    struct stat file {
    }, folder{}, source{};
    ::stat((mountpoint + "/readme.txt").c_str(), &file);
    ::stat((mountpoint + "/textures").c_str(), &folder);
    ::stat(archive.c_str(), &source);
    EXPECT_EQ(file.st_mode, S_IFREG | 0444);
    EXPECT_EQ(folder.st_mode, S_IFDIR | 0555);
    EXPECT_EQ(file.st_uid, ::getuid());
    EXPECT_EQ(folder.st_gid, ::getgid());
    EXPECT_EQ(file.st_mtime, source.st_mtime);
    EXPECT_LT(::open((mountpoint + "/readme.txt").c_str(), O_WRONLY), 0);

    // The archive written anew at the same path, in place: seen within the kernel's timeouts
    // and the mount's check.
    WriteFile(archive, Archive("the new readme\n", true));
    EXPECT_TRUE(Within(std::chrono::seconds(10), [&] {
        return Exists(mountpoint + "/added.txt") &&
               ReadFile(mountpoint + "/readme.txt") == "the new readme\n";
    }));
    EXPECT_EQ(ReadFile(mountpoint + "/added.txt"), "added\n");

    EXPECT_EQ(RunProcess({Fusermount(), "-u", mountpoint}).exitCode, 0);
    EXPECT_EQ(ListTree(mountpoint), "");
}

TEST(VdatMount, InTheForegroundCtrlCUnmounts) {
    if (const std::string why = WhyNoMount(); !why.empty())
        GTEST_SKIP() << why;
    TempDir dir;
    const std::string archive = dir / "a.dat", mountpoint = dir / "m";
    ArchiveBuilder b;
    b.AddStored("here.txt", "here\n");
    WriteFile(archive, b.Build());
    ASSERT_EQ(::mkdir(mountpoint.c_str(), 0755), 0);
    Unmount guard{mountpoint};
    ProcessOptions options;
    options.signalWhen = [&] { return Exists(mountpoint + "/here.txt"); };
    options.signal = SIGINT;
    const ProcessResult r = RunProcess({VDAT_BINARY, "mount", "-f", archive, mountpoint}, options);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(ListTree(mountpoint), "");
}

} // namespace
