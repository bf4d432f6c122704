// The conversion previewer: while a job encodes video, at most one picture per PreviewInterval
// is shown in a small preview window (flag bit 0) or handed as a 24-bit bitmap to a callback
// (bit 1; when both are set and a callback is wired, only the callback gets pictures).
//
// Locks. PreviewLock() (process-wide) guards every job's preview flags, last preview time and
// previewer pointer; it is never held while waiting for the main thread, because the main
// thread takes it to change the flags. Workers serialise the delivery itself (conversion,
// callback, window update) with a second process-wide lock that the main thread never takes.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "Bitmap.h"
#include "EntryPoints.h"
#include "FFUtils.h"

namespace quorlane {

class TCustomFFmpeg;

inline constexpr int PREVIEW_WINDOW = 1;  // bit 0
inline constexpr int PREVIEW_BITMAP = 2;  // bit 1

// The process-wide preview lock.
std::mutex& PreviewLock();

// "01:02:03.500" for 3723500000 µs (hours not limited to 24); "N/A" for AV_NOPTS_VALUE.
std::string PreviewTimeText(int64_t pts);

// The preview window, implemented by the windowed program: a stay-on-top tool window with only
// a close box, centred on the screen, whose client area takes the first bitmap's size, and that
// moves when dragged anywhere inside. Every call comes on the main thread.
class TPreviewWindow {
public:
    virtual ~TPreviewWindow() = default;
    // Shows the picture with the caption. The bitmap is only valid during the call: copy what
    // is needed for repainting (or hold its canvas lock while reading it later).
    virtual void ShowPicture(const TBitmap& bitmap, const std::string& caption) = 0;
};

// Creates a window on the main thread; the window calls onClosed (on the main thread) when the
// user closes it.
using TPreviewWindowFactory = std::function<std::unique_ptr<TPreviewWindow>(std::function<void()> onClosed)>;
// Installed once by the windowed program; without one (command line) bit 0 shows nothing.
void SetPreviewWindowFactory(TPreviewWindowFactory factory);
bool HasPreviewWindowFactory();

// One job's preview window.
class TPreviewer {
public:
    TPreviewer() = default;
    TPreviewer(const TPreviewer&) = delete;
    TPreviewer& operator=(const TPreviewer&) = delete;
    // The window goes on the main thread (waiting for it when called elsewhere).
    ~TPreviewer();

    // Worker thread: false once the user closed the window; otherwise shows the picture on the
    // main thread, waits for it and answers true.
    bool Update(const TBitmap& bitmap, int frameNumber, int64_t pts);
    bool Closed() const { return closed_.load(); }

private:
    void Show(const TBitmap& bitmap, int64_t pts);  // main thread

    std::unique_ptr<TPreviewWindow> window_;  // created and destroyed on the main thread
    std::atomic<bool> closed_{false};         // set by the window on the main thread
    int frameNumber_ = 0;
    int64_t pts_ = AV_NOPTS_VALUE;
};

// callback(job, bitmap, frame number, picture time in µs)
using TPreviewBitmapCallback =
    std::function<void(TCustomFFmpeg* job, TBitmap* bitmap, int frameNumber, int64_t pts)>;

// The preview state of one job.
class TConversionPreview {
public:
    explicit TConversionPreview(TCustomFFmpeg* owner = nullptr) : owner_(owner) {}
    TConversionPreview(const TConversionPreview&) = delete;
    TConversionPreview& operator=(const TConversionPreview&) = delete;
    ~TConversionPreview() { Release(); }

    void SetOwner(TCustomFFmpeg* owner) { owner_ = owner; }
    // Set before the run starts (the engine component wires its DoPreviewBitmap here).
    void SetPreviewBitmapCallback(TPreviewBitmapCallback callback) { callback_ = std::move(callback); }

    // Any thread, under the preview lock. When bit 0 goes from set to clear the previewer is
    // freed (its window closes).
    void SetPreviewFlags(int flags);
    int PreviewFlags() const;
    // Sets or clears only the given bits (the component's Preview / PreviewBitmap properties).
    void ChangePreviewFlag(int bit, bool set);

    // Least time between two shown pictures, µs (the job's PreviewInterval).
    void SetPreviewInterval(int64_t interval);
    // The wall clock in µs; replaceable for tests.
    void SetClock(std::function<int64_t()> clock) { clock_ = std::move(clock); }

    // The video output's call for every encoded picture while PreviewFlags() is not 0: `picture`
    // is the picture handed to the encoder (encoder's size and pixel format), `pts` the encoded
    // packet's time in `timeBase` (AV_NOPTS_VALUE when it has none), `frameNumber` the
    // pipeline's hook_frame_count, `converter` the job's preview converter. An exception of the
    // callback reaches the caller (it ends the run like any other failure of the video output).
    void Offer(const AVFrame* picture, int64_t pts, AVRational timeBase, int frameNumber,
               FrameBitmapConverter& converter);

    // The job's release routine and reset: the previewer goes, the flags and the last preview
    // time stay as they are (the defaults routine clears the flags with SetPreviewFlags(0)).
    void Release();

private:
    enum class Mode { None, Bitmap, Window };

    TCustomFFmpeg* owner_ = nullptr;
    TPreviewBitmapCallback callback_;  // set before the run; read on the job's thread
    std::function<int64_t()> clock_;
    // Guarded by PreviewLock():
    int flags_ = 0;
    int64_t interval_ = 100000;
    int64_t lastPreviewTime_ = 0;
    std::shared_ptr<TPreviewer> previewer_;
};

}  // namespace quorlane
