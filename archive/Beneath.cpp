// One level at a time beneath an open folder, with openat2 where the kernel has it.
#include "Beneath.h"

#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {
// The kernel's openat2 refuses symlinks and escapes by itself; where it is missing or filtered
// out, openat with O_NOFOLLOW on a single part is just as safe.
std::atomic<bool> haveOpenat2{true};

int OpenOnePart(int parent, const char* part, int flags, mode_t mode) {
#ifdef SYS_openat2
    if (haveOpenat2.load(std::memory_order_relaxed)) {
        open_how how{};
        how.flags = std::uint64_t(flags);
        how.mode = (flags & O_CREAT) ? mode : 0;
        how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
        const int fd = int(::syscall(SYS_openat2, parent, part, &how, sizeof how));
        if (fd >= 0 || (errno != ENOSYS && errno != EPERM))
            return fd;
        // Missing, or refused by a sandbox's system-call filter: openat below, for good.
        haveOpenat2.store(false, std::memory_order_relaxed);
    }
#endif
    return ::openat(parent, part, flags, mode);
}
} // namespace

int OpenFolderBeneath(int parent, const char* part) {
    // A path handle is enough for the *at calls and works in folders the user may enter and
    // write but not list. O_DIRECTORY makes a symlink fail as any other file would.
    const int fd = OpenOnePart(parent, part, O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC, 0);
    struct stat st;
    if (fd < 0 && errno == ENOTDIR && ::fstatat(parent, part, &st, AT_SYMLINK_NOFOLLOW) == 0 &&
        S_ISLNK(st.st_mode))
        errno = ELOOP; // told apart, for the user
    return fd;
}

int CreateFileBeneath(int parent, const char* part) {
    return OpenOnePart(parent, part, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
}
