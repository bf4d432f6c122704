// The cooperative pause: a worker parks at the gate, holding nothing, until it opens.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

#include "MainThread.h"
#include "PauseGate.h"

namespace quorlane {
namespace {

// Waits (without a time limit) until cond holds.
template <class F>
void Until(F cond)
{
    while (!cond()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

TEST(PauseGate, WorkerParksAtTheNextPassAndHoldsNoLockWhilePaused)
{
    PauseGate gate;
    std::mutex work;  // the worker's own lock, held only between passes
    std::atomic<int> turns{0};
    std::atomic<bool> stop{false};
    std::thread worker([&] {
        while (!stop) {
            gate.Pass();
            std::lock_guard guard(work);
            ++turns;
        }
    });
    Until([&] { return turns > 3; });
    EXPECT_TRUE(gate.Pause());
    EXPECT_FALSE(gate.Pause());  // already closed
    Until([&] { return gate.Holding(); });
    const int parkedAt = turns;
    {
        std::lock_guard guard(work);  // free: the parked worker holds nothing
        EXPECT_EQ(turns, parkedAt);
    }
    EXPECT_TRUE(gate.Paused());
    EXPECT_TRUE(gate.Resume());
    EXPECT_FALSE(gate.Resume());
    Until([&] { return turns > parkedAt + 3; });
    stop = true;
    worker.join();
    EXPECT_FALSE(gate.Holding());
}

TEST(PauseGate, OpenGatePassesAtOnce)
{
    PauseGate gate;
    for (int i = 0; i < 1000; ++i) gate.Pass();
    EXPECT_FALSE(gate.Paused());
    EXPECT_FALSE(gate.Holding());
}

}  // namespace
}  // namespace quorlane
