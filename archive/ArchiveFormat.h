// The on-disk layout of a DAT archive: the 12-byte header and the 144-byte directory record.
// Every number is decoded explicitly as little-endian, so nothing depends on the host's byte
// order or on how a compiler lays out a struct.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

inline constexpr std::uint32_t kArchiveMagic = 0x54414456; // the bytes "VDAT"
inline constexpr std::size_t kHeaderSize = 12;
inline constexpr std::size_t kDirectoryEntrySize = 144;
inline constexpr std::size_t kNameFieldSize = 128;
// The last offset a record or the header can hold: nothing may end past it.
inline constexpr std::uint64_t kAddressableEnd = 0xFFFFFFFFu;

struct ArchiveHeader {
    std::uint32_t identifier = 0;
    std::uint32_t directoryOffset = 0;
    std::uint32_t directorySize = 0;
};

// No default values: a table of a million records is obtained untouched and filled straight
// from the file. Write DirectoryEntry{} for a zeroed one.
struct DirectoryEntry {
    std::array<char, kNameFieldSize> name;
    std::uint32_t dataOffset;
    std::uint32_t realSize;
    std::uint32_t packedSize; // 0: stored raw; otherwise the length of a zlib stream
    std::uint32_t fourthValue;

    // The bytes before the first NUL; a field without a NUL is a name of all 128 bytes.
    std::string_view Name() const;
    bool IsPacked() const { return packedSize != 0; }
};

constexpr std::uint32_t ReadLE32(const unsigned char* p) {
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
           std::uint32_t(p[3]) << 24;
}

ArchiveHeader DecodeHeader(const unsigned char (&bytes)[kHeaderSize]);
void DecodeDirectoryEntry(const unsigned char* bytes, DirectoryEntry& entry);
