// Writes the seed corpus of the preview fuzz target: a small pcx of every layout, run-length
// and raw, one with runs across rows, and a text and a binary entry. Nothing here is committed;
// the build runs this into its own folder.
//
// usage: make_preview_seeds SEED_FOLDER
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

void Put16(std::string& out, std::size_t at, unsigned value) {
    out[at] = char(value & 0xff);
    out[at + 1] = char(value >> 8);
}

// width x height in `planes` planes of `bits`, every row's bytes a short pattern, run-length
// encoded (a pair for each repeated byte, a literal otherwise) or raw.
std::string Pcx(unsigned width, unsigned height, unsigned bits, unsigned planes, bool runLength) {
    std::string out(128, '\0');
    out[0] = 0x0a;
    out[1] = 5;
    out[2] = runLength ? 1 : 0;
    out[3] = char(bits);
    Put16(out, 8, width - 1);
    Put16(out, 10, height - 1);
    for (int i = 0; i < 48; ++i)
        out[16 + i] = char(i * 5);
    out[65] = char(planes);
    const unsigned perLine = (width * bits + 7) / 8;
    Put16(out, 66, perLine);
    for (unsigned y = 0; y < height; ++y)
        for (unsigned p = 0; p < planes; ++p)
            for (unsigned x = 0; x < perLine; ++x) {
                const char value = char((x / 4 + y + p) & 0x3f);
                if (runLength && x % 4 == 0 && x + 4 <= perLine) {
                    out += {char(0xc4), value};
                    x += 3;
                } else {
                    out += value;
                }
            }
    if (bits == 8 && planes == 1) {
        out += '\x0c';
        for (int i = 0; i < 768; ++i)
            out += char(i / 3);
    }
    return out;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_preview_seeds SEED_FOLDER\n");
        return 2;
    }
    const std::filesystem::path folder = argv[1];
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    const std::pair<const char*, std::string> seeds[] = {
        {"bw.pcx", Pcx(13, 5, 1, 1, true)},
        {"planar16.pcx", Pcx(12, 6, 1, 4, true)},
        {"packed4.pcx", Pcx(9, 4, 4, 1, true)},
        {"packed2.pcx", Pcx(9, 4, 2, 1, true)},
        {"indexed256.pcx", Pcx(20, 7, 8, 1, true)},
        {"rgb.pcx", Pcx(16, 8, 8, 3, true)},
        {"rgba.pcx", Pcx(8, 4, 8, 4, true)},
        {"raw256.pcx", Pcx(17, 3, 8, 1, false)},
        {"text.txt", "line one\r\nline two\twith a tab\n\ncaf\xe9\n"},
        {"binary.bin", std::string("MDL\0\x01\x02\xff\x7f", 8)},
    };
    bool ok = true;
    for (const auto& [name, bytes] : seeds) {
        std::ofstream out(folder / name, std::ios::binary);
        out.write(bytes.data(), std::streamsize(bytes.size()));
        ok &= bool(out.flush());
    }
    return ok ? 0 : 1;
}
