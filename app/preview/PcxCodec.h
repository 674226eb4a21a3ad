// The pcx picture format without Qt: the 128-byte header checked against what the format allows
// and what the file can hold, and the pixels decoded (run-length or raw) into 32-bit RGB rows.
// The image plugin wraps it; the fuzz target drives it directly.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

inline constexpr std::size_t kPcxHeaderSize = 128;

enum class PcxLayout {
    BlackWhite, // 1 bit, 1 plane
    Indexed,    // 1 bit in up to 4 planes, or 2 or 4 bits in one: the header's 16 colours
    Indexed8,   // 8 bits, 1 plane: the 256 colours after the 0x0C at the end (grey without)
    Rgb,        // 8 bits in 3 planes (a fourth, alpha, is read and not used)
};

enum class PcxProblem {
    None,
    NotPcx,          // too short for the header, or not the pcx manufacturer byte
    UnknownEncoding, // neither 0 (raw) nor 1 (run-length)
    UnknownLayout,   // a bits-per-pixel and planes pair the format does not have
    BadSize,         // an end coordinate before its start
    LineTooShort,    // bytes per line cannot hold a row of the width
    ShortData,       // the file cannot hold the pixels its header promises
};

struct PcxInfo {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    PcxLayout layout = PcxLayout::BlackWhite;
    unsigned bitsPerPixel = 0; // per plane
    unsigned planes = 0;
    std::size_t bytesPerLine = 0; // per plane
    bool runLength = true;
    std::size_t dataEnd = 0;                // where the pixel data ends (the palette follows)
    std::array<std::uint32_t, 256> palette; // 0xffRRGGBB
};

// Reads and checks the header; on success info describes the picture. Allocates nothing: a
// header promising more pixels than the data could give (even run-length, 63 bytes a pair) is
// refused before anyone allocates them.
PcxProblem ReadPcxHeader(std::span<const std::uint8_t> file, PcxInfo& info);

// Decodes the pixels into height rows of width 0xffRRGGBB values, row y at pixels + y * stride
// (stride counted in pixels). False when the data ends before the last row; the rows not
// reached are left as they were. Needs one scratch line of planes x bytesPerLine bytes.
bool DecodePcx(std::span<const std::uint8_t> file, const PcxInfo& info, std::uint32_t* pixels,
               std::size_t stride);
