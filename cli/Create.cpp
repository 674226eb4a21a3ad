// vdat create: a new archive from files. The files are found first and their names checked, so
// a refusal leaves nothing behind; then they are read and compressed by a pool of workers while
// this thread writes them in name order under a temporary name, renamed over ARCHIVE at the end.
#include "ArchiveWriter.h"
#include "Commands.h"
#include "TerminalSinks.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <limits>
#include <mutex>
#include <pthread.h>
#include <set>
#include <sys/stat.h>
#include <system_error>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {
struct SourceFile {
    std::string name; // in the archive: folders separated by '\'
    std::string path; // to open, relative to the source folder
};

// Finds the files under the source folder. Notes what it skips; false (told) on what must stop
// the whole run.
class FileFinder {
public:
    FileFinder(int rootFd, const Options& options) : root_(rootFd), options_(options) {}

    bool Add(const std::string& operand);
    std::vector<SourceFile> files;
    dev_t skipDevice = 0; // the archive itself, when it lies among the files
    ino_t skipInode = 0;

private:
    bool Visit(const std::string& path, const struct stat& st);
    bool Walk(const std::string& path);
    bool Stat(const std::string& path, struct stat& st) {
        const int flags = options_.dereference ? 0 : AT_SYMLINK_NOFOLLOW;
        return ::fstatat(root_, path.c_str(), &st, flags) == 0;
    }

    int root_;
    const Options& options_;
    std::set<std::pair<dev_t, ino_t>> walking_; // folders on the way down, against link loops
};

// The operand as a path beneath the source folder: "." parts and repeated slashes dropped.
// False for one that would leave it.
bool Normalise(const std::string& operand, std::string& path) {
    if (operand.empty() || operand[0] == '/')
        return false;
    path.clear();
    std::size_t start = 0;
    while (start <= operand.size()) {
        std::size_t end = operand.find('/', start);
        if (end == std::string::npos)
            end = operand.size();
        const std::string part = operand.substr(start, end - start);
        if (part == "..")
            return false;
        if (!part.empty() && part != ".")
            path.append(path.empty() ? "" : "/").append(part);
        start = end + 1;
    }
    return true;
}

bool FileFinder::Add(const std::string& operand) {
    std::string path;
    if (!Normalise(operand, path)) {
        PrintLine(operand, "not a path beneath the source folder");
        return false;
    }
    struct stat st;
    if (!Stat(path.empty() ? "." : path, st)) {
        PrintLine(operand, "cannot add it", std::strerror(errno));
        return false;
    }
    return Visit(path, st);
}

bool FileFinder::Visit(const std::string& path, const struct stat& st) {
    if (S_ISDIR(st.st_mode)) {
        if (!walking_.insert({st.st_dev, st.st_ino}).second) {
            PrintLine(path, "skipped", "a link leads back into a folder above it");
            return true;
        }
        const bool ok = Walk(path);
        walking_.erase({st.st_dev, st.st_ino});
        return ok;
    }
    if (S_ISLNK(st.st_mode)) {
        PrintLine(path, "symbolic link skipped", "-h follows symbolic links");
        return true;
    }
    if (!S_ISREG(st.st_mode)) {
        PrintLine(path, "skipped", "not a regular file");
        return true;
    }
    if (st.st_dev == skipDevice && st.st_ino == skipInode) {
        PrintLine(path, "skipped", "it is the archive being written");
        return true;
    }
    SourceFile file;
    file.path = path;
    file.name = path;
    std::replace(file.name.begin(), file.name.end(), '/', '\\');
    files.push_back(std::move(file));
    return true;
}

bool FileFinder::Walk(const std::string& path) {
    const int fd =
        ::openat(root_, path.empty() ? "." : path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* dir = fd >= 0 ? ::fdopendir(fd) : nullptr;
    if (!dir) {
        PrintLine(path.empty() ? options_.directory : path, "cannot read the folder",
                  std::strerror(errno));
        if (fd >= 0)
            ::close(fd);
        return false;
    }
    std::vector<std::string> children;
    while (const dirent* d = ::readdir(dir)) {
        const std::string_view name = d->d_name;
        if (name != "." && name != "..")
            children.emplace_back(path.empty() ? std::string(name) : path + "/" + d->d_name);
    }
    ::closedir(dir);
    for (const std::string& child : children) {
        struct stat st;
        if (!Stat(child, st)) {
            PrintLine(child, "cannot add it", std::strerror(errno));
            return false;
        }
        if (!Visit(child, st))
            return false;
    }
    return true;
}

// Names the archive cannot carry, each told; false when there is any.
bool CheckNames(const std::vector<SourceFile>& files) {
    bool ok = true;
    for (const SourceFile& file : files) {
        const char* problem = EntryNameProblem(file.name);
        if (!problem && file.path.find('\\') != std::string::npos)
            problem = "name holds a '\\', which the archive reads as a folder separator";
        if (problem) {
            PrintLine(file.path, "cannot be put in the archive", problem);
            ok = false;
        }
    }
    return ok;
}

// One file read and made ready to write: its stored bytes, or why it cannot be added.
struct Prepared {
    std::string data;
    std::uint32_t realSize = 0;
    std::uint32_t packedSize = 0;
    std::string problem;
    bool done = false;
};

class Preparer {
public:
    Preparer(int rootFd, const Options& options)
        : root_(rootFd), options_(options), compressor_(options.level) {}

    void Prepare(const SourceFile& file, Prepared& out) {
        const int flags = O_RDONLY | O_CLOEXEC | (options_.dereference ? 0 : O_NOFOLLOW);
        const int fd = ::openat(root_, file.path.c_str(), flags);
        struct stat st;
        if (fd < 0 || ::fstat(fd, &st) != 0) {
            out.problem = std::string("cannot read it: ") + std::strerror(errno);
            if (fd >= 0)
                ::close(fd);
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
    int root_;
    const Options& options_;
    ZlibCompressor compressor_;
    std::string content_;
    std::string stream_;
};

// The temporary archive's name, for the signal handler: an interrupted run leaves nothing.
char gTemporaryPath[4096];
constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};
void (*gPreviousHandlers[3])(int) = {SIG_DFL, SIG_DFL, SIG_DFL};
bool gHandlersInstalled = false;

void RemoveTemporaryAndDie(int signal) {
    if (gTemporaryPath[0])
        ::unlink(gTemporaryPath);
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

// The temporary archive beside ARCHIVE; removed unless Commit renamed it into place, also when
// the run is interrupted (SIGINT, SIGTERM, SIGHUP).
class TemporaryArchive {
public:
    ~TemporaryArchive() {
        if (fd_ >= 0)
            ::close(fd_);
        Forget();
        if (!path_.empty())
            ::unlink(path_.c_str());
    }
    bool Create(const std::string& archive) {
        path_ = archive + ".XXXXXX";
        if (path_.size() >= sizeof gTemporaryPath) {
            errno = ENAMETOOLONG;
            path_.clear();
            return false;
        }
        std::memcpy(gTemporaryPath, path_.c_str(), path_.size() + 1);
        sigset_t all, previous;
        sigfillset(&all);
        // The name is complete before a signal can ask for it to be removed.
        ::pthread_sigmask(SIG_BLOCK, &all, &previous);
        fd_ = ::mkstemp(gTemporaryPath);
        for (int k = 0; k < 3; ++k) {
            // A signal the caller ignores (nohup, a background job) stays ignored.
            gPreviousHandlers[k] = std::signal(kStopSignals[k], RemoveTemporaryAndDie);
            if (gPreviousHandlers[k] == SIG_IGN)
                std::signal(kStopSignals[k], SIG_IGN);
        }
        gHandlersInstalled = true;
        ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
        if (fd_ < 0) {
            Forget();
            path_.clear();
            return false;
        }
        path_ = gTemporaryPath;
        // mkstemp makes it private; an archive gets the usual mode.
        const mode_t mask = ::umask(0);
        ::umask(mask);
        ::fchmod(fd_, 0666 & ~mask);
        return true;
    }
    int Fd() const { return fd_; }
    // Makes the new archive durable before it replaces an old one, then renames it.
    bool Commit(const std::string& archive, bool replacing) {
        if (replacing && ::fsync(fd_) != 0)
            return false;
        const int closed = ::close(fd_);
        fd_ = -1;
        if (closed != 0)
            return false;
        // No signal between the rename and forgetting the name: it is ARCHIVE's now.
        sigset_t all, previous;
        sigfillset(&all);
        ::pthread_sigmask(SIG_BLOCK, &all, &previous);
        const bool renamed = ::rename(path_.c_str(), archive.c_str()) == 0;
        if (renamed) {
            Forget();
            path_.clear();
        }
        ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
        return renamed;
    }

private:
    static void Forget() {
        if (gHandlersInstalled)
            for (int k = 0; k < 3; ++k)
                std::signal(kStopSignals[k], gPreviousHandlers[k]);
        gHandlersInstalled = false;
        gTemporaryPath[0] = '\0';
    }

    std::string path_;
    int fd_ = -1;
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

    TemporaryArchive temporary;
    if (!temporary.Create(archive)) {
        PrintLine(archive, "cannot create the archive", std::strerror(errno));
        return kExitFailed;
    }
    FileOutput output(temporary.Fd());
    ArchiveWriter writer(output);

    // Workers prepare files a limited way ahead of the writer, so memory stays bounded.
    const unsigned jobs =
        std::min<unsigned>(CreateJobs(options), unsigned(std::max<std::size_t>(files.size(), 1)));
    const std::size_t ahead = 4 * std::size_t(jobs) + 4;
    std::vector<Prepared> slots(files.size());
    std::mutex mutex;
    std::condition_variable ready, room;
    std::size_t next = 0, written = 0;
    bool stop = false;
    auto work = [&] {
        Preparer preparer(root, options);
        for (;;) {
            std::size_t k;
            {
                std::unique_lock lock(mutex);
                room.wait(lock,
                          [&] { return stop || next >= files.size() || next < written + ahead; });
                if (stop || next >= files.size())
                    return;
                k = next++;
            }
            Prepared prepared;
            preparer.Prepare(files[k], prepared);
            std::lock_guard lock(mutex);
            slots[k] = std::move(prepared);
            slots[k].done = true;
            ready.notify_all();
        }
    };
    std::vector<std::thread> pool;
    for (unsigned w = 0; w < jobs && jobs > 1; ++w) {
        try {
            pool.emplace_back(work);
        } catch (const std::system_error&) {
            break;
        }
    }
    Preparer inline_(root, options); // one job, or no thread could be had: this thread does it
    std::uint64_t realBytes = 0;
    std::uint32_t stored = 0;
    bool ok = true;
    for (std::size_t k = 0; k < files.size(); ++k) {
        Prepared prepared;
        if (pool.empty()) {
            inline_.Prepare(files[k], prepared);
        } else {
            std::unique_lock lock(mutex);
            ready.wait(lock, [&] { return slots[k].done; });
            prepared = std::move(slots[k]);
            written = k + 1;
            room.notify_all();
        }
        if (!prepared.problem.empty()) {
            PrintLine(files[k].path, "cannot be put in the archive", prepared.problem);
            ok = false;
            break;
        }
        if (!writer.AddEntry(files[k].name, prepared.data, prepared.realSize,
                             prepared.packedSize)) {
            if (writer.Overflow())
                PrintLine(archive, "cannot create the archive",
                          "its data would pass the 4 GiB that 32-bit offsets address");
            else
                PrintLine(archive, "cannot write the archive", std::strerror(errno));
            ok = false;
            break;
        }
        realBytes += prepared.realSize;
        stored += prepared.packedSize == 0;
        if (options.verbose)
            std::fprintf(stderr, "%s\n", EscapedName(files[k].name).c_str());
    }
    {
        std::lock_guard lock(mutex);
        stop = true;
        room.notify_all();
    }
    for (auto& t : pool)
        t.join();
    if (!ok)
        return kExitFailed;
    if (!writer.Finish()) {
        if (writer.Overflow())
            PrintLine(archive, "cannot create the archive", "its directory would be too large");
        else
            PrintLine(archive, "cannot write the archive", std::strerror(errno));
        return kExitFailed;
    }
    if (!temporary.Commit(archive, replacing)) {
        PrintLine(archive, "cannot write the archive", std::strerror(errno));
        return kExitFailed;
    }
    if (!options.quiet)
        std::fprintf(stderr, "vdat: %zu files (%u stored), %llu bytes into %llu\n", files.size(),
                     unsigned(stored), static_cast<unsigned long long>(realBytes),
                     static_cast<unsigned long long>(writer.Size()));
    return kExitOk;
}
