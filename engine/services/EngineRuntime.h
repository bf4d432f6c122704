// Start-up and shutdown of the engine services. The program's main() holds one EngineRuntime
// for its whole life, before any window or worker exists.
#pragma once

namespace quorlane {

class EngineRuntime {
public:
    // Start-up: floating-point control word, CodecLock, the loader, the log list; the calling
    // thread becomes the main thread.
    EngineRuntime();
    // Shutdown: log list (and logger), CodecLock, control word restored, loader freed.
    ~EngineRuntime();
    EngineRuntime(const EngineRuntime&) = delete;
    EngineRuntime& operator=(const EngineRuntime&) = delete;

    static bool Running();
};

}  // namespace quorlane
