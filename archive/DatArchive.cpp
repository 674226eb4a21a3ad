// Opening an archive and loading its directory.
#include "DatArchive.h"

#include "FileIo.h"
#include "FileTypeIcon.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cinttypes>
#include <cstdio>
#include <new>
#include <sys/mman.h>

namespace {
std::unique_ptr<EntryRecord[]> AllocateTable(std::size_t count) {
    // Records are not initialised here: every page of a large table is touched once, when the
    // directory fills it, and on huge pages where the kernel offers them.
    std::unique_ptr<EntryRecord[]> table(new (std::nothrow) EntryRecord[count]);
    constexpr std::uintptr_t kHuge = 2 << 20;
    const auto begin = reinterpret_cast<std::uintptr_t>(table.get());
    const std::uintptr_t end = begin + count * sizeof(EntryRecord);
    const std::uintptr_t first = (begin + kHuge - 1) & ~(kHuge - 1);
    if (table && end > first + kHuge)
        ::madvise(reinterpret_cast<void*>(first), (end - first) & ~(kHuge - 1), MADV_HUGEPAGE);
    return table;
}
} // namespace

DatArchive::DatArchive(MessageSink& messages, ListSink& list, ProgressSink& progress)
    : messages_(messages), list_(list), progress_(progress), allocate_(AllocateTable) {}

DatArchive::~DatArchive() {
    Close();
}

FileTypeIcon DatArchive::ClassifyName(std::string_view name) {
    return ::ClassifyName(name);
}

bool DatArchive::Open(std::string_view path) {
    if (IsOpen())
        Close();
    path_.assign(path);
    cutShort_ = false;
    openError_ = 0;
    problem_ = {};
    names_.clear();
    ++openCount_;

    std::uint64_t size = 0;
    int fd = OpenForReading(path_, size);
    if (fd < 0) {
        openError_ = errno;
        Report({.what = ArchiveFailure::CannotOpen, .error = openError_});
        return false;
    }

    // A file shorter than the header is not an archive; the bytes it lacks read as zero.
    unsigned char header[kHeaderSize] = {};
    std::size_t got = ReadAt(fd, header, sizeof header, 0);
    identifier_ = ReadLE32(header);
    if (identifier_ != kArchiveMagic || got < kHeaderSize) {
        Report({.what = ArchiveFailure::NotAnArchive, .identifier = identifier_});
        CloseFile(fd);
        return false;
    }
    const ArchiveHeader h = DecodeHeader(header);
    directoryOffset_ = h.directoryOffset;
    directorySize_ = h.directorySize;
    const std::uint32_t claimed = directorySize_ / kDirectoryEntrySize;

    // Only the records that lie whole inside the file can be loaded; a directory claiming more
    // must not make us obtain memory the file cannot justify.
    const std::uint64_t available = size > directoryOffset_ ? size - directoryOffset_ : 0;
    const std::uint64_t whole = available / kDirectoryEntrySize;
    entryCount_ = std::uint32_t(std::min<std::uint64_t>(claimed, whole));
    cutShort_ = entryCount_ < claimed;

    entries_ = allocate_(entryCount_);
    if (!entries_) {
        Report({.what = ArchiveFailure::NoMemory, .error = ENOMEM});
        CloseFile(fd);
        return false;
    }
    fd_ = fd;
    fileSize_ = size;
    if (cutShort_)
        Report({.what = ArchiveFailure::CutShort, .loaded = entryCount_, .claimed = claimed});
    return true;
}

void DatArchive::Report(const ArchiveProblem& problem) {
    problem_ = problem;
    messages_.ShowMessage(ProblemText(problem, path_).Joined('\n'), kErrorCaption);
}

bool DatArchive::LoadDirectory() {
    return ReadDirectory(true);
}

bool DatArchive::ListDirectory() {
    const bool ok = ReadDirectory(false);
    // Nothing was kept: the archive now holds no entries to extract.
    entries_.reset();
    return ok;
}

bool DatArchive::ReadDirectory(bool keep) {
    progress_.SetRange(entryCount_);
    progress_.SetPosition(0);
    if (!IsOpen())
        return true;

    // Whole records in large reads: one system call per chunk, never one per field.
    constexpr std::size_t kRecordsPerChunk = 1820; // 262,080 bytes
    std::unique_ptr<unsigned char[]> chunk(
        new (std::nothrow) unsigned char[kRecordsPerChunk * kDirectoryEntrySize]);
    if (!chunk && entryCount_ > 0) {
        Report({.what = ArchiveFailure::NoMemory, .error = ENOMEM});
        cutShort_ = true; // nothing of the directory could be read
    }
    std::uint64_t offset = directoryOffset_;
    std::uint32_t loaded = 0;
    EntryRecord passing; // what a record is decoded into when the table is not kept
    while (chunk && loaded < entryCount_) {
        const std::size_t want = std::min<std::size_t>(kRecordsPerChunk, entryCount_ - loaded);
        const std::size_t got = ReadAt(fd_, chunk.get(), want * kDirectoryEntrySize, offset);
        const std::size_t records = got / kDirectoryEntrySize;
        for (std::size_t r = 0; r < records; ++r, ++loaded) {
            EntryRecord& record = keep ? entries_[loaded] : passing;
            DecodeDirectoryEntry(chunk.get() + r * kDirectoryEntrySize, record.entry);
            const std::string_view name = record.entry.Name();
            record.listIndex = list_.AddEntry(name, ::ClassifyName(name), 0);
            list_.SetEntryText(record.listIndex, 1, SizeText(record.entry).View());
            progress_.SetPosition(loaded + 1);
        }
        if (records < want)
            break; // the file shrank since it was opened: keep what was read
        offset += got;
    }
    // Records that could not be read are never shown nor used.
    entryCount_ = loaded;
    return true;
}

void DatArchive::Close() {
    if (fd_ >= 0)
        CloseFile(fd_);
    fd_ = -1;
    fileSize_ = 0;
    entries_.reset();
    names_.clear();
}
