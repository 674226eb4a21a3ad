// The byte sinks.
#include "ByteSink.h"

#include "FileIo.h"

#include <cerrno>
#include <new>
#include <unistd.h>

bool DescriptorSink::Write(const void* data, std::size_t length) {
    return WriteAll(fd_, data, length);
}

void DescriptorSink::Empty() {
    if (owned_)
        (void)::ftruncate(fd_, 0);
}

bool MemorySink::Write(const void* data, std::size_t length) {
    if (length > limit_ - bytes_.size()) {
        errno = EFBIG;
        return false;
    }
    try {
        bytes_.append(static_cast<const char*>(data), length);
    } catch (const std::bad_alloc&) {
        errno = ENOMEM;
        return false;
    }
    return true;
}
