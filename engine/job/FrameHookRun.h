// Running the frame hooks on each decoded picture: the custom hook (the picture as a 24-bit
// bitmap handed to a callback and taken back), and the plug-in hooks of option "vhook", whose
// turn is decided by a before-hook callback or by a list of time ranges. A failing hook stops
// hooking for the rest of the job, never the run.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "Bitmap.h"
#include "EntryPoints.h"
#include "FFUtils.h"

namespace quorlane {

class TCustomFFmpeg;
class TFrameHookList;

// Stored as a 32-bit value.
enum THookAction : int32_t { haContinue = 0, haIgnore = 1, haStop = 2 };

// A time range in which the plug-in hooks run, µs.
struct THookRange {
    int64_t start = 0;
    int64_t end = 0;
};

// callback(job, picture time, var action)
using TBeforeHookCallback = std::function<void(TCustomFFmpeg* job, int64_t pts, THookAction& action)>;
// callback(job, bitmap, frame number, picture time, var update, var stop)
using TCustomHookCallback = std::function<void(TCustomFFmpeg* job, TBitmap* bitmap, int frameNumber,
                                               int64_t pts, bool& update, bool& stop)>;

enum class TChosenHook { None, Custom, Plugins };

// The hook state of one job. Used on the job's thread only (the callbacks are set before the
// run starts).
class TFrameHookRunner {
public:
    // `owner` is handed to the callbacks as their job argument.
    explicit TFrameHookRunner(TCustomFFmpeg* owner = nullptr) : owner_(owner) {}
    TFrameHookRunner(const TFrameHookRunner&) = delete;
    TFrameHookRunner& operator=(const TFrameHookRunner&) = delete;

    void SetOwner(TCustomFFmpeg* owner) { owner_ = owner; }
    void SetBeforeHook(TBeforeHookCallback callback) { beforeHook_ = std::move(callback); }
    void SetCustomHook(TCustomHookCallback callback) { customHook_ = std::move(callback); }
    // The set-up refuses "-vcodec copy" while a custom hook is assigned.
    bool HasCustomHook() const { return static_cast<bool>(customHook_); }
    bool HasBeforeHook() const { return static_cast<bool>(beforeHook_); }

    // Copies the ranges and sorts them by end time; the search starts again at the first.
    void SetHookRanges(const THookRange* ranges, int count);
    // The job's reset: no ranges, search at 0, hook_action := haContinue. Callbacks stay.
    void Reset();
    // Decides which hook runs for a picture at `pts` (µs); may clear `hooksUsed` (the job's
    // hooks_used) when hooking stops.
    TChosenHook Decide(bool& hooksUsed, int64_t pts);

    // Once per decoded picture, before any output stream sees it (and before the filter graph).
    // Decides and, when a hook runs, makes `picture` writable (av_frame_make_writable: a picture
    // the decoder still references is copied into a buffer of the picture's own, so decoding is
    // never disturbed) and runs the hook on it in place. `pts` is the input stream's pts (µs),
    // `frameNumber` the pipeline's hook_frame_count (already incremented for this picture),
    // `plugins` the job's "vhook" list (may be null), `converter` the job's hook converter.
    void Apply(AVFrame* picture, int64_t pts, int frameNumber, bool& hooksUsed, const TFrameHookList* plugins,
               FrameBitmapConverter& converter);

    // Runs the custom hook / the plug-in hooks on a writable picture.
    void RunCustomHook(AVFrame* picture, int64_t pts, int frameNumber, bool& hooksUsed,
                       FrameBitmapConverter& converter);
    static void RunPluginHooks(const TFrameHookList& plugins, AVFrame* picture, int64_t pts);

    THookAction hook_action = haContinue;
    int range_count = 0;
    int current_range = 0;
    const std::vector<THookRange>& Ranges() const { return ranges_; }

private:
    void StopHooking(bool& hooksUsed);

    TCustomFFmpeg* owner_ = nullptr;
    TBeforeHookCallback beforeHook_;
    TCustomHookCallback customHook_;
    std::vector<THookRange> ranges_;
};

// The picture preparation's call with the job's own fields: hooks_used, the "vhook" list and
// the hook converter.
void RunFrameHooks(TCustomFFmpeg& job, TFrameHookRunner& runner, AVFrame* picture, int64_t pts, int frameNumber);

}  // namespace quorlane
