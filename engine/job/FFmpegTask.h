// The threads of a job that runs as a task: the worker of an asynchronous start, the waiter of
// a stop request and the helper that delivers the end of a job that never started. Each is
// created idle and runs once Start is called; the job keeps them until it is destroyed, so no
// thread outlives the job it works on.
#pragma once

#include <atomic>
#include <mutex>
#include <thread>

#include "FFmpeg.h"

namespace quorlane {

class TJobThread {
public:
    TJobThread() = default;
    TJobThread(const TJobThread&) = delete;
    TJobThread& operator=(const TJobThread&) = delete;
    virtual ~TJobThread();

    void Start();
    // True once Execute has returned: the thread touches nothing of its job any more.
    bool Done() const { return done_.load(std::memory_order_acquire); }
    // True when called on this thread.
    bool IsCurrent() const { return id_.load() == std::this_thread::get_id(); }
    // Joins a thread that is Done (or never started); not to be called on the thread itself.
    void Join();

protected:
    virtual void Execute() = 0;

private:
    std::mutex threadLock_;              // guards thread_: started and joined on different threads
    std::thread thread_;
    std::atomic<std::thread::id> id_{};  // set by the thread itself when it begins
    std::atomic<bool> done_{false};
    bool started_ = false;               // guarded by threadLock_
};

// Runs its job's run routine at the given priority.
class TConvertThread : public TJobThread {
public:
    TConvertThread(TCustomFFmpeg& job, TConvertPriority priority) : job_(job), priority_(priority) {}

protected:
    void Execute() override;

private:
    TCustomFFmpeg& job_;
    TConvertPriority priority_;
};

// Waits, polling every 10 ms, until the job's worker has gone.
class TWaitThread : public TJobThread {
public:
    explicit TWaitThread(const TConvertThread& worker) : worker_(worker) {}

protected:
    void Execute() override;

private:
    const TConvertThread& worker_;
};

// Runs the terminated routine of a job that never started.
class TDoTerminateThread : public TJobThread {
public:
    explicit TDoTerminateThread(TCustomFFmpeg& job) : job_(job) {}

protected:
    void Execute() override { job_.DoTerminated(); }

private:
    TCustomFFmpeg& job_;
};

}  // namespace quorlane
