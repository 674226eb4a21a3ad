// The program's own texts, in one place for the window and vdat: the messages, their captions,
// the Info text and the size column. They are kept exactly as the program has always shown
// them, grave accents and odd spellings included: users know them, and scripts compare vdat's
// lines with them.
#pragma once

#include "ArchiveFormat.h"

#include <cstdint>
#include <string>
#include <string_view>

inline constexpr char kErrorCaption[] = "Error!";
inline constexpr char kInfoCaption[] = "Info";
inline constexpr char kCantOpenText[] = "Can`t open DAT file!";
inline constexpr char kNotArchiveText[] = "It`s not DAT file!";
inline constexpr char kNoMemoryText[] = "Can`t creat Memory!";
inline constexpr char kCutShortText[] = "DAT file is cut short!";
inline constexpr char kExtractFailedText[] = "Can`t Extract file";
// The reason a damaged entry's failure gives, before the inflater's own words.
inline constexpr char kDamagedDataText[] = "damaged data";
// Why a name is refused, by extraction and by the mount alike.
inline constexpr char kOutsideDestinationReason[] = "name leads outside the destination";
// Before the code page's name: a stored name that does not convert in it.
inline constexpr char kNotInCodePageReason[] = "the name is not ";

// vdat's texts for writing and changing archives (create, add, delete, rename, compact).
inline constexpr char kCannotCreateText[] = "cannot create the archive";
inline constexpr char kCannotWriteText[] = "cannot write the archive";
inline constexpr char kCannotChangeText[] = "cannot change the archive";
inline constexpr char kCannotPutText[] = "cannot be put in the archive";
inline constexpr char kPastOffsetsReason[] =
    "its data would pass the 4 GiB that 32-bit offsets address";
inline constexpr char kCompactMayHelpReason[] = "'vdat compact' may make room";
inline constexpr char kBusyReason[] = "another change to it is under way";
inline constexpr char kNameTakenReason[] = "an entry of that name is there already";
inline constexpr char kNoEntryNamedText[] = "no entry named";

// What went wrong with an archive as a whole: what failed, the system's error number where
// there was one (0 for a file that is not regular), and the numbers its message shows.
enum class ArchiveFailure { None, CannotOpen, NotAnArchive, NoMemory, CutShort };
struct ArchiveProblem {
    ArchiveFailure what = ArchiveFailure::None;
    int error = 0;
    std::uint32_t identifier = 0; // NotAnArchive: the four bytes read
    std::uint32_t loaded = 0;     // CutShort: whole records in the file,
    std::uint32_t claimed = 0;    // of those the header claims
};

// A message as the window shows it: its first line, then its detail lines, if any.
struct MessageText {
    std::string headline;
    std::string detail; // "File:PATH", "iD:0x...", "Table:N of M files"; may be empty
    std::string Joined(char between) const {
        return detail.empty() ? headline : headline + between + detail;
    }
};

// The message of a problem with the archive at path.
MessageText ProblemText(const ArchiveProblem& problem, std::string_view path);

// The column-1 text of an entry, "packed [real]", both unsigned. Kept in a small fixed buffer
// so that loading a directory does not allocate per entry.
class SizeTextBuffer {
public:
    SizeTextBuffer(std::uint32_t packed, std::uint32_t real);
    std::string_view View() const { return {text_, length_}; }
    std::string String() const { return std::string(View()); }

private:
    char text_[24];
    std::size_t length_;
};

SizeTextBuffer SizeText(const DirectoryEntry& entry);

// The text of the "Info" box for these header values.
std::string InfoText(std::string_view path, std::uint32_t identifier, std::uint32_t offset,
                     std::uint32_t size, std::uint32_t entries);

// The line `vdat info --long` adds: the bytes of the file that no record, nor the header or the
// directory, refers to.
std::string UnusedBytesLine(std::uint64_t unused);
// Said once after a change that leaves most of the file unused.
std::string MostlyUnusedText(std::uint64_t unused, std::uint64_t size);

// The summary lines of vdat's writing commands. create and add: files written (stored: how many
// without compression; replacing: how many took an entry's place), their bytes and the bytes
// they took in the archive.
std::string FilesSummaryText(std::size_t files, std::uint32_t stored, std::size_t replacing,
                             std::uint64_t realBytes, std::uint64_t archiveBytes);
std::string DeletedSummaryText(std::size_t entries);
std::string CompactedSummaryText(std::uint64_t before, std::uint64_t after);
