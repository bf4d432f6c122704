// Conversions end to end: generated clips in, FLV/SWF/MKV out, checked with the project's own
// FLV and SWF parsers and by decoding the result again.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>

#include "FFmpeg.h"
#include "FFmpegLoader.h"
#include "FlvParser.h"
#include "Fixtures.h"
#include "MyUtils.h"
#include "RunTestSupport.h"
#include "SwfParser.h"
#include "TestSupport.h"

namespace quorlane {
namespace {

using test::DefaultPreset;
using test::Words;

class RunTest : public ::testing::Test {
protected:
    void SetUp() override { fixtures::LoadLibraries(); }

    // Runs a job made of `words` to its end; answers the refusal text, empty on success.
    std::string Convert(TCustomFFmpeg& job, const std::string& words) { return test::ConvertWords(job, words); }

    test::TempDir dir;
};

// Every generated container converts with the default settings into a correct FLV and SWF:
// right codecs, size, rate, channels, only the kinds of stream the input has, audio and video
// of the same length, and everything decodes again.
TEST_F(RunTest, ContainersConvertToFlvAndSwf)
{
    struct Case {
        const char* name;
        fixtures::ClipSpec clipSpec;
        bool video, audio;
    };
    const Case cases[] = {
        {"avi", fixtures::AviClip(), true, true},       {"mp4", fixtures::Mp4Clip(), true, true},
        {"mkv", fixtures::MkvClip(), true, true},       {"mov", fixtures::MovClip(), true, true},
        {"ts", fixtures::TsClip(), true, true},         {"asf", fixtures::AsfClip(), true, true},
        {"flv", fixtures::FlvClip(), true, true},       {"audio-only", fixtures::AudioOnlyClip(), false, true},
        {"video-only", fixtures::VideoOnlyClip(), true, false},
    };
    for (const Case& c : cases) {
        const std::string in = fixtures::MakeClip(dir.str(), c.clipSpec);
        for (const char* ext : {"flv", "swf"}) {
            SCOPED_TRACE(std::string(c.name) + " -> " + ext);
            const std::string out = dir.file(std::string(c.name) + "-out." + ext);
            TCustomFFmpeg job;
            ASSERT_EQ(Convert(job, "-i " + in + " " + DefaultPreset() + " " + out), "");
            EXPECT_TRUE(job.Finished);
            if (std::string(ext) == "flv") {
                const test::FlvFile flv = test::ParseFlvFile(out);
                ASSERT_TRUE(flv.ok()) << flv.errorText();
                EXPECT_EQ(flv.video.count > 0, c.video);
                EXPECT_EQ(flv.audio.count > 0, c.audio);
                if (c.video) {
                    EXPECT_EQ(flv.videoCodecId, test::kFlvCodecSorenson);
                    EXPECT_EQ(flv.width, 320);
                    EXPECT_EQ(flv.height, 240);
                }
                if (c.audio) {
                    EXPECT_EQ(flv.soundFormat, test::kFlvSoundMp3);
                    EXPECT_EQ(flv.mp3SampleRate, 22050);
                    EXPECT_EQ(flv.mp3Channels, 1);
                }
                // Both end on the file's one time line (the encoder's priming shifts the start).
                if (c.video && c.audio) {
                    EXPECT_NEAR(flv.video.firstMs + flv.videoDurationMs(), flv.audio.firstMs + flv.audioDurationMs(),
                                60.0);
                }
            } else {
                const test::SwfFile swf = test::ParseSwfFile(out);
                ASSERT_TRUE(swf.ok()) << swf.errorText();
                EXPECT_EQ(swf.videoStream, c.video);
                EXPECT_EQ(swf.soundHead, c.audio);
                if (c.video) {
                    EXPECT_EQ(swf.widthPixels(), 320);
                    EXPECT_EQ(swf.heightPixels(), 240);
                    EXPECT_DOUBLE_EQ(swf.frameRate, 25.0);
                }
                if (c.audio) {
                    EXPECT_EQ(swf.mp3SampleRate, 22050);
                    EXPECT_EQ(swf.mp3Channels, 1);
                }
                if (c.video && c.audio) {
                    EXPECT_NEAR(swf.durationMs(), swf.audioDurationMs(), 60.0);
                }
            }
            const test::DecodedOutput decoded = test::DecodeOutput(out);
            ASSERT_TRUE(decoded.opened);
            EXPECT_EQ(decoded.decodeErrors, 0);
            EXPECT_EQ(decoded.videoFrames > 0, c.video);
            EXPECT_EQ(decoded.audioSamples > 0, c.audio);
        }
    }
}

// With the default frame-rate keeping, FLV (a variable-rate format) only drops, SWF keeps 25 fps
// by dropping and duplicating.
TEST_F(RunTest, FrameRateFollowsVideoSync)
{
    struct Case {
        int fps;
        const char* ext;
        double outputFps;
    };
    const Case cases[] = {{15, "flv", 15}, {15, "swf", 25}, {30, "flv", 25}, {30, "swf", 25}};
    for (const Case& c : cases) {
        SCOPED_TRACE(Format("%d fps -> %s", c.fps, c.ext));
        fixtures::ClipSpec clipSpec = fixtures::VideoOnlyClip();
        clipSpec.name = Format("rate%d.avi", c.fps);
        clipSpec.fpsNum = c.fps;
        clipSpec.seconds = 2.0;
        const std::string in = fixtures::MakeClip(dir.str(), clipSpec);
        const std::string out = dir.file(Format("rate%d.%s", c.fps, c.ext));
        TCustomFFmpeg job;
        ASSERT_EQ(Convert(job, "-i " + in + " " + DefaultPreset() + " " + out), "");
        int frames = 0;
        if (std::string(c.ext) == "flv") {
            const test::FlvFile flv = test::ParseFlvFile(out);
            ASSERT_TRUE(flv.ok()) << flv.errorText();
            frames = flv.video.count;
        } else {
            const test::SwfFile swf = test::ParseSwfFile(out);
            ASSERT_TRUE(swf.ok()) << swf.errorText();
            frames = swf.videoFrames;
        }
        EXPECT_NEAR(frames, c.outputFps * clipSpec.seconds, 2);
    }
}

// "ss" and "t" trim to within one frame of the asked span.
TEST_F(RunTest, StartAndDurationTrim)
{
    fixtures::ClipSpec clipSpec = fixtures::AviClip();
    clipSpec.seconds = 2.0;
    const std::string in = fixtures::MakeClip(dir.str(), clipSpec);
    const std::string out = dir.file("trim.flv");
    TCustomFFmpeg job;
    ASSERT_EQ(Convert(job, "-i " + in + " " + DefaultPreset() + " -ss 0.5 -t 1 " + out), "");
    const test::FlvFile flv = test::ParseFlvFile(out);
    ASSERT_TRUE(flv.ok()) << flv.errorText();
    EXPECT_NEAR(flv.videoDurationMs(), 1000.0, 40.0);
    EXPECT_NEAR(flv.video.count, 25, 1);
    EXPECT_LE(flv.video.firstMs, 40);
}

double RowMean(const std::vector<uint8_t>& luma, int width, int row)
{
    double sum = 0;
    for (int x = 0; x < width; x++) sum += luma[static_cast<size_t>(row) * width + x];
    return sum / width;
}

// Padding letterboxes exactly the padded rows with the pad colour; cropping removes exactly
// the cropped rows (the picture lines up with the source's rows below the crop).
TEST_F(RunTest, PaddingAndCroppingRows)
{
    const std::string in = fixtures::MakeClip(dir.str(), fixtures::VideoOnlyClip());
    {
        const std::string out = dir.file("pad.flv");
        TCustomFFmpeg job;
        ASSERT_EQ(Convert(job, "-i " + in + " -s 320x144 -padtop 48 -padbottom 48 -b 2000000 -r 25 -vcodec flv " + out), "");
        const test::DecodedOutput d = test::DecodeOutput(out);
        ASSERT_EQ(d.width, 320);
        ASSERT_EQ(d.height, 240);
        for (int row : {0, 20, 47, 192, 220, 239}) EXPECT_NEAR(RowMean(d.firstLuma, 320, row), 16.0, 3.0) << row;
        for (int row : {52, 120, 187}) EXPECT_GT(std::fabs(RowMean(d.firstLuma, 320, row) - 16.0), 20.0) << row;
    }
    {
        const std::string out = dir.file("crop.flv");
        TCustomFFmpeg job;
        ASSERT_EQ(Convert(job, "-i " + in + " -croptop 16 -cropbottom 16 -s 160x88 -b 4000000 -r 25 -vcodec flv " + out), "");
        const test::DecodedOutput src = test::DecodeOutput(in);
        const test::DecodedOutput d = test::DecodeOutput(out);
        ASSERT_EQ(d.width, 160);
        ASSERT_EQ(d.height, 88);
        // The source rows that match the output best are those 16 rows further down.
        int bestShift = 0;
        double best = 1e9;
        for (int shift = 10; shift <= 22; shift++) {
            double diff = 0;
            for (int y = 0; y < 88; y++)
                for (int x = 0; x < 160; x++)
                    diff += std::abs(int(d.firstLuma[y * 160 + x]) - int(src.firstLuma[(y + shift) * 160 + x]));
            if (diff < best) {
                best = diff;
                bestShift = shift;
            }
        }
        EXPECT_EQ(bestShift, 16);
    }
}

// A stop before the loop and one in the middle both leave a complete, shorter file.
TEST_F(RunTest, StopGivesCompleteShorterFile)
{
    fixtures::ClipSpec clipSpec = fixtures::AviClip();
    clipSpec.seconds = 3.0;
    const std::string in = fixtures::MakeClip(dir.str(), clipSpec);
    struct Case {
        const char* name;
        bool beforeLoop;
    };
    for (const Case& c : {Case{"before", true}, Case{"middle", false}}) {
        SCOPED_TRACE(c.name);
        const std::string out = dir.file(std::string(c.name) + ".flv");
        TCustomFFmpeg job;
        test::PrepareJob(job, Words("-i " + in + " " + DefaultPreset() + " " + out));
        job.ReportInterval = 0;
        job.OnRunProgress = [](TCustomFFmpeg& j, int, int, int currentMs, float, float, int64_t, int) {
            if (currentMs >= 500) j.StopRequested = true;
        };
        if (c.beforeLoop) job.StopRequested = true;
        ASSERT_NO_THROW(job.Transcode());
        EXPECT_FALSE(job.Finished);
        job.ReleaseJob();
        const test::FlvFile flv = test::ParseFlvFile(out);
        ASSERT_TRUE(flv.ok()) << flv.errorText();
        EXPECT_LT(flv.durationMs(), 2000.0);
        if (!c.beforeLoop) {
            EXPECT_GT(flv.video.count, 5);
            EXPECT_EQ(test::DecodeOutput(out).decodeErrors, 0);
        }
    }
}

// Set-up refusals carry their texts; a run that fails before writing deletes its empty output.
TEST_F(RunTest, SetupRefusalsAndEmptyOutput)
{
    const std::string in = fixtures::MakeClip(dir.str(), fixtures::AviClip());
    struct Case {
        const char* options;
        const char* message;
    };
    const Case cases[] = {
        {"-map 0:1 -map 0:0", "Codec type mismatch for mapping #0.1 (Audio) -> #0.0 (Video)"},
        {"-map 0:0", "Number of stream maps must match number of output streams"},
        {"-map 0:5 -map 0:1", "Could not find input stream #0.5"},
        {"-map 0:0 -map 0:1:3:0", "Could not find sync stream #3.0"},
        {"-map_meta_data 2:0", "Invalid output file index 2 map_meta_data(2,0)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.options);
        const std::string out = dir.file("refused.flv");
        TCustomFFmpeg job;
        EXPECT_EQ(Convert(job, "-i " + in + " " + c.options + " " + DefaultPreset() + " " + out), c.message);
        EXPECT_FALSE(job.Finished);
        EXPECT_FALSE(std::filesystem::exists(out));
    }
}

// Progress: the last report always comes, at most one per interval otherwise, and the last one's
// current duration is the output's length.
TEST_F(RunTest, ProgressReports)
{
    fixtures::ClipSpec clipSpec = fixtures::AviClip();
    clipSpec.seconds = 2.0;
    const std::string in = fixtures::MakeClip(dir.str(), clipSpec);
    struct Case {
        int64_t interval;
        bool single;
    };
    for (const Case& c : {Case{INT64_MAX / 2, true}, Case{0, false}}) {
        const std::string out = dir.file(Format("progress%d.flv", c.single ? 1 : 0));
        TCustomFFmpeg job;
        test::PrepareJob(job, Words("-i " + in + " " + DefaultPreset() + " " + out));
        job.ReportInterval = c.interval;
        int reports = 0, lastMs = -1, lastFrame = -1;
        int64_t lastSize = -1;
        job.OnRunProgress = [&](TCustomFFmpeg&, int frame, int, int ms, float, float, int64_t size, int total) {
            reports++;
            lastMs = ms;
            lastFrame = frame;
            lastSize = size;
            EXPECT_EQ(total, job.RecordingTimeMs);
        };
        job.Transcode();
        job.ReleaseJob();
        if (c.single)
            EXPECT_EQ(reports, 1);
        else
            EXPECT_GT(reports, 1);
        const test::FlvFile flv = test::ParseFlvFile(out);
        ASSERT_TRUE(flv.ok()) << flv.errorText();
        EXPECT_NEAR(lastMs, flv.durationMs(), 80.0);
        EXPECT_EQ(lastFrame, flv.video.count);
        EXPECT_EQ(lastSize, static_cast<int64_t>(flv.fileSize));
    }
}

// Stream copy into Matroska passes every packet unchanged.
TEST_F(RunTest, StreamCopyKeepsPackets)
{
    const std::string in = fixtures::MakeClip(dir.str(), fixtures::AviClip());
    const std::string out = dir.file("copy.mkv");
    TCustomFFmpeg job;
    ASSERT_EQ(Convert(job, "-i " + in + " -vcodec copy -acodec copy " + out), "");
    EXPECT_TRUE(job.Finished);
    for (AVMediaType type : {AVMEDIA_TYPE_VIDEO, AVMEDIA_TYPE_AUDIO}) {
        const auto a = test::StreamPayloads(in, type);
        const auto b = test::StreamPayloads(out, type);
        ASSERT_FALSE(a.empty());
        EXPECT_EQ(a, b) << MediaTypeName(type);
    }
}

// Text subtitles are decoded, re-timed and encoded again: every subtitle of the source reaches
// the output, at its time.
TEST_F(RunTest, SubtitlesAreEncodedAgain)
{
    const std::string in = fixtures::MakeClip(dir.str(), fixtures::MkvClip());
    const std::string out = dir.file("subtitles.mkv");
    TCustomFFmpeg job;
    ASSERT_EQ(Convert(job, "-i " + in + " -vcodec copy -acodec copy -scodec ass " + out), "");
    const auto source = test::StreamPayloads(in, AVMEDIA_TYPE_SUBTITLE);
    const auto result = test::StreamPayloads(out, AVMEDIA_TYPE_SUBTITLE);
    ASSERT_FALSE(source.empty());
    EXPECT_EQ(result.size(), source.size());
}

// The command line: exit 0 with the statistics after a finished job, 1 with the text of a
// failed one.
TEST_F(RunTest, CommandLineExitStatus)
{
    const std::string in = fixtures::MakeClip(dir.str(), fixtures::AviClip());
    const std::string out = dir.file("cli.flv");
    auto ok = test::RunCommand(std::string(QUORLANE_CLI) + " job -i " + in + " " + DefaultPreset() + " " + out + " 2>&1");
    EXPECT_EQ(ok.status, 0) << ok.out;
    EXPECT_NE(ok.out.find("video:"), std::string::npos) << ok.out;
    EXPECT_TRUE(test::ParseFlvFile(out).ok());
    auto bad = test::RunCommand(std::string(QUORLANE_CLI) + " job -i " + in + " -map 0:1 -map 0:0 " + DefaultPreset() +
                                " " + dir.file("bad.flv") + " 2>&1");
    EXPECT_EQ(bad.status, 1) << bad.out;
    EXPECT_NE(bad.out.find("Codec type mismatch"), std::string::npos) << bad.out;
}

}  // namespace
}  // namespace quorlane
