// Writing a whole archive in one go and putting it in place: entries added in order (files'
// bytes prepared by a pool of workers, or an entry's raw bytes copied from an open archive
// without inflating them), then committed (the directory, an fsync when it replaces a file, a
// rename over the target) or abandoned, leaving nothing behind. Or changing an archive where it
// lies (InPlaceChange): the entries added go after its last byte in use, and the commit switches
// it to a new directory; abandoned, the file is as it was.
#pragma once

#include "ArchiveWriter.h"
#include "DatArchive.h"
#include "InPlaceChange.h"
#include "TemporaryArchive.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <tuple>
#include <vector>

// One entry made ready to be written: its bytes as stored, or why it cannot be added.
struct PreparedEntry {
    std::string data;
    std::uint32_t realSize = 0;
    std::uint32_t packedSize = 0; // 0: data is stored as it is
    std::string problem;
};

class ArchiveRewriter {
public:
    // Prepares entry k (on a worker thread); each worker gets its own from makePreparer.
    using Preparer = std::function<void(std::size_t k, PreparedEntry& out)>;
    enum class Result { Done, Problem, WriteFailed, Overflow, Stopped };

    // Starts the new archive beside target, under a temporary name that is removed unless the
    // archive is committed, also on SIGINT, SIGTERM or SIGHUP; false with errno.
    bool Begin(const std::string& target);

    // Adds count entries in order, entry k under name(k), prepared by `workers` threads a
    // bounded way ahead of this one, which writes them. added(k, entry) follows each. Ends at
    // the first entry with a problem (failedAt tells which), a failed write, data past 32-bit
    // offsets, or once *stop is true.
    Result AddPrepared(std::size_t count, const std::function<std::string_view(std::size_t)>& name,
                       const std::function<Preparer()>& makePreparer, unsigned workers,
                       const std::atomic<bool>* stop,
                       const std::function<void(std::size_t, const PreparedEntry&)>& added,
                       std::size_t& failedAt, std::string& problem);

    // Copies entry index of from as it is stored, without inflating it, under name. Entries of
    // from that share their data share it in the new archive too.
    Result AddRaw(std::string_view name, const DatArchive& from, std::uint32_t index);

    // The new archive takes the mode, owner and group of st (owner and group where the user may
    // give them).
    void KeepOwnership(const struct stat& st);

    // Writes the directory and the header, then puts the archive in place (durably when it
    // replaces a file). WriteFailed (errno) or Overflow leave nothing behind.
    Result Commit(const std::string& target, bool durable);

    // Changes the archive at path where it lies instead: opened for writing and locked, waiting
    // for another change unless !wait (InPlaceChange::Open). Entries added go after its last
    // byte in use.
    InPlaceChange::Opened BeginInPlace(const std::string& path, bool wait, ArchiveProblem& problem);
    InPlaceChange& InPlace() { return inPlace_; }
    // The records of the entries added so far, in order, naming where their data went.
    const std::vector<DirectoryEntry>& Added() { return writer_->Directory(); }
    // Switches the archive to directory, written after the entries added. Anything but Done
    // leaves the archive as it was (WriteFailed with errno; Stopped once *stop is set).
    Result CommitInPlace(const std::vector<DirectoryEntry>& directory,
                         const std::atomic<bool>* stop);

    std::uint64_t Size() const { return writer_ ? writer_->Size() : 0; }

private:
    InPlaceChange inPlace_; // outlives the output that writes through it
    TemporaryArchive temporary_;
    std::unique_ptr<ArchiveOutput> output_;
    std::unique_ptr<ArchiveWriter> writer_;
    // AddRaw: where data already copied went, by the source record's offset and sizes.
    std::map<std::tuple<std::uint32_t, std::uint32_t, std::uint32_t>, std::uint32_t> copied_;
};
