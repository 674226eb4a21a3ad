// The preview's speed: a 16 MiB picture and a 16 MiB text entry, from the bytes in hand (arg 0)
// or from the selected entry, packed in an archive (arg 1), until the window has painted them.
#include "ArchiveWriter.h"
#include "DatArchive.h"
#include "Extraction.h"
#include "PreviewWindow.h"
#include "UserDialogs.h"

#include <QApplication>
#include <QDialog>
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <unistd.h>
#include <zlib.h>

namespace {

class QuietDialogs : public UserDialogs {
public:
    QString ChooseArchive(QWidget*) override { return {}; }
    void ShowMessage(QWidget*, const QString&, const QString&) override {}
    int RunModal(QDialog&) override { return QDialog::Accepted; }
};

class NoMessages : public MessageSink {
public:
    void ShowMessage(std::string_view, std::string_view) override {}
};

// 4096 x 4096 pixels of 8 bits, raw (16 MiB and the palette): the decoder's most bytes.
std::string Picture() {
    std::string out(128, '\0');
    out[0] = 0x0a;
    out[1] = 5;
    out[3] = 8;
    out[8] = out[10] = char(0xff);
    out[9] = out[11] = 0x0f;
    out[65] = 1;
    out[67] = 0x10;
    out.reserve(128 + (16u << 20) + 769);
    for (unsigned y = 0; y < 4096; ++y)
        for (unsigned x = 0; x < 4096; ++x)
            out += char((x ^ y) + (x * y >> 9));
    out += '\x0c';
    for (int i = 0; i < 768; ++i)
        out += char(i * 7 / 3);
    return out;
}

// 16 MiB of lines of varied length.
std::string Text() {
    std::string out;
    char line[160];
    for (unsigned i = 0; out.size() < (16u << 20); ++i) {
        const int n =
            std::snprintf(line, sizeof line, "%07u the quick brown fox %.*s\n", i, int(i % 97),
                          "jumps over the lazy dog again and again and "
                          "again until the line is long enough for a "
                          "preview to have to lay it out");
        out.append(line, std::size_t(n));
    }
    out.resize(16u << 20);
    return out;
}

struct Archive {
    explicit Archive(const std::string& name, const std::string& bytes) {
        MemoryOutput output;
        ArchiveWriter writer(output);
        uLongf packedSize = compressBound(uLong(bytes.size()));
        std::string packed(packedSize, '\0');
        compress2(reinterpret_cast<Bytef*>(packed.data()), &packedSize,
                  reinterpret_cast<const Bytef*>(bytes.data()), uLong(bytes.size()), 6);
        packed.resize(packedSize);
        writer.AddEntry(name, packed, std::uint32_t(bytes.size()), std::uint32_t(packed.size()));
        writer.Finish();
        path = (std::filesystem::temp_directory_path() / "vdat-preview-XXXXXX").string();
        const int fd = ::mkstemp(path.data());
        if (fd >= 0)
            ::close(fd);
        std::ofstream(path, std::ios::binary)
            .write(output.Bytes().data(), std::streamsize(output.Bytes().size()));
        archive.Open(path);
        archive.LoadDirectory();
    }
    ~Archive() { std::filesystem::remove(path); }
    NoMessages messages;
    NullListSink list;
    NullProgressSink progress;
    DatArchive archive{messages, list, progress};
    std::string path;
};

void ShowUntilPainted(benchmark::State& state, const char* name, const std::string& bytes,
                      PreviewKind kind) {
    QuietDialogs dialogs;
    PreviewWindow window(dialogs);
    window.show();
    QApplication::processEvents();
    const bool fromArchive = state.range(0) == 1;
    std::unique_ptr<Archive> archive;
    if (fromArchive)
        archive = std::make_unique<Archive>(name, bytes);
    EntryWriter writer;
    for (auto _ : state) {
        if (fromArchive) {
            window.ShowEntry(archive->archive, 0, writer);
        } else {
            state.PauseTiming();
            std::string copy = bytes; // the bytes in hand, as the decoder leaves them
            state.ResumeTiming();
            window.Show(name, std::move(copy));
        }
        window.repaint();
        if (window.Kind() != kind || !window.Note().isEmpty())
            state.SkipWithError("not shown as expected");
        state.PauseTiming();
        window.ShowDamaged("none", "between runs"); // the next run starts from nothing shown
        QApplication::processEvents();
        state.ResumeTiming();
    }
}

void BM_PreviewPicture16MiB(benchmark::State& state) {
    static const std::string picture = Picture();
    ShowUntilPainted(state, "art\\big.pcx", picture, PreviewKind::Image);
}
BENCHMARK(BM_PreviewPicture16MiB)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_PreviewText16MiB(benchmark::State& state) {
    static const std::string text = Text();
    ShowUntilPainted(state, "docs\\big.txt", text, PreviewKind::Text);
}
BENCHMARK(BM_PreviewText16MiB)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace
