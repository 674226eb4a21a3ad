// Writing entries of the open archive out as files: one entry on a double click, or all of
// them in directory order with the progress bar moving.
#pragma once

#include "ArchiveBytes.h"
#include "ByteSink.h"
#include "DatArchive.h"
#include "Destination.h"
#include "Inflate.h"
#include "Sinks.h"
#include "Texts.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <unistd.h>

enum class EntryOutcome {
    Written,    // the file holds the entry's data
    Refused,    // the name or the destination would lead outside; nothing was created
    NotWritten, // the output could not be created or written, or no memory for it
    Damaged,    // the entry's data is broken; the file is empty or holds what could be read
    Stopped,    // the run was asked to stop while this entry was being written; nothing of it stays
    Kept,       // a file of that name existed and was left alone, as asked
};

struct EntryResult {
    EntryOutcome outcome = EntryOutcome::Written;
    const char* detail = ""; // why, in a few words, for the command line
    int error = 0;           // errno where a system call failed it; 0 for any other reason
    std::string folder;      // the folder that could not be made, when that is why
};

struct ExtractSummary {
    std::uint32_t written = 0;
    std::uint32_t refused = 0;
    std::uint32_t notWritten = 0;
    std::uint32_t damaged = 0;
    std::uint32_t stopped = 0;
    std::uint32_t kept = 0;

    void Add(EntryOutcome outcome);
    ExtractSummary& operator+=(const ExtractSummary& other);
    // Every entry reported, whatever became of it.
    std::uint32_t Total() const {
        return written + refused + notWritten + damaged + stopped + kept;
    }
    bool AllWritten() const {
        return refused == 0 && notWritten == 0 && damaged == 0 && stopped == 0;
    }
};

// "written", "refused", "not written", "damaged", "stopped" or "kept", as summaries and reports
// name outcomes.
const char* OutcomeWord(EntryOutcome outcome);

// Passes messages on and remembers whether the user answered a failure with Stop.
class AnswerKeeper : public MessageSink {
public:
    explicit AnswerKeeper(MessageSink& inner) : inner_(inner) {}
    void ShowMessage(std::string_view text, std::string_view caption) override {
        inner_.ShowMessage(text, caption);
    }
    FailureAnswer ReportFailure(const FailureReport& failure) override {
        const FailureAnswer answer = inner_.ReportFailure(failure);
        stop = stop || answer == FailureAnswer::Stop;
        return answer;
    }
    bool stop = false;

private:
    MessageSink& inner_;
};

// Writes single entries. Owns the staging buffers, which are kept and reused from one entry to
// the next so that large entries do not pay for fresh pages every time. Entries up to
// kWholeEntryLimit (real and packed size) are inflated whole; larger ones in pieces, written as
// they come, so a writer never holds more than about twice that limit whatever the archive.
inline constexpr std::size_t kWholeEntryLimit = 32u << 20;

class EntryWriter {
public:
    EntryWriter() = default;
    EntryWriter(const EntryWriter&) = delete;
    EntryWriter& operator=(const EntryWriter&) = delete;

    // The one entry decoder: the entry's bytes, read, checked and inflated when packed, to sink.
    // The outcome tells what it gave: written, damaged (with why; the sink holds what could be
    // had, or was emptied), not written, or stopped.
    EntryResult DecodeEntry(const DatArchive& archive, std::uint32_t index, ByteSink& sink,
                            MessageSink& messages);

    // DecodeEntry into a file of the entry's name beneath destination.
    EntryResult WriteEntry(const DatArchive& archive, std::uint32_t index, Destination& destination,
                           MessageSink& messages);

    // Writes the entry's data to an open descriptor (a pipe, a terminal, a file) instead of a
    // file of its own.
    EntryResult WriteEntryTo(const DatArchive& archive, std::uint32_t index, int out,
                             MessageSink& messages);

    // Reads and inflates the entry exactly as WriteEntry does, without writing anything.
    EntryResult TestEntry(const DatArchive& archive, std::uint32_t index, MessageSink& messages);

    // Staging buffers larger than this count as memory that cannot be obtained (a test seam).
    void SetBufferLimit(std::size_t bytes) {
        bufferLimit_ = bytes;
        bytes_.SetMemoryLimit(bytes);
    }
    // Packed entries larger than this are inflated in pieces (a test seam; kWholeEntryLimit).
    void SetWholeEntryLimit(std::size_t bytes) { wholeLimit_ = bytes; }
    // Called between the pieces of one entry, so a window can repaint during a large one.
    void SetBetweenPieces(std::function<void()> callback) { betweenPieces_ = std::move(callback); }
    // Once *stop is true (set from another thread or a signal handler), the entry being written
    // ends between two pieces, its output is removed, and no further entry is started.
    void SetStopFlag(const std::atomic<bool>* stop) { stop_ = stop; }
    bool StopAsked() const { return stop_ && stop_->load(std::memory_order_relaxed); }
    const std::atomic<bool>* StopFlag() const { return stop_; }
    // Takes other's limits (buffers, whole entries) and, with betweenPieces, its call between
    // pieces: how a run's writers are set up like the one a caller configured.
    void TakeSettings(const EntryWriter& other, bool betweenPieces) {
        SetBufferLimit(other.bufferLimit_);
        wholeLimit_ = other.wholeLimit_;
        if (betweenPieces)
            betweenPieces_ = other.betweenPieces_;
    }
    std::size_t BufferBytes() const {
        return packed_.capacity + real_.capacity + bytes_.WindowBytes();
    }

private:
    struct Buffer {
        unsigned char* data = nullptr;
        std::size_t capacity = 0;
        ~Buffer();
    };
    bool Obtain(Buffer& buffer, std::size_t bytes);
    // out null: read and check only.
    EntryResult CopyStored(const DirectoryEntry& entry, ByteSink* out, MessageSink& messages);
    EntryResult Inflate(const DirectoryEntry& entry, ByteSink* out, MessageSink& messages);
    EntryResult InflateInPieces(const DirectoryEntry& entry, ByteSink* out, MessageSink& messages);

    // Where the entry's packed bytes are now, or null when the file does not hold them all.
    const unsigned char* ReadPacked(const DirectoryEntry& entry, bool& noMemory);
    enum class PieceWrite { Done, Failed, Stopped };
    PieceWrite WriteInPieces(ByteSink* out, const unsigned char* data, std::size_t length) const;
    // What a failed write gives: the sink emptied, the failure told with the system's reason.
    EntryResult WriteFailed(ByteSink* out, MessageSink& messages, std::string_view name) const;
    // Lets the window paint; false when the run is to stop here.
    bool BetweenPieces() const {
        if (betweenPieces_)
            betweenPieces_();
        return !StopAsked();
    }

    Buffer packed_;
    Buffer real_;
    ArchiveBytes bytes_; // bound to the archive of the entry being written
    std::size_t bufferLimit_ = SIZE_MAX;
    std::size_t wholeLimit_ = kWholeEntryLimit;
    WholeInflater whole_;
    PieceInflater pieces_;
    std::function<void()> betweenPieces_;
    const std::atomic<bool>* stop_ = nullptr;
};

class Extractor {
public:
    Extractor(const DatArchive& archive, MessageSink& messages, ProgressSink& progress);

    // The folder entries are written beneath; "." (the current folder at the time of the
    // command) unless set.
    void SetDestination(std::string folder) { destinationFolder_ = std::move(folder); }
    // How the writers of every command are set up: their limits, stop flag and (on this
    // thread) the call between pieces. It writes nothing itself: commands run as jobs
    // (RunExtraction), each with writers of its own.
    EntryWriter& Writer() { return writer_; }
    // From now on ExtractAll runs on `workers` threads of the pool while this thread only
    // reports, calling whileWaiting between reports; results, messages and the progress bar
    // still come in directory order. Without it, ExtractAll writes on this thread.
    void UsePool(unsigned workers, std::function<void()> whileWaiting) {
        poolWorkers_ = workers;
        whileWaiting_ = std::move(whileWaiting);
    }

    // Writes the entry shown in list row `row`, on this thread; a row of -1 or past the end does
    // nothing.
    EntryResult ExtractEntry(int row);
    // Writes every entry in directory order, moving the progress bar, and leaves it at 0. Ends
    // early once the writer's stop flag is set, or after an entry whose failure the user
    // answered with Stop; the bar then stays where the run got to.
    ExtractSummary ExtractAll();
    // Writes entries, in the order given, beneath destination as ExtractAll writes them (the
    // writer's settings, the pool, failures told), moving the bar by each; report hears each.
    ExtractSummary ExtractInto(
        Destination& destination, std::span<const std::uint32_t> entries,
        const std::function<void(std::size_t, std::uint32_t, const EntryResult&)>& report = {});

private:
    bool OpenDestination(Destination& destination);

    const DatArchive& archive_;
    MessageSink& messages_;
    ProgressSink& progress_;
    EntryWriter writer_;
    std::string destinationFolder_ = ".";
    unsigned poolWorkers_ = 0;
    std::function<void()> whileWaiting_;
};
