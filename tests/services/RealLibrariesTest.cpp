// The real libraries of this machine, loaded the way the programs load them.
#include <gtest/gtest.h>

#include "EntryPoints.h"
#include "FFmpegLoader.h"
#include "MyUtils.h"
#include "TestSupport.h"

namespace quorlane {
namespace {

TEST(RealLibraries, BothSetsLoadFromTheProgramsDllFolder)
{
    TFFmpegLoader& loader = FFLoader();
    loader.SetLibraryPath(SystemToWide(test::DllDir()));
    ASSERT_TRUE(loader.Load(ConverterLibraries)) << loader.LastErrMsg();
    EXPECT_FALSE(loader.Loaded(PlayerLibraries));
    ASSERT_TRUE(loader.Load(PlayerLibraries)) << loader.LastErrMsg();
    EXPECT_TRUE(loader.Loaded(PlayerLibraries));
    EXPECT_EQ(ff::avcodec_version() >> 16, 59u);
    EXPECT_EQ(ff::avutil_version() >> 16, 57u);

    // The helper library behaves as the C library does.
    char buf[8];
    EXPECT_EQ(ff::my_snprintf(buf, sizeof buf, "%s", "abcdefghij"), 10);
    EXPECT_STREQ(buf, "abcdefg");
    char* end = nullptr;
    EXPECT_EQ(ff::my_strtol("0x1F", &end, 0), 31);
    EXPECT_EQ(ff::my_strtol("017", &end, 0), 15);
    EXPECT_DOUBLE_EQ(ff::my_strtod("2.5x", &end), 2.5);
    EXPECT_STREQ(end, "x");
    char text[] = "a:b::c";
    std::vector<std::string> tokens;
    for (char* t = ff::my_strtok(text, ":"); t; t = ff::my_strtok(nullptr, ":")) tokens.emplace_back(t);
    EXPECT_EQ(tokens, (std::vector<std::string>{"a", "b", "c"}));
}

TEST(Cli, LibsPrintsOkWithTheProgramsLibraries)
{
    auto r = test::RunCommand(std::string(QUORLANE_CLI) + " libs 2>&1");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "ok\n");
}

TEST(Cli, LibsReportsAMissingEntryPointAndFails)
{
    test::TempDir dir;
    // The project's own libmyutil.so, built without my_strtok.
    const std::string src = std::string(QUORLANE_SOURCE_DIR) + "myutil/";
    auto build = test::RunCommand("cc -shared -fPIC -Dmy_strtok=my_strtok_missing -I" + src + " -o " +
                                  dir.file("libmyutil.so") + " " + src + "myutil.c 2>&1");
    ASSERT_EQ(build.status, 0) << build.out;
    auto r = test::RunCommand(std::string(QUORLANE_CLI) + " libs --dir " + dir.str() + " 2>&1");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out.rfind("Load function my_strtok@libmyutil.so error: ", 0), 0u) << r.out;
}

TEST(Cli, LinksNoMediaLibrary)
{
    auto r = test::RunCommand("readelf -d " + std::string(QUORLANE_CLI) + " 2>&1");
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("NEEDED"), std::string::npos);
    for (const char* lib : {"libavcodec", "libavformat", "libavutil", "libavfilter", "libswscale", "libswresample",
                            "libSDL2"})
        EXPECT_EQ(r.out.find(lib), std::string::npos) << lib << " is linked";
}

TEST(Cli, VersionAndHelp)
{
    auto v = test::RunCommand(std::string(QUORLANE_CLI) + " --version");
    EXPECT_EQ(v.status, 0);
    EXPECT_EQ(v.out, "quorlane-cli 2.0\n");
    auto h = test::RunCommand(std::string(QUORLANE_CLI) + " --help");
    EXPECT_EQ(h.status, 0);
    EXPECT_NE(h.out.find("libs"), std::string::npos);
}

}  // namespace
}  // namespace quorlane
