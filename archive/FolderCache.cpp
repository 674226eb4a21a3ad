// Folder handles beneath the destination, least recently used dropped first.
#include "FolderCache.h"

#include "Beneath.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

Folder::~Folder() {
    if (fd_ >= 0)
        ::close(fd_);
}

FolderCache::Result OpenOrMakeFolder(int parent, const char* part, int& fd, bool& existed,
                                     int& error) {
    // Most folders are opened again (after the cache dropped them, or over an earlier
    // extraction) rather than made: open first.
    fd = OpenFolderBeneath(parent, part);
    existed = fd >= 0;
    int made = 0;
    if (fd < 0 && errno == ENOENT) {
        made = ::mkdirat(parent, part, 0777) == 0 ? 0 : errno;
        // Made by someone else in between, or there after all: opening it is the answer.
        existed = made != 0;
        fd = OpenFolderBeneath(parent, part);
    }
    if (fd >= 0)
        return FolderCache::Result::Ok;
    error = errno;
    if (error == ELOOP)
        return FolderCache::Result::Symlink;
    // Still not there: the reason it could not be made is the first real cause.
    if (error == ENOENT && made != 0 && made != EEXIST)
        error = made;
    return FolderCache::Result::Failed;
}

void FolderCache::Reset(int rootFd) {
    for (Shard& shard : shards_) {
        std::lock_guard lock(shard.mutex);
        shard.byPath.clear();
        shard.order.clear();
    }
    // Half of what this process may open, leaving room for the rest of the program: an archive
    // whose entries go to thousands of folders in no order then opens each once.
    rlimit limit{};
    const rlim_t soft = ::getrlimit(RLIMIT_NOFILE, &limit) == 0 ? limit.rlim_cur : 1024;
    capacity_ =
        std::clamp<rlim_t>(soft > 256 ? (soft - 256) / 2 : 0, kMinimumCapacity, kMaximumCapacity);
    root_ = rootFd >= 0 ? std::make_shared<Folder>(rootFd) : nullptr;
    // The descriptor table grows by doubling, and in a process with threads each growth waits
    // for the kernel's other CPUs (about a millisecond, all workers stalled): grow it once, now,
    // to what the cache may hold.
    if (rootFd >= 0) {
        const int top = ::fcntl(rootFd, F_DUPFD_CLOEXEC, int(capacity_ + kShards * 2 + 64));
        if (top >= 0)
            ::close(top);
    }
}

std::shared_ptr<Folder> FolderCache::Lookup(std::string_view key) {
    Shard& shard = ShardOf(key);
    std::lock_guard lock(shard.mutex);
    const auto it = shard.byPath.find(key);
    if (it == shard.byPath.end())
        return nullptr;
    shard.order.splice(shard.order.begin(), shard.order, it->second);
    return it->second->second;
}

std::shared_ptr<Folder> FolderCache::Remember(std::string key, std::shared_ptr<Folder> folder) {
    Shard& shard = ShardOf(key);
    std::lock_guard lock(shard.mutex);
    if (const auto it = shard.byPath.find(key); it != shard.byPath.end())
        return it->second->second;
    shard.order.emplace_front(std::move(key), std::move(folder));
    shard.byPath[shard.order.front().first] = shard.order.begin();
    if (shard.order.size() > capacity_ / kShards + 1) {
        shard.byPath.erase(shard.order.back().first);
        shard.order.pop_back();
    }
    return shard.order.front().second;
}
