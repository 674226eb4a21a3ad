// vdat delete, rename and compact, and what every change in place shares with add: the archive
// opened and locked for the change, and the switch to its new directory at the end.
#include "Change.h"

#include "Commands.h"
#include "DatArchive.h"
#include "Selection.h"
#include "TerminalSinks.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>

namespace {
// True when the archive at path is open and locked for a change; else told why.
bool Opened(InPlaceChange::Opened opened, const ArchiveProblem& problem, const std::string& path) {
    switch (opened) {
    case InPlaceChange::Opened::Yes:
        return true;
    case InPlaceChange::Opened::Busy:
        PrintLine(path, kCannotChangeText, kBusyReason);
        return false;
    case InPlaceChange::Opened::Problem:
        PrintProblem(path, problem, path);
        return false;
    }
    return false;
}
} // namespace

bool BeginChange(const Options& options, ArchiveRewriter& rewriter) {
    ArchiveProblem problem;
    return Opened(rewriter.BeginInPlace(options.archive, !options.noWait, problem), problem,
                  options.archive);
}

void ReportNoRoom(const Options& options) {
    PrintLine(options.archive, kCannotChangeText,
              std::string(kPastOffsetsReason) + "; " + kCompactMayHelpReason);
}

int FinishChange(const Options& options, ArchiveRewriter& rewriter,
                 const std::vector<DirectoryEntry>& directory, Interruption& interruption) {
    switch (rewriter.CommitInPlace(directory, interruption.Flag())) {
    case ArchiveRewriter::Result::Done:
        break;
    case ArchiveRewriter::Result::Stopped:
        interruption.EndBySignal();
    case ArchiveRewriter::Result::Overflow:
        ReportNoRoom(options);
        return kExitFailed;
    default:
        PrintLine(options.archive, kCannotWriteText, std::strerror(errno));
        return kExitFailed;
    }
    const InPlaceChange& change = rewriter.InPlace();
    if (change.NewUsage().unused > change.NewSize() / 2)
        PrintLine(options.archive, MostlyUnusedText(change.NewUsage().unused, change.NewSize()));
    return kExitOk;
}

int RunDelete(const Options& options) {
    ArchiveRewriter rewriter;
    if (!BeginChange(options, rewriter))
        return kExitFailed;
    const std::vector<DirectoryEntry>& old = rewriter.InPlace().Current().entries;
    std::vector<std::string_view> names(old.size());
    for (std::size_t i = 0; i < old.size(); ++i)
        names[i] = old[i].Name();
    std::vector<NamePattern> patterns;
    for (const std::string& p : options.operands)
        patterns.emplace_back(p);
    std::vector<bool> matched;
    const std::vector<std::uint32_t> chosen = SelectNames(names, patterns, {}, matched);
    bool allFound = true;
    for (std::size_t p = 0; p < patterns.size(); ++p) {
        if (!matched[p]) {
            PrintNoEntryNamed(patterns[p].Text());
            allFound = false;
        }
    }
    if (!allFound)
        return kExitFailed; // nothing is changed when any NAME is wrong
    std::vector<DirectoryEntry> directory;
    directory.reserve(old.size() - chosen.size());
    std::size_t next = 0; // chosen is in directory order
    for (std::uint32_t i = 0; i < old.size(); ++i) {
        if (next < chosen.size() && chosen[next] == i)
            ++next;
        else
            directory.push_back(old[i]);
    }
    Interruption interruption;
    const int status = FinishChange(options, rewriter, directory, interruption);
    if (status == kExitOk && !options.quiet)
        PrintSummary(DeletedSummaryText(chosen.size()));
    return status;
}

int RunRename(const Options& options) {
    const std::string& from = options.operands[0];
    std::string to = options.operands[1];
    std::replace(to.begin(), to.end(), '/', '\\'); // as create names files
    if (const char* problem = EntryNameProblem(to)) {
        PrintLine(options.operands[1], kCannotPutText, problem);
        return kExitFailed;
    }
    ArchiveRewriter rewriter;
    if (!BeginChange(options, rewriter))
        return kExitFailed;
    std::vector<DirectoryEntry> directory = rewriter.InPlace().Current().entries;
    // Names are compared as patterns read them, '/' and '\' alike: a stored "a/b" takes the
    // name "a\b" as surely as a stored "a\b" does.
    std::string wanted, newName, matchable;
    ForMatching(from, wanted);
    ForMatching(to, newName);
    bool found = false, taken = false;
    for (DirectoryEntry& entry : directory) {
        ForMatching(entry.Name(), matchable);
        if (matchable == wanted) {
            found = true;
            entry = MakeDirectoryEntry(to, entry.dataOffset, entry.realSize, entry.packedSize,
                                       entry.fourthValue);
        } else if (matchable == newName) {
            taken = true;
        }
    }
    if (!found) {
        PrintNoEntryNamed(from);
        return kExitFailed;
    }
    if (taken) {
        PrintLine(options.operands[1], kCannotPutText, kNameTakenReason);
        return kExitFailed;
    }
    Interruption interruption;
    return FinishChange(options, rewriter, directory, interruption);
}

int RunCompact(const Options& options) {
    const std::string& path = options.archive;
    // The lock keeps every change out until the new archive has taken the old one's place; one
    // that waited then finds the new file under the name and changes that.
    InPlaceChange lock;
    ArchiveProblem problem;
    if (!Opened(lock.Open(path, !options.noWait, problem), problem, path))
        return kExitFailed;
    TerminalMessages messages;
    NullListSink list;
    NullProgressSink progress;
    DatArchive archive(messages, list, progress);
    messages.subject = path;
    messages.archive = &archive;
    if (!archive.Open(path) || !archive.LoadDirectory())
        return kExitFailed;
    // The mode and owner of the file that was read, not of whatever the name meets now.
    struct stat st;
    if (::fstat(archive.FileDescriptor(), &st) != 0) {
        PrintLine(path, kCannotCreateText, std::strerror(errno));
        return kExitFailed;
    }
    ArchiveRewriter rewriter;
    if (!rewriter.Begin(path)) {
        PrintLine(path, kCannotCreateText, std::strerror(errno));
        return kExitFailed;
    }
    rewriter.KeepOwnership(st);
    const auto entries = archive.Entries();
    for (std::uint32_t i = 0; i < entries.size(); ++i) {
        if (rewriter.AddRaw(entries[i].entry.Name(), archive, i) != ArchiveRewriter::Result::Done) {
            PrintLine(path, kCannotWriteText, std::strerror(errno));
            return kExitFailed;
        }
    }
    if (rewriter.Commit(path, true) != ArchiveRewriter::Result::Done) {
        PrintLine(path, kCannotWriteText, std::strerror(errno));
        return kExitFailed;
    }
    if (!options.quiet)
        PrintSummary(CompactedSummaryText(lock.OldSize(), rewriter.Size()));
    return kExitOk;
}
