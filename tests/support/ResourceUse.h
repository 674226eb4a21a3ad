// What this process holds (heap, resident pages, peak memory, descriptors) and a file size limit
// for the span of a scope, for tests that check nothing is leaked or over-allocated.
#pragma once

#include <cstddef>
#include <sys/resource.h>

// Live heap bytes, from the sanitizer's allocator when there is one, else from glibc.
std::size_t HeapInUse();
std::size_t ResidentBytes();
// True under AddressSanitizer, whose quarantine and shadow memory make resident size meaningless.
bool UnderAddressSanitizer();
// Descriptors this process has open, not counting the one used to count them.
int OpenDescriptors();

// Peak resident memory of this process, in KiB: since it started, or since the last
// ResetPeakResident that succeeded.
long PeakResidentKiB();
// Lowers the peak to what is resident now, so that a later PeakResidentKiB() measures only what
// follows, whatever ran earlier in this process. False where the system does not allow it.
bool ResetPeakResident();

// A file size limit for this process, with the signal that would end it ignored, so that a write
// past it fails with EFBIG. A negative limit leaves things as they are.
class ScopedFileSizeLimit {
public:
    explicit ScopedFileSizeLimit(long bytes);
    ~ScopedFileSizeLimit();
    ScopedFileSizeLimit(const ScopedFileSizeLimit&) = delete;
    ScopedFileSizeLimit& operator=(const ScopedFileSizeLimit&) = delete;

private:
    bool on_;
    rlimit saved_{};
    void (*previous_)(int) = nullptr;
};
