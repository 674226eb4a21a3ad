// One entry at a time: folders, output file, data read, inflated when packed, written.
#include "Extraction.h"

#include "FileIo.h"
#include "ParallelExtraction.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <numeric>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

namespace {
// Stored entries are copied in pieces of this size instead of through one real-size buffer.
constexpr std::size_t kCopyPiece = 1024 * 1024;

EntryResult Result(EntryOutcome outcome, const char* detail, int error = 0) {
    return {outcome, detail, error, {}};
}

// errno right after a failed call; a write that wrote nothing without an error counts as EIO.
int SystemError() {
    return errno != 0 ? errno : EIO;
}

// Tells the user, once and where it is detected, which entry could not be extracted and why.
// A folder that could not be made is named first: "docs: Permission denied".
EntryResult Fail(MessageSink& messages, std::string_view name, EntryResult result) {
    const char* reason = result.error != 0 ? std::strerror(result.error) : result.detail;
    if (result.folder.empty()) {
        messages.ReportFailure({kExtractFailedText, kErrorCaption, name, reason});
    } else {
        const std::string whose = result.folder + ": " + reason;
        messages.ReportFailure({kExtractFailedText, kErrorCaption, name, whose});
    }
    return result;
}

} // namespace

// What a failed write gives: the file emptied, the failure told with the system's reason.
EntryResult EntryWriter::WriteFailed(ByteSink* out, MessageSink& messages,
                                     std::string_view name) const {
    const int error = SystemError();
    out->Empty();
    return Fail(messages, name, Result(EntryOutcome::NotWritten, "cannot write the file", error));
}

const char* OutcomeWord(EntryOutcome outcome) {
    switch (outcome) {
    case EntryOutcome::Written:
        return "written";
    case EntryOutcome::Refused:
        return "refused";
    case EntryOutcome::NotWritten:
        return "not written";
    case EntryOutcome::Damaged:
        return "damaged";
    case EntryOutcome::Stopped:
        return "stopped";
    case EntryOutcome::Kept:
        return "kept";
    }
    return "";
}

void ExtractSummary::Add(EntryOutcome outcome) {
    switch (outcome) {
    case EntryOutcome::Written:
        ++written;
        break;
    case EntryOutcome::Refused:
        ++refused;
        break;
    case EntryOutcome::NotWritten:
        ++notWritten;
        break;
    case EntryOutcome::Damaged:
        ++damaged;
        break;
    case EntryOutcome::Stopped:
        ++stopped;
        break;
    case EntryOutcome::Kept:
        ++kept;
        break;
    }
}

ExtractSummary& ExtractSummary::operator+=(const ExtractSummary& other) {
    written += other.written;
    refused += other.refused;
    notWritten += other.notWritten;
    damaged += other.damaged;
    stopped += other.stopped;
    kept += other.kept;
    return *this;
}

EntryWriter::Buffer::~Buffer() {
    std::free(data);
}

bool EntryWriter::Obtain(Buffer& buffer, std::size_t bytes) {
    if (bytes <= buffer.capacity)
        return true;
    if (bytes > bufferLimit_)
        return false;
    std::free(buffer.data);
    buffer.data = nullptr;
    buffer.capacity = 0;
    // Large buffers on huge pages: the kernel copies them into the page cache noticeably faster.
    constexpr std::size_t kHuge = 2 << 20;
    if (bytes >= kHuge) {
        const std::size_t rounded = (bytes + kHuge - 1) / kHuge * kHuge;
        buffer.data = static_cast<unsigned char*>(std::aligned_alloc(kHuge, rounded));
        if (buffer.data) {
            ::madvise(buffer.data, rounded, MADV_HUGEPAGE);
            buffer.capacity = rounded;
        }
    } else {
        buffer.data = static_cast<unsigned char*>(std::malloc(bytes));
        buffer.capacity = buffer.data ? bytes : 0;
    }
    return buffer.data != nullptr;
}

const unsigned char* EntryWriter::ReadPacked(const DirectoryEntry& entry, bool& noMemory) {
    noMemory = false;
    if (const unsigned char* data = bytes_.ReadThroughWindow(entry.dataOffset, entry.packedSize))
        return data;
    if (!Obtain(packed_, entry.packedSize)) {
        noMemory = true;
        return nullptr;
    }
    if (bytes_.ReadAt(packed_.data, entry.packedSize, entry.dataOffset) < entry.packedSize)
        return nullptr;
    return packed_.data;
}

EntryWriter::PieceWrite EntryWriter::WriteInPieces(ByteSink* out, const unsigned char* data,
                                                   std::size_t length) const {
    for (std::size_t done = 0; done < length; done += kCopyPiece * 16) {
        if (!out->Write(data + done, std::min(length - done, kCopyPiece * 16)))
            return PieceWrite::Failed;
        if (!BetweenPieces())
            return PieceWrite::Stopped;
    }
    return PieceWrite::Done;
}

EntryResult EntryWriter::WriteEntry(const DatArchive& archive, std::uint32_t index,
                                    Destination& destination, MessageSink& messages) {
    const DirectoryEntry& entry = archive.Entries()[index].entry;
    if (StopAsked())
        return Result(EntryOutcome::Stopped, "the run was stopped");
    const auto path = ParseEntryPath(archive.EntryName(index));
    if (!path)
        return Fail(messages, archive.EntryName(index),
                    Result(EntryOutcome::Refused, kOutsideDestinationReason));
    Output output;
    switch (destination.CreateOutput(*path, output)) {
    case Destination::Status::Ok:
        break;
    case Destination::Status::Exists:
        return Result(EntryOutcome::Kept, "the file exists");
    case Destination::Status::Refused:
        return Fail(messages, archive.EntryName(index),
                    Result(EntryOutcome::Refused, "a symlink is in the way"));
    case Destination::Status::Hidden:
        return Fail(messages, archive.EntryName(index),
                    Result(EntryOutcome::Refused, "a hidden name (a part begins with '.')"));
    case Destination::Status::Archive:
        return Fail(messages, archive.EntryName(index),
                    Result(EntryOutcome::Refused, "it is the archive being read"));
    case Destination::Status::ReadOnly:
        return Fail(messages, archive.EntryName(index),
                    Result(EntryOutcome::NotWritten, "a read-only file is in the way"));
    case Destination::Status::Failed:
        if (!output.blockedFolder.empty()) {
            EntryResult blocked =
                Result(EntryOutcome::NotWritten, "cannot make the folder", output.error);
            blocked.folder = std::move(output.blockedFolder);
            return Fail(messages, archive.EntryName(index), std::move(blocked));
        }
        return Fail(messages, archive.EntryName(index),
                    Result(EntryOutcome::NotWritten, "cannot create the file", output.error));
    }

    DescriptorSink sink(output.fd, true);
    EntryResult result = DecodeEntry(archive, index, sink, messages);
    // A stopped entry leaves nothing; the file that was there stays as it was unless the whole
    // entry is ready to take its place: a damaged entry never replaces it.
    if (result.outcome == EntryOutcome::Stopped ||
        (output.Replacing() && result.outcome != EntryOutcome::Written)) {
        destination.DiscardOutput(output);
        return result;
    }
    const bool replacing = output.Replacing();
    const Destination::Commit commit = destination.CommitOutput(output);
    // A failure already told is not told twice.
    if (commit == Destination::Commit::Done || result.outcome == EntryOutcome::NotWritten)
        return result;
    const char* detail = commit == Destination::Commit::WriteFailed ? "cannot write the file"
                         : replacing                                ? "cannot replace the file"
                                                                    : "cannot create the file";
    return Fail(messages, entry.Name(), Result(EntryOutcome::NotWritten, detail, output.error));
}

EntryResult EntryWriter::CopyStored(const DirectoryEntry& entry, ByteSink* out,
                                    MessageSink& messages) {
    const std::uint64_t available = bytes_.AvailableFrom(entry.dataOffset);
    const std::uint64_t length = std::min<std::uint64_t>(entry.realSize, available);
    // A small file is one write from the window: cheaper than setting up a copy in the kernel.
    if (const unsigned char* data = bytes_.ReadThroughWindow(entry.dataOffset, length)) {
        if (out && !out->Write(data, length))
            return WriteFailed(out, messages, entry.Name());
        return length < entry.realSize
                   ? Result(EntryOutcome::Damaged, "data runs past the end of the archive")
                   : Result(EntryOutcome::Written, "");
    }
    if (!Obtain(real_, std::size_t(std::min<std::uint64_t>(length, kCopyPiece)))) {
        return Fail(messages, entry.Name(), Result(EntryOutcome::NotWritten, "no memory"));
    }
    std::uint64_t done = 0;
    if (out && out->Descriptor() >= 0) {
        switch (bytes_.CopyTo(out->Descriptor(), entry.dataOffset, length, done,
                              [this] { return BetweenPieces(); })) {
        case KernelCopy::Done:
            return done < entry.realSize
                       ? Result(EntryOutcome::Damaged, "data runs past the end of the archive")
                       : Result(EntryOutcome::Written, "");
        case KernelCopy::WriteFailed:
            return WriteFailed(out, messages, entry.Name());
        case KernelCopy::Stopped:
            return Result(EntryOutcome::Stopped, "the run was stopped");
        case KernelCopy::Unsupported:
            break; // the rest by hand, from where the kernel stopped
        }
    }
    while (done < length) {
        const std::size_t want = std::size_t(std::min<std::uint64_t>(length - done, kCopyPiece));
        const std::size_t got =
            bytes_.ReadAt(real_.data, want, std::uint64_t(entry.dataOffset) + done);
        if (got > 0 && out && !out->Write(real_.data, got))
            return WriteFailed(out, messages, entry.Name());
        done += got;
        if (got < want)
            break;
        if (!BetweenPieces())
            return Result(EntryOutcome::Stopped, "the run was stopped");
    }
    if (done < entry.realSize)
        return Result(EntryOutcome::Damaged, "data runs past the end of the archive");
    return Result(EntryOutcome::Written, "");
}

EntryResult EntryWriter::Inflate(const DirectoryEntry& entry, ByteSink* out,
                                 MessageSink& messages) {
    if (entry.packedSize > bytes_.AvailableFrom(entry.dataOffset))
        return Result(EntryOutcome::Damaged, "data runs past the end of the archive");
    if (!RealSizeIsPossible(entry.packedSize, entry.realSize))
        return Result(EntryOutcome::Damaged, "real size is more than the data can hold");
    if (entry.realSize > wholeLimit_ || entry.packedSize > wholeLimit_)
        return InflateInPieces(entry, out, messages);
    bool noMemory = !Obtain(real_, entry.realSize);
    const unsigned char* packed = noMemory ? nullptr : ReadPacked(entry, noMemory);
    if (noMemory) {
        return Fail(messages, entry.Name(), Result(EntryOutcome::NotWritten, "no memory"));
    }
    if (!packed)
        return Result(EntryOutcome::Damaged, "cannot read the data");

    // A zero-size entry still has its stream checked, into a one-byte stand-in.
    unsigned char none = 0;
    unsigned char* target = entry.realSize ? real_.data : &none;
    if (!BetweenPieces())
        return Result(EntryOutcome::Stopped, "the run was stopped");
    std::size_t inflated = 0;
    bool haveInflater = true;
    const InflateStatus status =
        whole_.Inflate(packed, entry.packedSize, target, entry.realSize, inflated, haveInflater);
    if (!haveInflater) {
        return Fail(messages, entry.Name(), Result(EntryOutcome::NotWritten, "no memory"));
    }
    if (!BetweenPieces())
        return Result(EntryOutcome::Stopped, "the run was stopped");
    if (status == InflateStatus::Failed)
        return Result(EntryOutcome::Damaged, "zlib stream does not inflate");

    EntryResult result = Result(EntryOutcome::Written, "");
    if (status == InflateStatus::Short) {
        // The record and the data disagree: the file still gets its full size, zero-filled,
        // never with bytes left over from an earlier entry.
        std::memset(real_.data + inflated, 0, entry.realSize - inflated);
        result = Result(EntryOutcome::Damaged, "inflates to fewer bytes than its size");
    }
    if (out) {
        switch (WriteInPieces(out, real_.data, entry.realSize)) {
        case PieceWrite::Done:
            break;
        case PieceWrite::Stopped:
            return Result(EntryOutcome::Stopped, "the run was stopped");
        case PieceWrite::Failed:
            return WriteFailed(out, messages, entry.Name());
        }
    }
    return result;
}

EntryResult EntryWriter::DecodeEntry(const DatArchive& archive, std::uint32_t index, ByteSink& sink,
                                     MessageSink& messages) {
    const DirectoryEntry& entry = archive.Entries()[index].entry;
    bytes_.Bind(archive);
    ByteSink* out = sink.Wants() ? &sink : nullptr;
    return entry.IsPacked() ? Inflate(entry, out, messages) : CopyStored(entry, out, messages);
}

EntryResult EntryWriter::WriteEntryTo(const DatArchive& archive, std::uint32_t index, int out,
                                      MessageSink& messages) {
    // The descriptor is the caller's and may hold more than this entry: never cut it short.
    DescriptorSink sink(out, false);
    return DecodeEntry(archive, index, sink, messages);
}

EntryResult EntryWriter::InflateInPieces(const DirectoryEntry& entry, ByteSink* out,
                                         MessageSink& messages) {
    const std::size_t inPiece = std::min<std::size_t>(entry.packedSize, kCopyPiece);
    const std::size_t outPiece = std::min<std::size_t>(std::max(entry.realSize, 1u), kCopyPiece);
    if (!Obtain(packed_, std::max<std::size_t>(inPiece, 1)) || !Obtain(real_, outPiece) ||
        !pieces_.Begin(entry.realSize)) {
        return Fail(messages, entry.Name(), Result(EntryOutcome::NotWritten, "no memory"));
    }
    // Whatever was written of a stream found broken half-way goes again: the file is left
    // empty, as when the whole stream is refused at once.
    auto damaged = [out](const char* detail) {
        if (out)
            out->Empty();
        return Result(EntryOutcome::Damaged, detail);
    };
    std::uint64_t read = 0;
    for (;;) {
        std::size_t produced = 0;
        const PieceInflater::Step step = pieces_.Inflate(real_.data, outPiece, produced);
        // An empty entry whose stream holds one byte passes, as in uncompress; the byte is not
        // the entry's.
        if (produced && entry.realSize && out && !out->Write(real_.data, produced))
            return WriteFailed(out, messages, entry.Name());
        if (step == PieceInflater::Step::Ended)
            break;
        if (step == PieceInflater::Step::Failed)
            return damaged("zlib stream does not inflate");
        if (step == PieceInflater::Step::NeedsInput) {
            if (read == entry.packedSize)
                return damaged("zlib stream does not inflate");
            const auto want =
                std::size_t(std::min<std::uint64_t>(entry.packedSize - read, inPiece));
            if (bytes_.ReadAt(packed_.data, want, entry.dataOffset + read) < want)
                return damaged("cannot read the data");
            pieces_.Feed(packed_.data, want);
            read += want;
        }
        if (!BetweenPieces())
            return Result(EntryOutcome::Stopped, "the run was stopped");
    }
    if (pieces_.Produced() >= entry.realSize)
        return Result(EntryOutcome::Written, "");
    // Short: the rest of the file is zeros, as the whole-buffer path gives it.
    if (out) {
        std::memset(real_.data, 0, outPiece);
        for (std::uint64_t at = pieces_.Produced(); at < entry.realSize;) {
            const auto n = std::size_t(std::min<std::uint64_t>(entry.realSize - at, outPiece));
            if (!out->Write(real_.data, n))
                return WriteFailed(out, messages, entry.Name());
            at += n;
            if (!BetweenPieces())
                return Result(EntryOutcome::Stopped, "the run was stopped");
        }
    }
    return Result(EntryOutcome::Damaged, "inflates to fewer bytes than its size");
}

EntryResult EntryWriter::TestEntry(const DatArchive& archive, std::uint32_t index,
                                   MessageSink& messages) {
    NowhereSink nowhere;
    return DecodeEntry(archive, index, nowhere, messages);
}

Extractor::Extractor(const DatArchive& archive, MessageSink& messages, ProgressSink& progress)
    : archive_(archive), messages_(messages), progress_(progress) {}

bool Extractor::OpenDestination(Destination& destination) {
    if (destination.Open(destinationFolder_)) {
        destination.ProtectArchive(archive_.FileDescriptor());
        return true;
    }
    Fail(messages_, {}, Result(EntryOutcome::NotWritten, "", SystemError()));
    return false;
}

EntryResult Extractor::ExtractEntry(int row) {
    if (row < 0 || std::uint32_t(row) >= archive_.Entries().size() || !archive_.IsOpen())
        return Result(EntryOutcome::Written, "");
    Destination destination;
    if (!OpenDestination(destination))
        return Result(EntryOutcome::NotWritten, "cannot open the destination folder");
    const std::uint32_t entry = std::uint32_t(row);
    EntryResult result;
    RunExtraction(archive_,
                  {.entries = std::span(&entry, 1),
                   .destination = &destination,
                   .stop = writer_.StopFlag(),
                   .settings = &writer_,
                   .damagedIsFailure = true},
                  messages_, [&](std::size_t, std::uint32_t, const EntryResult& r) { result = r; });
    return result;
}

ExtractSummary Extractor::ExtractAll() {
    ExtractSummary summary;
    progress_.SetPosition(0);
    if (!archive_.IsOpen())
        return summary;
    const auto count = std::uint32_t(archive_.Entries().size());
    Destination destination;
    if (!OpenDestination(destination)) {
        summary.notWritten = count;
        return summary;
    }
    std::vector<std::uint32_t> all(count);
    std::iota(all.begin(), all.end(), 0u);
    summary = ExtractInto(destination, all);
    // A run that was stopped leaves the bar where it got to.
    if (summary.Total() == count && summary.stopped == 0)
        progress_.SetPosition(0);
    return summary;
}

ExtractSummary Extractor::ExtractInto(
    Destination& destination, std::span<const std::uint32_t> entries,
    const std::function<void(std::size_t, std::uint32_t, const EntryResult&)>& report) {
    return RunExtraction(
        archive_,
        {.entries = entries,
         .destination = &destination,
         .workers = std::max(poolWorkers_, 1u),
         .stop = writer_.StopFlag(),
         .whileWaiting = poolWorkers_ > 0 ? whileWaiting_ : std::function<void()>(),
         .settings = &writer_,
         .damagedIsFailure = true},
        messages_, [&](std::size_t position, std::uint32_t index, const EntryResult& result) {
            progress_.SetPosition(std::uint32_t(position + 1));
            if (report)
                report(position, index, result);
        });
}
