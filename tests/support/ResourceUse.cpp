// Resource counters read from /proc and the allocator, and the scoped file size limit.
#include "ResourceUse.h"

#include <csignal>
#include <cstdio>
#include <dirent.h>
#include <malloc.h>
#include <unistd.h>

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VDAT_TESTS_ASAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define VDAT_TESTS_ASAN 1
#endif

#ifdef VDAT_TESTS_ASAN
extern "C" std::size_t __sanitizer_get_current_allocated_bytes();
#endif

std::size_t HeapInUse() {
#ifdef VDAT_TESTS_ASAN
    return __sanitizer_get_current_allocated_bytes();
#else
    const struct mallinfo2 info = ::mallinfo2();
    return info.uordblks + info.hblkhd;
#endif
}

bool UnderAddressSanitizer() {
#ifdef VDAT_TESTS_ASAN
    return true;
#else
    return false;
#endif
}

std::size_t ResidentBytes() {
    std::FILE* f = std::fopen("/proc/self/statm", "r");
    unsigned long size = 0, resident = 0;
    if (f) {
        if (std::fscanf(f, "%lu %lu", &size, &resident) != 2)
            resident = 0;
        std::fclose(f);
    }
    return resident * std::size_t(::sysconf(_SC_PAGESIZE));
}

int OpenDescriptors() {
    DIR* dir = ::opendir("/proc/self/fd");
    if (!dir)
        return -1;
    int count = 0;
    while (const dirent* d = ::readdir(dir))
        if (d->d_name[0] != '.')
            ++count;
    ::closedir(dir);
    return count - 1; // the one opendir itself holds
}

long PeakResidentKiB() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

bool ResetPeakResident() {
    // "5" resets the high-water mark that getrusage reports to the current resident size.
    std::FILE* f = std::fopen("/proc/self/clear_refs", "w");
    if (!f)
        return false;
    const bool written = std::fputs("5", f) >= 0;
    return std::fclose(f) == 0 && written;
}

ScopedFileSizeLimit::ScopedFileSizeLimit(long bytes) : on_(bytes >= 0) {
    if (!on_)
        return;
    ::getrlimit(RLIMIT_FSIZE, &saved_);
    previous_ = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit{rlim_t(bytes), saved_.rlim_max};
    ::setrlimit(RLIMIT_FSIZE, &limit);
}

ScopedFileSizeLimit::~ScopedFileSizeLimit() {
    if (!on_)
        return;
    ::setrlimit(RLIMIT_FSIZE, &saved_);
    std::signal(SIGXFSZ, previous_);
}
