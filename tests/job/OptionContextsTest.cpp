// The option contexts behind the dispatcher's fall-through, and FFmpeg 5.1's private
// options recorded for the codec and format opens.
#include "JobTestSupport.h"

namespace quorlane {
namespace {

using OptionContextsTest = test::JobTest;

int64_t IntOption(void* ctx, const char* name)
{
    int64_t v = -12345;
    EXPECT_GE(ff::av_opt_get_int(ctx, name, 0, &v), 0) << name;
    return v;
}

std::string DictValue(AVDictionary* d, const char* key)
{
    const AVDictionaryEntry* e = ff::av_dict_get(d, key, nullptr, 0);
    return e ? e->value : "(absent)";
}

TEST_F(OptionContextsTest, ResetAllocatesFiveCodecContextsAFormatAndAScaler)
{
    const OptionContexts& oc = job.Contexts();
    ASSERT_TRUE(oc.Allocated());
    const AVMediaType types[] = {AVMEDIA_TYPE_VIDEO, AVMEDIA_TYPE_AUDIO, AVMEDIA_TYPE_DATA, AVMEDIA_TYPE_SUBTITLE,
                                 AVMEDIA_TYPE_ATTACHMENT};
    for (int i = 0; i < OPTION_CONTEXT_TYPES; ++i) {
        ASSERT_NE(oc.codec[i], nullptr);
        EXPECT_EQ(oc.codec[i]->codec_type, types[i]);
    }
    ASSERT_NE(oc.format, nullptr);
    ASSERT_NE(oc.scaler, nullptr);
    EXPECT_EQ(IntOption(oc.scaler, "sws_flags"), SWS_BICUBIC);
    EXPECT_TRUE(oc.names.empty());
}

TEST_F(OptionContextsTest, AVideoParameterLandsInVideoDataAndAttachmentContexts)
{
    EXPECT_TRUE(job.SetDefaultOption("g", "33"));
    const OptionContexts& oc = job.Contexts();
    EXPECT_EQ(IntOption(oc.codec[0], "g"), 33);
    EXPECT_EQ(IntOption(oc.codec[2], "g"), 33);
    EXPECT_EQ(IntOption(oc.codec[4], "g"), 33);
    EXPECT_NE(IntOption(oc.codec[1], "g"), 33);
    EXPECT_NE(IntOption(oc.codec[3], "g"), 33);
    ASSERT_EQ(oc.names.size(), 1u);
    EXPECT_STREQ(oc.names[0], "g");
    EXPECT_EQ(oc.name_count, 1);
}

TEST_F(OptionContextsTest, AnAudioParameterLandsInTheAudioContext)
{
    EXPECT_TRUE(job.SetDefaultOption("ar", "22050"));
    EXPECT_EQ(IntOption(job.Contexts().codec[1], "ar"), 22050);
}

TEST_F(OptionContextsTest, PrefixedNameIsTriedWithoutItsFirstLetter)
{
    EXPECT_TRUE(job.SetDefaultOption("vb", "400000"));
    EXPECT_EQ(IntOption(job.Contexts().codec[0], "b"), 400000);
    EXPECT_EQ(Field("option_names"), "[\"b\"]");
}

TEST_F(OptionContextsTest, FormatAndScalerOptions)
{
    EXPECT_TRUE(job.SetDefaultOption("packetsize", "2324"));
    EXPECT_EQ(IntOption(job.Contexts().format, "packetsize"), 2324);
    EXPECT_TRUE(job.SetDefaultOption("sws_flags", "neighbor"));
    EXPECT_EQ(IntOption(job.Contexts().scaler, "sws_flags"), SWS_POINT);
    EXPECT_EQ(Field("option_names"), "[\"packetsize\", \"sws_flags\"]");
}

TEST_F(OptionContextsTest, EmptyNameOrValueAndUnknownNamesAnswerFalse)
{
    EXPECT_FALSE(job.SetDefaultOption("", "1"));
    EXPECT_FALSE(job.SetDefaultOption("g", "  "));
    EXPECT_FALSE(job.SetDefaultOption("nosuchoption", "1"));
    EXPECT_TRUE(job.Contexts().names.empty());
}

TEST_F(OptionContextsTest, AnInvalidValueIsLoggedAndAnsweredFalse)
{
    test::LogCapture log;
    EXPECT_FALSE(job.SetDefaultOption("b", "abc"));
    EXPECT_TRUE(log.Contains("Invalid value \"abc\" for option \"b\"")) << ::testing::PrintToString(log.lines);
    EXPECT_TRUE(job.Contexts().names.empty());
}

TEST_F(OptionContextsTest, CopyContextOptionsCopiesRecordedOptionsMatchingTheMask)
{
    ASSERT_TRUE(job.SetDefaultOption("g", "77"));
    ASSERT_TRUE(job.SetDefaultOption("ar", "8000"));
    const AVCodec* flv = ff::avcodec_find_encoder_by_name("flv");
    ASSERT_NE(flv, nullptr);
    AVCodecContext* enc = ff::avcodec_alloc_context3(flv);
    CopyContextOptions(job.Contexts(), enc, job.Contexts().codec[0], OPT_VIDEO | OPT_ENCODING);
    EXPECT_EQ(enc->gop_size, 77);
    EXPECT_NE(enc->sample_rate, 8000);  // "ar" is no video option
    ff::avcodec_free_context(&enc);
}

TEST_F(OptionContextsTest, EncoderPrivateOptionsAreRecordedForTheEncoderOpen)
{
    job.ApplyOption("vcodec", "libx264");
    EXPECT_TRUE(job.SetDefaultOption("sc_threshold", "40"));
    EXPECT_TRUE(job.SetDefaultOption("preset", "slow"));
    AVDictionary* pending = job.PendingCodecPrivateOptions(AVMEDIA_TYPE_VIDEO);
    EXPECT_EQ(DictValue(pending, "sc_threshold"), "40");
    EXPECT_EQ(DictValue(pending, "preset"), "slow");
    ff::av_dict_free(&pending);
    // The chosen encoder checks the value now.
    test::LogCapture log;
    EXPECT_FALSE(job.SetDefaultOption("b_strategy", "abc"));
    EXPECT_TRUE(log.Contains("Invalid value \"abc\" for option \"b_strategy\""));
}

TEST_F(OptionContextsTest, PendingPrivateOptionsOpenTheEncoder)
{
    job.ApplyOption("vcodec", "libx264");
    ASSERT_TRUE(job.SetDefaultOption("coder", "0"));
    ASSERT_TRUE(job.SetDefaultOption("partitions", "none"));
    const AVCodec* x264 = ff::avcodec_find_encoder_by_name("libx264");
    ASSERT_NE(x264, nullptr);
    AVCodecContext* enc = ff::avcodec_alloc_context3(x264);
    enc->width = 64;
    enc->height = 64;
    enc->pix_fmt = AV_PIX_FMT_YUV420P;
    enc->time_base = AVRational{1, 25};
    AVDictionary* pending = job.PendingCodecPrivateOptions(AVMEDIA_TYPE_VIDEO);
    int ret;
    {
        std::lock_guard lock(CodecLock());
        ret = ff::avcodec_open2(enc, x264, &pending);
    }
    EXPECT_EQ(ret, 0);
    EXPECT_EQ(ff::av_dict_count(pending), 0) << "every recorded option was consumed";
    uint8_t* coder = nullptr;
    ASSERT_GE(ff::av_opt_get(enc->priv_data, "coder", 0, &coder), 0);
    EXPECT_STREQ(reinterpret_cast<char*>(coder), "0");  // cavlc
    ff::av_free(coder);
    ff::av_dict_free(&pending);
    ff::avcodec_free_context(&enc);
}

TEST_F(OptionContextsTest, MuxerPrivateOptionsAreRecordedForTheMuxer)
{
    EXPECT_TRUE(job.SetDefaultOption("muxrate", "1411200"));
    AVDictionary* pending = job.PendingFormatPrivateOptions();
    EXPECT_EQ(DictValue(pending, "muxrate"), "1411200");
    ff::av_dict_free(&pending);
    EXPECT_EQ(Field("format_private_options"), "[\"muxrate=1411200\"]");
}

TEST_F(OptionContextsTest, TheDebugOptionSwitchesTheEngineLogToDebug)
{
    const TLogLevel before = FFLogger().LogLevel();
    FFLogger().SetLogLevel(llInfo);
    EXPECT_TRUE(job.SetDefaultOption("debug", "pict"));
    EXPECT_EQ(FFLogger().LogLevel(), llDebug);
    FFLogger().SetLogLevel(before);
}

}  // namespace
}  // namespace quorlane
