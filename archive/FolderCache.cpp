// Folder handles beneath the destination, least recently used dropped first.
#include "FolderCache.h"

#include "Beneath.h"

#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

Folder::~Folder() {
    if (fd_ >= 0)
        ::close(fd_);
}

std::vector<std::string> Folder::TakeLeftovers(const std::string& name) {
    if (!haveLeftovers_.load(std::memory_order_acquire))
        return {};
    std::lock_guard lock(mutex_);
    const auto it = leftovers_.find(name);
    if (it == leftovers_.end())
        return {};
    std::vector<std::string> taken = std::move(it->second);
    leftovers_.erase(it);
    return taken;
}

void Folder::AddLeftover(std::string name, std::string temporary) {
    std::lock_guard lock(mutex_);
    leftovers_[std::move(name)].push_back(std::move(temporary));
    haveLeftovers_.store(true, std::memory_order_release);
}

FolderCache::Result OpenOrMakeFolder(int parent, const char* part, int& fd, bool& existed,
                                     int& error) {
    // A folder that exists is what most runs over an earlier extraction find; opening it is
    // then the answer, whatever mkdir said (a read-only file system says EROFS first).
    const int made = ::mkdirat(parent, part, 0777) == 0 ? 0 : errno;
    existed = made != 0;
    fd = OpenFolderBeneath(parent, part);
    if (fd >= 0)
        return FolderCache::Result::Ok;
    error = errno;
    if (error == ELOOP)
        return FolderCache::Result::Symlink;
    // Not there after all: the reason it could not be made is the first real cause.
    if (error == ENOENT && made != 0 && made != EEXIST)
        error = made;
    return FolderCache::Result::Failed;
}

void FolderCache::Reset(int rootFd) {
    std::lock_guard lock(mutex_);
    byPath_.clear();
    order_.clear();
    root_ = rootFd >= 0 ? std::make_shared<Folder>(rootFd) : nullptr;
}

std::shared_ptr<Folder> FolderCache::Lookup(std::string_view key) {
    const auto it = byPath_.find(key);
    if (it == byPath_.end())
        return nullptr;
    order_.splice(order_.begin(), order_, it->second);
    return it->second->second;
}

void FolderCache::Remember(std::string key, std::shared_ptr<Folder> folder) {
    order_.emplace_front(std::move(key), std::move(folder));
    byPath_[order_.front().first] = order_.begin();
    if (order_.size() > kCapacity) {
        byPath_.erase(order_.back().first);
        order_.pop_back();
    }
}
