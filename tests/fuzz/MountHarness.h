// One fuzz input through the mount's handlers, without the kernel: the bytes become an archive
// file, which the mount's tree opens; every folder is listed, every name looked up and every file
// read in steps (WalkMount). The rules every answer keeps, and each file's bytes against what the
// input itself holds (zlib's uncompress as the oracle), are checked; a broken rule aborts with a
// description, which libFuzzer and ctest both report.
#pragma once

#include <cstddef>
#include <cstdint>

void CheckMountInput(const std::uint8_t* data, std::size_t size);

// The peak heap use measured for the last input checked.
std::size_t LastMountPeakHeap();
