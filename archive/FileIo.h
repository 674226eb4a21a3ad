// Thin wrappers over POSIX file calls: positioned reads with 64-bit offsets (so data past
// 2 GiB is served, and workers can share one descriptor) and writes that finish or fail whole.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Opens a regular file for reading; returns -1 for anything else (a folder, a pipe, a device).
int OpenForReading(const std::string& path, std::uint64_t& size);
void CloseFile(int fd);

// Reads up to length bytes at offset; returns how many were read (fewer at the end of the file
// or on an error).
std::size_t ReadAt(int fd, void* buffer, std::size_t length, std::uint64_t offset);

// Writes all of data, in pieces the kernel handles well; false if any of it could not be written.
bool WriteAll(int fd, const void* data, std::size_t length);
