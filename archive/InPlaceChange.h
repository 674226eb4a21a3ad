// Changing an archive where it lies. No byte that the current header, directory or any current
// record refers to is ever written: the new entries' data and then the new directory go after
// the last byte in use, are flushed to the disk, and only then are the header's directory
// offset and size written, in one 8-byte write, and flushed again. A crash at any moment leaves
// the old archive or the new one; a change that fails or is stopped cuts the file back to the
// length it had, and so leaves it as it was. Changes take the archive's lock (flock), so two
// never interleave. ArchiveRewriter drives it.
#pragma once

#include "ArchiveFormat.h"
#include "Directory.h"
#include "Texts.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <limits>
#include <string>
#include <vector>

// The one way a change reaches the archive's bytes, so that a test can stop it at any of them.
class ChangeFile {
public:
    virtual ~ChangeFile() = default;
    // Writes all of data at offset; false with errno.
    virtual bool Write(std::uint64_t offset, const void* data, std::size_t length) = 0;
    // Makes what was written durable (fdatasync); false with errno.
    virtual bool Flush() = 0;
    virtual bool Truncate(std::uint64_t length) = 0;
};

class DescriptorFile final : public ChangeFile {
public:
    void Reset(int fd) { fd_ = fd; }
    bool Write(std::uint64_t offset, const void* data, std::size_t length) override;
    bool Flush() override;
    bool Truncate(std::uint64_t length) override;

private:
    int fd_ = -1;
};

// What an archive's bytes are used for.
struct ArchiveUsage {
    std::uint64_t endInUse = 0; // one past the last byte the header, directory or a record names
    std::uint64_t unused = 0;   // bytes of the file that nothing names
};
ArchiveUsage MeasureUsage(std::uint64_t fileSize, const ArchiveHeader& header, std::size_t count,
                          const std::function<const DirectoryEntry&(std::size_t)>& record);

class InPlaceChange {
public:
    enum class Opened { Yes, Problem, Busy };
    enum class Result { Done, WriteFailed, Overflow, Stopped };

    InPlaceChange() = default;
    ~InPlaceChange(); // a change not committed is undone
    InPlaceChange(const InPlaceChange&) = delete;
    InPlaceChange& operator=(const InPlaceChange&) = delete;

    // Opens path for writing, takes its lock (Busy at once when another change holds it and
    // !wait) and reads its directory. Problem: CannotOpen (errno; 0 for a file that is not
    // regular), NotAnArchive, NoMemory, or CutShort: where a directory larger than the file ends
    // is not known, so such an archive is not changed.
    Opened Open(const std::string& path, bool wait, ArchiveProblem& problem);

    const Directory& Current() const { return current_; }
    // The archive's file, open and locked while the change lasts.
    int FileDescriptor() const { return fd_; }
    const ArchiveUsage& Usage() const { return usage_; }
    std::uint64_t OldSize() const { return oldSize_; }
    std::uint64_t NewSize() const { return newSize_; }
    // What the bytes of the changed archive are used for, once committed.
    const ArchiveUsage& NewUsage() const { return newUsage_; }
    // Whether bytes more after the last byte in use stay within 32-bit offsets.
    bool Fits(std::uint64_t bytes) const { return usage_.endInUse + bytes <= kAddressableEnd; }

    // Writes past the last byte in use (the rewriter's new entries); false with errno.
    bool Write(std::uint64_t offset, const void* data, std::size_t length);
    // Switches the archive to directory, written at `at` (at or after the last byte in use, after
    // the data written for it). Anything but Done leaves the file as it was; errno tells why for
    // WriteFailed. Stopped when *stop is set before the header is written.
    Result Commit(std::uint64_t at, const std::vector<DirectoryEntry>& directory,
                  const std::atomic<bool>* stop);
    // Cuts the file back to the length it had: nothing else was written.
    void Undo();

    // A test's file in place of the descriptor, wrapping RealFile() to stop the change anywhere.
    ChangeFile& RealFile() { return real_; }
    void UseFile(ChangeFile& file) { file_ = &file; }

private:
    void Close();

    int fd_ = -1;
    DescriptorFile real_;
    ChangeFile* file_ = &real_;
    Directory current_;
    ArchiveUsage usage_;
    ArchiveUsage newUsage_;
    std::uint64_t oldSize_ = 0;
    std::uint64_t newSize_ = 0;
    bool written_ = false;
    bool committed_ = false;
};
