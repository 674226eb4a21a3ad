// The folder extraction writes into. Every folder and file is created relative to it, a symlink
// met on the way is never followed, and folders made during one run are remembered so they are
// not created again. A file that is already there is only replaced once its replacement is
// complete. Safe to share between worker threads.
#pragma once

#include "EntryPath.h"

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <unordered_set>

// One output file being written.
struct Output {
    int fd = -1;
    // Where the bytes go while a file of the entry's name exists: a fresh file beside it, renamed
    // over it once complete. Empty when the entry's name was free and is written directly.
    std::string temporary;
    bool Replacing() const { return !temporary.empty(); }
};

class Destination {
public:
    // ReadOnly: a file whose owner may not write it is in the way; it is left alone.
    enum class Status { Ok, Refused, Failed, ReadOnly, Exists };

    Destination();
    ~Destination();
    Destination(const Destination&) = delete;
    Destination& operator=(const Destination&) = delete;

    bool Open(const std::string& folder);
    // With keep on, CreateOutput leaves any existing file alone and answers Exists.
    void SetKeepExisting(bool keep) { keepExisting_ = keep; }

    // Creates the folders of path. Refused when one of them is a symlink; Failed when something
    // else is in the way or the folder cannot be made.
    Status PrepareFolders(const EntryPath& path);

    // Opens a new file for the entry: under its own name when that is free, otherwise under a
    // temporary name beside it (see Output). A symlink at the name is refused and left alone.
    Status CreateOutput(const EntryPath& path, Output& output);

    // For a replacement whose file is complete and closed: renames it over the entry's name (a
    // hard link there is replaced, never written through). False, with the temporary file
    // removed, the old file as it was and errno telling why, when that cannot be done.
    bool CommitOutput(const EntryPath& path, Output& output);

    // Removes what this output wrote, when it must not stay: the temporary file of a
    // replacement (the old file stays), or else the file made under the entry's name.
    void RemoveOutput(const EntryPath& path, const Output& output);

    // Temporary names come from a sequence that starts at a random seed, so an archive cannot
    // name an entry after one; a given seed makes the names known in advance.
    void SeedTemporaryNames(std::uint64_t seed);
    // The next name of the sequence, beside path's file: ".NAME.vdat-" and 8 hex digits.
    std::string TemporaryName(const EntryPath& path);

private:
    int fd_ = -1;
    bool keepExisting_ = false;
    std::mutex mutex_;
    std::unordered_set<std::string> ready_;
    std::uint64_t nameSeed_ = 0;
    std::atomic<std::uint64_t> nameCounter_{0};
    std::atomic<bool> findingFiles_{false}; // the last name looked at held a file already
};
