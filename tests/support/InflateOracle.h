// zlib's uncompress as the oracle for the library's two inflaters: each is run over a stream
// and must give the same outcome and, byte for byte, the same output.
#pragma once

#include "Inflate.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

struct Inflated {
    InflateStatus status = InflateStatus::Failed;
    std::string bytes; // the real size, zero-filled past a short stream; empty when it failed
};

Inflated ByUncompress(std::string_view stream, std::uint32_t realSize);
Inflated ByWholeInflater(WholeInflater& inflater, std::string_view stream, std::uint32_t realSize);
// Input read and output taken in the given piece sizes.
Inflated ByPieces(PieceInflater& inflater, std::string_view stream, std::uint32_t realSize,
                  std::size_t inPiece, std::size_t outPiece);

// Empty when both inflaters give what uncompress gives; otherwise what differs, in a few words.
std::string DifferenceFromUncompress(WholeInflater& whole, PieceInflater& pieces,
                                     std::string_view stream, std::uint32_t realSize,
                                     std::size_t inPiece, std::size_t outPiece);
