// The loader against fake library sets built by the tests (see CMakeLists.txt beside this file).
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "EntryPoints.h"
#include "FFmpegLoader.h"
#include "MyUtils.h"
#include "TestSupport.h"
#include "UnicodeProtocol.h"

namespace quorlane {
namespace {

std::wstring FakeSet(const char* name) { return SystemToWide(std::string(QUORLANE_FAKE_ROOT) + name); }

std::vector<std::string> ReadLines(const std::string& file)
{
    std::vector<std::string> lines;
    std::ifstream in(file);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

bool NothingLoaded(TLibraries libs)
{
    for (int i = 0; i < LibraryCount; ++i)
        if (libs.contains(static_cast<TLibrary>(i)) && FFLoader().IsLoaded(static_cast<TLibrary>(i))) return false;
    return true;
}

std::string CurrentDirectory()
{
    char buf[4096];
    return getcwd(buf, sizeof buf) ? buf : "";
}

TEST(Loader, LibraryFileNamesFollowTheLinuxNames)
{
    struct Case { TLibrary lib; const wchar_t* name; } cases[] = {
        {libAVCodec, L"libavcodec.so.59"},   {libAVDevice, L"libavdevice.so.59"}, {libAVFilter, L"libavfilter.so.8"},
        {libAVFormat, L"libavformat.so.59"}, {libAVUtil, L"libavutil.so.57"},     {libSwScale, L"libswscale.so.6"},
        {libSwResample, L"libswresample.so.4"}, {libMyUtil, L"libmyutil.so"},     {libSDL, L"libSDL2-2.0.so.0"},
    };
    for (const Case& c : cases) EXPECT_EQ(FFLoader().LibraryFileName(c.lib), c.name);
}

TEST(Loader, LoadsTheConverterSetInAscendingOrderAndThePlayerSetSeparately)
{
    test::TempDir tmp;
    const std::string log = tmp.file("order.log");
    setenv("QUORLANE_FAKE_LOG", log.c_str(), 1);

    TFFmpegLoader& loader = FFLoader();
    loader.SetLibraryPath(FakeSet("complete"));
    ASSERT_TRUE(loader.Load(ConverterLibraries)) << loader.LastErrMsg();
    EXPECT_EQ(ReadLines(log),
              (std::vector<std::string>{"avcodec", "avfilter", "avformat", "avutil", "swscale", "swresample", "myutil"}));
    EXPECT_TRUE(loader.Loaded(ConverterLibraries));
    EXPECT_FALSE(loader.Loaded(PlayerLibraries));
    EXPECT_NE(ff::my_strtok, nullptr);

    ASSERT_TRUE(loader.Load(PlayerLibraries)) << loader.LastErrMsg();
    EXPECT_TRUE(loader.Loaded(PlayerLibraries));
    EXPECT_EQ(ReadLines(log).back(), "SDL2-2.0");
    EXPECT_FALSE(loader.IsLoaded(libAVDevice));
    unsetenv("QUORLANE_FAKE_LOG");
}

TEST(Loader, PutsTheFolderOnPathOnceAndKeepsTheCurrentDirectory)
{
    const std::string cwd = CurrentDirectory();
    const std::string folder = std::string(QUORLANE_FAKE_ROOT) + "complete/";
    TFFmpegLoader& loader = FFLoader();
    loader.SetLibraryPath(SystemToWide(folder));
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(loader.Load(ConverterLibraries)) << loader.LastErrMsg();
        loader.Unload(ConverterLibraries);
    }
    const std::string path = std::getenv("PATH");
    EXPECT_EQ(path.rfind(folder + ":", 0), 0u) << path;
    EXPECT_EQ(path.find(folder, folder.size()), std::string::npos) << "folder added more than once: " << path;
    EXPECT_EQ(CurrentDirectory(), cwd);
}

TEST(Loader, MissingEntryPointRefusesTheLibraryAndUnloadsTheSet)
{
    TFFmpegLoader& loader = FFLoader();
    loader.SetLibraryPath(FakeSet("missing-entry"));
    EXPECT_FALSE(loader.Load(ConverterLibraries));
    EXPECT_EQ(loader.LastErrMsg().rfind("Load function my_strtok@libmyutil.so error: ", 0), 0u) << loader.LastErrMsg();
    EXPECT_NE(loader.LastErrMsg().find("my_strtok"), std::string::npos);
    EXPECT_TRUE(NothingLoaded(ConverterLibraries));
    EXPECT_EQ(ff::my_fopen, nullptr);
    EXPECT_EQ(ff::avcodec_version, nullptr);
}

TEST(Loader, MissingLibraryNamesFolderAndFileAndUnloadsWhatWasLoadedBefore)
{
    TFFmpegLoader& loader = FFLoader();
    const std::string folder = std::string(QUORLANE_FAKE_ROOT) + "no-myutil/";
    loader.SetLibraryPath(SystemToWide(folder));
    EXPECT_FALSE(loader.Load(ConverterLibraries));
    const std::string expected = "Load library " + folder + "libmyutil.so error: ";
    EXPECT_EQ(loader.LastErrMsg().rfind(expected, 0), 0u) << loader.LastErrMsg();
    EXPECT_GT(loader.LastErrMsg().size(), expected.size()) << "the system's reason is missing";
    EXPECT_TRUE(NothingLoaded(ConverterLibraries));
}

TEST(Loader, AFailureKeepsItsTextAfterLaterSuccess)
{
    TFFmpegLoader& loader = FFLoader();
    loader.SetLibraryPath(FakeSet("no-myutil"));
    ASSERT_FALSE(loader.Load(ConverterLibraries));
    const std::string failure = loader.LastErrMsg();
    loader.SetLibraryPath(FakeSet("complete"));
    ASSERT_TRUE(loader.Load(ConverterLibraries));
    EXPECT_EQ(loader.LastErrMsg(), failure);
}

TEST(Loader, BindingFormatTwiceRegistersTheUnicodeProtocolOnce)
{
    TFFmpegLoader& loader = FFLoader();
    loader.SetLibraryPath(FakeSet("complete"));
    ASSERT_TRUE(loader.Load(ConverterLibraries));
    ASSERT_TRUE(loader.Load(ConverterLibraries));
    loader.Unload(ConverterLibraries);
    ASSERT_TRUE(loader.Load(ConverterLibraries));
    EXPECT_TRUE(UnicodeProtocolRegistered());
    EXPECT_EQ(UnicodeProtocolRegistrations(), 1);
}

TEST(LoaderDeathTest, EmptySetsAreProgrammingErrors)
{
    EXPECT_DEATH(FFLoader().Load(TLibraries{}), "empty library set");
    EXPECT_DEATH(FFLoader().Loaded(TLibraries{}), "empty library set");
    EXPECT_DEATH(FFLoader().Unload(TLibraries{}), "empty library set");
}

}  // namespace
}  // namespace quorlane
