// vdat extract while another user, who may write into the destination, keeps trading a folder
// that vdat made for a symbolic link to a folder of ours outside it. Whatever is swapped when,
// nothing outside the destination is created, replaced or removed; the same where the kernel
// has no openat2.
#include "ArchiveBuilder.h"
#include "HostileSupport.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <grp.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

struct RaceCase {
    std::string name;
    std::string archive; // built once
    int signal = 0;      // sent a moment into the run, when set
    bool withoutOpenat2 = false;
    long openFiles = -1; // few: folders are dropped and reached again from the top all the time
};

void PrintTo(const RaceCase& c, std::ostream* os) {
    *os << c.name;
}

// a\first makes the folder to be swapped; then a folder made in it for every entry.
std::string FoldersBeneathTheSwappedOne() {
    ArchiveBuilder b;
    b.AddStored("a\\first", "first");
    char name[32];
    for (int i = 0; i < 1000; ++i) {
        std::snprintf(name, sizeof name, "a\\d%06d\\f", i);
        b.AddStored(name, "made beneath a");
    }
    return b.Build();
}

// The same name again and again: each entry replaces the file the one before it wrote.
std::string OneFileReplacedOverAndOver() {
    ArchiveBuilder b;
    for (int i = 0; i < 2000; ++i)
        b.AddStored("a\\f", "entry " + std::to_string(i));
    return b.Build();
}

std::vector<RaceCase> Cases() {
    const std::string folders = FoldersBeneathTheSwappedOne();
    const std::string replaced = OneFileReplacedOverAndOver();
    std::vector<RaceCase> cases;
    for (const bool without : {false, true}) {
        const std::string how = without ? "WithoutOpenat2" : "";
        cases.push_back({"FoldersMadeBeneath" + how, folders, 0, without});
        cases.push_back({"FoldersMadeBeneathFewDescriptors" + how, folders, 0, without, 64});
        cases.push_back({"FileReplaced" + how, replaced, 0, without});
        cases.push_back({"StoppedWhileReplacing" + how, replaced, SIGTERM, without});
    }
    return cases;
}

// The other user: where this test runs as root, nobody.
void BecomeAnotherUser() {
    if (::geteuid() == 0 &&
        (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0))
        ::_exit(1);
}

class RaceInTheDestination : public ::testing::TestWithParam<RaceCase> {};

TEST_P(RaceInTheDestination, NothingOutsideIsTouched) {
    const RaceCase& c = GetParam();
    TempDir dir;
    const std::string dest = dir / "dest", outside = dir / "outside";
    const std::string swapped = dest + "/a", other = dest + "/a_alt";
    // Anyone may write into the destination; the folder outside is ours alone.
    ASSERT_EQ(::chmod(dir.Path().c_str(), 0755), 0);
    ASSERT_EQ(::mkdir(dest.c_str(), 0777), 0);
    ASSERT_EQ(::chmod(dest.c_str(), 0777), 0);
    ASSERT_EQ(::mkdir(outside.c_str(), 0755), 0);
    WriteFile(outside + "/f", "precious: must stay as it is\n");
    WriteFile(outside + "/first", "precious too\n");
    const std::string archive = dir / "race.dat";
    WriteFile(archive, c.archive);
    ASSERT_EQ(::symlink(outside.c_str(), other.c_str()), 0);
    {
        const std::string probe = dest + "/probe";
        ASSERT_EQ(::mkdir(probe.c_str(), 0755), 0);
        const bool exchanges =
            ::renameat2(AT_FDCWD, probe.c_str(), AT_FDCWD, other.c_str(), RENAME_EXCHANGE) == 0 &&
            ::renameat2(AT_FDCWD, probe.c_str(), AT_FDCWD, other.c_str(), RENAME_EXCHANGE) == 0;
        ::rmdir(probe.c_str());
        if (!exchanges)
            GTEST_SKIP() << "this file system cannot exchange two names";
    }
    ASSERT_EQ(::lchown(other.c_str(), 65534, 65534) == 0 || ::geteuid() != 0, true);
    const auto before = Contents(outside);
    // The other user must be able to reach the destination (a TMPDIR inside a private home
    // would not let it).
    const pid_t probe = ::fork();
    ASSERT_GE(probe, 0);
    if (probe == 0) {
        BecomeAnotherUser();
        ::_exit(::access(dest.c_str(), W_OK | X_OK) == 0 ? 0 : 3);
    }
    int probed = 0;
    ASSERT_EQ(::waitpid(probe, &probed, 0), probe);
    if (WIFEXITED(probed) && WEXITSTATUS(probed) == 3)
        GTEST_SKIP() << "another user cannot reach " << dest;

    auto* flips = static_cast<std::atomic<long>*>(::mmap(nullptr, sizeof(std::atomic<long>),
                                                         PROT_READ | PROT_WRITE,
                                                         MAP_SHARED | MAP_ANONYMOUS, -1, 0));
    ASSERT_NE(flips, MAP_FAILED);
    new (flips) std::atomic<long>(0);
    const pid_t attacker = ::fork();
    ASSERT_GE(attacker, 0);
    if (attacker == 0) {
        BecomeAnotherUser();
        for (;;)
            if (::renameat2(AT_FDCWD, swapped.c_str(), AT_FDCWD, other.c_str(), RENAME_EXCHANGE) ==
                0)
                flips->fetch_add(1);
    }

    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    ProcessOptions options;
    options.withoutOpenat2 = c.withoutOpenat2;
    options.openFilesLimit = c.openFiles;
    options.signal = c.signal ? c.signal : SIGKILL;
    options.signalWhen = [&] {
        return Clock::now() - start >
               (c.signal ? std::chrono::milliseconds(150) : std::chrono::milliseconds(20000));
    };
    const ProcessResult run = RunProcess({VDAT_BIN, "extract", "-q", archive, "-C", dest}, options);
    ::kill(attacker, SIGKILL);
    ::waitpid(attacker, nullptr, 0);
    const long swaps = flips->load();
    ::munmap(flips, sizeof(std::atomic<long>));

    EXPECT_EQ(run.signal, c.signal) << run.err;
    if (!c.signal) {
        EXPECT_TRUE(run.exitCode == 0 || run.exitCode == 1) << run.err;
    }
    EXPECT_GT(swaps, 0) << "the folder was never swapped";
    EXPECT_EQ(Contents(outside), before);
    std::printf("%ld swaps during the run\n", swaps);
}

INSTANTIATE_TEST_SUITE_P(Swaps, RaceInTheDestination, ::testing::ValuesIn(Cases()),
                         [](const ::testing::TestParamInfo<RaceCase>& info) {
                             return info.param.name;
                         });

} // namespace
