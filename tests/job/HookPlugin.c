/* A frame-hook plug-in for the tests, built in three variants:
 *   default            Configure, Process and Release
 *   HOOK_NO_PROCESS    lacks Process
 *   HOOK_NO_CONFIGURE  lacks Configure
 * Configure fails when its first argument is "fail"; the exported counters let tests see calls. */
#include <string.h>

__attribute__((visibility("default"))) int hook_configure_calls = 0;
__attribute__((visibility("default"))) int hook_release_calls = 0;
__attribute__((visibility("default"))) int hook_last_argc = 0;
__attribute__((visibility("default"))) char hook_last_arg[64] = "";

#ifndef HOOK_NO_CONFIGURE
typedef struct { int configured; } Context;
static Context context;

__attribute__((visibility("default"))) int Configure(void** ctxp, int argc, char* argv[], int last)
{
    (void)last;
    ++hook_configure_calls;
    hook_last_argc = argc;
    strncpy(hook_last_arg, argv[argc - 1], sizeof hook_last_arg - 1);
    if (argc > 1 && strcmp(argv[1], "fail") == 0) return -1;
    context.configured = 1;
    *ctxp = &context;
    return 0;
}
#endif

#ifndef HOOK_NO_PROCESS
__attribute__((visibility("default"))) void Process(void* ctx, void* picture, int fmt, int w, int h, long long pts)
{
    (void)ctx; (void)picture; (void)fmt; (void)w; (void)h; (void)pts;
}
#endif

__attribute__((visibility("default"))) void Release(void* ctx)
{
    (void)ctx;
    ++hook_release_calls;
}
