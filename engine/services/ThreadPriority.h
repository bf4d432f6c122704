// Priorities of the engine's worker threads, and how they map onto Linux scheduling.
#pragma once

namespace quorlane {

// The sub-range of thread priorities a conversion may run at.
enum TConvertPriority : int { tpIdle, tpLowest, tpLower, tpNormal };

// Applies a priority to the calling thread: tpNormal leaves it as it is, tpLower and tpLowest
// raise its nice value by 5 and 10, tpIdle moves it to SCHED_IDLE. Answers false when the
// system refused (the thread then keeps running at its old priority).
bool ApplyThreadPriority(TConvertPriority priority);

}  // namespace quorlane
