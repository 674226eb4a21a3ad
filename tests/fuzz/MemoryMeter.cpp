// Heap accounting for the fuzz harness. Sizes are the allocator's usable sizes, so a block is
// counted the same when it is obtained and when it is given back.
#include "MemoryMeter.h"

#include <atomic>
#include <cstdint>

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VDAT_METER_ASAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define VDAT_METER_ASAN 1
#endif

namespace {
std::atomic<std::int64_t> inUse{0};
std::atomic<std::int64_t> peak{0};
std::atomic<std::int64_t> zeroLine{0};

void Account(std::int64_t delta) {
    const std::int64_t now = inUse.fetch_add(delta, std::memory_order_relaxed) + delta;
    std::int64_t seen = peak.load(std::memory_order_relaxed);
    while (now > seen && !peak.compare_exchange_weak(seen, now, std::memory_order_relaxed)) {
    }
}
} // namespace

#ifdef VDAT_METER_ASAN
// gcc does not ship the sanitizer allocator header; these are the runtime's own entry points.
extern "C" {
int __sanitizer_install_malloc_and_free_hooks(void (*malloc_hook)(const volatile void*,
                                                                  std::size_t),
                                              void (*free_hook)(const volatile void*));
std::size_t __sanitizer_get_allocated_size(const volatile void* p);
}

namespace {
void OnMalloc(const volatile void*, std::size_t size) {
    Account(std::int64_t(size));
}
// The free hook runs before the block is released, so its size can still be asked for.
void OnFree(const volatile void* p) {
    if (p)
        Account(-std::int64_t(__sanitizer_get_allocated_size(p)));
}

void EnsureHooked() {
    static const bool hooked = __sanitizer_install_malloc_and_free_hooks(OnMalloc, OnFree) != 0;
    (void)hooked;
}
} // namespace
#else
#include <malloc.h>

#include <cerrno>

// Every way into glibc's heap is interposed, the aligned ones too: the extractor takes its large
// staging buffers aligned, and a block counted when freed but not when obtained would hide them.
extern "C" {
void* __libc_malloc(std::size_t);
void* __libc_calloc(std::size_t, std::size_t);
void* __libc_realloc(void*, std::size_t);
void* __libc_memalign(std::size_t, std::size_t);
void* __libc_valloc(std::size_t);
void* __libc_pvalloc(std::size_t);
void __libc_free(void*);

namespace {
void* Counted(void* p) {
    if (p)
        Account(std::int64_t(malloc_usable_size(p)));
    return p;
}
} // namespace

void* malloc(std::size_t size) noexcept {
    return Counted(__libc_malloc(size));
}
void* calloc(std::size_t count, std::size_t size) noexcept {
    return Counted(__libc_calloc(count, size));
}
void* memalign(std::size_t alignment, std::size_t size) noexcept {
    return Counted(__libc_memalign(alignment, size));
}
void* aligned_alloc(std::size_t alignment, std::size_t size) noexcept {
    return Counted(__libc_memalign(alignment, size));
}
void* valloc(std::size_t size) noexcept {
    return Counted(__libc_valloc(size));
}
void* pvalloc(std::size_t size) noexcept {
    return Counted(__libc_pvalloc(size));
}

int posix_memalign(void** out, std::size_t alignment, std::size_t size) noexcept {
    if (alignment < sizeof(void*) || (alignment & (alignment - 1)) != 0)
        return EINVAL;
    void* p = Counted(__libc_memalign(alignment, size));
    if (!p)
        return ENOMEM;
    *out = p;
    return 0;
}

void* realloc(void* old, std::size_t size) noexcept {
    const std::int64_t before = old ? std::int64_t(malloc_usable_size(old)) : 0;
    void* p = __libc_realloc(old, size);
    if (p)
        Account(std::int64_t(malloc_usable_size(p)) - before);
    else if (old && size == 0)
        Account(-before); // glibc frees the block and returns null
    return p;
}

void free(void* p) noexcept {
    if (p)
        Account(-std::int64_t(malloc_usable_size(p)));
    __libc_free(p);
}
}

namespace {
void EnsureHooked() {}
} // namespace
#endif

namespace memory_meter {

void Reset() {
    EnsureHooked();
    const std::int64_t now = inUse.load(std::memory_order_relaxed);
    zeroLine.store(now, std::memory_order_relaxed);
    peak.store(now, std::memory_order_relaxed);
}

std::size_t PeakSinceReset() {
    const std::int64_t above = peak.load(std::memory_order_relaxed) - zeroLine.load();
    return above > 0 ? std::size_t(above) : 0;
}

std::size_t InUseSinceReset() {
    const std::int64_t above = inUse.load(std::memory_order_relaxed) - zeroLine.load();
    return above > 0 ? std::size_t(above) : 0;
}

} // namespace memory_meter
