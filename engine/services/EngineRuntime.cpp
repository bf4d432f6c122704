#include "EngineRuntime.h"

#include <cassert>
#include <memory>
#include <mutex>

#include "FFmpegLoader.h"
#include "FFmpegLogger.h"
#include "Fpu.h"
#include "MainThread.h"

namespace quorlane {
namespace {

EngineRuntime* current = nullptr;
std::unique_ptr<std::mutex> codecLock;
std::unique_ptr<TFFmpegLoader> loader;
FpuControlWord savedFpu;

}  // namespace

EngineRuntime::EngineRuntime()
{
    assert(!current && "the engine services are started once");
    current = this;
    SetMainThread();
    savedFpu = SetEngineFpuControlWord();
    codecLock = std::make_unique<std::mutex>();
    loader = std::make_unique<TFFmpegLoader>();
    StartLogList();
}

EngineRuntime::~EngineRuntime()
{
    ShutdownLogList();
    { std::lock_guard guard(*codecLock); }  // nobody may still be inside
    codecLock.reset();
    RestoreFpuControlWord(savedFpu);
    loader.reset();
    current = nullptr;
}

bool EngineRuntime::Running() { return current != nullptr; }

TFFmpegLoader& FFLoader()
{
    assert(loader && "engine services not started");
    return *loader;
}

std::mutex& CodecLock()
{
    assert(codecLock && "engine services not started");
    return *codecLock;
}

}  // namespace quorlane
