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
};

// Finds the files under the source folder. Notes what it skips; false (told) on what must stop
// the whole run.
class FileFinder {
public:
    FileFinder(int rootFd, const Options& options) : root_(rootFd), options_(options) {}

    bool Add(const std::string& operand);
    std::vector<SourceFile> files;
    dev_t skipDevice = 0; // the archive itself, when it lies among the files
    ino_t skipInode = 0;

private:
    bool Visit(const std::string& path, const struct stat& st);
    bool Walk(const std::string& path);
    bool Stat(const std::string& path, struct stat& st) {
        const int flags = options_.dereference ? 0 : AT_SYMLINK_NOFOLLOW;
        return ::fstatat(root_, path.c_str(), &st, flags) == 0;
    }

    int root_;
    const Options& options_;
    std::set<std::pair<dev_t, ino_t>> walking_; // folders on the way down, against link loops
};

// Names the archive cannot carry, each told; false when there is any.
bool CheckNames(const std::vector<SourceFile>& files);
