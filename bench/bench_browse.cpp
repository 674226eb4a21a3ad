// Browsing a large archive in the window: a keystroke in the find bar, the folder view built and
// a large folder expanded, each until the list is in step with the view; and Extract Selected To
// of 20,000 entries against `vdat extract` of the same entries.
#include "ArchiveWriter.h"
#include "MainDialog.h"
#include "TreeListCtrl.h"

#include <QApplication>
#include <QDialog>
#include <QLineEdit>
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>
#include <zlib.h>

namespace {
class BrowseDialogs : public UserDialogs {
public:
    QString ChooseArchive(QWidget*) override { return {}; }
    void ShowMessage(QWidget*, const QString&, const QString&) override { ++messages; }
    int RunModal(QDialog&) override { return QDialog::Accepted; }
    QString ChooseFolder(QWidget*, const QString&) override { return folder; }
    QString folder;
    int messages = 0;
};

// count entries sharing one byte of data, spread over `folders` folders (the last folder gets
// `large` of them, when given, the others the rest in turn).
std::string Directory(int count, int folders, int large) {
    MemoryOutput output;
    ArchiveWriter writer(output);
    char name[96];
    for (int i = 0; i < count; ++i) {
        const int folder = i < large ? folders - 1 : i % (large > 0 ? folders - 1 : folders);
        std::snprintf(name, sizeof name, "data\\group%02d\\folder%04d\\texture%07d.pcx",
                      folder % 16, folder, i);
        writer.AddEntry(name, i == 0 ? "x" : "", 1, 0);
        writer.Directory().back().dataOffset = 12;
    }
    writer.Finish();
    return output.Bytes();
}

// count packed entries of about 4 KiB each, in 64 folders.
std::string PackedEntries(int count) {
    MemoryOutput output;
    ArchiveWriter writer(output);
    char name[96];
    std::string data;
    for (int i = 0; i < count; ++i) {
        data.clear();
        for (int line = 0; data.size() < 4096; ++line)
            data += "entry " + std::to_string(i) + " line " + std::to_string(line) + " of text\n";
        uLongf packedSize = compressBound(uLong(data.size()));
        std::string packed(packedSize, '\0');
        compress2(reinterpret_cast<Bytef*>(packed.data()), &packedSize,
                  reinterpret_cast<const Bytef*>(data.data()), uLong(data.size()), 6);
        packed.resize(packedSize);
        std::snprintf(name, sizeof name, "maps\\area%02d\\file%06d.txt", i % 64, i);
        writer.AddEntry(name, packed, std::uint32_t(data.size()), std::uint32_t(packed.size()));
    }
    writer.Finish();
    return output.Bytes();
}

struct Scratch {
    explicit Scratch(const std::string& bytes) {
        folder = (std::filesystem::temp_directory_path() / "vdat-browse-XXXXXX").string();
        if (!::mkdtemp(folder.data()))
            folder.clear();
        archive = folder + "/game.dat";
        std::ofstream(archive, std::ios::binary).write(bytes.data(), std::streamsize(bytes.size()));
    }
    ~Scratch() {
        std::error_code ignored;
        std::filesystem::remove_all(folder, ignored);
    }
    std::string folder, archive;
};

// Each keystroke of typing a name part, then a pattern; arg 1: in the folder view.
void BM_FindKeystroke(benchmark::State& state) {
    const Scratch scratch(Directory(200000, 4096, 0));
    BrowseDialogs dialogs;
    MainDialog dialog(dialogs);
    dialog.show();
    dialog.OpenArchive(QString::fromStdString(scratch.archive));
    dialog.SetFolderView(state.range(0) != 0);
    dialog.ShowFind();
    QApplication::processEvents();
    const QString texts[] = {"t",        "te",          "tex",        "text",      "textu",
                             "textur",   "texture",     "texture0",   "texture01", "texture012",
                             "*01?.pcx", "*/folder00*", "FOLDER0042", "",          "e"};
    std::size_t next = 0;
    double slowest = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        dialog.FindText().setText(texts[next++ % std::size(texts)]);
        QApplication::processEvents(); // until the view has the rows
        const double ms =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count();
        std::fprintf(stderr, "%s %.1f %d\n", qPrintable(texts[(next - 1) % std::size(texts)]), ms,
                     dialog.EntryList().rowCount());
        slowest = std::max(slowest, ms);
    }
    state.counters["slowest_ms"] = slowest;
}
BENCHMARK(BM_FindKeystroke)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_FolderViewBuild(benchmark::State& state) {
    const Scratch scratch(Directory(200000, 4096, 0));
    BrowseDialogs dialogs;
    MainDialog dialog(dialogs);
    dialog.show();
    dialog.OpenArchive(QString::fromStdString(scratch.archive));
    QApplication::processEvents();
    for (auto _ : state) {
        dialog.SetFolderView(true);
        QApplication::processEvents();
        state.PauseTiming();
        dialog.SetFolderView(false);
        QApplication::processEvents();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_FolderViewBuild)->Unit(benchmark::kMillisecond)->UseRealTime();

// A folder of 10,000 entries, its siblings and the other folders shown (all of "data" open).
void BM_ExpandLargeFolder(benchmark::State& state) {
    const Scratch scratch(Directory(200000, 4096, 10000));
    BrowseDialogs dialogs;
    MainDialog dialog(dialogs);
    dialog.show();
    dialog.OpenArchive(QString::fromStdString(scratch.archive));
    dialog.SetFolderView(true);
    TreeListCtrl& list = dialog.EntryList();
    // data, then group15 (where the large folder is), which lists its 256 folders.
    auto rowNamed = [&](const char* label) {
        for (int row = 0; row < list.rowCount(); ++row)
            if (list.rowText(row, 0) == label)
                return row;
        return -1;
    };
    list.ToggleRow(rowNamed("data"));
    list.ToggleRow(rowNamed("group15"));
    QApplication::processEvents();
    const int row = rowNamed("folder4095");
    for (auto _ : state) {
        list.ToggleRow(row);
        QApplication::processEvents();
        if (list.rowCount() < 10000) {
            state.SkipWithError("the folder did not open");
            break;
        }
        state.PauseTiming();
        list.ToggleRow(row);
        QApplication::processEvents();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_ExpandLargeFolder)->Unit(benchmark::kMillisecond)->UseRealTime();

// Arg 0: the window's Extract Selected To with every row selected; arg 1: `vdat extract` of the
// same archive. Each run writes into a new folder.
void BM_ExtractSelectedTo(benchmark::State& state) {
    const Scratch scratch(PackedEntries(20000));
    const std::string vdat =
        std::filesystem::read_symlink("/proc/self/exe").parent_path().string() + "/vdat";
    BrowseDialogs dialogs;
    MainDialog dialog(dialogs);
    dialog.show();
    dialog.OpenArchive(QString::fromStdString(scratch.archive));
    QApplication::processEvents();
    dialog.EntryList().selectAll();
    int run = 0;
    for (auto _ : state) {
        state.PauseTiming();
        const std::string out = scratch.folder + "/out" + std::to_string(run++);
        std::filesystem::create_directory(out);
        ::sync();
        state.ResumeTiming();
        if (state.range(0) == 0) {
            dialogs.folder = QString::fromStdString(out);
            dialog.OnExtractSelectedTo();
        } else {
            const std::string command =
                vdat + " extract -q -C '" + out + "' '" + scratch.archive + "'";
            if (std::system(command.c_str()) != 0) {
                state.SkipWithError("vdat extract failed");
                break;
            }
        }
        state.PauseTiming();
        const bool whole = std::filesystem::exists(out + "/maps/area31/file019999.txt");
        std::error_code ignored;
        std::filesystem::remove_all(out, ignored);
        state.ResumeTiming();
        if (!whole) {
            state.SkipWithError("not every entry was written");
            break;
        }
    }
    if (dialogs.messages != 0)
        state.SkipWithError("an entry could not be written");
}
BENCHMARK(BM_ExtractSelectedTo)
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);
} // namespace
