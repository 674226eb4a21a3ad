// The worker pool behind RunExtraction.
#include "ParallelExtraction.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <numeric>
#include <string>
#include <system_error>
#include <thread>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace {
// Holds an entry's messages until the entries before it have been reported. A failure is kept
// whole: the user answers it when it is shown.
class HeldMessages : public MessageSink {
public:
    struct Held {
        std::string text, caption, entry, reason;
        bool failure;
    };
    void ShowMessage(std::string_view text, std::string_view caption) override {
        held.push_back({std::string(text), std::string(caption), {}, {}, false});
    }
    FailureAnswer ReportFailure(const FailureReport& f) override {
        held.push_back({std::string(f.text), std::string(f.caption), std::string(f.entry),
                        std::string(f.reason), true});
        return FailureAnswer::Ok;
    }
    bool AsksUser() const {
        return std::any_of(held.begin(), held.end(), [](const Held& h) { return h.failure; });
    }
    // Shows them now; true when the user answered Stop.
    bool ShowTo(MessageSink& messages) const {
        bool stop = false;
        for (const Held& h : held) {
            if (!h.failure)
                messages.ShowMessage(h.text, h.caption);
            else if (messages.ReportFailure({h.text, h.caption, h.entry, h.reason}) ==
                     FailureAnswer::Stop)
                stop = true;
        }
        return stop;
    }
    std::vector<Held> held;
};

// What the workers and the reporting thread share about the run as a whole.
class RunState {
public:
    explicit RunState(const std::atomic<bool>* stop) : stop_(stop) {}
    // The caller's flag is copied into the one the writers watch, so either way of stopping
    // reaches an entry between two pieces.
    bool Halted() {
        if (stop_ && stop_->load(std::memory_order_relaxed))
            halted.store(true, std::memory_order_relaxed);
        return halted.load(std::memory_order_relaxed);
    }
    void Halt() {
        halted.store(true, std::memory_order_relaxed);
        changed_.notify_all();
    }
    // While the user looks at a failure, no new entry is started: Stop must find the run where
    // the box was shown, not thousands of entries further.
    void Hold(bool on) {
        {
            std::lock_guard lock(mutex_);
            holding_.store(on, std::memory_order_release);
        }
        changed_.notify_all();
    }
    void WaitWhileHeld() {
        if (!holding_.load(std::memory_order_acquire))
            return;
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return !holding_.load() || Halted(); });
    }
    void WorkerDone() {
        {
            std::lock_guard lock(mutex_);
            ++finished_;
        }
        changed_.notify_all();
    }
    // Waits until `workers` have finished or a little while has passed; true once they all have.
    bool WaitForWorkers(std::size_t workers) {
        std::unique_lock lock(mutex_);
        changed_.wait_for(lock, std::chrono::milliseconds(5), [&] { return finished_ == workers; });
        return finished_ == workers;
    }

    std::atomic<bool> halted{false};

private:
    const std::atomic<bool>* stop_;
    std::atomic<bool> holding_{false};
    std::mutex mutex_;
    std::condition_variable changed_;
    std::size_t finished_ = 0;
};

// Names as the files they become (OnDisk): "a/b" and "a_b" are one file.
struct OutputNameHash {
    std::size_t operator()(std::string_view name) const {
        std::uint64_t h = 1469598103934665603ull; // FNV-1a
        for (char c : name)
            h = (h ^ static_cast<unsigned char>(OnDisk(c))) * 1099511628211ull;
        return std::size_t(h);
    }
};
struct OutputNameEqual {
    bool operator()(std::string_view a, std::string_view b) const {
        if (a.size() != b.size())
            return false;
        for (std::size_t i = 0; i < a.size(); ++i)
            if (OnDisk(a[i]) != OnDisk(b[i]))
                return false;
        return true;
    }
};

// Entries whose outputs meet (the same file twice, or a file where another entry needs a
// folder) must be written in directory order to give what a sequential run gives. They are
// rare, so they all go to one worker as a single chain, in order. Works on the stored names
// directly: no allocation per entry.
std::vector<char> FindConflicts(const DatArchive& archive,
                                std::span<const std::uint32_t> selected) {
    std::unordered_map<std::string_view, std::uint32_t, OutputNameHash, OutputNameEqual> files;
    std::unordered_set<std::string_view, OutputNameHash, OutputNameEqual> folders;
    files.reserve(selected.size());
    auto forEachFolder = [](std::string_view name, auto&& visit) {
        for (std::size_t at = name.find('\\'); at != std::string_view::npos;
             at = name.find('\\', at + 1))
            if (visit(name.substr(0, at)))
                return true;
        return false;
    };
    for (std::uint32_t index : selected) {
        const std::string_view name = archive.EntryName(index);
        if (!IsSafeEntryName(name))
            continue; // refused: it writes nothing
        ++files[name];
        forEachFolder(name, [&](std::string_view folder) {
            folders.insert(folder);
            return false;
        });
    }
    std::vector<char> conflict(selected.size(), 0);
    for (std::size_t k = 0; k < selected.size(); ++k) {
        const std::string_view name = archive.EntryName(selected[k]);
        if (!IsSafeEntryName(name))
            continue;
        conflict[k] = files[name] > 1 || folders.contains(name) ||
                      forEachFolder(name, [&](std::string_view f) { return files.contains(f); });
    }
    return conflict;
}

struct Slot {
    std::atomic<bool> done{false};
    EntryResult result;
    std::unique_ptr<HeldMessages> messages; // only for entries that said something
};

} // namespace

ExtractSummary RunExtraction(const DatArchive& archive, const ExtractionJob& job,
                             MessageSink& messages, const EntryReport& report) {
    const std::span<const std::uint32_t> selected = job.entries;
    Destination* destination = job.destination;
    const std::atomic<bool>* stop = job.stop;
    // One descriptor takes the entries' data one after another, on this thread.
    const bool toDescriptor = !destination && job.descriptor >= 0;
    auto doEntry = [&](EntryWriter& writer, std::uint32_t index, MessageSink& sink) {
        EntryResult result;
        if (destination)
            result = writer.WriteEntry(archive, index, *destination, sink);
        else if (toDescriptor)
            result = writer.WriteEntryTo(archive, index, job.descriptor, sink);
        else
            result = writer.TestEntry(archive, index, sink);
        if (result.outcome == EntryOutcome::Damaged && job.damagedIsFailure) {
            const std::string reason = std::string(kDamagedDataText) + ": " + result.detail;
            sink.ReportFailure(
                {kExtractFailedText, kErrorCaption, archive.EntryName(index), reason});
        }
        return result;
    };
    unsigned workers = toDescriptor ? 1 : job.workers;
    const std::function<void()> whileWaiting =
        toDescriptor ? std::function<void()>() : job.whileWaiting;
    const std::size_t count = selected.size();
    workers = std::max(1u, std::min<unsigned>(workers, unsigned(std::max<std::size_t>(count, 1))));
    ExtractSummary summary;
    if (count == 0)
        return summary;

    if (workers == 1 && !whileWaiting) {
        // One at a time on this thread: nothing to hold back or hand over.
        EntryWriter writer;
        if (job.settings)
            writer.TakeSettings(*job.settings, true);
        writer.SetStopFlag(stop);
        AnswerKeeper answers(messages);
        for (std::size_t position = 0; position < count && !writer.StopAsked() && !answers.stop;
             ++position) {
            const EntryResult result = doEntry(writer, selected[position], answers);
            summary.Add(result.outcome);
            report(position, selected[position], result);
        }
        return summary;
    }

    // Work items are positions in the selection. The large entries go first, largest first, so
    // no worker is left with a big one at the end while the others wait; the small ones keep
    // directory order, so each worker reads the archive front to back. Entries that meet
    // another's output form one chain, done first. Reporting keeps selection order.
    std::vector<std::uint32_t> order;
    std::vector<std::uint32_t> chain;
    // Reading only, no two entries meet.
    const std::vector<char> conflict =
        destination ? FindConflicts(archive, selected) : std::vector<char>(count, 0);
    order.reserve(count);
    for (std::uint32_t k = 0; k < count; ++k)
        (conflict[k] ? chain : order).push_back(k);
    const auto entries = archive.Entries();
    constexpr std::uint32_t kLargeEntry = 1 << 20;
    auto weight = [&](std::uint32_t k) {
        const std::uint32_t size = entries[selected[k]].entry.realSize;
        return size >= kLargeEntry ? size : 0;
    };
    std::stable_sort(order.begin(), order.end(),
                     [&](std::uint32_t a, std::uint32_t b) { return weight(a) > weight(b); });
    const std::size_t items = order.size() + (chain.empty() ? 0 : 1);

    std::vector<Slot> slots(count);
    std::atomic<std::size_t> next{0};
    RunState run(stop);
    auto writeOne = [&](EntryWriter& writer, HeldMessages& held, std::uint32_t position) {
        Slot& slot = slots[position];
        slot.result = doEntry(writer, selected[position], held);
        if (!held.held.empty()) {
            slot.messages = std::make_unique<HeldMessages>(std::move(held));
            held.held.clear();
        }
        slot.done.store(true, std::memory_order_release);
    };
    // Takes items until none are left; afterEach runs between them.
    auto work = [&](auto&& afterEach) {
        EntryWriter writer;
        if (job.settings)
            writer.TakeSettings(*job.settings, false); // no window is painted from a worker
        writer.SetStopFlag(&run.halted);
        writer.SetBetweenPieces([&run] { run.Halted(); });
        HeldMessages held;
        for (;;) {
            run.WaitWhileHeld();
            const std::size_t k = next++;
            if (k >= items || run.Halted())
                break;
            if (!chain.empty() && k == 0) {
                for (std::uint32_t position : chain)
                    if (!run.Halted())
                        writeOne(writer, held, position);
            } else {
                writeOne(writer, held, order[chain.empty() ? k : k - 1]);
            }
            afterEach();
        }
    };

    // This thread works too, and between its own entries reports every finished entry that is
    // next in order: no thread is woken per entry just to report it.
    std::size_t reported = 0;
    std::size_t end = count; // after a Stop answer: just past that entry
    // skipUnstarted: at the end of a stopped run, entries no worker took are passed over.
    auto reportReady = [&](bool skipUnstarted = false) {
        for (; reported < end; ++reported) {
            Slot& slot = slots[reported];
            if (!slot.done.load(std::memory_order_acquire)) {
                if (skipUnstarted)
                    continue;
                break;
            }
            if (slot.messages) {
                const bool asks = slot.messages->AsksUser();
                if (asks)
                    run.Hold(true);
                if (slot.messages->ShowTo(messages)) {
                    run.Halt();
                    end = reported + 1;
                }
                if (asks)
                    run.Hold(false);
                slot.messages.reset();
            }
            summary.Add(slot.result.outcome);
            report(reported, selected[reported], slot.result);
        }
    };
    // When this thread only reports, it starts one more worker in its place.
    const unsigned helpers = whileWaiting ? workers : workers - 1;
    std::vector<std::thread> pool;
    pool.reserve(helpers);
    for (unsigned w = 0; w < helpers; ++w) {
        try {
            pool.emplace_back([&] {
                work([] {});
                run.WorkerDone();
            });
        } catch (const std::system_error&) {
            break; // no more threads to be had: the ones running share the work
        }
    }
    if (whileWaiting && !pool.empty()) {
        for (bool finished = false; !finished;) {
            reportReady();
            whileWaiting();
            finished = run.WaitForWorkers(pool.size());
        }
    } else {
        work([&] {
            reportReady();
            if (whileWaiting)
                whileWaiting();
        });
    }
    for (auto& t : pool)
        t.join();
    reportReady(true); // everything that was started is done now
    return summary;
}
