// Writes the seed corpus and the dictionary of the archive fuzz target, with the tests' archive
// builder on the archive writer. Each seed is a small archive that reaches one road through the
// reader and extraction: sound archives of every kind of entry, and archives with one defect
// each. The dictionary holds the identifier, the numbers a header and a record are made of, name
// pieces that matter, and zlib stream headers. Nothing here is committed; the build runs this
// into its own folder.
//
// usage: make_seeds SEED_FOLDER DICTIONARY_FILE
#include "ArchiveBuilder.h"
#include "ArchiveFormat.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <map>
#include <optional>
#include <string>
#include <utility>

namespace {

using Seeds = std::map<std::string, std::string>;

std::string Repeat(std::string_view piece, int times) {
    std::string out;
    for (int i = 0; i < times; ++i)
        out += piece;
    return out;
}

std::string Le32(std::uint32_t value) {
    std::string out;
    ArchiveBuilder::PutLE32(out, value);
    return out;
}

std::string SoundMixed() {
    const std::string text = Repeat("The quick brown fox jumps over the lazy dog.\n", 8);
    std::string bytes;
    for (int i = 0; i < 1024; ++i)
        bytes += char(i & 0xFF);
    ArchiveBuilder b;
    b.AddStored("readme.txt", "hello, archive\n");
    b.AddPacked("maps\\walls\\stone.pcx", text);
    b.AddStored("sound\\x.mp3", "ID3" + std::string(29, '\0'));
    b.AddPacked("models\\ship.mdl", std::string(4096, '\0'));
    b.AddStored("empty.bin", "");
    b.AddPacked("pics\\title.bmp", bytes, 9);
    b.AddStored("levels\\e1m1.bsp", "BSP" + std::string(61, '\0'));
    return b.Build();
}

// The directory straight after the header, the data after it: laid out by hand, since the
// writer always puts the directory last.
std::string DirectoryFirst(const std::string& text) {
    const std::string packed = ArchiveBuilder::Zlib(text);
    const std::uint32_t data = kHeaderSize + 2 * kDirectoryEntrySize;
    std::string out = "VDAT" + Le32(kHeaderSize) + Le32(2 * kDirectoryEntrySize);
    out += ArchiveBuilder::Record("a.txt", data, 5, 0);
    out += ArchiveBuilder::Record("b\\c.wav", data + 5, std::uint32_t(text.size()),
                                  std::uint32_t(packed.size()));
    return out + "first" + packed;
}

std::string TwoStored(std::optional<std::uint32_t> directorySize = {}) {
    ArchiveBuilder b;
    b.AddStored("a", "1");
    b.AddStored("b", "2");
    b.directorySize = directorySize;
    return b.Build();
}

std::string StoredNames(std::initializer_list<std::pair<std::string, std::string>> entries) {
    ArchiveBuilder b;
    for (const auto& [name, content] : entries)
        b.AddStored(name, content);
    return b.Build();
}

Seeds MakeSeeds() {
    const std::string text = Repeat("The quick brown fox jumps over the lazy dog.\n", 8);
    Seeds s;
    s["sound-mixed"] = SoundMixed();
    s["sound-directory-first"] = DirectoryFirst(text);
    s["empty-archive"] = ArchiveBuilder().Build();
    s["header-only-cut"] = ArchiveBuilder().Build().substr(0, 7);
    s["not-an-archive"] = std::string("PK\x03\x04", 4) + std::string(40, '\0');
    {
        ArchiveBuilder b;
        b.AddStored("x", "y");
        b.identifier = 0x74616476; // "vdat"
        s["lowercase-identifier"] = b.Build();
    }
    s["directory-size-remainder"] = TwoStored(2 * kDirectoryEntrySize + 12);
    s["directory-cut-short"] = TwoStored();
    s["directory-cut-short"].pop_back();
    {
        ArchiveBuilder b;
        b.AddStored("only", "one");
        b.directorySize = 0xFFFFFFFF;
        s["directory-huge-size"] = b.Build();
    }
    {
        ArchiveBuilder b;
        b.AddStored("a", "1");
        b.directoryOffset = 0x7FFFFFF0;
        s["directory-past-end"] = b.Build();
    }
    s["names-climbing"] = StoredNames({{"..\\up.txt", "u"},
                                       {"a\\..\\..\\x", "x"},
                                       {"\\root.txt", "r"},
                                       {"C:\\drive.txt", "c"},
                                       {"a\\\\double.txt", "d"},
                                       {"", "e"},
                                       {"\\\\\\", "b"},
                                       {".\\dot.txt", "."},
                                       {"fine.txt", "ok"}});
    s["names-odd"] = StoredNames({{"fwd/slash.txt", "f"},
                                  {"ctl\x01\x07\t\n.txt", "c"},
                                  {"high\xe9\xff.txt", "h"},
                                  {std::string(128, 'n'), "no nul"},
                                  {"Same.txt", "upper"},
                                  {"same.txt", "lower"}});
    s["names-through-symlinks"] = StoredNames({{"lnk\\escape.txt", "l"},
                                               {"file-lnk", "overwrite the sentinel"},
                                               {"abs-lnk\\deep\\x.txt", "a"},
                                               {"lnk", "over the link"},
                                               {"safe\\ok.txt", "fine"}});
    s["folder-file-conflicts"] = StoredNames({{"a", "a file"},
                                              {"a\\b", "needs a as a folder"},
                                              {"c\\d", "makes c a folder"},
                                              {"c", "a file where a folder is"}});
    {
        ArchiveBuilder b;
        b.AddStored("dup.txt", "first");
        b.AddStored("dup.txt", "second");
        b.AddRaw("shared1", "", 6, 0).dataOffset = kHeaderSize;
        b.AddRaw("shared2", "", 11, 0).dataOffset = kHeaderSize;
        s["duplicates-and-shared-data"] = b.Build();
    }
    const std::string stream = ArchiveBuilder::Zlib(text);
    const auto size = std::uint32_t(text.size());
    const auto packed = std::uint32_t(stream.size());
    {
        std::string badAdler = stream;
        badAdler.back() = char(badAdler.back() ^ 0xFF);
        const std::string tiny = ArchiveBuilder::Zlib("tiny");
        ArchiveBuilder b;
        b.AddRaw("bad-adler.txt", badAdler, size, packed);
        b.AddRaw("cut-short.txt", stream.substr(0, packed / 2), size, packed / 2);
        b.AddRaw("trailing.txt", stream + "junk!", size, packed + 5);
        b.AddRaw("fewer-bytes.txt", stream, size + 100, packed);
        b.AddRaw("more-bytes.txt", stream, size - 1, packed);
        b.AddRaw("zero-real.txt", stream, 0, packed);
        b.AddRaw("stored-zlib-looking.txt", stream, packed, 0);
        b.AddRaw("four-gib.txt", tiny, 0xFFFFFFFF, std::uint32_t(tiny.size()));
        s["zlib-damage"] = b.Build();
    }
    {
        ArchiveBuilder b;
        b.AddRaw("offset-past-end", "", 10, 0).dataOffset = 0x10000000;
        b.AddRaw("one-byte-short", "abc", 4, 0);
        b.AddRaw("packed-past-end", "", 10, 10).dataOffset = 0xFFFFFFF0;
        b.AddRaw("packed-larger-than-file", stream, size, 0x00100000);
        s["data-past-end"] = b.Build();
    }
    {
        const std::string zeros(60000, '\0');
        ArchiveBuilder b;
        b.AddPacked("bomb.bin", zeros, 9);
        const auto bombPacked = std::uint32_t(ArchiveBuilder::Zlib(zeros, 9).size());
        for (int i = 0; i < 4; ++i)
            b.AddRaw("again" + std::to_string(i) + ".bin", "", 60000, bombPacked).dataOffset =
                kHeaderSize;
        s["bomb-ratio"] = b.Build();
    }
    {
        ArchiveBuilder b;
        b.AddStored("d", "x");
        b.directoryOffset = 4;
        s["directory-inside-data"] = b.Build();
    }
    {
        std::string deep = "f";
        for (int i = 1; i < 60; ++i)
            deep += "\\f";
        s["deep-folders"] = StoredNames({{deep, "deep"}, {"a\\b\\c\\d\\e\\f\\g\\h\\i\\j", "ten"}});
    }
    {
        ArchiveBuilder b;
        for (int i = 0; i < 300; ++i) {
            char name[16];
            std::snprintf(name, sizeof name, "many\\%03d.txt", i);
            b.AddStored(name, std::to_string(i));
        }
        s["many-entries"] = b.Build();
    }
    return s;
}

std::string Dictionary() {
    const std::string words[] = {
        "VDAT", "DATV", "vdat", Le32(kHeaderSize), Le32(kDirectoryEntrySize),
        Le32(2 * kDirectoryEntrySize), Le32(kDirectoryEntrySize + kHeaderSize), Le32(0xFFFFFFFF),
        Le32(0x80000000), Le32(0x7FFFFFFF), Le32(1032), Le32(0x10000),
        // A record's four numbers and the end of an empty name field.
        std::string(16, '\0'), std::string(4, '\0') + Le32(12) + Le32(16) + Le32(0), "\\", "..\\",
        ".\\", "\\\\", "C:\\", "/", "lnk\\", "file-lnk", "abs-lnk\\", ".mp3", ".pcx", ".txt",
        ".ini", ".bmp", ".wav", ".bsp", ".mdl", ".apd",
        // zlib headers for each level, the empty stored block, and a final empty stream.
        "\x78\x01", "\x78\x5e", "\x78\x9c", "\x78\xda", std::string("\x00\x00\xff\xff", 4),
        std::string("\x01\x00\x00\xff\xff", 5), ArchiveBuilder::Zlib(""),
        ArchiveBuilder::Zlib("a")};
    std::string out;
    int index = 0;
    for (const std::string& word : words) {
        out += "w" + std::to_string(index++) + "=\"";
        for (unsigned char c : word) {
            char escaped[5];
            std::snprintf(escaped, sizeof escaped, "\\x%02x", c);
            out += escaped;
        }
        out += "\"\n";
    }
    return out;
}

bool WriteFile(const std::filesystem::path& path, const std::string& bytes) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(bytes.data(), std::streamsize(bytes.size()));
    file.close();
    if (!file)
        std::fprintf(stderr, "make_seeds: cannot write %s\n", path.c_str());
    return bool(file);
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: make_seeds SEED_FOLDER DICTIONARY_FILE\n");
        return 2;
    }
    const std::filesystem::path folder = argv[1];
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    for (const auto& old : std::filesystem::directory_iterator(folder, error))
        std::filesystem::remove(old.path(), error);
    bool ok = true;
    const Seeds seeds = MakeSeeds();
    for (const auto& [name, bytes] : seeds)
        ok &= WriteFile(folder / (name + ".dat"), bytes);
    // Every cut of one sound archive at each length through its header.
    for (std::size_t n = 0; n < kHeaderSize; ++n) {
        char name[32];
        std::snprintf(name, sizeof name, "header-cut-%02zu.dat", n);
        ok &= WriteFile(folder / name, seeds.at("sound-mixed").substr(0, n));
    }
    ok &= WriteFile(argv[2], Dictionary());
    return ok ? 0 : 1;
}
