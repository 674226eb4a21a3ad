// The one way entries are extracted, tested or copied out, for the command line and the window: by
// a small pool of worker threads, or on this thread when one is asked for.
// Each worker has its own staging buffers; the folder cache is shared. Whatever order the entries
// finish in, their messages and results are handed on in the order they were asked for, so the
// output reads as a sequential run would.
#pragma once

#include "DatArchive.h"
#include "Destination.h"
#include "Extraction.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <span>

// Called on the calling thread, in selection order, once an entry's messages have been shown.
using EntryReport =
    std::function<void(std::size_t position, std::uint32_t index, const EntryResult& result)>;

// One extraction: the entries chosen, where they go, how many at a time, and how to stop it.
struct ExtractionJob {
    std::span<const std::uint32_t> entries{};
    // Where the entries go: files beneath destination; or else every entry's data, in the
    // order chosen, to descriptor (one at a time); or, with neither, nowhere: they are read and
    // inflated only (vdat test).
    Destination* destination = nullptr;
    int descriptor = -1;
    unsigned workers = 1;
    // Once *stop is true, no further entry is started and the entries being written end between
    // two pieces (see EntryWriter::SetStopFlag); entries never started are not reported. A
    // failure the user answers with Stop ends the run the same way, and nothing after that
    // entry is reported; while a failure is being shown no new entry is started.
    const std::atomic<bool>* stop = nullptr;
    // Without it this thread writes entries too. With it, `workers` other threads write and this
    // one only reports, calling whileWaiting every few milliseconds (a window paints there).
    std::function<void()> whileWaiting{};
    // The writers take its limits; and, where they run on this thread, its call between pieces.
    const EntryWriter* settings = nullptr;
    // A damaged entry is told as a failure the user answers, as the window tells one; else it is
    // only reported, for the caller to name (vdat's "damaged" lines).
    bool damagedIsFailure = false;
};

// Runs the job: every caller's extraction, test or copy to a descriptor goes through here.
// Messages and reports come in the order the entries were chosen.
ExtractSummary RunExtraction(const DatArchive& archive, const ExtractionJob& job,
                             MessageSink& messages, const EntryReport& report);
