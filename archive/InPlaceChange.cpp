// The in-place protocol: the lock, the bytes in use, the ordered writes and flushes, and the way
// back.
#include "InPlaceChange.h"

#include "ArchiveWriter.h"
#include "FileIo.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

bool DescriptorFile::Write(std::uint64_t offset, const void* data, std::size_t length) {
    return WriteAllAt(fd_, data, length, offset);
}

bool DescriptorFile::Flush() {
    return ::fdatasync(fd_) == 0;
}

bool DescriptorFile::Truncate(std::uint64_t length) {
    return ::ftruncate(fd_, off_t(length)) == 0;
}

ArchiveUsage MeasureUsage(std::uint64_t fileSize, const ArchiveHeader& header, std::size_t count,
                          const std::function<const DirectoryEntry&(std::size_t)>& record) {
    std::vector<std::pair<std::uint64_t, std::uint64_t>> ranges;
    ranges.reserve(count + 2);
    ranges.emplace_back(0, kHeaderSize);
    ranges.emplace_back(header.directoryOffset,
                        std::uint64_t(header.directoryOffset) + header.directorySize);
    for (std::size_t i = 0; i < count; ++i) {
        const DirectoryEntry& entry = record(i);
        const std::uint32_t length = entry.IsPacked() ? entry.packedSize : entry.realSize;
        if (length)
            ranges.emplace_back(entry.dataOffset, std::uint64_t(entry.dataOffset) + length);
    }
    std::sort(ranges.begin(), ranges.end());
    ArchiveUsage usage;
    std::uint64_t used = 0, covered = 0; // covered: where the ranges so far end
    for (const auto& [begin, end] : ranges) {
        usage.endInUse = std::max(usage.endInUse, end);
        const std::uint64_t from = std::max(begin, covered);
        const std::uint64_t to = std::min(end, fileSize);
        if (to > from)
            used += to - from;
        covered = std::max(covered, end);
    }
    usage.unused = fileSize - std::min(used, fileSize);
    return usage;
}

InPlaceChange::~InPlaceChange() {
    Close();
}

void InPlaceChange::Close() {
    if (fd_ < 0)
        return;
    if (written_ && !committed_)
        Undo();
    ::close(fd_); // the lock goes with it
    fd_ = -1;
    real_.Reset(-1);
}

InPlaceChange::Opened InPlaceChange::Open(const std::string& path, bool wait,
                                          ArchiveProblem& problem) {
    Close();
    problem = {};
    written_ = committed_ = false;
    struct stat st;
    for (;;) {
        // Non-blocking so that naming a FIFO cannot hang the open.
        fd_ = ::open(path.c_str(), O_RDWR | O_CLOEXEC | O_NONBLOCK);
        if (fd_ < 0) {
            problem = {.what = ArchiveFailure::CannotOpen, .error = errno};
            return Opened::Problem;
        }
        if (::fstat(fd_, &st) != 0) {
            problem = {.what = ArchiveFailure::CannotOpen, .error = errno};
            Close();
            return Opened::Problem;
        }
        if (!S_ISREG(st.st_mode)) {
            problem = {.what = ArchiveFailure::CannotOpen,
                       .error = S_ISDIR(st.st_mode) ? EISDIR : 0};
            Close();
            return Opened::Problem;
        }
        int locked;
        do
            locked = ::flock(fd_, LOCK_EX | (wait ? 0 : LOCK_NB));
        while (locked != 0 && errno == EINTR);
        if (locked != 0) {
            const int error = errno;
            Close();
            if (error == EWOULDBLOCK)
                return Opened::Busy;
            problem = {.what = ArchiveFailure::CannotOpen, .error = error};
            return Opened::Problem;
        }
        // A change that held the lock may have put a new file in the archive's place (compact):
        // this one must change that file, not the one it replaced.
        struct stat now;
        if (::stat(path.c_str(), &now) == 0 && now.st_dev == st.st_dev && now.st_ino == st.st_ino)
            break;
        Close();
    }
    ::fcntl(fd_, F_SETFL, ::fcntl(fd_, F_GETFL) & ~O_NONBLOCK);
    real_.Reset(fd_);
    // The size once the lock is held: a change before it may have made it another.
    if (::fstat(fd_, &st) != 0) {
        problem = {.what = ArchiveFailure::CannotOpen, .error = errno};
        Close();
        return Opened::Problem;
    }
    oldSize_ = newSize_ = std::uint64_t(st.st_size);
    ArchiveHead head;
    if (!ReadArchiveHead(fd_, oldSize_, head, problem) ||
        !ReadDirectoryOf(head, current_, problem)) {
        Close();
        return Opened::Problem;
    }
    if (head.CutShort()) {
        problem = {.what = ArchiveFailure::CutShort,
                   .loaded = std::uint32_t(current_.entries.size()),
                   .claimed = current_.claimed};
        Close();
        return Opened::Problem;
    }
    usage_ =
        MeasureUsage(oldSize_, current_.header, current_.entries.size(),
                     [&](std::size_t i) -> const DirectoryEntry& { return current_.entries[i]; });
    return Opened::Yes;
}

bool InPlaceChange::Write(std::uint64_t offset, const void* data, std::size_t length) {
    // Past the last byte in use only, and before anything is switched over: a slip here would
    // damage what readers of the archive see now.
    if (committed_ || offset < usage_.endInUse) {
        errno = EINVAL;
        return false;
    }
    written_ = true;
    return file_->Write(offset, data, length);
}

InPlaceChange::Result InPlaceChange::Commit(std::uint64_t at,
                                            const std::vector<DirectoryEntry>& directory,
                                            const std::atomic<bool>* stop) {
    const std::uint64_t bytes = std::uint64_t(directory.size()) * kDirectoryEntrySize;
    if (at < usage_.endInUse || at + bytes > kAddressableEnd) {
        Undo();
        return Result::Overflow;
    }
    const auto failed = [this] {
        const int error = errno;
        Undo();
        errno = error;
        return Result::WriteFailed;
    };
    if (!EncodeDirectory(directory,
                         [&](std::uint64_t offset, const unsigned char* bytes, std::size_t length) {
                             return Write(at + offset, bytes, length);
                         }))
        return failed();
    // The data and the directory reach the disk before the header names them.
    written_ = true;
    if (!file_->Flush())
        return failed();
    if (stop && stop->load(std::memory_order_relaxed)) {
        Undo();
        return Result::Stopped;
    }
    // The header's offset and size, bytes 4-11, new and as they were.
    unsigned char header[kHeaderSize], old[kHeaderSize];
    EncodeHeader({current_.header.identifier, std::uint32_t(at), std::uint32_t(bytes)}, header);
    EncodeHeader(current_.header, old);
    // One write of the 8 bytes, inside the file's first sector: the disk writes them whole.
    if (!file_->Write(4, header + 4, 8) || !file_->Flush()) {
        // The old values go back, durably, before the bytes they would name are cut away.
        // Should that fail too, nothing is cut: the header may name the new directory.
        const int error = errno;
        if (file_->Write(4, old + 4, 8) && file_->Flush())
            Undo();
        else
            written_ = false;
        errno = error;
        return Result::WriteFailed;
    }
    committed_ = true;
    newSize_ = std::max(oldSize_, at + bytes);
    // Bytes after the new directory were left by a change that did not finish: nothing names them.
    if (oldSize_ > at + bytes && file_->Truncate(at + bytes))
        newSize_ = at + bytes;
    const ArchiveHeader now{kArchiveMagic, std::uint32_t(at), std::uint32_t(bytes)};
    newUsage_ = MeasureUsage(newSize_, now, directory.size(),
                             [&](std::size_t i) -> const DirectoryEntry& { return directory[i]; });
    return Result::Done;
}

void InPlaceChange::Undo() {
    if (committed_ || !written_)
        return;
    file_->Truncate(oldSize_);
    written_ = false;
}
