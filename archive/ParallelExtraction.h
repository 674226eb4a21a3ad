// Extraction (and testing) by a small pool of worker threads, for the command line and the window.
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

// Once *stop is true, no further entry is started and the entries being written end between two
// pieces (see EntryWriter::SetStopFlag); entries never started are not reported. A failure the
// user answers with Stop ends the run the same way, and nothing after that entry is reported;
// while a failure is being shown no new entry is started.
// Without whileWaiting this thread writes entries too. With it, `workers` other threads write
// and this one only reports, calling whileWaiting every few milliseconds (a window paints there).
ExtractSummary ExtractInParallel(const DatArchive& archive, std::span<const std::uint32_t> selected,
                                 Destination& destination, unsigned workers, MessageSink& messages,
                                 const EntryReport& report, const std::atomic<bool>* stop = nullptr,
                                 const std::function<void()>& whileWaiting = {});

// Reads and inflates the selected entries as ExtractInParallel would write them, writing nothing
// (EntryWriter::TestEntry on every worker); reports and messages in selection order.
ExtractSummary TestInParallel(const DatArchive& archive, std::span<const std::uint32_t> selected,
                              unsigned workers, MessageSink& messages, const EntryReport& report,
                              const std::atomic<bool>* stop = nullptr);
