// The archive `vdat create` writes, under a temporary name beside ARCHIVE until it is complete.
#pragma once

#include "ArchiveRewriter.h"

#include <string>

// Removed unless Commit renamed it into place, also when the run is interrupted (SIGINT,
// SIGTERM, SIGHUP; a signal the caller ignores stays ignored).
class TemporaryArchive final : public TemporaryArchiveFile {
public:
    TemporaryArchive() = default;
    ~TemporaryArchive() override;
    TemporaryArchive(const TemporaryArchive&) = delete;
    TemporaryArchive& operator=(const TemporaryArchive&) = delete;

    // False (errno set) when the file cannot be made beside ARCHIVE.
    bool Create(const std::string& archive) override;
    int Fd() const override { return fd_; }
    // Makes the new archive durable before it replaces an old one, then renames it.
    bool Commit(const std::string& archive, bool replacing) override;

private:
    std::string path_;
    int fd_ = -1;
};
