// Peak heap use over a window of the running program. Under AddressSanitizer it listens to the
// sanitizer allocator's hooks; in a plain build it interposes malloc and forwards to glibc. Both
// count every allocation, including those made inside zlib and the C++ runtime.
#pragma once

#include <cstddef>

namespace memory_meter {

// Starts a window: what is in use now becomes the zero line.
void Reset();

// The most bytes that were in use at any moment since Reset, above the zero line.
std::size_t PeakSinceReset();

// Bytes in use now, above the zero line (negative drift is clamped to 0).
std::size_t InUseSinceReset();

} // namespace memory_meter
