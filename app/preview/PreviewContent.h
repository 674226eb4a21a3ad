// What the preview makes of an entry's bytes, without Qt: which view shows them, whether they
// read as text, the text's display lines and the rows of the hex view.
#pragma once

#include <cstddef>
#include <string_view>
#include <vector>

enum class PreviewKind { Image, Sound, Text, Hex, Damaged };

// By the name's extension (any case) for pictures, sounds and .txt; otherwise text when the
// bytes read as text, else hex.
PreviewKind ChoosePreviewKind(std::string_view name, std::string_view bytes);

// True when no byte is a control other than tab, line feed, form feed, carriage return and the
// DOS end-of-file mark (0x1A), and none is DEL: 8-bit text in any code page, UTF-8 included.
bool ReadsAsText(std::string_view bytes);

// Where each display line of text starts. A line ends at a line feed (its carriage return is
// not shown); a longer one than kTextRowBytes is broken into rows of that length, so no row
// costs the view more than a screenful.
inline constexpr std::size_t kTextRowBytes = 1024;
struct TextLine {
    std::size_t start;
    std::size_t length; // without the line end
};
std::vector<TextLine> SplitTextLines(std::string_view text);

// The hex view shows this much of an entry, kHexRowBytes a row.
inline constexpr std::size_t kHexViewBytes = 64 * 1024;
inline constexpr std::size_t kHexRowBytes = 16;
inline constexpr std::size_t kHexRowChars = 8 + 2 + kHexRowBytes * 3 + 1 + kHexRowBytes;
std::size_t HexRowCount(std::string_view bytes);
// Row `row` as "OFFSET  HH HH ...  characters" (Latin-1; '.' for controls); returns the length
// written to out, at most kHexRowChars.
std::size_t FormatHexRow(std::string_view bytes, std::size_t row, char* out);
