// A job run as a task: its start with the start-time refusals, its run and terminated routine,
// stop requests and the cooperative pause.
#include "FFmpegTask.h"

#include <chrono>
#include <memory>
#include <mutex>
#include <vector>

#include "FFmpegLogger.h"
#include "MainThread.h"

namespace quorlane {

// ---- Threads ----

TJobThread::~TJobThread()
{
    std::lock_guard guard(threadLock_);
    if (!thread_.joinable()) return;
    if (IsCurrent())
        thread_.detach();  // destroyed by its own thread: it is about to return
    else
        thread_.join();
}

void TJobThread::Start()
{
    std::lock_guard guard(threadLock_);
    if (started_) return;
    started_ = true;
    thread_ = std::thread([this] {
        id_.store(std::this_thread::get_id());
        Execute();
        done_.store(true, std::memory_order_release);
    });
}

void TJobThread::Join()
{
    std::lock_guard guard(threadLock_);
    if (thread_.joinable() && !IsCurrent()) thread_.join();
}

void TConvertThread::Execute()
{
    ApplyThreadPriority(priority_);
    job_.Run();
}

void TWaitThread::Execute()
{
    while (!worker_.Done()) std::this_thread::sleep_for(std::chrono::milliseconds(10));
}

// ---- The job's threads ----

struct TTaskThreads {
    std::mutex lock;  // guards every field below
    // Set by the first Start or by the delivery of a never-started job's end: a job starts or
    // ends once.
    bool claimed = false;
    std::unique_ptr<TConvertThread> worker;
    TDoTerminateThread* ending = nullptr;  // owned by helpers
    std::vector<std::unique_ptr<TJobThread>> helpers;

    // Joins the helpers that have finished (lock held).
    void JoinFinished()
    {
        for (auto& helper : helpers)
            if (helper->Done()) helper->Join();
    }
    bool AllDone()
    {
        std::lock_guard guard(lock);
        if (worker && !worker->Done() && !worker->IsCurrent()) return false;
        for (auto& helper : helpers)
            if (!helper->Done() && !helper->IsCurrent()) return false;
        return true;
    }
};

void TTaskThreadsDeleter::operator()(TTaskThreads* threads) const
{
    // Last resort for a job destroyed without WaitForThreads: the threads use the job.
    while (!threads->AllDone()) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    delete threads;
}

TTaskThreads& TCustomFFmpeg::Threads()
{
    std::call_once(task_threads_once_,
                   [this] { task_threads_.reset(new TTaskThreads); });
    return *task_threads_;
}

namespace {

// Waits for a thread of the job; never for the calling thread itself.
void WaitForThread(const TJobThread& thread)
{
    if (thread.IsCurrent()) return;
    WaitServingMainThread([&] { return thread.Done(); });
}

}  // namespace

// ---- Start, run, terminated routine ----

TConvertThread* TCustomFFmpeg::Start(bool asynchronous, TConvertPriority priority)
{
    TTaskThreads& threads = Threads();
    std::string refusal;
    {
        std::lock_guard guard(threads.lock);
        if (threads.claimed || Running || Terminated) return nullptr;
        threads.claimed = true;
        if (output_count <= 0)
            refusal = "At least one output file must be specified";
        else if (input_count <= 0)
            refusal = "At least one input file must be specified";
        if (refusal.empty()) {
            Running = true;
            StopRequested = false;
            Finished = false;
            Terminated = false;
            if (asynchronous) {
                threads.worker = std::make_unique<TConvertThread>(*this, priority);
                ConvertThread = threads.worker.get();
                return threads.worker.get();
            }
        }
    }
    if (!refusal.empty()) {
        ReleaseJob();
        LogMessage(this, llQuiet, refusal);
        ErrorOccurred = true;
        ErrorMessage = refusal;
        DoTerminated();
        return nullptr;
    }
    Run();
    return nullptr;
}

void TCustomFFmpeg::Run()
{
    Finished = false;
    try {
        RunTranscode();
    } catch (const std::exception& e) {
        LogMessage(this, llQuiet, e.what());
        ErrorMessage = e.what();
        ErrorOccurred = true;
    } catch (...) {
        // Nothing but std::exception is thrown by the engine; keep the task's end anyway.
        ErrorMessage = "Unknown error";
        LogMessage(this, llQuiet, ErrorMessage);
        ErrorOccurred = true;
    }
    ReleaseJob();
    DoTerminated();
}

void TCustomFFmpeg::DoTerminated()
{
    Running = false;
    Terminated = true;
    ConvertThread = nullptr;
    if (OnRunTerminate) OnRunTerminate(*this);
}

// ---- Stop and pause ----

void TCustomFFmpeg::RequestStop(bool wait)
{
    TTaskThreads& threads = Threads();
    TJobThread* waiter = nullptr;
    {
        std::lock_guard guard(threads.lock);
        if (!Running) return;
        StopRequested = true;
        if (!threads.worker || threads.worker->Done()) return;
        // A paused worker must run again to see the request.
        Gate.Resume();
        threads.JoinFinished();
        threads.helpers.push_back(std::make_unique<TWaitThread>(*threads.worker));
        waiter = threads.helpers.back().get();
        waiter->Start();
    }
    if (wait && !threads.worker->IsCurrent()) WaitForThread(*waiter);
}

void TCustomFFmpeg::Stop(bool wait)
{
    TTaskThreads& threads = Threads();
    TJobThread* ending = nullptr;
    {
        std::lock_guard guard(threads.lock);
        if (threads.claimed) {
            if (!Running) {
                // Terminated, or its end is being delivered already.
                ending = threads.ending;
                if (!ending || !wait) return;
            }
        } else {
            threads.claimed = true;
            threads.JoinFinished();
            auto helper = std::make_unique<TDoTerminateThread>(*this);
            threads.ending = helper.get();
            threads.helpers.push_back(std::move(helper));
            ending = threads.ending;
            ending->Start();
        }
    }
    if (ending) {
        if (wait) WaitForThread(*ending);
        return;
    }
    RequestStop(wait);
}

bool TCustomFFmpeg::Claimed()
{
    TTaskThreads& threads = Threads();
    std::lock_guard guard(threads.lock);
    return threads.claimed;
}

void TCustomFFmpeg::Suspend()
{
    if (ConvertThread.load()) Gate.Pause();
}

void TCustomFFmpeg::Resume() { Gate.Resume(); }

bool TCustomFFmpeg::Suspended() const { return Gate.Paused(); }

void TCustomFFmpeg::WaitForThreads()
{
    TTaskThreads& threads = Threads();
    WaitServingMainThread([&] { return threads.AllDone(); });
    std::lock_guard guard(threads.lock);
    if (threads.worker) threads.worker->Join();
    for (auto& helper : threads.helpers) helper->Join();
}

}  // namespace quorlane
