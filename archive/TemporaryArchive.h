// A new archive, under a temporary name beside ARCHIVE until it is complete (ArchiveRewriter).
#pragma once

#include <string>
#include <sys/stat.h>

// Removed unless Commit renamed it into place, also when the run is interrupted (SIGINT,
// SIGTERM, SIGHUP; a signal the caller ignores stays ignored).
class TemporaryArchive {
public:
    TemporaryArchive() = default;
    ~TemporaryArchive();
    TemporaryArchive(const TemporaryArchive&) = delete;
    TemporaryArchive& operator=(const TemporaryArchive&) = delete;

    // False (errno set) when the file cannot be made beside ARCHIVE.
    bool Create(const std::string& archive);
    int Fd() const { return fd_; }
    // Gives it the mode of st, and its owner and group where the user may.
    void KeepOwnership(const struct stat& st);
    // Makes the new archive durable before it replaces an old one, then renames it.
    bool Commit(const std::string& archive, bool replacing);

private:
    std::string path_;
    int fd_ = -1;
};
