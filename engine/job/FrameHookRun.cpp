#include "FrameHookRun.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <string>

#include "FFmpeg.h"
#include "FFmpegLogger.h"
#include "FrameHook.h"

namespace quorlane {
namespace {

std::string ExceptionText(std::exception_ptr error)
{
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& e) {
        return e.what();
    } catch (...) {
        return "unknown exception";
    }
}

TPicture PictureOf(const AVFrame* frame)
{
    TPicture p;
    for (int i = 0; i < 4; ++i) {
        p.data[i] = frame->data[i];
        p.linesize[i] = frame->linesize[i];
    }
    return p;
}

}  // namespace

void TFrameHookRunner::SetHookRanges(const THookRange* ranges, int count)
{
    ranges_.assign(ranges, ranges + (count > 0 && ranges ? count : 0));
    std::stable_sort(ranges_.begin(), ranges_.end(),
                     [](const THookRange& a, const THookRange& b) { return a.end < b.end; });
    range_count = static_cast<int>(ranges_.size());
    current_range = 0;
}

void TFrameHookRunner::Reset()
{
    ranges_.clear();
    range_count = 0;
    current_range = 0;
    hook_action = haContinue;
}

TChosenHook TFrameHookRunner::Decide(bool& hooksUsed, int64_t pts)
{
    if (!customHook_ && hooksUsed) {
        if (beforeHook_) {
            try {
                beforeHook_(owner_, pts, hook_action);
            } catch (...) {
                LogMessage(owner_, llError, "Error occurs OnBeforeHook: " + ExceptionText(std::current_exception()));
                hook_action = haStop;
            }
            if (hook_action == haStop) hooksUsed = false;
        } else if (range_count > 0) {
            hook_action = haIgnore;
            for (int i = current_range; i < range_count; ++i) {
                if (ranges_[i].start <= pts && pts <= ranges_[i].end) {
                    current_range = i;
                    hook_action = haContinue;
                    break;
                }
                if (i == range_count - 1 && ranges_[i].end < pts) {
                    hook_action = haStop;
                    hooksUsed = false;
                }
            }
        }
    }
    if (customHook_) return TChosenHook::Custom;
    if (hooksUsed && hook_action == haContinue) return TChosenHook::Plugins;
    return TChosenHook::None;
}

void TFrameHookRunner::Apply(AVFrame* picture, int64_t pts, int frameNumber, bool& hooksUsed,
                             const TFrameHookList* plugins, FrameBitmapConverter& converter)
{
    const TChosenHook chosen = Decide(hooksUsed, pts);
    if (chosen == TChosenHook::None || !picture) return;
    if (chosen == TChosenHook::Plugins && (!plugins || plugins->Empty())) return;
    if (ff::av_frame_make_writable(picture) < 0) {
        LogMessage(owner_, llError, "hook buf malloc error.");
        return;
    }
    if (chosen == TChosenHook::Custom)
        RunCustomHook(picture, pts, frameNumber, hooksUsed, converter);
    else
        RunPluginHooks(*plugins, picture, pts);
}

void TFrameHookRunner::RunCustomHook(AVFrame* picture, int64_t pts, int frameNumber, bool& hooksUsed,
                                     FrameBitmapConverter& converter)
{
    const int width = picture->width;
    const int height = picture->height;
    const TPicture source = PictureOf(picture);
    if (!ConvertToBitmap(converter, source, picture->format, height, width)) {
        LogMessage(owner_, llError, "Cannot initialize the toRGB conversion context");
        StopHooking(hooksUsed);
        return;
    }
    TBitmap* bitmap = converter.bitmap.get();
    bool update = true;
    bool stop = false;
    {
        std::lock_guard canvas(bitmap->Canvas());
        try {
            customHook_(owner_, bitmap, frameNumber, pts, update, stop);
        } catch (...) {
            LogMessage(owner_, llError, "Error occurs OnCustomHook: " + ExceptionText(std::current_exception()));
            update = false;
        }
        if (update) {
            // Back into the RGB picture (or straight into the picture when it is RGB itself). The
            // callback may have resized the bitmap: copy only what both have.
            const TPicture& rgb = converter.current;
            const int rows = std::min(height, bitmap->Height());
            for (int r = 0; r < rows; ++r) {
                const int bytes = std::min(rgb.linesize[0], bitmap->RowBytes());
                if (bytes > 0)
                    std::memcpy(rgb.data[0] + static_cast<ptrdiff_t>(r) * rgb.linesize[0], bitmap->ScanLine(r),
                                static_cast<size_t>(bytes));
            }
        }
    }
    if (update && picture->format != converter.target_pixel_format) {
        converter.from_bitmap = ff::sws_getCachedContext(
            converter.from_bitmap, width, height, static_cast<AVPixelFormat>(converter.target_pixel_format), width,
            height, static_cast<AVPixelFormat>(picture->format), SWS_BICUBIC, nullptr, nullptr, nullptr);
        if (!converter.from_bitmap) {
            LogMessage(owner_, llError, "Cannot initialize the fromRGB conversion context");
            stop = true;
        } else {
            ff::sws_scale(converter.from_bitmap, converter.current.data, converter.current.linesize, 0, height,
                          picture->data, picture->linesize);
        }
    }
    if (stop) StopHooking(hooksUsed);
}

void TFrameHookRunner::RunPluginHooks(const TFrameHookList& plugins, AVFrame* picture, int64_t pts)
{
    for (const THookEntry& entry : plugins.Entries()) {
        HookPicture p;
        for (int i = 0; i < 4; ++i) {
            p.data[i] = picture->data[i];
            p.linesize[i] = picture->linesize[i];
        }
        entry.Process(entry.ctx, &p, picture->format, picture->width, picture->height, pts);
    }
}

void TFrameHookRunner::StopHooking(bool& hooksUsed)
{
    customHook_ = nullptr;
    hook_action = haStop;
    hooksUsed = false;
}

void RunFrameHooks(TCustomFFmpeg& job, TFrameHookRunner& runner, AVFrame* picture, int64_t pts, int frameNumber)
{
    runner.Apply(picture, pts, frameNumber, job.hooks_used, &job.Hooks(), job.HookConverter);
}

}  // namespace quorlane
