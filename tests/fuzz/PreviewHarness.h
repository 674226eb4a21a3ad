// One fuzz input for the preview's Qt-free core: the bytes as a pcx file (header checked, pixels
// decoded) and as an entry to classify and lay out as text and hex. A broken rule aborts with a
// description, which libFuzzer and ctest both report.
#pragma once

#include <cstddef>
#include <cstdint>

// The pixels a pcx header may make anyone allocate: what its data can give, at 4 bytes a pixel
// (1-bit rows, 31.5 pixel bytes a data byte, 8 pixels a byte: about 1,008 bytes a data byte).
inline constexpr std::size_t kPreviewMemoryConstant = 1u << 20;
inline constexpr std::size_t kPreviewMemoryPerInputByte = 1100;

void CheckPreviewInput(const std::uint8_t* data, std::size_t size);

// The peak heap use measured for the last input checked.
std::size_t LastPreviewPeakHeap();
