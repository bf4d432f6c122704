// The records a caller describes a conversion task with, and how they become options of the
// task's job: the option-line parser, the hook ranges, the recording timestamp, colours.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace quorlane {

class TCustomFFmpeg;

struct TInputOptions {
    std::wstring FileName;     // when empty, QueueTask writes its input file argument here
    std::string Format;        // forced input format by name
    int StartOffsetMs = -1;    // > 0: start offset
    int64_t StartOffsetUs = -1;  // > 0: start offset; applied after StartOffsetMs, so it wins
    int ProgramId = -1;        // >= 0: the program number to select
    std::string ExtraOptions;  // option lines, general stage only
    int Reserved1 = 0;         // not read
    int Reserved2 = 0;         // not read
};

struct TOutputOptions {
    std::wstring FileName;  // when empty, SetTaskOutput writes its output file argument here
    std::string Caption;    // carried, not read
    std::string Format;
    int PacketSize = -1;
    int MuxRate = -1;
    float MuxDelay = -1.0f;    // seconds
    float MuxPreload = -1.0f;  // seconds
    std::string AudioCodec;
    std::string AudioPreset;
    bool AudioDisable = false;
    int AudioVolume = -1;
    int AudioChannels = -1;
    int AudioSampleRate = -1;  // Hz
    int AudioBitrate = -1;     // bit/s
    int AudioBitrateTolerance = -1;
    std::string AudioLanguage;
    int AudioSync = 0;
    std::string AudioTag;
    std::string VideoCodec;
    std::string VideoPreset;
    bool VideoDisable = false;
    std::string FrameRate;
    std::string FrameSize;
    std::string AspectRatio;
    int CropTop = -1;
    int CropBottom = -1;
    int CropLeft = -1;
    int CropRight = -1;
    int PadTop = -1;
    int PadBottom = -1;
    int PadLeft = -1;
    int PadRight = -1;
    int32_t PadColor = 0;  // colour value; negative values name system colours
    int GopSize = -1;
    int VideoBitrate = -1;  // bit/s
    int MaxRate = -1;
    int MinRate = -1;
    int VideoBitrateTolerance = -1;
    int BufferSize = -1;
    int VideoSync = -1;
    std::string VideoTag;
    std::string VideoFilters;
    std::string SubtitleCodec;
    std::string SubtitlePreset;
    bool SubtitleDisable = false;
    std::string SubtitleLanguage;
    bool CopyTimestamps = false;
    int StartOffsetMs = -1;
    int64_t StartOffsetUs = -1;
    int DurationMs = -1;
    int64_t DurationUs = -1;
    double Timestamp = -1.0;  // days since 1899-12-30, local time; 0 = now
    int Year = -1;
    int Track = -1;
    std::string Title;
    std::string Author;
    std::string Copyright;
    std::string Comment;
    std::string Album;
    std::string Genre;
    int Target = 0;              // 1 "vcd", 2 "svcd", 3 "dvd"
    int TargetNorm = 0;          // 1 "pal", 2 "ntsc", otherwise "auto"
    int TargetFallbackNorm = 1;  // 1 "pal", otherwise "ntsc"
    bool UseCustomHook = false;
    bool UseBeforeHook = false;
    std::string HookRanges;  // "start-end,start-end" in milliseconds
    bool JoinInputs = false;
    std::string ExtraOptions;
    int Reserved1 = 0;  // not read
    int Reserved2 = 0;  // not read
};

// ---- Option lines ----

// When a line of ExtraOptions is applied: stream lines need the opened output, preset lines
// come after the fixed fields, everything else before them.
enum TOptionStage { osGeneral, osPreset, osStream };

struct TOptionLine {
    std::string Name;
    std::string Value;
};

// Trims the text, turns CR LF and lone CR into LF and splits it into lines; each line is split
// at its first "=" (neither part trimmed). Empty lines carry no option and are skipped.
std::vector<TOptionLine> ParseOptionLines(const std::string& text);
TOptionStage OptionStage(const std::string& name);
// Applies the lines of `text` that belong to `stage`, in order; refusals propagate.
void ApplyOptionLines(TCustomFFmpeg& job, const std::string& text, TOptionStage stage);

// ---- Hook ranges ----

struct TTimeRange {
    int64_t Start;  // µs
    int64_t End;    // µs
    bool operator==(const TTimeRange&) const = default;
};

// "1000-2000, 5000-4000" in milliseconds to microsecond ranges in text order; unreadable
// numbers count as -1 ms; a range is kept when start <= end and end >= 0.
std::vector<TTimeRange> ParseHookRanges(const std::string& text);

// ---- Conversions ----

// A local date-time (days since 1899-12-30) to whole seconds since 1970-01-01 UTC, with the
// time-zone bias in effect at that date-time.
int64_t DateTimeToUnix(double localDays);
// The current local date-time in days since 1899-12-30.
double NowDateTime();
// A colour value to plain RGB (low byte red): system colours (high bit set) map to their
// default scheme colour.
int32_t ColorToRGB(int32_t color);
// A decimal number as the option converter reads it: with the user's decimal separator.
std::string FormatUserDecimal(double value);

// ---- Set-up of a job from the records (the component wires hooks and opens the files) ----

// Everything QueueTask applies before the input opens: general option lines, format, start
// offset, program id.
void ApplyInputOptions(TCustomFFmpeg& job, const TInputOptions& options);
// Everything SetTaskOutput applies before the output opens: target, general option lines, the
// fields from Format to Genre, preset option lines.
void ApplyOutputOptions(TCustomFFmpeg& job, const TOutputOptions& options);

// ---- Records by field name (the command line fills them this way) ----

// Sets the field `name` from text. False with a reason when the field is unknown or the value
// does not fit its type.
bool SetInputOptionField(TInputOptions& options, const std::string& name, const std::string& value,
                         std::string& error);
bool SetOutputOptionField(TOutputOptions& options, const std::string& name,
                          const std::string& value, std::string& error);

}  // namespace quorlane
