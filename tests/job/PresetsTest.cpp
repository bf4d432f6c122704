// Option presets: built-in rows, codec-qualified names, preset files and refusals.
#include <fstream>

#include "JobTestSupport.h"

namespace quorlane {
namespace {

using Presets = test::JobTest;

void WriteFile(const std::string& path, const std::string& text)
{
    std::ofstream f(path, std::ios::binary);
    f << text;
}

TEST_F(Presets, BareNameNeedsTheCodecFirst)
{
    EXPECT_EQ(Refusal("vpre", "hq"), "Preset \"hq\" not found");
    EXPECT_EQ(Field("option_names"), "[]");
}

TEST_F(Presets, CodecQualifiedBuiltinRowIsApplied)
{
    job.ApplyOption("vcodec", "libx264");
    job.ApplyOption("vpre", "hq");
    EXPECT_EQ(Field("option_names"),
              "[\"flags\", \"cmp\", \"subq\", \"me_range\", \"g\", \"keyint_min\", \"i_qfactor\", \"qcomp\", "
              "\"qmin\", \"qmax\", \"qdiff\", \"bf\", \"refs\", \"trellis\"]");
    EXPECT_EQ(Field("video_private_options"),
              "[\"coder=1\", \"partitions=i8x8,i4x4,p8x8,b8x8\", \"me_method=umh\", \"sc_threshold=40\", "
              "\"b_strategy=2\", \"direct-pred=3\", \"weightb=1\", \"mixed-refs=1\", \"8x8dct=1\", "
              "\"fast-pskip=1\"]");
    int64_t subq = 0;
    ff::av_opt_get_int(job.Contexts().codec[0], "subq", 0, &subq);
    EXPECT_EQ(subq, 8);
}

TEST_F(Presets, BuiltinNamesIgnoreCase)
{
    job.ApplyOption("vpre", "LIBX264-MAIN");
    EXPECT_EQ(Field("video_private_options"), "[\"8x8dct=0\"]");
}

TEST_F(Presets, EveryBuiltinRowIsAcceptedByLibx264)
{
    for (const char* name : {"baseline", "default", "fastfirstpass", "hq", "ipod320", "ipod640", "lossless_fast",
                             "lossless_max", "lossless_medium", "lossless_slow", "lossless_slower",
                             "lossless_ultrafast", "main", "max", "normal", "slowfirstpass"}) {
        job.Reset();
        job.ApplyOption("vcodec", "libx264");
        EXPECT_EQ(Refusal("vpre", name), "") << name;
    }
}

TEST_F(Presets, AudioPresetUsesTheAudioCodec)
{
    job.ApplyOption("vcodec", "libx264");
    job.ApplyOption("acodec", "libfaac");
    EXPECT_EQ(Refusal("apre", "hq"), "Preset \"libfaac-hq\" not found");
}

TEST_F(Presets, SubtitlePresetUsesTheSubtitleCodec)
{
    job.ApplyOption("scodec", "mov_text");
    EXPECT_EQ(Refusal("spre", "hq"), "Preset \"mov_text-hq\" not found");
}

TEST_F(Presets, EmptyNamesDoNothing)
{
    EXPECT_EQ(Refusal("vpre", ""), "");
    job.ApplyOptionPreset("", "hq");
    EXPECT_EQ(Field("option_names"), "[]");
}

TEST_F(Presets, FileWithLineEndingsBlanksAndCodecKeys)
{
    test::TempDir dir;
    const std::string path = dir.file("my.preset");
    WriteFile(path, "  \r\n g=48 \r\nVCODEC=mpeg4\rbufsize=1000\n\n  acodec=copy  \n");
    job.ApplyOption("vpre", path);
    EXPECT_EQ(Field("option_names"), "[\"g\", \"bufsize\"]");
    EXPECT_EQ(Field("video_codec"), "\"mpeg4\"");
    EXPECT_EQ(Field("audio_copy"), "true");
}

TEST_F(Presets, FileValueMayHoldEquals)
{
    test::TempDir dir;
    const std::string path = dir.file("p");
    WriteFile(path, "nosuch=a=b\n");  // goes to SetDefaultOption, which knows no such option
    EXPECT_EQ(Refusal("vpre", path),
              Format("%s: Invalid option or argument: \"nosuch=a=b\", parsed as \"nosuch\" = \"a=b\"", path.c_str()));
}

TEST_F(Presets, CommentLineIsInvalidSyntax)
{
    test::TempDir dir;
    const std::string path = dir.file("c");
    WriteFile(path, "g=12\n# a comment\nbf=2\n");
    EXPECT_EQ(Refusal("vpre", path), Format("%s: Invalid syntax: \"# a comment\"", path.c_str()));
    EXPECT_EQ(Field("option_names"), "[\"g\"]") << "lines before the failing one stay applied";
}

TEST_F(Presets, EmptyKeyOrValueIsInvalidSyntax)
{
    test::TempDir dir;
    const std::string path = dir.file("e");
    WriteFile(path, "=12\n");
    EXPECT_EQ(Refusal("vpre", path), Format("%s: Invalid syntax: \"=12\"", path.c_str()));
    WriteFile(path, "g=\n");
    EXPECT_EQ(Refusal("vpre", path), Format("%s: Invalid syntax: \"g=\"", path.c_str()));
}

TEST_F(Presets, RefusedLineNamesKeyAndValue)
{
    test::TempDir dir;
    const std::string path = dir.file("b");
    WriteFile(path, "b=abc\n");
    EXPECT_EQ(Refusal("vpre", path),
              Format("%s: Invalid option or argument: \"b=abc\", parsed as \"b\" = \"abc\"", path.c_str()));
}

TEST_F(Presets, MissingAndEmptyFiles)
{
    test::TempDir dir;
    const std::string missing = dir.file("nothing");
    EXPECT_EQ(Refusal("vpre", missing), Format("Preset \"%s\" not found", missing.c_str()));
    const std::string empty = dir.file("empty");
    WriteFile(empty, "");
    job.ApplyOption("vcodec", "libx264");
    EXPECT_EQ(Refusal("vpre", empty), Format("Preset \"%s\" not found", empty.c_str()));
}

}  // namespace
}  // namespace quorlane
