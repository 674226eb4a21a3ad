// The preview harness. Rules checked for every input:
// - A pcx header that is accepted promises no more pixels than its data can give, and decoding
//   it writes only inside the rows it was given (ASan), reaches every row or says it did not,
//   and gives the same pixels whatever the row stride.
// - Peak heap while the header is read and the picture decoded stays within
//   kPreviewMemoryConstant + kPreviewMemoryPerInputByte x input size.
// - The text check agrees with a byte-by-byte reading; text lines cover the bytes in order,
//   none longer than a row; hex rows are the offset, the bytes and their characters.
#include "PreviewHarness.h"

#include "MemoryMeter.h"
#include "PcxCodec.h"
#include "PreviewContent.h"

#include <cstdio>
#include <cstdlib>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace {

std::size_t lastPeak = 0;

[[noreturn]] void Broken(const std::string& rule) {
    std::fprintf(stderr, "preview fuzz: %s\n", rule.c_str());
    std::abort();
}

void Expect(bool holds, const std::string& rule) {
    if (!holds)
        Broken(rule);
}

void CheckPcx(std::span<const std::uint8_t> file) {
    memory_meter::Reset();
    PcxInfo info;
    if (ReadPcxHeader(file, info) != PcxProblem::None) {
        lastPeak = memory_meter::PeakSinceReset();
        return;
    }
    const std::uint64_t pixels = std::uint64_t(info.width) * info.height;
    const std::uint64_t bound = kPreviewMemoryConstant + kPreviewMemoryPerInputByte * file.size();
    Expect(pixels * 4 <= bound, "header accepted for " + std::to_string(info.width) + "x" +
                                    std::to_string(info.height) + " from " +
                                    std::to_string(file.size()) + " bytes");
    Expect(info.dataEnd <= file.size() && info.dataEnd >= kPcxHeaderSize, "data end outside");
    std::vector<std::uint32_t> tight(pixels);
    const bool whole = DecodePcx(file, info, tight.data(), info.width);
    lastPeak = memory_meter::PeakSinceReset();
    Expect(lastPeak <= bound,
           "peak heap " + std::to_string(lastPeak) + " over " + std::to_string(bound));
    if (pixels > (1u << 16))
        return; // a second decoding of a large picture adds little but time
    // A wider stride, with a guard column that must stay as it was.
    const std::size_t stride = std::size_t(info.width) + 1;
    std::vector<std::uint32_t> wide(stride * info.height, 0x12345678u);
    Expect(DecodePcx(file, info, wide.data(), stride) == whole, "outcome depends on the stride");
    for (std::uint32_t y = 0; y < info.height && whole; ++y) {
        for (std::uint32_t x = 0; x < info.width; ++x)
            Expect(wide[y * stride + x] == tight[std::size_t(y) * info.width + x] &&
                       (tight[std::size_t(y) * info.width + x] >> 24) == 0xff,
                   "pixels depend on the stride, or are not opaque");
        Expect(wide[y * stride + info.width] == 0x12345678u, "written past a row");
    }
}

void CheckTextAndHex(std::string_view bytes) {
    bool text = true;
    for (unsigned char c : bytes)
        if ((c < 0x20 && c != '\t' && c != '\n' && c != '\f' && c != '\r' && c != 0x1a) ||
            c == 0x7f)
            text = false;
    Expect(ReadsAsText(bytes) == text, "text check disagrees with the bytes");
    Expect(ChoosePreviewKind("data\\x.bin", bytes) == (text ? PreviewKind::Text : PreviewKind::Hex),
           "kind of an unnamed entry");
    Expect(ChoosePreviewKind("a.PcX", bytes) == PreviewKind::Image, "kind of a picture");

    const std::vector<TextLine> lines = SplitTextLines(bytes);
    Expect(!lines.empty(), "no line");
    std::size_t at = 0;
    for (const TextLine& line : lines) {
        Expect(line.start >= at && line.start + line.length <= bytes.size(), "line out of order");
        Expect(line.length <= kTextRowBytes, "line longer than a row");
        // Only a line end is skipped between rows.
        for (std::size_t i = at; i < line.start; ++i)
            Expect(bytes[i] == '\n' || bytes[i] == '\r', "bytes skipped between lines");
        at = line.start + line.length;
    }

    const std::size_t rows = HexRowCount(bytes);
    Expect(rows * kHexRowBytes >= std::min(bytes.size(), kHexViewBytes) &&
               rows * kHexRowBytes < std::min(bytes.size(), kHexViewBytes) + kHexRowBytes,
           "hex rows do not cover the view");
    char out[kHexRowChars + 1];
    for (std::size_t row = 0; row<rows; row += rows> 64 ? rows / 64 : 1) {
        const std::size_t n = FormatHexRow(bytes, row, out);
        Expect(n > 10 + kHexRowBytes * 3 && n <= kHexRowChars, "hex row length");
        char offset[9];
        std::snprintf(offset, sizeof offset, "%08zx", row * kHexRowBytes);
        Expect(std::string_view(out, 8) == offset, "hex row offset");
    }
    Expect(FormatHexRow(bytes, rows, out) == 0, "a row past the view");
}

} // namespace

void CheckPreviewInput(const std::uint8_t* data, std::size_t size) {
    CheckPcx({data, size});
    CheckTextAndHex({reinterpret_cast<const char*>(data), size});
}

std::size_t LastPreviewPeakHeap() {
    return lastPeak;
}
