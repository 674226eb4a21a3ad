// Opening an archive and loading its directory.
#include "DatArchive.h"

#include "Directory.h"
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
    problem_ = {};
    names_.clear();
    ++openCount_;

    ArchiveHead head;
    ArchiveProblem problem;
    if (!OpenArchiveHead(path_, head, problem)) {
        // The identifier is what a file that is not an archive shows; a file that cannot be
        // opened changes no header value.
        if (problem.what == ArchiveFailure::NotAnArchive)
            identifier_ = problem.identifier;
        Report(problem);
        return false;
    }
    identifier_ = head.header.identifier;
    directoryOffset_ = head.header.directoryOffset;
    directorySize_ = head.header.directorySize;
    entryCount_ = head.whole;
    cutShort_ = head.CutShort();

    entries_ = allocate_(entryCount_);
    if (!entries_) {
        Report({.what = ArchiveFailure::NoMemory, .error = ENOMEM});
        CloseFile(head.fd);
        return false;
    }
    fd_ = head.fd;
    fileSize_ = head.size;
    if (cutShort_)
        Report({.what = ArchiveFailure::CutShort, .loaded = entryCount_, .claimed = head.claimed});
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

    std::uint32_t loaded = 0;
    EntryRecord passing; // what a record is decoded into when the table is not kept
    bool noMemory = false;
    ReadRecords(
        fd_, directoryOffset_, entryCount_,
        [&](const unsigned char* bytes) {
            EntryRecord& record = keep ? entries_[loaded] : passing;
            DecodeDirectoryEntry(bytes, record.entry);
            const std::string_view name = record.entry.Name();
            record.listIndex = list_.AddEntry(name, ::ClassifyName(name), 0);
            list_.SetEntryText(record.listIndex, 1, SizeText(record.entry).View());
            progress_.SetPosition(++loaded);
        },
        noMemory);
    if (noMemory) {
        Report({.what = ArchiveFailure::NoMemory, .error = ENOMEM});
        cutShort_ = true; // nothing of the directory could be read
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
