// Thin wrappers over POSIX file calls: positioned reads with 64-bit offsets (so data past
// 2 GiB is served, and workers can share one descriptor) and writes that finish or fail whole.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Opens a regular file for reading; returns -1 for anything else (a folder, a pipe, a device),
// with errno saying why (EISDIR for a folder, 0 for another file that is not regular).
int OpenForReading(const std::string& path, std::uint64_t& size);
// The same for name inside the open folder `folder`.
int OpenForReadingAt(int folder, const char* name, std::uint64_t& size);
void CloseFile(int fd);

// Reads up to length bytes at offset; returns how many were read (fewer at the end of the file
// or on an error).
std::size_t ReadAt(int fd, void* buffer, std::size_t length, std::uint64_t offset);

// Writes all of data, in pieces the kernel handles well; false if any of it could not be written.
bool WriteAll(int fd, const void* data, std::size_t length);
// The same at offset, leaving the file's position where it was.
bool WriteAllAt(int fd, const void* data, std::size_t length, std::uint64_t offset);

// Copies length bytes from in at offset to the end of out inside the kernel, without passing
// through our memory, in pieces with afterPiece() between them (Stopped when it returns false).
// copied tells how far it got.
// Unsupported: the kernel could not do it here (another file system, an old kernel, or a read
// error): carry on from `copied` by hand, which also tells read errors from write errors.
enum class KernelCopy { Done, Unsupported, WriteFailed, Stopped };
template <typename AfterPiece>
KernelCopy CopyInKernel(int in, std::uint64_t offset, int out, std::uint64_t length,
                        std::uint64_t& copied, AfterPiece afterPiece);
bool CopyInKernelPiece(int in, std::uint64_t& offset, int out, std::size_t length,
                       std::size_t& copied, int& error);

template <typename AfterPiece>
KernelCopy CopyInKernel(int in, std::uint64_t offset, int out, std::uint64_t length,
                        std::uint64_t& copied, AfterPiece afterPiece) {
    constexpr std::uint64_t kPiece = 8u << 20;
    copied = 0;
    while (copied < length) {
        const auto want = std::size_t(length - copied < kPiece ? length - copied : kPiece);
        std::uint64_t at = offset + copied;
        std::size_t got = 0;
        int error = 0;
        const bool ok = CopyInKernelPiece(in, at, out, want, got, error);
        copied += got;
        if (!ok)
            return error == 0 ? KernelCopy::Unsupported : KernelCopy::WriteFailed;
        if (got < want)
            return KernelCopy::Done; // the archive ended
        if (!afterPiece())
            return KernelCopy::Stopped;
    }
    return KernelCopy::Done;
}
