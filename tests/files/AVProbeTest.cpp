// The media probe over generated clips: records, counters, failures and the wide-name path.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <functional>

#include "AVProbe.h"
#include "EntryPoints.h"
#include "FFmpegLoader.h"
#include "FilesTestSupport.h"
#include "Fixtures.h"
#include "MyUtils.h"
#include "TestSupport.h"
#include "UnicodeProtocol.h"

namespace quorlane {
namespace {

class Probe : public ::testing::Test {
protected:
    void SetUp() override { fixtures::LoadLibraries(); }
    std::string Make(const fixtures::ClipSpec& clipSpec) { return fixtures::MakeClip(dir.str(), clipSpec); }
    test::TempDir dir;
};

TEST_F(Probe, DescribesEveryGeneratedContainer)
{
    struct Case {
        fixtures::ClipSpec clipSpec;
        int streams, video, audio, subtitle, firstVideo, firstAudio, firstSubtitle;
        float aspect;
        const char* codec;       // beginning of CodecDesc
        bool streamDuration;     // Matroska and FLV keep no per-stream duration
    };
    auto ts = fixtures::TsClip();
    ts.layout = "adv";
    auto audioFirst = fixtures::AviClip();
    audioFirst.layout = "av";
    audioFirst.name = "audio-first.mkv";
    const Case cases[] = {
        {fixtures::AviClip(), 2, 1, 1, 0, 0, 1, -1, 4.0f / 3, "mpeg4(MPEG-4 part 2)", true},
        {fixtures::Mp4Clip(), 2, 1, 1, 0, 0, 1, -1, 0.0f, "h264(", true},  // no sample aspect stored: 0
        {fixtures::MkvClip(), 4, 1, 1, 1, 0, 1, 2, 4.0f / 3, "mpeg4(", false},  // the attachment counts in streams only
        {fixtures::MovClip(), 2, 1, 1, 0, 0, 1, -1, 4.0f / 3, "mpeg4(", true},
        {ts, 3, 1, 1, 0, 2, 0, -1, 4.0f / 3, "mpeg2video(", true},  // the data stream counts in streams only
        {fixtures::AsfClip(), 2, 1, 1, 0, 0, 1, -1, 0.0f, "wmv2(", true},
        {fixtures::FlvClip(), 2, 1, 1, 0, 1, 0, -1, 0.0f, "flv(", false},
        {fixtures::VideoOnlyClip(), 1, 1, 0, 0, 0, -1, -1, 4.0f / 3, "mpeg4(", true},
        {fixtures::NonSquareClip(), 2, 1, 1, 0, 0, 1, -1, 16.0f / 9, "h264(", true},
        {audioFirst, 2, 1, 1, 0, 1, 0, -1, 4.0f / 3, "mpeg4(", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.clipSpec.name);
        const std::string path = Make(c.clipSpec);
        TAVProbe probe;
        ASSERT_TRUE(probe.LoadFile(SystemToWide(path))) << probe.LastErrMsg();
        EXPECT_EQ(probe.StreamCount(), c.streams);
        EXPECT_EQ(probe.ProgramCount(), c.clipSpec.name == "clip.ts" ? 1 : 0);
        EXPECT_EQ(probe.VideoStreamCount(), c.video);
        EXPECT_EQ(probe.AudioStreamCount(), c.audio);
        EXPECT_EQ(probe.SubtitleStreamCount(), c.subtitle);
        EXPECT_EQ(probe.FirstVideoStream(), c.firstVideo);
        EXPECT_EQ(probe.FirstAudioStream(), c.firstAudio);
        EXPECT_EQ(probe.FirstSubtitleStream(), c.firstSubtitle);
        EXPECT_EQ(probe.FormatName(), "");

        const TFileStreamInfo f = probe.GetFileStreamInfo();
        EXPECT_NEAR(static_cast<double>(f.Duration), 1000000.0, 150000.0);
        EXPECT_GE(f.StartTime, 0);
        EXPECT_GT(f.BitRate, 0);
        EXPECT_EQ(probe.GetFileSize(), WideFileSize(SystemToWide(path)));

        const TVideoStreamInfo v = probe.GetVideoStreamInfo(-1);
        EXPECT_EQ(v.Width, 160);
        EXPECT_EQ(v.Height, 120);
        EXPECT_NEAR(v.AspectRatio, c.aspect, 0.001);
        EXPECT_EQ(v.FrameRateNum, 25);
        EXPECT_EQ(v.FrameRateDen, 1);
        EXPECT_EQ(v.PixelFormat, AV_PIX_FMT_YUV420P);
        EXPECT_EQ(v.CodecDesc.rfind(c.codec, 0), 0u) << v.CodecDesc;
        EXPECT_GE(v.StartTimeUs, 0);
        if (c.streamDuration) {
            EXPECT_NEAR(static_cast<double>(v.DurationUs), 1000000.0, 150000.0);
        } else {
            EXPECT_EQ(v.Duration, AV_NOPTS_VALUE);
            EXPECT_EQ(v.DurationUs, -1);
        }
    }
}

TEST_F(Probe, ReadsTagsStartTimeAndLanguage)
{
    fixtures::ClipSpec clipSpec = fixtures::MkvClip();
    clipSpec.startSeconds = 2.0;
    clipSpec.metadata = {{"title", "The Title"}, {"artist", "Somebody"}, {"copyright", "(c) Nobody"},
                     {"comment", "Made for tests"}, {"album", "Fixtures"}, {"genre", "Noise"},
                     {"date", "2009-05-01"}, {"track", "3/12"}};
    TAVProbe probe;
    ASSERT_TRUE(probe.LoadFile(SystemToWide(Make(clipSpec)))) << probe.LastErrMsg();
    const TFileStreamInfo f = probe.GetFileStreamInfo();
    EXPECT_NEAR(static_cast<double>(f.StartTime), 2000000.0, 100000.0);  // the audio encoder's delay
    EXPECT_EQ(f.Title, "The Title");
    EXPECT_EQ(f.Author, "Somebody");
    EXPECT_EQ(f.Copyright, "(c) Nobody");
    EXPECT_EQ(f.Comment, "Made for tests");
    EXPECT_EQ(f.Album, "Fixtures");
    EXPECT_EQ(f.Genre, "Noise");
    EXPECT_EQ(f.Year, 2009);
    EXPECT_EQ(f.Track, 3);
    const TVideoStreamInfo v = probe.GetVideoStreamInfo(-1);
    EXPECT_NEAR(static_cast<double>(v.StartTimeUs), 2000000.0, 1000.0);
    EXPECT_EQ(v.StartTime, 2000);  // Matroska counts in milliseconds
}

TEST_F(Probe, AContainerWithoutDurationSaysMinusOne)
{
    fixtures::ClipSpec clipSpec;
    clipSpec.name = "raw.h264";
    clipSpec.layout = "v";
    clipSpec.videoCodec = "libx264";
    TAVProbe probe;
    ASSERT_TRUE(probe.LoadFile(SystemToWide(Make(clipSpec)))) << probe.LastErrMsg();
    EXPECT_EQ(probe.GetFileStreamInfo().Duration, -1);
    const TVideoStreamInfo v = probe.GetVideoStreamInfo(-1);
    EXPECT_EQ(v.Duration, AV_NOPTS_VALUE);
    EXPECT_EQ(v.DurationUs, -1);
}

TEST_F(Probe, VideoStreamQueriesRefuseBadIndexes)
{
    fixtures::ClipSpec clipSpec = fixtures::AviClip();
    clipSpec.layout = "av";
    const std::string avi = Make(clipSpec);
    const std::string mp3 = Make(fixtures::AudioOnlyClip());
    struct Case {
        const std::string* file;  // nullptr: nothing loaded
        int index;
        const char* message;      // nullptr: succeeds
    };
    const Case cases[] = {
        {&avi, -1, nullptr},
        {&avi, 1, nullptr},
        {&avi, 0, "stream #0 is not video stream."},
        {&avi, 2, "stream index #2 is invalid."},
        {&avi, 7, "stream index #7 is invalid."},
        {&mp3, -1, "no video stream."},
        {nullptr, -1, "file not loaded."},
    };
    for (const Case& c : cases) {
        TAVProbe probe;
        if (c.file) ASSERT_TRUE(probe.LoadFile(SystemToWide(*c.file))) << probe.LastErrMsg();
        const TVideoStreamInfo v = probe.GetVideoStreamInfo(c.index);
        SCOPED_TRACE(testing::Message() << (c.file ? *c.file : "none") << " #" << c.index);
        if (!c.message) {
            EXPECT_EQ(v.Width, 160);
            continue;
        }
        EXPECT_EQ(probe.LastErrMsg(), c.message);
        EXPECT_EQ(v.Width, -1);
        EXPECT_EQ(v.Height, -1);
        EXPECT_EQ(v.AspectRatio, -1.0f);
        EXPECT_EQ(v.CodecDesc, "");
    }
}

TEST_F(Probe, QueriesWithoutAFileGiveDefaults)
{
    TAVProbe probe;
    EXPECT_EQ(probe.StreamCount(), -1);
    EXPECT_EQ(probe.FirstVideoStream(), -1);
    const TFileStreamInfo f = probe.GetFileStreamInfo();
    EXPECT_EQ(f.Duration, -1);
    EXPECT_EQ(f.StartTime, -1);
    EXPECT_EQ(f.Year, -1);
    EXPECT_EQ(probe.LastErrMsg(), "file not loaded.");
    EXPECT_EQ(probe.GetFileSize(), -1);
}

TEST_F(Probe, FailuresSayWhyAndLeaveNothingOpen)
{
    const std::string folder = dir.str() + "folder.avi";
    ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
    const std::string good = Make(fixtures::AviClip());
    struct Case {
        std::string file;
        std::string format;
        std::string message;
    };
    const Case cases[] = {
        {dir.str() + "missing.avi", "", dir.str() + "missing.avi: no such file or directory"},
        {fixtures::MakeBroken(dir.str(), fixtures::Broken::Empty), "", dir.str() + "empty.avi: Unknown format"},
        {fixtures::MakeBroken(dir.str(), fixtures::Broken::RandomBytes), "", dir.str() + "noise.avi: Unknown format"},
        {fixtures::MakeBroken(dir.str(), fixtures::Broken::TextAsMkv), "", dir.str() + "notes.mkv: Unknown format"},
        {fixtures::MakeBroken(dir.str(), fixtures::Broken::Truncated), "",
         dir.str() + "truncated.mp4: Error while parsing header"},
        {folder, "", folder + ": Error while opening file"},
        {good, "nosuchformat", "Unknown input format: nosuchformat"},
        {good, "mp3", good + ": Error while parsing header"},  // a forced demuxer rejects the data
    };
    for (const Case& c : cases) {
        TAVProbe probe;
        EXPECT_FALSE(probe.LoadFile(SystemToWide(c.file), c.format)) << c.file;
        EXPECT_EQ(probe.LastErrMsg(), c.message);
        EXPECT_EQ(probe.FormatContext(), nullptr);
        EXPECT_EQ(probe.StreamCount(), -1);
        EXPECT_EQ(probe.FormatName(), "");
    }
}

TEST_F(Probe, AFailureKeepsItsTextAndAForcedFormatIsRemembered)
{
    const std::string wrong = fixtures::MakeBroken(dir.str(), fixtures::Broken::WrongExtension);
    TAVProbe probe;
    EXPECT_FALSE(probe.LoadFile(SystemToWide(dir.str() + "gone.avi")));
    ASSERT_TRUE(probe.LoadFile(SystemToWide(wrong), "avi")) << probe.LastErrMsg();
    EXPECT_EQ(probe.FormatName(), "avi");
    EXPECT_EQ(probe.LastErrMsg(), dir.str() + "gone.avi: no such file or directory");
    ASSERT_TRUE(probe.LoadFile(SystemToWide(wrong)));  // content decides, not the extension
    EXPECT_EQ(probe.FormatName(), "");
    EXPECT_STREQ(probe.FormatContext()->iformat->name, "avi");
}

TEST_F(Probe, AnUnreadableFileIsRefused)
{
    if (geteuid() == 0) GTEST_SKIP() << "permissions do not bind root";
    const std::string path = Make(fixtures::AviClip());
    ASSERT_EQ(chmod(path.c_str(), 0), 0);
    TAVProbe probe;
    EXPECT_FALSE(probe.LoadFile(SystemToWide(path)));
    EXPECT_EQ(probe.LastErrMsg(), path + ": Error while opening file");
}

TEST_F(Probe, AnAttachedContextStaysWithItsOwner)
{
    const std::string path = Make(fixtures::MkvClip());
    AVFormatContext* raw = nullptr;
    ASSERT_GE(OpenLibraryInput(&raw, path, nullptr, nullptr), 0);
    LibraryInputPtr owner(raw);
    ASSERT_GE(ff::avformat_find_stream_info(owner.get(), nullptr), 0);
    TAVProbe probe;
    probe.AttachContext(owner.get());
    EXPECT_FALSE(probe.OwnsContext());
    EXPECT_EQ(probe.StreamCount(), 4);
    EXPECT_EQ(probe.FirstSubtitleStream(), 2);
    EXPECT_GT(probe.GetFileSize(), 0);
    probe.CloseFile();
    EXPECT_EQ(probe.StreamCount(), -1);
    probe.AttachContext(owner.get());
    probe.AttachContext(nullptr);
    EXPECT_EQ(probe.FormatContext(), nullptr);
    // Still usable by its owner.
    AVPacket* pkt = ff::av_packet_alloc();
    EXPECT_GE(ff::av_read_frame(owner.get(), pkt), 0);
    ff::av_packet_free(&pkt);
}

TEST_F(Probe, NonAsciiNamesUnderTheCLocaleGoThroughTheProtocol)
{
    const std::string path = Make(fixtures::NonAsciiNameClip());
    test::ScopedLocale locale("C");
    const std::wstring name = SystemToWide(path);
    ASSERT_TRUE(NeedsUnicodeProtocol(name));
    TAVProbe probe;
    ASSERT_TRUE(probe.LoadFile(name)) << probe.LastErrMsg();
    EXPECT_EQ(std::string(probe.FormatContext()->url), "unicode:utf8:" + path);
    EXPECT_EQ(probe.GetFileSize(), WideFileSize(name));
    EXPECT_EQ(probe.GetVideoStreamInfo(-1).Width, 160);
    EXPECT_FALSE(probe.LoadFile(SystemToWide(dir.str() + "n\xC3\xA9" "ant.avi")));
    EXPECT_EQ(probe.LastErrMsg(), dir.str() + "n\xC3\xA9" "ant.avi: no such file or directory");
}

TEST_F(Probe, NeedsItsLibrariesInOrder)
{
    const std::string path = Make(fixtures::AviClip());
    struct Case {
        TLibrary missing;
        const char* message;
    };
    const Case cases[] = {{libAVCodec, "LibAVCodec not loaded."},
                          {libAVFormat, "LibAVFormat not loaded."},
                          {libAVUtil, "LibAVUtil not loaded."},
                          {libSwScale, "LibSwScale not loaded."}};
    for (const Case& c : cases) {
        TAVProbe probe;
        ASSERT_TRUE(probe.LoadFile(SystemToWide(path)));
        FFLoader().UnloadOne(c.missing);
        try {
            probe.LoadFile(SystemToWide(path));
            ADD_FAILURE() << "no exception for " << c.message;
        } catch (const std::runtime_error& e) {
            EXPECT_STREQ(e.what(), c.message);
        }
        EXPECT_THROW(probe.AttachContext(nullptr), std::runtime_error);
        EXPECT_EQ(probe.LastErrMsg(), "");  // the exception carries the message
        ASSERT_TRUE(FFLoader().Load(ConverterLibraries)) << FFLoader().LastErrMsg();
    }
}

TEST_F(Probe, CommandLinePrintsFieldsAndFailsPerFile)
{
    const std::string avi = Make(fixtures::AviClip());
    const std::string noise = fixtures::MakeBroken(dir.str(), fixtures::Broken::RandomBytes);
    const std::string cli = QUORLANE_CLI;
    struct Case {
        std::string args;
        int status;
        std::vector<std::string> lines;
    };
    const Case cases[] = {
        {avi, 0, {"File: " + avi, "StreamCount: 2", "VideoStreamCount: 1", "AudioStreamCount: 1",
                  "FirstAudioStream: 1", "Video.Width: 160", "Video.Height: 120", "Video.AspectRatio: 1.3333",
                  "Video.FrameRateNum: 25", "FileSize: " + std::to_string(WideFileSize(SystemToWide(avi)))}},
        {dir.str() + "missing.avi", 1, {dir.str() + "missing.avi: no such file or directory"}},
        {noise + " " + avi, 1, {noise + ": Unknown format", "File: " + avi}},
    };
    for (const Case& c : cases) {
        auto r = test::RunCommand(cli + " probe " + c.args + " 2>&1");
        EXPECT_EQ(r.status, c.status) << r.out;
        for (const std::string& line : c.lines) EXPECT_NE(r.out.find(line + "\n"), std::string::npos) << line << "\n" << r.out;
    }
}

}  // namespace
}  // namespace quorlane
