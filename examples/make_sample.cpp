// Writes the bundled sample archive: a few KiB with stored and packed entries, nested folders
// and one entry of each file type. Run it as `make_sample examples/sample.dat`.
#include "ArchiveWriter.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <string>

namespace {
// Text-like content that is the same on every run.
std::string Lines(const std::string& what, int count) {
    std::string out;
    for (int i = 0; i < count; ++i)
        out +=
            what + " line " + std::to_string(i) + ": the quick brown fox jumps over the lazy dog\n";
    return out;
}

std::string Bytes(int count, unsigned seed) {
    std::string out;
    for (int i = 0; i < count; ++i) {
        seed = seed * 1103515245u + 12345u;
        out.push_back(char((seed >> 16) & 0x3F)); // binary-like but compressible
    }
    return out;
}

struct Sample {
    ArchiveWriter& writer;
    bool ok = true;
    void AddStored(const char* name, const std::string& content) {
        ok = ok && writer.AddEntry(name, content, std::uint32_t(content.size()), 0);
    }
    void AddPacked(const char* name, const std::string& content) {
        std::string stream;
        ok = ok && CompressZlib(content, 6, stream) &&
             writer.AddEntry(name, stream, std::uint32_t(content.size()),
                             std::uint32_t(stream.size()));
    }
};
} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_sample OUTPUT\n");
        return 2;
    }
    const int fd = ::open(argv[1], O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        std::fprintf(stderr, "make_sample: cannot write %s: %s\n", argv[1], std::strerror(errno));
        return 1;
    }
    FileOutput output(fd);
    ArchiveWriter writer(output);
    Sample b{writer};
    b.AddPacked("readme.txt", Lines("readme", 12));
    b.AddStored("sound\\intro.mp3", Bytes(300, 1));
    b.AddPacked("maps\\e1m1.gdb", Bytes(900, 2));
    b.AddPacked("textures\\walls\\stone.pcx", Bytes(700, 3));
    b.AddStored("textures\\sky.tga", Bytes(200, 4));
    b.AddPacked("textures\\ui\\logo.png", Bytes(400, 5));
    b.AddPacked("textures\\ui\\cursor.bmp", Bytes(256, 6));
    b.AddPacked("sound\\fx\\door.wav", Bytes(800, 7));
    b.AddPacked("maps\\e1m1.bsp", Bytes(1000, 8));
    b.AddPacked("models\\player.mdl", Bytes(600, 9));
    b.AddPacked("config\\setup.ini", Lines("setting", 5));
    b.AddStored("misc\\notes.dat", Lines("notes", 3));
    b.AddPacked("scripts\\intro.apd", Lines("script", 8));
    b.AddStored("empty.txt", "");
    const bool written = b.ok && writer.Finish();
    if (::close(fd) != 0 || !written) {
        std::fprintf(stderr, "make_sample: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
