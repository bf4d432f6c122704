// Plug-in frame hooks: the hook list that option "vhook" fills. Libraries are loaded
// with dlopen by path, once per process (a process-wide list maps each path to its module;
// modules are never unloaded). Running the hooks per picture belongs to the pipeline.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace quorlane {

// The picture argument of "Process": four plane pointers then four line sizes. The old AVPicture
// is gone in FFmpeg 5.1; this is the plug-in ABI on this platform (pointers are 64-bit).
struct HookPicture {
    uint8_t* data[4];
    int linesize[4];
};

// C calling convention, as the plug-ins export them.
extern "C" {
typedef int (*THookConfigureFn)(void** ctxp, int argc, char* argv[], int lastArg);
typedef void (*THookProcessFn)(void* ctx, HookPicture* picture, int pixelFormat, int width,
                               int height, int64_t pts);
typedef void (*THookReleaseFn)(void* ctx);
}

struct THookEntry {
    THookConfigureFn Configure = nullptr;
    THookProcessFn Process = nullptr;
    THookReleaseFn Release = nullptr;
    void* ctx = nullptr;  // set by "Configure"
};

// Results of AddPluginHook.
inline constexpr int HOOK_OK = 0;
inline constexpr int HOOK_NOT_LOADABLE = -1;
inline constexpr int HOOK_BAD_ARGUMENTS = -2;  // no arguments, or a required entry point missing
inline constexpr int HOOK_NO_MEMORY = -12;
inline constexpr int HOOK_CONFIGURE_FAILED = -22;

// One job's plug-in hooks, in the order they were added.
class TFrameHookList {
public:
    TFrameHookList() = default;
    TFrameHookList(const TFrameHookList&) = delete;
    TFrameHookList& operator=(const TFrameHookList&) = delete;
    ~TFrameHookList() { ReleaseAll(); }

    // args[0] is the library path, then the plug-in's own arguments.
    int AddPluginHook(const std::vector<std::string>& args);
    // Calls each hook's "Release" (when exported) and empties the list.
    void ReleaseAll();

    bool Empty() const { return entries_.empty(); }
    size_t Count() const { return entries_.size(); }
    const std::vector<THookEntry>& Entries() const { return entries_; }

private:
    std::vector<THookEntry> entries_;
};

// The process-wide module list: path (as given) -> loaded module, or nullptr and the dlerror()
// text. Thread-safe.
void* LoadHookModule(const std::string& path, std::string& error);

}  // namespace quorlane
