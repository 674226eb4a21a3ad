// Writes the benchmark corpora: the same files once as a DAT archive and once as an equivalent
// zip (same paths with '/', same zlib level, and the zip's deflate data is exactly the DAT's
// zlib stream without its header and trailer, so every tool inflates the same bytes).
// Deterministic: the same seed gives the same bytes.
//
//   make_corpus large|medium|small|tiny OUTDIR   writes OUTDIR/NAME.dat and OUTDIR/NAME.zip
//   make_corpus huge OUTDIR                      writes OUTDIR/huge.dat only: four packed entries
//                                                of 1 GiB each, for the memory bound
#include "ArchiveWriter.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>
#include <zlib.h>

namespace {
struct Shape {
    const char* name;
    std::uint32_t entries;
    std::uint32_t minSize, maxSize;
    unsigned packedPercent; // share of entries that are packed; the rest are stored
    std::uint32_t folders;  // distinct folders the entries are spread over
    unsigned depth;         // folder levels
};

constexpr Shape kShapes[] = {
    {"large", 40, 4u << 20, 32u << 20, 85, 4, 1},
    {"medium", 20000, 1024, 16384, 80, 512, 3},
    {"small", 200000, 16, 512, 80, 4096, 2},
    {"tiny", 300, 16, 8192, 80, 12, 2},
};

// xorshift64*: fast and the same everywhere.
struct Rng {
    std::uint64_t s;
    std::uint64_t Next() {
        s ^= s >> 12;
        s ^= s << 25;
        s ^= s >> 27;
        return s * 2685821657736338717ull;
    }
    std::uint32_t Below(std::uint32_t n) { return std::uint32_t(Next() % n); }
};

const char* const kWords[] = {
    "the",    "map",     "wall",   "texture", "sound", "level", "player", "door",   "light",
    "shadow", "vertex",  "normal", "origin",  "angle", "speed", "health", "weapon", "ammo",
    "sky",    "water",   "lava",   "model",   "frame", "skin",  "script", "entity", "trigger",
    "target", "monster", "path",   "node",    "brush", "plane", "face",   "edge",   "surface"};

// Text-like lines and binary-like runs, so the data compresses like game files do.
std::string Content(Rng& rng, std::uint32_t size) {
    std::string out;
    out.reserve(size);
    while (out.size() < size) {
        if (rng.Below(3) != 0) {
            const unsigned words = 3 + rng.Below(10);
            for (unsigned w = 0; w < words; ++w) {
                out += kWords[rng.Below(sizeof kWords / sizeof *kWords)];
                out += w + 1 < words ? ' ' : '\n';
            }
            out += std::to_string(rng.Below(100000));
            out += '\n';
        } else {
            const unsigned run = 16 + rng.Below(240);
            const unsigned alphabet = 4 + rng.Below(60);
            const unsigned base = rng.Below(192);
            for (unsigned i = 0; i < run; ++i) {
                const std::uint64_t r = rng.Next();
                out.push_back(char(base + (r >> 33) % alphabet));
                if ((r & 7) == 0 && i + 4 < run &&
                    out.size() >= 4) { // short repeats, like tables in binaries
                    out.append(out, out.size() - 4, 4);
                    i += 4;
                }
            }
        }
    }
    out.resize(size);
    return out;
}

struct Entry {
    std::string path; // with '/'
    std::string content;
    std::string stream; // zlib stream, empty when stored
    std::uint32_t crc = 0;
};

std::string FolderName(const Shape& shape, std::uint32_t folder) {
    // Spread `folders` leaf folders over `depth` levels with an equal fan-out.
    std::uint32_t fan = 1;
    while (true) {
        std::uint64_t total = 1;
        for (unsigned d = 0; d < shape.depth; ++d)
            total *= fan;
        if (total >= shape.folders)
            break;
        ++fan;
    }
    std::string out;
    std::uint32_t f = folder;
    std::vector<std::uint32_t> digits(shape.depth);
    for (unsigned d = 0; d < shape.depth; ++d) {
        digits[shape.depth - 1 - d] = f % fan;
        f /= fan;
    }
    for (unsigned d = 0; d < shape.depth; ++d)
        out += "dir" + std::to_string(d) + "_" + std::to_string(digits[d]) + "/";
    return out;
}

const char* const kExtensions[] = {".mp3", ".gdb", ".pcx", ".tga", ".png", ".bmp",
                                   ".wav", ".bsp", ".mdl", ".txt", ".dat", ".apd"};

void Put16(std::string& o, std::uint32_t v) {
    o.push_back(char(v & 0xFF));
    o.push_back(char((v >> 8) & 0xFF));
}
void Put32(std::string& o, std::uint32_t v) {
    Put16(o, v & 0xFFFF);
    Put16(o, v >> 16);
}
void Put64(std::string& o, std::uint64_t v) {
    Put32(o, std::uint32_t(v));
    Put32(o, std::uint32_t(v >> 32));
}

bool WriteAll(std::FILE* f, const std::string& s) {
    return std::fwrite(s.data(), 1, s.size(), f) == s.size();
}
} // namespace

// Four entries of 1 GiB real, one stream written four times (the content is the same, the
// memory each takes to extract is not).
int MakeHuge(const std::string& dir) {
    constexpr std::uint32_t kEntries = 4, kReal = 1u << 30;
    Rng rng{0x243F6A8885A308D3ull};
    const std::string content = Content(rng, kReal);
    uLongf len = compressBound(content.size());
    std::string stream(len, '\0');
    compress2(reinterpret_cast<Bytef*>(stream.data()), &len,
              reinterpret_cast<const Bytef*>(content.data()), content.size(), 1);
    stream.resize(len);
    const std::string path = dir + "/huge.dat";
    std::FILE* dat = std::fopen(path.c_str(), "wb");
    if (!dat) {
        std::fprintf(stderr, "make_corpus: cannot write %s\n", path.c_str());
        return 1;
    }
    std::string header, directory;
    Put32(header, 0x54414456);
    Put32(header, std::uint32_t(12 + kEntries * stream.size()));
    Put32(header, kEntries * 144);
    bool ok = WriteAll(dat, header);
    for (std::uint32_t i = 0; i < kEntries; ++i) {
        ok = ok && WriteAll(dat, stream);
        std::string name = "huge" + std::to_string(i) + ".bin";
        name.resize(128, '\0');
        directory += name;
        Put32(directory, std::uint32_t(12 + i * stream.size()));
        Put32(directory, kReal);
        Put32(directory, std::uint32_t(stream.size()));
        Put32(directory, 0);
    }
    ok = ok && WriteAll(dat, directory);
    ok = std::fclose(dat) == 0 && ok;
    return ok ? 0 : 1;
}

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: make_corpus large|medium|small|tiny|huge OUTDIR\n");
        return 2;
    }
    if (std::strcmp(argv[1], "huge") == 0)
        return MakeHuge(argv[2]);
    const Shape* shape = nullptr;
    for (const Shape& s : kShapes)
        if (std::strcmp(s.name, argv[1]) == 0)
            shape = &s;
    if (!shape) {
        std::fprintf(stderr, "make_corpus: unknown corpus '%s'\n", argv[1]);
        return 2;
    }
    const std::string dir = argv[2];

    // Sizes, names and kinds come from one sequence; contents from one seed per entry, so
    // the entries can be compressed in parallel and still come out the same.
    Rng rng{0x9E3779B97F4A7C15ull ^ shape->entries};
    std::vector<Entry> entries(shape->entries);
    std::vector<std::uint32_t> sizes(shape->entries);
    std::vector<bool> packed(shape->entries);
    for (std::uint32_t i = 0; i < shape->entries; ++i) {
        Entry& e = entries[i];
        const std::uint32_t folder = rng.Below(shape->folders);
        e.path =
            FolderName(*shape, folder) + "file" + std::to_string(i) + kExtensions[rng.Below(12)];
        sizes[i] = shape->minSize + rng.Below(shape->maxSize - shape->minSize + 1);
        packed[i] = rng.Below(100) < shape->packedPercent;
    }
    const unsigned threads = std::max(1u, std::thread::hardware_concurrency());
    std::vector<std::thread> pool;
    for (unsigned t = 0; t < threads; ++t) {
        pool.emplace_back([&, t] {
            for (std::uint32_t i = t; i < entries.size(); i += threads) {
                Entry& e = entries[i];
                Rng local{0xD1B54A32D192ED03ull * (i + 1) ^ shape->entries};
                e.content = Content(local, sizes[i]);
                e.crc = std::uint32_t(crc32(0, reinterpret_cast<const Bytef*>(e.content.data()),
                                            uInt(e.content.size())));
                if (packed[i]) {
                    uLongf len = compressBound(e.content.size());
                    e.stream.resize(len);
                    compress2(reinterpret_cast<Bytef*>(e.stream.data()), &len,
                              reinterpret_cast<const Bytef*>(e.content.data()), e.content.size(),
                              6);
                    e.stream.resize(len);
                }
            }
        });
    }
    for (auto& t : pool)
        t.join();

    // DAT: header, data, directory, through the project's archive writer.
    const std::string datPath = dir + "/" + shape->name + ".dat";
    const int dat = ::open(datPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (dat < 0) {
        std::fprintf(stderr, "make_corpus: cannot write %s\n", datPath.c_str());
        return 1;
    }
    bool ok = true;
    {
        FileOutput output(dat);
        ArchiveWriter writer(output);
        for (const Entry& e : entries) {
            std::string name = e.path;
            std::replace(name.begin(), name.end(), '/', '\\');
            const std::string& bytes = e.stream.empty() ? e.content : e.stream;
            ok = ok && writer.AddEntry(name, bytes, std::uint32_t(e.content.size()),
                                       std::uint32_t(e.stream.size()));
        }
        ok = ok && writer.Finish();
    }
    ok = ::close(dat) == 0 && ok;

    // zip: local headers and data, central directory, zip64 end records (200,000 entries do
    // not fit the classic 16-bit count).
    const std::string zipPath = dir + "/" + shape->name + ".zip";
    std::FILE* zip = std::fopen(zipPath.c_str(), "wb");
    if (!zip) {
        std::fprintf(stderr, "make_corpus: cannot write %s\n", zipPath.c_str());
        return 1;
    }
    std::string central;
    std::uint64_t zipOffset = 0;
    for (const Entry& e : entries) {
        const bool deflated = !e.stream.empty();
        // The zlib stream is 2 header bytes, raw deflate, 4 Adler-32 bytes.
        const std::string_view data =
            deflated ? std::string_view(e.stream).substr(2, e.stream.size() - 6)
                     : std::string_view(e.content);
        std::string local;
        Put32(local, 0x04034b50);
        Put16(local, 20);
        Put16(local, 0);
        Put16(local, deflated ? 8 : 0);
        Put16(local, 0);      // time
        Put16(local, 0x5A21); // date 2025-01-01
        Put32(local, e.crc);
        Put32(local, std::uint32_t(data.size()));
        Put32(local, std::uint32_t(e.content.size()));
        Put16(local, std::uint32_t(e.path.size()));
        Put16(local, 0);
        local += e.path;
        ok = ok && WriteAll(zip, local) &&
             std::fwrite(data.data(), 1, data.size(), zip) == data.size();

        Put32(central, 0x02014b50);
        Put16(central, 0x031E); // made by unix, 3.0
        Put16(central, 20);
        Put16(central, 0);
        Put16(central, deflated ? 8 : 0);
        Put16(central, 0);
        Put16(central, 0x5A21);
        Put32(central, e.crc);
        Put32(central, std::uint32_t(data.size()));
        Put32(central, std::uint32_t(e.content.size()));
        Put16(central, std::uint32_t(e.path.size()));
        Put16(central, 0);
        Put16(central, 0);
        Put16(central, 0);
        Put16(central, 0);
        Put32(central, 0100644u << 16); // regular file, rw-r--r--
        Put32(central, std::uint32_t(zipOffset));
        central += e.path;
        zipOffset += local.size() + data.size();
    }
    const std::uint64_t centralOffset = zipOffset;
    std::string tail = central;
    const std::uint64_t zip64Offset = centralOffset + central.size();
    Put32(tail, 0x06064b50);
    Put64(tail, 44);
    Put16(tail, 45);
    Put16(tail, 45);
    Put32(tail, 0);
    Put32(tail, 0);
    Put64(tail, entries.size());
    Put64(tail, entries.size());
    Put64(tail, central.size());
    Put64(tail, centralOffset);
    Put32(tail, 0x07064b50);
    Put32(tail, 0);
    Put64(tail, zip64Offset);
    Put32(tail, 1);
    Put32(tail, 0x06054b50);
    Put16(tail, 0);
    Put16(tail, 0);
    Put16(tail, std::min<std::size_t>(entries.size(), 0xFFFF));
    Put16(tail, std::min<std::size_t>(entries.size(), 0xFFFF));
    Put32(tail, std::uint32_t(central.size()));
    Put32(tail, std::uint32_t(centralOffset));
    Put16(tail, 0);
    ok = ok && WriteAll(zip, tail);
    ok = std::fclose(zip) == 0 && ok;
    if (!ok) {
        std::fprintf(stderr, "make_corpus: write failed\n");
        return 1;
    }
    return 0;
}
