// The two inflaters. Whole-buffer inflating runs libdeflate and, whenever it refuses a stream,
// asks zlib's uncompress for the verdict: the two differ on a few corners (an empty entry whose
// stream holds one byte is accepted by uncompress), and a refused stream is rare and small
// enough to inflate twice. In pieces, zlib's inflate is driven the way uncompress drives it.
#include "Inflate.h"

#include <algorithm>
#include <libdeflate.h>
#include <zlib.h>

WholeInflater::WholeInflater() = default;

WholeInflater::~WholeInflater() {
    if (decompressor_)
        libdeflate_free_decompressor(decompressor_);
}

InflateStatus WholeInflater::Inflate(const unsigned char* packed, std::size_t packedSize,
                                     unsigned char* out, std::size_t realSize,
                                     std::size_t& produced, bool& ok) {
    produced = 0;
    ok = true;
    if (!decompressor_)
        decompressor_ = libdeflate_alloc_decompressor();
    if (!decompressor_) {
        ok = false;
        return InflateStatus::Failed;
    }
    // Asking for the input used lets bytes after a whole stream pass, as uncompress lets them.
    std::size_t used = 0;
    std::size_t got = 0;
    if (libdeflate_zlib_decompress_ex(decompressor_, packed, packedSize, out, realSize, &used,
                                      &got) == LIBDEFLATE_SUCCESS) {
        produced = got;
        return got < realSize ? InflateStatus::Short : InflateStatus::Whole;
    }
    uLongf length = realSize;
    if (::uncompress(out, &length, packed, uLong(packedSize)) != Z_OK)
        return InflateStatus::Failed;
    produced = length;
    return length < realSize ? InflateStatus::Short : InflateStatus::Whole;
}

struct PieceInflater::Stream {
    z_stream z{};
    bool initialised = false;
    ~Stream() {
        if (initialised)
            ::inflateEnd(&z);
    }
};

PieceInflater::PieceInflater() : stream_(std::make_unique<Stream>()) {}
PieceInflater::~PieceInflater() = default;

bool PieceInflater::Begin(std::uint64_t realSize) {
    z_stream& z = stream_->z;
    if (!stream_->initialised) {
        z = z_stream{};
        if (::inflateInit(&z) != Z_OK)
            return false;
        stream_->initialised = true;
    } else if (::inflateReset(&z) != Z_OK) {
        return false;
    }
    z.next_in = nullptr;
    z.avail_in = 0;
    limit_ = std::max<std::uint64_t>(realSize, 1);
    produced_ = 0;
    return true;
}

void PieceInflater::Feed(const unsigned char* data, std::size_t length) {
    stream_->z.next_in = const_cast<unsigned char*>(data);
    stream_->z.avail_in = uInt(length);
}

PieceInflater::Step PieceInflater::Inflate(unsigned char* out, std::size_t room,
                                           std::size_t& produced) {
    z_stream& z = stream_->z;
    // With the real size reached, inflate still gets its turn with no room: the check value
    // after the last byte needs none, while any further byte makes it give up, as in uncompress.
    const auto give = uInt(std::min<std::uint64_t>(room, limit_ - produced_));
    z.next_out = out;
    z.avail_out = give;
    const int status = ::inflate(&z, Z_NO_FLUSH);
    produced = give - z.avail_out;
    produced_ += produced;
    switch (status) {
    case Z_STREAM_END:
        return Step::Ended;
    case Z_OK:
        return Step::Progress;
    case Z_BUF_ERROR:
        // No progress: either the input piece is used up, or there is no room left at all.
        return z.avail_in == 0 ? Step::NeedsInput : Step::Failed;
    default:
        return Step::Failed; // bad data, a preset dictionary, no memory
    }
}
