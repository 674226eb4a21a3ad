// Files beneath the destination: new ones under the entry's name, replacements under a locked
// temporary name until complete; what a killed run left behind is cleared on the way.
#include "Destination.h"

#include "Beneath.h"

#include <cerrno>
#include <chrono>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
// Names tried for a temporary file before giving up: each one taken means something else of
// that name is there (a leftover, a folder, a symlink), which is never touched.
constexpr int kTemporaryTries = 64;
constexpr char kTemporaryMark[] = ".vdat-";
constexpr std::size_t kTemporaryDigits = 8;

std::uint64_t Mix(std::uint64_t x) { // splitmix64's finaliser
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

void Close(int& fd) {
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}
} // namespace

bool IsTemporaryName(std::string_view name, std::string_view& target) {
    constexpr std::size_t kMark = sizeof kTemporaryMark - 1;
    if (name.size() < 2 + kMark + kTemporaryDigits || name[0] != '.')
        return false;
    const std::size_t mark = name.size() - kTemporaryDigits - kMark;
    if (name.substr(mark, kMark) != kTemporaryMark)
        return false;
    for (char c : name.substr(mark + kMark))
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')))
            return false;
    target = name.substr(1, mark - 1);
    return true;
}

Destination::Destination() {
    if (::getrandom(&nameSeed_, sizeof nameSeed_, GRND_NONBLOCK) != sizeof nameSeed_)
        nameSeed_ = Mix(std::uint64_t(std::chrono::steady_clock::now().time_since_epoch().count()) ^
                        std::uint64_t(::getpid()));
}

bool Destination::Open(const std::string& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    folders_.Reset(fd);
    {
        std::lock_guard lock(leftoversMutex_);
        leftovers_.clear();
        haveLeftovers_ = false;
    }
    if (fd >= 0)
        FindLeftovers("", *folders_.Root());
    return fd >= 0;
}

void Destination::ProtectArchive(int fd) {
    struct stat st;
    haveArchive_ = fd >= 0 && ::fstat(fd, &st) == 0;
    if (haveArchive_) {
        archiveDevice_ = st.st_dev;
        archiveInode_ = st.st_ino;
    }
}

void Destination::SeedTemporaryNames(std::uint64_t seed) {
    nameSeed_ = seed;
    nameCounter_ = 0;
}

std::string Destination::NextTemporary(std::string_view name) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::uint64_t bits = Mix(nameSeed_ ^ Mix(nameCounter_.fetch_add(1, std::memory_order_relaxed)));
    std::string temporary;
    temporary.reserve(name.size() + 16);
    temporary.push_back('.');
    temporary.append(name);
    temporary.append(kTemporaryMark);
    for (std::size_t i = 0; i < kTemporaryDigits; ++i, bits >>= 4)
        temporary.push_back(kHex[bits & 15]);
    return temporary;
}

std::string Destination::TemporaryName(const EntryPath& path) {
    const std::string_view name = path.FileName();
    return path.relative.substr(0, path.relative.size() - name.size()) + NextTemporary(name);
}

void Destination::FindLeftovers(std::string_view folderPath, const Folder& folder) {
    {
        std::lock_guard lock(leftoversMutex_);
        if (!leftovers_.try_emplace(std::string(folderPath)).second)
            return; // looked through already
    }
    const int fd = ::openat(folder.Fd(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return; // a folder we may not list keeps its leftovers
    DIR* dir = ::fdopendir(fd);
    if (!dir) {
        ::close(fd);
        return;
    }
    std::unordered_map<std::string, std::vector<std::string>> found;
    while (const dirent* d = ::readdir(dir)) {
        std::string_view target;
        if (IsTemporaryName(d->d_name, target))
            found[std::string(target)].emplace_back(d->d_name);
    }
    ::closedir(dir);
    if (found.empty())
        return;
    std::lock_guard lock(leftoversMutex_);
    leftovers_[std::string(folderPath)].merge(found);
    haveLeftovers_.store(true, std::memory_order_release);
}

// A temporary file is cleared only when no run holds its lock: a live run's is left alone.
void Destination::RemoveLeftovers(std::string_view folderPath, const Folder& folder,
                                  const std::string& name) {
    if (!haveLeftovers_.load(std::memory_order_acquire))
        return;
    std::vector<std::string> temporaries;
    {
        std::lock_guard lock(leftoversMutex_);
        const auto inFolder = leftovers_.find(std::string(folderPath));
        if (inFolder == leftovers_.end())
            return;
        const auto it = inFolder->second.find(name);
        if (it == inFolder->second.end())
            return;
        temporaries = std::move(it->second);
        inFolder->second.erase(it);
    }
    for (const std::string& temporary : temporaries) {
        const int fd = ::openat(folder.Fd(), temporary.c_str(),
                                O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0)
            continue;
        struct stat st;
        if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && ::flock(fd, LOCK_EX | LOCK_NB) == 0)
            (void)::unlinkat(folder.Fd(), temporary.c_str(), 0);
        ::close(fd);
    }
}

Destination::Status Destination::CreateOutput(const EntryPath& path, Output& output) {
    output = Output{};
    if (!allowHidden_ && path.IsHidden())
        return Status::Hidden;
    const FolderCache::Reached reached =
        folders_.Reach(path, [this](std::string_view folderPath, const Folder& folder) {
            FindLeftovers(folderPath, folder);
        });
    if (reached.result == FolderCache::Result::Symlink)
        return Status::Refused;
    if (reached.result == FolderCache::Result::Failed) {
        output.error = reached.error;
        output.blockedFolder = path.Folder(reached.failedAt);
        return Status::Failed;
    }
    output.folder = reached.folder;
    output.name = path.FileName();
    const int dir = output.folder->Fd();
    RemoveLeftovers(path.folderEnds.empty() ? std::string_view()
                                            : path.Folder(path.folderEnds.size() - 1),
                    *output.folder, output.name);

    struct stat st;
    // Re-extracting over an earlier extraction finds file after file in the way: while it does,
    // one look at the name replaces the create that would fail.
    bool exists = false;
    if (findingFiles_.load(std::memory_order_relaxed)) {
        exists = ::fstatat(dir, output.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
        if (!exists)
            findingFiles_.store(false, std::memory_order_relaxed);
    }
    if (!exists) {
        output.fd = CreateFileBeneath(dir, output.name.c_str());
        if (output.fd >= 0)
            return Status::Ok;
        if (errno != EEXIST || ::fstatat(dir, output.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
            output.error = errno;
            return Status::Failed;
        }
        findingFiles_.store(true, std::memory_order_relaxed);
    }
    if (S_ISLNK(st.st_mode))
        return Status::Refused;
    if (keepExisting_)
        return Status::Exists;
    if (haveArchive_ && st.st_dev == archiveDevice_ && st.st_ino == archiveInode_)
        return Status::Archive;
    if (!S_ISREG(st.st_mode)) {
        output.error = S_ISDIR(st.st_mode) ? EISDIR : EEXIST; // the reason the user is told
        return Status::Failed;
    }
    // The mode bits, not access(): root may write anything, but a file its owner made
    // read-only is still one the user meant to keep.
    if ((st.st_mode & S_IWUSR) == 0)
        return Status::ReadOnly;
    return CreateReplacement(output);
}

// The replacement holds a lock while it is written, so that a later run can tell it from one
// a killed run left behind. (Between its creation and the lock, or its close and the rename,
// another run clearing leftovers could take it: the rename then fails and is told, and the old
// file stays.)
Destination::Status Destination::CreateReplacement(Output& output) {
    const int dir = output.folder->Fd();
    output.replacing = true;
    for (int i = 0; i < kTemporaryTries; ++i) {
        std::string temporary = NextTemporary(output.name);
        output.fd = CreateFileBeneath(dir, temporary.c_str());
        if (output.fd >= 0) {
            (void)::flock(output.fd, LOCK_EX | LOCK_NB);
            output.temporary = std::move(temporary);
            return Status::Ok;
        }
        // Taken (by anything, a symlink included: O_EXCL never follows one): another name.
        if (errno != EEXIST && errno != ELOOP) {
            output.error = errno;
            return Status::Failed;
        }
    }
    output.error = EEXIST;
    return Status::Failed;
}

Destination::Commit Destination::CommitOutput(Output& output) {
    const int dir = output.folder->Fd();
    const bool closed = ::close(output.fd) == 0;
    output.fd = -1;
    output.error = closed ? 0 : errno;
    if (!output.replacing)
        return closed ? Commit::Done : Commit::WriteFailed; // it stays, as written so far
    if (closed && ::renameat(dir, output.temporary.c_str(), dir, output.name.c_str()) == 0) {
        output.temporary.clear();
        return Commit::Done;
    }
    if (closed)
        output.error = errno;
    DiscardOutput(output);
    return closed ? Commit::PlaceFailed : Commit::WriteFailed;
}

void Destination::DiscardOutput(Output& output) {
    Close(output.fd);
    if (!output.folder)
        return;
    if (output.replacing)
        (void)::unlinkat(output.folder->Fd(), output.temporary.c_str(), 0);
    else
        (void)::unlinkat(output.folder->Fd(), output.name.c_str(), 0);
    output.temporary.clear();
}
