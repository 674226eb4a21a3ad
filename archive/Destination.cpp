// Folder and file creation beneath the destination, without following symlinks, and the
// replacement of files that are already there.
#include "Destination.h"

#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {
constexpr int kCreateFlags = O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC;

// Names tried for a temporary file before giving up: each one taken means something else of
// that name is there (a leftover, a folder, a symlink), which is never touched.
constexpr int kTemporaryTries = 64;

std::uint64_t Mix(std::uint64_t x) { // splitmix64's finaliser
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

// openat2 lets the kernel itself refuse any symlink or escape on the way; older kernels fall
// back to openat, which is safe too because every folder on the way was checked first.
int CreateBeneath(int dirfd, const char* relative) {
#ifdef SYS_openat2
    static std::atomic<bool> haveOpenat2{true};
    if (haveOpenat2) {
        open_how how{};
        how.flags = kCreateFlags;
        how.mode = 0666;
        how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
        int fd = int(::syscall(SYS_openat2, dirfd, relative, &how, sizeof how));
        if (fd >= 0 || (errno != ENOSYS && errno != EPERM))
            return fd;
        // Missing, or refused by a sandbox's system-call filter: checked folders make openat
        // safe as well.
        if (errno == ENOSYS)
            haveOpenat2 = false;
    }
#endif
    return ::openat(dirfd, relative, kCreateFlags, 0666);
}
} // namespace

Destination::Destination() {
    if (::getrandom(&nameSeed_, sizeof nameSeed_, GRND_NONBLOCK) != sizeof nameSeed_)
        nameSeed_ = Mix(std::uint64_t(std::chrono::steady_clock::now().time_since_epoch().count()) ^
                        std::uint64_t(::getpid()));
}

Destination::~Destination() {
    if (fd_ >= 0)
        ::close(fd_);
}

bool Destination::Open(const std::string& folder) {
    if (fd_ >= 0)
        ::close(fd_);
    ready_.clear();
    fd_ = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    return fd_ >= 0;
}

Destination::Status Destination::PrepareFolders(const EntryPath& path) {
    std::lock_guard lock(mutex_);
    std::string folder;
    for (std::size_t i = 0; i < path.folderEnds.size(); ++i) {
        folder.assign(path.Folder(i));
        if (ready_.contains(folder))
            continue;
        // The folders before this one are checked already, so only its own last part can be a
        // symlink, and AT_SYMLINK_NOFOLLOW sees exactly that.
        if (::mkdirat(fd_, folder.c_str(), 0777) != 0) {
            struct stat st;
            if (::fstatat(fd_, folder.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
                return Status::Failed;
            if (S_ISLNK(st.st_mode))
                return Status::Refused;
            if (!S_ISDIR(st.st_mode))
                return Status::Failed;
        }
        ready_.insert(folder);
    }
    return Status::Ok;
}

void Destination::SeedTemporaryNames(std::uint64_t seed) {
    nameSeed_ = seed;
    nameCounter_ = 0;
}

std::string Destination::TemporaryName(const EntryPath& path) {
    static constexpr char kHex[] = "0123456789abcdef";
    const std::size_t slash = path.relative.rfind('/');
    const std::size_t base = slash == std::string::npos ? 0 : slash + 1;
    std::uint64_t bits = Mix(nameSeed_ ^ Mix(nameCounter_.fetch_add(1, std::memory_order_relaxed)));
    std::string name;
    name.reserve(path.relative.size() + 16);
    name.append(path.relative, 0, base);
    name.push_back('.');
    name.append(path.relative, base);
    name.append(".vdat-");
    for (int i = 0; i < 8; ++i, bits >>= 4)
        name.push_back(kHex[bits & 15]);
    return name;
}

Destination::Status Destination::CreateOutput(const EntryPath& path, Output& output) {
    const char* name = path.relative.c_str();
    output.temporary.clear();
    struct stat st;
    // Re-extracting over an earlier extraction finds file after file in the way: while it does,
    // one look at the name replaces the create that would fail.
    bool looked = false;
    if (findingFiles_.load(std::memory_order_relaxed)) {
        looked = ::fstatat(fd_, name, &st, AT_SYMLINK_NOFOLLOW) == 0;
        if (!looked)
            findingFiles_.store(false, std::memory_order_relaxed);
    }
    if (!looked) {
        output.fd = CreateBeneath(fd_, name);
        if (output.fd >= 0)
            return Status::Ok;
        if (errno == ELOOP || errno == EXDEV)
            return Status::Refused;
        if (errno != EEXIST || ::fstatat(fd_, name, &st, AT_SYMLINK_NOFOLLOW) != 0)
            return Status::Failed;
        findingFiles_.store(true, std::memory_order_relaxed);
    }
    if (S_ISLNK(st.st_mode))
        return Status::Refused;
    if (keepExisting_)
        return Status::Exists;
    if (!S_ISREG(st.st_mode)) {
        errno = S_ISDIR(st.st_mode) ? EISDIR : EEXIST; // the reason the user is told
        return Status::Failed;
    }
    // The mode bits, not access(): root may write anything, but a file its owner made
    // read-only is still one the user meant to keep.
    if ((st.st_mode & S_IWUSR) == 0)
        return Status::ReadOnly;
    for (int i = 0; i < kTemporaryTries; ++i) {
        std::string temporary = TemporaryName(path);
        output.fd = CreateBeneath(fd_, temporary.c_str());
        if (output.fd >= 0) {
            output.temporary = std::move(temporary);
            return Status::Ok;
        }
        // Taken (by anything, a symlink included: O_EXCL never follows one): another name.
        if (errno != EEXIST && errno != ELOOP)
            return Status::Failed;
    }
    errno = EEXIST;
    return Status::Failed;
}

bool Destination::CommitOutput(const EntryPath& path, Output& output) {
    if (::renameat(fd_, output.temporary.c_str(), fd_, path.relative.c_str()) == 0) {
        output.temporary.clear();
        return true;
    }
    const int error = errno;
    RemoveOutput(path, output);
    errno = error;
    return false;
}

void Destination::RemoveOutput(const EntryPath& path, const Output& output) {
    if (output.Replacing()) {
        (void)::unlinkat(fd_, output.temporary.c_str(), 0);
    } else {
        (void)::unlinkat(fd_, path.relative.c_str(), 0);
    }
}
