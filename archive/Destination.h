// The folder extraction writes into. Every folder and file is created relative to it, a symlink
// met on the way is never followed, and folders made during one run are remembered so they are
// not created again. Safe to share between worker threads.
#pragma once

#include "EntryPath.h"

#include <mutex>
#include <string>
#include <unordered_set>

class Destination {
public:
    enum class Status { Ok, Refused, Failed };

    Destination() = default;
    ~Destination();
    Destination(const Destination&) = delete;
    Destination& operator=(const Destination&) = delete;

    bool Open(const std::string& folder);
    bool IsOpen() const { return fd_ >= 0; }

    // Creates the folders of path. Refused when one of them is a symlink; Failed when something
    // else is in the way or the folder cannot be made.
    Status PrepareFolders(const EntryPath& path);

    // Creates the output file anew: an existing regular file is unlinked first, so a hard link
    // elsewhere is never written through; a symlink at the name is refused and left alone.
    Status CreateOutput(const EntryPath& path, int& fd);

    // Removes an output this run created, when what it holds must not stay.
    void RemoveOutput(const EntryPath& path);

private:
    int fd_ = -1;
    std::mutex mutex_;
    std::unordered_set<std::string> ready_;
};
