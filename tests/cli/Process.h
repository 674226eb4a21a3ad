// Runs a program to completion and captures what it printed, for end-to-end tests.
#pragma once

#include <string>
#include <vector>

struct ProcessResult {
    int exitCode = -1; // 128 + signal number when the program was killed by a signal
    std::string out;
    std::string err;
};

struct ProcessOptions {
    std::string workingDirectory;  // empty: the test's own
    std::string stdoutPath;        // empty: captured; otherwise stdout goes to this file
    bool stderrOnTerminal = false; // stderr is a pseudo-terminal (captured all the same)
};

// argv[0] is the program's path. stdin reads from /dev/null.
ProcessResult RunProcess(const std::vector<std::string>& argv, const ProcessOptions& options = {});
