#include "ThreadPriority.h"

#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>

namespace quorlane {

bool ApplyThreadPriority(TConvertPriority priority)
{
    // setpriority with a thread id affects only that thread on Linux.
    const id_t tid = static_cast<id_t>(::syscall(SYS_gettid));
    switch (priority) {
    case tpNormal:
        return true;
    case tpLower:
    case tpLowest: {
        errno = 0;
        const int current = ::getpriority(PRIO_PROCESS, tid);
        if (current == -1 && errno != 0) return false;
        const int step = priority == tpLower ? 5 : 10;
        return ::setpriority(PRIO_PROCESS, tid, current + step) == 0;
    }
    case tpIdle: {
        sched_param param{};
        param.sched_priority = 0;
        return ::pthread_setschedparam(::pthread_self(), SCHED_IDLE, &param) == 0;
    }
    }
    return false;
}

}  // namespace quorlane
