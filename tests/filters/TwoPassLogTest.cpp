// Two-pass log names, refusals and a real two-pass encode with the "flv" encoder.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <sstream>

#include "FFmpegLoader.h"
#include "PictureFactory.h"
#include "job/FFmpeg.h"
#include "job/TwoPassLog.h"

namespace quorlane {
namespace {

using test::CodecPtr;
using test::ConverterLibrariesTest;
using test::FramePtr;

TEST(TwoPassLogName, PrefixIndexAndLength)
{
    struct Case {
        std::string prefix;
        int index;
        std::string expected;
    };
    const std::string longPrefix(2000, 'p');
    const Case cases[] = {
        {"", 0, "ffmpeg2pass-0.log"},
        {"x", 1, "x-1.log"},
        {"/tmp/run/clip", 12, "/tmp/run/clip-12.log"},
        {longPrefix, 3, longPrefix.substr(0, 1023)},
    };
    for (const Case& c : cases) EXPECT_EQ(TwoPassLogName(c.prefix, c.index), c.expected) << c.prefix.size();
}

std::string ReadFile(const std::string& name)
{
    std::ifstream in(name, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

using TwoPassSetUp = ConverterLibrariesTest;

TEST_F(TwoPassSetUp, RefusesWhatItCannotOpenAndReadsWhatItCan)
{
    test::TempDir dir;
    std::ofstream(dir.file("empty-0.log")).close();
    std::ofstream(dir.file("stats-0.log")) << "in:0 out:0 type:1 q:236\nin:1 out:1 type:2 q:236\n";
    struct Case {
        const char* name;
        std::string prefix;
        int flags;
        std::string error;     // expected exception text, "" = none
        std::string statsIn;   // expected encoder stats_in in pass 2
    };
    const std::string missing = dir.file("missing");
    const std::string noFolder = dir.file("no/such/folder/x");
    const Case cases[] = {
        {"pass 2 without its log", missing, AV_CODEC_FLAG_PASS2,
         "Cannot read log file " + missing + "-0.log for pass-2 encoding", ""},
        {"pass 1 into a folder that does not exist", noFolder, AV_CODEC_FLAG_PASS1,
         "Cannot write log file " + noFolder + "-0.log for pass-1 encoding", ""},
        {"pass 2 with an empty log", dir.file("empty"), AV_CODEC_FLAG_PASS2, "", ""},
        {"pass 2 hands the whole log over", dir.file("stats"), AV_CODEC_FLAG_PASS2, "",
         "in:0 out:0 type:1 q:236\nin:1 out:1 type:2 q:236\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CodecPtr enc(ff::avcodec_alloc_context3(nullptr));
        enc->flags |= c.flags;
        try {
            TwoPassFile log = SetUpTwoPassLog(c.prefix, 0, enc.get());
            EXPECT_EQ(c.error, "");
            EXPECT_EQ(log, nullptr);  // only pass 1 keeps a file
            ASSERT_NE(enc->stats_in, nullptr);
            EXPECT_EQ(std::string(enc->stats_in), c.statsIn);
        } catch (const FFmpegException& e) {
            EXPECT_EQ(e.what(), c.error);
            EXPECT_EQ(enc->stats_in, nullptr);
        }
        FreeTwoPassStats(enc.get());
        EXPECT_EQ(enc->stats_in, nullptr);
    }
}

constexpr int kWidth = 320;
constexpr int kHeight = 240;
constexpr int kFrames = 75;  // 3 s at 25 fps
constexpr int64_t kTargetBitRate = 1000000;

// A clip whose detail changes a lot: calm for a second, then moving noise of growing strength,
// which a one-pass rate control can only follow late. (At much lower targets libavcodec 5.1.9
// refuses to open the pass-2 encoder for this clip and then double-frees in
// avcodec_free_context, so the target stays where pass 2 can reach it.)
FramePtr ClipPicture(int n)
{
    FramePtr f = test::MakeGradientPicture(kWidth, kHeight, n);
    uint32_t seed = 12345u + static_cast<uint32_t>(n) * 7919u;
    const int strength = n < 25 ? 0 : (n - 25) * 3;
    if (strength > 0)
        for (int y = 0; y < kHeight; ++y)
            for (int x = 0; x < kWidth; ++x) {
                seed = seed * 1664525u + 1013904223u;
                int v = f->data[0][y * f->linesize[0] + x] + static_cast<int>(seed >> 24) % (strength + 1) - strength / 2;
                f->data[0][y * f->linesize[0] + x] = static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v));
            }
    f->pts = n;
    return f;
}

// Encodes the clip with the given pass flags; the log goes through the two-pass module exactly
// as the pipeline uses it. Answers the bytes produced.
int64_t EncodeClip(int passFlags, const std::string& prefix)
{
    const AVCodec* codec = ff::avcodec_find_encoder_by_name("flv");
    EXPECT_NE(codec, nullptr);
    if (!codec) return -1;
    CodecPtr enc(ff::avcodec_alloc_context3(codec));
    enc->width = kWidth;
    enc->height = kHeight;
    enc->pix_fmt = AV_PIX_FMT_YUV420P;
    enc->time_base = AVRational{1, 25};
    enc->bit_rate = kTargetBitRate;
    enc->gop_size = 25;
    enc->flags |= passFlags;
    TwoPassFile log;
    if (passFlags) log = SetUpTwoPassLog(prefix, 0, enc.get());
    {
        std::lock_guard guard(CodecLock());
        if (ff::avcodec_open2(enc.get(), codec, nullptr) < 0) {
            ADD_FAILURE() << "flv encoder did not open";
            return -1;
        }
    }
    int64_t bytes = 0;
    AVPacket* packet = ff::av_packet_alloc();
    auto receive = [&] {
        while (ff::avcodec_receive_packet(enc.get(), packet) >= 0) {
            bytes += packet->size;
            WriteTwoPassStats(log.get(), enc.get());
            ff::av_packet_unref(packet);
        }
    };
    for (int n = 0; n < kFrames; ++n) {
        FramePtr f = ClipPicture(n);
        EXPECT_GE(ff::avcodec_send_frame(enc.get(), f.get()), 0);
        receive();
    }
    ff::avcodec_send_frame(enc.get(), nullptr);
    receive();
    ff::av_packet_free(&packet);
    FreeTwoPassStats(enc.get());
    return bytes;
}

using TwoPassEncode = ConverterLibrariesTest;

TEST_F(TwoPassEncode, SecondPassLandsCloserToTheTargetThanOnePass)
{
    test::TempDir dir;
    const std::string prefix = dir.file("clip");
    const int64_t firstPass = EncodeClip(AV_CODEC_FLAG_PASS1, prefix);
    ASSERT_GT(firstPass, 0);
    const std::string log = ReadFile(prefix + "-0.log");
    // One statistics line per encoded picture.
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), kFrames) << log.substr(0, 200);

    const int64_t secondPass = EncodeClip(AV_CODEC_FLAG_PASS2, prefix);
    const int64_t onePass = EncodeClip(0, std::string());
    ASSERT_GT(secondPass, 0);
    ASSERT_GT(onePass, 0);
    const double target = kTargetBitRate * (kFrames / 25.0) / 8.0;
    const double secondMiss = std::fabs(secondPass - target);
    const double oneMiss = std::fabs(onePass - target);
    EXPECT_LT(secondMiss, oneMiss) << "target " << target << " one pass " << onePass << " pass 2 " << secondPass;
}

}  // namespace
}  // namespace quorlane
