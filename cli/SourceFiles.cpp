// Walking the source folder for `vdat create`: what is added, what is skipped with a note, and
// what stops the run.
#include "SourceFiles.h"

#include "ArchiveWriter.h"
#include "TerminalSinks.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <unistd.h>

namespace {
// The operand as a path beneath the source folder: "." parts and repeated slashes dropped.
// False for one that would leave it.
bool Normalise(const std::string& operand, std::string& path) {
    if (operand.empty() || operand[0] == '/')
        return false;
    path.clear();
    std::size_t start = 0;
    while (start <= operand.size()) {
        std::size_t end = operand.find('/', start);
        if (end == std::string::npos)
            end = operand.size();
        const std::string part = operand.substr(start, end - start);
        if (part == "..")
            return false;
        if (!part.empty() && part != ".")
            path.append(path.empty() ? "" : "/").append(part);
        start = end + 1;
    }
    return true;
}

int OpenFolder(int parentFd, const char* name, bool follow) {
    return ::openat(parentFd, name, O_RDONLY | O_DIRECTORY | O_CLOEXEC | (follow ? 0 : O_NOFOLLOW));
}

// Opens folder (parts separated by '/', empty for root itself) beneath root one part at a time,
// through a symbolic link only when follow. -1 with errno when a part cannot be opened: failedEnd
// then ends that part in folder, and symlink tells whether a link was in the way.
int OpenFolderPath(int root, std::string_view folder, bool follow, std::size_t& failedEnd,
                   bool& symlink) {
    symlink = false;
    int fd = root;
    for (std::size_t start = 0; start < folder.size();) {
        const std::size_t end = std::min(folder.find('/', start), folder.size());
        const std::string part(folder.substr(start, end - start));
        const int next = OpenFolder(fd, part.c_str(), follow);
        const int error = errno;
        struct stat st;
        if (next < 0 && !follow)
            symlink =
                ::fstatat(fd, part.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode);
        if (fd != root)
            ::close(fd);
        if (next < 0) {
            failedEnd = end;
            errno = error;
            return -1;
        }
        fd = next;
        start = end + 1;
    }
    return fd;
}
} // namespace

bool FileFinder::Add(const std::string& operand) {
    std::string path;
    if (!Normalise(operand, path)) {
        PrintLine(operand, "not a path beneath the source folder");
        return false;
    }
    // Down to the last part's folder one folder at a time, as the walk goes.
    const std::size_t slash = path.rfind('/');
    const std::string_view folder =
        slash == std::string::npos ? std::string_view() : std::string_view(path).substr(0, slash);
    std::size_t failedEnd = 0;
    bool symlink = false;
    const int parent = OpenFolderPath(root_, folder, options_.dereference, failedEnd, symlink);
    if (parent < 0) {
        if (symlink) {
            PrintLine(path.substr(0, failedEnd), "symbolic link skipped",
                      "-h follows symbolic links");
            return true;
        }
        PrintLine(operand, "cannot add it", std::strerror(errno));
        return false;
    }
    struct Closer {
        int fd, root;
        ~Closer() {
            if (fd != root)
                ::close(fd);
        }
    } closer{parent, root_};
    const char* name = slash != std::string::npos ? path.c_str() + slash + 1
                       : path.empty()             ? "."
                                                  : path.c_str();
    struct stat st;
    if (!Stat(parent, name, st)) {
        PrintLine(operand, "cannot add it", std::strerror(errno));
        return false;
    }
    return Visit(parent, name, path, st);
}

bool FileFinder::Visit(int parentFd, const char* name, const std::string& path,
                       const struct stat& st) {
    if (S_ISDIR(st.st_mode)) {
        const int fd = OpenFolder(parentFd, name, options_.dereference);
        struct stat folder;
        if (fd < 0 || ::fstat(fd, &folder) != 0) {
            PrintLine(path.empty() ? options_.directory : path, "cannot read the folder",
                      std::strerror(errno));
            if (fd >= 0)
                ::close(fd);
            return false;
        }
        if (!walking_.insert({folder.st_dev, folder.st_ino}).second) {
            ::close(fd);
            PrintLine(path, "skipped", "a link leads back into a folder above it");
            return true;
        }
        const bool ok = Walk(fd, path);
        walking_.erase({folder.st_dev, folder.st_ino});
        return ok;
    }
    if (S_ISLNK(st.st_mode)) {
        PrintLine(path, "symbolic link skipped", "-h follows symbolic links");
        return true;
    }
    if (!S_ISREG(st.st_mode)) {
        PrintLine(path, "skipped", "not a regular file");
        return true;
    }
    if (st.st_dev == skipDevice && st.st_ino == skipInode) {
        PrintLine(path, "skipped", "it is the archive being written");
        return true;
    }
    SourceFile file;
    file.path = path;
    file.name = path;
    std::replace(file.name.begin(), file.name.end(), '/', '\\');
    file.device = st.st_dev;
    file.inode = st.st_ino;
    file.size = st.st_size;
    files.push_back(std::move(file));
    return true;
}

// The folder open on fd, which path names; fd is closed here. It stays open while the files in
// it are visited, each opened or looked at from it.
bool FileFinder::Walk(int fd, const std::string& path) {
    DIR* dir = ::fdopendir(fd);
    if (!dir) {
        PrintLine(path.empty() ? options_.directory : path, "cannot read the folder",
                  std::strerror(errno));
        ::close(fd);
        return false;
    }
    std::vector<std::string> children;
    while (const dirent* d = ::readdir(dir)) {
        const std::string_view name = d->d_name;
        if (name != "." && name != "..")
            children.emplace_back(name);
    }
    bool ok = true;
    for (const std::string& child : children) {
        const std::string childPath = path.empty() ? child : path + "/" + child;
        struct stat st;
        if (!Stat(fd, child.c_str(), st)) {
            PrintLine(childPath, "cannot add it", std::strerror(errno));
            ok = false;
            break;
        }
        if (!Visit(fd, child.c_str(), childPath, st)) {
            ok = false;
            break;
        }
    }
    ::closedir(dir);
    return ok;
}

bool CheckNames(const std::vector<SourceFile>& files) {
    bool ok = true;
    for (const SourceFile& file : files) {
        const char* problem = EntryNameProblem(file.name);
        if (!problem && file.path.find('\\') != std::string::npos)
            problem = "name holds a '\\', which the archive reads as a folder separator";
        if (problem) {
            PrintLine(file.path, "cannot be put in the archive", problem);
            ok = false;
        }
    }
    return ok;
}

int SourceOpener::Open(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    const std::string_view folder =
        slash == std::string::npos ? std::string_view() : std::string_view(path).substr(0, slash);
    if (folder != folder_) {
        Forget();
        std::size_t failedEnd = 0;
        bool symlink = false;
        const int fd = OpenFolderPath(root_, folder, follow_, failedEnd, symlink);
        if (fd < 0)
            return -1;
        folderFd_ = fd;
        folder_ = folder;
    }
    const char* name = slash == std::string::npos ? path.c_str() : path.c_str() + slash + 1;
    return ::openat(folderFd_, name,
                    O_RDONLY | O_NONBLOCK | O_CLOEXEC | (follow_ ? 0 : O_NOFOLLOW));
}

void SourceOpener::Forget() {
    if (folderFd_ != root_)
        ::close(folderFd_);
    folderFd_ = root_;
    folder_.clear();
}
