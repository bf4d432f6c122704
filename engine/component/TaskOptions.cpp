#include "TaskOptions.h"

#include <charconv>
#include <chrono>
#include <cmath>
#include <ctime>

#include "FFmpeg.h"
#include "MyUtils.h"

namespace quorlane {
namespace {

std::string Trim(const std::string& text)
{
    size_t begin = 0;
    size_t end = text.size();
    while (begin < end && static_cast<unsigned char>(text[begin]) <= ' ') ++begin;
    while (end > begin && static_cast<unsigned char>(text[end - 1]) <= ' ') --end;
    return text.substr(begin, end - begin);
}

int64_t Int64OrMinusOne(const std::string& text)
{
    try {
        return OptionToInt64(text);
    } catch (const FFmpegException&) {
        return -1;
    }
}

// Seconds east of UTC in effect at the given moment.
long LocalOffsetAt(time_t when)
{
    tm local{};
    localtime_r(&when, &local);
    return local.tm_gmtoff;
}

constexpr double UnixEpochDays = 25569.0;  // 1970-01-01 as days since 1899-12-30
constexpr double SecondsPerDay = 86400.0;

}  // namespace

// ---- Option lines ----

std::vector<TOptionLine> ParseOptionLines(const std::string& text)
{
    std::string rest;
    const std::string trimmed = Trim(text);
    rest.reserve(trimmed.size());
    for (size_t i = 0; i < trimmed.size(); ++i) {
        if (trimmed[i] == '\r') {
            rest += '\n';
            if (i + 1 < trimmed.size() && trimmed[i + 1] == '\n') ++i;
        } else {
            rest += trimmed[i];
        }
    }
    std::vector<TOptionLine> lines;
    size_t pos = 0;
    while (pos < rest.size()) {
        size_t end = rest.find('\n', pos);
        if (end == std::string::npos) end = rest.size();
        const std::string line = rest.substr(pos, end - pos);
        pos = end + 1;
        if (line.empty()) continue;
        const size_t eq = line.find('=');
        if (eq == std::string::npos)
            lines.push_back({line, std::string()});
        else
            lines.push_back({line.substr(0, eq), line.substr(eq + 1)});
    }
    return lines;
}

TOptionStage OptionStage(const std::string& name)
{
    if (name == "newvideo" || name == "newaudio" || name == "newsubtitle") return osStream;
    if (name == "apre" || name == "vpre" || name == "spre") return osPreset;
    return osGeneral;
}

void ApplyOptionLines(TCustomFFmpeg& job, const std::string& text, TOptionStage stage)
{
    for (const TOptionLine& line : ParseOptionLines(text))
        if (OptionStage(line.Name) == stage) job.ApplyOption(line.Name, line.Value);
}

// ---- Hook ranges ----

std::vector<TTimeRange> ParseHookRanges(const std::string& text)
{
    std::vector<TTimeRange> ranges;
    const std::string trimmed = Trim(text);
    size_t pos = 0;
    for (;;) {
        const size_t comma = trimmed.find(',', pos);
        const std::string item =
            Trim(trimmed.substr(pos, comma == std::string::npos ? std::string::npos : comma - pos));
        const size_t dash = item.find('-');
        const std::string before = Trim(item.substr(0, dash));
        const std::string after = dash == std::string::npos ? std::string() : item.substr(dash + 1);
        const int64_t start = Int64OrMinusOne(before) * 1000;
        const int64_t end = Int64OrMinusOne(after) * 1000;
        if (start <= end && end >= 0) ranges.push_back({start, end});
        if (comma == std::string::npos) break;
        pos = comma + 1;
    }
    return ranges;
}

// ---- Conversions ----

int64_t DateTimeToUnix(double localDays)
{
    // The bias is the one in effect at that local time (summer or winter), found from the
    // moment the date-time would be in UTC and corrected once across a change of offset.
    const double asUtc = (localDays - UnixEpochDays) * SecondsPerDay;
    const time_t guess = static_cast<time_t>(std::floor(asUtc));
    long offset = LocalOffsetAt(guess);
    offset = LocalOffsetAt(guess - offset);
    const double biasMinutes = -static_cast<double>(offset) / 60.0;
    return static_cast<int64_t>(
        std::llround((localDays - UnixEpochDays + biasMinutes / 1440.0) * SecondsPerDay));
}

double NowDateTime()
{
    using namespace std::chrono;
    const double seconds =
        duration_cast<microseconds>(system_clock::now().time_since_epoch()).count() / 1e6;
    const long offset = LocalOffsetAt(static_cast<time_t>(seconds));
    return (seconds + static_cast<double>(offset)) / SecondsPerDay + UnixEpochDays;
}

int32_t ColorToRGB(int32_t color)
{
    // The classic default scheme, indexed by system colour number.
    static constexpr uint32_t SystemColors[] = {
        0xC8D0D4, 0xA56E3A, 0x6A240A, 0x808080, 0xC8D0D4, 0xFFFFFF, 0x000000, 0x000000,
        0x000000, 0xFFFFFF, 0xC8D0D4, 0xC8D0D4, 0x808080, 0x6A240A, 0xFFFFFF, 0xC8D0D4,
        0x808080, 0x808080, 0x000000, 0xC8D0D4, 0xFFFFFF, 0x404040, 0xC8D0D4, 0x000000,
        0xE1FFFF, 0xB4B4B4, 0x800000, 0xF0CAA6, 0xC0C0C0, 0xC56A31, 0xD8E9EC};
    if (color >= 0) return color & 0xFFFFFF;
    const uint32_t index = static_cast<uint32_t>(color) & 0xFF;
    if (index < std::size(SystemColors)) return static_cast<int32_t>(SystemColors[index]);
    return 0;
}

std::string FormatUserDecimal(double value)
{
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, static_cast<float>(value));
    std::string text(buffer, result.ptr);
    const char separator = UserDecimalSeparator();
    for (char& c : text)
        if (c == '.') c = separator;
    return text;
}

// ---- Set-up of a job ----

void ApplyInputOptions(TCustomFFmpeg& job, const TInputOptions& options)
{
    ApplyOptionLines(job, options.ExtraOptions, osGeneral);
    if (!options.Format.empty()) job.SetInputFormat(options.Format);
    if (options.StartOffsetMs > 0) job.SetStartOffset(int64_t(options.StartOffsetMs) * 1000);
    if (options.StartOffsetUs > 0) job.SetStartOffset(options.StartOffsetUs);
    job.SetProgramId(options.ProgramId);
}

void ApplyOutputOptions(TCustomFFmpeg& job, const TOutputOptions& o)
{
    const auto integer = [](int64_t v) { return std::to_string(v); };
    const auto boolean = [](bool v) { return std::string(v ? "1" : "0"); };
    const auto text = [&](const char* name, const std::string& value) {
        if (!value.empty()) job.ApplyOption(name, value);
    };
    const auto positive = [&](const char* name, int value) {
        if (value > 0) job.ApplyOption(name, integer(value));
    };
    const auto generic = [&](const char* name, int value) {
        if (value > 0) job.SetCodecOption(name, value);  // the result is not a refusal
    };
    const auto preset = [&](const char* name, const std::string& value) {
        if (!value.empty()) job.ApplyOptionPreset(name, value);
    };
    const auto metadata = [&](const char* key, const std::string& value) {
        if (!value.empty()) job.SetMetadata(key, value);
    };

    if (o.Target >= 1 && o.Target <= 3) {
        static const char* const Kinds[] = {"vcd", "svcd", "dvd"};
        const char* norm = o.TargetNorm == 1 ? "pal" : o.TargetNorm == 2 ? "ntsc" : "auto";
        const char* fallback = o.TargetFallbackNorm == 1 ? "pal" : "ntsc";
        job.SetTarget(Kinds[o.Target - 1], norm, fallback);
    }
    ApplyOptionLines(job, o.ExtraOptions, osGeneral);

    if (!o.Format.empty()) job.SetOutputFormat(o.Format);
    generic("packetsize", o.PacketSize);
    generic("muxrate", o.MuxRate);
    if (o.MuxDelay > 0) job.ApplyOption("muxdelay", FormatUserDecimal(o.MuxDelay));
    if (o.MuxPreload > 0) job.ApplyOption("muxpreload", FormatUserDecimal(o.MuxPreload));
    text("acodec", o.AudioCodec);
    preset("apre", o.AudioPreset);
    job.ApplyOption("an", boolean(o.AudioDisable));
    if (o.AudioVolume >= 0) job.ApplyOption("vol", integer(o.AudioVolume));
    positive("ac", o.AudioChannels);
    positive("ar", o.AudioSampleRate);
    generic("ab", o.AudioBitrate);
    generic("abt", o.AudioBitrateTolerance);
    job.ApplyOption("alang", o.AudioLanguage);
    job.ApplyOption("async", integer(o.AudioSync));
    text("atag", o.AudioTag);
    text("vcodec", o.VideoCodec);
    preset("vpre", o.VideoPreset);
    job.ApplyOption("vn", boolean(o.VideoDisable));
    text("r", o.FrameRate);
    text("s", o.FrameSize);
    text("aspect", o.AspectRatio);
    const std::pair<const char*, int> edges[] = {
        {"croptop", o.CropTop}, {"cropbottom", o.CropBottom}, {"cropleft", o.CropLeft},
        {"cropright", o.CropRight}, {"padtop", o.PadTop}, {"padbottom", o.PadBottom},
        {"padleft", o.PadLeft}, {"padright", o.PadRight}};
    for (const auto& [name, value] : edges)
        if (value >= 0) job.ApplyOption(name, integer(value));
    job.SetPadColor(ColorToRGB(o.PadColor));
    generic("gop", o.GopSize);
    generic("vb", o.VideoBitrate);
    generic("maxrate", o.MaxRate);
    generic("minrate", o.MinRate);
    generic("bt", o.VideoBitrateTolerance);
    generic("bufsize", o.BufferSize);
    job.ApplyOption("vsync", integer(o.VideoSync));
    text("vtag", o.VideoTag);
    text("vfilters", o.VideoFilters);
    text("scodec", o.SubtitleCodec);
    preset("spre", o.SubtitlePreset);
    job.ApplyOption("sn", boolean(o.SubtitleDisable));
    job.ApplyOption("slang", o.SubtitleLanguage);
    // "copyts" is a flag that ignores its value: applying it for False would copy timestamps
    // anyway and cut every trimmed conversion, so the field follows the record directly.
    job.copy_ts = o.CopyTimestamps;
    if (o.StartOffsetMs > 0) job.SetStartOffset(int64_t(o.StartOffsetMs) * 1000);
    if (o.StartOffsetUs > 0) job.SetStartOffset(o.StartOffsetUs);
    if (o.DurationMs > 0) job.SetRecordingTimeMs(o.DurationMs);
    if (o.DurationUs > 0) job.SetRecordingTime(o.DurationUs);
    if (o.Timestamp == 0.0)
        job.output_timestamp = DateTimeToUnix(NowDateTime());
    else if (o.Timestamp > 0.0)
        job.output_timestamp = DateTimeToUnix(o.Timestamp);
    if (o.Year > 0) job.SetMetadata("year", integer(o.Year));
    if (o.Track > 0) job.SetMetadata("track", integer(o.Track));
    metadata("title", o.Title);
    metadata("author", o.Author);
    metadata("copyright", o.Copyright);
    metadata("comment", o.Comment);
    metadata("album", o.Album);
    metadata("genre", o.Genre);

    ApplyOptionLines(job, o.ExtraOptions, osPreset);
}

}  // namespace quorlane
