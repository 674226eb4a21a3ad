// The folders beneath a destination, reached one level at a time through open handles and
// remembered as handles: a folder renamed or swapped for a symlink after it was reached cannot
// send anything elsewhere, because nothing is ever looked up by its path again. A bounded
// number stay open; one dropped is reached again from its nearest remembered parent.
#pragma once

#include "EntryPath.h"

#include <atomic>
#include <cstddef>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

// One open folder. Kept alive by whoever writes into it, even after the cache dropped it.
class Folder {
public:
    explicit Folder(int fd) : fd_(fd) {}
    ~Folder();
    Folder(const Folder&) = delete;
    Folder& operator=(const Folder&) = delete;
    int Fd() const { return fd_; }

    // Temporary files a killed run left here, by the name of the file they were to replace
    // (found when a folder that already existed is reached). Takes those of `name`.
    std::vector<std::string> TakeLeftovers(const std::string& name);
    void AddLeftover(std::string name, std::string temporary);

private:
    int fd_;
    std::atomic<bool> haveLeftovers_{false};
    std::mutex mutex_;
    std::unordered_map<std::string, std::vector<std::string>> leftovers_;
};

class FolderCache {
public:
    // Folders kept open at once, besides the root and those being written into.
    static constexpr std::size_t kCapacity = 128;

    enum class Result { Ok, Symlink, Failed };
    struct Reached {
        Result result = Result::Ok;
        int error = 0;                  // errno of the failing call, when Failed
        std::shared_ptr<Folder> folder; // the entry's own folder, when Ok
    };

    // Takes over rootFd, the destination itself.
    void Reset(int rootFd);
    bool IsOpen() const { return root_ != nullptr; }
    const std::shared_ptr<Folder>& Root() const { return root_; }

    // The folder path's file goes into, made where missing: each part is made in its parent
    // and opened there without following a symlink. A symlink on the way is Symlink; a file or
    // anything else in the way, or a folder that cannot be made, is Failed with the reason.
    // Called with onExisting for each folder that was there already before this run reached it.
    template <typename OnExisting> Reached Reach(const EntryPath& path, OnExisting onExisting);

private:
    std::shared_ptr<Folder> Lookup(std::string_view key);
    void Remember(std::string key, std::shared_ptr<Folder> folder);

    std::mutex mutex_;
    std::shared_ptr<Folder> root_;
    // Most recently used first.
    std::list<std::pair<std::string, std::shared_ptr<Folder>>> order_;
    std::unordered_map<std::string_view, decltype(order_)::iterator> byPath_;
};

// Opens or makes the folder `part` in parent. Ok with the handle and whether it existed.
FolderCache::Result OpenOrMakeFolder(int parent, const char* part, int& fd, bool& existed,
                                     int& error);

template <typename OnExisting>
FolderCache::Reached FolderCache::Reach(const EntryPath& path, OnExisting onExisting) {
    std::lock_guard lock(mutex_);
    const std::size_t depth = path.folderEnds.size();
    if (depth == 0)
        return {Result::Ok, 0, root_};
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
            return {result, error, nullptr};
        folder = std::make_shared<Folder>(fd);
        if (existed)
            onExisting(*folder);
        Remember(std::string(path.Folder(i)), folder);
    }
    return {Result::Ok, 0, folder};
}
