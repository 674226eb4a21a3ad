// The worker pool behind ExtractInParallel.
#include "ParallelExtraction.h"

#include <algorithm>
#include <atomic>
#include <memory>
#include <numeric>
#include <optional>
#include <string>
#include <thread>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace {
// Holds an entry's messages until the entries before it have been reported.
class HeldMessages : public MessageSink {
public:
    void ShowMessage(std::string_view text, std::string_view caption) override {
        held.emplace_back(std::string(text), std::string(caption));
    }
    std::vector<std::pair<std::string, std::string>> held;
};

// Entries whose outputs meet (the same file twice, or a file where another entry needs a
// folder) must be written in directory order to give what a sequential run gives. They are
// rare, so they all go to one worker as a single chain, in order.
std::vector<char> FindConflicts(const DatArchive& archive,
                                std::span<const std::uint32_t> selected) {
    const auto entries = archive.Entries();
    std::vector<std::optional<EntryPath>> paths(selected.size());
    std::unordered_map<std::string_view, std::size_t> files;
    std::unordered_set<std::string_view> folders;
    files.reserve(selected.size());
    for (std::size_t k = 0; k < selected.size(); ++k) {
        paths[k] = ParseEntryPath(entries[selected[k]].entry.Name());
        if (!paths[k])
            continue;
        ++files[paths[k]->relative];
        for (std::size_t f = 0; f < paths[k]->folderEnds.size(); ++f)
            folders.insert(paths[k]->Folder(f));
    }
    std::vector<char> conflict(selected.size(), 0);
    for (std::size_t k = 0; k < selected.size(); ++k) {
        if (!paths[k])
            continue;
        bool meets = files[paths[k]->relative] > 1 || folders.contains(paths[k]->relative);
        for (std::size_t f = 0; !meets && f < paths[k]->folderEnds.size(); ++f)
            meets = files.contains(paths[k]->Folder(f));
        conflict[k] = meets;
    }
    return conflict;
}

struct Slot {
    std::atomic<bool> done{false};
    EntryResult result;
    std::unique_ptr<HeldMessages> messages; // only for entries that said something
};
} // namespace

ExtractSummary ExtractInParallel(const DatArchive& archive, std::span<const std::uint32_t> selected,
                                 Destination& destination, unsigned workers, MessageSink& messages,
                                 const EntryReport& report) {
    const std::size_t count = selected.size();
    std::vector<Slot> slots(count);

    workers = std::max(1u, std::min<unsigned>(workers, unsigned(std::max<std::size_t>(count, 1))));

    // Work items are positions in the selection. With several workers the largest entries go
    // first, so no worker is left with a big one at the end while the others wait; entries
    // that meet another's output form one chain, done first. Reporting keeps selection order.
    std::vector<std::uint32_t> order;
    std::vector<std::uint32_t> chain;
    if (workers == 1) {
        order.resize(count);
        std::iota(order.begin(), order.end(), 0u);
    } else {
        const std::vector<char> conflict = FindConflicts(archive, selected);
        order.reserve(count);
        for (std::uint32_t k = 0; k < count; ++k)
            (conflict[k] ? chain : order).push_back(k);
        const auto entries = archive.Entries();
        std::stable_sort(order.begin(), order.end(), [&](std::uint32_t a, std::uint32_t b) {
            return entries[selected[a]].entry.realSize > entries[selected[b]].entry.realSize;
        });
    }
    const std::size_t items = order.size() + (chain.empty() ? 0 : 1);

    std::atomic<std::size_t> next{0};
    auto work = [&] {
        EntryWriter writer;
        HeldMessages held;
        auto writeOne = [&](std::uint32_t position) {
            Slot& slot = slots[position];
            slot.result = writer.WriteEntry(archive, selected[position], destination, held);
            if (!held.held.empty()) {
                slot.messages = std::make_unique<HeldMessages>(std::move(held));
                held.held.clear();
            }
            slot.done.store(true, std::memory_order_release);
            slot.done.notify_one();
        };
        for (std::size_t k = next++; k < items; k = next++) {
            if (!chain.empty() && k == 0) {
                for (std::uint32_t position : chain)
                    writeOne(position);
            } else {
                writeOne(order[chain.empty() ? k : k - 1]);
            }
        }
    };
    std::vector<std::thread> pool;
    pool.reserve(workers);
    for (unsigned w = 0; w < workers; ++w)
        pool.emplace_back(work);

    ExtractSummary summary;
    for (std::size_t position = 0; position < count; ++position) {
        Slot& slot = slots[position];
        slot.done.wait(false, std::memory_order_acquire);
        if (slot.messages) {
            for (const auto& [text, caption] : slot.messages->held)
                messages.ShowMessage(text, caption);
            slot.messages.reset();
        }
        summary.Add(slot.result.outcome);
        report(position, selected[position], slot.result);
    }
    for (auto& t : pool)
        t.join();
    return summary;
}
