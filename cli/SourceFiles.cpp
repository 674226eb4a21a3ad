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
} // namespace

bool FileFinder::Add(const std::string& operand) {
    std::string path;
    if (!Normalise(operand, path)) {
        PrintLine(operand, "not a path beneath the source folder");
        return false;
    }
    struct stat st;
    if (!Stat(path.empty() ? "." : path, st)) {
        PrintLine(operand, "cannot add it", std::strerror(errno));
        return false;
    }
    return Visit(path, st);
}

bool FileFinder::Visit(const std::string& path, const struct stat& st) {
    if (S_ISDIR(st.st_mode)) {
        if (!walking_.insert({st.st_dev, st.st_ino}).second) {
            PrintLine(path, "skipped", "a link leads back into a folder above it");
            return true;
        }
        const bool ok = Walk(path);
        walking_.erase({st.st_dev, st.st_ino});
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
    files.push_back(std::move(file));
    return true;
}

bool FileFinder::Walk(const std::string& path) {
    const int fd =
        ::openat(root_, path.empty() ? "." : path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* dir = fd >= 0 ? ::fdopendir(fd) : nullptr;
    if (!dir) {
        PrintLine(path.empty() ? options_.directory : path, "cannot read the folder",
                  std::strerror(errno));
        if (fd >= 0)
            ::close(fd);
        return false;
    }
    std::vector<std::string> children;
    while (const dirent* d = ::readdir(dir)) {
        const std::string_view name = d->d_name;
        if (name != "." && name != "..")
            children.emplace_back(path.empty() ? std::string(name) : path + "/" + d->d_name);
    }
    ::closedir(dir);
    for (const std::string& child : children) {
        struct stat st;
        if (!Stat(child, st)) {
            PrintLine(child, "cannot add it", std::strerror(errno));
            return false;
        }
        if (!Visit(child, st))
            return false;
    }
    return true;
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
