// What vdat's changes in place (add, delete, rename) share: opening the archive for a change and
// ending one, with what is told on the way.
#pragma once

#include "ArchiveRewriter.h"
#include "Interruption.h"
#include "Options.h"

#include <vector>

// Opens options.archive for a change in place, waiting for another change unless --no-wait;
// false (told) when it cannot be changed.
bool BeginChange(const Options& options, ArchiveRewriter& rewriter);

// Switches the archive to directory and says so when most of it is then unused. The exit
// status; a change stopped by a signal ends the program by that signal, the archive as it was.
int FinishChange(const Options& options, ArchiveRewriter& rewriter,
                 const std::vector<DirectoryEntry>& directory, Interruption& interruption);

// Told when a change would put data past 32-bit offsets.
void ReportNoRoom(const Options& options);
