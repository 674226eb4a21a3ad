// The folders beneath a destination, reached one level at a time through open handles and
// remembered as handles: a folder renamed or swapped for a symlink after it was reached cannot
// send anything elsewhere, because nothing is ever looked up by its path again. A bounded
// number stay open; one dropped is reached again from its nearest remembered parent.
#pragma once

#include "EntryPath.h"

#include <cstddef>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

// One open folder. Kept alive by whoever writes into it, even after the cache dropped it.
class Folder {
public:
    explicit Folder(int fd) : fd_(fd) {}
    ~Folder();
    Folder(const Folder&) = delete;
    Folder& operator=(const Folder&) = delete;
    int Fd() const { return fd_; }

private:
    int fd_;
};

class FolderCache {
public:
    // Folders kept open at once, besides the root and those being written into: as many as
    // the descriptor limit allows, within these bounds.
    static constexpr std::size_t kMinimumCapacity = 32;
    static constexpr std::size_t kMaximumCapacity = 16384;

    enum class Result { Ok, Symlink, Failed };
    struct Reached {
        Result result = Result::Ok;
        int error = 0;                  // errno of the failing call, when Failed
        std::size_t failedAt = 0;       // which of the path's folders failed, when Failed
        std::shared_ptr<Folder> folder; // the entry's own folder, when Ok
    };

    // Takes over rootFd, the destination itself.
    void Reset(int rootFd);
    const std::shared_ptr<Folder>& Root() const { return root_; }

    // The folder path's file goes into, made where missing: each part is made in its parent
    // and opened there without following a symlink. A symlink on the way is Symlink; a file or
    // anything else in the way, or a folder that cannot be made, is Failed with the reason.
    // Called with onExisting(path of the folder, folder) for each folder that was there already
    // when it was opened.
    template <typename OnExisting> Reached Reach(const EntryPath& path, OnExisting onExisting);

private:
    // Workers look folders up for every entry: the cache is split so that they rarely wait
    // for one another.
    static constexpr std::size_t kShards = 16;
    struct Shard {
        std::mutex mutex;
        // Most recently used first.
        std::list<std::pair<std::string, std::shared_ptr<Folder>>> order;
        std::unordered_map<std::string_view, decltype(order)::iterator> byPath;
    };
    Shard& ShardOf(std::string_view key) {
        return shards_[std::hash<std::string_view>{}(key) % kShards];
    }
    std::shared_ptr<Folder> Lookup(std::string_view key);
    // Keeps folder under key, unless another worker got there first: then that one, which
    // is the one to use.
    std::shared_ptr<Folder> Remember(std::string key, std::shared_ptr<Folder> folder);

    std::shared_ptr<Folder> root_;
    Shard shards_[kShards];
    std::size_t capacity_ = kMinimumCapacity;
};

// Opens or makes the folder `part` in parent. Ok with the handle and whether it existed.
FolderCache::Result OpenOrMakeFolder(int parent, const char* part, int& fd, bool& existed,
                                     int& error);

template <typename OnExisting>
FolderCache::Reached FolderCache::Reach(const EntryPath& path, OnExisting onExisting) {
    const std::size_t depth = path.folderEnds.size();
    if (depth == 0)
        return {Result::Ok, 0, 0, root_};
    // The deepest folder still open, then down from there.
    std::size_t known = depth;
    std::shared_ptr<Folder> folder;
    while (known > 0 && !(folder = Lookup(path.Folder(known - 1))))
        --known;
    if (!folder)
        folder = root_;
    for (std::size_t i = known; i < depth; ++i) {
        const std::string part(path.FolderName(i));
        int fd = -1;
        bool existed = false;
        int error = 0;
        const Result result = OpenOrMakeFolder(folder->Fd(), part.c_str(), fd, existed, error);
        if (result != Result::Ok)
            return {result, error, i, nullptr};
        folder = Remember(std::string(path.Folder(i)), std::make_shared<Folder>(fd));
        if (existed)
            onExisting(path.Folder(i), *folder);
    }
    return {Result::Ok, 0, 0, folder};
}
