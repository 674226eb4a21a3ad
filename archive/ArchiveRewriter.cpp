// The ordered write of a new archive, its temporary file and its commit.
#include "ArchiveRewriter.h"

#include "FileIo.h"

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace {
// The change's file seen as an archive output: entries' data appended after the bytes in use.
class InPlaceOutput final : public ArchiveOutput {
public:
    InPlaceOutput(InPlaceChange& change, std::uint64_t at) : change_(change), position_(at) {}
    bool Append(const void* data, std::size_t length) override {
        if (!change_.Write(position_, data, length))
            return false;
        position_ += length;
        return true;
    }
    bool WriteAt(std::uint64_t offset, const void* data, std::size_t length) override {
        return change_.Write(offset, data, length);
    }

private:
    InPlaceChange& change_;
    std::uint64_t position_;
};
} // namespace

bool ArchiveRewriter::Begin(const std::string& target) {
    if (!temporary_.Create(target))
        return false;
    output_ = std::make_unique<FileOutput>(temporary_.Fd());
    writer_ = std::make_unique<ArchiveWriter>(*output_);
    return true;
}

ArchiveRewriter::Result ArchiveRewriter::AddPrepared(
    std::size_t count, const std::function<std::string_view(std::size_t)>& name,
    const std::function<Preparer()>& makePreparer, unsigned workers, const std::atomic<bool>* stop,
    const std::function<void(std::size_t, const PreparedEntry&)>& added, std::size_t& failedAt,
    std::string& problem) {
    workers = std::min<unsigned>(std::max(workers, 1u), unsigned(std::max<std::size_t>(count, 1)));
    // Workers prepare entries a limited way ahead of the writer, so memory stays bounded.
    const std::size_t ahead = 4 * std::size_t(workers) + 4;
    struct Slot {
        PreparedEntry entry;
        bool done = false;
    };
    std::vector<Slot> slots(count);
    std::mutex mutex;
    std::condition_variable ready, room;
    std::size_t next = 0, written = 0;
    bool halt = false;
    auto work = [&] {
        const Preparer prepare = makePreparer();
        for (;;) {
            std::size_t k;
            {
                std::unique_lock lock(mutex);
                room.wait(lock, [&] { return halt || next >= count || next < written + ahead; });
                if (halt || next >= count)
                    return;
                k = next++;
            }
            PreparedEntry entry;
            prepare(k, entry);
            std::lock_guard lock(mutex);
            slots[k].entry = std::move(entry);
            slots[k].done = true;
            ready.notify_all();
        }
    };
    std::vector<std::thread> pool;
    for (unsigned w = 0; w < workers && workers > 1; ++w) {
        try {
            pool.emplace_back(work);
        } catch (const std::system_error&) {
            break;
        }
    }
    // One worker, or no thread could be had: this thread prepares too.
    const Preparer inline_ = pool.empty() ? makePreparer() : Preparer();
    Result result = Result::Done;
    for (std::size_t k = 0; k < count; ++k) {
        if (stop && stop->load(std::memory_order_relaxed)) {
            result = Result::Stopped;
            break;
        }
        PreparedEntry entry;
        if (pool.empty()) {
            inline_(k, entry);
        } else {
            std::unique_lock lock(mutex);
            ready.wait(lock, [&] { return slots[k].done; });
            entry = std::move(slots[k].entry);
            written = k + 1;
            room.notify_all();
        }
        if (!entry.problem.empty()) {
            failedAt = k;
            problem = std::move(entry.problem);
            result = Result::Problem;
            break;
        }
        if (!writer_->AddEntry(name(k), entry.data, entry.realSize, entry.packedSize)) {
            failedAt = k;
            result = writer_->Overflow() ? Result::Overflow : Result::WriteFailed;
            break;
        }
        added(k, entry);
    }
    const int error = errno;
    {
        std::lock_guard lock(mutex);
        halt = true;
        room.notify_all();
    }
    for (auto& t : pool)
        t.join();
    errno = error;
    return result;
}

ArchiveRewriter::Result ArchiveRewriter::AddRaw(std::string_view name, const DatArchive& from,
                                                std::uint32_t index) {
    const DirectoryEntry& entry = from.Entries()[index].entry;
    const std::uint32_t length = entry.IsPacked() ? entry.packedSize : entry.realSize;
    const auto key = std::make_tuple(entry.dataOffset, entry.realSize, entry.packedSize);
    if (const auto found = copied_.find(key); found != copied_.end() && length) {
        writer_->Directory().push_back(MakeDirectoryEntry(name, found->second, entry.realSize,
                                                          entry.packedSize, entry.fourthValue));
        return Result::Done;
    }
    // A record may claim data the file does not hold: no buffer is had for more than it holds.
    if (std::uint64_t(entry.dataOffset) + length > from.FileSize()) {
        errno = EIO; // the archive ends before the entry's data does
        return Result::WriteFailed;
    }
    std::string data(length, '\0');
    if (ReadAt(from.FileDescriptor(), data.data(), length, entry.dataOffset) < length) {
        errno = EIO; // the archive ends before the entry's data does
        return Result::WriteFailed;
    }
    if (!writer_->AddEntry(name, data, entry.realSize, entry.packedSize, entry.fourthValue))
        return writer_->Overflow() ? Result::Overflow : Result::WriteFailed;
    copied_.emplace(key, writer_->Directory().back().dataOffset);
    return Result::Done;
}

void ArchiveRewriter::KeepOwnership(const struct stat& st) {
    temporary_.KeepOwnership(st);
}

ArchiveRewriter::Result ArchiveRewriter::Commit(const std::string& target, bool durable) {
    if (!writer_->Finish())
        return writer_->Overflow() ? Result::Overflow : Result::WriteFailed;
    return temporary_.Commit(target, durable) ? Result::Done : Result::WriteFailed;
}

InPlaceChange::Opened ArchiveRewriter::BeginInPlace(const std::string& path, bool wait,
                                                    ArchiveProblem& problem) {
    const InPlaceChange::Opened opened = inPlace_.Open(path, wait, problem);
    if (opened == InPlaceChange::Opened::Yes) {
        output_ = std::make_unique<InPlaceOutput>(inPlace_, inPlace_.Usage().endInUse);
        writer_ = std::make_unique<ArchiveWriter>(*output_, inPlace_.Usage().endInUse);
    }
    return opened;
}

ArchiveRewriter::Result ArchiveRewriter::CommitInPlace(const std::vector<DirectoryEntry>& directory,
                                                       const std::atomic<bool>* stop) {
    switch (inPlace_.Commit(writer_->Size(), directory, stop)) {
    case InPlaceChange::Result::Done:
        return Result::Done;
    case InPlaceChange::Result::Overflow:
        return Result::Overflow;
    case InPlaceChange::Result::Stopped:
        return Result::Stopped;
    case InPlaceChange::Result::WriteFailed:
        break;
    }
    return Result::WriteFailed;
}
