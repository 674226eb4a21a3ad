// Reading an archive as values: its header, then its directory's records, or what went wrong
// (the problem value of Texts.h: what failed, the system's error number). No sinks and no texts:
// DatArchive shows them on top of this, and any program may read an archive this way.
#pragma once

#include "ArchiveFormat.h"
#include "Texts.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// An archive file open for reading, and what its header says.
struct ArchiveHead {
    int fd = -1;
    std::uint64_t size = 0;
    ArchiveHeader header{};
    std::uint32_t claimed = 0; // the records the header's directory size holds
    std::uint32_t whole = 0;   // of those, the ones lying whole inside the file
    bool CutShort() const { return whole < claimed; }
};

// Opens path and reads its header. False with the problem: CannotOpen (the system's error, 0
// for a file that is not regular) or NotAnArchive (the identifier read; a file shorter than
// the header reads as zeros); the file is then closed.
bool OpenArchiveHead(const std::string& path, ArchiveHead& head, ArchiveProblem& problem);
// The same for a file the caller opened (size bytes long); fd is not closed on failure.
bool ReadArchiveHead(int fd, std::uint64_t size, ArchiveHead& head, ArchiveProblem& problem);

// Reads `count` records from offset in large reads, calling visit with each record's bytes
// (kDirectoryEntrySize of them, for DecodeDirectoryEntry) in file order: a caller decodes each
// straight into its own table. Returns how many were read: fewer when the file has shrunk since
// it was opened. Sets noMemory, reading none, when the read buffer cannot be had.
std::uint32_t ReadRecords(int fd, std::uint64_t offset, std::uint32_t count,
                          const std::function<void(const unsigned char*)>& visit, bool& noMemory);

// The directory as a value.
struct Directory {
    ArchiveHeader header{};
    std::vector<DirectoryEntry> entries; // the whole records inside the file
    std::uint32_t claimed = 0;
    bool CutShort() const { return entries.size() < claimed; }
};

// Reads the archive at path whole. False with the problem when it cannot be read (a cut-short
// directory is not one: the records that are there are read, and CutShort() tells).
bool ReadArchiveDirectory(const std::string& path, Directory& directory, ArchiveProblem& problem);
// The same from a head already read; its file stays open.
bool ReadDirectoryOf(const ArchiveHead& head, Directory& directory, ArchiveProblem& problem);
// The same for an archive already open on fd, size bytes long, which stays open: for a reader
// that goes on to read the entries of the very file whose directory it read.
bool ReadArchiveDirectory(int fd, std::uint64_t size, Directory& directory,
                          ArchiveProblem& problem);
