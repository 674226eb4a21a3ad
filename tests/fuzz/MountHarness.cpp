// The body of the mount fuzz target. What each file must hold is worked out from the input bytes
// here (the records read by hand, packed data through uncompress), so the mount is not checked
// against the library's own reading of them.
#include "MountHarness.h"

#include "EntryPath.h"
#include "InflateOracle.h"
#include "MemoryMeter.h"
#include "MountTree.h"
#include "MountWalk.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <map>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

namespace {
constexpr std::uint32_t kMagic = 0x54414456;
constexpr std::size_t kRecord = 144;

// Small limits, so that inputs of a few KiB reach both ways of inflating and the cache's
// eviction; a budget, so that records sharing one stream that inflates 1000-fold stay quick.
constexpr std::size_t kWholeLimit = 16 * 1024;
constexpr std::size_t kCacheLimit = 64 * 1024;
constexpr std::uint64_t kReadBudget = 16u << 20;
constexpr std::size_t kStep = 5000;

// Peak heap: the read window and input piece of a file inflated in pieces (5 MiB), for the open
// file and for each of the four entries that reads by node keep, the thread's read buffer
// (1 MiB), zlib and libdeflate, the cache and the entries being inflated whole; and per input
// byte the directory, the tree and the names.
constexpr std::size_t kMemoryConstant = 28u << 20;
constexpr std::size_t kMemoryPerInputByte = 24;

[[noreturn]] void Fail(const std::string& what) {
    std::fprintf(stderr, "mount harness: %s\n", what.c_str());
    std::abort();
}

std::uint32_t Le32(const std::uint8_t* p) {
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
           std::uint32_t(p[3]) << 24;
}

// The folder inputs are written into, made once.
int Scratch() {
    static const int folder = [] {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/vdat-mount-XXXXXX";
        if (!::mkdtemp(pattern.data()))
            Fail("cannot make a scratch folder in " + pattern);
        static std::string path = pattern;
        std::atexit([] {
            ::unlink((path + "/input.dat").c_str());
            ::rmdir(path.c_str());
        });
        return ::open(pattern.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    }();
    return folder;
}

std::size_t lastPeak = 0;
} // namespace

std::size_t LastMountPeakHeap() {
    return lastPeak;
}

void CheckMountInput(const std::uint8_t* data, std::size_t size) {
    const int folder = Scratch();
    {
        const int fd =
            ::openat(folder, "input.dat", O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        if (fd < 0 || ::write(fd, data, size) != ssize_t(size) || ::close(fd) != 0)
            Fail("cannot write the input");
    }
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);

    memory_meter::Reset();
    {
        MountTree mount({.cacheLimit = kCacheLimit, .wholeLimit = kWholeLimit});
        ArchiveProblem problem;
        const bool opens = mount.Open(folder, "input.dat", problem);
        if (opens != (size >= 12 && Le32(data) == kMagic))
            Fail(opens ? "a file that is no archive opens" : "an archive does not open");
        if (!opens) {
            lastPeak = memory_meter::PeakSinceReset();
            return;
        }
        const MountWalk walk = WalkMount(mount, kStep, kReadBudget);
        if (!walk.broken.empty())
            Fail(walk.broken);
        if (mount.CachedBytes() > kCacheLimit + kWholeLimit)
            Fail("the cache holds more than its limit");

        // The records by hand: the last one of each path is what that path shows.
        const std::uint64_t offset = Le32(data + 4);
        const std::uint64_t count = Le32(data + 8) / kRecord;
        std::map<std::string, std::uint64_t> last; // path -> the record's position
        for (std::uint64_t i = 0; i < count && offset + (i + 1) * kRecord <= size; ++i) {
            const std::string_view field = bytes.substr(offset + i * kRecord, 128);
            if (const auto path = ParseEntryPath(field.substr(0, field.find('\0'))))
                last[path->relative] = offset + i * kRecord;
        }
        // What the record's data gives: its bytes, or nothing when it is damaged.
        auto expected = [&](std::uint64_t at, std::string& out) {
            const std::uint64_t start = Le32(data + at + 128), real = Le32(data + at + 132),
                                packed = Le32(data + at + 136);
            if (packed == 0) {
                if (start + real > size)
                    return false;
                out = bytes.substr(start, real);
                return true;
            }
            // Deflate expands at most 1032:1; more is no stream's output (nor memory to ask for).
            if (start + packed > size || real > 1032 * packed + 64)
                return false;
            Inflated inflated = ByUncompress(bytes.substr(start, packed), std::uint32_t(real));
            out = std::move(inflated.bytes);
            return inflated.status == InflateStatus::Whole;
        };
        for (const auto& [path, got] : walk.files) {
            std::string want;
            if (!last.count(path))
                Fail(path + ": a file no record names");
            if (!expected(last.at(path), want))
                Fail(path + ": a damaged entry is read without an error");
            if (got != want)
                Fail(path + ": its bytes are not its entry's");
        }
        for (const auto& [path, error] : walk.failed) {
            std::string want;
            if (!last.count(path))
                Fail(path + ": a file no record names");
            if (error != EIO || expected(last.at(path), want))
                Fail(path + ": a sound entry's read fails: " + std::to_string(error));
        }
    }
    lastPeak = memory_meter::PeakSinceReset();
    if (lastPeak > kMemoryConstant + kMemoryPerInputByte * size)
        Fail("peak heap " + std::to_string(lastPeak) + " for " + std::to_string(size) +
             " input bytes");
}
