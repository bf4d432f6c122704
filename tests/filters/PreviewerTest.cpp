// The conversion previewer: captions, the interval, the callback and window paths, and that the
// preview lock is never held while the worker waits for the main thread.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "MainThread.h"
#include "PictureFactory.h"
#include "job/Previewer.h"

namespace quorlane {
namespace {

using test::ConverterLibrariesTest;
using test::FramePtr;

TEST(PreviewTimeText, Captions)
{
    struct Case {
        int64_t pts;
        const char* text;
    };
    const Case cases[] = {
        {3723500000LL, "01:02:03.500"},
        {AV_NOPTS_VALUE, "N/A"},
        {0, "00:00:00.000"},
        {59999999, "00:00:59.999"},
        {100LL * 3600 * 1000000, "100:00:00.000"},
    };
    for (const Case& c : cases) EXPECT_EQ(PreviewTimeText(c.pts), c.text) << c.pts;
}

// A preview window that records what it was asked to do, and on which thread.
struct WindowLog {
    std::atomic<int> created{0};
    std::atomic<int> destroyed{0};
    std::atomic<int> shown{0};
    std::atomic<bool> offMainThread{false};
    std::vector<std::string> captions;  // written on the main thread only
    int closeAfter = -1;                // the user closes the window after this many pictures
};

class RecordingWindow : public TPreviewWindow {
public:
    RecordingWindow(WindowLog& log, std::function<void()> onClosed) : log_(log), onClosed_(std::move(onClosed))
    {
        log_.created++;
        if (!IsMainThread()) log_.offMainThread = true;
    }
    ~RecordingWindow() override
    {
        log_.destroyed++;
        if (!IsMainThread()) log_.offMainThread = true;
    }
    void ShowPicture(const TBitmap& bitmap, const std::string& caption) override
    {
        if (!IsMainThread()) log_.offMainThread = true;
        EXPECT_EQ(bitmap.Width(), 64);
        log_.captions.push_back(caption);
        if (++log_.shown == log_.closeAfter) onClosed_();
    }

private:
    WindowLog& log_;
    std::function<void()> onClosed_;
};

class PreviewTest : public ConverterLibrariesTest {
protected:
    void SetUp() override
    {
        ConverterLibrariesTest::SetUp();
        SetPreviewWindowFactory([this](std::function<void()> onClosed) {
            return std::make_unique<RecordingWindow>(window_, std::move(onClosed));
        });
        preview_.SetClock([this] { return now_.load(); });
    }
    void TearDown() override { SetPreviewWindowFactory(nullptr); }

    // Offers `count` pictures encoded at 25 per second in real time (the clock moves 40 ms per
    // picture), from a worker thread while this (main) thread serves the main-thread calls.
    void OfferPictures(int count)
    {
        std::atomic<bool> done{false};
        std::thread worker([&] {
            for (int n = 0; n < count; ++n) {
                FramePtr picture = test::MakeGradientPicture(64, 48, n);
                now_ += 40000;
                preview_.Offer(picture.get(), n, AVRational{1, 25}, n + 1, converter_);
            }
            done = true;
        });
        WaitServingMainThread([&] { return done.load(); });
        worker.join();
    }

    WindowLog window_;
    std::atomic<int64_t> now_{1000000};
    FrameBitmapConverter converter_;
    TConversionPreview preview_;
};

TEST_F(PreviewTest, BitmapCallbackGetsEveryThirdPictureAndNoWindowOpens)
{
    std::vector<int> frames;
    std::vector<int64_t> times;
    preview_.SetPreviewBitmapCallback([&](TCustomFFmpeg*, TBitmap* bitmap, int frameNumber, int64_t pts) {
        EXPECT_EQ(bitmap->Width(), 64);
        EXPECT_EQ(bitmap->Height(), 48);
        frames.push_back(frameNumber);
        times.push_back(pts);
    });
    preview_.SetPreviewFlags(PREVIEW_WINDOW | PREVIEW_BITMAP);
    OfferPictures(12);
    EXPECT_EQ(frames, (std::vector<int>{1, 4, 7, 10}));
    EXPECT_EQ(times, (std::vector<int64_t>{0, 120000, 240000, 360000}));
    EXPECT_EQ(window_.created, 0);
    EXPECT_EQ(preview_.PreviewFlags(), PREVIEW_WINDOW | PREVIEW_BITMAP);
}

TEST_F(PreviewTest, WindowShowsOnTheMainThreadAndClosingStopsThePreview)
{
    window_.closeAfter = 2;
    preview_.SetPreviewFlags(PREVIEW_WINDOW);
    OfferPictures(12);
    // Shown: pictures 1 and 4; the user closed the window at the second; the third shown
    // picture finds it closed, so bit 0 goes and the window with it.
    EXPECT_EQ(window_.created, 1);
    EXPECT_EQ(window_.shown, 2);
    EXPECT_EQ(window_.captions, (std::vector<std::string>{"00:00:00.000", "00:00:00.120"}));
    EXPECT_EQ(window_.destroyed, 1);
    EXPECT_FALSE(window_.offMainThread);
    EXPECT_EQ(preview_.PreviewFlags(), 0);
}

TEST_F(PreviewTest, TheMainThreadChangesTheFlagsWhileAWorkerWaitsForIt)
{
    // The callback hands over to the main thread (as the engine component does) and the main
    // thread, meanwhile, changes the preview flags under the preview lock.
    int delivered = 0;
    preview_.SetPreviewBitmapCallback([&](TCustomFFmpeg*, TBitmap*, int, int64_t) {
        CallInMainThread([&] {
            ++delivered;
            preview_.ChangePreviewFlag(PREVIEW_WINDOW, true);
            if (delivered == 2) preview_.ChangePreviewFlag(PREVIEW_BITMAP, false);
        });
    });
    preview_.SetPreviewFlags(PREVIEW_BITMAP);
    OfferPictures(12);
    EXPECT_EQ(delivered, 2);
    // After the bitmap bit went, the window took over for the rest.
    EXPECT_EQ(preview_.PreviewFlags(), PREVIEW_WINDOW);
    EXPECT_EQ(window_.created, 1);
    EXPECT_EQ(window_.shown, 2);
    preview_.SetPreviewFlags(0);
    EXPECT_EQ(window_.destroyed, 1);
}

TEST_F(PreviewTest, WithoutAWindowImplementationTheWindowBitShowsNothing)
{
    SetPreviewWindowFactory(nullptr);
    preview_.SetPreviewFlags(PREVIEW_WINDOW);
    OfferPictures(6);
    EXPECT_EQ(window_.created, 0);
    EXPECT_EQ(preview_.PreviewFlags(), PREVIEW_WINDOW);
}

}  // namespace
}  // namespace quorlane
