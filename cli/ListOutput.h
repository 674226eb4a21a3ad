// `vdat list` for programs: the long, NUL-ended and JSON forms of the listing.
#pragma once

#include "DatArchive.h"
#include "TerminalSinks.h"

#include <cstdint>
#include <functional>
#include <string_view>

enum class ListFormat { Plain, Long, Json };

// Writes every loaded entry of archive in directory order. shownName(i) is the name to show
// (as stored, or read in a code page); JSON always carries the stored bytes.
void ListEntries(const DatArchive& archive, ListFormat format, bool nullEnded, OutputBuffer& out,
                 const std::function<std::string_view(std::uint32_t)>& shownName);

// The bytes of name read as Latin-1, as the contents of a JSON string: every byte is one
// character, so a reader gets the stored bytes back exactly.
void AppendJsonLatin1(std::string_view name, std::string& out);
