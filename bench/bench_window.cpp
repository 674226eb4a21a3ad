// The window's own speed: opening an archive until every entry is listed, and "Extract All"
// through the same library calls and progress bar the window uses.
#include "ArchiveWriter.h"
#include "MainDialog.h"
#include "TreeListCtrl.h"

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>

namespace {
// The window's dialogs for a run without a person: no file dialog is needed (archives are opened
// by path), and messages are only counted.
class BenchDialogs : public UserDialogs {
public:
    QString ChooseArchive(QWidget*) override { return {}; }
    void ShowMessage(QWidget*, const QString&, const QString&) override { ++messages; }
    int RunModal(QDialog&) override { return QDialog::Accepted; }
    int messages = 0;
};

long PeakKb() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// n entries whose records point at one shared byte: the directory is the whole cost.
std::string ManyEntries(int n) {
    MemoryOutput output;
    ArchiveWriter writer(output);
    char name[64];
    for (int i = 0; i < n; ++i) {
        std::snprintf(name, sizeof name, "maps\\level%03d\\texture%07d.pcx", i % 1000, i);
        writer.AddEntry(name, i == 0 ? "x" : "", 1, 0);
        writer.Directory().back().dataOffset = 12;
    }
    writer.Finish();
    return output.Bytes();
}

// An archive in a scratch file, removed when the benchmark is done with it.
struct ScratchArchive {
    explicit ScratchArchive(const std::string& bytes) {
        path = (std::filesystem::temp_directory_path() / "vdat-bench-XXXXXX").string();
        const int fd = ::mkstemp(path.data());
        if (fd >= 0)
            ::close(fd);
        std::ofstream(path, std::ios::binary).write(bytes.data(), std::streamsize(bytes.size()));
    }
    ~ScratchArchive() { std::filesystem::remove(path); }
    std::string path;
};

void BM_OpenInWindow(benchmark::State& state) {
    const ScratchArchive scratch(ManyEntries(int(state.range(0))));
    const std::string& path = scratch.path;
    const QString previous = QDir::currentPath();
    BenchDialogs dialogs;
    MainDialog dialog(dialogs);
    dialog.show();
    QApplication::processEvents();
    for (auto _ : state) {
        dialog.OpenArchive(QString::fromStdString(path));
        QApplication::processEvents(); // until the list has shown what it holds
        if (dialog.EntryList().rowCount() != state.range(0))
            state.SkipWithError("not every entry was listed");
    }
    state.counters["peak_MB"] = double(PeakKb()) / 1024;
    QDir::setCurrent(previous);
}
BENCHMARK(BM_OpenInWindow)
    ->Arg(1000)
    ->Arg(100000)
    ->Arg(1000000)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// Set by bench/compare: the archive, the output folder and how long to let the machine settle
// before each run.
void Settle(const std::string& archive, const std::string& out, double seconds) {
    std::error_code ec;
    std::filesystem::remove_all(out, ec);
    std::filesystem::create_directories(out);
    sync();
    if (std::FILE* drop = std::fopen("/proc/sys/vm/drop_caches", "w")) {
        std::fputs("3\n", drop);
        std::fclose(drop);
    }
    std::ifstream in(archive, std::ios::binary);
    static char buffer[1 << 20];
    while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
    }
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
}

void BM_WindowExtractAll(benchmark::State& state) {
    const char* archive = std::getenv("VDAT_BENCH_ARCHIVE");
    const char* out = std::getenv("VDAT_BENCH_OUT");
    const char* settle = std::getenv("VDAT_BENCH_SETTLE");
    if (!archive || !out) {
        state.SkipWithError("set VDAT_BENCH_ARCHIVE and VDAT_BENCH_OUT");
        return;
    }
    const QString previous = QDir::currentPath();
    BenchDialogs dialogs;
    MainDialog dialog(dialogs);
    dialog.show();
    dialog.OpenArchive(QString::fromLocal8Bit(archive));
    QApplication::processEvents();
    for (auto _ : state) {
        state.PauseTiming();
        Settle(archive, out, settle ? std::atof(settle) : 3.0);
        QDir::setCurrent(QString::fromLocal8Bit(out));
        state.ResumeTiming();
        dialog.OnExtractAll();
    }
    if (dialogs.messages != 0)
        state.SkipWithError("an entry could not be written");
    state.counters["peak_kb"] = double(PeakKb());
    QDir::setCurrent(previous);
}
BENCHMARK(BM_WindowExtractAll)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);
} // namespace
