// Calls that must run on the main thread. On the main thread a call runs at once; elsewhere it
// is queued and the caller waits until the main thread has run it. The Qt program installs a
// waker that posts into its event loop; the CLI and the tests pump the queue themselves, and
// every wait of the main thread for a worker keeps pumping.
#pragma once

#include <chrono>
#include <functional>

namespace quorlane {

// Makes the calling thread the main thread (done by the engine's start-up).
void SetMainThread();
bool IsMainThread();

// Runs fn on the main thread and returns when it has run. An exception thrown by fn reaches
// the caller.
void CallInMainThread(const std::function<void()>& fn);

// Runs every queued call; answers whether any ran. Only the main thread may pump.
bool ProcessMainThreadCalls();

// Called on the queuing thread after each call is queued; the GUI posts an event that pumps.
void SetMainThreadWaker(std::function<void()> waker);

// Waits on the main thread until done() holds, serving queued calls meanwhile. Checks done()
// at least every `poll`.
void WaitServingMainThread(const std::function<bool()>& done,
                           std::chrono::milliseconds poll = std::chrono::milliseconds(10));

}  // namespace quorlane
