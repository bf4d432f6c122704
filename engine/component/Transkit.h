// The engine component: the task list, the worker threads and the events through which both
// front ends convert. Queue one task per input, give each its output, start them with a
// maximum number of concurrent workers, and receive progress, each task's end and one final
// notification (index -1) that all tasks have ended.
//
// Threads. In asynchronous mode (StartTasks with n > 0) OnProgress runs on the task's worker
// inside the component lock, OnTerminate on short-lived delivery threads outside it, one
// delivery at a time in the order the ends happened (so a task's event always comes before the
// index -1 event). In synchronous mode (n <= 0) every task runs inside StartTasks and every
// event arrives on the calling thread. OnPreviewBitmap runs on the main thread; OnBeforeHook and
// OnCustomHook on the worker without any lock. Handlers are set before StartTasks.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "AVProbe.h"
#include "Bitmap.h"
#include "FFmpeg.h"
#include "FrameHookRun.h"
#include "Previewer.h"
#include "TaskOptions.h"
#include "ThreadPriority.h"

namespace quorlane {

using TProgressEvent =
    std::function<void(int AIndex, int AFrameNumber, int AFPS, int ACurrentDuration, float AQuality,
                       float ABitRate, int64_t ACurrentSize, int ATotalOutputDuration)>;
using TTerminateEvent =
    std::function<void(int AIndex, bool AFinished, bool AException, const std::string& AMessage)>;
using TPreviewBitmapEvent =
    std::function<void(int AIndex, TBitmap* ABitmap, int AFrameNumber, int64_t APTS)>;
using TBeforeHookEvent = std::function<void(int AIndex, int64_t APTS, THookAction& AHookAction)>;
using TCustomHookEvent = std::function<void(int AIndex, TBitmap* ABitmap, int AFrameNumber,
                                            int64_t APTS, bool& AUpdate, bool& AStopHook)>;

// A conversion task: a job, the option records its caller gave, and its own probe, which
// describes the task's opened input until the task ends.
class TFFmpeg : public TCustomFFmpeg {
public:
    TFFmpeg();
    // A running task is stopped and waited for first.
    ~TFFmpeg() override;

    std::atomic<int> Index{-1};  // list position; -1 until listed
    TInputOptions InputOptions;
    TOutputOptions OutputOptions;
    TAVProbe& Probe() { return *probe_; }

private:
    std::unique_ptr<TAVProbe> probe_;
};

// The task list with its own lock; the count is a snapshot that reading takes no lock for.
class TFFmpegList {
public:
    TFFmpegList() = default;
    TFFmpegList(const TFFmpegList&) = delete;
    TFFmpegList& operator=(const TFFmpegList&) = delete;
    ~TFFmpegList() { Clear(); }

    // nullptr when the index is outside the list.
    TFFmpeg* Get(int index) const;
    int Count() const { return count_.load(); }
    // Lists the task, stores its index in it and answers it.
    int Add(std::unique_ptr<TFFmpeg> task);
    // Stops every running task with wait, frees every task, empties the list.
    void Clear();
    void StopAll(bool wait);
    void PauseAll();
    void ResumeAll();
    // Sets or clears one preview bit on every listed task.
    void SetPreviewBit(int bit, bool on);

private:
    mutable std::recursive_mutex lock_;  // guards items_; re-entrant like the walks' callers
    std::vector<std::unique_ptr<TFFmpeg>> items_;
    std::atomic<int> count_{0};  // snapshot of items_.size()
};

// The component lock: re-entrant, and when the main thread has to wait for it, the main thread
// keeps serving its call queue (the holder may be a worker waiting for a log line to show).
class TComponentLock {
public:
    void lock();
    void unlock();
    bool HeldByCurrentThread() const { return owner_.load() == std::this_thread::get_id(); }

private:
    std::recursive_mutex mutex_;
    std::atomic<std::thread::id> owner_{};
    int depth_ = 0;  // guarded by mutex_
};

class TCustomTranskit {
public:
    TCustomTranskit();
    TCustomTranskit(const TCustomTranskit&) = delete;
    TCustomTranskit& operator=(const TCustomTranskit&) = delete;
    virtual ~TCustomTranskit();

    bool LoadLibraries(const std::wstring& libraryFolder);
    void ClearTaskList();
    // The task's index, or -1 with LastErrorMessage. With options, an empty FileName receives
    // `fileName` (the caller's record changes).
    int QueueTask(const std::wstring& fileName, TInputOptions* options = nullptr);
    bool SetTaskOutput(int index, const std::wstring& fileName, TOutputOptions* options = nullptr);
    // n > 0: at most n tasks at once on worker threads, each end starting the next, and the call
    // returns at once; n <= 0: every task, one after another, before the call returns.
    void StartTasks(int maxConcurrency);
    void PauseTasks();
    void ResumeTasks();
    // No further task starts; every listed task ends (a task that never started reports its end
    // too). With wait, returns when the running tasks' workers have gone.
    void StopTasks(bool wait);

    const std::string& LastErrorMessage() const { return lastErrorMessage_; }
    TAVProbe& Probe() { return *probe_; }
    TFFmpegList& Tasks() { return tasks_; }
    // Wires a prepared task to the component's callbacks and lists it (QueueTask's last step).
    int AddTask(std::unique_ptr<TFFmpeg> task);
    int TaskCount() const { return tasks_.Count(); }

    std::string About;
    std::string GetVersion() const { return "2.5"; }

protected:
    bool Preview() const { return preview_.load(); }
    void SetPreview(bool value);
    bool PreviewBitmap() const { return previewBitmap_.load(); }
    void SetPreviewBitmap(bool value);
    int ProgressInterval() const { return progressInterval_.load(); }
    void SetProgressInterval(int value);
    TConvertPriority ThreadPriority() const { return threadPriority_.load(); }
    void SetThreadPriority(TConvertPriority value) { threadPriority_ = value; }

    TBeforeHookEvent OnBeforeHook;
    TCustomHookEvent OnCustomHook;
    TPreviewBitmapEvent OnPreviewBitmap;
    TProgressEvent OnProgress;
    TTerminateEvent OnTerminate;

    // The callbacks every task is wired to.
    virtual void DoBeforeHook(TFFmpeg* task, int64_t pts, THookAction& action);
    virtual void DoCustomHook(TFFmpeg* task, TBitmap* bitmap, int frameNumber, int64_t pts,
                              bool& update, bool& stopHook);
    virtual void DoPreviewBitmap(TFFmpeg* task, TBitmap* bitmap, int frameNumber, int64_t pts);
    virtual void DoProgress(TFFmpeg* task, int frameNumber, int fps, int currentDuration,
                            float quality, float bitRate, int64_t currentSize, int totalDuration);
    // nullptr: the all-tasks-ended notification.
    virtual void DoTerminate(TFFmpeg* task);

    // Stops and frees every task and waits for every delivery thread. The most derived
    // destructor calls it first, so no worker calls into a half-destroyed component.
    void Shutdown();

private:
    class TDoTerminateThread;

    void StartNext();                 // component lock held
    void StartTask(TFFmpeg& task);    // component lock held in asynchronous mode
    void RaiseAllEnded();             // component lock held
    void Deliver(int index, bool finished, bool exception, const std::string& message);
    void WaitDeliveries();
    // Progress, terminate and preview callbacks and the preview flags of a new task.
    void WireTask(TFFmpeg& task);
    // UseCustomHook, else UseBeforeHook, else the hook ranges.
    void WireHooks(TFFmpeg& task, const TOutputOptions& options);

    // Written by the caller's thread only.
    std::string lastErrorMessage_;
    // Properties: set by the caller, read by workers when they start the next task.
    std::atomic<int> progressInterval_{500};
    std::atomic<TConvertPriority> threadPriority_{tpNormal};
    std::atomic<bool> preview_{false};
    std::atomic<bool> previewBitmap_{false};
    const int verbosity_ = 1;

    // The preview hand-over slot: written on the job's thread, read on the main thread.
    struct PreviewSlot {
        int index = -1;
        TBitmap* bitmap = nullptr;
        int frameNumber = 0;
        int64_t pts = 0;
    };
    std::mutex previewSlotLock_;  // guards previewSlot_
    PreviewSlot previewSlot_;

    std::unique_ptr<TAVProbe> probe_;
    TFFmpegList tasks_;

    TComponentLock lock_;  // guards the fields below, progress delivery, starting tasks
    int nextIndex_ = -1;
    bool async_ = false;
    int ended_ = 0;
    int remaining_ = 0;
    bool allEndedRaised_ = false;  // one index -1 event per batch

    // Terminate deliveries in asynchronous mode, one thread each, run in ticket order.
    std::mutex deliveryLock_;  // guards the fields below
    std::condition_variable deliveryTurn_;
    uint64_t nextTicket_ = 0;
    uint64_t servedTicket_ = 0;
    std::vector<std::unique_ptr<TDoTerminateThread>> deliveries_;

    bool shutDown_ = false;  // caller's thread only
};

// The component as callers use it: publishes the properties and events.
class TTranskit final : public TCustomTranskit {
public:
    TTranskit() = default;
    ~TTranskit() override { Shutdown(); }

    using TCustomTranskit::Preview;
    using TCustomTranskit::SetPreview;
    using TCustomTranskit::PreviewBitmap;
    using TCustomTranskit::SetPreviewBitmap;
    using TCustomTranskit::ProgressInterval;
    using TCustomTranskit::SetProgressInterval;
    using TCustomTranskit::ThreadPriority;
    using TCustomTranskit::SetThreadPriority;
    using TCustomTranskit::OnBeforeHook;
    using TCustomTranskit::OnCustomHook;
    using TCustomTranskit::OnPreviewBitmap;
    using TCustomTranskit::OnProgress;
    using TCustomTranskit::OnTerminate;
};

}  // namespace quorlane
