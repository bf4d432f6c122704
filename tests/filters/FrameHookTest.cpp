// Frame hooks: the decision by ranges and before-hook, the custom hook's bitmap round trip and
// the project's own plug-ins run end to end.
#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>
#include <vector>

#include "PictureFactory.h"
#include "job/FrameHook.h"
#include "job/FrameHookRun.h"

namespace quorlane {
namespace {

using test::ConverterLibrariesTest;
using test::FramePtr;

constexpr int64_t S = 1000000;  // one second in µs

TEST(FrameHookDecision, RangesAreSortedAndSearchedFromTheCurrentOne)
{
    struct Step {
        int64_t pts;
        TChosenHook chosen;
        bool hooksUsedAfter;
    };
    struct Case {
        const char* name;
        std::vector<Step> steps;
    };
    const Case cases[] = {
        {"7, 15, 25 and 7 again",
         {{7 * S, TChosenHook::Plugins, true},
          {15 * S, TChosenHook::None, true},
          {25 * S, TChosenHook::Plugins, true},
          {7 * S, TChosenHook::None, true}}},
        {"past the last range stops hooking for good",
         {{7 * S, TChosenHook::Plugins, true},
          {31 * S, TChosenHook::None, false},
          {7 * S, TChosenHook::None, false},
          {25 * S, TChosenHook::None, false}}},
        {"range ends are inclusive", {{5 * S, TChosenHook::Plugins, true}, {30 * S, TChosenHook::Plugins, true}}},
    };
    // Given out of order: the runner sorts them by end time.
    const THookRange ranges[] = {{20 * S, 30 * S}, {5 * S, 10 * S}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TFrameHookRunner runner;
        runner.SetHookRanges(ranges, 2);
        ASSERT_EQ(runner.range_count, 2);
        EXPECT_EQ(runner.Ranges()[0].end, 10 * S);
        bool hooksUsed = true;
        for (const Step& s : c.steps) {
            EXPECT_EQ(runner.Decide(hooksUsed, s.pts), s.chosen) << s.pts;
            EXPECT_EQ(hooksUsed, s.hooksUsedAfter) << s.pts;
        }
    }
}

TEST(FrameHookDecision, BeforeHookDecidesAndAThrowingOneStopsHooking)
{
    struct Case {
        const char* name;
        std::vector<THookAction> answers;  // what the callback answers, picture by picture
        bool throwAtLast;
        std::vector<TChosenHook> expected;
        int calls;  // how often the callback ran
    };
    const Case cases[] = {
        {"continue, ignore, continue", {haContinue, haIgnore, haContinue}, false,
         {TChosenHook::Plugins, TChosenHook::None, TChosenHook::Plugins}, 3},
        {"stop ends hooking", {haStop, haContinue, haContinue}, false,
         {TChosenHook::None, TChosenHook::None, TChosenHook::None}, 1},
        {"an exception ends hooking", {haContinue, haContinue, haContinue}, true,
         {TChosenHook::Plugins, TChosenHook::None, TChosenHook::None}, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TFrameHookRunner runner;
        int calls = 0;
        runner.SetBeforeHook([&](TCustomFFmpeg*, int64_t pts, THookAction& action) {
            EXPECT_EQ(pts, calls * S);
            ++calls;
            if (c.throwAtLast && calls == 2) throw std::runtime_error("boom");
            action = c.answers[calls - 1];
        });
        // Ranges are not consulted while a before-hook is set.
        const THookRange none[] = {{100 * S, 101 * S}};
        runner.SetHookRanges(none, 1);
        bool hooksUsed = true;
        std::vector<TChosenHook> chosen;
        for (int i = 0; i < 3; ++i) chosen.push_back(runner.Decide(hooksUsed, i * S));
        EXPECT_EQ(chosen, c.expected);
        EXPECT_EQ(calls, c.calls);
    }
}

class FrameHookPicture : public ConverterLibrariesTest {
protected:
    // The decoder keeps its own reference to the picture it returned.
    void SetUp() override
    {
        ConverterLibrariesTest::SetUp();
        decoded_ = test::MakeGradientPicture(64, 48);
        decoderRef_.reset(ff::av_frame_alloc());
        ASSERT_GE(ff::av_frame_ref(decoderRef_.get(), decoded_.get()), 0);
        original_.assign(decoded_->data[0], decoded_->data[0] + decoded_->linesize[0] * 48);
    }
    std::vector<uint8_t> Luma(const AVFrame* f) const
    {
        return std::vector<uint8_t>(f->data[0], f->data[0] + f->linesize[0] * 48);
    }
    FramePtr decoded_, decoderRef_;
    std::vector<uint8_t> original_;
};

TEST_F(FrameHookPicture, CustomHookEditsTheBitmapOrLeavesThePictureAlone)
{
    struct Case {
        const char* name;
        bool update;
        bool stop;
        bool raise;
        bool changed;       // picture painted white
        int callsAfterTwo;  // callback calls after two pictures
        bool hooksUsedAfter;
    };
    const Case cases[] = {
        {"update", true, false, false, true, 2, true},
        {"update false leaves the picture", false, false, false, false, 2, true},
        {"stop is never called again", true, true, false, true, 1, false},
        {"an exception keeps the picture and hooking", true, false, true, false, 2, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        TFrameHookRunner runner;
        FrameBitmapConverter converter;
        int calls = 0;
        runner.SetCustomHook([&](TCustomFFmpeg*, TBitmap* bitmap, int frameNumber, int64_t pts, bool& update,
                                 bool& stop) {
            ++calls;
            EXPECT_EQ(frameNumber, 40 + calls);
            EXPECT_EQ(pts, calls * S);
            ASSERT_EQ(bitmap->Width(), 64);
            ASSERT_EQ(bitmap->Height(), 48);
            for (int r = 0; r < bitmap->Height(); ++r) std::memset(bitmap->ScanLine(r), 255, bitmap->RowBytes());
            if (c.raise) throw std::runtime_error("boom");
            update = c.update;
            stop = c.stop;
        });
        bool hooksUsed = true;
        runner.Apply(decoded_.get(), 1 * S, 41, hooksUsed, nullptr, converter);
        if (c.changed) {
            EXPECT_GT(test::LumaAt(decoded_.get(), 0, 0), 230);
            EXPECT_GT(test::LumaAt(decoded_.get(), 63, 47), 230);
            EXPECT_NEAR(test::CbAt(decoded_.get(), 10, 10), 128, 3);
        } else {
            EXPECT_EQ(Luma(decoded_.get()), original_);
        }
        // The decoder's own buffer is never written.
        EXPECT_EQ(Luma(decoderRef_.get()), original_);
        FramePtr next = test::MakeGradientPicture(64, 48, 1);
        runner.Apply(next.get(), 2 * S, 42, hooksUsed, nullptr, converter);
        EXPECT_EQ(calls, c.callsAfterTwo);
        EXPECT_EQ(hooksUsed, c.hooksUsedAfter);
        EXPECT_EQ(runner.HasCustomHook(), !c.stop);
    }
}

std::string Plugin(const char* name) { return std::string(QUORLANE_PLUGIN_DIR) + "/lib" + name + ".so"; }

TEST_F(FrameHookPicture, PluginsLoadConfigureAndProcessInListOrder)
{
    struct Case {
        const char* name;
        std::vector<std::string> args;
        int result;
    };
    const Case adds[] = {
        {"missing library", {Plugin("no_such_plugin")}, HOOK_NOT_LOADABLE},
        {"no arguments at all", {}, HOOK_BAD_ARGUMENTS},
        {"arguments without Configure", {Plugin("quorlane_invert_all"), "1"}, HOOK_BAD_ARGUMENTS},
        {"Configure refuses", {Plugin("quorlane_invert_rect"), "0", "0", "0", "0"}, HOOK_CONFIGURE_FAILED},
        {"first rectangle", {Plugin("quorlane_invert_rect"), "0", "0", "16", "16"}, HOOK_OK},
        {"same library, second context", {Plugin("quorlane_invert_rect"), "8", "8", "16", "16"}, HOOK_OK},
    };
    TFrameHookList plugins;
    for (const Case& c : adds) EXPECT_EQ(plugins.AddPluginHook(c.args), c.result) << c.name;
    ASSERT_EQ(plugins.Count(), 2u);
    EXPECT_NE(plugins.Entries()[0].ctx, plugins.Entries()[1].ctx);

    TFrameHookRunner runner;
    FrameBitmapConverter converter;
    bool hooksUsed = true;
    runner.Apply(decoded_.get(), 0, 1, hooksUsed, &plugins, converter);
    struct Pixel {
        int x, y;
        bool inverted;
    };
    const Pixel pixels[] = {{4, 4, true}, {12, 12, false}, {20, 20, true}, {40, 40, false}};
    for (const Pixel& p : pixels) {
        const uint8_t was = original_[p.y * decoded_->linesize[0] + p.x];
        EXPECT_EQ(test::LumaAt(decoded_.get(), p.x, p.y), p.inverted ? 255 - was : was) << p.x << "," << p.y;
    }
    EXPECT_EQ(Luma(decoderRef_.get()), original_);

    // Without "Configure" and without arguments the library is accepted and works on the whole
    // picture.
    TFrameHookList whole;
    ASSERT_EQ(whole.AddPluginHook({Plugin("quorlane_invert_all")}), HOOK_OK);
    FramePtr next = test::MakeGradientPicture(64, 48);
    runner.Apply(next.get(), 0, 2, hooksUsed, &whole, converter);
    EXPECT_EQ(test::LumaAt(next.get(), 0, 0), 255);
    EXPECT_EQ(test::LumaAt(next.get(), 63, 0), 0);
}

}  // namespace
}  // namespace quorlane
