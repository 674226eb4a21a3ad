// Running vdat and scratch mounts for the hostile-archive tests.
#include "HostileSupport.h"

#include "TempDir.h"

#include <csignal>
#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <malloc.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

ProcessResult RunVdat(const std::vector<std::string>& args, const ProcessOptions& options) {
    std::vector<std::string> argv{VDAT_BIN};
    argv.insert(argv.end(), args.begin(), args.end());
    return RunProcess(argv, options);
}

std::vector<ino_t> ChildFilesBeneath(const std::string& folder, std::uint64_t below) {
    const std::string self = std::to_string(::getpid());
    std::vector<ino_t> files;
    DIR* proc = ::opendir("/proc");
    if (!proc)
        return files;
    while (const dirent* p = ::readdir(proc)) {
        if (p->d_name[0] < '1' || p->d_name[0] > '9')
            continue;
        const std::string pid = std::string("/proc/") + p->d_name;
        // The fourth field of stat is the parent's pid; the name before it is in parentheses.
        char buffer[512] = {};
        const int fd = ::open((pid + "/stat").c_str(), O_RDONLY | O_CLOEXEC);
        const ssize_t got = fd >= 0 ? ::read(fd, buffer, sizeof buffer - 1) : -1;
        if (fd >= 0)
            ::close(fd);
        const std::string stat(buffer, got > 0 ? std::size_t(got) : 0); // gone: empty
        const std::size_t close = stat.rfind(')');
        if (close == std::string::npos || stat.compare(close + 4, self.size() + 1, self + " ") != 0)
            continue;
        DIR* fds = ::opendir((pid + "/fd").c_str());
        while (fds) {
            const dirent* f = ::readdir(fds);
            if (!f)
                break;
            const std::string link = pid + "/fd/" + f->d_name;
            char target[4096];
            const ssize_t n = ::readlink(link.c_str(), target, sizeof target);
            struct stat st;
            if (n > 0 && std::string_view(target, std::size_t(n)).starts_with(folder + "/") &&
                ::stat(link.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
                std::uint64_t(st.st_size) < below)
                files.push_back(st.st_ino);
        }
        if (fds)
            ::closedir(fds);
    }
    ::closedir(proc);
    return files;
}

std::map<std::string, std::string> Contents(const std::string& root) {
    std::map<std::string, std::string> out;
    std::string listing = ListTree(root);
    for (std::size_t start = 0, end; (end = listing.find('\n', start)) != std::string::npos;
         start = end + 1) {
        const std::string rel = listing.substr(start, end - start);
        const std::string path = root + "/" + rel;
        struct stat st;
        if (::lstat(path.c_str(), &st) != 0)
            continue;
        if (S_ISREG(st.st_mode)) {
            out[rel] = "file " + std::to_string(st.st_mode & 07777) + " uid " +
                       std::to_string(st.st_uid) + " inode " + std::to_string(st.st_ino) + " " +
                       ReadFile(path);
        } else if (S_ISLNK(st.st_mode)) {
            char target[4096];
            const ssize_t n = ::readlink(path.c_str(), target, sizeof target);
            out[rel] = "link " + std::string(target, n > 0 ? std::size_t(n) : 0);
        } else {
            out[rel] = "folder";
        }
    }
    return out;
}

std::size_t Occurrences(const std::string& haystack, const std::string& needle) {
    std::size_t n = 0;
    for (std::size_t at = haystack.find(needle); at != std::string::npos;
         at = haystack.find(needle, at + needle.size()))
        ++n;
    return n;
}

std::string VdatShown(const std::string& text) {
    std::string joined;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        const std::string line = text.substr(start, end - start);
        if (!line.empty() && line.rfind("File:", 0) != 0)
            joined += (joined.empty() ? "" : " ") + line;
        start = end + 1;
    }
    const bool withReason = text == "Can`t Extract file" || text.rfind("Can`t open", 0) == 0 ||
                            text.rfind("Can`t creat Memory!", 0) == 0;
    return ": " + joined + (withReason ? " (" : "\n");
}

std::size_t VdatMessageLines(const std::string& err) {
    std::size_t n = 0;
    for (std::size_t start = 0; start < err.size();) {
        std::size_t end = err.find('\n', start);
        if (end == std::string::npos)
            end = err.size();
        const std::string line = err.substr(start, end - start);
        const bool summary = line.find(" written, ") != std::string::npos;
        if (line.rfind("vdat: ", 0) == 0 && !summary &&
            line.find(": damaged (") == std::string::npos)
            ++n;
        start = end + 1;
    }
    return n;
}

std::string SummaryLine(const ExtractSummary& s) {
    return "vdat: " + std::to_string(s.written) + " written, " + std::to_string(s.refused) +
           " refused, " + std::to_string(s.damaged) + " damaged, " + std::to_string(s.notWritten) +
           " not written\n";
}

ScopedTmpfs::ScopedTmpfs(const std::string& folder, const std::string& options, bool readOnly)
    : folder_(folder) {
    mounted_ =
        ::mount("tmpfs", folder.c_str(), "tmpfs", readOnly ? MS_RDONLY : 0, options.c_str()) == 0;
}

ScopedTmpfs::~ScopedTmpfs() {
    if (mounted_)
        ::umount2(folder_.c_str(), MNT_DETACH);
}
