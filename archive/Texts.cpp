// Formatting the program's texts.
#include "Texts.h"

#include <charconv>
#include <cinttypes>
#include <cstdio>
#include <string>

MessageText ProblemText(const ArchiveProblem& problem, std::string_view path) {
    char detail[64] = "";
    switch (problem.what) {
    case ArchiveFailure::None:
        return {};
    case ArchiveFailure::CannotOpen:
        return {kCantOpenText, "File:" + std::string(path)};
    case ArchiveFailure::NotAnArchive:
        std::snprintf(detail, sizeof detail, "iD:0x%8X", problem.identifier);
        return {kNotArchiveText, detail};
    case ArchiveFailure::NoMemory:
        return {kNoMemoryText, {}};
    case ArchiveFailure::CutShort:
        std::snprintf(detail, sizeof detail, "Table:%" PRIu32 " of %" PRIu32 " files",
                      problem.loaded, problem.claimed);
        return {kCutShortText, detail};
    }
    return {};
}

SizeTextBuffer::SizeTextBuffer(std::uint32_t packed, std::uint32_t real) {
    // to_chars rather than snprintf: this runs once per entry of directories of a million.
    char* p = std::to_chars(text_, text_ + 10, packed).ptr;
    *p++ = ' ';
    *p++ = '[';
    p = std::to_chars(p, p + 10, real).ptr;
    *p++ = ']';
    length_ = std::size_t(p - text_);
}

SizeTextBuffer SizeText(const DirectoryEntry& entry) {
    return SizeTextBuffer(entry.packedSize, entry.realSize);
}

std::string InfoText(std::string_view path, std::uint32_t identifier, std::uint32_t offset,
                     std::uint32_t size, std::uint32_t entries) {
    char numbers[160];
    std::snprintf(numbers, sizeof numbers,
                  "\niD:0x%" PRIx32 "\nTable Offset:0x%" PRIx32 "\nTable Size:0x%" PRIx32
                  "\nNum of Files:%d\n",
                  identifier, offset, size, int(entries));
    return "Dat File:" + std::string(path) + numbers;
}

std::string UnusedBytesLine(std::uint64_t unused) {
    return "Unused Bytes:" + std::to_string(unused) + "\n";
}

std::string MostlyUnusedText(std::uint64_t unused, std::uint64_t size) {
    return std::to_string(unused) + " of its " + std::to_string(size) +
           " bytes are unused; 'vdat compact' writes it without them";
}

std::string FilesSummaryText(std::size_t files, std::uint32_t stored, std::size_t replacing,
                             std::uint64_t realBytes, std::uint64_t archiveBytes) {
    std::string text = std::to_string(files) + " files (" + std::to_string(stored) + " stored";
    if (replacing)
        text += ", " + std::to_string(replacing) + " replacing entries";
    return text + "), " + std::to_string(realBytes) + " bytes into " + std::to_string(archiveBytes);
}

std::string DeletedSummaryText(std::size_t entries) {
    return std::to_string(entries) + " entries deleted";
}

std::string CompactedSummaryText(std::uint64_t before, std::uint64_t after) {
    return std::to_string(before) + " bytes into " + std::to_string(after);
}
