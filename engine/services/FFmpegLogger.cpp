#include "FFmpegLogger.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cassert>
#include <cstdio>
#include <list>
#include <memory>
#include <strings.h>

#include "EntryPoints.h"
#include "MainThread.h"
#include "MyUtils.h"

namespace quorlane {
namespace {

constexpr size_t LineBufferSize = 2048;

// Library messages above this library level are dropped.
std::atomic<int> threshold{AV_LOG_INFO};

// Per-thread assembly of library lines: a thread's unfinished line waits here for the rest.
struct LogItem {
    uint32_t ThreadID = 0;
    std::string Pending;
};

struct TLogList {
    std::mutex lock;  // guards items (finding and inserting); Pending is touched by its thread only
    std::list<LogItem> items;

    LogItem& ItemFor(uint32_t threadId)
    {
        std::lock_guard guard(lock);
        for (LogItem& item : items)
            if (item.ThreadID == threadId) return item;
        items.push_back(LogItem{threadId, {}});
        return items.back();
    }
};

std::unique_ptr<TLogList> logList;
std::mutex singletonLock;             // guards creation of the singleton
std::atomic<TFFLogger*> instance{nullptr};
std::unique_ptr<TFFLogger> ownedLogger;  // the logger created on first use

uint32_t CurrentThreadId() { return static_cast<uint32_t>(syscall(SYS_gettid)); }

}  // namespace

TLogLevel LevelFromLibrary(int level)
{
    int v = level / 8 + 1;  // C++ division truncates toward zero
    return static_cast<TLogLevel>(std::clamp(v, static_cast<int>(llQuiet), static_cast<int>(llDebug)));
}

int LevelToLibrary(TLogLevel level) { return (static_cast<int>(level) - 1) * 8; }

TFFLogger::TFFLogger()
{
    TFFLogger* expected = nullptr;
    bool first = instance.compare_exchange_strong(expected, this);
    assert(first && "Allow creating only one instance of TFFLogger.");
    (void)first;
    logLevel_ = LevelFromLibrary(threshold.load());
}

TFFLogger::~TFFLogger()
{
    TFFLogger* self = this;
    instance.compare_exchange_strong(self, nullptr);
}

TLogLevel TFFLogger::LogLevel() const
{
    std::lock_guard guard(lock_);
    return logLevel_;
}

void TFFLogger::SetLogLevel(TLogLevel level)
{
    {
        std::lock_guard guard(lock_);
        logLevel_ = level;
    }
    threshold.store(LevelToLibrary(level));
    if (ff::av_log_set_level) ff::av_log_set_level(LevelToLibrary(level));
}

void TFFLogger::SetLogLevelText(const std::string& text)
{
    static const struct { const char* name; int level; } names[] = {
        {"quiet", -8}, {"panic", 0}, {"fatal", 8}, {"error", 16},
        {"warning", 24}, {"info", 32}, {"verbose", 40}, {"debug", 48},
    };
    for (const auto& n : names) {
        if (strcasecmp(text.c_str(), n.name) == 0) {
            SetLogLevel(LevelFromLibrary(n.level));
            return;
        }
    }
    SetLogLevel(LevelFromLibrary(StrToInt(text)));
}

void TFFLogger::SetOnLog(TLogEvent handler)
{
    std::lock_guard guard(lock_);
    onLog_ = std::move(handler);
}

bool TFFLogger::HasOnLog() const
{
    std::lock_guard guard(lock_);
    return static_cast<bool>(onLog_);
}

void TFFLogger::Deliver(const void* sender, uint32_t threadId, TLogLevel level, const std::string& text)
{
    TLogEvent handler;
    {
        std::lock_guard guard(lock_);
        handler = onLog_;
    }
    if (!handler) return;
    // Each delivery carries its own values to the main thread, so concurrent loggers never mix.
    CallInMainThread([&] { handler(sender, threadId, level, text); });
}

void TFFLogger::Log(const void* sender, TLogLevel level, const std::string& text)
{
    TLogLevel current;
    {
        std::lock_guard guard(lock_);
        if (!onLog_) return;
        current = logLevel_;
    }
    // Verbose output (the stream mapping and the like) shows at every level but quiet.
    if (level <= current || (level == llVerbose && current > llQuiet))
        Deliver(sender, CurrentThreadId(), level, text);
}

void TFFLogger::LibraryCallback(void* context, int level, const char* format, va_list args)
{
    if (level > threshold.load()) return;
    TLogList* list = logList.get();
    if (!list) return;
    const uint32_t threadId = CurrentThreadId();
    LogItem& item = list->ItemFor(threadId);

    // Lines are bounded at the buffer's size: a pending half-line joined with a long message is
    // cut there, but the message's own newlines still end lines, so no thread's log gets stuck.
    constexpr size_t MaxLine = LineBufferSize - 1;
    std::string text;
    const AVClass* cls = context ? *static_cast<const AVClass* const*>(context) : nullptr;
    if (cls && item.Pending.empty()) {
        const char* name = cls->item_name ? cls->item_name(context) : cls->class_name;
        text = Format("[%s @ %p]", name ? name : "", context);
    } else {
        text.swap(item.Pending);
    }
    text += FormatV(format, args);

    TFFLogger* logger = instance.load();
    const std::string_view view(text);
    size_t start = 0;
    for (size_t nl; (nl = view.find('\n', start)) != std::string_view::npos; start = nl + 1) {
        if (logger)
            logger->Deliver(logger, threadId, LevelFromLibrary(level),
                            std::string(view.substr(start, std::min(nl - start, MaxLine))));
    }
    item.Pending.assign(view.substr(start, MaxLine));
}

TFFLogger& FFLogger()
{
    if (TFFLogger* logger = instance.load()) return *logger;
    std::lock_guard guard(singletonLock);
    if (TFFLogger* logger = instance.load()) return *logger;
    ownedLogger = std::make_unique<TFFLogger>();
    return *ownedLogger;
}

void InstallLibraryLogCallback()
{
    assert(ff::av_log_set_callback && "av_log_set_callback is not bound");
    FFLogger();
    ff::av_log_set_callback(&TFFLogger::LibraryCallback);
}

void LogMessage(const void* sender, TLogLevel level, const std::string& text) { FFLogger().Log(sender, level, text); }

void StartLogList() { logList = std::make_unique<TLogList>(); }

void ShutdownLogList()
{
    logList.reset();
    std::lock_guard guard(singletonLock);
    ownedLogger.reset();
}

}  // namespace quorlane
