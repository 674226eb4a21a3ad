// The oracle runs: each inflater's result normalised to what the extracted file would hold.
#include "InflateOracle.h"

#include <algorithm>
#include <zlib.h>

namespace {
const char* Name(InflateStatus status) {
    switch (status) {
    case InflateStatus::Whole:
        return "whole";
    case InflateStatus::Short:
        return "short";
    case InflateStatus::Failed:
        return "failed";
    }
    return "?";
}

Inflated Normalised(InflateStatus status, std::string bytes, std::size_t produced,
                    std::uint32_t realSize) {
    if (status == InflateStatus::Failed)
        return {status, {}};
    bytes.resize(realSize);
    std::fill(bytes.begin() + std::min<std::size_t>(produced, realSize), bytes.end(), '\0');
    return {status, std::move(bytes)};
}
} // namespace

Inflated ByUncompress(std::string_view stream, std::uint32_t realSize) {
    std::string out(std::max<std::uint32_t>(realSize, 1), '\0');
    uLongf length = realSize;
    if (::uncompress(reinterpret_cast<Bytef*>(out.data()), &length,
                     reinterpret_cast<const Bytef*>(stream.data()), uLong(stream.size())) != Z_OK)
        return {};
    return Normalised(length < realSize ? InflateStatus::Short : InflateStatus::Whole,
                      std::move(out), length, realSize);
}

Inflated ByWholeInflater(WholeInflater& inflater, std::string_view stream, std::uint32_t realSize) {
    // Garbage where nothing is written, so bytes left unset would show.
    std::string out(std::max<std::uint32_t>(realSize, 1), '\x5A');
    std::size_t produced = 0;
    bool ok = true;
    const InflateStatus status =
        inflater.Inflate(reinterpret_cast<const unsigned char*>(stream.data()), stream.size(),
                         reinterpret_cast<unsigned char*>(out.data()), realSize, produced, ok);
    if (!ok)
        return {};
    return Normalised(status, std::move(out), produced, realSize);
}

Inflated ByPieces(PieceInflater& inflater, std::string_view stream, std::uint32_t realSize,
                  std::size_t inPiece, std::size_t outPiece) {
    if (!inflater.Begin(realSize))
        return {};
    std::string out;
    std::string piece(std::max<std::size_t>(outPiece, 1), '\x5A');
    std::size_t fed = 0;
    for (;;) {
        std::size_t produced = 0;
        const auto step = inflater.Inflate(reinterpret_cast<unsigned char*>(piece.data()),
                                           piece.size(), produced);
        out.append(piece, 0, produced);
        if (step == PieceInflater::Step::Ended)
            break;
        if (step == PieceInflater::Step::Failed)
            return {};
        if (step == PieceInflater::Step::NeedsInput) {
            if (fed == stream.size())
                return {};
            const std::size_t n = std::min(inPiece, stream.size() - fed);
            inflater.Feed(reinterpret_cast<const unsigned char*>(stream.data()) + fed, n);
            fed += n;
        }
    }
    if (out.size() > std::max<std::uint32_t>(realSize, 1))
        return {InflateStatus::Failed, "more output than the real size allows"};
    const std::size_t produced = out.size();
    return Normalised(produced < realSize ? InflateStatus::Short : InflateStatus::Whole,
                      std::move(out), produced, realSize);
}

std::string DifferenceFromUncompress(WholeInflater& whole, PieceInflater& pieces,
                                     std::string_view stream, std::uint32_t realSize,
                                     std::size_t inPiece, std::size_t outPiece) {
    const Inflated expected = ByUncompress(stream, realSize);
    const Inflated results[] = {ByWholeInflater(whole, stream, realSize),
                                ByPieces(pieces, stream, realSize, inPiece, outPiece)};
    const char* const names[] = {"whole-buffer", "in pieces"};
    for (int i = 0; i < 2; ++i) {
        if (results[i].status != expected.status)
            return std::string(names[i]) + ": " + Name(results[i].status) +
                   ", uncompress: " + Name(expected.status);
        if (results[i].bytes != expected.bytes)
            return std::string(names[i]) + ": other bytes than uncompress";
    }
    return {};
}
