// Folder and file creation beneath the destination, without following symlinks.
#include "Destination.h"

#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {
constexpr int kCreateFlags = O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC;

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

Destination::Status Destination::CreateOutput(const EntryPath& path, int& fd) {
    const char* name = path.relative.c_str();
    fd = CreateBeneath(fd_, name);
    if (fd >= 0)
        return Status::Ok;
    if (errno == ELOOP || errno == EXDEV)
        return Status::Refused;
    if (errno != EEXIST)
        return Status::Failed;
    struct stat st;
    if (::fstatat(fd_, name, &st, AT_SYMLINK_NOFOLLOW) != 0)
        return Status::Failed;
    if (S_ISLNK(st.st_mode))
        return Status::Refused;
    if (!S_ISREG(st.st_mode) || ::unlinkat(fd_, name, 0) != 0)
        return Status::Failed;
    fd = CreateBeneath(fd_, name);
    return fd >= 0 ? Status::Ok : Status::Failed;
}

void Destination::RemoveOutput(const EntryPath& path) {
    (void)::unlinkat(fd_, path.relative.c_str(), 0);
}
