// The archive's tree for a mount: built from the directory as extraction would write it, served
// from the archive's bytes, packed entries inflated whole into a bounded cache or in pieces.
#include "MountTree.h"

#include "Directory.h"
#include "EntryNames.h"
#include "EntryPath.h"
#include "FileIo.h"
#include "Inflate.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <list>
#include <new>
#include <optional>
#include <unistd.h>
#include <vector>

namespace {
constexpr std::uint32_t kFolder = UINT32_MAX; // a node's entry when it is a folder

// Packed bytes are read, and piece-wise inflation goes on, in steps of this size; a read is
// served from a window that holds a little more, so requests the kernel sends out of order
// (readahead on several threads) do not start the entry over.
constexpr std::size_t kStep = std::size_t(1) << 20;
constexpr std::size_t kWindow = 4 * kStep;
// The largest read served; the kernel asks for at most 1 MiB.
constexpr std::size_t kMaxRead = kStep;

std::int64_t Now() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

bool SameTime(const struct timespec& a, const struct timespec& b) {
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

// A buffer each thread keeps for reads up to kMaxRead; larger ones are not kept.
unsigned char* ThreadBuffer(std::size_t size, std::unique_ptr<unsigned char[]>& once) {
    thread_local std::unique_ptr<unsigned char[]> kept;
    if (size > kMaxRead) {
        once.reset(new (std::nothrow) unsigned char[size]);
        return once.get();
    }
    if (!kept)
        kept.reset(new (std::nothrow) unsigned char[kMaxRead]);
    return kept.get();
}
} // namespace

struct MountTree::Generation {
    struct Node {
        std::string name;
        std::uint32_t parent = 0;
        std::uint32_t entry = kFolder;
        std::uint32_t folders = 0;             // subfolders, for the link count
        std::vector<std::uint32_t> children{}; // by name, once built
        bool IsFolder() const { return entry == kFolder; }
    };

    ~Generation() { CloseFile(fd); }

    std::uint32_t number = 0;
    int fd = -1;
    struct stat file {};    // the archive when it was read: identity and times
    ArchiveHeader header{}; // as read then
    std::vector<DirectoryEntry> entries;
    std::vector<Node> nodes; // nodes[0] is the root
    std::atomic<std::uint64_t> held{0};

    MountNode Id(std::uint32_t index) const {
        return index == 0 ? kMountRoot : MountNode(number) << 32 | index;
    }
    const Node* Child(std::uint32_t folder, std::string_view name) const {
        const auto& children = nodes[folder].children;
        const auto at = std::lower_bound(
            children.begin(), children.end(), name,
            [this](std::uint32_t c, std::string_view n) { return nodes[c].name < n; });
        return at != children.end() && nodes[*at].name == name ? &nodes[*at] : nullptr;
    }
    std::uint32_t Index(const Node& node) const { return std::uint32_t(&node - nodes.data()); }
};

namespace {
struct Inflated {
    std::unique_ptr<unsigned char[]> bytes;
    std::size_t size = 0;
    bool damaged = false;
};
using InflatedPtr = std::shared_ptr<const Inflated>;
} // namespace

// Inflated entries by generation and entry, the least recently used dropped first once the
// limit is passed. Readers hold what they serve, so a dropped entry lives until its reply is out.
struct MountTree::Cache {
    explicit Cache(std::size_t limit) : limit(limit) {}

    InflatedPtr Get(std::uint64_t key) {
        std::lock_guard lock(mutex);
        const auto found = map.find(key);
        if (found == map.end())
            return nullptr;
        order.splice(order.begin(), order, found->second.second);
        return found->second.first;
    }
    void Put(std::uint64_t key, InflatedPtr value) {
        std::lock_guard lock(mutex);
        // One larger than the whole cache stays with its reader only.
        if (map.count(key) || value->size > limit)
            return;
        order.push_front(key);
        bytes += value->size;
        map.emplace(key, std::make_pair(std::move(value), order.begin()));
        while (bytes > limit && order.size() > 1) {
            const auto last = map.find(order.back());
            bytes -= last->second.first->size;
            map.erase(last);
            order.pop_back();
        }
    }
    // One inflation of an entry at a time: a second reader waits for the first one's result.
    std::mutex& Stripe(std::uint64_t key) { return stripes[(key ^ key >> 32) % kStripes]; }

    static constexpr std::size_t kStripes = 64;
    std::size_t limit;
    std::mutex mutex;
    std::list<std::uint64_t> order; // most recently used first
    std::unordered_map<std::uint64_t, std::pair<InflatedPtr, std::list<std::uint64_t>::iterator>>
        map;
    std::size_t bytes = 0;
    std::mutex stripes[kStripes];
};

// An open file. An entry inflated in pieces keeps its inflater here and a window of the bytes
// it gave last; a read behind the window starts the entry over.
struct MountTree::OpenEntry {
    std::shared_ptr<Generation> generation;
    std::uint32_t entry = 0;

    std::mutex mutex;
    std::unique_ptr<PieceInflater> inflater;
    std::unique_ptr<unsigned char[]> window;
    std::unique_ptr<unsigned char[]> input;
    std::uint64_t windowStart = 0; // the entry's bytes [windowStart, windowStart + windowLength)
    std::size_t windowLength = 0;
    std::uint64_t packedRead = 0;
    bool ended = false;
    bool damaged = false;
};

struct MountTree::OpenListing {
    std::shared_ptr<Generation> generation;
    std::uint32_t node = 0;
};

MountTree::MountTree(MountSettings settings)
    : settings_(settings), cache_(std::make_unique<Cache>(settings.cacheLimit)) {}

MountTree::~MountTree() {
    if (folder_ >= 0)
        ::close(folder_);
}

bool MountTree::Open(int folder, const std::string& name, ArchiveProblem& problem) {
    folder_ = ::fcntl(folder, F_DUPFD_CLOEXEC, 0);
    if (folder_ < 0) {
        problem = {.what = ArchiveFailure::CannotOpen, .error = errno};
        return false;
    }
    name_ = name;
    nextCheck_ = Now() + std::chrono::nanoseconds(settings_.checkInterval).count();
    std::shared_ptr<Generation> generation = Read(name_, problem);
    if (!generation)
        return false;
    Adopt(std::move(generation));
    return true;
}

std::shared_ptr<MountTree::Generation> MountTree::Read(const std::string& name,
                                                       ArchiveProblem& problem) {
    problem = {};
    auto generation = std::make_shared<Generation>();
    std::uint64_t size = 0;
    generation->fd = OpenForReadingAt(folder_, name.c_str(), size);
    if (generation->fd < 0) {
        problem = {.what = ArchiveFailure::CannotOpen, .error = errno};
        return nullptr;
    }
    ::fstat(generation->fd, &generation->file);
    Directory directory;
    if (!ReadArchiveDirectory(generation->fd, size, directory, problem))
        return nullptr;
    if (directory.CutShort())
        problem = {.what = ArchiveFailure::CutShort,
                   .loaded = std::uint32_t(directory.entries.size()),
                   .claimed = directory.claimed};
    generation->header = directory.header;
    generation->entries = std::move(directory.entries);
    const auto& entries = generation->entries;

    ReadNames names;
    if (reader_ && reader_->IsCodePage())
        names = ReadNames::Of(
            entries.size(), [&](std::size_t i) { return entries[i].Name(); }, *reader_);
    auto refuse = [this](std::string_view shown, std::string reason) {
        if (tell_ && told_.emplace(std::string(shown), reason).second)
            tell_({std::string(shown), std::move(reason)});
    };

    // Entries in directory order, as extraction writes them one after another: a later file of
    // the same name replaces the earlier; a file where a folder must go, or a folder where a file
    // must go, keeps what came first.
    auto& nodes = generation->nodes;
    nodes.emplace_back();
    std::unordered_map<std::string, std::uint32_t> where; // parent's index and name -> node
    auto key = [](std::uint32_t parent, std::string_view part) {
        std::string k(reinterpret_cast<const char*>(&parent), sizeof parent);
        return k.append(part);
    };
    for (std::uint32_t i = 0; i < entries.size(); ++i) {
        const std::string_view shown =
            names.text.empty() ? entries[i].Name() : std::string_view(names.text[i]);
        if (!names.errors.empty() && names.errors[i] != 0) {
            refuse(shown, kNotInCodePageReason + reader_->CodePage() + ": " +
                              std::strerror(names.errors[i]));
            continue;
        }
        const std::optional<EntryPath> path = ParseEntryPath(shown);
        if (!path) {
            refuse(shown, kOutsideDestinationReason);
            continue;
        }
        std::uint32_t parent = 0;
        bool blocked = false;
        for (std::size_t f = 0; f < path->folderEnds.size() && !blocked; ++f) {
            const auto [at, added] =
                where.try_emplace(key(parent, path->FolderName(f)), std::uint32_t(nodes.size()));
            if (added) {
                nodes.push_back({.name = std::string(path->FolderName(f)), .parent = parent});
                nodes[parent].children.push_back(at->second);
                ++nodes[parent].folders;
            } else if (!nodes[at->second].IsFolder()) {
                refuse(shown, "a file is in the way of the folder " + std::string(path->Folder(f)));
                blocked = true;
            }
            parent = at->second;
        }
        if (blocked)
            continue;
        const auto [at, added] =
            where.try_emplace(key(parent, path->FileName()), std::uint32_t(nodes.size()));
        if (added) {
            nodes.push_back({.name = std::string(path->FileName()), .parent = parent, .entry = i});
            nodes[parent].children.push_back(at->second);
        } else if (nodes[at->second].IsFolder()) {
            refuse(shown, "a folder of that name is in the way");
        } else {
            nodes[at->second].entry = i;
        }
    }
    for (auto& node : nodes)
        std::sort(node.children.begin(), node.children.end(),
                  [&](std::uint32_t a, std::uint32_t b) { return nodes[a].name < nodes[b].name; });
    return generation;
}

void MountTree::Adopt(std::shared_ptr<Generation> generation) {
    std::lock_guard lock(generationsMutex_);
    generation->number = nextGeneration_++;
    generations_[generation->number] = generation;
    if (current_ && current_->held == 0)
        generations_.erase(current_->number);
    current_ = std::move(generation);
}

std::shared_ptr<MountTree::Generation> MountTree::Find(MountNode node, std::uint32_t& index) const {
    std::lock_guard lock(generationsMutex_);
    if (node == kMountRoot) {
        index = 0;
        return current_;
    }
    index = std::uint32_t(node);
    const auto found = generations_.find(std::uint32_t(node >> 32));
    if (found == generations_.end() || index == 0 || index >= found->second->nodes.size())
        return nullptr;
    return found->second;
}

void MountTree::Hold(Generation& generation, std::uint64_t lookups) {
    generation.held.fetch_add(lookups, std::memory_order_relaxed);
}

void MountTree::Forget(MountNode node, std::uint64_t lookups) {
    if (node == kMountRoot)
        return;
    std::uint32_t index = 0;
    const std::shared_ptr<Generation> generation = Find(node, index);
    if (!generation)
        return;
    std::uint64_t held = generation->held.load();
    while (!generation->held.compare_exchange_weak(held, held - std::min(held, lookups))) {
    }
    if (held > lookups)
        return;
    // Nobody remembers this generation's nodes any more: only open files may still use it.
    std::lock_guard lock(generationsMutex_);
    if (generation != current_ && generation->held == 0)
        generations_.erase(generation->number);
}

namespace {
void Describe(const MountTree::Generation& g, std::uint32_t index, const MountSettings& settings,
              struct stat& st);
}

bool MountTree::CheckForChange() {
    const std::int64_t now = Now();
    if (now < nextCheck_.load(std::memory_order_relaxed))
        return false;
    std::lock_guard checking(checkMutex_);
    if (now < nextCheck_.load())
        return false;
    nextCheck_ = now + std::chrono::nanoseconds(settings_.checkInterval).count();

    struct stat st;
    if (::fstatat(folder_, name_.c_str(), &st, 0) != 0)
        return false; // gone: what was read stays readable through the open file
    std::shared_ptr<Generation> current;
    {
        std::lock_guard lock(generationsMutex_);
        current = current_;
    }
    unsigned char bytes[kHeaderSize] = {};
    ReadAt(current->fd, bytes, sizeof bytes, 0);
    const ArchiveHeader header = DecodeHeader(bytes);
    const struct stat& was = current->file;
    if (st.st_dev == was.st_dev && st.st_ino == was.st_ino && st.st_size == was.st_size &&
        SameTime(st.st_mtim, was.st_mtim) && header.identifier == current->header.identifier &&
        header.directoryOffset == current->header.directoryOffset &&
        header.directorySize == current->header.directorySize)
        return false;

    ArchiveProblem problem;
    std::shared_ptr<Generation> generation = Read(name_, problem);
    if (!generation) {
        // No longer an archive: nothing is shown until it changes again.
        generation = std::make_shared<Generation>();
        generation->file = st;
        generation->nodes.emplace_back();
    }
    Adopt(std::move(generation));
    return true;
}

namespace {
void Describe(const MountTree::Generation& g, std::uint32_t index, const MountSettings& settings,
              struct stat& st) {
    const auto& node = g.nodes[index];
    st = {};
    st.st_ino = g.Id(index);
    st.st_uid = settings.owner;
    st.st_gid = settings.group;
    st.st_atim = g.file.st_atim;
    st.st_mtim = g.file.st_mtim;
    st.st_ctim = g.file.st_ctim;
    st.st_blksize = 4096;
    if (node.IsFolder()) {
        st.st_mode = S_IFDIR | 0555;
        st.st_nlink = 2 + node.folders;
    } else {
        st.st_mode = S_IFREG | 0444;
        st.st_nlink = 1;
        st.st_size = off_t(g.entries[node.entry].realSize);
        st.st_blocks = (st.st_size + 511) / 512;
    }
}
} // namespace

int MountTree::Lookup(MountNode parent, std::string_view name, struct stat& attributes) {
    CheckForChange();
    std::uint32_t index = 0;
    const std::shared_ptr<Generation> generation = Find(parent, index);
    if (!generation)
        return ENOENT;
    if (!generation->nodes[index].IsFolder())
        return ENOTDIR;
    const Generation::Node* child = generation->Child(index, name);
    if (!child)
        return ENOENT;
    Describe(*generation, generation->Index(*child), settings_, attributes);
    Hold(*generation, 1);
    return 0;
}

int MountTree::GetAttributes(MountNode node, struct stat& attributes) {
    if (node == kMountRoot)
        CheckForChange();
    std::uint32_t index = 0;
    const std::shared_ptr<Generation> generation = Find(node, index);
    if (!generation)
        return ENOENT;
    Describe(*generation, index, settings_, attributes);
    return 0;
}

int MountTree::OpenFolder(MountNode node, std::uint64_t& handle) {
    CheckForChange();
    std::uint32_t index = 0;
    std::shared_ptr<Generation> generation = Find(node, index);
    if (!generation)
        return ENOENT;
    if (!generation->nodes[index].IsFolder())
        return ENOTDIR;
    auto* listing = new (std::nothrow) OpenListing{std::move(generation), index};
    if (!listing)
        return ENOMEM;
    handle = reinterpret_cast<std::uint64_t>(listing);
    return 0;
}

int MountTree::ReadFolder(std::uint64_t handle, std::uint64_t position, bool plus,
                          const AddName& add) {
    const auto* listing = reinterpret_cast<const OpenListing*>(handle);
    if (!listing)
        return EBADF;
    const Generation& g = *listing->generation;
    const auto& node = g.nodes[listing->node];
    struct stat st;
    for (; position < 2 + node.children.size(); ++position) {
        if (position < 2) {
            Describe(g, position == 0 ? listing->node : node.parent, settings_, st);
            if (!add(position == 0 ? "." : "..", st, position + 1))
                break;
            continue;
        }
        const std::uint32_t child = node.children[position - 2];
        Describe(g, child, settings_, st);
        if (!add(g.nodes[child].name, st, position + 1))
            break;
        if (plus)
            listing->generation->held.fetch_add(1, std::memory_order_relaxed);
    }
    return 0;
}

void MountTree::ReleaseFolder(std::uint64_t handle) {
    delete reinterpret_cast<OpenListing*>(handle);
}

int MountTree::OpenFile(MountNode node, std::uint64_t& handle) {
    std::uint32_t index = 0;
    std::shared_ptr<Generation> generation = Find(node, index);
    if (!generation)
        return ENOENT;
    if (generation->nodes[index].IsFolder())
        return EISDIR;
    const std::uint32_t entry = generation->nodes[index].entry;
    auto* open = new (std::nothrow) OpenEntry;
    if (!open)
        return ENOMEM;
    open->generation = std::move(generation);
    open->entry = entry;
    handle = reinterpret_cast<std::uint64_t>(open);
    return 0;
}

void MountTree::ReleaseFile(std::uint64_t handle) {
    delete reinterpret_cast<OpenEntry*>(handle);
}

namespace {
// The whole entry inflated, or why not: null when memory could not be had.
InflatedPtr InflateWhole(int fd, std::uint64_t fileSize, const DirectoryEntry& entry) {
    auto result = std::make_shared<Inflated>();
    result->damaged = true;
    if (entry.dataOffset > fileSize || entry.packedSize > fileSize - entry.dataOffset ||
        !RealSizeIsPossible(entry.packedSize, entry.realSize))
        return result;
    std::unique_ptr<unsigned char[]> once;
    unsigned char* packed = ThreadBuffer(entry.packedSize, once);
    std::unique_ptr<unsigned char[]> bytes(
        new (std::nothrow) unsigned char[std::max(entry.realSize, 1u)]);
    if (!packed || !bytes)
        return nullptr;
    if (ReadAt(fd, packed, entry.packedSize, entry.dataOffset) < entry.packedSize)
        return result;
    thread_local WholeInflater inflater;
    std::size_t produced = 0;
    bool ok = true;
    const InflateStatus status =
        inflater.Inflate(packed, entry.packedSize, bytes.get(), entry.realSize, produced, ok);
    if (!ok)
        return nullptr;
    if (status == InflateStatus::Whole) {
        result->damaged = false;
        result->bytes = std::move(bytes);
        result->size = entry.realSize;
    }
    return result;
}
} // namespace

int MountTree::Read(std::uint64_t handle, std::uint64_t offset, std::size_t size,
                    const Reply& reply) {
    auto* open = reinterpret_cast<OpenEntry*>(handle);
    if (!open)
        return EBADF;
    return ReadEntry(*open->generation, open->entry, open, offset, size, reply);
}

int MountTree::ReadNode(MountNode node, std::uint64_t offset, std::size_t size,
                        const Reply& reply) {
    std::uint32_t index = 0;
    std::shared_ptr<Generation> generation = Find(node, index);
    if (!generation)
        return ENOENT;
    const std::uint32_t entry = generation->nodes[index].entry;
    if (entry == kFolder)
        return EISDIR;
    const DirectoryEntry& record = generation->entries[entry];
    std::shared_ptr<OpenEntry> pieces;
    if (record.IsPacked() &&
        (record.realSize > settings_.wholeLimit || record.packedSize > settings_.wholeLimit)) {
        // A few entries read in pieces at a time, each by one reader in the common case.
        constexpr std::size_t kKept = 4;
        std::lock_guard lock(piecesMutex_);
        auto found = std::find_if(pieces_.begin(), pieces_.end(),
                                  [node](const auto& p) { return p.first == node; });
        if (found != pieces_.end()) {
            pieces_.splice(pieces_.begin(), pieces_, found);
        } else {
            auto made = std::make_shared<OpenEntry>();
            made->generation = generation;
            made->entry = entry;
            pieces_.emplace_front(node, std::move(made));
            if (pieces_.size() > kKept)
                pieces_.pop_back();
        }
        pieces = pieces_.front().second;
    }
    return ReadEntry(*generation, entry, pieces.get(), offset, size, reply);
}

int MountTree::ReadEntry(const Generation& g, std::uint32_t index, OpenEntry* open,
                         std::uint64_t offset, std::size_t size, const Reply& reply) {
    const DirectoryEntry& entry = g.entries[index];
    // A read at or past the end gives nothing, or EIO for a damaged entry, even an empty one.
    size = offset >= entry.realSize
               ? 0
               : std::size_t(std::min<std::uint64_t>({size, entry.realSize - offset, kMaxRead}));
    const auto fileSize = std::uint64_t(g.file.st_size);

    if (!entry.IsPacked()) {
        if (std::uint64_t(entry.dataOffset) + entry.realSize > fileSize)
            return EIO; // the data runs past the end of the archive
        std::unique_ptr<unsigned char[]> once;
        unsigned char* buffer = ThreadBuffer(size, once);
        if (!buffer)
            return ENOMEM;
        if (size > 0 && ReadAt(g.fd, buffer, size, entry.dataOffset + offset) < size)
            return EIO;
        reply(buffer, size);
        return 0;
    }

    if (entry.realSize <= settings_.wholeLimit && entry.packedSize <= settings_.wholeLimit) {
        const std::uint64_t key = std::uint64_t(g.number) << 32 | index;
        InflatedPtr inflated = cache_->Get(key);
        if (!inflated) {
            std::lock_guard inflating(cache_->Stripe(key));
            inflated = cache_->Get(key);
            if (!inflated) {
                inflated = InflateWhole(g.fd, fileSize, entry);
                if (!inflated)
                    return ENOMEM;
                cache_->Put(key, inflated);
            }
        }
        if (inflated->damaged)
            return EIO;
        reply(size ? inflated->bytes.get() + offset : nullptr, size);
        return 0;
    }

    // In pieces, under the file's own lock: one inflater per open file.
    std::lock_guard lock(open->mutex);
    OpenEntry& o = *open;
    if (o.damaged)
        return EIO;
    if (!o.inflater || offset < o.windowStart) {
        if (entry.dataOffset > fileSize || entry.packedSize > fileSize - entry.dataOffset ||
            !RealSizeIsPossible(entry.packedSize, entry.realSize)) {
            o.damaged = true;
            return EIO;
        }
        if (!o.inflater) {
            o.inflater.reset(new (std::nothrow) PieceInflater);
            o.window.reset(new (std::nothrow) unsigned char[kWindow]);
            o.input.reset(new (std::nothrow) unsigned char[kStep]);
            if (!o.inflater || !o.window || !o.input) {
                o.inflater.reset();
                return ENOMEM;
            }
        }
        if (!o.inflater->Begin(entry.realSize)) {
            o.inflater.reset();
            return ENOMEM;
        }
        o.windowStart = 0;
        o.windowLength = 0;
        o.packedRead = 0;
        o.ended = false;
    }
    // A read that reaches the entry's end also goes on to the stream's end: a stream that gives
    // more than the entry's size, or whose check value is wrong, is damaged.
    const std::uint64_t need = std::min<std::uint64_t>(offset + size, entry.realSize);
    while (o.windowStart + o.windowLength < need || (need == entry.realSize && !o.ended)) {
        if (o.ended) {
            o.damaged = true; // the stream gave fewer bytes than the entry's size
            return EIO;
        }
        if (kWindow - o.windowLength < kStep) {
            // Keep a step's worth before the bytes asked for; the rest makes room.
            const std::uint64_t keepFrom = std::min(
                std::max<std::uint64_t>(o.windowStart, offset > kStep ? offset - kStep : 0),
                o.windowStart + o.windowLength);
            const auto drop = std::size_t(keepFrom - o.windowStart);
            std::memmove(o.window.get(), o.window.get() + drop, o.windowLength - drop);
            o.windowStart += drop;
            o.windowLength -= drop;
        }
        std::size_t produced = 0;
        const PieceInflater::Step step =
            o.inflater->Inflate(o.window.get() + o.windowLength, kStep, produced);
        o.windowLength += produced;
        if (step == PieceInflater::Step::Failed) {
            o.damaged = true;
            return EIO;
        }
        if (step == PieceInflater::Step::Ended) {
            o.ended = true;
        } else if (step == PieceInflater::Step::NeedsInput) {
            if (o.packedRead == entry.packedSize) {
                o.damaged = true;
                return EIO;
            }
            const auto want =
                std::size_t(std::min<std::uint64_t>(entry.packedSize - o.packedRead, kStep));
            if (ReadAt(g.fd, o.input.get(), want, entry.dataOffset + o.packedRead) < want) {
                o.damaged = true;
                return EIO;
            }
            o.inflater->Feed(o.input.get(), want);
            o.packedRead += want;
        }
    }
    reply(size ? o.window.get() + (offset - o.windowStart) : nullptr, size);
    return 0;
}

std::size_t MountTree::CachedBytes() const {
    std::lock_guard lock(cache_->mutex);
    return cache_->bytes;
}

std::size_t MountTree::Generations() const {
    std::lock_guard lock(generationsMutex_);
    return generations_.size();
}
