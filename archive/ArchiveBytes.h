// The one place extraction reads the open archive's bytes: positioned reads, the read window that
// serves runs of small consecutive entries from one read, and the in-kernel copy to an output.
// Each writer keeps one and binds it to the archive it is about to read.
#pragma once

#include "DatArchive.h"
#include "FileIo.h"

#include <cstddef>
#include <cstdint>

class ArchiveBytes {
public:
    ArchiveBytes() = default;
    ~ArchiveBytes();
    ArchiveBytes(const ArchiveBytes&) = delete;
    ArchiveBytes& operator=(const ArchiveBytes&) = delete;

    // Reads from now on come from this archive; the window notices when it is another one, or
    // the same one opened again.
    void Bind(const DatArchive& archive) { archive_ = &archive; }

    // How many bytes the file holds from offset on.
    std::uint64_t AvailableFrom(std::uint64_t offset) const;
    // Reads up to length bytes at offset; returns how many were read.
    std::size_t ReadAt(void* buffer, std::size_t length, std::uint64_t offset) const;
    // Where the bytes [begin, begin + length) are now, read through the window; null when they
    // are too many for it, its memory cannot be obtained, or the file does not hold them all.
    const unsigned char* ReadThroughWindow(std::uint64_t begin, std::size_t length);
    // CopyInKernel from the archive at offset to out.
    template <typename AfterPiece>
    KernelCopy CopyTo(int out, std::uint64_t offset, std::uint64_t length, std::uint64_t& copied,
                      AfterPiece afterPiece) const {
        return CopyInKernel(archive_->FileDescriptor(), offset, out, length, copied, afterPiece);
    }

    // A window larger than this counts as memory that cannot be obtained (a test seam).
    void SetMemoryLimit(std::size_t bytes) { memoryLimit_ = bytes; }
    std::size_t WindowBytes() const { return windowCapacity_; }
    // Gives the window back and forgets what it held.
    void Release();

private:
    const DatArchive* archive_ = nullptr;
    std::size_t memoryLimit_ = SIZE_MAX;
    // Small entries usually lie one after another: one read of the archive brings the packed
    // data of hundreds of them. The window holds the bytes from windowStart_ on.
    unsigned char* window_ = nullptr;
    std::size_t windowCapacity_ = 0;
    const DatArchive* windowArchive_ = nullptr;
    std::uint64_t windowOpenCount_ = 0;
    std::uint64_t windowStart_ = 0;
    std::size_t windowLength_ = 0;
    std::uint64_t lastEnd_ = 0; // where the previous read through the window ended
};
