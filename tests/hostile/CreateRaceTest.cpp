// vdat create while a folder beneath the source folder keeps trading places with a symbolic link
// to a folder outside it: each run adds the folder's own files, skips the link or refuses, and no
// byte comes from outside.
#include "HostileSupport.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

TEST(CreateRace, AFolderSwappedForALinkLendsNoBytesFromOutside) {
    using Clock = std::chrono::steady_clock;
    TempDir dir;
    const std::string source = dir / "source", sub = dir / "source/sub", outside = dir / "outside";
    for (const std::string& folder : {source, sub, outside})
        ASSERT_EQ(::mkdir(folder.c_str(), 0755), 0);
    // The same names and sizes on both sides, so only the bytes tell them apart.
    for (int i = 0; i < 300; ++i) {
        WriteFile(sub + "/f" + std::to_string(i), "inside!!");
        WriteFile(outside + "/f" + std::to_string(i), "OUTSIDE!");
    }
    const std::string link = dir / "link";
    ASSERT_EQ(::symlink(outside.c_str(), link.c_str()), 0);
    if (::renameat2(AT_FDCWD, sub.c_str(), AT_FDCWD, link.c_str(), RENAME_EXCHANGE) != 0)
        GTEST_SKIP() << "this file system cannot exchange two names";

    std::atomic<bool> stop = false;
    std::thread swapper([&] {
        while (!stop)
            ::renameat2(AT_FDCWD, sub.c_str(), AT_FDCWD, link.c_str(), RENAME_EXCHANGE);
    });
    const std::string archive = dir / "made.dat";
    unsigned runs = 0, made = 0;
    std::string fault;
    for (const auto end = Clock::now() + std::chrono::milliseconds(1000);
         fault.empty() && Clock::now() < end; ++runs) {
        const auto deadline = Clock::now() + std::chrono::seconds(5);
        ::unlink(archive.c_str());
        ProcessOptions killed;
        killed.signalWhen = [&] { return Clock::now() > deadline; };
        killed.signal = SIGKILL;
        const ProcessResult r = RunVdat({"create", "-q", "--store", archive, "-C", source}, killed);
        if (r.signal != 0) {
            fault = "ended by signal " + std::to_string(r.signal);
        } else if (r.exitCode == 0) {
            ++made;
            if (ReadFile(archive).find("OUTSIDE!") != std::string::npos)
                fault = "bytes from outside";
        }
    }
    stop = true;
    swapper.join();
    EXPECT_EQ(fault, "") << "in run " << runs << "; " << made << " made an archive";
}

} // namespace
