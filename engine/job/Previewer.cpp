#include "Previewer.h"

#include <chrono>

#include "FFmpegLogger.h"
#include "MainThread.h"
#include "MyUtils.h"

namespace quorlane {
namespace {

// Serialises the delivery of previews of all jobs (conversion, callback, window update). Taken
// only by workers, so waiting for the main thread while holding it cannot block the main thread.
std::mutex& PreviewDeliveryLock()
{
    static std::mutex lock;
    return lock;
}

struct WindowFactory {
    std::mutex lock;  // guards factory
    TPreviewWindowFactory factory;
};

WindowFactory& Factory()
{
    static WindowFactory f;
    return f;
}

int64_t SteadyMicroseconds()
{
    return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace

std::mutex& PreviewLock()
{
    static std::mutex lock;
    return lock;
}

std::string PreviewTimeText(int64_t pts)
{
    if (pts == AV_NOPTS_VALUE) return "N/A";
    const int64_t seconds = pts / 1000000;
    return Format("%.2d:%.2d:%.2d.%.3d", static_cast<int>(seconds / 60 / 60), static_cast<int>(seconds / 60 % 60),
                  static_cast<int>(seconds % 60), static_cast<int>((pts % 1000000) * 1000 / 1000000));
}

void SetPreviewWindowFactory(TPreviewWindowFactory factory)
{
    WindowFactory& f = Factory();
    std::lock_guard guard(f.lock);
    f.factory = std::move(factory);
}

bool HasPreviewWindowFactory()
{
    WindowFactory& f = Factory();
    std::lock_guard guard(f.lock);
    return static_cast<bool>(f.factory);
}

// ---- TPreviewer ----

TPreviewer::~TPreviewer()
{
    if (window_) CallInMainThread([this] { window_.reset(); });
}

bool TPreviewer::Update(const TBitmap& bitmap, int frameNumber, int64_t pts)
{
    if (closed_.load()) return false;
    frameNumber_ = frameNumber;
    pts_ = pts;
    CallInMainThread([&] { Show(bitmap, pts); });
    return true;
}

void TPreviewer::Show(const TBitmap& bitmap, int64_t pts)
{
    if (closed_.load()) return;
    if (!window_) {
        TPreviewWindowFactory factory;
        {
            WindowFactory& f = Factory();
            std::lock_guard guard(f.lock);
            factory = f.factory;
        }
        if (!factory) return;
        window_ = factory([this] { closed_.store(true); });
        if (!window_) return;
    }
    window_->ShowPicture(bitmap, PreviewTimeText(pts));
}

// ---- TConversionPreview ----

void TConversionPreview::SetPreviewFlags(int flags)
{
    std::shared_ptr<TPreviewer> gone;
    {
        std::lock_guard guard(PreviewLock());
        if ((flags_ & PREVIEW_WINDOW) && !(flags & PREVIEW_WINDOW)) gone = std::move(previewer_);
        flags_ = flags;
    }
    // The window is closed outside the lock: closing waits for the main thread.
}

int TConversionPreview::PreviewFlags() const
{
    std::lock_guard guard(PreviewLock());
    return flags_;
}

void TConversionPreview::ChangePreviewFlag(int bit, bool set)
{
    std::shared_ptr<TPreviewer> gone;
    {
        std::lock_guard guard(PreviewLock());
        const int flags = set ? (flags_ | bit) : (flags_ & ~bit);
        if ((flags_ & PREVIEW_WINDOW) && !(flags & PREVIEW_WINDOW)) gone = std::move(previewer_);
        flags_ = flags;
    }
}

void TConversionPreview::SetPreviewInterval(int64_t interval)
{
    std::lock_guard guard(PreviewLock());
    interval_ = interval;
}

void TConversionPreview::Offer(const AVFrame* picture, int64_t pts, AVRational timeBase, int frameNumber,
                               FrameBitmapConverter& converter)
{
    if (!picture) return;
    std::unique_lock delivery(PreviewDeliveryLock(), std::defer_lock);
    if (!IsMainThread()) delivery.lock();

    Mode mode = Mode::None;
    std::shared_ptr<TPreviewer> previewer;
    {
        std::lock_guard guard(PreviewLock());
        if ((flags_ & PREVIEW_BITMAP) && callback_)
            mode = Mode::Bitmap;
        else if (flags_ & PREVIEW_WINDOW)
            mode = Mode::Window;
        if (mode == Mode::None) return;
        const int64_t now = clock_ ? clock_() : SteadyMicroseconds();
        if (now - lastPreviewTime_ <= interval_) return;
        lastPreviewTime_ = now;
        if (mode == Mode::Window) {
            if (!HasPreviewWindowFactory()) return;  // nowhere to show it
            if (!previewer_) previewer_ = std::make_shared<TPreviewer>();
            previewer = previewer_;
        }
    }

    const int clearBit = mode == Mode::Bitmap ? PREVIEW_BITMAP : PREVIEW_WINDOW;
    TPicture source;
    for (int i = 0; i < 4; ++i) {
        source.data[i] = picture->data[i];
        source.linesize[i] = picture->linesize[i];
    }
    bool keep = ConvertToBitmap(converter, source, picture->format, picture->height, picture->width);
    if (!keep) {
        LogMessage(owner_, llError, "Cannot initialize the toRGB conversion context");
    } else {
        const int64_t time = pts == AV_NOPTS_VALUE ? AV_NOPTS_VALUE : ff::av_rescale_q(pts, timeBase, AV_TIME_BASE_Q);
        if (mode == Mode::Bitmap) {
            callback_(owner_, converter.bitmap.get(), frameNumber, time);
        } else {
            keep = previewer->Update(*converter.bitmap, frameNumber, time);
        }
    }
    previewer.reset();
    // Only the bit this offer gave up is cleared: the flags may have changed meanwhile.
    if (!keep) ChangePreviewFlag(clearBit, false);
}

void TConversionPreview::Release()
{
    std::shared_ptr<TPreviewer> gone;
    {
        std::lock_guard guard(PreviewLock());
        gone = std::move(previewer_);
    }
}

}  // namespace quorlane
