// POSIX file access for the archive side.
#include "FileIo.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

int OpenForReading(const std::string& path, std::uint64_t& size) {
    return OpenForReadingAt(AT_FDCWD, path.c_str(), size);
}

int OpenForReadingAt(int folder, const char* name, std::uint64_t& size) {
    // Non-blocking so that naming a FIFO cannot hang the open; cleared again below.
    int fd = ::openat(folder, name, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return -1;
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        // errno tells why: EISDIR for a folder, 0 for any other file that is not regular.
        const int error = ::fstat(fd, &st) != 0 ? errno : S_ISDIR(st.st_mode) ? EISDIR : 0;
        ::close(fd);
        errno = error;
        return -1;
    }
    int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0)
        ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    size = std::uint64_t(st.st_size);
    return fd;
}

void CloseFile(int fd) {
    if (fd >= 0)
        ::close(fd);
}

std::size_t ReadAt(int fd, void* buffer, std::size_t length, std::uint64_t offset) {
    auto* out = static_cast<unsigned char*>(buffer);
    std::size_t done = 0;
    while (done < length) {
        ssize_t n = ::pread(fd, out + done, length - done, off_t(offset + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += std::size_t(n);
    }
    return done;
}

namespace {
// Writes at offset (pwrite), or at the file's position when there is none (write).
bool WriteWhole(int fd, const void* data, std::size_t length, const std::uint64_t* offset) {
    // Large single writes were several times slower in the kernel than 256 KiB pieces.
    constexpr std::size_t kPiece = 256 * 1024;
    const auto* in = static_cast<const unsigned char*>(data);
    std::size_t done = 0;
    while (done < length) {
        const std::size_t piece = std::min(kPiece, length - done);
        const ssize_t n = offset ? ::pwrite(fd, in + done, piece, off_t(*offset + done))
                                 : ::write(fd, in + done, piece);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += std::size_t(n);
    }
    return true;
}
} // namespace

bool WriteAll(int fd, const void* data, std::size_t length) {
    return WriteWhole(fd, data, length, nullptr);
}

bool WriteAllAt(int fd, const void* data, std::size_t length, std::uint64_t offset) {
    return WriteWhole(fd, data, length, &offset);
}

bool CopyInKernelPiece(int in, std::uint64_t& offset, int out, std::size_t length,
                       std::size_t& copied, int& error) {
    copied = 0;
    error = 0;
    while (copied < length) {
        loff_t from = loff_t(offset);
        ssize_t n = ::copy_file_range(in, &from, out, nullptr, length - copied, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            // Only a full disk or a file-size limit is final; anything else is retried by hand.
            if (errno == ENOSPC || errno == EDQUOT || errno == EFBIG)
                error = errno;
            return false;
        }
        if (n == 0)
            return true; // end of the archive
        copied += std::size_t(n);
        offset += std::uint64_t(n);
    }
    return true;
}
