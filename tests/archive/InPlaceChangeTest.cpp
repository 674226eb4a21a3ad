// A change in place stopped at each of its writes and flushes in turn: failed there (a full disk,
// a signal), the archive is byte for byte as it was; ended there without a chance to clean up (a
// kill: what was written stays; a power cut: what was not flushed may be lost too), it reads as
// the old archive or the new one, entry for entry, and the next change goes through.
#include "ArchiveBuilder.h"
#include "ArchiveRewriter.h"
#include "Directory.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>
#include <zlib.h>

namespace {

// Each entry's name and content as extraction gives them, in directory order.
using View = std::vector<std::pair<std::string, std::string>>;

View Read(const std::string& path) {
    Directory directory;
    ArchiveProblem problem;
    if (!ReadArchiveDirectory(path, directory, problem) || directory.CutShort())
        return {{"(unreadable)", ""}};
    const std::string bytes = ReadFile(path);
    View view;
    for (const DirectoryEntry& e : directory.entries) {
        const std::uint32_t length = e.IsPacked() ? e.packedSize : e.realSize;
        if (std::uint64_t(e.dataOffset) + length > bytes.size())
            return {{"(cut short)", std::string(e.Name())}};
        std::string content = bytes.substr(e.dataOffset, length);
        if (e.IsPacked()) {
            std::string real(e.realSize, '\0');
            uLongf size = e.realSize;
            if (uncompress(reinterpret_cast<Bytef*>(real.data()), &size,
                           reinterpret_cast<const Bytef*>(content.data()), length) != Z_OK ||
                size != e.realSize)
                return {{"(damaged)", std::string(e.Name())}};
            content = real;
        }
        view.emplace_back(e.Name(), content);
    }
    return view;
}

// Passes every call to the real file until call number failAt, which fails (a write after
// writing `partial` bytes of its data). Crashing, it then does nothing more, as a killed process
// would not. It remembers what every write and truncation not yet flushed replaced, so that a
// power cut can be played too.
class FaultyFile final : public ChangeFile {
public:
    FaultyFile(ChangeFile& real, const std::string& path, int failAt, bool crash,
               std::size_t partial)
        : real_(real), path_(path), failAt_(failAt), crash_(crash), partial_(partial) {}

    bool Write(std::uint64_t offset, const void* data, std::size_t length) override {
        if (!Proceed()) {
            if (calls_ - 1 == failAt_ && partial_ && !crashed_) {
                Remember(offset, length);
                real_.Write(offset, data, std::min(partial_, length));
            }
            errno = EIO;
            return false;
        }
        ++writes_;
        if (offset == 4)
            headerCall_ = calls_ - 1;
        return Remember(offset, length) && real_.Write(offset, data, length);
    }
    bool Flush() override {
        if (!Proceed()) {
            errno = EIO;
            return false;
        }
        ++flushes_;
        unflushed_.clear();
        return real_.Flush();
    }
    bool Truncate(std::uint64_t length) override {
        if (!Proceed()) {
            errno = EIO;
            return false;
        }
        const std::uint64_t size = Size();
        return Remember(std::min(length, size), size - std::min(length, size)) &&
               real_.Truncate(length);
    }

    // The file as the disk would hold it after a power cut now: what was not flushed undone.
    void LoseUnflushed() {
        for (auto it = unflushed_.rbegin(); it != unflushed_.rend(); ++it) {
            const int fd = ::open(path_.c_str(), O_WRONLY);
            ASSERT_GE(fd, 0);
            ASSERT_EQ(::pwrite(fd, it->before.data(), it->before.size(), off_t(it->offset)),
                      ssize_t(it->before.size()));
            ASSERT_EQ(::ftruncate(fd, off_t(it->size)), 0);
            ::close(fd);
        }
        unflushed_.clear();
    }

    int calls_ = 0, writes_ = 0, flushes_ = 0, headerCall_ = -1;

private:
    struct Undo {
        std::uint64_t offset;
        std::string before;
        std::uint64_t size;
    };
    bool Proceed() {
        const bool now = calls_++ == failAt_;
        if (now && crash_)
            crashed_ = true;
        return !now && !crashed_;
    }
    std::uint64_t Size() const { return ReadFile(path_).size(); }
    bool Remember(std::uint64_t offset, std::size_t length) {
        const std::string bytes = ReadFile(path_);
        const std::string before =
            offset < bytes.size() ? bytes.substr(offset, length) : std::string();
        unflushed_.push_back({offset, before, bytes.size()});
        return true;
    }

    ChangeFile& real_;
    std::string path_;
    int failAt_;
    bool crash_;
    bool crashed_ = false;
    std::size_t partial_;
    std::vector<Undo> unflushed_;
};

// Adds dup.txt (taking the place of both entries of that name) and new.txt, and deletes
// gone.bin; through a FaultyFile, handed back in *faulty, when faulty is not null.
ArchiveRewriter::Result RunChange(const std::string& path, FaultyFile** faulty, int failAt,
                                  bool crash, std::size_t partial) {
    static const std::vector<std::pair<std::string, std::string>> files = {
        {"dup.txt", std::string(3000, 'd')}, {"new.txt", "a new file"}};
    ArchiveRewriter rewriter;
    ArchiveProblem problem;
    EXPECT_EQ(rewriter.BeginInPlace(path, false, problem), InPlaceChange::Opened::Yes);
    std::unique_ptr<FaultyFile> file;
    if (faulty) {
        file = std::make_unique<FaultyFile>(rewriter.InPlace().RealFile(), path, failAt, crash,
                                            partial);
        rewriter.InPlace().UseFile(*file);
    }
    std::size_t failedAt = 0;
    std::string why;
    auto result = rewriter.AddPrepared(
        files.size(), [&](std::size_t k) { return std::string_view(files[k].first); },
        [&] {
            return ArchiveRewriter::Preparer([&](std::size_t k, PreparedEntry& out) {
                out.realSize = std::uint32_t(files[k].second.size());
                out.packedSize = 0;
                out.data = files[k].second;
                if (k == 0) {
                    out.data = ArchiveBuilder::Zlib(files[k].second);
                    out.packedSize = std::uint32_t(out.data.size());
                }
            });
        },
        1, nullptr, [](std::size_t, const PreparedEntry&) {}, failedAt, why);
    if (result == ArchiveRewriter::Result::Done) {
        const auto& old = rewriter.InPlace().Current().entries;
        const auto& added = rewriter.Added();
        result = rewriter.CommitInPlace({old[0], added[0], added[1]}, nullptr);
    }
    if (faulty)
        *faulty = file.release(); // the rewriter is gone: the test plays the power cut
    return result;
}

TEST(InPlaceChange, StoppedAtEveryWriteAndFlushLeavesTheOldOrTheNewArchive) {
    TempDir dir;
    const std::string path = dir / "a.dat";
    ArchiveBuilder b;
    b.AddPacked("keep.txt", std::string(5000, 'k'));
    b.AddStored("dup.txt", "first");
    b.AddStored("gone.bin", std::string(700, 'g'));
    b.AddStored("dup.txt", "second");
    const std::string oldBytes = b.Build();
    WriteFile(path, oldBytes);
    const View oldView = Read(path);
    const View newView = {{"keep.txt", std::string(5000, 'k')},
                          {"dup.txt", std::string(3000, 'd')},
                          {"new.txt", "a new file"}};

    FaultyFile* counter = nullptr;
    ASSERT_EQ(RunChange(path, &counter, -1, false, 0), ArchiveRewriter::Result::Done);
    const int calls = counter->calls_;
    const int headerCall = counter->headerCall_;
    EXPECT_EQ(counter->flushes_, 2); // the data and directory, then the header
    delete counter;
    ASSERT_EQ(Read(path), newView);
    ASSERT_GE(headerCall, 0);

    for (int at = 0; at < calls; ++at) {
        for (const bool crash : {false, true}) {
            // The header's write also fails after each of its first bytes.
            const std::size_t partials = at == headerCall && !crash ? 8 : 1;
            for (std::size_t partial = 0; partial < partials; ++partial) {
                SCOPED_TRACE("call " + std::to_string(at) + (crash ? " crash" : " failure") +
                             " after " + std::to_string(partial) + " bytes");
                WriteFile(path, oldBytes);
                FaultyFile* faulty = nullptr;
                const auto result = RunChange(path, &faulty, at, crash, partial);
                std::unique_ptr<FaultyFile> owned(faulty);
                EXPECT_NE(result, ArchiveRewriter::Result::Done);
                if (!crash) {
                    EXPECT_EQ(ReadFile(path), oldBytes);
                    continue;
                }
                const View killed = Read(path);
                EXPECT_TRUE(killed == oldView || killed == newView) << killed[0].first;
                owned->LoseUnflushed();
                const View cut = Read(path);
                EXPECT_TRUE(cut == oldView || cut == newView) << cut[0].first;
                // What a crash left past the bytes in use does not stand in the next change's way.
                if (cut == oldView) {
                    EXPECT_EQ(RunChange(path, nullptr, -1, false, 0),
                              ArchiveRewriter::Result::Done);
                    EXPECT_EQ(Read(path), newView);
                }
            }
        }
    }
}

} // namespace
