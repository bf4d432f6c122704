// Plug-in frame hooks: loading by path with dlopen, the entry points and "Configure".
#include "FrameHook.h"

#include <dlfcn.h>

#include <map>
#include <mutex>
#include <new>

#include "EntryPoints.h"

namespace quorlane {
namespace {

// The process-wide list: library path (as given) -> loaded module; modules are never unloaded.
std::mutex moduleLock;  // guards modules and the working-directory switch around dlopen
std::map<std::string, void*>& Modules()
{
    static auto* modules = new std::map<std::string, void*>();  // lives as long as the process
    return *modules;
}

}  // namespace

void* LoadHookModule(const std::string& path, std::string& error)
{
    std::lock_guard guard(moduleLock);
    auto it = Modules().find(path);
    if (it != Modules().end()) return it->second;
    // The working-directory switch and PATH extension served the Windows DLL search;
    // on Linux dlopen takes the path as given (a plug-in finds its own helpers through its
    // RPATH), and a process-wide chdir/setenv would disturb other jobs' threads.
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        const char* why = dlerror();
        error = why ? why : "cannot load library";
    } else {
        Modules()[path] = handle;
    }
    return handle;
}

int TFrameHookList::AddPluginHook(const std::vector<std::string>& args)
{
    if (args.empty()) return HOOK_BAD_ARGUMENTS;
    const std::string& path = args[0];
    std::string error;
    void* module = LoadHookModule(path, error);
    if (!module) {
        ff::av_log(nullptr, AV_LOG_ERROR, "%s\n", error.c_str());
        return HOOK_NOT_LOADABLE;
    }
    THookEntry entry;
    entry.Configure = reinterpret_cast<THookConfigureFn>(dlsym(module, "Configure"));
    entry.Process = reinterpret_cast<THookProcessFn>(dlsym(module, "Process"));
    entry.Release = reinterpret_cast<THookReleaseFn>(dlsym(module, "Release"));
    if (!entry.Process) {
        ff::av_log(nullptr, AV_LOG_ERROR, "Failed to find Process entrypoint in %s\n", path.c_str());
        return HOOK_BAD_ARGUMENTS;
    }
    if (!entry.Configure && args.size() > 1) {
        ff::av_log(nullptr, AV_LOG_ERROR, "Failed to find Configure entrypoint in %s\n", path.c_str());
        return HOOK_BAD_ARGUMENTS;
    }
    if (entry.Configure) {
        std::vector<std::string> copies(args);
        std::vector<char*> argv;
        for (std::string& a : copies) argv.push_back(a.data());
        argv.push_back(nullptr);
        const int argc = static_cast<int>(args.size());
        if (entry.Configure(&entry.ctx, argc, argv.data(), argc - 1) != 0) {
            ff::av_log(nullptr, AV_LOG_ERROR, "Failed to Configure %s\n", path.c_str());
            return HOOK_CONFIGURE_FAILED;
        }
    }
    try {
        entries_.push_back(entry);
    } catch (const std::bad_alloc&) {
        if (entry.Release) entry.Release(entry.ctx);
        return HOOK_NO_MEMORY;
    }
    return HOOK_OK;
}

void TFrameHookList::ReleaseAll()
{
    for (THookEntry& e : entries_)
        if (e.Release) e.Release(e.ctx);
    entries_.clear();
}

}  // namespace quorlane
