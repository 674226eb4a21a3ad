// Resources over a long run and destinations that fail: 200,000 entries keep memory flat and
// leave no descriptor open; a read-only destination, a full disk and a file size limit are
// reported as failures, never as success.
#include "DatArchive.h"
#include "Extraction.h"

#include "ArchiveBuilder.h"
#include "Harness.h"
#include "HostileSupport.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr std::uint32_t kSoakEntries = 200000;
constexpr std::uint32_t kEarly = 20000;
constexpr std::uint32_t kSoakFolders = 100;

std::string SoakName(std::uint32_t i) {
    char name[32];
    std::snprintf(name, sizeof name, "d%02u\\f%06u.bin", unsigned(i % kSoakFolders), unsigned(i));
    return name;
}

// Heap and resident size when extraction passes the early mark and when it reaches the end.
class SamplingProgress : public ProgressSink {
public:
    void SetRange(std::uint32_t) override {}
    void SetPosition(std::uint32_t position) override {
        if (position == kEarly) {
            heapEarly = HeapInUse();
            residentEarly = ResidentBytes();
        } else if (position == kSoakEntries) {
            heapLate = HeapInUse();
            residentLate = ResidentBytes();
            descriptorsLate = OpenDescriptors();
        }
    }
    std::size_t heapEarly = 0, heapLate = 0, residentEarly = 0, residentLate = 0;
    int descriptorsLate = -1;
};

TEST(Soak, TwoHundredThousandEntriesKeepMemoryFlatAndLeaveNoDescriptorOpen) {
    const auto start = std::chrono::steady_clock::now();
    TempDir dir;
    const std::string archivePath = dir / "many.dat", dest = dir / "out";
    ASSERT_EQ(::mkdir(dest.c_str(), 0755), 0);
    {
        ArchiveBuilder b;
        for (std::uint32_t i = 0; i < kSoakEntries; ++i)
            b.AddStored(SoakName(i), std::to_string(i));
        WriteFile(archivePath, b.Build());
    }

    const int descriptorsBefore = OpenDescriptors();
    ASSERT_GT(descriptorsBefore, 0);
    {
        MessageRecorder messages;
        NullListSink list;
        NullProgressSink loading;
        DatArchive archive(messages, list, loading);
        ASSERT_TRUE(archive.Open(archivePath));
        archive.LoadDirectory();
        ASSERT_EQ(archive.EntryCount(), kSoakEntries);
        SamplingProgress sampler;
        Extractor extractor(archive, messages, sampler);
        extractor.SetDestination(dest);
        const ExtractSummary s = extractor.ExtractAll();
        EXPECT_EQ(s.written, kSoakEntries);
        EXPECT_TRUE(s.AllWritten());
        EXPECT_TRUE(messages.messages.empty());

        // 180,000 entries between the two marks: even one byte kept per entry would show.
        const auto heapGrowth = std::int64_t(sampler.heapLate) - std::int64_t(sampler.heapEarly);
        const auto residentGrowth =
            std::int64_t(sampler.residentLate) - std::int64_t(sampler.residentEarly);
        std::printf("heap %zu -> %zu bytes, resident %zu -> %zu bytes\n", sampler.heapEarly,
                    sampler.heapLate, sampler.residentEarly, sampler.residentLate);
        EXPECT_LT(heapGrowth, 64 * 1024);
        if (!UnderAddressSanitizer()) {
            EXPECT_LT(residentGrowth, 4 * 1024 * 1024);
        }
        // While extracting: the archive, the destination and at most the folders kept open
        // beneath it (one per folder here); after: the archive.
        EXPECT_LE(sampler.descriptorsLate, descriptorsBefore + 2 + int(kSoakFolders));
        EXPECT_EQ(OpenDescriptors(), descriptorsBefore + 1);
    }
    EXPECT_EQ(OpenDescriptors(), descriptorsBefore);

    std::size_t files = 0;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(dest))
        files += entry.is_regular_file();
    EXPECT_EQ(files, kSoakEntries);
    for (std::uint32_t i : {0u, kEarly, kSoakEntries - 1}) {
        std::string path = SoakName(i);
        path[3] = '/';
        EXPECT_EQ(ReadFile(dest + "/" + path), std::to_string(i)) << path;
    }
    const auto seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start);
    std::printf("%u entries in %.1f s\n", unsigned(kSoakEntries), seconds.count());
}

// Entries larger than a worker may hold are inflated and written in pieces: four workers on four
// entries of 96 MiB stay far below what holding even one of them whole would take. (The full-size
// check, four entries of 1 GiB, is in bench/compare.)
TEST(Soak, HugeEntriesAreWrittenInPiecesWithinTheMemoryBound) {
    if (UnderAddressSanitizer())
        GTEST_SKIP() << "resident size means nothing under AddressSanitizer";
    constexpr std::uint32_t kEntries = 4, kReal = 96u << 20;
    TempDir dir;
    const std::string archivePath = dir / "huge.dat", dest = dir / "out";
    std::size_t expected = 0;
    {
        // Gone before vdat starts: a child's peak resident size counts what it was forked with.
        std::string content(kReal, '\0');
        for (std::uint32_t i = 0; i < kReal; i += 64)
            std::snprintf(&content[i], 64, "line %u of a long entry that packs well\n",
                          unsigned(i));
        expected = std::hash<std::string>{}(content);
        const std::string stream = ArchiveBuilder::Zlib(content, 1);
        ArchiveBuilder b;
        for (std::uint32_t i = 0; i < kEntries; ++i)
            b.AddRaw("big" + std::to_string(i) + ".bin", stream, kReal,
                     std::uint32_t(stream.size()));
        WriteFile(archivePath, b.Build());
    }
    const ProcessResult run = RunVdat({"extract", "-j", "4", archivePath, "-C", dest});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    std::printf("4 x 96 MiB at -j 4: peak resident %ld KiB\n", run.peakKiB);
    EXPECT_LT(run.peakKiB, 64 * 1024);
    for (std::uint32_t i = 0; i < kEntries; ++i)
        EXPECT_EQ(std::hash<std::string>{}(ReadFile(dest + "/big" + std::to_string(i) + ".bin")),
                  expected)
            << i;
}

// ---- destinations that fail ----------------------------------------------------------------

enum class Failure { ReadOnlyMount, ReadOnlyFolder, FullTmpfs, FileSizeLimit };

struct FailureCase {
    std::string name;
    Failure failure;
    std::uint32_t written;
    std::uint32_t notWritten;
    std::string tree;
    // Every entry's name already holds a file: a replacement that fails leaves it as it was.
    bool overOldFiles;
};

constexpr long kLimit = 64 * 1024;
const std::string kSmall(100, 's');

std::string FailureArchive() {
    ArchiveBuilder b;
    b.AddStored("small.txt", kSmall);
    std::string big(256 * 1024, '\0');
    for (std::size_t i = 0; i < big.size(); ++i)
        big[i] = char(i * 7 + 1);
    b.AddStored("big.bin", big);
    b.AddPacked("zeros.bin", std::string(256 * 1024, '\0'));
    b.AddStored("sub\\after.txt", kSmall);
    return b.Build();
}

// What makes the destination fail; false when this system does not allow it.
class Breaker {
public:
    Breaker(Failure failure, const std::string& dest) : failure_(failure), dest_(dest) {}
    ~Breaker() {
        if (failure_ == Failure::ReadOnlyFolder)
            ::chmod(dest_.c_str(), 0755);
    }
    bool Arm() {
        switch (failure_) {
        case Failure::ReadOnlyMount:
            mount_ = std::make_unique<ScopedTmpfs>(dest_, "size=1m", true);
            return mount_->Mounted();
        case Failure::ReadOnlyFolder:
            // Permissions do not stop root.
            return ::geteuid() != 0 && ::chmod(dest_.c_str(), 0555) == 0;
        case Failure::FullTmpfs:
            mount_ = std::make_unique<ScopedTmpfs>(dest_, "size=64k");
            return mount_->Mounted();
        case Failure::FileSizeLimit:
            return true;
        }
        return false;
    }

private:
    Failure failure_;
    std::string dest_;
    std::unique_ptr<ScopedTmpfs> mount_;
};

const char* const kFailureNames[] = {"small.txt", "big.bin", "zeros.bin", "sub/after.txt"};

void PlantOldFiles(const std::string& dest) {
    ASSERT_EQ(::mkdir((dest + "/sub").c_str(), 0755), 0);
    for (const char* name : kFailureNames)
        WriteFile(dest + "/" + name, std::string("old ") + name);
}

// Why a folder cannot be made in a destination that fails this way.
std::string FolderReason(Failure failure) {
    return std::strerror(failure == Failure::ReadOnlyMount ? EROFS : EACCES);
}

// Failures name the case rather than dumping its bytes.
void PrintTo(const FailureCase& c, std::ostream* os) {
    *os << c.name;
}

class FailingDestination : public ::testing::TestWithParam<FailureCase> {};

TEST_P(FailingDestination, ReportsEveryEntryThatCouldNotBeWritten) {
    const FailureCase& c = GetParam();
    TempDir dir;
    const std::string archivePath = dir / "archive.dat";
    WriteFile(archivePath, FailureArchive());
    const std::string libraryDest = dir / "library", vdatDest = dir / "vdat";
    ASSERT_EQ(::mkdir(libraryDest.c_str(), 0755), 0);
    ASSERT_EQ(::mkdir(vdatDest.c_str(), 0755), 0);
    ExtractSummary expected;
    expected.written = c.written;
    expected.notWritten = c.notWritten;
    const bool limited = c.failure == Failure::FileSizeLimit;

    {
        SCOPED_TRACE("library");
        Breaker breaker(c.failure, libraryDest);
        if (!breaker.Arm())
            GTEST_SKIP() << "this system does not allow " << c.name;
        if (c.overOldFiles)
            PlantOldFiles(libraryDest);
        RecordedArchive recorded;
        auto& [messages, list, progress, archive] = recorded;
        ASSERT_TRUE(archive.Open(archivePath));
        archive.LoadDirectory();
        Extractor extractor(archive, messages, progress);
        extractor.SetDestination(libraryDest);
        ExtractSummary s;
        {
            ScopedFileSizeLimit limit(limited ? kLimit : -1);
            s = extractor.ExtractAll();
        }
        EXPECT_EQ(s.written, c.written);
        EXPECT_EQ(s.notWritten, c.notWritten);
        EXPECT_FALSE(s.AllWritten());
        EXPECT_EQ(messages.messages,
                  std::vector<RecordedMessage>(c.notWritten, {"Can`t Extract file", "Error!"}));
        // Where no folder can be made, that is the cause told, not the file's failure after it.
        if (c.notWritten == 4) {
            ASSERT_EQ(messages.failures.size(), 4u);
            EXPECT_EQ(messages.failures[3].reason, "sub: " + FolderReason(c.failure));
        }
        EXPECT_EQ(ListTree(libraryDest), c.tree);
        // A file that could not be written whole is left empty, never half written; a file
        // that was there before keeps its bytes.
        for (const char* name : {"big.bin", "zeros.bin"}) {
            struct stat st;
            if (c.overOldFiles) {
                EXPECT_EQ(ReadFile(libraryDest + "/" + name), std::string("old ") + name);
            } else if (::lstat((libraryDest + "/" + name).c_str(), &st) == 0) {
                EXPECT_EQ(st.st_size, 0) << name;
            }
        }
        if (c.overOldFiles) {
            EXPECT_EQ(ReadFile(libraryDest + "/small.txt"), kSmall);
            EXPECT_EQ(ReadFile(libraryDest + "/sub/after.txt"), kSmall);
        }
    }
    {
        SCOPED_TRACE("vdat");
        Breaker breaker(c.failure, vdatDest);
        ASSERT_TRUE(breaker.Arm());
        if (c.overOldFiles)
            PlantOldFiles(vdatDest);
        ProcessOptions limits;
        if (limited)
            limits.fileSizeLimit = kLimit;
        // One worker: with two, a large entry may fill the file system while a small one is
        // being written, and which of them fails would be left to chance.
        const ProcessResult run =
            RunVdat({"extract", archivePath, "-C", vdatDest, "-j", "1"}, limits);
        EXPECT_EQ(run.exitCode, 1) << run.err;
        EXPECT_EQ(Occurrences(run.err, VdatShown("Can`t Extract file")), c.notWritten) << run.err;
        EXPECT_EQ(Occurrences(run.err, SummaryLine(expected)), 1u) << run.err;
        if (c.notWritten == 4) {
            EXPECT_EQ(Occurrences(run.err, "sub\\after.txt: Can`t Extract file (not written: "
                                           "cannot make the folder sub: " +
                                               FolderReason(c.failure) + ")"),
                      1u)
                << run.err;
        }
        EXPECT_EQ(ListTree(vdatDest), c.tree);
        if (c.overOldFiles) {
            for (const char* name : {"big.bin", "zeros.bin"})
                EXPECT_EQ(ReadFile(vdatDest + "/" + name), std::string("old ") + name);
        }
    }
}

const std::string kPartlyWritten = "big.bin\nsmall.txt\nsub/\nsub/after.txt\nzeros.bin\n";

INSTANTIATE_TEST_SUITE_P(
    Destinations, FailingDestination,
    ::testing::Values(
        FailureCase{"ReadOnlyMount", Failure::ReadOnlyMount, 0, 4, "", false},
        FailureCase{"ReadOnlyFolder", Failure::ReadOnlyFolder, 0, 4, "", false},
        FailureCase{"FullTmpfs", Failure::FullTmpfs, 2, 2, kPartlyWritten, false},
        FailureCase{"FileSizeLimit", Failure::FileSizeLimit, 2, 2, kPartlyWritten, false},
        FailureCase{"FullTmpfsOverOldFiles", Failure::FullTmpfs, 2, 2, kPartlyWritten, true},
        FailureCase{"FileSizeLimitOverOldFiles", Failure::FileSizeLimit, 2, 2, kPartlyWritten,
                    true}),
    [](const ::testing::TestParamInfo<FailureCase>& info) { return info.param.name; });

} // namespace
