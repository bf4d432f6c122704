// The filter chain, two-pass encoding, frame hooks and the previewer inside real conversions of
// generated clips: through the job, through the engine component and through quorlane-cli.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>

#include "FFmpeg.h"
#include "Fixtures.h"
#include "MainThread.h"
#include "MyUtils.h"
#include "RunTestSupport.h"
#include "TestSupport.h"
#include "Transkit.h"

namespace quorlane {
namespace {

namespace fs = std::filesystem;
using test::DecodedOutput;
using test::DecodeOutput;

std::string Plugin(const char* name) { return std::string(QUORLANE_PLUGIN_DIR) + "/lib" + name + ".so"; }

const std::string kPadText =
    "Cannot enable pad options and the filters which resize frame at the same time. (crop, rotate, scale, "
    "transpose, etc.)";

struct Region {
    int x, y, w, h;
};

// Mean absolute difference of planes a and b (both `width` wide) over a region; with `invert` b's
// values are inverted (255 - v) first, with `mirror` b is flipped left to right.
double Difference(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b, int width, Region r,
                  bool invert = false, bool mirror = false)
{
    if (a.size() != b.size() || a.empty()) return 1e9;
    double sum = 0;
    for (int y = r.y; y < r.y + r.h; ++y)
        for (int x = r.x; x < r.x + r.w; ++x) {
            int v = b[static_cast<size_t>(y) * width + (mirror ? width - 1 - x : x)];
            if (invert) v = 255 - v;
            sum += std::abs(a[static_cast<size_t>(y) * width + x] - v);
        }
    return sum / (r.w * r.h);
}

double RegionMean(const std::vector<uint8_t>& plane, int width, Region r)
{
    double sum = 0;
    for (int y = r.y; y < r.y + r.h; ++y)
        for (int x = r.x; x < r.x + r.w; ++x) sum += plane[static_cast<size_t>(y) * width + x];
    return sum / (r.w * r.h);
}

const Region kWhole160{0, 0, 160, 120};

// Whether the 160x120 picture `hooked` is `plain` with its luma inverted.
bool Inverted(const std::vector<uint8_t>& hooked, const std::vector<uint8_t>& plain)
{
    const double inverted = Difference(hooked, plain, 160, kWhole160, true);
    return inverted < 12.0 && inverted < Difference(hooked, plain, 160, kWhole160);
}

class RunFeatures : public ::testing::Test {
protected:
    void SetUp() override { fixtures::LoadLibraries(); }
    void TearDown() override { SetPreviewWindowFactory(nullptr); }

    // 160x120 at 25 pictures per second, video only.
    std::string Clip(double seconds = 1.0, const std::string& name = "clip.avi")
    {
        fixtures::ClipSpec clipSpec = fixtures::VideoOnlyClip();
        clipSpec.seconds = seconds;
        clipSpec.name = name;
        return fixtures::MakeClip(dir.str(), clipSpec);
    }

    // Runs a job made of `words`; answers the refusal text, empty on success.
    static std::string Convert(const std::string& words)
    {
        TCustomFFmpeg job;
        return test::ConvertWords(job, words);
    }

    static TOutputOptions FlvOptions()
    {
        TOutputOptions o;
        o.VideoCodec = "flv";
        o.AudioCodec = "libmp3lame";
        o.FrameSize = "160x120";
        o.VideoBitrate = 800000;
        o.FrameRate = "25";
        o.AudioSampleRate = 22050;
        o.AudioChannels = 1;
        return o;
    }

    // Converts `clip` with one task of a component that `prepare` set up; answers the end event's
    // (finished, message).
    std::pair<bool, std::string> RunTask(TTranskit& kit, const std::string& clip, const std::string& out,
                                         TOutputOptions options, bool async = false)
    {
        std::atomic<bool> ended{false};
        bool finished = false;
        std::string message;
        kit.OnTerminate = [&](int index, bool f, bool, const std::string& m) {
            if (index >= 0) {
                finished = f;
                message = m;
            } else {
                ended = true;
            }
        };
        EXPECT_EQ(kit.QueueTask(SystemToWide(clip)), 0) << kit.LastErrorMessage();
        EXPECT_TRUE(kit.SetTaskOutput(0, SystemToWide(out), &options)) << kit.LastErrorMessage();
        if (TFFmpeg* task = kit.Tasks().Get(0)) task->PreviewInterval = 0;  // every picture
        kit.StartTasks(async ? 1 : 0);
        WaitServingMainThread([&] { return ended.load(); });
        kit.ClearTaskList();
        return {finished, message};
    }

    test::TempDir dir;
};

// The done-when chain: the picture comes out mirrored with a red box, at the asked size, with
// every picture and its time.
TEST_F(RunFeatures, FilterChainFlipsAndDrawsIntoTheOutput)
{
    const std::string in = Clip();
    const std::string plain = dir.file("plain.flv"), filtered = dir.file("filtered.flv");
    const std::string common = " -an -s 320x240 -b 2000000 -vcodec flv ";
    ASSERT_EQ(Convert("-i " + in + common + plain), "");
    ASSERT_EQ(Convert("-i " + in + " -vfilters hflip,drawbox=x=10:y=10:w=50:h=50:color=red:t=fill" + common + filtered),
              "");
    const DecodedOutput a = DecodeOutput(plain), b = DecodeOutput(filtered);
    ASSERT_EQ(b.width, 320);
    ASSERT_EQ(b.height, 240);
    EXPECT_EQ(b.videoFrames, a.videoFrames);
    // Below the box the filtered picture is the plain one mirrored.
    const Region lower{0, 80, 320, 160};
    EXPECT_LT(Difference(b.firstLuma, a.firstLuma, 320, lower, false, true), 8.0);
    EXPECT_GT(Difference(b.firstLuma, a.firstLuma, 320, lower), 20.0);
    // Inside the box the chroma is red's: Cr high, Cb low.
    ASSERT_EQ(b.firstCr.size(), 160u * 120u);
    const Region box{10, 10, 15, 15};  // chroma samples of the 50x50 box at (10, 10)
    EXPECT_GT(RegionMean(b.firstCr, 160, box), 200.0);
    EXPECT_LT(RegionMean(b.firstCb, 160, box), 110.0);
}

// Refusals of the chain with their texts (the refused output is deleted), and the sizes the
// encoder takes from a chain.
TEST_F(RunFeatures, FilterRefusalsAndTheFilteredSize)
{
    const std::string in = Clip(0.4);
    struct Case {
        const char* name;
        std::string options;
        std::string error;  // empty: converts
        int width, height;
    };
    const Case cases[] = {
        {"crop with filters", "-vfilters hflip -croptop 8", "Cannot enable crop options and filters at the same time.", 0, 0},
        {"resizing chain, pad, other size", "-vfilters pad=400:300 -padtop 8 -s 320x240",
         "Error opening filters: " + kPadText, 0, 0},
        {"description the library rejects", "-vfilters drawbox=x=", "Error opening filters!", 0, 0},
        {"unknown filter", "-vfilters hflip,nosuchfilter", "Error opening filters!", 0, 0},
        {"resizing chain without pad: encoder takes it", "-vfilters pad=400:300 -s 320x240", "", 400, 300},
        {"pad bands around a size-keeping chain", "-vfilters hflip -s 320x240 -padtop 8 -padbottom 8", "", 320, 256},
        {"sizes match: the chain alone", "-vfilters vflip", "", 160, 120},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string out = dir.file(Format("case%d.flv", n++));
        EXPECT_EQ(Convert("-i " + in + " -an -vcodec flv " + c.options + " " + out), c.error);
        if (!c.error.empty()) {
            EXPECT_FALSE(fs::exists(out));
            continue;
        }
        const DecodedOutput d = DecodeOutput(out);
        EXPECT_EQ(d.width, c.width);
        EXPECT_EQ(d.height, c.height);
        EXPECT_EQ(d.videoFrames, 10);
        if (c.height == 256) {  // the pad bands keep the pad colour (black)
            EXPECT_LT(RegionMean(d.firstLuma, 320, Region{0, 0, 320, 6}), 24.0);
            EXPECT_LT(RegionMean(d.firstLuma, 320, Region{0, 250, 320, 6}), 24.0);
        }
    }
}

// Deinterlaced pictures lie in a work buffer the next picture overwrites: a filter that holds
// every picture ("reverse") still gives each its own pixels.
TEST_F(RunFeatures, FiltersThatHoldPicturesKeepDeinterlacedPixels)
{
    const std::string in = Clip(0.4);
    const std::string plain = dir.file("plain.flv"), reversed = dir.file("reversed.flv");
    const std::string common = " -an -deinterlace -b 2000000 -vcodec flv ";
    ASSERT_EQ(Convert("-i " + in + common + plain), "");
    ASSERT_EQ(Convert("-i " + in + " -vfilters reverse" + common + reversed), "");
    const DecodedOutput a = DecodeOutput(plain), b = DecodeOutput(reversed);
    ASSERT_EQ(a.videoFrames, 10);
    ASSERT_EQ(b.videoFrames, 10);
    for (int i = 0; i < 10; ++i) EXPECT_LT(Difference(b.lumas[i], a.lumas[9 - i], 160, kWhole160), 6.0) << i;
}

// Pass 1 writes one log per encoded video stream; pass 2 reads it and lands closer to the target
// than one pass does. The refusals leave no output, and a pass 2 the encoder cannot open is an
// ordinary failure, not the end of the process.
TEST_F(RunFeatures, TwoPassRunsBothPassesAndLandsCloserToTheTarget)
{
    const std::string in = Clip(4.0);
    const std::string prefix = dir.file("stats");
    const int64_t target = 120000;  // bit/s
    const std::string common = Format(" -an -s 160x120 -vcodec flv -b %lld ", static_cast<long long>(target));
    const std::string one = dir.file("one.flv"), first = dir.file("pass1.flv"), second = dir.file("pass2.flv");
    ASSERT_EQ(Convert("-i " + in + common + one), "");
    ASSERT_EQ(Convert("-i " + in + common + "-pass 1 -passlogfile " + prefix + " " + first + " " + dir.file("pass1b.flv")),
              "");
    ASSERT_GT(fs::file_size(prefix + "-0.log"), 0u);
    ASSERT_GT(fs::file_size(prefix + "-1.log"), 0u);  // the second output's video stream
    ASSERT_EQ(Convert("-i " + in + common + "-pass 2 -passlogfile " + prefix + " " + second), "");
    EXPECT_EQ(DecodeOutput(second).videoFrames, DecodeOutput(one).videoFrames);

    const double wanted = target / 8.0 * 4.0;  // bytes of 4 s
    const double onePass = static_cast<double>(fs::file_size(one));
    const double twoPass = static_cast<double>(fs::file_size(second));
    EXPECT_LT(std::abs(twoPass - wanted), std::abs(onePass - wanted)) << onePass << " " << twoPass << " " << wanted;

    struct Case {
        const char* name;
        std::string options;
        std::string error;
    };
    const Case refusals[] = {
        {"pass 2 without its log", "-b 120000 -pass 2 -passlogfile " + dir.file("none"),
         "Cannot read log file " + dir.file("none") + "-0.log for pass-2 encoding"},
        {"a log folder that cannot be written", "-b 120000 -pass 1 -passlogfile " + dir.file("no/such/folder/x"),
         "Cannot write log file " + dir.file("no/such/folder/x") + "-0.log for pass-1 encoding"},
        {"a target the logged content cannot meet", "-b 1000 -pass 2 -passlogfile " + prefix,
         "Error while opening encoder for output stream #0.0 (Video) - maybe incorrect parameters such as bit_rate, "
         "rate, width or height"},
    };
    for (const Case& c : refusals) {
        SCOPED_TRACE(c.name);
        const std::string out = dir.file("refused.flv");
        EXPECT_EQ(Convert("-i " + in + " -an -s 160x120 -vcodec flv " + c.options + " " + out), c.error);
        EXPECT_FALSE(fs::exists(out));
    }
}

// A "vhook" plug-in inverts its rectangle of every picture, before the picture is scaled.
TEST_F(RunFeatures, PluginHookChangesEveryPicture)
{
    const std::string in = Clip(0.4);
    const std::string plain = dir.file("plain.flv"), hooked = dir.file("hooked.flv");
    const std::string common = " -an -b 2000000 -vcodec flv ";
    ASSERT_EQ(Convert("-i " + in + common + plain), "");
    ASSERT_EQ(Convert("-i " + in + " -vhook " + Plugin("quorlane_invert_rect") + "|0|0|80|60" + common + hooked), "");
    const DecodedOutput a = DecodeOutput(plain), b = DecodeOutput(hooked);
    ASSERT_EQ(a.videoFrames, 10);
    ASSERT_EQ(b.videoFrames, 10);
    for (int i = 0; i < 10; ++i) {
        SCOPED_TRACE(i);
        const Region inside{4, 4, 72, 52}, outside{84, 64, 72, 52};
        EXPECT_LT(Difference(b.lumas[i], a.lumas[i], 160, inside, true), 8.0);
        EXPECT_LT(Difference(b.lumas[i], a.lumas[i], 160, outside), 4.0);
    }
}

// Through the component: time ranges choose the pictures the plug-ins see (hooking stops after
// the last range); a before-hook decides instead, and one that throws stops hooking while the
// task finishes; a custom hook paints the bitmap until it asks to stop.
TEST_F(RunFeatures, ComponentHooksDecidePerPicture)
{
    const std::string in = Clip(1.0);
    const std::string plainOut = dir.file("plain.flv");
    {
        TTranskit kit;
        ASSERT_TRUE(RunTask(kit, in, plainOut, FlvOptions()).first);
    }
    const DecodedOutput plain = DecodeOutput(plainOut);
    ASSERT_EQ(plain.videoFrames, 25);

    // Ranges: 0-400 ms covers pictures 0 to 10.
    {
        TTranskit kit;
        TOutputOptions o = FlvOptions();
        o.HookRanges = "0-400";
        o.ExtraOptions = "vhook=" + Plugin("quorlane_invert_all");
        const std::string out = dir.file("ranges.flv");
        ASSERT_TRUE(RunTask(kit, in, out, o).first);
        const DecodedOutput d = DecodeOutput(out);
        ASSERT_EQ(d.videoFrames, 25);
        for (int i = 0; i < 25; ++i) EXPECT_EQ(Inverted(d.lumas[i], plain.lumas[i]), i <= 10) << i;
    }

    // A before-hook: the first three pictures, then it throws.
    {
        TTranskit kit;
        std::atomic<int> calls{0};
        kit.OnBeforeHook = [&](int, int64_t, THookAction& action) {
            if (++calls == 4) throw std::runtime_error("no more");
            action = haContinue;
        };
        TOutputOptions o = FlvOptions();
        o.UseBeforeHook = true;
        o.ExtraOptions = "vhook=" + Plugin("quorlane_invert_all");
        const std::string out = dir.file("before.flv");
        const auto [finished, message] = RunTask(kit, in, out, o, true);
        ASSERT_TRUE(finished) << message;
        EXPECT_EQ(calls.load(), 4);
        const DecodedOutput d = DecodeOutput(out);
        ASSERT_EQ(d.videoFrames, 25);
        for (int i = 0; i < 25; ++i) EXPECT_EQ(Inverted(d.lumas[i], plain.lumas[i]), i < 3) << i;
    }

    // A custom hook: white pictures until the fifth call asks to stop.
    {
        TTranskit kit;
        std::vector<int> frameNumbers;
        std::vector<int64_t> times;
        kit.OnCustomHook = [&](int, TBitmap* bitmap, int frameNumber, int64_t pts, bool& update, bool& stop) {
            frameNumbers.push_back(frameNumber);
            times.push_back(pts);
            for (int r = 0; r < bitmap->Height(); ++r) std::memset(bitmap->ScanLine(r), 255, bitmap->RowBytes());
            update = true;
            stop = frameNumbers.size() == 5;
        };
        TOutputOptions o = FlvOptions();
        o.UseCustomHook = true;
        const std::string out = dir.file("custom.flv");
        ASSERT_TRUE(RunTask(kit, in, out, o).first);
        EXPECT_EQ(frameNumbers, (std::vector<int>{1, 2, 3, 4, 5}));
        EXPECT_EQ(times, (std::vector<int64_t>{0, 40000, 80000, 120000, 160000}));
        const DecodedOutput d = DecodeOutput(out);
        ASSERT_EQ(d.videoFrames, 25);
        for (int i = 0; i < 25; ++i) {
            if (i < 5)
                EXPECT_GT(RegionMean(d.lumas[i], 160, kWhole160), 225.0) << i;
            else
                EXPECT_LT(Difference(d.lumas[i], plain.lumas[i], 160, kWhole160), 6.0) << i;
        }
    }
}

// Preview bitmaps of the encoded pictures reach OnPreviewBitmap on the main thread with the
// encoder's size and time; a preview window gets pictures until the user closes it, and the
// conversion goes on.
TEST_F(RunFeatures, PreviewDeliversEncodedPictures)
{
    const std::string in = Clip(1.0);
    {
        TTranskit kit;
        kit.SetPreviewBitmap(true);
        std::vector<int64_t> times;
        std::vector<int> frames;
        bool offMain = false, sized = true;
        kit.OnPreviewBitmap = [&](int index, TBitmap* bitmap, int frameNumber, int64_t pts) {
            offMain = offMain || !IsMainThread() || index != 0;
            sized = sized && bitmap->Width() == 320 && bitmap->Height() == 240;
            frames.push_back(frameNumber);
            times.push_back(pts);
        };
        TOutputOptions o = FlvOptions();
        o.FrameSize = "320x240";
        ASSERT_TRUE(RunTask(kit, in, dir.file("bitmaps.flv"), o, true).first);
        EXPECT_FALSE(offMain);
        EXPECT_TRUE(sized);
        ASSERT_EQ(times.size(), 25u);
        for (size_t i = 0; i < times.size(); ++i) {
            EXPECT_EQ(times[i], static_cast<int64_t>(i) * 40000);
            EXPECT_EQ(frames[i], static_cast<int>(i) + 1);
        }
    }
    {
        struct Window : TPreviewWindow {
            std::atomic<int>& shown;
            std::function<void()> closed;
            Window(std::atomic<int>& s, std::function<void()> c) : shown(s), closed(std::move(c)) {}
            void ShowPicture(const TBitmap&, const std::string&) override
            {
                if (++shown == 3) closed();  // the user closes the window
            }
        };
        std::atomic<int> shown{0}, windows{0};
        SetPreviewWindowFactory([&](std::function<void()> closed) {
            ++windows;
            return std::make_unique<Window>(shown, std::move(closed));
        });
        TTranskit kit;
        kit.SetPreview(true);
        const auto [finished, message] = RunTask(kit, in, dir.file("window.flv"), FlvOptions(), true);
        EXPECT_TRUE(finished) << message;
        EXPECT_EQ(shown.load(), 3);
        EXPECT_EQ(windows.load(), 1);
    }
}

// The command line: "job" with a filter chain and "convert --snapshots" with viewable pictures.
TEST_F(RunFeatures, CommandLineFiltersAndSnapshots)
{
    const std::string in = Clip(1.0);
    const std::string cli = QUORLANE_CLI;
    const std::string out = dir.file("cli.flv");
    auto job = test::RunCommand(cli + " job -i " + in +
                                " -vfilters \"hflip,drawbox=x=10:y=10:w=50:h=50:color=red\" -s 320x240 -vcodec flv " + out +
                                " 2>&1");
    ASSERT_EQ(job.status, 0) << job.out;
    EXPECT_EQ(DecodeOutput(out).width, 320);

    auto bad = test::RunCommand(cli + " job -i " + in + " -vfilters nosuchfilter -vcodec flv " + dir.file("bad.flv") + " 2>&1");
    EXPECT_EQ(bad.status, 1);
    EXPECT_NE(bad.out.find("Error opening filters!"), std::string::npos) << bad.out;

    for (const char* format : {"png", "bmp"}) {
        SCOPED_TRACE(format);
        const std::string snaps = dir.file(Format("snaps-%s", format));
        auto convert = test::RunCommand(cli + " convert --out " + dir.file(Format("out-%s", format)) + " --snapshots " +
                                        snaps + " --snapshot-every 1 --snapshot-format " + format +
                                        " --set FrameSize=200x150 --set VideoFilters=vflip " + in + " 2>&1");
        // (200 pixels wide: 600-byte rows, which the bitmap converter once overran.)
        ASSERT_EQ(convert.status, 0) << convert.out;
        const std::string first = snaps + Format("/clip-000001.%s", format);
        std::ifstream file(first, std::ios::binary);
        ASSERT_TRUE(file) << convert.out;
        std::vector<uint8_t> head(32);
        file.read(reinterpret_cast<char*>(head.data()), 32);
        auto be32 = [&](int at) { return head[at] << 24 | head[at + 1] << 16 | head[at + 2] << 8 | head[at + 3]; };
        auto le32 = [&](int at) { return head[at] | head[at + 1] << 8 | head[at + 2] << 16 | head[at + 3] << 24; };
        if (std::string(format) == "png") {
            EXPECT_EQ(std::string(head.begin() + 1, head.begin() + 4), "PNG");
            EXPECT_EQ(be32(16), 200);  // IHDR width, height
            EXPECT_EQ(be32(20), 150);
        } else {
            EXPECT_EQ(std::string(head.begin(), head.begin() + 2), "BM");
            EXPECT_EQ(le32(18), 200);
            EXPECT_EQ(le32(22), 150);
        }
        EXPECT_TRUE(fs::exists(snaps + Format("/clip-000002.%s", format)));
        EXPECT_NE(convert.out.find("snapshots as"), std::string::npos) << convert.out;
    }
}

}  // namespace
}  // namespace quorlane
