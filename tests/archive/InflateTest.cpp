// The library's inflaters against zlib's uncompress: thousands of streams, sound and broken
// (cut, bits flipped, stretched, headers edited), each with real sizes that fit, fall short and
// overflow; both inflaters must give uncompress's outcome and its bytes.
#include "InflateOracle.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>
#include <zlib.h>

namespace {

std::string Deflated(const std::string& content, int level, int strategy) {
    z_stream z{};
    EXPECT_EQ(deflateInit2(&z, level, Z_DEFLATED, 15, 8, strategy), Z_OK);
    std::string out(deflateBound(&z, uLong(content.size())), '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(content.data()));
    z.avail_in = uInt(content.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = uInt(out.size());
    EXPECT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

// Text-like, random, runs and mixtures: each exercises other block types and codes.
std::string Content(std::mt19937& rng, std::size_t size) {
    std::string out;
    out.reserve(size);
    const unsigned kind = rng() % 4;
    static const char* const kWords[] = {"wall ", "door ", "sky\n", "lava ", "node ", "ammo "};
    while (out.size() < size) {
        switch (kind == 3 ? rng() % 3 : kind) {
        case 0:
            out += kWords[rng() % 6];
            break;
        case 1:
            out += char(rng());
            break;
        default:
            out.append(1 + rng() % 300, char('a' + rng() % 3));
            break;
        }
    }
    out.resize(size);
    return out;
}

// The zlib header with its check bits made right again, so only the edited field is wrong.
void FixHeaderCheck(std::string& stream) {
    unsigned flags = static_cast<unsigned char>(stream[1]) & 0xE0;
    const unsigned cmf = static_cast<unsigned char>(stream[0]);
    flags |= 31 - (cmf * 256 + flags) % 31;
    if ((cmf * 256 + flags) % 31 != 0)
        flags -= 31; // 31 - 0 was added: no check bits needed
    stream[1] = char(flags);
}

struct Case {
    std::string what;
    std::string stream;
    std::uint32_t realSize;
};

class InflateAgainstUncompress : public ::testing::Test {
protected:
    WholeInflater whole;
    PieceInflater pieces;
    std::mt19937 rng{20261207};
    std::size_t checked = 0;

    void Check(const Case& c) {
        static const std::size_t kPieces[] = {1, 2, 3, 7, 64, 1000, 65536};
        const std::size_t in = kPieces[rng() % std::size(kPieces)];
        const std::size_t out = kPieces[rng() % std::size(kPieces)];
        const std::string difference =
            DifferenceFromUncompress(whole, pieces, c.stream, c.realSize, in, out);
        EXPECT_EQ(difference, "") << c.what << ", real size " << c.realSize << ", "
                                  << c.stream.size() << " packed bytes, pieces " << in << "/"
                                  << out;
        ++checked;
    }
    // Real sizes around the true one: exact, one short, one over, none, half, far over.
    void CheckSizes(const std::string& what, const std::string& stream, std::size_t size) {
        const auto n = std::uint32_t(size);
        for (std::uint32_t real : {n, n ? n - 1 : 0, n + 1, 0u, n / 2, 2 * n + 7})
            Check({what, stream, real});
    }
};

TEST_F(InflateAgainstUncompress, SoundStreamsAndWrongRealSizes) {
    const int strategies[] = {Z_DEFAULT_STRATEGY, Z_FILTERED, Z_HUFFMAN_ONLY, Z_RLE, Z_FIXED};
    for (int round = 0; round < 150; ++round) {
        const std::size_t size = round % 10 == 0 ? rng() % 3 : rng() % (round % 3 ? 4096 : 200000);
        const std::string content = Content(rng, size);
        const int level = int(rng() % 10);
        const int strategy = strategies[rng() % std::size(strategies)];
        CheckSizes("sound, level " + std::to_string(level), Deflated(content, level, strategy),
                   size);
    }
    // An empty entry and a stream of one byte or two: uncompress passes the one byte.
    for (const char* content : {"", "x", "xy"})
        Check({std::string("tiny stream '") + content + "' into 0", Deflated(content, 6, 0), 0});
}

TEST_F(InflateAgainstUncompress, CutFlippedAndStretchedStreams) {
    for (int round = 0; round < 1200; ++round) {
        const std::size_t size = rng() % (round % 5 ? 3000 : 60000);
        const std::string sound = Deflated(Content(rng, size), int(rng() % 10),
                                           round % 7 == 0 ? Z_FIXED : Z_DEFAULT_STRATEGY);
        std::string stream = sound;
        std::string what;
        switch (round % 4) {
        case 0: { // cut anywhere, most often inside the trailer or the last block
            const std::size_t keep =
                rng() % 2 ? sound.size() - 1 - rng() % std::min<std::size_t>(sound.size(), 8)
                          : rng() % sound.size();
            stream.resize(keep);
            what = "cut to " + std::to_string(keep);
            break;
        }
        case 1: { // one to three bits flipped, headers and trailers included
            const unsigned flips = 1 + rng() % 3;
            for (unsigned f = 0; f < flips; ++f) {
                const std::size_t at =
                    rng() % (f == 0 && rng() % 3 == 0 ? std::min<std::size_t>(stream.size(), 12)
                                                      : stream.size());
                stream[at] ^= char(1 << (rng() % 8));
            }
            what = std::to_string(flips) + " bits flipped";
            break;
        }
        case 2: { // bytes after the stream, or inside it
            std::string extra = Content(rng, 1 + rng() % 40);
            if (rng() % 2) {
                stream += extra;
                what = "bytes appended";
            } else {
                stream.insert(rng() % stream.size(), extra);
                what = "bytes inserted";
            }
            break;
        }
        default: { // a piece of the stream repeated
            const std::size_t from = rng() % stream.size();
            const std::size_t length = 1 + rng() % std::min<std::size_t>(64, stream.size() - from);
            stream.insert(from, sound.substr(from, length));
            what = "piece repeated";
            break;
        }
        }
        CheckSizes(what, stream, size);
    }
    EXPECT_GT(checked, 7000u);
}

// Headers both decoders must judge alike: a preset dictionary, windows over 32 KiB, another
// method, wrong check bits, and every compression-level field.
TEST_F(InflateAgainstUncompress, EditedHeaders) {
    const std::string content = Content(rng, 5000);
    const std::string sound = Deflated(content, 6, Z_DEFAULT_STRATEGY);
    for (unsigned cmf = 0; cmf < 256; ++cmf) {
        for (unsigned level = 0; level < 4; ++level) {
            for (const bool dictionary : {false, true}) {
                std::string stream = sound;
                stream[0] = char(cmf);
                stream[1] = char(level << 6 | (dictionary ? 0x20 : 0));
                FixHeaderCheck(stream);
                if (dictionary) // the dictionary's Adler-32 follows the header
                    stream.insert(2, "\x00\x00\x00\x01", 4);
                CheckSizes("header " + std::to_string(cmf) + "/" + std::to_string(level) +
                               (dictionary ? " with dictionary" : ""),
                           stream, content.size());
            }
        }
    }
    for (unsigned flags = 0; flags < 32; ++flags) { // every check value, one of them right
        std::string stream = sound;
        stream[1] = char((static_cast<unsigned char>(stream[1]) & 0xE0) | flags);
        CheckSizes("check bits " + std::to_string(flags), stream, content.size());
    }
}

// A stored block by hand: its length and the length's complement must agree.
TEST_F(InflateAgainstUncompress, HandMadeStoredBlocks) {
    const std::string data = "stored block data";
    const auto length = std::uint16_t(data.size());
    const auto adler =
        std::uint32_t(adler32(1, reinterpret_cast<const Bytef*>(data.data()), uInt(data.size())));
    for (const std::uint16_t complement : {std::uint16_t(~length), std::uint16_t(~length ^ 1)}) {
        std::string stream = "\x78\x01\x01";
        stream += char(length & 0xFF);
        stream += char(length >> 8);
        stream += char(complement & 0xFF);
        stream += char(complement >> 8);
        stream += data;
        for (int shift = 24; shift >= 0; shift -= 8)
            stream += char(adler >> shift);
        CheckSizes("stored block", stream, data.size());
    }
}

} // namespace
