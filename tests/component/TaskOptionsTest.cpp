// The option records' text forms: option lines, hook ranges, timestamps, colours, decimal
// values and fields by name.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

#include "FFmpeg.h"
#include "TaskOptions.h"

namespace quorlane {
namespace {

TEST(OptionLines, SplitAtFirstEqualsAfterNormalisingLineEnds)
{
    struct Case {
        const char* name;
        std::string text;
        std::vector<std::pair<std::string, std::string>> expected;
    };
    const Case cases[] = {
        {"crlf", " g=12\r\nvcodec=flv\r\n", {{"g", "12"}, {"vcodec", "flv"}}},
        {"lone cr", "a=1\rb=2", {{"a", "1"}, {"b", "2"}}},
        {"no equals", "newaudio\nsameq", {{"newaudio", ""}, {"sameq", ""}}},
        {"value keeps equals and spaces", "metadata=title= x ", {{"metadata", "title= x"}}},
        {"name untrimmed inside", "a =1", {{"a ", "1"}}},
        {"empty lines carry nothing", "a=1\n\n\nb=2", {{"a", "1"}, {"b", "2"}}},
        {"blank", "  \r\n ", {}},
    };
    for (const Case& c : cases) {
        std::vector<std::pair<std::string, std::string>> got;
        for (const TOptionLine& line : ParseOptionLines(c.text)) got.emplace_back(line.Name, line.Value);
        EXPECT_EQ(got, c.expected) << c.name;
    }
}

TEST(OptionLines, StageByName)
{
    const std::pair<const char*, TOptionStage> cases[] = {
        {"newvideo", osStream}, {"newaudio", osStream}, {"newsubtitle", osStream},
        {"apre", osPreset},     {"vpre", osPreset},     {"spre", osPreset},
        {"vcodec", osGeneral},  {"Newaudio", osGeneral}, {"", osGeneral}};
    for (const auto& [name, stage] : cases) EXPECT_EQ(OptionStage(name), stage) << name;
}

TEST(HookRanges, KeptWhenOrderedAndEndNotNegative)
{
    struct Case {
        const char* text;
        std::vector<TTimeRange> expected;
    };
    const Case cases[] = {
        {"1000-2000, 5000-4000, x-3000", {{1000000, 2000000}, {-1000, 3000000}}},
        {" 0-0 ", {{0, 0}}},
        {"7000-", {}},
        {"", {}},
        {"500-1000,,2000-3000", {{500000, 1000000}, {2000000, 3000000}}},
        {"$10-0x20", {{16000, 32000}}},
    };
    for (const Case& c : cases) EXPECT_EQ(ParseHookRanges(c.text), c.expected) << c.text;
}

// Runs a check under a fixed time zone, restoring the process's one afterwards.
class TimeZone {
public:
    explicit TimeZone(const char* tz)
    {
        const char* old = std::getenv("TZ");
        hadOld_ = old != nullptr;
        if (old) old_ = old;
        setenv("TZ", tz, 1);
        tzset();
    }
    ~TimeZone()
    {
        if (hadOld_)
            setenv("TZ", old_.c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }

private:
    bool hadOld_ = false;
    std::string old_;
};

TEST(Timestamp, LocalDateTimeToUnixSecondsWithTheBiasInEffect)
{
    struct Case {
        const char* tz;
        double days;
        int64_t expected;
    };
    const Case cases[] = {
        {"UTC", 25569.0, 0},
        {"UTC", 25569.5, 43200},
        {"UTC-2", 25569.5, 43200 - 7200},  // local noon east of UTC is 10:00 UTC
        {"EST5", 25569.0, 5 * 3600},
        // 2024-07-01 12:00 local in Berlin (summer, +2) and 2024-01-01 12:00 (winter, +1).
        {"Europe/Berlin", 45474.5, 1719828000},
        {"Europe/Berlin", 45292.5, 1704106800},
    };
    for (const Case& c : cases) {
        TimeZone zone(c.tz);
        EXPECT_EQ(DateTimeToUnix(c.days), c.expected) << c.tz << " " << c.days;
    }
}

TEST(Timestamp, NowRoundTripsToTheSystemClock)
{
    TimeZone zone("Europe/Berlin");
    const int64_t now = DateTimeToUnix(NowDateTime());
    EXPECT_NEAR(static_cast<double>(now), static_cast<double>(std::time(nullptr)), 2.0);
}

TEST(Colours, PlainValuesPassAndSystemColoursMapToTheScheme)
{
    const std::pair<int32_t, int32_t> cases[] = {
        {0x000000, 0x000000},
        {0x0000FF, 0x0000FF},
        {0x1FFFFFFF, 0xFFFFFF},                           // no colour: white-ish low bytes
        {static_cast<int32_t>(0xFF000005), 0xFFFFFF},     // window background
        {static_cast<int32_t>(0xFF000008), 0x000000},     // window text
        {static_cast<int32_t>(0xFF0000FE), 0x000000},     // unknown index
    };
    for (const auto& [in, out] : cases) EXPECT_EQ(ColorToRGB(in), out) << std::hex << in;
}

TEST(Decimals, WrittenAsTheOptionConverterReadsThem)
{
    for (double v : {0.7, 0.5, 1.25, 10.0}) {
        const std::string text = FormatUserDecimal(v);
        EXPECT_NEAR(OptionToFloat(text), v, 1e-6) << text;
    }
}

TEST(RecordFields, SetByNameWithTypeChecks)
{
    TOutputOptions out;
    TInputOptions in;
    std::string error;
    struct Case {
        const char* name;
        const char* value;
        bool ok;
    };
    const Case outputCases[] = {
        {"VideoBitrate", "400000", true}, {"videocodec", "flv", true},
        {"MuxDelay", "0.7", true},        {"CopyTimestamps", "true", true},
        {"FileName", "x.flv", true},      {"AudioChannels", "two", false},
        {"CopyTimestamps", "maybe", false}, {"NoSuchField", "1", false},
    };
    for (const Case& c : outputCases)
        EXPECT_EQ(SetOutputOptionField(out, c.name, c.value, error), c.ok) << c.name << " " << error;
    EXPECT_EQ(out.VideoBitrate, 400000);
    EXPECT_EQ(out.VideoCodec, "flv");
    EXPECT_FLOAT_EQ(out.MuxDelay, 0.7f);
    EXPECT_TRUE(out.CopyTimestamps);
    EXPECT_EQ(out.FileName, L"x.flv");
    EXPECT_EQ(out.AudioChannels, -1);
    EXPECT_FALSE(SetOutputOptionField(out, "NoSuchField", "1", error));
    EXPECT_EQ(error, "Unknown field: NoSuchField");

    EXPECT_TRUE(SetInputOptionField(in, "StartOffsetMs", "2000", error)) << error;
    EXPECT_EQ(in.StartOffsetMs, 2000);
    EXPECT_FALSE(SetInputOptionField(in, "VideoCodec", "flv", error));
}

}  // namespace
}  // namespace quorlane
