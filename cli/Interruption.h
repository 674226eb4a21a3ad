// Ctrl-C (SIGINT), SIGTERM and a closed terminal (SIGHUP) during a long command: the handler
// only raises a flag that the workers look at between pieces, so whatever was being written is
// cleaned up before the program ends. It then ends by the same signal, so a calling shell or
// script sees that it was interrupted (130, 143, 129) and stops too.
#pragma once

#include <atomic>

class Interruption {
public:
    // Catches SIGINT, SIGTERM and SIGHUP until EndBySignal or destruction; a signal that was
    // ignored when the program started (a background job, nohup) stays ignored.
    Interruption();
    ~Interruption();
    Interruption(const Interruption&) = delete;
    Interruption& operator=(const Interruption&) = delete;

    // True once a signal arrived; further signals only set it again.
    const std::atomic<bool>* Flag() const;
    bool Arrived() const { return Flag()->load(std::memory_order_relaxed); }

    // Ends the process by the first signal that arrived, as its default action would have.
    [[noreturn]] void EndBySignal();
};
