// The dispatcher and its handlers, table-driven: options applied in order to a reset job, then
// the dumped field values and the refusal text (Parts 4.2, 4.5, 4.6).
#include "JobTestSupport.h"

namespace quorlane {
namespace {

using Options = std::vector<std::pair<std::string, std::string>>;

struct Case {
    const char* name;
    Options options;
    std::vector<std::pair<std::string, std::string>> fields;  // field, dumped value
    std::string refusal;                                        // "" when every option is accepted
};

std::string Sixteens(int n)
{
    std::string s;
    for (int i = 0; i < n; ++i) s += (i ? "," : "") + std::string("16");
    return s;
}

std::string MatrixDump(int sixteens)
{
    std::string s = "[";
    for (int i = 0; i < 64; ++i) s += (i ? ", " : "") + std::string(i < sixteens ? "16" : "0");
    return s + "]";
}

const std::vector<Case>& Cases()
{
    static const std::vector<Case> cases = {
        // ---- integer, int64, float, switch, flag conversions ----
        {"IntegerRefusesLetters", {{"vsync", "abc"}}, {{"video_sync", "-1"}}, "'abc' is not a valid integer value"},
        {"IntegerReadsHexAfter0x", {{"vsync", "0x1"}}, {{"video_sync", "1"}}, ""},
        {"IntegerReadsHexAfterDollar", {{"vsync", "$10"}}, {{"video_sync", "16"}}, ""},
        {"IntegerSkipsLeadingBlanks", {{"vsync", "  5"}}, {{"video_sync", "5"}}, ""},
        {"IntegerRefusesTrailingBlanks", {{"vsync", "5 "}}, {{"video_sync", "-1"}}, "'5 ' is not a valid integer value"},
        {"IntegerRefusesEmpty", {{"vsync", ""}}, {{"video_sync", "-1"}}, "'' is not a valid integer value"},
        {"IntegerRefusesBareHexPrefix", {{"async", "0x"}}, {{"audio_sync", "0"}}, "'0x' is not a valid integer value"},
        {"IntegerTakesSigns", {{"vsync", "+7"}, {"async", "-3"}}, {{"video_sync", "7"}, {"audio_sync", "-3"}}, ""},
        {"IntegerRefuses32BitOverflow", {{"vsync", "2147483648"}}, {{"video_sync", "-1"}},
         "'2147483648' is not a valid integer value"},
        {"IntegerTakesSmallest32Bit", {{"vsync", "-2147483648"}}, {{"video_sync", "-2147483648"}}, ""},
        {"Int64TakesLargeSizes", {{"fs", "5000000000"}}, {{"file_size_limit", "5000000000"}}, ""},
        {"Int64RefusesOverflow", {{"fs", "9223372036854775808"}}, {{"file_size_limit", "0"}},
         "'9223372036854775808' is not a valid integer value"},
        {"Int64ReadsHex", {{"fs", "$FF"}}, {{"file_size_limit", "255"}}, ""},
        {"FloatReadsPointInThisLocale", {{"adrift_threshold", "0.5"}}, {{"audio_drift_threshold", "0.5"}}, ""},
        {"FloatReadsExponent", {{"dts_delta_threshold", "1e-2"}}, {{"dts_delta_threshold", "0.01"}}, ""},
        {"FloatRefusesLetters", {{"adrift_threshold", "abc"}}, {{"audio_drift_threshold", "0.1"}},
         "'abc' is not a valid floating point value"},
        {"FloatRefusesOtherSeparator", {{"muxdelay", "1,5"}}, {{"mux_max_delay", "0.7"}},
         "'1,5' is not a valid floating point value"},
        {"FloatRefusesEmpty", {{"muxpreload", ""}}, {{"mux_preload", "0.5"}}, "'' is not a valid floating point value"},
        {"SwitchEmptyIsTrue", {{"an", ""}}, {{"no_audio", "true"}}, ""},
        {"SwitchZeroIsFalse", {{"an", ""}, {"an", "0"}}, {{"no_audio", "false"}}, ""},
        {"FlagIgnoresZero", {{"copyts", "0"}, {"xerror", "0"}}, {{"copy_ts", "true"}, {"exit_on_error", "true"}}, ""},
        {"ThreadsIsRefused", {{"threads", "2"}}, {{"thread_count", "1"}}, "TODO: option - threads"},
        {"NamesAreCaseSensitive", {{"VCODEC", "mpeg4"}}, {{"video_codec", "none"}, {"option_names", "[]"}}, ""},
        {"UnknownNameChangesNothing", {{"nosuchoption", "1"}}, {{"option_names", "[]"}}, ""},
        // ---- plain fields ----
        {"FrameLimits", {{"vframes", "100"}, {"aframes", "5"}, {"dframes", "7"}},
         {{"frame_limits", "[100, 5, 7, 2147483647]"}}, ""},
        {"Switches",
         {{"dump", ""}, {"hex", ""}, {"re", ""}, {"loop_input", ""}, {"shortest", ""}, {"intra", ""}, {"vn", ""},
          {"sameq", ""}, {"deinterlace", ""}, {"psnr", ""}, {"qphist", ""}, {"force_fps", ""}, {"sn", ""}, {"isync", ""}},
         {{"packet_dump", "true"}, {"hex_dump", "true"}, {"rate_emulation", "true"}, {"loop_input", "true"},
          {"shortest", "true"}, {"intra_only", "true"}, {"no_video", "true"}, {"same_quality", "true"},
          {"deinterlace", "true"}, {"psnr", "true"}, {"qp_histogram", "true"}, {"force_fps", "true"},
          {"no_subtitles", "true"}, {"input_sync", "true"}},
         ""},
        {"Integers",
         {{"loop_output", "0"}, {"v", "3"}, {"vglobal", "2"}, {"copyinkf", "1"}, {"vdt", "48"}, {"me_threshold", "5"},
          {"top", "1"}, {"dc", "10"}, {"vol", "512"}, {"vc", "2"}, {"programid", "-1"}},
         {{"loop_output", "0"}, {"verbosity", "3"}, {"video_global_header", "2"}, {"copy_initial_non_key", "1"},
          {"video_discard", "48"}, {"me_threshold", "5"}, {"top_field_first", "1"}, {"dc_precision", "10"},
          {"volume", "512"}, {"video_channel", "2"}, {"program_id", "-1"}},
         ""},
        {"Floats", {{"muxdelay", "0.1"}, {"muxpreload", "0.2"}, {"aq", "5"}},
         {{"mux_max_delay", "0.1"}, {"mux_preload", "0.2"}, {"audio_qscale", "5"}}, ""},
        {"Texts",
         {{"rc_override", "0,100,2"}, {"passlogfile", "x"}, {"alang", "eng"}, {"slang", "fre"}, {"tvstd", "pal"}},
         {{"rc_override", "\"0,100,2\""}, {"pass_log_prefix", "\"x\""}, {"audio_language", "\"eng\""},
          {"subtitle_language", "\"fre\""}, {"tv_standard", "\"pal\""}},
         ""},
        {"EmptyFilterChainIsIgnored", {{"vfilters", "hflip"}, {"vfilters", ""}}, {{"filter_chain", "\"hflip\""}}, ""},
        // ---- formats ----
        {"FormatForBothSides", {{"f", "flv"}}, {{"input_format", "\"flv\""}, {"output_format", "\"flv\""}}, ""},
        {"FormatMuxerOnly", {{"f", "flv"}, {"f", "dvd"}}, {{"input_format", "none"}, {"output_format", "\"dvd\""}}, ""},
        {"FormatDemuxerOnly", {{"f", "aa"}}, {{"input_format", "\"aa\""}, {"output_format", "none"}}, ""},
        {"FormatUnknown", {{"f", "nosuchfmt"}}, {{"input_format", "none"}}, "Unknown input or output format: nosuchfmt"},
        {"FormatEmptyDoesNothing", {{"f", "flv"}, {"f", ""}}, {{"input_format", "\"flv\""}}, ""},
        {"FormatPgmyuvIsImage2", {{"f", "pgmyuv"}},
         {{"pgmyuv_mode", "true"}, {"input_format", "\"image2\""}, {"output_format", "\"image2\""}}, ""},
        // ---- video handlers ----
        {"SizeParsed", {{"s", "640x480"}}, {{"frame_width", "640"}, {"frame_height", "480"}}, ""},
        {"SizeOddIsStoredAndRefused", {{"s", "641x480"}}, {{"frame_width", "641"}, {"frame_height", "480"}},
         "Frame size must be a multiple of 2"},
        {"SizeGarbage", {{"s", "abc"}}, {{"frame_width", "0"}}, "Incorrect frame size"},
        {"SizeZero", {{"s", "0x480"}}, {{"frame_width", "0"}}, "Incorrect frame size"},
        {"SizeEmptyDoesNothing", {{"s", "320x240"}, {"s", ""}}, {{"frame_width", "320"}}, ""},
        {"SizeAbbreviation", {{"s", "cif"}}, {{"frame_width", "352"}, {"frame_height", "288"}}, ""},
        {"RateInteger", {{"r", "15"}}, {{"frame_rate", "15/1"}}, ""},
        {"RateFraction", {{"r", "30000/1001"}}, {{"frame_rate", "30000/1001"}}, ""},
        {"RateAbbreviation", {{"r", "pal"}}, {{"frame_rate", "25/1"}}, ""},
        {"RateGarbage", {{"r", "abc"}}, {{"frame_rate", "0/0"}}, "Incorrect frame rate"},
        {"RateZeroKeepsOld", {{"r", "15"}, {"r", "0"}}, {{"frame_rate", "15/1"}}, "Incorrect frame rate"},
        {"AspectRatio", {{"aspect", "16:9"}}, {{"aspect_ratio", "1.777777778"}}, ""},
        {"AspectZeroDenominator", {{"aspect", "4:0"}}, {{"aspect_ratio", "0"}}, "Incorrect aspect ratio specification."},
        {"AspectZero", {{"aspect", "0"}}, {{"aspect_ratio", "0"}}, "Incorrect aspect ratio specification."},
        {"AspectUnreadable", {{"aspect", "x:y"}}, {{"aspect_ratio", "0"}}, "Incorrect aspect ratio specification."},
        {"AspectFloat", {{"aspect", "1.85"}}, {{"aspect_ratio", "1.85"}}, ""},
        {"AspectNegative", {{"aspect", "-1.5"}}, {{"aspect_ratio", "-1.5"}}, ""},
        {"PixelFormat", {{"pix_fmt", "yuv420p"}}, {{"pixel_format", "0"}}, ""},
        {"PixelFormatUnknown", {{"pix_fmt", "nosuch"}}, {{"pixel_format", "-1"}}, "Unknown pixel format requested: nosuch"},
        {"CropTop", {{"s", "720x576"}, {"croptop", "8"}}, {{"crop_top", "8"}, {"frame_height", "568"}}, ""},
        {"CropTwiceSubtractsTwice", {{"s", "720x576"}, {"croptop", "8"}, {"croptop", "8"}},
         {{"crop_top", "8"}, {"frame_height", "560"}}, ""},
        {"CropTooLarge", {{"s", "720x576"}, {"croptop", "576"}}, {{"crop_top", "0"}, {"frame_height", "576"}},
         "Vertical crop dimensions are outside the range of the original image.\nRemember to crop first and scale second."},
        {"CropNegativeIgnored", {{"s", "720x576"}, {"cropbottom", "-1"}}, {{"crop_bottom", "0"}, {"frame_height", "576"}}, ""},
        {"CropSides", {{"s", "720x576"}, {"cropleft", "16"}, {"cropright", "8"}},
         {{"crop_left", "16"}, {"crop_right", "8"}, {"frame_width", "696"}}, ""},
        {"CropWiderThanPicture", {{"s", "720x576"}, {"cropright", "720"}}, {{"crop_right", "0"}},
         "Horizontal crop dimensions are outside the range of the original image.\nRemember to crop first and scale second."},
        {"CropWithoutSize", {{"croptop", "1"}}, {{"crop_top", "0"}},
         "Vertical crop dimensions are outside the range of the original image.\nRemember to crop first and scale second."},
        {"Pads", {{"padtop", "10"}, {"padbottom", "12"}, {"padleft", "4"}, {"padright", "6"}, {"padtop", "-1"}},
         {{"pad_top", "10"}, {"pad_bottom", "12"}, {"pad_left", "4"}, {"pad_right", "6"}}, ""},
        {"PadColorBlack", {{"padcolor", "0"}}, {{"pad_color", "[0, 128, 128]"}}, ""},
        {"PadColorWhite", {{"padcolor", "16777215"}}, {{"pad_color", "[255, 128, 128]"}}, ""},
        {"PadColorRed", {{"padcolor", "$FF"}}, {{"pad_color", "[76, 85, 255]"}}, ""},
        {"QscaleZero", {{"qscale", "0"}}, {{"video_qscale", "0"}}, "qscale must be > 0.0 and <= 255"},
        {"QscaleTooLarge", {{"qscale", "256"}}, {{"video_qscale", "0"}}, "qscale must be > 0.0 and <= 255"},
        {"QscaleLimits", {{"qscale", "255"}}, {{"video_qscale", "255"}}, ""},
        {"QscaleFraction", {{"qscale", "0.5"}}, {{"video_qscale", "0.5"}}, ""},
        {"VideoTag", {{"vtag", "XVID"}}, {{"video_tag", "1145656920"}}, ""},
        {"VideoTagTooShort", {{"vtag", "DX5"}}, {{"video_tag", "0"}}, "video tag parameter must be 4 chars"},
        {"AudioTagTooLong", {{"atag", "abcde"}}, {{"audio_tag", "0"}}, "audio tag parameter must be 4 chars"},
        {"SubtitleTagTooShort", {{"stag", "ab"}}, {{"subtitle_tag", "0"}}, "subtitle tag parameter must be 4 chars"},
        {"TagEmptyDoesNothing", {{"atag", "mp4a"}, {"atag", ""}}, {{"audio_tag", "1630826605"}}, ""},
        {"IntraMatrix", {{"intra_matrix", Sixteens(64)}}, {{"intra_matrix", MatrixDump(64)}}, ""},
        {"InterMatrixShort", {{"inter_matrix", Sixteens(63)}}, {{"inter_matrix", MatrixDump(63)}},
         "Syntax error in matrix \"" + Sixteens(63) + "\" at coeff 62"},
        {"PassOne", {{"pass", "1"}}, {{"pass", "1"}}, ""},
        {"PassThree", {{"pass", "3"}}, {{"pass", "0"}}, "pass number can be only 1 or 2"},
        {"BitRate", {{"b", "200000"}}, {{"option_names", "[\"b\"]"}}, ""},
        {"BitRateRefused", {{"b", "x"}}, {{"option_names", "[]"}}, "'x' is not a valid integer value"},
        {"VstatsFile", {{"vstats_file", "x.log"}}, {{"vstats_name", "\"x.log\""}}, ""},
        // ---- codec choice, audio, maps, times ----
        {"VideoCodec", {{"vcodec", "mpeg4"}}, {{"video_codec", "\"mpeg4\""}, {"video_copy", "false"}}, ""},
        {"VideoCopy", {{"vcodec", "mpeg4"}, {"vcodec", "copy"}}, {{"video_codec", "none"}, {"video_copy", "true"}}, ""},
        {"AudioCopyStaysAfterName", {{"acodec", "copy"}, {"acodec", "libmp3lame"}},
         {{"audio_codec", "\"libmp3lame\""}, {"audio_copy", "true"}}, ""},
        {"SubtitleCodec", {{"scodec", "mov_text"}, {"scodec", ""}}, {{"subtitle_codec", "\"mov_text\""}}, ""},
        {"SampleRate", {{"ar", "22050"}}, {{"sample_rate", "22050"}}, ""},
        {"SampleRateZeroAndNegativeIgnored", {{"ar", "0"}, {"ar", "-1"}}, {{"sample_rate", "44100"}}, ""},
        {"Channels", {{"ac", "1"}, {"ac", "0"}}, {{"channels", "1"}}, ""},
        {"SampleFormat", {{"sample_fmt", "s16"}}, {{"sample_format", "1"}}, ""},
        {"SampleFormatUnknownIsNone", {{"sample_fmt", "s16"}, {"sample_fmt", "nosuch"}}, {{"sample_format", "-1"}}, ""},
        {"MapWithDot", {{"map", "0.1"}}, {{"stream_maps", "[0:1:0:1]"}, {"stream_map_count", "1"}}, ""},
        {"MapWithSync", {{"map", "0:1:1:0"}}, {{"stream_maps", "[0:1:1:0]"}}, ""},
        {"MapHex", {{"map", "0x1.2"}}, {{"stream_maps", "[1:2:1:2]"}}, ""},
        {"MapGarbage", {{"map", "abc"}}, {{"stream_maps", "[0:0:0:0]"}}, ""},
        {"MetadataMap", {{"map_meta_data", "1:0"}}, {{"metadata_maps", "[1:0]"}, {"metadata_map_count", "1"}}, ""},
        {"Duration", {{"t", "30"}}, {{"recording_time", "30000000"}, {"RecordingTimeMs", "30000"}}, ""},
        {"DurationClock", {{"t", "00:01:30.5"}}, {{"recording_time", "90500000"}, {"RecordingTimeMs", "90500"}}, ""},
        {"DurationZeroIgnored", {{"t", "0"}}, {{"recording_time", "9223372036854775807"}, {"RecordingTimeMs", "-1"}}, ""},
        {"DurationGarbage", {{"t", "abc"}}, {{"recording_time", "9223372036854775807"}},
         "Invalid duration specification for t: abc"},
        {"StartTime", {{"ss", "10"}, {"ss", "0"}}, {{"start_time", "0"}}, ""},
        {"StartTimeGarbage", {{"ss", "1x"}}, {{"start_time", "0"}}, "Invalid duration specification for ss: 1x"},
        {"InputOffset", {{"itsoffset", "-2"}}, {{"input_ts_offset", "-2000000"}}, ""},
        {"Timestamp", {{"timestamp", "2001-02-03T04:05:06Z"}}, {{"output_timestamp", "981173106"}}, ""},
        {"TimestampGarbage", {{"timestamp", "abc"}}, {{"output_timestamp", "0"}},
         "Invalid date specification for timestamp: abc"},
        {"TsScale", {{"itsscale", "1:2.5"}}, {{"input_ts_scales", "[0:1=2.5]"}}, ""},
        {"TsScaleIndexTooLarge", {{"itsscale", "20:2.0"}}, {{"input_ts_scales", "[]"}}, "stream index over MAX_STREAMS(20)"},
        {"TsScaleIndexNegative", {{"itsscale", "-1:2.0"}}, {{"input_ts_scales", "[]"}}, "stream index over MAX_STREAMS(20)"},
        {"Metadata", {{"metadata", "title=My Film"}}, {{"metadata", "[\"title=My Film\"]"}}, ""},
        {"MetadataMissingEquals", {{"metadata", "title"}}, {{"metadata", "[]"}}, "Missing ="},
        {"VideoBitstreamFilter", {{"vbsf", "h264_mp4toannexb"}},
         {{"pending_video_bitstream_filters", "[\"h264_mp4toannexb\"]"}}, ""},
        {"AudioBitstreamFilterWithArgument", {{"absf", "aac_adtstoasc=x"}},
         {{"pending_audio_bitstream_filters", "[\"aac_adtstoasc\"]"}}, ""},
        {"SubtitleBitstreamFilterChain", {{"sbsf", "null"}, {"sbsf", "null"}, {"sbsf", "=x"}, {"sbsf", ""}},
         {{"pending_subtitle_bitstream_filters", "[\"null\", \"null\"]"}}, ""},
        {"UnknownBitstreamFilter", {{"vbsf", " nosuch "}}, {{"pending_video_bitstream_filters", "[]"}},
         "Unknown bitstream filter nosuch"},
        // ---- not done and placeholders ----
        {"NotDoneChangesNothing", {{"h", ""}, {"i", "x"}, {"y", ""}, {"benchmark", ""}}, {{"input_count", "0"}}, ""},
    };
    return cases;
}

class OptionTable : public test::JobTest, public ::testing::WithParamInterface<Case> {};

TEST_P(OptionTable, AppliesInOrder)
{
    const Case& c = GetParam();
    std::string refusal;
    for (const auto& [name, value] : c.options) {
        refusal = Refusal(name, value);
        if (!refusal.empty()) break;
    }
    EXPECT_EQ(refusal, c.refusal);
    for (const auto& [field, value] : c.fields) EXPECT_EQ(Field(field), value) << field;
}

INSTANTIATE_TEST_SUITE_P(Cases, OptionTable, ::testing::ValuesIn(Cases()),
                         [](const ::testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

// ---- Behaviour that the dump does not show ----

using OptionDispatcher = test::JobTest;

TEST_F(OptionDispatcher, NotDoneOptionsLogTheirName)
{
    test::LogCapture log;
    job.ApplyOption("h", "");
    EXPECT_TRUE(log.Contains("Do nothing: option - h"));
}

TEST_F(OptionDispatcher, MetadataSplitsAtTheFirstEquals)
{
    job.ApplyOption("metadata", "a=b=c");
    ASSERT_EQ(job.metadata.size(), 1u);
    EXPECT_EQ(job.metadata[0].key, "a");
    EXPECT_EQ(job.metadata[0].value, "b=c");
}

TEST_F(OptionDispatcher, LowBitRateWarnsOnlyThroughTheOption)
{
    {
        test::LogCapture log;
        job.ApplyOption("b", "200");
        EXPECT_TRUE(log.Contains("WARNING: The bitrate parameter is set too low"));
    }
    {
        test::LogCapture log;
        job.ApplyOption("b", "200000");
        EXPECT_FALSE(log.Contains("WARNING"));
    }
    {
        test::LogCapture log;
        EXPECT_TRUE(job.SetCodecOption("ab", 200));
        EXPECT_FALSE(log.Contains("WARNING"));
    }
    {
        test::LogCapture log;
        job.ApplyOption("ab", "64");
        EXPECT_TRUE(log.Contains("WARNING: The bitrate parameter is set too low"));
    }
}

TEST_F(OptionDispatcher, PixelAndSampleFormatListsLogEveryFormat)
{
    test::LogCapture log;
    job.ApplyOption("pix_fmt", "list");
    EXPECT_EQ(static_cast<int>(log.lines.size()), AV_PIX_FMT_NB + 1);  // header and every format
    EXPECT_EQ(job.pixel_format, -1);
    ASSERT_FALSE(log.lines.empty());
    EXPECT_EQ(log.lines[1].rfind("yuv420p", 0), 0u) << log.lines[1];
    log.lines.clear();
    job.ApplyOption("sample_fmt", "list");
    EXPECT_EQ(static_cast<int>(log.lines.size()), AV_SAMPLE_FMT_NB + 1);
    EXPECT_EQ(log.lines[0].rfind("name", 0), 0u) << log.lines[0];
    EXPECT_EQ(job.sample_format, -1);
}

TEST_F(OptionDispatcher, VstatsNamesAFileInTheProgramFolder)
{
    job.ApplyOption("vstats", "");
    ASSERT_TRUE(job.vstats_name.has_value());
    const std::string folder = WideToSystem(ApplicationFolder());
    EXPECT_EQ(job.vstats_name->rfind(folder + "vstats_", 0), 0u) << *job.vstats_name;
    EXPECT_EQ(job.vstats_name->size(), folder.size() + std::string("vstats_HHMMSS.log").size());
}

TEST_F(OptionDispatcher, LogLevelSetsTheEngineLog)
{
    const TLogLevel before = FFLogger().LogLevel();
    job.ApplyOption("loglevel", "WARNING");
    EXPECT_EQ(FFLogger().LogLevel(), llWarning);
    job.ApplyOption("loglevel", "48");
    EXPECT_EQ(FFLogger().LogLevel(), llDebug);
    EXPECT_EQ(Refusal("loglevel", "loud"), "'loud' is not a valid integer value");
    FFLogger().SetLogLevel(before);
}

TEST_F(OptionDispatcher, OneSidedFormatSetters)
{
    job.SetInputFormat("flv");
    EXPECT_STREQ(job.input_format->name, "flv");
    EXPECT_EQ(job.output_format, nullptr);
    job.SetOutputFormat("dvd");
    EXPECT_STREQ(job.output_format->name, "dvd");
    try {
        job.SetInputFormat("dvd");
        FAIL() << "no refusal";
    } catch (const FFmpegException& e) {
        EXPECT_STREQ(e.what(), "Unknown input format: dvd");
    }
    try {
        job.SetOutputFormat("aa");
        FAIL() << "no refusal";
    } catch (const FFmpegException& e) {
        EXPECT_STREQ(e.what(), "Unknown output format: aa");
    }
}

TEST_F(OptionDispatcher, FindCodecAnswersWithTexts)
{
    AVCodecID id = AV_CODEC_ID_PROBE;
    EXPECT_TRUE(job.FindCodec("", AVMEDIA_TYPE_VIDEO, true, id));
    EXPECT_EQ(id, AV_CODEC_ID_NONE);
    EXPECT_TRUE(job.FindCodec("mpeg4", AVMEDIA_TYPE_VIDEO, true, id));
    EXPECT_EQ(id, AV_CODEC_ID_MPEG4);
    EXPECT_FALSE(job.FindCodec("nosuch", AVMEDIA_TYPE_VIDEO, false, id));
    EXPECT_EQ(job.ErrorText, "Unknown decoder 'nosuch'");
    EXPECT_FALSE(job.FindCodec("libmp3lame", AVMEDIA_TYPE_VIDEO, true, id));
    EXPECT_EQ(job.ErrorText, "Invalid encoder type 'libmp3lame'");
}

TEST_F(OptionDispatcher, DirectSettersKeepTheirGuards)
{
    job.SetStartOffset(0);
    job.SetStartOffset(-5);
    EXPECT_EQ(job.start_time, 0);
    job.SetStartOffset(7);
    EXPECT_EQ(job.start_time, 7);
    job.SetProgramId(-1);
    EXPECT_EQ(job.program_id, 0);
    job.SetProgramId(3);
    EXPECT_EQ(job.program_id, 3);
    job.SetRecordingTimeMs(0);
    EXPECT_EQ(job.recording_time, INT64_MAX);
    EXPECT_EQ(job.RecordingTimeMs, -1);
    job.SetRecordingTimeMs(1500);
    EXPECT_EQ(job.recording_time, 1500000);
    EXPECT_EQ(job.RecordingTimeMs, 1500);
    job.SetRecordingTime(2500000);
    EXPECT_EQ(job.RecordingTimeMs, 2500);
    job.SetAudioVolume(-1);
    EXPECT_EQ(job.volume, 256);
    job.SetMuxMaxDelay(0);
    job.SetMuxPreload(-1);
    EXPECT_DOUBLE_EQ(job.mux_max_delay, 0.7);
    EXPECT_DOUBLE_EQ(job.mux_preload, 0.5);
    job.SetPadColor(0xFFFFFF);
    EXPECT_EQ(job.pad_color[0], 255);
    job.SetMetadata("k", "v");
    ASSERT_EQ(job.metadata.size(), 1u);
    EXPECT_EQ(job.metadata[0].value, "v");
}

TEST_F(OptionDispatcher, ResetRestoresEveryDefault)
{
    TCustomFFmpeg fresh;
    fresh.Reset();
    const std::string defaults = DumpOptionFields(fresh);
    for (const auto& c : Cases())
        for (const auto& [name, value] : c.options) Refusal(name, value);
    EXPECT_NE(DumpOptionFields(job), defaults);
    job.Reset();
    EXPECT_EQ(DumpOptionFields(job), defaults);
}

TEST(OptionValues, FloatsUseTheGivenSeparator)
{
    EXPECT_DOUBLE_EQ(OptionToFloat("1,5", ','), 1.5);
    EXPECT_DOUBLE_EQ(OptionToFloat(" -2,5e1 ", ','), -25.0);
    EXPECT_DOUBLE_EQ(OptionToFloat(",5", ','), 0.5);
    for (const char* bad : {"1.5", "", "e5", "1e", "1,5x", "--1", "1,,5"}) {
        try {
            OptionToFloat(bad, ',');
            ADD_FAILURE() << bad;
        } catch (const FFmpegException& e) {
            EXPECT_EQ(std::string(e.what()), Format("'%s' is not a valid floating point value", bad));
        }
    }
}

TEST(OptionValues, Int64Limits)
{
    EXPECT_EQ(OptionToInt64("9223372036854775807"), INT64_MAX);
    EXPECT_EQ(OptionToInt64("-9223372036854775808"), INT64_MIN);
    EXPECT_EQ(OptionToInt64("0xFFFFFFFFFFFFFFFF"), -1);
    EXPECT_THROW(OptionToInt64("-9223372036854775809"), FFmpegException);
    EXPECT_THROW(OptionToInt64("0x1FFFFFFFFFFFFFFFF"), FFmpegException);
    EXPECT_THROW(OptionToInt64("$"), FFmpegException);
}

}  // namespace
}  // namespace quorlane
