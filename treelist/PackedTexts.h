// PackedTexts: the column texts of one list row or record, kept in a single heap block.
// A list can hold a million rows; one small allocation per row instead of a vector plus one
// allocation per long string is what keeps it within its memory budget. Texts are raw bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

class PackedTexts {
public:
    PackedTexts() = default;
    // count texts, the first one set to first and the others empty (count 0 is taken as 1).
    PackedTexts(std::size_t count, std::string_view first);
    PackedTexts(const PackedTexts& other);
    PackedTexts(PackedTexts&& other) noexcept : m_block(other.m_block) { other.m_block = nullptr; }
    PackedTexts& operator=(const PackedTexts& other);
    PackedTexts& operator=(PackedTexts&& other) noexcept;
    ~PackedTexts();

    std::size_t size() const;
    bool empty() const { return size() == 0; }
    // Text i; an index at or past size() reads as an empty text.
    std::string_view operator[](std::size_t i) const;

    // Sets text i, growing the array with empty texts when i is past its end.
    void set(std::size_t i, std::string_view text);
    // Inserts a text before position i (at most size()).
    void insert(std::size_t i, std::string_view text);
    void resize(std::size_t count);
    void clear();

    // Bytes of the heap block, for callers that account for their memory.
    std::size_t blockBytes() const;

private:
    // Block layout: count, then the end offset of each text, then the text bytes back to back.
    using Offset = std::uint32_t;
    template <typename TextAt> void rebuild(std::size_t count, TextAt textAt);
    const char* chars() const;
    Offset endOf(std::size_t i) const;

    char* m_block = nullptr;
};
