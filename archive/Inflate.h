// Inflating one entry's zlib stream into exactly its real size, two ways with one set of
// outcomes: whole-buffer (fast, libdeflate) and in pieces (zlib's streaming inflate, for entries
// too large to hold). Both give what zlib's uncompress gives with the real size as the output
// length: the same bytes, the same short streams, the same failures.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

// A deflate stream cannot expand more than 1032:1; a claimed real size beyond that (plus a
// little for the zlib header and trailer) is a lie, and trusting it would allocate memory the
// archive cannot justify.
constexpr bool RealSizeIsPossible(std::uint64_t packedSize, std::uint64_t realSize) {
    return realSize <= 1032 * packedSize + 64;
}

enum class InflateStatus {
    Whole,  // the stream ended, its check value held, and it filled the real size
    Short,  // the stream ended and its check value held, but it gave fewer bytes than the size
    Failed, // it does not inflate, needs more room than the real size, or its check is wrong
};

// One per worker, reused from entry to entry: libdeflate's decompressor keeps its tables.
class WholeInflater {
public:
    WholeInflater();
    ~WholeInflater();
    WholeInflater(const WholeInflater&) = delete;
    WholeInflater& operator=(const WholeInflater&) = delete;

    // Inflates packed into out, which has room for max(realSize, 1) bytes; produced tells how
    // many bytes the stream gave. False in ok when no decompressor could be had (no memory).
    InflateStatus Inflate(const unsigned char* packed, std::size_t packedSize, unsigned char* out,
                          std::size_t realSize, std::size_t& produced, bool& ok);

private:
    struct libdeflate_decompressor* decompressor_ = nullptr;
};

// zlib's inflate, fed and drained piece by piece: the caller reads the input and writes the
// output as it goes, so an entry of any size needs only two pieces of memory.
class PieceInflater {
public:
    PieceInflater();
    ~PieceInflater();
    PieceInflater(const PieceInflater&) = delete;
    PieceInflater& operator=(const PieceInflater&) = delete;

    // Starts a stream of realSize bytes; false when zlib cannot get its memory.
    bool Begin(std::uint64_t realSize);
    // The next piece of input, once the previous one is used up (NeedsInput).
    void Feed(const unsigned char* data, std::size_t length);

    enum class Step {
        Progress,   // call again, with fresh room for output
        NeedsInput, // the piece fed last is used up; with no input left the stream is cut short
        Ended,      // whole and its check value holds: Produced() against the real size tells
        Failed,
    };
    // Inflates into out (room for `room` bytes, at least one), never beyond the real size;
    // produced tells how many bytes it put there.
    Step Inflate(unsigned char* out, std::size_t room, std::size_t& produced);
    std::uint64_t Produced() const { return produced_; }

private:
    struct Stream;
    std::unique_ptr<Stream> stream_;
    // As uncompress has it: the output may take the real size, or one byte for an empty entry.
    std::uint64_t limit_ = 0;
    std::uint64_t produced_ = 0;
};
