// The temporary archive and the signal handler that removes it.
#include "TemporaryArchive.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
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

void Forget() {
    if (gHandlersInstalled)
        for (int k = 0; k < 3; ++k)
            std::signal(kStopSignals[k], gPreviousHandlers[k]);
    gHandlersInstalled = false;
    gTemporaryPath[0] = '\0';
}
} // namespace

TemporaryArchive::~TemporaryArchive() {
    if (fd_ >= 0)
        ::close(fd_);
    // Removed before the handler goes, so no signal in between can leave it behind.
    if (!path_.empty())
        ::unlink(path_.c_str());
    Forget();
}

bool TemporaryArchive::Create(const std::string& archive) {
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

void TemporaryArchive::KeepOwnership(const struct stat& st) {
    // Owner first: changing it clears the set-user-ID bits the mode then puts back. A user who
    // may not give the file away may still give it a group they are in.
    if (::fchown(fd_, st.st_uid, st.st_gid) != 0)
        (void)::fchown(fd_, uid_t(-1), st.st_gid);
    ::fchmod(fd_, st.st_mode & 07777);
}

bool TemporaryArchive::Commit(const std::string& archive, bool replacing) {
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
