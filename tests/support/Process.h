// Runs a program to completion and captures what it printed, for end-to-end tests.
#pragma once

#include <functional>
#include <string>
#include <vector>

struct ProcessResult {
    int exitCode = -1; // -1: did not exit normally
    int signal = 0;    // the signal that ended it, if one did
    std::string out;
    std::string err;
    long peakKiB = 0; // the child's peak resident size
};

struct ProcessOptions {
    std::string workingDirectory;  // empty: the test's own
    std::string stdoutPath;        // empty: captured; otherwise stdout goes to this file
    bool stderrOnTerminal = false; // stderr is a pseudo-terminal (captured all the same)
    long fileSizeLimit = -1;       // RLIMIT_FSIZE for the child, with SIGXFSZ ignored; -1: none
    bool withoutOpenat2 = false;   // openat2 fails with ENOSYS, as on a kernel that predates it
    long openFilesLimit = -1;      // RLIMIT_NOFILE for the child; -1: as it is
    // As soon as signalWhen() is true (asked every millisecond while the program runs), the
    // program is sent `signal`, `signalTimes` times a moment apart.
    std::function<bool()> signalWhen;
    int signal = 0;
    int signalTimes = 1;
};

// argv[0] is the program's path. stdin reads from /dev/null. SIGINT, SIGTERM and SIGHUP are as
// from an interactive shell, whatever this process does with them.
ProcessResult RunProcess(const std::vector<std::string>& argv, const ProcessOptions& options = {});
