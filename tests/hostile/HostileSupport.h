// Helpers for the hostile-archive tests: running vdat as a child process, counting what the
// process holds (heap, resident pages, descriptors), and small scratch mounts.
#pragma once

#include "Extraction.h"
#include "Process.h"
#include "ResourceUse.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <sys/types.h>
#include <vector>

// Runs build/bin/vdat with args and waits for it, capturing its output.
ProcessResult RunVdat(const std::vector<std::string>& args, const ProcessOptions& options = {});

// The files a child of this process holds open beneath folder, named or not yet, that are
// smaller than `below` bytes: the files it is writing. By inode number.
std::vector<ino_t> ChildFilesBeneath(const std::string& folder, std::uint64_t below);

// Everything below a folder: each file's mode, owner, inode and bytes, each link's target.
std::map<std::string, std::string> Contents(const std::string& root);

// How often needle occurs in haystack.
std::size_t Occurrences(const std::string& haystack, const std::string& needle);

// How vdat shows one of the window's message texts inside its one-line message: the text on one
// line without its "File:" line (the line names the file already), then the reason, if any.
std::string VdatShown(const std::string& text);
// vdat's message lines: those of the window's messages, not the damaged entries nor the summary.
std::size_t VdatMessageLines(const std::string& err);

// The line vdat extract ends with.
std::string SummaryLine(const ExtractSummary& summary);

// A tmpfs mounted on an existing folder for the life of the object, when the system lets this
// process mount (root with mount rights); Mounted() tells whether it did.
class ScopedTmpfs {
public:
    ScopedTmpfs(const std::string& folder, const std::string& options, bool readOnly = false);
    ~ScopedTmpfs();
    ScopedTmpfs(const ScopedTmpfs&) = delete;
    ScopedTmpfs& operator=(const ScopedTmpfs&) = delete;
    bool Mounted() const { return mounted_; }

private:
    std::string folder_;
    bool mounted_ = false;
};
