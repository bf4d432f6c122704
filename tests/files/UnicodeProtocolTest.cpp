// Wide names to library names and back, and the engine's own byte streams.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <clocale>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "EntryPoints.h"
#include "FFmpegLoader.h"
#include "Fixtures.h"
#include "FilesTestSupport.h"
#include "MyUtils.h"
#include "TestSupport.h"
#include "UnicodeProtocol.h"

namespace quorlane {
namespace {

TEST(UnicodeProtocol, LibraryNamesFollowTheLocaleAndTheProtocolList)
{
    struct Case {
        const char* locale;
        std::wstring name;
        bool wrapped;
    };
    const Case cases[] = {
        {"C.UTF-8", L"/tmp/a.avi", false},
        {"C.UTF-8", L"/tmp/\u00e9\u6f22.avi", false},  // the UTF-8 locale holds every name
        {"C", L"/tmp/a.avi", false},
        {"C", L"/tmp/\u00e9.avi", true},
        {"C", L"/tmp/\U0001F3A5.mkv", true},             // outside the 16-bit range
        {"C", L"udp://h\u00e9:1234", false},             // listed protocols are never wrapped
        {"C", L"http://h/\u6f22.flv", false},
        {"C", L"unicode:\u00e9", false},
        {"C", L"https://h/\u6f22.flv", true},            // not in the list
        {"C", L"UDP:\u00e9", true},                       // the list is case-sensitive
        {"C", L"dp:\u00e9", true},                        // only whole names between colons count
        {"C", L"c:/\u00e9.avi", true},                    // a drive-like prefix is decided by the characters
        {"C", L"c:/e.avi", false},
    };
    for (const Case& c : cases) {
        test::ScopedLocale locale(c.locale);
        const std::string lib = ToLibraryName(c.name);
        const std::string utf8 = WideToUtf8(c.name);
        EXPECT_EQ(lib, c.wrapped ? "unicode:utf8:" + utf8 : utf8) << c.locale << " " << utf8;
        EXPECT_EQ(IsUnicodeLibraryName(lib), c.wrapped) << utf8;
        EXPECT_TRUE(FromLibraryName(lib) == c.name) << c.locale << " " << utf8 << " came back as "
                                                    << WideToUtf8(FromLibraryName(lib));
    }
}

TEST(UnicodeProtocol, FromLibraryNameNeedsAtLeastOneCharacterAfterThePrefix)
{
    test::ScopedLocale locale("C");
    EXPECT_TRUE(FromLibraryName("unicode:utf8:") == L"unicode:utf8:");
    EXPECT_TRUE(FromLibraryName("unicode:utf8:x") == L"x");
    EXPECT_TRUE(FromLibraryName("unicode:utf8:a:b") == L"a:b");  // only the prefix is removed
    EXPECT_TRUE(FromLibraryName("unicode:utf8:\xC3\xA9") == L"\u00e9");
}

TEST(UnicodeProtocol, NamesAreNeverShortened)
{
    test::ScopedLocale locale("C");
    std::wstring name = L"/tmp/" + std::wstring(3000, L'\u00e9') + L".avi";
    std::string lib = ToLibraryName(name);
    EXPECT_GT(lib.size(), 2047u);
    EXPECT_TRUE(FromLibraryName(lib) == name);
}

class UnicodeStream : public ::testing::Test {
protected:
    void SetUp() override { fixtures::LoadLibraries(); }
    test::TempDir dir;
};

TEST_F(UnicodeStream, OpensForReadingAndWritingByTheWideName)
{
    test::ScopedLocale locale("C");
    const std::wstring name = SystemToWide(dir.str()) + L"\u00e9\u6f22.bin";
    const std::string lib = ToLibraryName(name);
    ASSERT_TRUE(IsUnicodeLibraryName(lib));

    struct Case {
        const char* what;
        int flags;
        int expected;
    };
    const Case missing[] = {{"read", AVIO_FLAG_READ, AVERROR(ENOENT)}};
    for (const Case& c : missing) {
        AVIOContext* pb = nullptr;
        EXPECT_EQ(OpenLibraryStream(&pb, lib, c.flags), c.expected) << c.what;
        EXPECT_EQ(pb, nullptr);
    }

    // Writing creates the file; a second write truncates it.
    for (const char* text : {"a longer first content", "short"}) {
        AVIOContext* pb = nullptr;
        ASSERT_EQ(OpenLibraryStream(&pb, lib, AVIO_FLAG_WRITE), 0);
        EXPECT_TRUE(IsUnicodeStream(pb));
        ff::avio_write(pb, reinterpret_cast<const unsigned char*>(text), static_cast<int>(strlen(text)));
        CloseLibraryStream(&pb);
        EXPECT_EQ(pb, nullptr);
        EXPECT_EQ(WideFileSize(name), static_cast<int64_t>(strlen(text)));
    }

    AVIOContext* pb = nullptr;
    ASSERT_EQ(OpenLibraryStream(&pb, lib, AVIO_FLAG_READ), 0);
    EXPECT_EQ(ff::avio_size(pb), 5);
    unsigned char buf[16] = {};
    EXPECT_EQ(ff::avio_read(pb, buf, sizeof buf), 5);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), 5), "short");
    EXPECT_EQ(ff::avio_seek(pb, 1, SEEK_SET), 1);
    EXPECT_EQ(ff::avio_read(pb, buf, 2), 2);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), 2), "ho");
    CloseLibraryStream(&pb);
}

TEST_F(UnicodeStream, RefusesAFolderAndAnUnwritablePlace)
{
    test::ScopedLocale locale("C");
    const std::string folder = dir.str() + "d\xC3\xA9";
    ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
    struct Case {
        std::string lib;
        int flags;
        int expected;
    };
    const Case cases[] = {
        {"unicode:utf8:" + folder, AVIO_FLAG_READ, AVERROR(EISDIR)},
        {"unicode:utf8:" + folder + "/missing/x.flv", AVIO_FLAG_WRITE, AVERROR(ENOENT)},
    };
    for (const Case& c : cases) {
        AVIOContext* pb = nullptr;
        EXPECT_EQ(OpenLibraryStream(&pb, c.lib, c.flags), c.expected) << c.lib;
        EXPECT_EQ(pb, nullptr);
    }
}

TEST_F(UnicodeStream, TheSizeQueryGivesSixtyFourBits)
{
    test::ScopedLocale locale("C");
    const std::string path = dir.str() + "big-\xC3\xA9.bin";
    int fd = ::open(path.c_str(), O_CREAT | O_WRONLY, 0644);
    ASSERT_GE(fd, 0);
    const int64_t size = (int64_t{5} << 30) + 3;  // sparse: costs no disk space
    ASSERT_EQ(ftruncate(fd, size), 0);
    ::close(fd);
    AVIOContext* pb = nullptr;
    ASSERT_EQ(OpenLibraryStream(&pb, "unicode:utf8:" + path, AVIO_FLAG_READ), 0);
    EXPECT_EQ(ff::avio_size(pb), size);
    EXPECT_EQ(ff::avio_seek(pb, size - 1, SEEK_SET), size - 1);
    CloseLibraryStream(&pb);
}

TEST_F(UnicodeStream, InputsAndOutputsOpenThroughTheHelperWithEitherKindOfName)
{
    test::ScopedLocale locale("C");
    fixtures::ClipSpec clipSpec = fixtures::FlvClip();
    clipSpec.name = "in-\xC3\xA9.flv";
    const std::string clip = fixtures::MakeClip(dir.str(), clipSpec);
    const std::string plainCopy = dir.str() + "plain.flv";
    std::filesystem::copy_file(clip, plainCopy);

    for (const std::wstring& name : {SystemToWide(clip), SystemToWide(plainCopy)}) {
        const std::string lib = ToLibraryName(name);
        AVFormatContext* ic = nullptr;
        ASSERT_GE(OpenLibraryInput(&ic, lib, nullptr, nullptr), 0) << lib;
        LibraryInputPtr input(ic);
        EXPECT_STREQ(input->iformat->name, "flv");
        EXPECT_EQ(IsUnicodeStream(input->pb), IsUnicodeLibraryName(lib));
        EXPECT_EQ(ff::avio_size(input->pb), WideFileSize(name));
    }

    // A prepared context keeps what the caller set on it.
    AVFormatContext* prepared = ff::avformat_alloc_context();
    prepared->probesize = 12345;
    AVFormatContext* ic = prepared;
    ASSERT_GE(OpenLibraryInput(&ic, ToLibraryName(SystemToWide(clip)), nullptr, nullptr), 0);
    EXPECT_EQ(ic, prepared);
    EXPECT_EQ(ic->probesize, 12345);
    CloseLibraryInput(&ic);
    EXPECT_EQ(ic, nullptr);

    // A failed open frees the prepared context too (the sanitizer run checks it).
    ic = ff::avformat_alloc_context();
    EXPECT_EQ(OpenLibraryInput(&ic, ToLibraryName(SystemToWide(dir.str() + "gone-\xC3\xA9.flv")), nullptr, nullptr),
              AVERROR(ENOENT));
    EXPECT_EQ(ic, nullptr);

    const std::wstring outName = SystemToWide(dir.str()) + L"out-\u6f22.flv";
    AVFormatContext* raw = nullptr;
    const std::string outLib = ToLibraryName(outName);
    ASSERT_GE(ff::avformat_alloc_output_context2(&raw, nullptr, "flv", outLib.c_str()), 0);
    LibraryOutputPtr oc(raw);
    ASSERT_EQ(OpenLibraryOutput(oc.get()), 0);
    EXPECT_TRUE(IsUnicodeStream(oc->pb));
    ff::avio_write(oc->pb, reinterpret_cast<const unsigned char*>("FLV"), 3);
    CloseLibraryOutputFile(oc.get());
    EXPECT_EQ(oc->pb, nullptr);
    EXPECT_EQ(WideFileSize(outName), 3);
}

}  // namespace
}  // namespace quorlane
