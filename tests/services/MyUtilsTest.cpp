#include <gtest/gtest.h>

#include <clocale>

#include "MyUtils.h"
#include "TestSupport.h"

namespace quorlane {
namespace {

TEST(MyUtils, PathParts)
{
    struct Case { const wchar_t* in; const wchar_t* withSlash; const wchar_t* path; const wchar_t* name; } cases[] = {
        {L"/usr/lib", L"/usr/lib/", L"/usr/", L"lib"},
        {L"/usr/lib/", L"/usr/lib/", L"/usr/lib/", L""},
        {L"libx.so", L"libx.so/", L"", L"libx.so"},
        {L"", L"/", L"", L""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(IncludeTrailingBackslashW(c.in), c.withSlash);
        EXPECT_EQ(ExtractFilePathW(c.in), c.path);
        EXPECT_EQ(ExtractFileNameW(c.in), c.name);
    }
}

TEST(MyUtils, FileExistsAndSize)
{
    test::TempDir dir;
    const std::wstring file = SystemToWide(dir.file("a.bin"));
    EXPECT_FALSE(WideFileExists(file));
    EXPECT_EQ(WideFileSize(file), -1);
    FILE* f = fopen(dir.file("a.bin").c_str(), "wb");
    fwrite("12345", 1, 5, f);
    fclose(f);
    EXPECT_TRUE(WideFileExists(file));
    EXPECT_EQ(WideFileSize(file), 5);
    EXPECT_FALSE(WideFileExists(SystemToWide(dir.str())));  // a folder is no file
}

TEST(MyUtils, NonAsciiNamesUnderTheCLocaleUseUtf8)
{
    const std::wstring name = L"cl\u00e9\u4e2d.mp4";
    std::string saved = setlocale(LC_CTYPE, nullptr);
    setlocale(LC_CTYPE, "C");
    std::string out;
    EXPECT_FALSE(WideToLocale(name, out));
    EXPECT_EQ(WideToSystem(name), "cl\xc3\xa9\xe4\xb8\xad.mp4");
    EXPECT_EQ(Utf8ToWide(WideToSystem(name)), name);
    setlocale(LC_CTYPE, saved.c_str());
}

TEST(MyUtils, SplitFirst)
{
    struct Case { const char* source; const char* sep; bool cut; const char* first; const char* rest; } cases[] = {
        {"a=b=c", "=", true, "a", "b=c"},   {"a=b", "=", false, "a", "a=b"}, {"abc", "=", true, "abc", ""},
        {"=x", "=", true, "", "x"},         {"k::v", "::", true, "k", "v"},  {"", ",", true, "", ""},
    };
    for (const Case& c : cases) {
        std::string source = c.source;
        EXPECT_EQ(SplitFirst(source, c.sep, c.cut), c.first) << c.source;
        EXPECT_EQ(source, c.rest) << c.source;
    }
}

TEST(MyUtils, StrToInt)
{
    struct Case { const char* text; int value; bool ok; } cases[] = {
        {"42", 42, true},           {"-17", -17, true},         {"+5", 5, true},
        {"$1F", 31, true},          {"0x1f", 31, true},         {"2147483647", 2147483647, true},
        {"-2147483648", -2147483647 - 1, true}, {"0xFFFFFFFF", -1, true},
        {"2147483648", 0, false},   {"", 0, false},             {"  ", 0, false},
        {"12a", 0, false},          {"0x", 0, false},           {"$", 0, false},
        {"1.5", 0, false},          {"abc", 0, false},
    };
    for (const Case& c : cases) {
        if (c.ok) {
            EXPECT_EQ(StrToInt(c.text), c.value) << c.text;
        } else {
            try {
                StrToInt(c.text);
                ADD_FAILURE() << "accepted " << c.text;
            } catch (const EConvertError& e) {
                EXPECT_EQ(std::string(e.what()), std::string("'") + c.text + "' is not a valid integer value");
            }
        }
    }
}

}  // namespace
}  // namespace quorlane
