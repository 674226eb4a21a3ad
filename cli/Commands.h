// The vdat commands, each returning the process's exit status.
#pragma once

#include "Options.h"

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;

int RunInfo(const Options& options);
int RunList(const Options& options);
int RunTest(const Options& options);
int RunExtract(const Options& options);
int RunCreate(const Options& options);
int RunAdd(const Options& options);
int RunDelete(const Options& options);
int RunRename(const Options& options);
int RunCompact(const Options& options);
int RunMount(const Options& options);

// The command options name.
int RunCommand(const Options& options);
