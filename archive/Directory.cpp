// Opening an archive and reading its directory as values.
#include "Directory.h"

#include "FileIo.h"

#include <algorithm>
#include <cerrno>
#include <memory>
#include <new>

bool OpenArchiveHead(const std::string& path, ArchiveHead& head, ArchiveProblem& problem) {
    head = {};
    problem = {};
    std::uint64_t size = 0;
    const int fd = OpenForReading(path, size);
    if (fd < 0) {
        problem = {.what = ArchiveFailure::CannotOpen, .error = errno};
        return false;
    }
    if (!ReadArchiveHead(fd, size, head, problem)) {
        CloseFile(fd);
        return false;
    }
    return true;
}

bool ReadArchiveHead(int fd, std::uint64_t size, ArchiveHead& head, ArchiveProblem& problem) {
    head = {};
    problem = {};
    head.size = size;
    unsigned char header[kHeaderSize] = {};
    const std::size_t got = ReadAt(fd, header, sizeof header, 0);
    head.header = DecodeHeader(header);
    if (head.header.identifier != kArchiveMagic || got < kHeaderSize) {
        problem = {.what = ArchiveFailure::NotAnArchive, .identifier = head.header.identifier};
        return false;
    }
    head.fd = fd;
    head.claimed = head.header.directorySize / kDirectoryEntrySize;
    // Only the records that lie whole inside the file can be read: a directory claiming more
    // must not make anyone obtain memory the file cannot justify.
    const std::uint64_t offset = head.header.directoryOffset;
    const std::uint64_t available = head.size > offset ? head.size - offset : 0;
    head.whole =
        std::uint32_t(std::min<std::uint64_t>(head.claimed, available / kDirectoryEntrySize));
    return true;
}

std::uint32_t ReadRecords(int fd, std::uint64_t offset, std::uint32_t count,
                          const std::function<void(const unsigned char*)>& visit, bool& noMemory) {
    // Whole records in large reads: one system call per chunk, never one per field.
    constexpr std::size_t kRecordsPerChunk = 1820; // 262,080 bytes
    noMemory = false;
    if (count == 0)
        return 0;
    std::unique_ptr<unsigned char[]> chunk(
        new (std::nothrow) unsigned char[kRecordsPerChunk * kDirectoryEntrySize]);
    if (!chunk) {
        noMemory = true;
        return 0;
    }
    std::uint32_t read = 0;
    while (read < count) {
        const std::size_t want = std::min<std::size_t>(kRecordsPerChunk, count - read);
        const std::size_t got = ReadAt(fd, chunk.get(), want * kDirectoryEntrySize, offset);
        const std::size_t records = got / kDirectoryEntrySize;
        for (std::size_t r = 0; r < records; ++r, ++read)
            visit(chunk.get() + r * kDirectoryEntrySize);
        if (records < want)
            break; // the file shrank since it was opened
        offset += got;
    }
    return read;
}

bool ReadArchiveDirectory(const std::string& path, Directory& directory, ArchiveProblem& problem) {
    directory = {};
    ArchiveHead head;
    if (!OpenArchiveHead(path, head, problem))
        return false;
    const bool read = ReadDirectoryOf(head, directory, problem);
    CloseFile(head.fd);
    return read;
}

bool ReadArchiveDirectory(int fd, std::uint64_t size, Directory& directory,
                          ArchiveProblem& problem) {
    directory = {};
    ArchiveHead head;
    return ReadArchiveHead(fd, size, head, problem) && ReadDirectoryOf(head, directory, problem);
}

bool ReadDirectoryOf(const ArchiveHead& head, Directory& directory, ArchiveProblem& problem) {
    directory = {};
    directory.header = head.header;
    directory.claimed = head.claimed;
    bool noMemory = false;
    try {
        directory.entries.reserve(head.whole);
        ReadRecords(
            head.fd, head.header.directoryOffset, head.whole,
            [&](const unsigned char* record) {
                DecodeDirectoryEntry(record, directory.entries.emplace_back());
            },
            noMemory);
    } catch (const std::bad_alloc&) {
        noMemory = true;
    }
    if (noMemory) {
        directory.entries.clear();
        problem = {.what = ArchiveFailure::NoMemory, .error = ENOMEM};
        return false;
    }
    return true;
}
