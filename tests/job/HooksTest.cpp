// "vhook" and the plug-in hook list: loading by path, the entry
// points, "Configure", the negative results and "Release" at the job's release.
#include <dlfcn.h>

#include "FrameHook.h"
#include "JobTestSupport.h"

namespace quorlane {
namespace {

const std::string PluginDir = QUORLANE_HOOK_PLUGIN_DIR;
const std::string Plugin = PluginDir + "libjob_hook_full.so";

template <typename T>
T& Symbol(const std::string& lib, const char* name)
{
    void* h = dlopen(lib.c_str(), RTLD_NOW | RTLD_NOLOAD);
    EXPECT_NE(h, nullptr) << lib << " is not loaded";
    T* p = static_cast<T*>(h ? dlsym(h, name) : nullptr);
    static T dummy{};
    if (h) dlclose(h);
    return p ? *p : dummy;
}

using Hooks = test::JobTest;

TEST_F(Hooks, VhookLoadsConfiguresAndReleasesOnReset)
{
    job.ApplyOption("vhook", Plugin + " -a  one");
    EXPECT_TRUE(job.hooks_used);
    ASSERT_EQ(job.HookCount(), 1u);
    EXPECT_NE(job.Hooks().Entries()[0].Process, nullptr);
    EXPECT_NE(job.Hooks().Entries()[0].ctx, nullptr);
    EXPECT_EQ(Symbol<int>(Plugin, "hook_last_argc"), 3) << "empty words are skipped";
    const int released = Symbol<int>(Plugin, "hook_release_calls");
    job.Reset();
    EXPECT_EQ(Symbol<int>(Plugin, "hook_release_calls"), released + 1);
    EXPECT_EQ(job.HookCount(), 0u);
    EXPECT_FALSE(job.hooks_used);
}

TEST_F(Hooks, BarSeparatedWordsAndAtMost63)
{
    std::string line = Plugin;
    for (int i = 1; i < 70; ++i) line += "|w" + std::to_string(i);
    job.ApplyOption("vhook", line);
    EXPECT_EQ(Symbol<int>(Plugin, "hook_last_argc"), 63);
    EXPECT_STREQ(&Symbol<char>(Plugin, "hook_last_arg"), "w62");
}

TEST_F(Hooks, RefusalsLeaveHooksUnused)
{
    const std::string text = "Failed to add video hook function: ";
    EXPECT_EQ(Refusal("vhook", ""), text);
    EXPECT_EQ(Refusal("vhook", "/nonexistent/hook.so"), text + "/nonexistent/hook.so");
    EXPECT_EQ(Refusal("vhook", Plugin + " fail"), text + Plugin + " fail");
    const std::string noProcess = PluginDir + "libjob_hook_noprocess.so";
    EXPECT_EQ(Refusal("vhook", noProcess), text + noProcess);
    EXPECT_FALSE(job.hooks_used);
    EXPECT_EQ(job.HookCount(), 0u);
}

TEST_F(Hooks, PluginResults)
{
    TFrameHookList list;
    EXPECT_EQ(list.AddPluginHook({}), HOOK_BAD_ARGUMENTS);
    EXPECT_EQ(list.AddPluginHook({"/nonexistent/hook.so"}), HOOK_NOT_LOADABLE);
    EXPECT_EQ(list.AddPluginHook({PluginDir + "libjob_hook_noprocess.so"}), HOOK_BAD_ARGUMENTS);
    const std::string noConfigure = PluginDir + "libjob_hook_noconfigure.so";
    EXPECT_EQ(list.AddPluginHook({noConfigure, "x"}), HOOK_BAD_ARGUMENTS);
    EXPECT_EQ(list.AddPluginHook({noConfigure}), HOOK_OK) << "Configure is needed only with arguments";
    EXPECT_EQ(list.AddPluginHook({Plugin, "fail"}), HOOK_CONFIGURE_FAILED);
    EXPECT_EQ(list.AddPluginHook({Plugin}), HOOK_OK);
    EXPECT_EQ(list.Count(), 2u);
    std::string error;
    EXPECT_EQ(LoadHookModule(Plugin, error), LoadHookModule(Plugin, error)) << "loaded once per process";
}

}  // namespace
}  // namespace quorlane
