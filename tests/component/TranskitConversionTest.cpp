// Tasks set up from their option records over generated clips, and real conversions through
// the component.
#include <gtest/gtest.h>

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <mutex>

#include "Fixtures.h"
#include "MainThread.h"
#include "MyUtils.h"
#include "TestSupport.h"
#include "Transkit.h"

namespace quorlane {
namespace {

class TranskitConversion : public ::testing::Test {
protected:
    void SetUp() override { fixtures::LoadLibraries(); }

    std::string Clip(double seconds = 1.0, const std::string& name = "clip.avi")
    {
        fixtures::ClipSpec clipSpec = fixtures::AviClip();
        clipSpec.seconds = seconds;
        clipSpec.name = name;
        return fixtures::MakeClip(dir_.str(), clipSpec);
    }
    std::wstring Out(const std::string& name) { return SystemToWide(dir_.file(name)); }

    static TOutputOptions FlvOptions()
    {
        TOutputOptions o;
        o.VideoCodec = "flv";
        o.AudioCodec = "libmp3lame";
        o.FrameSize = "320x240";
        o.VideoBitrate = 400000;
        o.FrameRate = "25";
        o.AudioBitrate = 64000;
        o.AudioSampleRate = 22050;
        o.AudioChannels = 1;
        return o;
    }

    test::TempDir dir_;
};

struct Ends {
    std::mutex lock;
    std::vector<std::tuple<int, bool, bool, std::string>> events;
    bool AllEnded()
    {
        std::lock_guard guard(lock);
        return !events.empty() && std::get<0>(events.back()) == -1;
    }
};

void Record(TTranskit& kit, Ends& ends)
{
    kit.OnTerminate = [&ends](int index, bool finished, bool exception, const std::string& message) {
        std::lock_guard guard(ends.lock);
        ends.events.emplace_back(index, finished, exception, message);
    };
}

TEST_F(TranskitConversion, QueueTaskFillsTheRecordOrRefusesWithTheReason)
{
    const std::string clip = Clip();
    TTranskit kit;
    TInputOptions options;
    EXPECT_EQ(kit.QueueTask(SystemToWide(clip), &options), 0);
    EXPECT_EQ(options.FileName, SystemToWide(clip));
    EXPECT_EQ(kit.Tasks().Get(0)->InputOptions.FileName, SystemToWide(clip));
    EXPECT_GE(kit.Tasks().Get(0)->Probe().StreamCount(), 2);

    struct Case {
        const char* name;
        std::string file;
        std::string format;
        std::string message;  // empty: any non-empty text
    };
    const Case cases[] = {
        {"unknown format", clip, "nosuchformat", "Unknown input format: nosuchformat"},
        {"missing file", dir_.file("missing.avi"), "", ""},
        {"noise", fixtures::MakeBroken(dir_.str(), fixtures::Broken::RandomBytes), "", ""},
    };
    for (const Case& c : cases) {
        TInputOptions bad;
        bad.Format = c.format;
        EXPECT_EQ(kit.QueueTask(SystemToWide(c.file), &bad), -1) << c.name;
        if (c.message.empty())
            EXPECT_FALSE(kit.LastErrorMessage().empty()) << c.name;
        else
            EXPECT_EQ(kit.LastErrorMessage(), c.message) << c.name;
        EXPECT_EQ(kit.TaskCount(), 1) << c.name;
    }
    EXPECT_FALSE(kit.SetTaskOutput(1, Out("x.flv"), nullptr));
    EXPECT_EQ(kit.LastErrorMessage(), "List index out of bounds (1)");
    EXPECT_FALSE(kit.SetTaskOutput(-1, Out("x.flv"), nullptr));
    kit.ClearTaskList();
    EXPECT_EQ(kit.LastErrorMessage(), "");
}

TEST_F(TranskitConversion, TaskWithoutOutputIsRefusedAtStart)
{
    TTranskit kit;
    Ends ends;
    Record(kit, ends);
    ASSERT_EQ(kit.QueueTask(SystemToWide(Clip())), 0) << kit.LastErrorMessage();
    kit.StartTasks(0);
    ASSERT_EQ(ends.events.size(), 2u);
    EXPECT_EQ(ends.events[0], std::make_tuple(0, false, true, std::string("At least one output file must be specified")));
    EXPECT_EQ(ends.events[1], std::make_tuple(-1, true, false, std::string()));
}

TEST_F(TranskitConversion, OutputFieldsBecomeJobOptionsInTheirOrder)
{
    TCustomFFmpeg job;
    job.Reset();
    TOutputOptions o = FlvOptions();
    o.VideoCodec = "flv";
    o.ExtraOptions = "vcodec=mpeg4\r\nnewaudio\r\n";  // "newaudio" waits for the opened output
    o.CopyTimestamps = false;
    o.MuxDelay = 0.25f;
    o.Timestamp = -1.0;
    ApplyOutputOptions(job, o);
    ASSERT_TRUE(job.video_codec.has_value());
    EXPECT_EQ(*job.video_codec, "flv");
    EXPECT_FALSE(job.copy_ts);
    EXPECT_NEAR(job.mux_max_delay, 0.25, 1e-6);
    EXPECT_EQ(job.output_timestamp, 0);

    TCustomFFmpeg other;
    other.Reset();
    TOutputOptions stamped;
    stamped.CopyTimestamps = true;
    stamped.Timestamp = 0.0;
    stamped.DurationMs = 3000;
    ApplyOutputOptions(other, stamped);
    EXPECT_TRUE(other.copy_ts);
    EXPECT_NEAR(static_cast<double>(other.output_timestamp), static_cast<double>(std::time(nullptr)), 2.0);
    EXPECT_EQ(other.RecordingTimeMs, 3000);
    EXPECT_EQ(other.recording_time, 3000000);
}

TEST_F(TranskitConversion, StreamLinesApplyAfterTheOutputOpened)
{
    TTranskit kit;
    ASSERT_EQ(kit.QueueTask(SystemToWide(Clip())), 0) << kit.LastErrorMessage();
    TOutputOptions o = FlvOptions();
    o.ExtraOptions = "newaudio";
    ASSERT_TRUE(kit.SetTaskOutput(0, Out("streams.flv"), &o)) << kit.LastErrorMessage();
    EXPECT_EQ(kit.Tasks().Get(0)->output_contexts[0]->nb_streams, 3u);  // video, audio, audio

    // Without options the output opens with the defaults.
    ASSERT_EQ(kit.QueueTask(SystemToWide(Clip())), 1) << kit.LastErrorMessage();
    EXPECT_TRUE(kit.SetTaskOutput(1, Out("plain.avi"))) << kit.LastErrorMessage();
    EXPECT_EQ(kit.Tasks().Get(1)->OutputOptions.FileName, L"");
    EXPECT_FALSE(kit.Tasks().Get(1)->JoinMode);
}

TEST_F(TranskitConversion, HooksAreWiredByTheFlagsInTheirOrder)
{
    struct Case {
        const char* name;
        bool custom;
        bool before;
        bool expectCustom;
        bool expectBefore;
        size_t ranges;
    };
    const Case cases[] = {
        {"custom wins", true, true, true, false, 0},
        {"before hook", false, true, false, true, 0},
        {"ranges", false, false, false, false, 2},
    };
    for (const Case& c : cases) {
        TTranskit kit;
        ASSERT_EQ(kit.QueueTask(SystemToWide(Clip())), 0) << kit.LastErrorMessage();
        TOutputOptions o = FlvOptions();
        o.UseCustomHook = c.custom;
        o.UseBeforeHook = c.before;
        o.HookRanges = "1000-2000, 5000-4000, x-3000";
        ASSERT_TRUE(kit.SetTaskOutput(0, Out(Format("hooks-%d.flv", c.custom * 2 + c.before)), &o))
            << kit.LastErrorMessage();
        TFFmpeg& task = *kit.Tasks().Get(0);
        EXPECT_EQ(task.HookRunner.HasCustomHook(), c.expectCustom) << c.name;
        EXPECT_EQ(task.CustomHookAssigned(), c.expectCustom) << c.name;
        EXPECT_EQ(task.HookRunner.HasBeforeHook(), c.expectBefore) << c.name;
        ASSERT_EQ(task.HookRunner.Ranges().size(), c.ranges) << c.name;
        if (c.ranges == 2) {  // sorted by end
            EXPECT_EQ(task.HookRunner.Ranges()[0].start, 1000000);
            EXPECT_EQ(task.HookRunner.Ranges()[0].end, 2000000);
            EXPECT_EQ(task.HookRunner.Ranges()[1].start, -1000);
            EXPECT_EQ(task.HookRunner.Ranges()[1].end, 3000000);
        }
    }
}

TEST_F(TranskitConversion, PreviewPropertiesReachListedAndLaterTasks)
{
    TTranskit kit;
    ASSERT_EQ(kit.QueueTask(SystemToWide(Clip())), 0) << kit.LastErrorMessage();
    kit.SetPreviewBitmap(true);
    EXPECT_EQ(kit.Tasks().Get(0)->PreviewFlagsNow(), PREVIEW_BITMAP);
    kit.SetPreview(true);
    ASSERT_EQ(kit.QueueTask(SystemToWide(Clip())), 1) << kit.LastErrorMessage();
    EXPECT_EQ(kit.Tasks().Get(0)->PreviewFlagsNow(), PREVIEW_WINDOW | PREVIEW_BITMAP);
    EXPECT_EQ(kit.Tasks().Get(1)->PreviewFlagsNow(), PREVIEW_WINDOW | PREVIEW_BITMAP);
    kit.SetPreviewBitmap(false);
    EXPECT_EQ(kit.Tasks().Get(1)->PreviewFlagsNow(), PREVIEW_WINDOW);
}

// Needs the whole pipeline: output creation and the transcode run.
TEST_F(TranskitConversion, ConvertsClipsTwoAtATimeIntoFlv)
{
    TTranskit kit;
    Ends ends;
    Record(kit, ends);
    std::mutex progressLock;
    std::vector<int> totals;
    kit.OnProgress = [&](int, int, int, int, float, float, int64_t, int total) {
        std::lock_guard guard(progressLock);
        totals.push_back(total);
    };
    for (int i = 0; i < 3; ++i) {
        const std::string clip = Clip(1.0, Format("in%d.avi", i));
        ASSERT_EQ(kit.QueueTask(SystemToWide(clip)), i) << kit.LastErrorMessage();
        TOutputOptions o = FlvOptions();
        ASSERT_TRUE(kit.SetTaskOutput(i, Out(Format("out%d.flv", i)), &o)) << kit.LastErrorMessage();
        EXPECT_EQ(o.FileName, Out(Format("out%d.flv", i)));
    }
    kit.StartTasks(2);
    WaitServingMainThread([&] { return ends.AllEnded(); });
    ASSERT_EQ(ends.events.size(), 4u);
    for (int i = 0; i < 3; ++i) {
        EXPECT_TRUE(std::get<1>(ends.events[i])) << std::get<3>(ends.events[i]);
        std::ifstream file(dir_.file(Format("out%d.flv", i)), std::ios::binary);
        char magic[3] = {};
        file.read(magic, 3);
        EXPECT_EQ(std::string(magic, 3), "FLV") << i;
    }
    std::lock_guard guard(progressLock);
    ASSERT_FALSE(totals.empty());
    for (int total : totals) EXPECT_NEAR(total, 1000, 100);
}

// Needs the whole pipeline. A trimmed task without CopyTimestamps: 3 s starting at 0.
TEST_F(TranskitConversion, TrimmedTaskGivesTheTrimmedLengthFromZero)
{
    TTranskit kit;
    Ends ends;
    Record(kit, ends);
    TInputOptions in;
    in.StartOffsetMs = 2000;
    ASSERT_EQ(kit.QueueTask(SystemToWide(Clip(6.0)), &in), 0) << kit.LastErrorMessage();
    TOutputOptions o = FlvOptions();
    o.DurationMs = 3000;
    o.CopyTimestamps = false;
    ASSERT_TRUE(kit.SetTaskOutput(0, Out("trim.flv"), &o)) << kit.LastErrorMessage();
    kit.StartTasks(0);
    ASSERT_TRUE(ends.AllEnded());
    ASSERT_TRUE(std::get<1>(ends.events[0])) << std::get<3>(ends.events[0]);

    TAVProbe probe;
    ASSERT_TRUE(probe.LoadFile(Out("trim.flv"))) << probe.LastErrMsg();
    const TFileStreamInfo info = probe.GetFileStreamInfo();
    EXPECT_NEAR(info.Duration / 1e6, 3.0, 0.3);
    EXPECT_LE(info.StartTime, 100000);
    const TVideoStreamInfo video = probe.GetVideoStreamInfo();
    EXPECT_EQ(video.Width, 320);
    EXPECT_EQ(video.Height, 240);
}

// Needs the whole pipeline. The command line converts what it can, reports the rest, and never
// writes over an existing output.
TEST_F(TranskitConversion, CommandLineConvertsGoodFilesAndReportsBrokenOnes)
{
    std::string files;
    for (const char* name : {"A.avi", "B.avi", "C.avi"}) files += " '" + Clip(1.0, name) + "'";
    files += " '" + fixtures::MakeBroken(dir_.str(), fixtures::Broken::RandomBytes, "BROKEN.avi") + "'";
    const std::string out = dir_.file("out");
    const std::string command = std::string(QUORLANE_CLI) + " convert --jobs 2 --out '" + out +
                                "' --ext flv --set VideoCodec=flv --set AudioCodec=libmp3lame"
                                " --set FrameSize=320x240 --set VideoBitrate=400000 --set FrameRate=25"
                                " --set AudioBitrate=64000 --set AudioSampleRate=22050"
                                " --set AudioChannels=1" + files + " 2>&1";
    test::CommandResult first = test::RunCommand(command);
    EXPECT_EQ(first.status, 1) << first.out;
    EXPECT_NE(first.out.find("BROKEN.avi: "), std::string::npos) << first.out;
    for (const char* name : {"A.flv", "B.flv", "C.flv"})
        EXPECT_GT(WideFileSize(SystemToWide(out + "/" + name)), 0) << name << "\n" << first.out;
    EXPECT_FALSE(std::filesystem::exists(out + "/BROKEN.flv"));
    const int64_t firstSize = WideFileSize(SystemToWide(out + "/A.flv"));
    const auto firstTime = std::filesystem::last_write_time(out + "/A.flv");

    test::CommandResult second = test::RunCommand(command);
    EXPECT_EQ(second.status, 1) << second.out;
    EXPECT_GT(WideFileSize(SystemToWide(out + "/A_1.flv")), 0) << second.out;
    EXPECT_EQ(WideFileSize(SystemToWide(out + "/A.flv")), firstSize);
    EXPECT_EQ(std::filesystem::last_write_time(out + "/A.flv"), firstTime);

    test::CommandResult usage = test::RunCommand(std::string(QUORLANE_CLI) + " convert --ext mp4 x 2>&1");
    EXPECT_EQ(usage.status, 2) << usage.out;
}

}  // namespace
}  // namespace quorlane
