// Target presets, the cases that need no opened input.
#include "JobTestSupport.h"

namespace quorlane {
namespace {

using Targets = test::JobTest;

int64_t VideoOption(TCustomFFmpeg& job, const char* name)
{
    int64_t v = -1;
    ff::av_opt_get_int(job.Contexts().codec[0], name, 0, &v);
    return v;
}

TEST_F(Targets, PalDvd)
{
    test::LogCapture log;
    job.ApplyOption("target", "pal-dvd");
    EXPECT_EQ(Field("video_codec"), "\"mpeg2video\"");
    EXPECT_EQ(Field("audio_codec"), "\"ac3\"");
    EXPECT_EQ(Field("output_format"), "\"dvd\"");
    EXPECT_EQ(job.frame_width, 720);
    EXPECT_EQ(job.frame_height, 576);
    EXPECT_EQ(Field("frame_rate"), "25/1");
    EXPECT_EQ(VideoOption(job, "g"), 15);
    EXPECT_EQ(VideoOption(job, "b"), 6000000);
    EXPECT_EQ(VideoOption(job, "maxrate"), 9000000);
    EXPECT_EQ(VideoOption(job, "bufsize"), 1835008);
    EXPECT_EQ(job.sample_rate, 48000);
    EXPECT_EQ(job.channels, 2);
    EXPECT_EQ(Field("option_names"),
              "[\"g\", \"b\", \"maxrate\", \"minrate\", \"bufsize\", \"packetsize\", \"ab\"]");
    EXPECT_EQ(Field("format_private_options"), "[\"muxrate=10080000\"]");
    EXPECT_NEAR(job.aspect_ratio, 16.0 / 9.0, 1e-9);
    EXPECT_TRUE(log.Contains("Assuming 16:9 for aspect ratio"));
    EXPECT_FALSE(log.Contains("for target."));
}

TEST_F(Targets, NtscVcdOrderAndValues)
{
    job.ApplyOption("target", "ntsc-vcd");
    EXPECT_EQ(job.frame_width, 352);
    EXPECT_EQ(job.frame_height, 240);
    EXPECT_EQ(Field("frame_rate"), "30000/1001");
    EXPECT_EQ(VideoOption(job, "g"), 18);
    EXPECT_EQ(VideoOption(job, "minrate"), 1150000);
    EXPECT_EQ(job.sample_rate, 44100);
    EXPECT_DOUBLE_EQ(job.mux_preload, 0.44);
    EXPECT_EQ(Field("option_names"),
              "[\"g\", \"b\", \"maxrate\", \"minrate\", \"bufsize\", \"ab\", \"packetsize\"]");
    EXPECT_EQ(Field("format_private_options"), "[\"muxrate=1411200\"]");
    EXPECT_NEAR(job.aspect_ratio, 4.0 / 3.0, 1e-9);
}

TEST_F(Targets, SvcdScanOffsetIsMpeg2videoPrivateAndMonoBecomesStereo)
{
    job.ApplyOption("ac", "1");
    job.ApplyOption("target", "pal-svcd");
    EXPECT_EQ(job.frame_width, 480);
    EXPECT_EQ(job.frame_height, 576);
    EXPECT_EQ(job.channels, 2);
    EXPECT_EQ(Field("video_private_options"), "[\"scan_offset=1\"]");
}

TEST_F(Targets, FilmDv50)
{
    job.ApplyOption("target", "film-dv50");
    EXPECT_EQ(Field("frame_rate"), "24000/1001");
    EXPECT_EQ(job.frame_width, 720);
    EXPECT_EQ(job.frame_height, 480);
    EXPECT_EQ(job.pixel_format, AV_PIX_FMT_YUV422P);
    EXPECT_EQ(Field("output_format"), "\"dv\"");
    EXPECT_EQ(Field("video_codec"), "none");
}

TEST_F(Targets, DvPixelFormatFollowsTheNorm)
{
    job.ApplyOption("target", "pal-dv");
    EXPECT_EQ(job.pixel_format, AV_PIX_FMT_YUV420P);
    job.ApplyOption("target", "ntsc-dv");
    EXPECT_EQ(job.pixel_format, AV_PIX_FMT_YUV411P);
}

TEST_F(Targets, DetectionNeedsAFrameRate)
{
    EXPECT_EQ(Refusal("target", "dvd"), "frame_rate is invalid.");
}

TEST_F(Targets, DetectsNtscFromTheJobsFrameRate)
{
    job.ApplyOption("r", "30000/1001");
    test::LogCapture log;
    job.ApplyOption("target", "dvd");
    EXPECT_TRUE(log.Contains("Assuming NTSC for target."));
    EXPECT_EQ(job.frame_height, 480);
    EXPECT_EQ(VideoOption(job, "g"), 18);
}

TEST_F(Targets, UndetectedRateUsesTheFallbackNorm)
{
    job.ApplyOption("r", "25/2");
    {
        test::LogCapture log;
        job.ApplyOption("target", "vcd");  // the option's fallback is NTSC
        EXPECT_TRUE(log.Contains("Assuming NTSC for target."));
        EXPECT_EQ(job.frame_height, 240);
    }
    job.ApplyOption("r", "25/2");
    test::LogCapture log;
    job.SetTarget("vcd", "auto", "pal");
    EXPECT_TRUE(log.Contains("Assuming PAL for target."));
    EXPECT_EQ(job.frame_height, 288);
}

TEST_F(Targets, NoNormMessageAtVerbosityZero)
{
    job.ApplyOption("v", "0");
    job.ApplyOption("r", "25");
    test::LogCapture log;
    job.ApplyOption("target", "dv");
    EXPECT_FALSE(log.Contains("for target."));
    EXPECT_EQ(job.frame_height, 576);
}

TEST_F(Targets, KindsAreCaseSensitive)
{
    EXPECT_EQ(Refusal("target", "pal-VCD"), "Unknown target type");
    EXPECT_EQ(Field("output_format"), "none");
}

TEST_F(Targets, UnknownKindAfterTheNormMessage)
{
    job.ApplyOption("r", "25");
    test::LogCapture log;
    EXPECT_EQ(Refusal("target", "vhs"), "Unknown target type");
    EXPECT_TRUE(log.Contains("Assuming PAL for target."));
}

TEST_F(Targets, AKnownAspectRatioIsKept)
{
    job.ApplyOption("aspect", "4:3");
    test::LogCapture log;
    job.ApplyOption("target", "pal-dvd");
    EXPECT_NEAR(job.aspect_ratio, 4.0 / 3.0, 1e-9);
    EXPECT_FALSE(log.Contains("aspect ratio"));
}

TEST_F(Targets, LaterOptionsOverrideTheTarget)
{
    job.ApplyOption("target", "pal-dvd");
    job.ApplyOption("s", "352x288");
    job.ApplyOption("b", "1000000");
    EXPECT_EQ(job.frame_width, 352);
    EXPECT_EQ(VideoOption(job, "b"), 1000000);
}

TEST_F(Targets, NoOpenedInputDetectsNothing) { EXPECT_EQ(job.DetectTargetNorm(), ""); }

}  // namespace
}  // namespace quorlane
