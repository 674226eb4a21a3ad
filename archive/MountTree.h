// An archive as a read-only tree of folders and files, as `vdat mount` shows it: names as
// extraction writes them, lookups, attributes, folder listings and reads (stored data straight
// from the archive's bytes, packed data inflated whole into a bounded cache or in pieces as it is
// read). No kernel here: the FUSE layer passes its requests on, and tests and the fuzz target
// call the same handlers directly. Every handler may be called from many threads at once.
//
// Nodes are numbered per reading of the directory (a generation): a number names the same node,
// with the same bytes, for as long as anyone holds it, so the kernel's caches never see one
// number change meaning. When the archive changes on disk, the next lookup after at most one
// check interval reads it again into a new generation; the old one lives on while the kernel
// still remembers its nodes or a file of it is open.
#pragma once

#include "ArchiveFormat.h"
#include "Texts.h"

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <unordered_map>

class NameReader;

using MountNode = std::uint64_t;
inline constexpr MountNode kMountRoot = 1;

struct MountSettings {
    uid_t owner = 0;
    gid_t group = 0;
    std::size_t cacheLimit = std::size_t(256) << 20; // inflated entries kept, in all
    std::size_t wholeLimit = std::size_t(32) << 20;  // larger entries are inflated in pieces
    std::chrono::milliseconds checkInterval{1000};   // how often the archive is looked at
};

// A name that is not shown, and why: told once.
struct MountRefusal {
    std::string name; // as read (stored bytes, or UTF-8 with a code page)
    std::string reason;
};

class MountTree {
public:
    explicit MountTree(MountSettings settings);
    ~MountTree();
    MountTree(const MountTree&) = delete;
    MountTree& operator=(const MountTree&) = delete;

    // Names from now on are read by reader (a code page); it must outlive the tree.
    void ReadNamesWith(NameReader* reader) { reader_ = reader; }
    // Called for each name not shown, once per name and reason, while a directory is read.
    void OnRefusal(std::function<void(const MountRefusal&)> tell) { tell_ = std::move(tell); }

    // Opens `name` inside the open folder `folder` (which the tree duplicates and keeps, so the
    // archive is found again however the process's current folder moves) and reads its
    // directory. False with the problem when it is no archive; a cut-short directory is not one
    // (problem then says CutShort, and the whole records are shown).
    bool Open(int folder, const std::string& name, ArchiveProblem& problem);

    // The handlers: 0 or an error number (ENOENT, ENOTDIR, EISDIR, EIO, ENOMEM, EBADF).
    // A node found by Lookup, or added by a ReadFolder with plus, is held until Forget lets go.
    int Lookup(MountNode parent, std::string_view name, struct stat& attributes);
    void Forget(MountNode node, std::uint64_t lookups);
    int GetAttributes(MountNode node, struct stat& attributes);

    int OpenFolder(MountNode node, std::uint64_t& handle);
    // add(name, attributes, next position) for each name from position on, "." and ".." first,
    // until add returns false (no room left: that name was not taken).
    using AddName = std::function<bool(std::string_view, const struct stat&, std::uint64_t)>;
    int ReadFolder(std::uint64_t handle, std::uint64_t position, bool plus, const AddName& add);
    void ReleaseFolder(std::uint64_t handle);

    int OpenFile(MountNode node, std::uint64_t& handle);
    // Up to size bytes from offset, handed to reply (which must copy them before it returns);
    // fewer only at the file's end. 0 once reply was called.
    using Reply = std::function<void(const unsigned char*, std::size_t)>;
    int Read(std::uint64_t handle, std::uint64_t offset, std::size_t size, const Reply& reply);
    void ReleaseFile(std::uint64_t handle);
    // The same without opening: where the kernel sends no open, reads name the node. An entry
    // inflated in pieces keeps its inflater in a few shared places instead of the open file.
    int ReadNode(MountNode node, std::uint64_t offset, std::size_t size, const Reply& reply);

    // Reads the directory again when the archive's identity (device, inode, size, modification
    // time) or header changed, at most once per check interval. The handlers call it; true when
    // a new generation was read.
    bool CheckForChange();

    // What the cache holds now, and how many generations are alive (for tests).
    std::size_t CachedBytes() const;
    std::size_t Generations() const;

    struct Generation;

private:
    struct Cache;
    struct OpenEntry;
    struct OpenListing;

    std::shared_ptr<Generation> Read(const std::string& name, ArchiveProblem& problem);
    // pieces: where an entry inflated in pieces keeps its state; unused for the others.
    int ReadEntry(const Generation& g, std::uint32_t index, OpenEntry* pieces, std::uint64_t offset,
                  std::size_t size, const Reply& reply);
    std::shared_ptr<Generation> Find(MountNode node, std::uint32_t& index) const;
    void Adopt(std::shared_ptr<Generation> generation);
    void Hold(Generation& generation, std::uint64_t lookups);

    MountSettings settings_;
    NameReader* reader_ = nullptr;
    std::function<void(const MountRefusal&)> tell_;
    std::set<std::pair<std::string, std::string>> told_;
    int folder_ = -1;
    std::string name_;

    mutable std::mutex generationsMutex_;
    std::unordered_map<std::uint32_t, std::shared_ptr<Generation>> generations_;
    std::shared_ptr<Generation> current_;
    std::uint32_t nextGeneration_ = 1;

    std::mutex checkMutex_; // one reading of the directory at a time
    std::atomic<std::int64_t> nextCheck_{0};

    std::unique_ptr<Cache> cache_;

    std::mutex piecesMutex_;
    std::list<std::pair<MountNode, std::shared_ptr<OpenEntry>>> pieces_; // most recent first
};
