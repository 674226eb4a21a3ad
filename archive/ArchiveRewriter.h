// Writing a whole archive in one go and putting it in place: entries added in order (files'
// bytes prepared by a pool of workers, or an entry's raw bytes copied from an open archive
// without inflating them), then committed (the directory, an fsync when it replaces a file, a
// rename over the target) or abandoned, leaving nothing behind.
#pragma once

#include "ArchiveWriter.h"
#include "DatArchive.h"
#include "TemporaryArchive.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

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

    // Copies entry index of from as it is stored, without inflating it, under name.
    Result AddRaw(std::string_view name, const DatArchive& from, std::uint32_t index);

    // Writes the directory and the header, then puts the archive in place (durably when it
    // replaces a file). WriteFailed (errno) or Overflow leave nothing behind.
    Result Commit(const std::string& target, bool durable);

    std::uint64_t Size() const { return writer_ ? writer_->Size() : 0; }

private:
    TemporaryArchive temporary_;
    std::unique_ptr<FileOutput> output_;
    std::unique_ptr<ArchiveWriter> writer_;
};
