// quorlane-cli job --dump ("Command-line front end"): the done-when checks of the
// option vocabulary, run as a user runs them.
#include <gtest/gtest.h>

#include "TestSupport.h"

namespace quorlane {
namespace {

test::CommandResult Job(const std::string& args, const std::string& env = "")
{
    return test::RunCommand(env + " " + std::string(QUORLANE_CLI) + " job --dump " + args + " 2>&1");
}

bool HasLine(const std::string& out, const std::string& line)
{
    return ("\n" + out).find("\n" + line + "\n") != std::string::npos;
}

TEST(CliJob, RefusedIntegerPrintsTheTextAndExits2)
{
    auto r = Job("-vsync abc");
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "'abc' is not a valid integer value\n");
}

TEST(CliJob, ThreadsIsRefused)
{
    auto r = Job("-threads 2");
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "TODO: option - threads\n");
}

TEST(CliJob, DumpsSizeRatesChannelsAndSwitches)
{
    auto r = Job("-s 320x240 -r 15 -ar 22050 -ac 1 -an");
    ASSERT_EQ(r.status, 0) << r.out;
    for (const char* line : {"frame_width = 320", "frame_height = 240", "frame_rate = 15/1", "sample_rate = 22050",
                             "channels = 1", "no_audio = true", "video_codec = none", "filter_chain = \"\""})
        EXPECT_TRUE(HasLine(r.out, line)) << line << "\n" << r.out;
}

TEST(CliJob, DumpListsFieldsInTheDesignsOrder)
{
    auto r = Job("");
    ASSERT_EQ(r.status, 0) << r.out;
    size_t last = 0;
    for (const char* field : {"input_contexts =", "output_format =", "frame_width =", "scaler_flags =",
                              "sample_rate =", "subtitle_language =", "recording_time =", "input_sync =",
                              "hex_dump =", "hooks_used =", "option_names ="}) {
        const size_t at = ("\n" + r.out).find(std::string("\n") + field);
        ASSERT_NE(at, std::string::npos) << field;
        EXPECT_GT(at + 1, last) << field;
        last = at + 1;
    }
}

TEST(CliJob, PalDvdTarget)
{
    auto r = Job("-target pal-dvd");
    ASSERT_EQ(r.status, 0) << r.out;
    for (const char* line : {"frame_width = 720", "frame_height = 576", "frame_rate = 25/1", "sample_rate = 48000"})
        EXPECT_TRUE(HasLine(r.out, line)) << line << "\n" << r.out;
}

TEST(CliJob, PresetNeedsItsCodecFirst)
{
    auto refused = Job("-vpre hq -vcodec libx264");
    EXPECT_EQ(refused.status, 2);
    EXPECT_EQ(refused.out, "Preset \"hq\" not found\n");
    auto applied = Job("-vcodec libx264 -vpre hq");
    ASSERT_EQ(applied.status, 0) << applied.out;
    EXPECT_NE(applied.out.find("\"me_method=umh\""), std::string::npos) << applied.out;
    EXPECT_NE(applied.out.find("option_names = [\"flags\", \"cmp\", \"subq\""), std::string::npos) << applied.out;
}

TEST(CliJob, AnOptionWithoutItsValueIsAUsageError)
{
    auto missing = Job("-s");
    EXPECT_EQ(missing.status, 2);
    EXPECT_EQ(missing.out, "Option -s needs a value\n");
    auto input = Job("-i");
    EXPECT_EQ(input.status, 2);
    EXPECT_EQ(input.out, "-i needs a file name\n");
}

TEST(CliJob, LogLinesGoToStandardError)
{
    auto r = test::RunCommand(std::string(QUORLANE_CLI) + " job --dump -h 2>&1 >/dev/null");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "Do nothing: option - h\n");
}

// A comma locale, compiled into a private folder: floats take the user's separator while the
// process keeps "C" for the libraries.
TEST(CliJob, FloatsUseTheUsersDecimalSeparator)
{
    test::TempDir dir;
    auto made = test::RunCommand("localedef -i de_DE -f UTF-8 " + dir.file("de_DE.UTF-8") + " 2>&1");
    if (made.status != 0) GTEST_SKIP() << "cannot compile a de_DE locale here: " << made.out;
    // glibc's newlocale keeps its LOCPATH search list (a small leak of glibc's own, only with
    // LOCPATH set), so the leak check is off for these runs.
    const std::string env = "LOCPATH=" + dir.str() + " LC_ALL=de_DE.UTF-8 ASAN_OPTIONS=detect_leaks=0";
    auto comma = Job("-adrift_threshold 0,5 -aspect 1,85", env);
    ASSERT_EQ(comma.status, 0) << comma.out;
    EXPECT_TRUE(HasLine(comma.out, "audio_drift_threshold = 0.5")) << comma.out;
    EXPECT_TRUE(HasLine(comma.out, "aspect_ratio = 1.85")) << comma.out;
    auto point = Job("-adrift_threshold 0.5", env);
    EXPECT_EQ(point.status, 2);
    EXPECT_EQ(point.out, "'0.5' is not a valid floating point value\n");
    auto libraryText = Job("-i_qfactor 0.71", env);  // library options keep the C form
    ASSERT_EQ(libraryText.status, 0) << libraryText.out;
    EXPECT_NE(libraryText.out.find("option_names = [\"i_qfactor\"]"), std::string::npos) << libraryText.out;
}

}  // namespace
}  // namespace quorlane
