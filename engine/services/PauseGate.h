// A cooperative pause: a worker passes the gate at every unit of work (a packet, a loop turn) and
// parks there while the gate is closed. Parking holds no lock of the caller, so a paused worker
// never blocks the threads that deliver its events or wait for it.
#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>

namespace quorlane {

class PauseGate {
public:
    PauseGate() = default;
    PauseGate(const PauseGate&) = delete;
    PauseGate& operator=(const PauseGate&) = delete;

    // Closes the gate: the worker parks at its next Pass. Answers false when it was closed.
    bool Pause();
    // Opens the gate and wakes a parked worker. Answers false when it was open.
    bool Resume();
    bool Paused() const { return paused_.load(std::memory_order_acquire); }
    // True while a worker is parked in Pass.
    bool Holding() const;

    // Called by the worker with no lock held; returns at once while the gate is open.
    void Pass();

private:
    std::atomic<bool> paused_{false};  // read without the lock on every Pass
    mutable std::mutex lock_;          // guards holding_ and the wake-up of paused_ changes
    std::condition_variable opened_;
    int holding_ = 0;
};

}  // namespace quorlane
