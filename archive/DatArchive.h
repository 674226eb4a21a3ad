// The one open archive: opening and validating the file, its header values, and the directory
// loaded into memory while every entry is handed to the entry list.
#pragma once

#include "ArchiveFormat.h"
#include "FileTypeIcon.h"
#include "Sinks.h"
#include "Texts.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

struct EntryRecord {
    DirectoryEntry entry;
    std::int32_t listIndex; // what the list sink returned for this entry
};

class DatArchive {
public:
    // Obtains the table for count records; returns null when the memory cannot be obtained.
    // Replaceable, so that the out-of-memory path can be reached on purpose.
    using TableAllocator = std::function<std::unique_ptr<EntryRecord[]>(std::size_t count)>;

    explicit DatArchive(MessageSink& messages, ListSink& list, ProgressSink& progress);
    ~DatArchive();
    DatArchive(const DatArchive&) = delete;
    DatArchive& operator=(const DatArchive&) = delete;

    bool Open(std::string_view path);
    bool LoadDirectory();
    // Sends every record to the list sink as LoadDirectory does, but keeps none of them, so a
    // program that only lists touches no table: the archive holds no entries afterwards.
    bool ListDirectory();
    void Close();

    static FileTypeIcon ClassifyName(std::string_view name);

    void SetTableAllocator(TableAllocator allocator) { allocate_ = std::move(allocator); }

    bool IsOpen() const { return fd_ >= 0; }
    const std::string& Path() const { return path_; }
    std::uint32_t Identifier() const { return identifier_; }
    std::uint32_t DirectoryOffset() const { return directoryOffset_; }
    std::uint32_t DirectorySize() const { return directorySize_; }
    std::uint32_t EntryCount() const { return entryCount_; }
    // True when the header promises more records than the file holds; only the complete
    // records inside the file are loaded.
    bool IsDirectoryCutShort() const { return cutShort_; }
    std::span<const EntryRecord> Entries() const {
        return {entries_.get(), entries_ ? entryCount_ : 0};
    }
    // The name entry i is extracted under: as stored, unless a caller set names read in its
    // own way (a code page) with SetEntryNames, one per entry.
    std::string_view EntryName(std::uint32_t i) const {
        return names_.empty() ? entries_[i].entry.Name() : std::string_view(names_[i]);
    }
    void SetEntryNames(std::vector<std::string> names) { names_ = std::move(names); }
    // What the last message about the archive as a whole was about (None after an Open that
    // showed none), with the system's error number: so that a program can tell the user in its
    // own words, without reading the message's text.
    const ArchiveProblem& Problem() const { return problem_; }
    int FileDescriptor() const { return fd_; }
    // Changes with every Open, so bytes kept from an earlier file are never taken for this one's.
    std::uint64_t OpenCount() const { return openCount_; }
    std::uint64_t FileSize() const { return fileSize_; }

private:
    bool ReadDirectory(bool keep);
    // Notes the problem and shows its message.
    void Report(const ArchiveProblem& problem);

    MessageSink& messages_;
    ListSink& list_;
    ProgressSink& progress_;
    TableAllocator allocate_;

    std::uint32_t identifier_ = 0;
    std::uint32_t directoryOffset_ = 0;
    std::uint32_t directorySize_ = 0;
    std::uint32_t entryCount_ = 0;
    std::unique_ptr<EntryRecord[]> entries_;
    int fd_ = -1;
    std::uint64_t fileSize_ = 0;
    std::uint64_t openCount_ = 0;
    bool cutShort_ = false;
    ArchiveProblem problem_;
    std::string path_;
    std::vector<std::string> names_;
};

// The text of the "Info" box for the archive's current header values.
inline std::string InfoText(const DatArchive& archive) {
    return InfoText(archive.Path(), archive.Identifier(), archive.DirectoryOffset(),
                    archive.DirectorySize(), archive.EntryCount());
}
