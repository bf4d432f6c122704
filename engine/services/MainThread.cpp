#include "MainThread.h"

#include <atomic>
#include <cassert>
#include <condition_variable>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>

namespace quorlane {
namespace {

struct PendingCall {
    const std::function<void()>* fn;
    std::exception_ptr error;
    bool done = false;
};

struct CallQueue {
    std::mutex lock;                  // guards calls, waker
    std::condition_variable queued;   // a call was queued (main thread waits on it)
    std::condition_variable finished; // a call has run (callers wait on it)
    std::deque<PendingCall*> calls;
    std::function<void()> waker;
};

CallQueue& Queue()
{
    static CallQueue queue;
    return queue;
}

std::atomic<std::thread::id> mainThreadId{};

}  // namespace

void SetMainThread() { mainThreadId.store(std::this_thread::get_id()); }

bool IsMainThread() { return mainThreadId.load() == std::this_thread::get_id(); }

void CallInMainThread(const std::function<void()>& fn)
{
    if (IsMainThread() || mainThreadId.load() == std::thread::id()) {
        fn();
        return;
    }
    CallQueue& q = Queue();
    PendingCall call{&fn, nullptr, false};
    std::function<void()> waker;
    {
        std::lock_guard guard(q.lock);
        q.calls.push_back(&call);
        waker = q.waker;
    }
    q.queued.notify_all();
    if (waker) waker();
    std::unique_lock guard(q.lock);
    q.finished.wait(guard, [&] { return call.done; });
    if (call.error) std::rethrow_exception(call.error);
}

bool ProcessMainThreadCalls()
{
    assert(IsMainThread());
    CallQueue& q = Queue();
    bool any = false;
    for (;;) {
        PendingCall* call;
        {
            std::lock_guard guard(q.lock);
            if (q.calls.empty()) break;
            call = q.calls.front();
            q.calls.pop_front();
        }
        try {
            (*call->fn)();
        } catch (...) {
            call->error = std::current_exception();
        }
        {
            std::lock_guard guard(q.lock);
            call->done = true;
        }
        q.finished.notify_all();
        any = true;
    }
    return any;
}

void SetMainThreadWaker(std::function<void()> waker)
{
    CallQueue& q = Queue();
    std::lock_guard guard(q.lock);
    q.waker = std::move(waker);
}

void WaitServingMainThread(const std::function<bool()>& done, std::chrono::milliseconds poll)
{
    CallQueue& q = Queue();
    const bool pump = IsMainThread();
    for (;;) {
        if (pump) ProcessMainThreadCalls();
        if (done()) return;
        std::unique_lock guard(q.lock);
        q.queued.wait_for(guard, poll, [&] { return !q.calls.empty(); });
    }
}

}  // namespace quorlane
