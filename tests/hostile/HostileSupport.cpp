// Child processes, resource counters and scratch mounts for the hostile-archive tests.
#include "HostileSupport.h"

#include "TempDir.h"

#include <csignal>
#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <malloc.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VDAT_HOSTILE_ASAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define VDAT_HOSTILE_ASAN 1
#endif

#ifdef VDAT_HOSTILE_ASAN
extern "C" std::size_t __sanitizer_get_current_allocated_bytes();
#endif

namespace {
VdatRun Run(const std::vector<std::string>& args, VdatLimits limits, int signal,
            const std::function<bool()>& ready, int times) {
    TempDir capture;
    const std::string outPath = capture / "out", errPath = capture / "err";
    std::vector<std::string> argv{VDAT_BIN};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char*> pointers;
    for (std::string& a : argv)
        pointers.push_back(a.data());
    pointers.push_back(nullptr);

    std::fflush(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int nothing = ::open("/dev/null", O_RDONLY);
        if (out < 0 || err < 0 || nothing < 0)
            ::_exit(127);
        ::dup2(nothing, 0);
        ::dup2(out, 1);
        ::dup2(err, 2);
        // Whatever this process ignores, vdat is run as from an interactive shell.
        ::signal(SIGINT, SIG_DFL);
        ::signal(SIGTERM, SIG_DFL);
        if (limits.fileSizeLimit >= 0) {
            // An ignored signal stays ignored across exec, so the write fails with EFBIG
            // instead of killing vdat.
            ::signal(SIGXFSZ, SIG_IGN);
            rlimit limit{rlim_t(limits.fileSizeLimit), rlim_t(limits.fileSizeLimit)};
            ::setrlimit(RLIMIT_FSIZE, &limit);
        }
        ::execv(pointers[0], pointers.data());
        ::_exit(127);
    }
    VdatRun run;
    int status = 0;
    bool ended = pid <= 0;
    rusage usage{};
    for (; !ended && ready; ::usleep(1000)) {
        ended = ::wait4(pid, &status, WNOHANG, &usage) == pid;
        if (!ended && ready()) {
            for (int i = 0; i < times; ++i) {
                if (i > 0)
                    ::usleep(2000); // apart, so the second is not merged into the first
                ::kill(pid, signal);
            }
            break;
        }
    }
    if (pid > 0 && (ended || ::wait4(pid, &status, 0, &usage) == pid)) {
        if (WIFEXITED(status))
            run.exitCode = WEXITSTATUS(status);
        else if (WIFSIGNALED(status))
            run.signal = WTERMSIG(status);
    }
    run.peakKiB = usage.ru_maxrss;
    run.out = ReadFile(outPath);
    run.err = ReadFile(errPath);
    return run;
}
} // namespace

VdatRun RunVdat(const std::vector<std::string>& args, VdatLimits limits) {
    return Run(args, limits, 0, nullptr, 0);
}

VdatRun RunVdatAndSignal(const std::vector<std::string>& args, int signal,
                         const std::function<bool()>& ready, int times) {
    return Run(args, {}, signal, ready, times);
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

std::size_t HeapInUse() {
#ifdef VDAT_HOSTILE_ASAN
    return __sanitizer_get_current_allocated_bytes();
#else
    const struct mallinfo2 info = ::mallinfo2();
    return info.uordblks + info.hblkhd;
#endif
}

bool UnderAddressSanitizer() {
#ifdef VDAT_HOSTILE_ASAN
    return true;
#else
    return false;
#endif
}

std::size_t ResidentBytes() {
    std::FILE* f = std::fopen("/proc/self/statm", "r");
    unsigned long size = 0, resident = 0;
    if (f) {
        if (std::fscanf(f, "%lu %lu", &size, &resident) != 2)
            resident = 0;
        std::fclose(f);
    }
    return resident * std::size_t(::sysconf(_SC_PAGESIZE));
}

int OpenDescriptors() {
    DIR* dir = ::opendir("/proc/self/fd");
    if (!dir)
        return -1;
    int count = 0;
    while (const dirent* d = ::readdir(dir))
        if (d->d_name[0] != '.')
            ++count;
    ::closedir(dir);
    return count - 1; // the one opendir itself holds
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
