#include "PauseGate.h"

namespace quorlane {

bool PauseGate::Pause()
{
    std::lock_guard guard(lock_);
    return !paused_.exchange(true, std::memory_order_acq_rel);
}

bool PauseGate::Resume()
{
    bool was;
    {
        std::lock_guard guard(lock_);
        was = paused_.exchange(false, std::memory_order_acq_rel);
    }
    opened_.notify_all();
    return was;
}

bool PauseGate::Holding() const
{
    std::lock_guard guard(lock_);
    return holding_ > 0;
}

void PauseGate::Pass()
{
    if (!paused_.load(std::memory_order_acquire)) return;
    std::unique_lock guard(lock_);
    ++holding_;
    opened_.wait(guard, [&] { return !paused_.load(std::memory_order_acquire); });
    --holding_;
}

}  // namespace quorlane
