// Signal handling for vdat's long commands.
#include "Interruption.h"

#include <csignal>
#include <iterator>
#include <pthread.h>
#include <unistd.h>

namespace {
std::atomic<bool> gArrived{false};
std::atomic<int> gSignal{0};
static_assert(std::atomic<bool>::is_always_lock_free && std::atomic<int>::is_always_lock_free,
              "a signal handler may only touch lock-free atomics");

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};
struct sigaction gPrevious[std::size(kSignals)];
bool gInstalled[std::size(kSignals)];

extern "C" void OnSignal(int signal) {
    int none = 0;
    gSignal.compare_exchange_strong(none, signal, std::memory_order_relaxed);
    gArrived.store(true, std::memory_order_relaxed);
}

void Restore() {
    for (std::size_t i = 0; i < std::size(kSignals); ++i) {
        if (gInstalled[i])
            ::sigaction(kSignals[i], &gPrevious[i], nullptr);
        gInstalled[i] = false;
    }
}
} // namespace

Interruption::Interruption() {
    for (std::size_t i = 0; i < std::size(kSignals); ++i) {
        if (::sigaction(kSignals[i], nullptr, &gPrevious[i]) != 0 ||
            gPrevious[i].sa_handler == SIG_IGN)
            continue;
        struct sigaction action {};
        action.sa_handler = OnSignal;
        sigemptyset(&action.sa_mask);
        // Interrupted calls carry on; the flag is looked at between pieces anyway.
        action.sa_flags = SA_RESTART;
        gInstalled[i] = ::sigaction(kSignals[i], &action, nullptr) == 0;
    }
}

Interruption::~Interruption() {
    Restore();
}

const std::atomic<bool>* Interruption::Flag() const {
    return &gArrived;
}

void Interruption::EndBySignal() {
    const int signal = gSignal.load(std::memory_order_relaxed);
    Restore();
    struct sigaction fallback {};
    fallback.sa_handler = SIG_DFL;
    sigemptyset(&fallback.sa_mask);
    ::sigaction(signal, &fallback, nullptr);
    sigset_t only;
    sigemptyset(&only);
    sigaddset(&only, signal);
    ::pthread_sigmask(SIG_UNBLOCK, &only, nullptr);
    ::raise(signal);
    ::_exit(128 + signal); // not reached: the default action of each signal ends the process
}
