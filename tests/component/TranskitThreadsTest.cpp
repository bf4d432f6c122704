// The task queue and its threads with tasks whose run is a controllable loop (the real set-up
// and conversions are in TranskitConversionTest.cpp): start orders, event order, stop, pause,
// clearing and destruction while running, waits that keep serving the main thread.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>
#include <random>
#include <thread>
#include <vector>

#include "FFmpegLogger.h"
#include "FFmpegTask.h"
#include "Fixtures.h"
#include "MainThread.h"
#include "TestSupport.h"
#include "Transkit.h"

namespace quorlane {
namespace {

constexpr int Endless = 1 << 30;

// How many fake runs are going on at once, and the most there ever were.
struct Concurrency {
    std::atomic<int> now{0};
    std::atomic<int> most{0};
};

// A task whose run passes the pause gate, checks the stop request, optionally logs and reports
// progress, `packets` times.
class FakeTask : public TFFmpeg {
public:
    FakeTask(int packets, Concurrency* concurrency = nullptr, bool fail = false, bool log = false)
        : packets_(packets), concurrency_(concurrency), fail_(fail), log_(log)
    {
        input_count = 1;  // passes the start-time checks; there is nothing to close
        output_count = 1;
    }
    ~FakeTask() override
    {
        RequestStop(true);
        WaitForThreads();
        input_count = output_count = 0;
    }

    std::atomic<int> done{0};
    std::atomic<bool> ranOnMainThread{false};
    // While set, the task stays after its current packet, passing the pause gate, so that a test
    // can pause it before it runs out of packets.
    std::atomic<bool> hold{false};

protected:
    void RunTranscode() override
    {
        ranOnMainThread = IsMainThread();
        if (concurrency_) {
            const int now = ++concurrency_->now;
            int most = concurrency_->most;
            while (now > most && !concurrency_->most.compare_exchange_weak(most, now)) {
            }
        }
        for (int i = 0; i < packets_; ++i) {
            Gate.Pass();
            if (StopRequested) break;
            if (log_) LogMessage(this, llInfo, "packet");
            if (OnRunProgress) OnRunProgress(*this, i, 25, i * 40, 3.0f, 100.0f, i * 1000, 4000);
            std::this_thread::yield();
            ++done;
            while (hold && !StopRequested) {
                Gate.Pass();
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        }
        if (concurrency_) --concurrency_->now;
        input_count = output_count = 0;
        Finished = !StopRequested;
        if (fail_) throw FFmpegException("Fake failure");
    }

private:
    const int packets_;
    Concurrency* const concurrency_;
    const bool fail_;
    const bool log_;
};

struct Event {
    int index;
    bool finished;
    bool exception;
    std::string message;
    bool onMainThread;
};

// Records terminate events; the test waits for the index -1 one.
class Recorder {
public:
    explicit Recorder(TTranskit& kit)
    {
        kit.OnTerminate = [this](int index, bool finished, bool exception, const std::string& message) {
            std::lock_guard guard(lock_);
            events_.push_back({index, finished, exception, message, IsMainThread()});
        };
    }
    bool AllEnded() const
    {
        std::lock_guard guard(lock_);
        return std::any_of(events_.begin(), events_.end(), [](const Event& e) { return e.index == -1; });
    }
    void WaitAllEnded() const { WaitServingMainThread([&] { return AllEnded(); }); }
    std::vector<Event> Events() const
    {
        std::lock_guard guard(lock_);
        return events_;
    }
    std::vector<int> Indexes() const
    {
        std::vector<int> out;
        for (const Event& e : Events()) out.push_back(e.index);
        return out;
    }

private:
    mutable std::mutex lock_;
    std::vector<Event> events_;
};

template <class F>
void Until(F cond)
{
    WaitServingMainThread([&] { return cond(); }, std::chrono::milliseconds(1));
}

class TranskitThreads : public ::testing::Test {
protected:
    void SetUp() override { fixtures::LoadLibraries(); }
    void TearDown() override { FFLogger().SetOnLog(nullptr); }

    FakeTask& Add(TTranskit& kit, std::unique_ptr<FakeTask> task)
    {
        FakeTask& ref = *task;
        kit.AddTask(std::move(task));
        return ref;
    }
};

TEST_F(TranskitThreads, PropertiesAndDefaults)
{
    TTranskit kit;
    EXPECT_EQ(kit.GetVersion(), "2.5");
    EXPECT_EQ(kit.ProgressInterval(), 500);
    EXPECT_EQ(kit.ThreadPriority(), tpNormal);
    EXPECT_FALSE(kit.Preview());
    EXPECT_FALSE(kit.PreviewBitmap());
    const std::pair<int, int> intervals[] = {{50, 100}, {100, 100}, {101, 101}, {-5, 100}, {2000, 2000}};
    for (const auto& [given, stored] : intervals) {
        kit.SetProgressInterval(given);
        EXPECT_EQ(kit.ProgressInterval(), stored) << given;
    }
}

TEST_F(TranskitThreads, AtMostNWorkersEachEndStartsTheNextThenOneAllEnded)
{
    struct Case {
        int n;
        int tasks;
    };
    for (const Case c : {Case{1, 3}, Case{2, 4}, Case{5, 3}}) {
        TTranskit kit;
        Recorder events(kit);
        Concurrency concurrency;
        std::vector<FakeTask*> tasks;
        for (int i = 0; i < c.tasks; ++i) tasks.push_back(&Add(kit, std::make_unique<FakeTask>(50, &concurrency)));
        kit.StartTasks(c.n);
        events.WaitAllEnded();
        kit.StopTasks(true);  // nothing left to stop; no further events

        EXPECT_LE(concurrency.most, std::min(c.n, c.tasks)) << c.n;
        const std::vector<Event> got = events.Events();
        ASSERT_EQ(got.size(), static_cast<size_t>(c.tasks + 1)) << c.n;
        EXPECT_EQ(got.back().index, -1);
        EXPECT_TRUE(got.back().finished);
        std::vector<int> indexes;
        for (size_t i = 0; i + 1 < got.size(); ++i) {
            indexes.push_back(got[i].index);
            EXPECT_TRUE(got[i].finished);
            EXPECT_FALSE(got[i].exception);
            EXPECT_FALSE(got[i].onMainThread);
        }
        if (c.n == 1) {
            EXPECT_EQ(indexes, (std::vector<int>{0, 1, 2}));
        }
        std::sort(indexes.begin(), indexes.end());
        for (int i = 0; i < c.tasks; ++i) EXPECT_EQ(indexes[i], i);
        for (FakeTask* t : tasks) EXPECT_FALSE(t->ranOnMainThread);
    }
}

TEST_F(TranskitThreads, SynchronousStartRunsEverythingOnTheCallingThread)
{
    TTranskit kit;
    Recorder events(kit);
    std::atomic<int> progress{0};
    kit.OnProgress = [&](int, int, int, int, float, float, int64_t, int total) {
        EXPECT_TRUE(IsMainThread());
        EXPECT_EQ(total, 4000);
        ++progress;
    };
    std::vector<FakeTask*> tasks;
    for (int i = 0; i < 3; ++i) tasks.push_back(&Add(kit, std::make_unique<FakeTask>(5)));
    kit.StartTasks(0);
    // Everything happened before StartTasks returned.
    EXPECT_EQ(events.Indexes(), (std::vector<int>{0, 1, 2, -1}));
    for (const Event& e : events.Events()) EXPECT_TRUE(e.onMainThread);
    for (FakeTask* t : tasks) EXPECT_TRUE(t->ranOnMainThread);
    EXPECT_EQ(progress, 15);
}

TEST_F(TranskitThreads, StopWithWaitReturnsAfterTheWorkerAndEndsUnstartedTasks)
{
    TTranskit kit;
    Recorder events(kit);
    FakeTask& running = Add(kit, std::make_unique<FakeTask>(Endless));
    Add(kit, std::make_unique<FakeTask>(Endless));
    Add(kit, std::make_unique<FakeTask>(Endless));
    kit.StartTasks(1);
    Until([&] { return running.done > 0; });
    kit.StopTasks(true);
    EXPECT_TRUE(running.Terminated);
    EXPECT_EQ(running.ConvertThread.load(), nullptr);
    events.WaitAllEnded();
    const std::vector<Event> got = events.Events();
    ASSERT_EQ(got.size(), 4u);
    EXPECT_EQ(got.back().index, -1);
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_FALSE(got[i].finished) << got[i].index;
        EXPECT_FALSE(got[i].exception) << got[i].index;
        EXPECT_EQ(got[i].message, "");
    }
    // Stopping again changes nothing.
    kit.StopTasks(true);
    EXPECT_EQ(events.Events().size(), 4u);
}

TEST_F(TranskitThreads, StopWhilePausedResumesThenStops)
{
    TTranskit kit;
    Recorder events(kit);
    FakeTask& task = Add(kit, std::make_unique<FakeTask>(Endless));
    kit.StartTasks(1);
    Until([&] { return task.done > 0; });
    kit.PauseTasks();
    EXPECT_TRUE(task.Suspended());
    Until([&] { return task.Gate.Holding(); });
    kit.StopTasks(true);
    EXPECT_TRUE(task.Terminated);
    EXPECT_FALSE(task.Suspended());
    events.WaitAllEnded();
    EXPECT_EQ(events.Indexes(), (std::vector<int>{0, -1}));
    EXPECT_FALSE(events.Events()[0].finished);
}

TEST_F(TranskitThreads, PauseParksAndResumeContinues)
{
    TTranskit kit;
    Recorder events(kit);
    FakeTask& task = Add(kit, std::make_unique<FakeTask>(2000));
    task.hold = true;
    kit.StartTasks(1);
    Until([&] { return task.done > 0; });
    kit.PauseTasks();
    Until([&] { return task.Gate.Holding(); });
    task.hold = false;  // parked in the gate: only Resume lets it go on
    const int parked = task.done;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_FALSE(events.AllEnded());
    EXPECT_EQ(task.done, parked);
    kit.ResumeTasks();
    events.WaitAllEnded();
    EXPECT_EQ(task.done, 2000);
    EXPECT_TRUE(events.Events()[0].finished);
}

TEST_F(TranskitThreads, AFailingTaskEndsWithItsTextAndTheQueueGoesOn)
{
    for (int n : {1, 0}) {
        TTranskit kit;
        Recorder events(kit);
        Add(kit, std::make_unique<FakeTask>(3));
        Add(kit, std::make_unique<FakeTask>(3, nullptr, true));
        Add(kit, std::make_unique<FakeTask>(3));
        kit.StartTasks(n);
        events.WaitAllEnded();
        const std::vector<Event> got = events.Events();
        ASSERT_EQ(got.size(), 4u) << n;
        EXPECT_EQ(events.Indexes(), (std::vector<int>{0, 1, 2, -1})) << n;
        EXPECT_TRUE(got[1].exception);
        EXPECT_EQ(got[1].message, "Fake failure");
        EXPECT_FALSE(got[0].exception);
        EXPECT_TRUE(got[2].finished);
    }
}

TEST_F(TranskitThreads, StopWhileWorkersLogThroughOnLogDoesNotDeadlock)
{
    std::atomic<int> lines{0};
    FFLogger().SetLogLevel(llInfo);
    FFLogger().SetOnLog([&](const void*, uint32_t, TLogLevel, const std::string&) {
        EXPECT_TRUE(IsMainThread());
        ++lines;
    });
    TTranskit kit;
    Recorder events(kit);
    // Progress handlers run under the component lock while the workers log.
    kit.OnProgress = [](int, int, int, int, float, float, int64_t, int) { LogMessage(nullptr, llInfo, "progress"); };
    for (int i = 0; i < 3; ++i) Add(kit, std::make_unique<FakeTask>(Endless, nullptr, false, true));
    kit.StartTasks(2);
    Until([&] { return lines > 20; });
    kit.StopTasks(true);
    events.WaitAllEnded();
    EXPECT_EQ(events.Events().size(), 4u);
}

TEST_F(TranskitThreads, ClearingOrDestroyingWhileTasksRunEndsThemCleanly)
{
    for (bool destroy : {false, true}) {
        FFLogger().SetOnLog([](const void*, uint32_t, TLogLevel, const std::string&) {});
        auto kit = std::make_unique<TTranskit>();
        std::atomic<int> ends{0};
        kit->OnTerminate = [&](int, bool, bool, const std::string&) { ++ends; };
        std::vector<FakeTask*> tasks;
        for (int i = 0; i < 4; ++i)
            tasks.push_back(&Add(*kit, std::make_unique<FakeTask>(Endless, nullptr, false, true)));
        kit->StartTasks(2);
        Until([&] { return tasks[0]->done > 0 && tasks[1]->done > 0; });
        kit->PauseTasks();
        if (destroy) {
            kit.reset();
        } else {
            kit->ClearTaskList();
            EXPECT_EQ(kit->TaskCount(), 0);
            EXPECT_EQ(kit->LastErrorMessage(), "");
            kit.reset();
        }
        // The two running tasks reported their ends; no unstarted task was started meanwhile.
        EXPECT_EQ(ends, 2) << destroy;
    }
}

TEST_F(TranskitThreads, RandomPauseResumeAndStopOfABatchNeverHangs)
{
    TTranskit kit;
    Recorder events(kit);
    FFLogger().SetOnLog([](const void*, uint32_t, TLogLevel, const std::string&) {});
    kit.OnProgress = [](int, int, int, int, float, float, int64_t, int) {};
    constexpr int Tasks = 8;
    std::vector<FakeTask*> tasks;
    for (int i = 0; i < Tasks; ++i)
        tasks.push_back(&Add(kit, std::make_unique<FakeTask>(400 + 50 * i, nullptr, i == 5, i % 2 == 0)));
    kit.StartTasks(3);
    std::mt19937 random(12345);
    for (int step = 0; step < 300; ++step) {
        TFFmpeg* task = kit.Tasks().Get(static_cast<int>(random() % Tasks));
        switch (random() % 6) {
        case 0: task->Suspend(); break;
        case 1: task->Resume(); break;
        case 2: task->Stop(false); break;
        case 3: kit.PauseTasks(); break;
        case 4: kit.ResumeTasks(); break;
        default: ProcessMainThreadCalls(); break;
        }
        std::this_thread::yield();
    }
    kit.ResumeTasks();
    kit.StopTasks(random() % 2 == 0);
    events.WaitAllEnded();
    std::vector<int> indexes = events.Indexes();
    EXPECT_EQ(indexes.back(), -1);
    indexes.pop_back();
    std::sort(indexes.begin(), indexes.end());
    std::vector<int> expected(Tasks);
    for (int i = 0; i < Tasks; ++i) expected[i] = i;
    EXPECT_EQ(indexes, expected);  // every task ended exactly once, before the end of all
}

}  // namespace
}  // namespace quorlane
