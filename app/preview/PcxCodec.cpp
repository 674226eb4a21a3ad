// The pcx header and pixel decoding. Every size is checked against the header's own fields and
// the file's length before a byte of pixel data is touched, so a hostile header gets a refusal,
// never an allocation or a read past the data.
#include "PcxCodec.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

std::uint32_t Le16(const std::uint8_t* p) {
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8;
}

std::uint32_t Rgb(const std::uint8_t* p) {
    return 0xff000000u | std::uint32_t(p[0]) << 16 | std::uint32_t(p[1]) << 8 | p[2];
}

// The pixel bytes as a stream, run-length or raw; a run may go on past the end of a line into
// the next, as several writers make them.
class PixelStream {
public:
    PixelStream(const std::uint8_t* begin, const std::uint8_t* end, bool runLength)
        : p_(begin), end_(end), runLength_(runLength) {}

    bool Fill(std::uint8_t* out, std::size_t n) {
        if (!runLength_) {
            if (std::size_t(end_ - p_) < n)
                return false;
            std::memcpy(out, p_, n);
            p_ += n;
            return true;
        }
        std::size_t i = 0;
        while (i < n) {
            if (runLeft_ > 0) {
                const std::size_t k = std::min<std::size_t>(runLeft_, n - i);
                std::memset(out + i, runValue_, k);
                i += k;
                runLeft_ -= unsigned(k);
                continue;
            }
            if (p_ == end_)
                return false;
            const std::uint8_t b = *p_++;
            if ((b & 0xc0) != 0xc0) {
                out[i++] = b;
                continue;
            }
            if (p_ == end_)
                return false;
            runLeft_ = b & 0x3f;
            runValue_ = *p_++;
        }
        return true;
    }

private:
    const std::uint8_t* p_;
    const std::uint8_t* end_;
    bool runLength_;
    unsigned runLeft_ = 0;
    std::uint8_t runValue_ = 0;
};

} // namespace

PcxProblem ReadPcxHeader(std::span<const std::uint8_t> file, PcxInfo& info) {
    if (file.size() < kPcxHeaderSize || file[0] != 0x0a)
        return PcxProblem::NotPcx;
    const std::uint8_t* h = file.data();
    if (h[2] > 1)
        return PcxProblem::UnknownEncoding;
    info.runLength = h[2] == 1;
    info.bitsPerPixel = h[3];
    info.planes = h[65];
    const unsigned bits = info.bitsPerPixel;
    const unsigned planes = info.planes;
    if (bits == 1 && planes == 1)
        info.layout = PcxLayout::BlackWhite;
    else if ((bits == 1 && planes >= 2 && planes <= 4) || ((bits == 2 || bits == 4) && planes == 1))
        info.layout = PcxLayout::Indexed;
    else if (bits == 8 && planes == 1)
        info.layout = PcxLayout::Indexed8;
    else if (bits == 8 && (planes == 3 || planes == 4))
        info.layout = PcxLayout::Rgb;
    else
        return PcxProblem::UnknownLayout;

    const std::uint32_t xMin = Le16(h + 4), yMin = Le16(h + 6);
    const std::uint32_t xMax = Le16(h + 8), yMax = Le16(h + 10);
    if (xMax < xMin || yMax < yMin)
        return PcxProblem::BadSize;
    info.width = xMax - xMin + 1;
    info.height = yMax - yMin + 1;
    info.bytesPerLine = Le16(h + 66);
    if (info.bytesPerLine < (std::size_t(info.width) * bits + 7) / 8)
        return PcxProblem::LineTooShort;

    info.dataEnd = file.size();
    info.palette.fill(0xff000000u);
    if (info.layout == PcxLayout::BlackWhite) {
        info.palette[1] = 0xffffffffu;
    } else if (info.layout == PcxLayout::Indexed) {
        for (int i = 0; i < 16; ++i)
            info.palette[i] = Rgb(h + 16 + 3 * i);
    } else if (info.layout == PcxLayout::Indexed8) {
        const std::size_t at = file.size() - 769;
        if (file.size() >= kPcxHeaderSize + 769 && file[at] == 0x0c) {
            info.dataEnd = at;
            for (int i = 0; i < 256; ++i)
                info.palette[i] = Rgb(h + at + 1 + 3 * i);
        } else {
            for (std::uint32_t i = 0; i < 256; ++i)
                info.palette[i] = 0xff000000u | i << 16 | i << 8 | i;
        }
    }

    // The most pixel bytes the data can give: raw, one a byte; run-length, 63 for every pair.
    const std::uint64_t wanted = std::uint64_t(info.bytesPerLine) * planes * info.height;
    const std::uint64_t have = info.dataEnd - kPcxHeaderSize;
    const std::uint64_t most = info.runLength ? have / 2 * 63 + have % 2 : have;
    if (wanted > most)
        return PcxProblem::ShortData;
    return PcxProblem::None;
}

bool DecodePcx(std::span<const std::uint8_t> file, const PcxInfo& info, std::uint32_t* pixels,
               std::size_t stride) {
    const std::size_t perPlane = info.bytesPerLine;
    std::vector<std::uint8_t> line(perPlane * info.planes);
    PixelStream stream(file.data() + kPcxHeaderSize, file.data() + info.dataEnd, info.runLength);
    const std::uint32_t* palette = info.palette.data();
    for (std::uint32_t y = 0; y < info.height; ++y) {
        if (!stream.Fill(line.data(), line.size()))
            return false;
        std::uint32_t* row = pixels + y * stride;
        const std::uint8_t* l = line.data();
        switch (info.layout) {
        case PcxLayout::BlackWhite:
            for (std::uint32_t x = 0; x < info.width; ++x)
                row[x] = palette[(l[x >> 3] >> (7 - (x & 7))) & 1];
            break;
        case PcxLayout::Indexed:
            if (info.bitsPerPixel == 1) {
                for (std::uint32_t x = 0; x < info.width; ++x) {
                    unsigned index = 0;
                    for (unsigned p = 0; p < info.planes; ++p)
                        index |= ((l[p * perPlane + (x >> 3)] >> (7 - (x & 7))) & 1u) << p;
                    row[x] = palette[index];
                }
            } else {
                const unsigned bits = info.bitsPerPixel;
                const unsigned mask = (1u << bits) - 1;
                for (std::uint32_t x = 0; x < info.width; ++x) {
                    const std::size_t bit = std::size_t(x) * bits;
                    row[x] = palette[(l[bit >> 3] >> (8 - bits - (bit & 7))) & mask];
                }
            }
            break;
        case PcxLayout::Indexed8:
            for (std::uint32_t x = 0; x < info.width; ++x)
                row[x] = palette[l[x]];
            break;
        case PcxLayout::Rgb:
            for (std::uint32_t x = 0; x < info.width; ++x)
                row[x] = 0xff000000u | std::uint32_t(l[x]) << 16 |
                         std::uint32_t(l[perPlane + x]) << 8 | l[2 * perPlane + x];
            break;
        }
    }
    return true;
}
