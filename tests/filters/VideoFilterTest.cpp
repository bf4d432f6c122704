// The "vfilters" graph over pictures made in memory.
#include <gtest/gtest.h>

#include <cstdlib>

#include "PictureFactory.h"
#include "job/FFmpeg.h"
#include "job/VideoFilter.h"

namespace quorlane {
namespace {

using test::ConverterLibrariesTest;
using test::FramePtr;

const std::string kCropText = "Cannot enable crop options and filters at the same time.";
const std::string kPadText =
    "Cannot enable pad options and the filters which resize frame at the same time. (crop, rotate, scale, "
    "transpose, etc.)";

TVideoFilterSource Source(int w, int h)
{
    TVideoFilterSource s;
    s.width = w;
    s.height = h;
    s.pix_fmt = AV_PIX_FMT_YUV420P;
    s.time_base = AVRational{1, AV_TIME_BASE};
    s.sample_aspect_ratio = AVRational{1, 1};
    return s;
}

using VideoFilterBuild = ConverterLibrariesTest;

TEST_F(VideoFilterBuild, RefusalsSizesAndScaleInsertion)
{
    struct Case {
        const char* name;
        std::string chain;
        int crop;               // crop_left
        int pad;                // each pad band
        int frameW, frameH;     // requested size
        int encW, encH;         // encoder size in
        int result;
        std::string error;      // expected errorText ("" = untouched)
        int outW, outH;         // encoder size out
        bool scale;
    };
    const Case cases[] = {
        {"crop with filters", "hflip", 8, 0, 64, 48, 64, 48, -1, kCropText, 64, 48, false},
        {"resizing chain, pad, other frame size", "scale=32:24", 0, 2, 64, 48, 68, 52, -1, kPadText, 68, 52, false},
        {"resizing chain without pad: encoder takes it", "scale=32:24", 0, 0, 64, 48, 64, 48, 0, "", 32, 24, false},
        {"pad with a size-keeping chain", "hflip", 0, 2, 64, 48, 68, 52, 0, "", 68, 52, false},
        {"sizes match: no scale", "hflip", 0, 0, 64, 48, 64, 48, 0, "", 64, 48, false},
        {"sizes differ: scale to the encoder", "hflip", 0, 0, 32, 24, 32, 24, 0, "", 32, 24, true},
        {"scale leaves room for pad", "", 0, 4, 32, 24, 40, 32, 0, "", 40, 32, true},
        {"description the library rejects", "drawbox=x=", 0, 0, 64, 48, 64, 48, -1, "", 64, 48, false},
        {"unknown filter", "hflip,nosuchfilter", 0, 0, 64, 48, 64, 48, -1, "", 64, 48, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TVideoFilterSettings s;
        s.chain = c.chain;
        s.crop_left = c.crop;
        s.pad_top = s.pad_bottom = s.pad_left = s.pad_right = c.pad;
        s.frame_width = c.frameW;
        s.frame_height = c.frameH;
        int w = c.encW, h = c.encH;
        std::string error;
        TVideoFilterGraph graph;
        EXPECT_EQ(graph.Build(Source(64, 48), s, AV_PIX_FMT_YUV420P, w, h, error), c.result);
        EXPECT_EQ(error, c.error);
        EXPECT_EQ(w, c.outW);
        EXPECT_EQ(h, c.outH);
        EXPECT_EQ(graph.Built(), c.result == 0);
        EXPECT_EQ(graph.ScaleInserted(), c.scale);
    }
}

using VideoFilterJob = ConverterLibrariesTest;

TEST_F(VideoFilterJob, SetUpTextsAndTheJobsScalerFlags)
{
    struct Case {
        const char* name;
        std::string chain;
        int cropTop;
        const char* swsFlags;  // "sws_flags" option value, nullptr = default
        std::string error;     // "" = builds
        int swsValue;
    };
    const Case cases[] = {
        {"crop refusal", "hflip", 4, nullptr, "Error opening filters: " + kCropText, SWS_BICUBIC},
        {"library refusal has no reason", "nosuchfilter", 0, nullptr, "Error opening filters!", SWS_BICUBIC},
        {"builds with the job's scaler flags", "hflip", 0, "bilinear", "", SWS_BILINEAR},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TCustomFFmpeg job;
        job.Reset();
        job.filter_chain = c.chain;
        job.crop_top = c.cropTop;
        job.ErrorText = "left over";
        if (c.swsFlags) {
            ASSERT_TRUE(job.SetDefaultOption("sws_flags", c.swsFlags));
        }
        EXPECT_EQ(VideoFilterSettingsFromJob(job).sws_flags, c.swsValue);
        test::CodecPtr decoder(ff::avcodec_alloc_context3(nullptr));
        test::CodecPtr encoder(ff::avcodec_alloc_context3(nullptr));
        decoder->width = 64;
        decoder->height = 48;
        decoder->pix_fmt = AV_PIX_FMT_YUV420P;
        encoder->width = 32;
        encoder->height = 24;
        encoder->pix_fmt = AV_PIX_FMT_YUV420P;
        TVideoFilterGraph graph;
        try {
            OpenVideoFilters(job, graph, decoder.get(), AVRational{1, AV_TIME_BASE}, encoder.get());
            EXPECT_EQ(c.error, "");
            EXPECT_TRUE(graph.ScaleInserted());
            EXPECT_EQ(encoder->width, 32);
        } catch (const FFmpegException& e) {
            EXPECT_EQ(e.what(), c.error);
        }
    }
}

using VideoFilterRun = ConverterLibrariesTest;

TEST_F(VideoFilterRun, FlipsDrawsTheBoxAndKeepsTheTimes)
{
    TVideoFilterSettings s;
    s.chain = "hflip,drawbox=x=10:y=10:w=20:h=20:color=red@1:t=fill";
    int w = 64, h = 48;
    std::string error;
    TVideoFilterGraph graph;
    ASSERT_EQ(graph.Build(Source(64, 48), s, AV_PIX_FMT_YUV420P, w, h, error), 0) << error;

    FramePtr out(ff::av_frame_alloc());
    std::vector<int64_t> times;
    auto check = [&] {
        times.push_back(out->pts);
        ASSERT_EQ(out->format, AV_PIX_FMT_YUV420P);
        // Flipped: the bright right edge is now on the left.
        EXPECT_GT(test::LumaAt(out.get(), 0, 40), 240);
        EXPECT_LT(test::LumaAt(out.get(), 63, 40), 15);
        // Red box: low Cb, high Cr inside; neutral outside.
        EXPECT_GT(test::CrAt(out.get(), 20, 20), 200);
        EXPECT_LT(test::CbAt(out.get(), 20, 20), 110);
        EXPECT_NEAR(test::CrAt(out.get(), 50, 40), 128, 2);
    };
    int r;
    for (int n = 0; n < 3; ++n) {
        FramePtr in = test::MakeGradientPicture(64, 48, n);
        const uint8_t before = test::LumaAt(in.get(), 0, 0);
        ASSERT_GE(graph.Push(in.get(), n * 40000, AVRational{1, 1}), 0);
        EXPECT_EQ(test::LumaAt(in.get(), 0, 0), before);  // the caller's picture is untouched
        while ((r = graph.Take(out.get())) == 1) check();
        ASSERT_EQ(r, 0);
    }
    ASSERT_GE(graph.PushEnd(), 0);
    while ((r = graph.Take(out.get())) == 1) check();
    EXPECT_EQ(r, AVERROR_EOF);
    EXPECT_EQ(times, (std::vector<int64_t>{0, 40000, 80000}));
}

TEST_F(VideoFilterRun, ConvertsToTheEncodersFormatAndRescalesTimesBack)
{
    struct Case {
        const char* name;
        std::string chain;
        AVPixelFormat encoderFormat;
    };
    const Case cases[] = {
        {"empty chain, other pixel format", "", AV_PIX_FMT_BGR24},
        {"chain with its own time base", "settb=1/1000", AV_PIX_FMT_YUV420P},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TVideoFilterSettings s;
        s.chain = c.chain;
        TVideoFilterSource src = Source(64, 48);
        src.time_base = AVRational{1, 25};
        int w = 64, h = 48;
        std::string error;
        TVideoFilterGraph graph;
        ASSERT_EQ(graph.Build(src, s, c.encoderFormat, w, h, error), 0);
        FramePtr out(ff::av_frame_alloc());
        std::vector<int64_t> times;
        for (int n = 0; n < 3; ++n) {
            FramePtr in = test::MakeGradientPicture(64, 48, n);
            ASSERT_GE(graph.Push(in.get(), n, AVRational{1, 1}), 0);
        }
        ASSERT_GE(graph.PushEnd(), 0);
        while (graph.Take(out.get()) == 1) {
            EXPECT_EQ(out->format, c.encoderFormat);
            times.push_back(out->pts);
        }
        EXPECT_EQ(times, (std::vector<int64_t>{0, 1, 2}));
    }
}

}  // namespace
}  // namespace quorlane
