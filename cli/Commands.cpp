// The vdat commands that read an archive, on top of the archive library.
#include "Commands.h"

#include "DatArchive.h"
#include "EntryNames.h"
#include "Extraction.h"
#include "InPlaceChange.h"
#include "Interruption.h"
#include "ListOutput.h"
#include "ParallelExtraction.h"
#include "Selection.h"
#include "TerminalSinks.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <thread>
#include <unistd.h>

namespace {
// The names entries are shown, matched and written under: as stored, or read in the code page
// asked for. A name that does not convert keeps its stored bytes and is marked.
struct EntryNames {
    ReadNames read; // empty without --charset
    std::string codePage;

    std::string_view Shown(const DatArchive& archive, std::uint32_t i) const {
        return read.text.empty() ? archive.Entries()[i].entry.Name()
                                 : std::string_view(read.text[i]);
    }
    int Error(std::uint32_t i) const { return read.errors.empty() ? 0 : read.errors[i]; }
};

EntryNames ReadEntryNames(const DatArchive& archive, NameReader& charset) {
    EntryNames names;
    if (!charset.IsCodePage())
        return names;
    names.codePage = charset.CodePage();
    const auto entries = archive.Entries();
    names.read = ReadNames::Of(
        entries.size(), [&](std::size_t i) { return entries[i].entry.Name(); }, charset);
    return names;
}

void ReportNameError(std::string_view name, const std::string& codePage, int error) {
    PrintLine(name, "Can`t Extract file",
              std::string("refused: ") + kNotInCodePageReason + codePage + ": " +
                  std::strerror(error));
}

void ReportEntry(std::string_view name, const EntryResult& result) {
    if (result.outcome == EntryOutcome::Written || result.outcome == EntryOutcome::Kept)
        return;
    std::string reason = result.detail;
    if (!result.folder.empty())
        reason.append(" ").append(result.folder);
    if (result.error)
        reason.append(": ").append(std::strerror(result.error));
    if (result.outcome == EntryOutcome::Damaged || result.outcome == EntryOutcome::Stopped) {
        PrintLine(name, OutcomeWord(result.outcome), reason);
    } else {
        PrintLine(name, kExtractFailedText,
                  std::string(OutcomeWord(result.outcome)) + ": " + reason);
    }
}

void Attach(TerminalMessages& messages, const DatArchive& archive, const Options& options) {
    messages.subject = options.archive;
    messages.archive = &archive;
    messages.entryLines = true;
}

// For the commands that go through the entries: the names' code page, then the archive and its
// whole directory. kExitOk, or the status to end with; cutShort tells whether the directory held
// fewer records than the header claims.
int Load(DatArchive& archive, TerminalMessages& messages, const Options& options,
         NameReader& charset, bool& cutShort) {
    Attach(messages, archive, options);
    if (!OpenCharset(charset, options.charset))
        return kExitUsage;
    if (!archive.Open(options.archive))
        return kExitFailed;
    archive.LoadDirectory();
    cutShort = archive.IsDirectoryCutShort();
    return kExitOk;
}

// The summary line; ended by the caller when it has more to say.
void PrintSummary(const ExtractSummary& summary, bool withKept, bool end = true) {
    std::string kept;
    if (withKept)
        kept = std::to_string(summary.kept) + " kept, ";
    std::fprintf(stderr, "vdat: %u written, %s%u refused, %u damaged, %u not written%s",
                 unsigned(summary.written), kept.c_str(), unsigned(summary.refused),
                 unsigned(summary.damaged), unsigned(summary.notWritten), end ? "\n" : "");
}
} // namespace

int RunInfo(const Options& options) {
    TerminalMessages messages;
    NullListSink list;
    NullProgressSink progress;
    DatArchive archive(messages, list, progress);
    Attach(messages, archive, options);
    if (!archive.Open(options.archive))
        return kExitFailed; // nothing on stdout: a script must not read zeroes as values
    std::string text = InfoText(archive);
    if (options.longList) {
        archive.LoadDirectory();
        const auto entries = archive.Entries();
        const ArchiveHeader header{archive.Identifier(), archive.DirectoryOffset(),
                                   archive.DirectorySize()};
        text += UnusedBytesLine(
            MeasureUsage(archive.FileSize(), header, entries.size(),
                         [&](std::size_t i) -> const DirectoryEntry& { return entries[i].entry; })
                .unused);
    }
    std::fwrite(text.data(), 1, text.size(), stdout);
    if (std::fflush(stdout) != 0)
        return kExitFailed;
    return archive.IsDirectoryCutShort() ? kExitFailed : kExitOk;
}

int RunList(const Options& options) {
    TerminalMessages messages;
    OutputBuffer out(stdout);
    NameReader charset;
    if (!OpenCharset(charset, options.charset))
        return kExitUsage;
    const bool plain =
        !options.longList && !options.json && !options.nullEnded && !charset.IsCodePage();
    TerminalList terminalList(out);
    NullListSink nullList;
    NullProgressSink progress;
    DatArchive archive(messages, plain ? static_cast<ListSink&>(terminalList) : nullList, progress);
    Attach(messages, archive, options);
    if (!archive.Open(options.archive))
        return kExitFailed;
    bool converted = true;
    if (plain) {
        // The common case keeps no table: each record is printed as it is read.
        archive.ListDirectory();
    } else {
        archive.LoadDirectory();
        const EntryNames names = ReadEntryNames(archive, charset);
        ListFormat format = ListFormat::Plain;
        if (options.json)
            format = ListFormat::Json;
        else if (options.longList)
            format = ListFormat::Long;
        ListEntries(archive, format, options.nullEnded, out, [&](std::uint32_t i) {
            if (names.Error(i)) {
                converted = false;
                PrintLine(archive.Entries()[i].entry.Name(), kNotInCodePageReason + names.codePage,
                          std::strerror(names.Error(i)));
            }
            return names.Shown(archive, i);
        });
    }
    const bool cutShort = archive.IsDirectoryCutShort();
    if (!out.Flush()) {
        PrintLine(options.archive, "cannot write the list", std::strerror(errno));
        return kExitFailed;
    }
    return cutShort || !converted ? kExitFailed : kExitOk;
}

int RunTest(const Options& options) {
    TerminalMessages messages;
    NullListSink list;
    NullProgressSink progress;
    DatArchive archive(messages, list, progress);
    NameReader charset;
    bool cutShort = false;
    if (const int status = Load(archive, messages, options, charset, cutShort); status != kExitOk)
        return status;
    const EntryNames names = ReadEntryNames(archive, charset);
    std::vector<std::uint32_t> all(archive.Entries().size());
    for (std::uint32_t i = 0; i < all.size(); ++i)
        all[i] = i;
    const auto count = std::uint32_t(all.size());
    const ExtractSummary summary =
        RunExtraction(archive, {.entries = all, .workers = Workers(options)}, messages,
                      [&](std::size_t, std::uint32_t index, const EntryResult& result) {
                          ReportEntry(names.Shown(archive, index), result);
                      });
    std::fprintf(stderr, "vdat: %u entries tested, %u damaged, %u not read\n", unsigned(count),
                 unsigned(summary.damaged), unsigned(summary.notWritten));
    return cutShort || !summary.AllWritten() ? kExitFailed : kExitOk;
}

int RunExtract(const Options& options) {
    TerminalMessages messages;
    const bool showProgress =
        !options.quiet && !options.verbose && !options.toStdout && ::isatty(STDERR_FILENO) == 1;
    TerminalProgress progress(showProgress);
    messages.progress = &progress;
    NullListSink list;
    NullProgressSink loading;
    DatArchive archive(messages, list, loading);
    NameReader charset;
    bool cutShort = false;
    if (const int status = Load(archive, messages, options, charset, cutShort); status != kExitOk)
        return status;

    EntryNames names = ReadEntryNames(archive, charset);
    std::vector<NamePattern> patterns, excludes;
    for (const std::string& p : options.operands)
        patterns.emplace_back(p);
    for (const std::string& p : options.excludes)
        excludes.emplace_back(p);
    std::vector<std::string_view> shown(archive.Entries().size());
    for (std::uint32_t i = 0; i < shown.size(); ++i)
        shown[i] = names.Shown(archive, i);
    std::vector<bool> matched;
    std::vector<std::uint32_t> selected = SelectNames(shown, patterns, excludes, matched);
    bool allFound = true;
    for (std::size_t p = 0; p < patterns.size(); ++p) {
        if (!matched[p]) {
            PrintNoEntryNamed(patterns[p].Text());
            allFound = false;
        }
    }
    // A name that is not in the code page is refused on its own; the others go on.
    ExtractSummary summary;
    std::erase_if(selected, [&](std::uint32_t i) {
        if (!names.Error(i))
            return false;
        ReportNameError(archive.Entries()[i].entry.Name(), names.codePage, names.Error(i));
        summary.Add(EntryOutcome::Refused);
        return true;
    });
    if (!names.read.text.empty())
        archive.SetEntryNames(std::move(names.read.text));

    // From here on a signal stops the run instead of ending the program in the middle of a file.
    Interruption interruption;
    auto report = [&](std::size_t position, std::uint32_t index, const EntryResult& result) {
        const std::string_view name = archive.EntryName(index);
        if (result.outcome != EntryOutcome::Written && result.outcome != EntryOutcome::Kept) {
            if (interruption.Arrived())
                progress.End();
            else
                progress.Finish();
            ReportEntry(name, result);
        } else if (options.verbose) {
            std::string line = EscapedName(name);
            line += result.outcome == EntryOutcome::Kept ? " (kept)\n" : "\n";
            std::fwrite(line.data(), 1, line.size(), stderr);
        }
        progress.SetPosition(std::uint32_t(position + 1));
    };
    progress.SetRange(std::uint32_t(selected.size()));

    // Directory order, one after another, into whatever stdout is; or files beneath DIR.
    ExtractionJob job{
        .entries = selected, .workers = Workers(options), .stop = interruption.Flag()};
    Destination destination;
    if (options.toStdout) {
        job.descriptor = STDOUT_FILENO;
    } else {
        // Like unzip -d, a destination that does not exist yet is made.
        std::error_code ignored;
        std::filesystem::create_directories(options.directory, ignored);
        if (!destination.Open(options.directory)) {
            PrintLine(options.directory, "cannot open the destination folder",
                      std::strerror(errno));
            return kExitFailed;
        }
        destination.SetKeepExisting(options.keepOld);
        destination.SetAllowHidden(options.hidden);
        destination.ProtectArchive(archive.FileDescriptor());
        job.destination = &destination;
    }
    summary += RunExtraction(archive, job, messages, report);
    if (interruption.Arrived()) {
        progress.End();
        PrintSummary(summary, options.keepOld, false);
        std::fprintf(stderr, ", %u stopped, %u not started: interrupted\n",
                     unsigned(summary.stopped), unsigned(selected.size() - summary.Total()));
        interruption.EndBySignal();
    }
    progress.Finish();
    if (!options.quiet)
        PrintSummary(summary, options.keepOld);
    return cutShort || !allFound || !summary.AllWritten() ? kExitFailed : kExitOk;
}

int RunCommand(const Options& options) {
    switch (options.command) {
    case Command::Info:
        return RunInfo(options);
    case Command::List:
        return RunList(options);
    case Command::Test:
        return RunTest(options);
    case Command::Extract:
        return RunExtract(options);
    case Command::Create:
        return RunCreate(options);
    case Command::Add:
        return RunAdd(options);
    case Command::Delete:
        return RunDelete(options);
    case Command::Rename:
        return RunRename(options);
    case Command::Compact:
        return RunCompact(options);
    case Command::Mount:
        return RunMount(options);
    }
    return kExitUsage;
}
