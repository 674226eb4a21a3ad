// vdat create and vdat add: archives from files. The files are found first and their names
// checked, so a refusal leaves nothing behind; then the archive rewriter has them read and
// compressed by a pool of workers and writes them in name order: create under a temporary name,
// renamed over ARCHIVE at the end; add after the archive's last byte in use, switching the
// archive to a new directory at the end (Change.h).
#include "ArchiveRewriter.h"
#include "Change.h"
#include "Commands.h"
#include "SourceFiles.h"
#include "TerminalSinks.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <map>
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

struct Root {
    int fd = -1;
    ~Root() {
        if (fd >= 0)
            ::close(fd);
    }
};

// The source folder; false (told) when it cannot be opened.
bool OpenRoot(const Options& options, Root& root) {
    root.fd = ::open(options.directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (root.fd < 0)
        PrintLine(options.directory, "cannot open the source folder", std::strerror(errno));
    return root.fd >= 0;
}

// The files the PATHs name (all of DIR when there are none), in byte order of their names, each
// once, the archive itself left out. False (told) when the run must stop.
bool FindSources(int root, const Options& options, const struct stat* archive,
                 std::vector<SourceFile>& files) {
    FileFinder finder(root, options);
    if (archive) {
        finder.skipDevice = archive->st_dev;
        finder.skipInode = archive->st_ino;
    }
    std::vector<std::string> operands = options.operands;
    if (operands.empty())
        operands.push_back(".");
    for (const std::string& operand : operands)
        if (!finder.Add(operand))
            return false;
    files = std::move(finder.files);
    // Byte order of the names: the same files give the same archive, whatever the jobs.
    std::sort(files.begin(), files.end(),
              [](const SourceFile& a, const SourceFile& b) { return a.name < b.name; });
    files.erase(
        std::unique(files.begin(), files.end(),
                    [](const SourceFile& a, const SourceFile& b) { return a.name == b.name; }),
        files.end());
    return CheckNames(files);
}

struct Added {
    std::uint64_t realBytes = 0;
    std::uint32_t stored = 0;
};

// Has the rewriter write every file; false (told) when one cannot be added or writing failed.
// stopped tells whether *stop ended it.
bool AddSources(ArchiveRewriter& rewriter, int root, const Options& options,
                const std::vector<SourceFile>& files, const std::atomic<bool>* stop, Added& totals,
                bool& stopped) {
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
        Workers(options), stop,
        [&](std::size_t k, const PreparedEntry& entry) {
            totals.realBytes += entry.realSize;
            totals.stored += entry.packedSize == 0;
            if (options.verbose)
                std::fprintf(stderr, "%s\n", EscapedName(files[k].name).c_str());
        },
        failedAt, problem);
    stopped = added == ArchiveRewriter::Result::Stopped;
    switch (added) {
    case ArchiveRewriter::Result::Done:
    case ArchiveRewriter::Result::Stopped:
        return true;
    case ArchiveRewriter::Result::Problem:
        PrintLine(files[failedAt].path, kCannotPutText, problem);
        return false;
    case ArchiveRewriter::Result::Overflow:
        if (options.command == Command::Add)
            ReportNoRoom(options);
        else
            PrintLine(options.archive, kCannotCreateText, kPastOffsetsReason);
        return false;
    case ArchiveRewriter::Result::WriteFailed:
        PrintLine(options.archive, kCannotWriteText, std::strerror(errno));
        return false;
    }
    return false;
}
} // namespace

int RunCreate(const Options& options) {
    const std::string& archive = options.archive;
    struct stat existing;
    const bool replacing = ::stat(archive.c_str(), &existing) == 0;
    if (replacing && !S_ISREG(existing.st_mode)) {
        PrintLine(archive, kCannotCreateText, "not a regular file");
        return kExitFailed;
    }
    Root root;
    std::vector<SourceFile> files;
    if (!OpenRoot(options, root) ||
        !FindSources(root.fd, options, replacing ? &existing : nullptr, files))
        return kExitFailed;

    ArchiveRewriter rewriter;
    if (!rewriter.Begin(archive)) {
        PrintLine(archive, kCannotCreateText, std::strerror(errno));
        return kExitFailed;
    }
    Added totals;
    bool stopped = false;
    if (!AddSources(rewriter, root.fd, options, files, nullptr, totals, stopped))
        return kExitFailed;
    switch (rewriter.Commit(archive, replacing)) {
    case ArchiveRewriter::Result::Done:
        break;
    case ArchiveRewriter::Result::Overflow:
        PrintLine(archive, kCannotCreateText, "its directory would be too large");
        return kExitFailed;
    default:
        PrintLine(archive, kCannotWriteText, std::strerror(errno));
        return kExitFailed;
    }
    if (!options.quiet)
        PrintSummary(
            FilesSummaryText(files.size(), totals.stored, 0, totals.realBytes, rewriter.Size()));
    return kExitOk;
}

int RunAdd(const Options& options) {
    ArchiveRewriter rewriter;
    if (!BeginChange(options, rewriter))
        return kExitFailed;
    // The file locked for the change, which is never one of the files added to it.
    struct stat self;
    if (::fstat(rewriter.InPlace().FileDescriptor(), &self) != 0) {
        PrintLine(options.archive, kCannotChangeText, std::strerror(errno));
        return kExitFailed;
    }
    Root root;
    std::vector<SourceFile> files;
    if (!OpenRoot(options, root) || !FindSources(root.fd, options, &self, files))
        return kExitFailed;

    // The new directory: a name the archive holds already takes the place of the first entry of
    // that name, the others of that name go; new names follow in byte order.
    const std::vector<DirectoryEntry>& old = rewriter.InPlace().Current().entries;
    std::map<std::string_view, std::size_t> byName;
    for (std::size_t k = 0; k < files.size(); ++k)
        byName.emplace(files[k].name, k);
    std::vector<std::ptrdiff_t> layout; // an old record's index, or -1 - k for file k
    std::vector<bool> placed(files.size(), false);
    std::size_t replaced = 0;
    for (std::size_t i = 0; i < old.size(); ++i) {
        const auto found = byName.find(old[i].Name());
        if (found == byName.end()) {
            layout.push_back(std::ptrdiff_t(i));
        } else if (!placed[found->second]) {
            placed[found->second] = true;
            layout.push_back(-1 - std::ptrdiff_t(found->second));
            ++replaced;
        }
    }
    for (std::size_t k = 0; k < files.size(); ++k)
        if (!placed[k])
            layout.push_back(-1 - std::ptrdiff_t(k));

    // Refused before anything is written: no file is stored larger than it is.
    std::uint64_t most = std::uint64_t(layout.size()) * kDirectoryEntrySize;
    for (const SourceFile& file : files)
        most += std::uint64_t(file.size);
    if (!rewriter.InPlace().Fits(most)) {
        ReportNoRoom(options);
        return kExitFailed;
    }

    // From here on a signal stops the change, and the archive is left as it was.
    Interruption interruption;
    Added totals;
    bool stopped = false;
    if (!AddSources(rewriter, root.fd, options, files, interruption.Flag(), totals, stopped))
        return kExitFailed; // the rewriter cuts the archive back to what it was
    if (stopped) {
        rewriter.InPlace().Undo();
        interruption.EndBySignal();
    }
    const std::vector<DirectoryEntry>& added = rewriter.Added();
    std::vector<DirectoryEntry> directory;
    directory.reserve(layout.size());
    for (const std::ptrdiff_t at : layout)
        directory.push_back(at >= 0 ? old[std::size_t(at)] : added[std::size_t(-1 - at)]);
    const int status = FinishChange(options, rewriter, directory, interruption);
    if (status == kExitOk && !options.quiet)
        PrintSummary(
            FilesSummaryText(files.size(), totals.stored, replaced, totals.realBytes,
                             rewriter.InPlace().NewSize() - rewriter.InPlace().Usage().endInUse));
    return status;
}
