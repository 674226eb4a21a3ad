// The vdat commands on top of the archive library.
#include "Commands.h"

#include "DatArchive.h"
#include "Extraction.h"
#include "Interruption.h"
#include "ParallelExtraction.h"
#include "TerminalSinks.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <thread>
#include <unistd.h>

namespace {
void ReportEntry(const DatArchive& archive, std::uint32_t index, const EntryResult& result) {
    if (result.outcome == EntryOutcome::Written)
        return;
    const std::string name = EscapedName(archive.Entries()[index].entry.Name());
    std::fprintf(stderr, "vdat: %s: %s (%s)\n", name.c_str(), OutcomeWord(result.outcome),
                 result.detail);
}

// Opens and loads the archive; false if it could not be opened. cutShort tells whether the
// directory held fewer records than the header claims.
bool Load(DatArchive& archive, const std::string& path, bool& cutShort) {
    if (!archive.Open(path))
        return false;
    archive.LoadDirectory();
    cutShort = archive.IsDirectoryCutShort();
    return true;
}

// Entries named on the command line, in directory order; names that match nothing are told.
bool SelectEntries(const DatArchive& archive, const std::vector<std::string>& names,
                   std::vector<std::uint32_t>& selected) {
    const auto entries = archive.Entries();
    if (names.empty()) {
        selected.resize(entries.size());
        for (std::uint32_t i = 0; i < selected.size(); ++i)
            selected[i] = i;
        return true;
    }
    std::vector<bool> chosen(entries.size(), false);
    bool allFound = true;
    for (const std::string& name : names) {
        // The name as stored, or with each '/' read as a backslash: a stored name may hold a '/'.
        std::string backslashed = name;
        std::replace(backslashed.begin(), backslashed.end(), '/', '\\');
        bool found = false;
        for (std::uint32_t i = 0; i < entries.size(); ++i) {
            if (entries[i].entry.Name() == name || entries[i].entry.Name() == backslashed) {
                chosen[i] = true;
                found = true;
            }
        }
        if (!found) {
            std::fprintf(stderr, "vdat: no entry named '%s'\n", EscapedName(name).c_str());
            allFound = false;
        }
    }
    for (std::uint32_t i = 0; i < chosen.size(); ++i)
        if (chosen[i])
            selected.push_back(i);
    return allFound;
}
} // namespace

int RunInfo(const std::string& path) {
    TerminalMessages messages;
    NullListSink list;
    NullProgressSink progress;
    DatArchive archive(messages, list, progress);
    const bool opened = archive.Open(path);
    // As in the window, the values of the last attempt are shown even when it failed.
    const std::string text = InfoText(archive);
    std::fwrite(text.data(), 1, text.size(), stdout);
    if (std::fflush(stdout) != 0)
        return kExitFailed;
    return opened && !archive.IsDirectoryCutShort() ? kExitOk : kExitFailed;
}

int RunList(const std::string& path) {
    TerminalMessages messages;
    OutputBuffer out(stdout);
    TerminalList list(out);
    NullProgressSink progress;
    DatArchive archive(messages, list, progress);
    if (!archive.Open(path))
        return kExitFailed;
    archive.ListDirectory();
    const bool cutShort = archive.IsDirectoryCutShort();
    if (!out.Flush()) {
        std::fprintf(stderr, "vdat: cannot write the list\n");
        return kExitFailed;
    }
    return cutShort ? kExitFailed : kExitOk;
}

int RunTest(const std::string& path) {
    TerminalMessages messages;
    NullListSink list;
    NullProgressSink progress;
    DatArchive archive(messages, list, progress);
    bool cutShort = false;
    if (!Load(archive, path, cutShort))
        return kExitFailed;
    EntryWriter writer;
    ExtractSummary summary;
    const auto count = std::uint32_t(archive.Entries().size());
    for (std::uint32_t i = 0; i < count; ++i) {
        const EntryResult result = writer.TestEntry(archive, i, messages);
        summary.Add(result.outcome);
        ReportEntry(archive, i, result);
    }
    std::fprintf(stderr, "vdat: %u entries tested, %u damaged, %u not read\n", unsigned(count),
                 unsigned(summary.damaged), unsigned(summary.notWritten));
    return cutShort || !summary.AllWritten() ? kExitFailed : kExitOk;
}

int RunExtract(const ExtractOptions& options) {
    TerminalMessages messages;
    TerminalProgress progress(::isatty(STDERR_FILENO) == 1);
    messages.progress = &progress;
    NullListSink list;
    NullProgressSink loading;
    DatArchive archive(messages, list, loading);
    bool cutShort = false;
    if (!Load(archive, options.archive, cutShort))
        return kExitFailed;

    std::vector<std::uint32_t> selected;
    const bool allFound = SelectEntries(archive, options.names, selected);

    // Like unzip -d, a destination that does not exist yet is made.
    std::error_code ignored;
    std::filesystem::create_directories(options.destination, ignored);
    Destination destination;
    if (!destination.Open(options.destination)) {
        std::fprintf(stderr, "vdat: cannot open the destination folder '%s'\n",
                     options.destination.c_str());
        return kExitFailed;
    }
    const unsigned jobs =
        options.jobs ? options.jobs : std::max(1u, std::thread::hardware_concurrency());
    progress.SetRange(std::uint32_t(selected.size()));
    // From here on a signal stops the run instead of ending the program in the middle of a file.
    Interruption interruption;
    const ExtractSummary summary = ExtractInParallel(
        archive, selected, destination, jobs, messages,
        [&](std::size_t position, std::uint32_t index, const EntryResult& result) {
            if (result.outcome != EntryOutcome::Written) {
                if (interruption.Arrived())
                    progress.End();
                else
                    progress.Finish();
                ReportEntry(archive, index, result);
            }
            progress.SetPosition(std::uint32_t(position + 1));
        },
        interruption.Flag());
    if (interruption.Arrived())
        progress.End();
    else
        progress.Finish();
    std::fprintf(stderr, "vdat: %u written, %u refused, %u damaged, %u not written",
                 unsigned(summary.written), unsigned(summary.refused), unsigned(summary.damaged),
                 unsigned(summary.notWritten));
    if (interruption.Arrived()) {
        const std::uint32_t reported = summary.written + summary.refused + summary.damaged +
                                       summary.notWritten + summary.stopped;
        std::fprintf(stderr, ", %u stopped, %u not started: interrupted\n",
                     unsigned(summary.stopped), unsigned(selected.size() - reported));
        interruption.EndBySignal();
    }
    std::fputc('\n', stderr);
    return cutShort || !allFound || !summary.AllWritten() ? kExitFailed : kExitOk;
}
