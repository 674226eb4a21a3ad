// Writing DAT archives: header, then every entry's data in the order added, then the directory,
// the header's values filled in once the directory's place is known. The one writer of the
// project: `vdat create`, the sample and the benchmark corpora are all written with it.
#pragma once

#include "ArchiveFormat.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// Where the archive's bytes go: appended in order, and the header written at offset 0 last.
class ArchiveOutput {
public:
    virtual ~ArchiveOutput() = default;
    virtual bool Append(const void* data, std::size_t length) = 0;
    virtual bool WriteAt(std::uint64_t offset, const void* data, std::size_t length) = 0;
};

class MemoryOutput final : public ArchiveOutput {
public:
    bool Append(const void* data, std::size_t length) override;
    bool WriteAt(std::uint64_t offset, const void* data, std::size_t length) override;
    std::string& Bytes() { return bytes_; }

private:
    std::string bytes_;
};

// Appends to an open file descriptor from its start; WriteAt does not move the append position.
class FileOutput final : public ArchiveOutput {
public:
    explicit FileOutput(int fd) : fd_(fd) {}
    bool Append(const void* data, std::size_t length) override;
    bool WriteAt(std::uint64_t offset, const void* data, std::size_t length) override;

private:
    int fd_;
};

void EncodeHeader(const ArchiveHeader& header, unsigned char (&bytes)[kHeaderSize]);
// Writes the 144 bytes of a directory record; the whole name field is copied.
void EncodeDirectoryEntry(const DirectoryEntry& entry, unsigned char* bytes);

// Encodes records as a directory, handing it to write(offset in the directory, bytes, length) in
// pieces of many records: a write per record would cost a system call each. False as soon as
// write is.
bool EncodeDirectory(
    std::span<const DirectoryEntry> records,
    const std::function<bool(std::uint64_t, const unsigned char*, std::size_t)>& write);
// A record with name cut to the field (a name of exactly 128 bytes leaves no NUL).
DirectoryEntry MakeDirectoryEntry(std::string_view name, std::uint32_t dataOffset,
                                  std::uint32_t realSize, std::uint32_t packedSize,
                                  std::uint32_t fourthValue = 0);

// Why a name cannot be written into an archive that readers accept, or null when it can: it
// must leave room for the NUL, hold no NUL, and not be refused on extraction.
const char* EntryNameProblem(std::string_view name);

// A zlib stream (RFC 1950) of content at level 1..9 (0: stored blocks); out is replaced. False only
// when the compressor cannot be had (no memory).
bool CompressZlib(std::string_view content, int level, std::string& out);

// The same streams as CompressZlib, from one compressor kept between calls: setting one up costs
// more than compressing a small file.
struct libdeflate_compressor;
class ZlibCompressor {
public:
    explicit ZlibCompressor(int level);
    ~ZlibCompressor();
    ZlibCompressor(const ZlibCompressor&) = delete;
    ZlibCompressor& operator=(const ZlibCompressor&) = delete;
    bool Compress(std::string_view content, std::string& out);

private:
    libdeflate_compressor* state_;
};

class ArchiveWriter {
public:
    explicit ArchiveWriter(ArchiveOutput& output) : output_(output) {}
    // Adds entries after the bytes an archive already has, at offset appendAt, without writing
    // a header of its own (a change in place); Finish is not for such a writer.
    ArchiveWriter(ArchiveOutput& output, std::uint64_t appendAt)
        : output_(output), position_(appendAt), started_(true) {}

    // Appends an entry's data as it is to be stored (packedSize 0: data is the content itself;
    // otherwise a zlib stream of packedSize bytes) and records it. False when the output fails
    // or the data would lie past what 32-bit offsets address; overflow() tells which.
    bool AddEntry(std::string_view name, std::string_view data, std::uint32_t realSize,
                  std::uint32_t packedSize, std::uint32_t fourthValue = 0);

    // The records so far, in the order added; a caller may change them before Finish.
    std::vector<DirectoryEntry>& Directory() { return directory_; }

    // Writes the directory after the data and the header at offset 0.
    bool Finish();

    bool Overflow() const { return overflow_; }
    std::uint64_t Size() const { return position_; }

private:
    bool Start();

    ArchiveOutput& output_;
    std::vector<DirectoryEntry> directory_;
    std::uint64_t position_ = 0;
    bool started_ = false;
    bool overflow_ = false;
};
