// One fuzz input, end to end: the bytes become an archive file, which is opened, listed into
// recording sinks and extracted into a fresh folder inside a sandbox. Everything the library
// showed, wrote and allocated is then checked against what the bytes themselves allow; a broken
// rule aborts the program with a description, which libFuzzer and ctest both report.
//
// How each rule is checked:
// - Nothing outside the destination: the sandbox around it (a file beside it, a folder two levels
//   up, the folders symlinks planted in the destination point at) is compared, bytes and link
//   targets, with how it was before; the archive file itself too.
// - Memory: every allocation is counted (MemoryMeter), and the peak while opening, listing and
//   extracting is held to kMemoryConstant + kMemoryPerInputByte x input size.
// - No text from uninitialised memory: the entry table is handed out filled with a poison
//   pattern, and every name, size text and message a sink receives must equal, byte for byte,
//   what an independent reading of the input gives; so must every file written. (MemorySanitizer
//   needs an instrumented C++ library Debian does not ship; the replay program also runs cleanly
//   under valgrind.)
// - Descriptors: as many are open after each input as before.
#pragma once

#include <cstddef>
#include <cstdint>

// Peak heap use while the archive is opened, listed and extracted may not exceed this constant
// plus kMemoryPerInputByte for every input byte (a deflate stream expands at most 1032:1, and
// the directory table costs about one byte per byte of directory). The constant covers the
// directory read buffer (256 KiB) and the rounding of large staging buffers to whole 2 MiB pages.
inline constexpr std::size_t kMemoryConstant = 4u << 20;
inline constexpr std::size_t kMemoryPerInputByte = 1100;

void CheckArchiveInput(const std::uint8_t* data, std::size_t size);

// The peak heap use measured for the last input checked.
std::size_t LastPeakHeap();
