// Reads of the open archive, and the read window for small consecutive entries.
#include "ArchiveBytes.h"

#include <cstdlib>

namespace {
// Entries up to a sixteenth of the window are read through it, and only while they come one
// after another (with gaps of at most a quarter of it, as when two workers take turns);
// scattered entries read just their own bytes.
constexpr std::size_t kWindowSize = 256 * 1024;
constexpr std::size_t kWindowEntryLimit = kWindowSize / 16;
constexpr std::uint64_t kWindowGap = kWindowSize / 4;
} // namespace

ArchiveBytes::~ArchiveBytes() {
    std::free(window_);
}

std::uint64_t ArchiveBytes::AvailableFrom(std::uint64_t offset) const {
    return archive_->FileSize() > offset ? archive_->FileSize() - offset : 0;
}

std::size_t ArchiveBytes::ReadAt(void* buffer, std::size_t length, std::uint64_t offset) const {
    return ::ReadAt(archive_->FileDescriptor(), buffer, length, offset);
}

const unsigned char* ArchiveBytes::ReadThroughWindow(std::uint64_t begin, std::size_t length) {
    const std::uint64_t end = begin + length;
    const bool following = begin >= lastEnd_ && begin - lastEnd_ <= kWindowGap;
    lastEnd_ = end;
    if (length > kWindowEntryLimit)
        return nullptr;
    if (windowCapacity_ < kWindowSize) {
        if (kWindowSize > memoryLimit_)
            return nullptr;
        std::free(window_);
        window_ = static_cast<unsigned char*>(std::malloc(kWindowSize));
        windowCapacity_ = window_ ? kWindowSize : 0;
        if (!window_)
            return nullptr;
    }
    if (windowArchive_ != archive_ || windowOpenCount_ != archive_->OpenCount() ||
        begin < windowStart_ || end > windowStart_ + windowLength_) {
        windowArchive_ = archive_;
        windowOpenCount_ = archive_->OpenCount();
        windowStart_ = begin;
        windowLength_ = ReadAt(window_, following ? kWindowSize : length, begin);
        if (windowLength_ < length)
            return nullptr;
    }
    return window_ + (begin - windowStart_);
}

void ArchiveBytes::Release() {
    std::free(window_);
    window_ = nullptr;
    windowCapacity_ = 0;
    // The next command may read another archive, or this one changed on disk.
    windowArchive_ = nullptr;
    windowLength_ = 0;
    lastEnd_ = 0;
}
