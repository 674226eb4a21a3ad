// Writes the bundled sample archive: a few KiB with stored and packed entries, nested folders
// and one entry of each file type. Run it as `make_sample examples/sample.dat`.
#include "ArchiveBuilder.h"

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
} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_sample OUTPUT\n");
        return 2;
    }
    ArchiveBuilder b;
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
    const std::string bytes = b.Build();

    std::FILE* out = std::fopen(argv[1], "wb");
    if (!out || std::fwrite(bytes.data(), 1, bytes.size(), out) != bytes.size() ||
        std::fclose(out) != 0) {
        std::fprintf(stderr, "make_sample: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
