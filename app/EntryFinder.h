// Which entries the window's find bar keeps: names that hold the text typed, case-insensitive
// and '/' and '\' alike, or that match it as vdat's patterns do when it holds '*', '?' or '['.
// Qt-free, so it can be measured on its own; the names are read once per archive.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

class EntryFinder {
public:
    // Reads the names (stored bytes) of count entries; earlier names are forgotten.
    void SetNames(std::size_t count, const std::function<std::string_view(std::size_t)>& name);
    std::size_t Count() const { return starts_.size(); }

    // Sets keep[i] to 1 for each entry text finds, 0 for the others, and returns how many it
    // found. text is bytes as names are (Latin-1); an empty text finds every entry.
    std::size_t Find(std::string_view text, std::vector<std::uint8_t>& keep) const;

private:
    // Every name once, NUL after each: folded_ for plain text (Latin-1 letters in lower case,
    // '\' as '/'), matchable_ for patterns ('\' as '/' alone, as vdat matches).
    std::string folded_;
    std::string matchable_;
    std::vector<std::uint32_t> starts_;
};

// A Latin-1 byte in lower case, as the find bar compares.
inline unsigned char FoldLatin1(unsigned char c) {
    if ((c >= 'A' && c <= 'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7))
        return static_cast<unsigned char>(c + 0x20);
    return c;
}
