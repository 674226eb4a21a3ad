// The vdat commands, each returning the process's exit status.
#pragma once

#include <string>
#include <vector>

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;

struct ExtractOptions {
    std::string archive;
    std::string destination = ".";
    unsigned jobs = 0; // 0: one per processor
    std::vector<std::string> names;
};

int RunInfo(const std::string& archive);
int RunList(const std::string& archive);
int RunTest(const std::string& archive);
int RunExtract(const ExtractOptions& options);
