// No process-wide option state: two jobs configured at once on two threads each end
// with their own values.
#include <atomic>
#include <thread>

#include "JobTestSupport.h"
#include "MainThread.h"

namespace quorlane {
namespace {

struct Plan {
    std::string size, rate, codec, preset, vtag, map, metadata;
    int sampleRate;
};

void Configure(TCustomFFmpeg& job, const Plan& p, int rounds, std::string& error)
{
    try {
        for (int i = 0; i < rounds; ++i) {
            job.Reset();
            job.ApplyOption("s", p.size);
            job.ApplyOption("r", p.rate);
            job.ApplyOption("ar", std::to_string(p.sampleRate));
            job.ApplyOption("vcodec", p.codec);
            job.ApplyOption("vpre", p.preset);
            job.ApplyOption("vtag", p.vtag);
            job.ApplyOption("map", p.map);
            job.ApplyOption("metadata", p.metadata);
            job.ApplyOption("adrift_threshold", "0.25");
            job.ApplyOption("g", std::to_string(p.sampleRate / 100));
            job.ApplyOption("target", "pal-dv");  // sets the size again: PAL DV for both
            job.ApplyOption("s", p.size);
            job.ApplyOption("vhook", "");  // refused: hooks stay per job
        }
    } catch (const FFmpegException& e) {
        if (std::string(e.what()) != "Failed to add video hook function: ") error = e.what();
    }
}

TEST(JobConcurrency, TwoJobsOnTwoThreadsKeepTheirOwnValues)
{
    test::LoadConverterLibraries();
    const Plan a{"320x240", "15", "libx264", "hq", "XVID", "0:1", "title=A", 22050};
    const Plan b{"640x480", "30000/1001", "mpeg4", "libx264-main", "DIVX", "1:0:0:1", "title=B", 48000};
    TCustomFFmpeg ja, jb;
    std::string ea, eb;
    std::atomic<int> done{0};
    std::thread ta([&] { Configure(ja, a, 200, ea); ++done; });
    std::thread tb([&] { Configure(jb, b, 200, eb); ++done; });
    WaitServingMainThread([&] { return done.load() == 2; });
    ta.join();
    tb.join();
    EXPECT_EQ(ea, "");
    EXPECT_EQ(eb, "");

    EXPECT_EQ(ja.frame_width, 320);
    EXPECT_EQ(jb.frame_width, 640);
    EXPECT_EQ(ja.sample_rate, 48000);  // the DV target
    EXPECT_EQ(ja.frame_rate.num, 25);
    EXPECT_EQ(*ja.video_codec, "libx264");
    EXPECT_EQ(*jb.video_codec, "mpeg4");
    EXPECT_EQ(ja.video_tag, static_cast<uint32_t>(MKTAG('X', 'V', 'I', 'D')));
    EXPECT_EQ(jb.video_tag, static_cast<uint32_t>(MKTAG('D', 'I', 'V', 'X')));
    EXPECT_EQ(ja.stream_maps[0].sync_stream_index, 1);
    EXPECT_EQ(jb.stream_maps[0].sync_stream_index, 1);
    EXPECT_EQ(jb.stream_maps[0].file_index, 1);
    EXPECT_EQ(ja.metadata.at(0).value, "A");
    EXPECT_EQ(jb.metadata.at(0).value, "B");
    int64_t ga = 0, gb = 0;
    ff::av_opt_get_int(ja.Contexts().codec[0], "g", 0, &ga);
    ff::av_opt_get_int(jb.Contexts().codec[0], "g", 0, &gb);
    EXPECT_EQ(ga, 220);
    EXPECT_EQ(gb, 480);
    const std::string da = DumpOptionFields(ja), db = DumpOptionFields(jb);
    EXPECT_NE(da.find("\"me_method=umh\""), std::string::npos);
    EXPECT_EQ(db.find("me_method"), std::string::npos);
    EXPECT_NE(db.find("\"8x8dct=0\""), std::string::npos);
}

}  // namespace
}  // namespace quorlane
