// The fields of the task option records by name, for front ends that fill them from text.
#include <strings.h>

#include <charconv>
#include <variant>

#include "FFmpeg.h"
#include "MyUtils.h"
#include "TaskOptions.h"

namespace quorlane {
namespace {

template <class R>
using FieldRef = std::variant<int R::*, int64_t R::*, float R::*, double R::*, bool R::*,
                              std::string R::*, std::wstring R::*>;

template <class R>
struct Field {
    const char* name;
    FieldRef<R> ref;
};

bool ParseNumber(const std::string& text, double& out)
{
    try {
        out = OptionToFloat(text);  // the user's decimal separator
        return true;
    } catch (const FFmpegException&) {
    }
    const char* begin = text.data();
    const char* end = begin + text.size();
    const auto result = std::from_chars(begin, end, out);  // "." always works too
    return result.ec == std::errc() && result.ptr == end;
}

bool ParseBoolean(const std::string& text, bool& out)
{
    for (const char* yes : {"1", "true", "yes", "on"})
        if (strcasecmp(text.c_str(), yes) == 0) return out = true, true;
    for (const char* no : {"0", "false", "no", "off"})
        if (strcasecmp(text.c_str(), no) == 0) return out = false, true;
    return false;
}

template <class R, size_t N>
bool SetField(const Field<R> (&fields)[N], R& record, const std::string& name,
              const std::string& value, std::string& error)
{
    for (const Field<R>& field : fields) {
        if (strcasecmp(field.name, name.c_str()) != 0) continue;
        return std::visit(
            [&](auto member) -> bool {
                using T = std::remove_reference_t<decltype(record.*member)>;
                T& target = record.*member;
                try {
                    if constexpr (std::is_same_v<T, int>) {
                        target = OptionToInt(value);
                    } else if constexpr (std::is_same_v<T, int64_t>) {
                        target = OptionToInt64(value);
                    } else if constexpr (std::is_same_v<T, float> || std::is_same_v<T, double>) {
                        double number;
                        if (!ParseNumber(value, number))
                            throw FFmpegException(
                                Format("'%s' is not a valid floating point value", value.c_str()));
                        target = static_cast<T>(number);
                    } else if constexpr (std::is_same_v<T, bool>) {
                        if (!ParseBoolean(value, target))
                            throw FFmpegException(
                                Format("'%s' is not a valid boolean value", value.c_str()));
                    } else if constexpr (std::is_same_v<T, std::wstring>) {
                        target = SystemToWide(value);
                    } else {
                        target = value;
                    }
                } catch (const FFmpegException& e) {
                    error = Format("%s: %s", field.name, e.what());
                    return false;
                }
                return true;
            },
            field.ref);
    }
    error = Format("Unknown field: %s", name.c_str());
    return false;
}

using I = TInputOptions;
const Field<I> InputFields[] = {
    {"FileName", &I::FileName},       {"Format", &I::Format},
    {"StartOffsetMs", &I::StartOffsetMs}, {"StartOffsetUs", &I::StartOffsetUs},
    {"ProgramId", &I::ProgramId},     {"ExtraOptions", &I::ExtraOptions},
};

using O = TOutputOptions;
const Field<O> OutputFields[] = {
    {"FileName", &O::FileName},
    {"Caption", &O::Caption},
    {"Format", &O::Format},
    {"PacketSize", &O::PacketSize},
    {"MuxRate", &O::MuxRate},
    {"MuxDelay", &O::MuxDelay},
    {"MuxPreload", &O::MuxPreload},
    {"AudioCodec", &O::AudioCodec},
    {"AudioPreset", &O::AudioPreset},
    {"AudioDisable", &O::AudioDisable},
    {"AudioVolume", &O::AudioVolume},
    {"AudioChannels", &O::AudioChannels},
    {"AudioSampleRate", &O::AudioSampleRate},
    {"AudioBitrate", &O::AudioBitrate},
    {"AudioBitrateTolerance", &O::AudioBitrateTolerance},
    {"AudioLanguage", &O::AudioLanguage},
    {"AudioSync", &O::AudioSync},
    {"AudioTag", &O::AudioTag},
    {"VideoCodec", &O::VideoCodec},
    {"VideoPreset", &O::VideoPreset},
    {"VideoDisable", &O::VideoDisable},
    {"FrameRate", &O::FrameRate},
    {"FrameSize", &O::FrameSize},
    {"AspectRatio", &O::AspectRatio},
    {"CropTop", &O::CropTop},
    {"CropBottom", &O::CropBottom},
    {"CropLeft", &O::CropLeft},
    {"CropRight", &O::CropRight},
    {"PadTop", &O::PadTop},
    {"PadBottom", &O::PadBottom},
    {"PadLeft", &O::PadLeft},
    {"PadRight", &O::PadRight},
    {"PadColor", &O::PadColor},
    {"GopSize", &O::GopSize},
    {"VideoBitrate", &O::VideoBitrate},
    {"MaxRate", &O::MaxRate},
    {"MinRate", &O::MinRate},
    {"VideoBitrateTolerance", &O::VideoBitrateTolerance},
    {"BufferSize", &O::BufferSize},
    {"VideoSync", &O::VideoSync},
    {"VideoTag", &O::VideoTag},
    {"VideoFilters", &O::VideoFilters},
    {"SubtitleCodec", &O::SubtitleCodec},
    {"SubtitlePreset", &O::SubtitlePreset},
    {"SubtitleDisable", &O::SubtitleDisable},
    {"SubtitleLanguage", &O::SubtitleLanguage},
    {"CopyTimestamps", &O::CopyTimestamps},
    {"StartOffsetMs", &O::StartOffsetMs},
    {"StartOffsetUs", &O::StartOffsetUs},
    {"DurationMs", &O::DurationMs},
    {"DurationUs", &O::DurationUs},
    {"Timestamp", &O::Timestamp},
    {"Year", &O::Year},
    {"Track", &O::Track},
    {"Title", &O::Title},
    {"Author", &O::Author},
    {"Copyright", &O::Copyright},
    {"Comment", &O::Comment},
    {"Album", &O::Album},
    {"Genre", &O::Genre},
    {"Target", &O::Target},
    {"TargetNorm", &O::TargetNorm},
    {"TargetFallbackNorm", &O::TargetFallbackNorm},
    {"UseCustomHook", &O::UseCustomHook},
    {"UseBeforeHook", &O::UseBeforeHook},
    {"HookRanges", &O::HookRanges},
    {"JoinInputs", &O::JoinInputs},
    {"ExtraOptions", &O::ExtraOptions},
};

}  // namespace

bool SetInputOptionField(TInputOptions& options, const std::string& name, const std::string& value,
                         std::string& error)
{
    return SetField(InputFields, options, name, value, error);
}

bool SetOutputOptionField(TOutputOptions& options, const std::string& name,
                          const std::string& value, std::string& error)
{
    return SetField(OutputFields, options, name, value, error);
}

}  // namespace quorlane
