// The folder extraction writes into. Everything beneath it is reached one level at a time from
// open folder handles (FolderCache), so a symlink met on the way is never followed, even one
// that another user swaps in while the run goes on. A file that is already there is only
// replaced once its replacement is complete. Safe to share between worker threads.
#pragma once

#include "EntryPath.h"
#include "FolderCache.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <unordered_map>
#include <vector>

// One output file being written.
struct Output {
    int fd = -1;
    std::shared_ptr<Folder> folder; // the folder it goes into, held open until it is done
    std::string name;               // its own name there
    // A file of that name exists: the new one is written under a temporary name beside it and
    // put in its place once complete (see Destination::CommitOutput).
    bool replacing = false;
    std::string temporary;
    int error = 0; // errno of the call that failed, for the user
    // The folder beneath the destination that could not be made or opened, when that is why
    // ("docs/maps"): the first real cause, not the file's own failure after it.
    std::string blockedFolder;
    bool Replacing() const { return replacing; }
};

class Destination {
public:
    // Refused: a symlink is in the way. Hidden: a name with a part beginning with '.', refused
    // unless allowed. Archive: the file in the way is the archive being read. ReadOnly: a file
    // whose owner may not write it is in the way; it is left alone.
    enum class Status { Ok, Refused, Hidden, Archive, Failed, ReadOnly, Exists };
    // How Commit failed: the data could not be written out, or the file could not be put under
    // its name.
    enum class Commit { Done, WriteFailed, PlaceFailed };

    Destination();
    Destination(const Destination&) = delete;
    Destination& operator=(const Destination&) = delete;

    // The folder the user chose, followed as given; false with errno when it cannot be opened.
    bool Open(const std::string& folder);
    // With keep on, CreateOutput leaves any existing file alone and answers Exists.
    void SetKeepExisting(bool keep) { keepExisting_ = keep; }
    // Names such as .bashrc or .ssh\authorized_keys mean nothing to the game these archives
    // come from, and would plant settings in a home folder: refused unless allowed.
    void SetAllowHidden(bool allow) { allowHidden_ = allow; }
    // The archive being read (its open descriptor): never replaced by one of its entries.
    void ProtectArchive(int fd);

    // Makes the folders of path and opens a new file for the entry: under its own name when that
    // is free, otherwise under a temporary one (see Output). A symlink at the name is refused
    // and left alone.
    Status CreateOutput(const EntryPath& path, Output& output);

    // Closes the output and, when replacing, renames it over the file that was there (a hard
    // link there is replaced, never written through). On failure a replacement is removed and
    // the old file is as it was, a new file stays as written; output.error tells why.
    Commit CommitOutput(Output& output);

    // Closes the output and removes what it made: the old file, if any, stays as it was.
    void DiscardOutput(Output& output);

    // Temporary names come from a sequence that starts at a random seed, so an archive cannot
    // name an entry after one; a given seed makes the names known in advance.
    void SeedTemporaryNames(std::uint64_t seed);
    // The next name of the sequence, beside path's file: ".NAME.vdat-" and 8 hex digits.
    std::string TemporaryName(const EntryPath& path);

private:
    std::string NextTemporary(std::string_view name);
    Status CreateReplacement(Output& output);
    // Temporary files a killed run left, by folder and by the name of the file they were to
    // replace: found when a folder that already existed is first reached in a run (once, even
    // if its handle is dropped and opened again), removed when that file is written (if no
    // live run holds them).
    void FindLeftovers(std::string_view folderPath, const Folder& folder);
    void RemoveLeftovers(std::string_view folderPath, const Folder& folder,
                         const std::string& name);

    FolderCache folders_;
    bool keepExisting_ = false;
    bool allowHidden_ = false;
    dev_t archiveDevice_ = 0;
    ino_t archiveInode_ = 0;
    bool haveArchive_ = false;
    std::uint64_t nameSeed_ = 0;
    std::atomic<std::uint64_t> nameCounter_{0};
    std::atomic<bool> findingFiles_{false}; // the last name looked at held a file already
    std::mutex leftoversMutex_;
    // Every folder looked through this run, with what it held.
    std::unordered_map<std::string, std::unordered_map<std::string, std::vector<std::string>>>
        leftovers_;
    std::atomic<bool> haveLeftovers_{false};
};

// Whether name looks like one of our temporary files, ".NAME.vdat-" and 8 hex digits; sets
// target to NAME when it does.
bool IsTemporaryName(std::string_view name, std::string_view& target);
