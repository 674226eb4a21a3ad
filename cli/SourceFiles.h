// Finding the files `vdat create` puts into an archive, and the names they get there.
#pragma once

#include "Options.h"

#include <fcntl.h>
#include <set>
#include <string>
#include <sys/stat.h>
#include <utility>
#include <vector>

struct SourceFile {
    std::string name; // in the archive: folders separated by '\'
    std::string path; // to open, relative to the source folder
    // The file the walk found there; another one found there when it is read is refused.
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
};

// Finds the files under the source folder, opening each folder from the one above it so a
// symbolic link is followed only with -h. Notes what it skips; false (told) on what must stop
// the whole run.
class FileFinder {
public:
    FileFinder(int rootFd, const Options& options) : root_(rootFd), options_(options) {}

    bool Add(const std::string& operand);
    std::vector<SourceFile> files;
    dev_t skipDevice = 0; // the archive itself, when it lies among the files
    ino_t skipInode = 0;

private:
    bool Visit(int parentFd, const char* name, const std::string& path, const struct stat& st);
    bool Walk(int fd, const std::string& path);
    bool Stat(int parentFd, const char* name, struct stat& st) const {
        const int flags = options_.dereference ? 0 : AT_SYMLINK_NOFOLLOW;
        return ::fstatat(parentFd, name, &st, flags) == 0;
    }

    int root_;
    const Options& options_;
    std::set<std::pair<dev_t, ino_t>> walking_; // folders on the way down, against link loops
};

// Names the archive cannot carry, each told; false when there is any.
bool CheckNames(const std::vector<SourceFile>& files);

// Opens found files for reading the way the walk went: one folder at a time from the source
// folder, following symbolic links only with -h, so a folder swapped for a link since the walk
// leads nowhere outside it. The last file's folder stays open, as files come in name order.
class SourceOpener {
public:
    SourceOpener(int rootFd, bool follow) : root_(rootFd), folderFd_(rootFd), follow_(follow) {}
    ~SourceOpener() { Forget(); }
    SourceOpener(const SourceOpener&) = delete;
    SourceOpener& operator=(const SourceOpener&) = delete;

    // The file opened without blocking (a FIFO put in its place would wait for a writer
    // forever), or -1 with errno set.
    int Open(const std::string& path);

private:
    void Forget();

    int root_;
    int folderFd_; // the folder `folder_` names, or root_
    std::string folder_;
    bool follow_;
};
