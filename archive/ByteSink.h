// Where an entry's bytes go once decoded: a file or any descriptor, memory, or nowhere (when an
// entry is only checked). The entry decoder (EntryWriter) writes to any of them alike.
#pragma once

#include <cstddef>
#include <string>
#include <utility>

class ByteSink {
public:
    virtual ~ByteSink() = default;
    // Appends length bytes; false, with errno telling why, when they cannot all be taken.
    virtual bool Write(const void* data, std::size_t length) = 0;
    // Drops what was written so far, where the sink can: a damaged stream leaves nothing of
    // itself behind.
    virtual void Empty() {}
    // A descriptor the kernel may copy stored data into directly; -1 when there is none.
    virtual int Descriptor() const { return -1; }
    // False when nothing is kept: the decoder then only reads and checks.
    virtual bool Wants() const { return true; }
};

// An open descriptor. Only a file of our own (owned) is emptied: a descriptor the caller handed
// in (stdout) may hold more than this entry.
class DescriptorSink final : public ByteSink {
public:
    DescriptorSink(int fd, bool owned) : fd_(fd), owned_(owned) {}
    bool Write(const void* data, std::size_t length) override;
    void Empty() override;
    int Descriptor() const override { return fd_; }

private:
    int fd_;
    bool owned_;
};

// Memory, up to a limit (beyond it a write fails with EFBIG).
class MemorySink final : public ByteSink {
public:
    explicit MemorySink(std::size_t limit) : limit_(limit) {}
    bool Write(const void* data, std::size_t length) override;
    void Empty() override { bytes_.clear(); }
    const std::string& Bytes() const { return bytes_; }
    // Hands the bytes over without a copy; the sink is empty afterwards.
    std::string Take() { return std::move(bytes_); }

private:
    std::size_t limit_;
    std::string bytes_;
};

class NowhereSink final : public ByteSink {
public:
    bool Write(const void*, std::size_t) override { return true; }
    bool Wants() const override { return false; }
};
