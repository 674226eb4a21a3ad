// vdat create: a new archive from files. The files are found first and their names checked, so
// a refusal leaves nothing behind; then the archive rewriter has them read and compressed by a
// pool of workers and writes them in name order under a temporary name, renamed over ARCHIVE
// at the end.
#include "ArchiveRewriter.h"
#include "Commands.h"
#include "SourceFiles.h"
#include "TerminalSinks.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <memory>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {
class Preparer {
public:
    Preparer(int rootFd, const Options& options)
        : opener_(rootFd, options.dereference), options_(options), compressor_(options.level) {}

    void Prepare(const SourceFile& file, PreparedEntry& out) {
        const int fd = opener_.Open(file.path);
        struct stat st;
        if (fd < 0 || ::fstat(fd, &st) != 0) {
            out.problem = std::string("cannot read it: ") + std::strerror(errno);
            if (fd >= 0)
                ::close(fd);
            return;
        }
        // Only the file the walk found is read: not one put in its place since.
        if (!S_ISREG(st.st_mode) || st.st_dev != file.device || st.st_ino != file.inode) {
            ::close(fd);
            out.problem =
                S_ISREG(st.st_mode) ? "it was replaced after it was found" : "not a regular file";
            return;
        }
        if (st.st_size != file.size) {
            ::close(fd);
            out.problem = "it changed size while it was read";
            return;
        }
        if (std::uint64_t(st.st_size) > std::numeric_limits<std::uint32_t>::max()) {
            ::close(fd);
            out.problem = "4 GiB or larger, more than a record can hold";
            return;
        }
        content_.resize(std::size_t(st.st_size) + 1);
        std::size_t got = 0;
        bool readFailed = false;
        // One byte more than the size asks the file whether it grew.
        while (got < content_.size()) {
            const ssize_t n = ::read(fd, content_.data() + got, content_.size() - got);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0)
                readFailed = true;
            if (n <= 0)
                break;
            got += std::size_t(n);
        }
        ::close(fd);
        if (readFailed) {
            out.problem = std::string("cannot read it: ") + std::strerror(errno);
            return;
        }
        if (got != std::size_t(st.st_size)) {
            out.problem = "it changed size while it was read";
            return;
        }
        content_.resize(got);
        out.realSize = std::uint32_t(got);
        if (!options_.store && !compressor_.Compress(content_, stream_)) {
            out.problem = "zlib could not compress it";
            return;
        }
        // Stored when compression does not make it smaller.
        if (options_.store || stream_.size() >= content_.size()) {
            out.packedSize = 0;
            out.data.swap(content_);
        } else {
            out.packedSize = std::uint32_t(stream_.size());
            out.data.swap(stream_);
        }
    }

private:
    SourceOpener opener_;
    const Options& options_;
    ZlibCompressor compressor_;
    std::string content_;
    std::string stream_;
};

unsigned CreateJobs(const Options& options) {
    return options.jobs ? options.jobs : std::max(1u, std::thread::hardware_concurrency());
}
} // namespace

int RunCreate(const Options& options) {
    const std::string& archive = options.archive;
    struct stat existing;
    const bool replacing = ::stat(archive.c_str(), &existing) == 0;
    if (replacing && !S_ISREG(existing.st_mode)) {
        PrintLine(archive, "cannot create the archive", "not a regular file");
        return kExitFailed;
    }
    const int root = ::open(options.directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (root < 0) {
        PrintLine(options.directory, "cannot open the source folder", std::strerror(errno));
        return kExitFailed;
    }
    struct RootCloser {
        int fd;
        ~RootCloser() { ::close(fd); }
    } closer{root};

    FileFinder finder(root, options);
    if (replacing) {
        finder.skipDevice = existing.st_dev;
        finder.skipInode = existing.st_ino;
    }
    std::vector<std::string> operands = options.operands;
    if (operands.empty())
        operands.push_back(".");
    for (const std::string& operand : operands)
        if (!finder.Add(operand))
            return kExitFailed;
    std::vector<SourceFile>& files = finder.files;
    // Byte order of the names: the same files give the same archive, whatever the jobs.
    std::sort(files.begin(), files.end(),
              [](const SourceFile& a, const SourceFile& b) { return a.name < b.name; });
    files.erase(
        std::unique(files.begin(), files.end(),
                    [](const SourceFile& a, const SourceFile& b) { return a.name == b.name; }),
        files.end());
    if (!CheckNames(files))
        return kExitFailed;

    ArchiveRewriter rewriter;
    if (!rewriter.Begin(archive)) {
        PrintLine(archive, "cannot create the archive", std::strerror(errno));
        return kExitFailed;
    }
    std::uint64_t realBytes = 0;
    std::uint32_t stored = 0;
    std::size_t failedAt = 0;
    std::string problem;
    const ArchiveRewriter::Result added = rewriter.AddPrepared(
        files.size(), [&](std::size_t k) { return std::string_view(files[k].name); },
        [&] {
            auto preparer = std::make_shared<Preparer>(root, options);
            return ArchiveRewriter::Preparer([&files, preparer](std::size_t k, PreparedEntry& out) {
                preparer->Prepare(files[k], out);
            });
        },
        CreateJobs(options), nullptr,
        [&](std::size_t k, const PreparedEntry& entry) {
            realBytes += entry.realSize;
            stored += entry.packedSize == 0;
            if (options.verbose)
                std::fprintf(stderr, "%s\n", EscapedName(files[k].name).c_str());
        },
        failedAt, problem);
    switch (added) {
    case ArchiveRewriter::Result::Done:
    case ArchiveRewriter::Result::Stopped:
        break;
    case ArchiveRewriter::Result::Problem:
        PrintLine(files[failedAt].path, "cannot be put in the archive", problem);
        return kExitFailed;
    case ArchiveRewriter::Result::Overflow:
        PrintLine(archive, "cannot create the archive",
                  "its data would pass the 4 GiB that 32-bit offsets address");
        return kExitFailed;
    case ArchiveRewriter::Result::WriteFailed:
        PrintLine(archive, "cannot write the archive", std::strerror(errno));
        return kExitFailed;
    }
    switch (rewriter.Commit(archive, replacing)) {
    case ArchiveRewriter::Result::Done:
        break;
    case ArchiveRewriter::Result::Overflow:
        PrintLine(archive, "cannot create the archive", "its directory would be too large");
        return kExitFailed;
    default:
        PrintLine(archive, "cannot write the archive", std::strerror(errno));
        return kExitFailed;
    }
    if (!options.quiet)
        std::fprintf(stderr, "vdat: %zu files (%u stored), %llu bytes into %llu\n", files.size(),
                     unsigned(stored), static_cast<unsigned long long>(realBytes),
                     static_cast<unsigned long long>(rewriter.Size()));
    return kExitOk;
}
