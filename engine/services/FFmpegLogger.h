// The engine log: library messages (assembled into whole lines per thread) and component
// messages, filtered by level and delivered one line per OnLog call on the main thread.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

namespace quorlane {

enum TLogLevel { llQuiet, llPanic, llFatal, llError, llWarning, llInfo, llVerbose, llDebug };

using TLogEvent = std::function<void(const void* Sender, uint32_t AThreadID, TLogLevel ALogLevel,
                                     const std::string& ALogMsg)>;

// Library level L to TLogLevel: trunc(L / 8) + 1, limited to llQuiet..llDebug.
TLogLevel LevelFromLibrary(int level);
// TLogLevel to the library's threshold: (V - 1) * 8.
int LevelToLibrary(TLogLevel level);

class TFFLogger {
public:
    // Only one logger may exist; a second one is a programming error.
    TFFLogger();
    TFFLogger(const TFFLogger&) = delete;
    TFFLogger& operator=(const TFFLogger&) = delete;
    ~TFFLogger();

    TLogLevel LogLevel() const;
    void SetLogLevel(TLogLevel level);
    // "quiet" .. "debug" (any case) or a library level number; throws EConvertError otherwise.
    void SetLogLevelText(const std::string& text);

    void SetOnLog(TLogEvent handler);
    bool HasOnLog() const;

    // A component message: one line without a trailing newline.
    void Log(const void* sender, TLogLevel level, const std::string& text);

    // The libraries' log callback.
    static void LibraryCallback(void* context, int level, const char* format, va_list args);

private:
    void Deliver(const void* sender, uint32_t threadId, TLogLevel level, const std::string& text);

    mutable std::mutex lock_;  // guards logLevel_, onLog_
    TLogLevel logLevel_ = llInfo;
    TLogEvent onLog_;
};

// The process-wide logger, created on first use.
TFFLogger& FFLogger();
// Installs the logger as the libraries' log callback (av_log_set_callback must be bound).
void InstallLibraryLogCallback();

// Convenience for engine code: FFLogger().Log(...).
void LogMessage(const void* sender, TLogLevel level, const std::string& text);

// Start-up and shutdown of the per-thread line list (and of the logger with it).
void StartLogList();
void ShutdownLogList();

}  // namespace quorlane
