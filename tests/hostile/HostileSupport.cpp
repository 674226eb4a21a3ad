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
#include <sys/wait.h>
#include <unistd.h>

namespace {
std::vector<std::string> VdatArgv(const std::vector<std::string>& args) {
    std::vector<std::string> argv{VDAT_BIN};
    argv.insert(argv.end(), args.begin(), args.end());
    return argv;
}
} // namespace

VdatRun RunVdat(const std::vector<std::string>& args, VdatLimits limits) {
    ProcessOptions options;
    options.fileSizeLimit = limits.fileSizeLimit;
    return RunProcess(VdatArgv(args), options);
}

VdatRun RunVdatAndSignal(const std::vector<std::string>& args, int signal,
                         const std::function<bool()>& ready, int times) {
    ProcessOptions options;
    options.signalWhen = ready;
    options.signal = signal;
    options.signalTimes = times;
    return RunProcess(VdatArgv(args), options);
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
