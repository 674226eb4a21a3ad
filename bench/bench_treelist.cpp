// BM_TreeListFill: fills the tree list control as the main window does when it loads an archive
// (one InsertItem and one SetItemText per entry, redraw left on, the list on screen) and lets
// the event loop run until the filled list has been painted. Reports the heap in use per record
// once the list is shown: records, rows, texts and everything Qt's view keeps for them.
#include "TreeListCtrl.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QColor>
#include <QEvent>
#include <QPixmap>
#include <QScrollBar>

#include <malloc.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace {

std::size_t heapInUse() {
    const struct mallinfo2 info = mallinfo2();
    return info.uordblks + info.hblkhd;
}

struct Entry {
    std::string name;
    std::string size;
    int image;
};

// Names and size texts shaped like a game archive's directory, made before timing starts.
std::vector<Entry> makeEntries(int count) {
    static const char* const folders[] = {"textures\\walls\\", "sound\\weapons\\", "maps\\",
                                          "models\\monsters\\", "gfx\\hud\\"};
    static const char* const types[] = {"pcx", "wav", "bsp", "mdl", "tga"};
    std::vector<Entry> entries;
    entries.reserve(std::size_t(count));
    char text[160];
    for (int i = 0; i < count; ++i) {
        std::snprintf(text, sizeof text, "%sentry%07d.%s", folders[i % 5], i, types[i % 5]);
        Entry entry{text, {}, i % 12};
        std::snprintf(text, sizeof text, "%d [%d]", (i * 37) % 90000, (i * 53) % 200000);
        entry.size = text;
        entries.push_back(std::move(entry));
    }
    return entries;
}

class PaintCounter : public QObject {
public:
    int paints = 0;

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint)
            ++paints;
        return false;
    }
};

void BM_TreeListFill(benchmark::State& state) {
    const int count = int(state.range(0));
    const std::vector<Entry> entries = makeEntries(count);
    QPixmap pictures(12 * ListView::kPictureSize, ListView::kPictureSize);
    pictures.fill(QColor(255, 0, 255));

    double heapPerRecord = 0;
    for (auto _ : state) {
        state.PauseTiming();
        auto list = std::make_unique<TreeListCtrl>();
        list->insertColumn(0, "File List...", 256, Qt::AlignLeft);
        list->insertColumn(1, "Pak Size [Real Size]", 129, Qt::AlignRight);
        list->setSmallImages(pictures, QColor(255, 0, 255));
        list->resize(259, 263);
        list->show();
        PaintCounter counter;
        list->viewport()->installEventFilter(&counter);
        for (int i = 0; i < 20 && counter.paints == 0; ++i)
            QCoreApplication::processEvents();
        const std::size_t heapBefore = heapInUse();
        counter.paints = 0;
        state.ResumeTiming();

        for (const Entry& entry : entries) {
            const int item = list->InsertItem(entry.name, entry.image, 0);
            list->SetItemText(item, 1, entry.size);
        }
        for (int i = 0; i < 100 && counter.paints == 0; ++i)
            QCoreApplication::processEvents();

        state.PauseTiming();
        if (counter.paints == 0 || list->model()->rowCount() != count ||
            list->verticalScrollBar()->maximum() < count - 20) {
            state.SkipWithError("the filled list was not shown");
            break;
        }
        heapPerRecord = double(heapInUse() - heapBefore) / count;
        list.reset();
        QCoreApplication::processEvents();
        state.ResumeTiming();
    }
    state.counters["heap_bytes_per_record"] = heapPerRecord;
    state.counters["records_per_s"] =
        benchmark::Counter(double(count), benchmark::Counter::kIsIterationInvariantRate);
}

} // namespace

BENCHMARK(BM_TreeListFill)
    ->Arg(1000)
    ->Arg(100000)
    ->Arg(1000000)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
