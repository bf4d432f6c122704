#include "Transkit.h"

#include <chrono>

#include "FFmpegLoader.h"
#include "FFmpegLogger.h"
#include "FFmpegTask.h"
#include "MainThread.h"
#include "MyUtils.h"
#include "Previewer.h"
#include "UnicodeProtocol.h"

namespace quorlane {

// ---- TFFmpeg ----

TFFmpeg::TFFmpeg() : probe_(std::make_unique<TAVProbe>()) {}

TFFmpeg::~TFFmpeg()
{
    RequestStop(true);
    WaitForThreads();
    try {
        probe_->AttachContext(nullptr);
    } catch (const std::exception&) {
        // Nothing attached when the libraries are gone.
    }
}

// ---- Preview and hooks of a task ----

namespace {

void SetTaskPreviewBit(TFFmpeg& task, int bit, bool on) { task.PreviewState.ChangePreviewFlag(bit, on); }

}  // namespace

// ---- TFFmpegList ----

TFFmpeg* TFFmpegList::Get(int index) const
{
    std::lock_guard guard(lock_);
    if (index < 0 || index >= static_cast<int>(items_.size())) return nullptr;
    return items_[index].get();
}

int TFFmpegList::Add(std::unique_ptr<TFFmpeg> task)
{
    std::lock_guard guard(lock_);
    const int index = static_cast<int>(items_.size());
    task->Index = index;
    items_.push_back(std::move(task));
    count_ = static_cast<int>(items_.size());
    return index;
}

void TFFmpegList::Clear()
{
    std::lock_guard guard(lock_);
    // Each task stops and waits for its own worker as it goes.
    for (auto& task : items_) task.reset();
    items_.clear();
    count_ = 0;
}

void TFFmpegList::StopAll(bool wait)
{
    std::lock_guard guard(lock_);
    for (auto& task : items_) task->Stop(wait);
}

void TFFmpegList::SetPreviewBit(int bit, bool on)
{
    std::lock_guard guard(lock_);
    for (auto& task : items_) SetTaskPreviewBit(*task, bit, on);
}

void TFFmpegList::PauseAll()
{
    std::lock_guard guard(lock_);
    for (auto& task : items_)
        if (task->ConvertThread.load() && !task->Suspended()) task->Suspend();
}

void TFFmpegList::ResumeAll()
{
    std::lock_guard guard(lock_);
    for (auto& task : items_)
        if (task->Suspended()) task->Resume();
}

// ---- TComponentLock ----

void TComponentLock::lock()
{
    if (IsMainThread()) {
        // A worker holding the lock may be waiting for the main thread right now.
        WaitServingMainThread([&] { return mutex_.try_lock(); }, std::chrono::milliseconds(1));
    } else {
        mutex_.lock();
    }
    if (depth_++ == 0) owner_ = std::this_thread::get_id();
}

void TComponentLock::unlock()
{
    if (--depth_ == 0) owner_ = std::thread::id();
    mutex_.unlock();
}

// ---- Terminate deliveries ----

// Calls a terminate handler with the values it was created with, after every earlier delivery
// of the component has returned.
class TCustomTranskit::TDoTerminateThread {
public:
    TDoTerminateThread(TCustomTranskit& owner, uint64_t ticket, TTerminateEvent handler, int index,
                       bool finished, bool exception, std::string message)
    {
        thread_ = std::thread([&owner, ticket, handler = std::move(handler), index, finished,
                               exception, message = std::move(message), this] {
            {
                std::unique_lock guard(owner.deliveryLock_);
                owner.deliveryTurn_.wait(guard, [&] { return owner.servedTicket_ == ticket; });
            }
            try {
                handler(index, finished, exception, message);
            } catch (const std::exception& e) {
                LogMessage(&owner, llError, e.what());
            }
            {
                std::lock_guard guard(owner.deliveryLock_);
                ++owner.servedTicket_;
                done_ = true;
            }
            owner.deliveryTurn_.notify_all();
        });
    }
    ~TDoTerminateThread() { thread_.join(); }
    bool Done() const { return done_; }  // deliveryLock_ held

private:
    bool done_ = false;  // guarded by the owner's deliveryLock_
    std::thread thread_;
};

void TCustomTranskit::Deliver(int index, bool finished, bool exception, const std::string& message)
{
    if (!OnTerminate) return;
    if (!async_) {
        try {
            OnTerminate(index, finished, exception, message);
        } catch (const std::exception& e) {
            LogMessage(this, llError, e.what());
        }
        return;
    }
    std::vector<std::unique_ptr<TDoTerminateThread>> finishedThreads;
    std::lock_guard guard(deliveryLock_);
    // Reap the deliveries that are over (their threads have nothing left to do but return).
    for (auto it = deliveries_.begin(); it != deliveries_.end();) {
        if ((*it)->Done()) {
            finishedThreads.push_back(std::move(*it));
            it = deliveries_.erase(it);
        } else {
            ++it;
        }
    }
    deliveries_.push_back(std::make_unique<TDoTerminateThread>(
        *this, nextTicket_++, OnTerminate, index, finished, exception, message));
    // finishedThreads are joined after the lock is released (declared before the guard).
}

void TCustomTranskit::WaitDeliveries()
{
    WaitServingMainThread([&] {
        std::lock_guard guard(deliveryLock_);
        return servedTicket_ == nextTicket_;
    });
    std::vector<std::unique_ptr<TDoTerminateThread>> threads;
    {
        std::lock_guard guard(deliveryLock_);
        threads.swap(deliveries_);
    }
}

// ---- Set-up of a task ----

namespace {

void OpenTaskInput(TFFmpeg& task, const std::wstring& fileName)
{
    if (!task.OpenInput(fileName)) throw FFmpegException(task.ErrorText);
}

void OpenTaskOutput(TFFmpeg& task, const std::wstring& fileName, bool join)
{
    if (task.OpenOutput(fileName, join) < 0) throw FFmpegException(task.ErrorText);
}

}  // namespace

void TCustomTranskit::WireTask(TFFmpeg& task)
{
    task.PreviewState.SetPreviewFlags((Preview() ? PREVIEW_WINDOW : 0) |
                                      (PreviewBitmap() ? PREVIEW_BITMAP : 0));
    task.PreviewState.SetPreviewBitmapCallback(
        [this](TCustomFFmpeg* job, TBitmap* bitmap, int frameNumber, int64_t pts) {
            DoPreviewBitmap(static_cast<TFFmpeg*>(job), bitmap, frameNumber, pts);
        });
    task.OnRunProgress = [this](TCustomFFmpeg& job, int frameNumber, int fps, int duration,
                                float quality, float bitRate, int64_t size, int total) {
        DoProgress(static_cast<TFFmpeg*>(&job), frameNumber, fps, duration, quality, bitRate, size,
                   total);
    };
    task.OnRunTerminate = [this](TCustomFFmpeg& job) {
        auto& ended = static_cast<TFFmpeg&>(job);
        try {
            ended.Probe().AttachContext(nullptr);  // its input is closed now
        } catch (const std::exception&) {
        }
        DoTerminate(&ended);
    };
}

void TCustomTranskit::WireHooks(TFFmpeg& task, const TOutputOptions& options)
{
    if (options.UseCustomHook) {
        task.HookRunner.SetCustomHook([this](TCustomFFmpeg* job, TBitmap* bitmap, int frameNumber,
                                             int64_t pts, bool& update, bool& stop) {
            DoCustomHook(static_cast<TFFmpeg*>(job), bitmap, frameNumber, pts, update, stop);
        });
    } else if (options.UseBeforeHook) {
        task.HookRunner.SetBeforeHook([this](TCustomFFmpeg* job, int64_t pts, THookAction& action) {
            DoBeforeHook(static_cast<TFFmpeg*>(job), pts, action);
        });
    } else {
        std::vector<THookRange> ranges;
        for (const TTimeRange& r : ParseHookRanges(options.HookRanges)) ranges.push_back({r.Start, r.End});
        task.HookRunner.SetHookRanges(ranges.data(), static_cast<int>(ranges.size()));
    }
}

// ---- Construction and destruction ----

TCustomTranskit::TCustomTranskit() : probe_(std::make_unique<TAVProbe>()) {}

TCustomTranskit::~TCustomTranskit() { Shutdown(); }

void TCustomTranskit::Shutdown()
{
    if (shutDown_) return;
    shutDown_ = true;
    {
        // An event delivery in progress finishes first; then nothing new starts.
        std::lock_guard guard(lock_);
        remaining_ = 0;
    }
    tasks_.Clear();
    WaitDeliveries();
}

// ---- Properties ----

void TCustomTranskit::SetProgressInterval(int value) { progressInterval_ = value <= 100 ? 100 : value; }

void TCustomTranskit::SetPreview(bool value)
{
    tasks_.SetPreviewBit(PREVIEW_WINDOW, value);
    preview_ = value;
}

void TCustomTranskit::SetPreviewBitmap(bool value)
{
    tasks_.SetPreviewBit(PREVIEW_BITMAP, value);
    previewBitmap_ = value;
}

// ---- Operations ----

bool TCustomTranskit::LoadLibraries(const std::wstring& libraryFolder)
{
    TFFmpegLoader& loader = FFLoader();
    loader.SetLibraryPath(libraryFolder);
    const bool loaded = loader.Load(ConverterLibraries);
    if (!loaded) lastErrorMessage_ = loader.LastErrMsg();
    return loaded;
}

void TCustomTranskit::ClearTaskList()
{
    {
        std::lock_guard guard(lock_);
        remaining_ = 0;
    }
    tasks_.Clear();
    lastErrorMessage_.clear();
    std::lock_guard guard(lock_);
    async_ = false;
    ended_ = 0;
    nextIndex_ = -1;
    allEndedRaised_ = false;
}

int TCustomTranskit::QueueTask(const std::wstring& fileName, TInputOptions* options)
{
    auto task = std::make_unique<TFFmpeg>();
    bool opening = false;
    try {
        task->Reset();
        task->SetVerbosity(verbosity_);
        if (options) {
            if (options->FileName.empty()) options->FileName = fileName;
            task->InputOptions = *options;
            ApplyInputOptions(*task, *options);
        } else {
            task->InputOptions = TInputOptions();
        }
        opening = true;
        OpenTaskInput(*task, fileName);
        opening = false;
        task->Probe().AttachContext(task->input_contexts[task->input_count - 1]);
    } catch (const std::exception& e) {
        lastErrorMessage_ = opening && !task->ErrorText.empty() ? task->ErrorText : e.what();
        return -1;
    }
    return AddTask(std::move(task));
}

int TCustomTranskit::AddTask(std::unique_ptr<TFFmpeg> task)
{
    WireTask(*task);
    return tasks_.Add(std::move(task));
}

bool TCustomTranskit::SetTaskOutput(int index, const std::wstring& fileName, TOutputOptions* options)
{
    TFFmpeg* task = tasks_.Get(index);
    if (!task) {
        lastErrorMessage_ = Format("List index out of bounds (%d)", index);
        return false;
    }
    bool opening = false;
    try {
        bool join = false;
        if (options) {
            if (options->FileName.empty()) options->FileName = fileName;
            task->OutputOptions = *options;
            ApplyOutputOptions(*task, *options);
            WireHooks(*task, *options);
            join = options->JoinInputs;
        } else {
            task->OutputOptions = TOutputOptions();
        }
        opening = true;
        OpenTaskOutput(*task, fileName, join);
        opening = false;
        if (options) ApplyOptionLines(*task, options->ExtraOptions, osStream);
    } catch (const std::exception& e) {
        lastErrorMessage_ = opening && !task->ErrorText.empty() ? task->ErrorText : e.what();
        return false;
    }
    return true;
}

void TCustomTranskit::StartTasks(int maxConcurrency)
{
    std::unique_lock guard(lock_);
    nextIndex_ = 0;
    ended_ = 0;
    allEndedRaised_ = false;
    async_ = maxConcurrency > 0;
    remaining_ = tasks_.Count();
    if (async_) {
        int n = maxConcurrency;
        while (remaining_ > 0) {
            StartNext();
            if (--n <= 0) break;
        }
        return;
    }
    guard.unlock();
    // Synchronous: the runs happen outside the lock, so that a stop can reach them.
    for (;;) {
        TFFmpeg* task;
        {
            std::lock_guard again(lock_);
            if (remaining_ <= 0) break;
            --remaining_;
            task = tasks_.Get(nextIndex_++);
        }
        if (task) StartTask(*task);
    }
}

void TCustomTranskit::StartNext()
{
    // A task that ended before its turn (stopped on its own) gives its turn to the next one.
    while (remaining_ > 0) {
        --remaining_;
        TFFmpeg* task = tasks_.Get(nextIndex_++);
        if (!task || task->Claimed()) continue;
        StartTask(*task);
        return;
    }
}

void TCustomTranskit::StartTask(TFFmpeg& task)
{
    task.ReportInterval = static_cast<int64_t>(ProgressInterval()) * 1000;
    if (async_) {
        if (TConvertThread* worker = task.Start(true, ThreadPriority())) worker->Start();
    } else {
        task.Start(false, ThreadPriority());
    }
}

void TCustomTranskit::PauseTasks() { tasks_.PauseAll(); }

void TCustomTranskit::ResumeTasks() { tasks_.ResumeAll(); }

void TCustomTranskit::StopTasks(bool wait)
{
    {
        std::lock_guard guard(lock_);
        remaining_ = 0;
    }
    // A handler that holds the component lock cannot wait: the ends it would wait for need it.
    tasks_.StopAll(wait && !lock_.HeldByCurrentThread());
}

// ---- Events ----

void TCustomTranskit::DoBeforeHook(TFFmpeg* task, int64_t pts, THookAction& action)
{
    if (OnBeforeHook) OnBeforeHook(task->Index, pts, action);
}

void TCustomTranskit::DoCustomHook(TFFmpeg* task, TBitmap* bitmap, int frameNumber, int64_t pts,
                                   bool& update, bool& stopHook)
{
    if (OnCustomHook) OnCustomHook(task->Index, bitmap, frameNumber, pts, update, stopHook);
}

void TCustomTranskit::DoPreviewBitmap(TFFmpeg* task, TBitmap* bitmap, int frameNumber, int64_t pts)
{
    if (!OnPreviewBitmap) return;
    PreviewSlot slot{task->Index, bitmap, frameNumber, pts};
    {
        std::lock_guard guard(previewSlotLock_);
        previewSlot_ = slot;
    }
    CallInMainThread([&] { OnPreviewBitmap(slot.index, slot.bitmap, slot.frameNumber, slot.pts); });
}

void TCustomTranskit::DoProgress(TFFmpeg* task, int frameNumber, int fps, int currentDuration,
                                 float quality, float bitRate, int64_t currentSize, int totalDuration)
{
    if (!OnProgress) return;
    std::lock_guard guard(lock_);
    OnProgress(task->Index, frameNumber, fps, currentDuration, quality, bitRate, currentSize,
               totalDuration);
}

void TCustomTranskit::DoTerminate(TFFmpeg* task)
{
    std::lock_guard guard(lock_);
    if (!task) {
        RaiseAllEnded();
        return;
    }
    // The task's delivery is queued before anything below can queue the index -1 one, and
    // deliveries run in queue order.
    Deliver(task->Index, task->Finished, task->ErrorOccurred, task->ErrorMessage);
    ++ended_;
    if (remaining_ > 0) {
        if (async_) StartNext();
    } else if (tasks_.Count() <= ended_) {
        RaiseAllEnded();
    }
}

void TCustomTranskit::RaiseAllEnded()
{
    if (allEndedRaised_) return;
    allEndedRaised_ = true;
    Deliver(-1, true, false, std::string());
}

}  // namespace quorlane
