#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <thread>
#include <vector>

#include "MainThread.h"

namespace quorlane {
namespace {

TEST(MainThreadCalls, RunAtOnceOnTheMainThread)
{
    bool ran = false;
    CallInMainThread([&] { ran = true; });
    EXPECT_TRUE(ran);
}

TEST(MainThreadCalls, ManyWorkersWhileTheMainThreadPumps)
{
    constexpr int Workers = 8, CallsEach = 200;
    int counter = 0;  // only the main thread touches it
    std::atomic<int> finished{0};
    std::atomic<int> offMain{0};
    std::vector<std::thread> threads;
    for (int w = 0; w < Workers; ++w) {
        threads.emplace_back([&] {
            for (int i = 0; i < CallsEach; ++i)
                CallInMainThread([&] {
                    if (!IsMainThread()) ++offMain;
                    ++counter;
                });
            ++finished;
        });
    }
    WaitServingMainThread([&] { return finished.load() == Workers; });
    for (auto& t : threads) t.join();
    EXPECT_EQ(counter, Workers * CallsEach);
    EXPECT_EQ(offMain.load(), 0);
}

TEST(MainThreadCalls, ExceptionsReachTheCallingWorker)
{
    std::atomic<bool> caught{false}, done{false};
    std::thread worker([&] {
        try {
            CallInMainThread([] { throw std::runtime_error("boom"); });
        } catch (const std::runtime_error& e) {
            caught = std::string(e.what()) == "boom";
        }
        done = true;
    });
    WaitServingMainThread([&] { return done.load(); });
    worker.join();
    EXPECT_TRUE(caught.load());
}

TEST(MainThreadCalls, TheWakerIsCalledForEachQueuedCall)
{
    std::atomic<int> wakes{0};
    SetMainThreadWaker([&] { ++wakes; });
    std::atomic<bool> done{false};
    std::thread worker([&] {
        CallInMainThread([] {});
        CallInMainThread([] {});
        done = true;
    });
    WaitServingMainThread([&] { return done.load(); });
    worker.join();
    SetMainThreadWaker(nullptr);
    EXPECT_EQ(wakes.load(), 2);
}

}  // namespace
}  // namespace quorlane
