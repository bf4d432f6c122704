// The option table and dispatcher and the value conversions of its seven kinds.
#include <langinfo.h>
#include <locale.h>

#include <charconv>
#include <climits>
#include <cstring>

#include "FFmpeg.h"
#include "FFmpegLogger.h"
#include "MyUtils.h"

namespace quorlane {

// ------------------------------------------------------------------------------------------------
// Value conversions
// ------------------------------------------------------------------------------------------------

int OptionToInt(const std::string& text)
{
    try {
        return StrToInt(text);
    } catch (const EConvertError& e) {
        throw FFmpegException(e.what());
    }
}

int64_t OptionToInt64(const std::string& text)
{
    auto fail = [&]() -> int64_t {
        throw FFmpegException(Format("'%s' is not a valid integer value", text.c_str()));
    };
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
    unsigned base = 10;
    if (i < text.size() && text[i] == '$') {
        base = 16;
        ++i;
    } else if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
        base = 16;
        i += 2;
    }
    if (i >= text.size()) return fail();
    // Hex may spell the full 64-bit pattern; decimal must fit a signed 64-bit value.
    const uint64_t limit = base == 16 ? UINT64_MAX : uint64_t{INT64_MAX} + (negative ? 1 : 0);
    uint64_t value = 0;
    for (; i < text.size(); ++i) {
        const char ch = text[i];
        unsigned digit;
        if (ch >= '0' && ch <= '9') digit = ch - '0';
        else if (base == 16 && ch >= 'a' && ch <= 'f') digit = ch - 'a' + 10;
        else if (base == 16 && ch >= 'A' && ch <= 'F') digit = ch - 'A' + 10;
        else return fail();
        if (value > (limit - digit) / base) return fail();
        value = value * base + digit;
    }
    if (negative) return value == uint64_t{INT64_MAX} + 1 ? INT64_MIN : -static_cast<int64_t>(value);
    return static_cast<int64_t>(value);
}

char UserDecimalSeparator()
{
    static const char separator = [] {
        char sep = '.';
        locale_t loc = newlocale(LC_NUMERIC_MASK, "", static_cast<locale_t>(nullptr));
        if (loc) {
            const char* radix = nl_langinfo_l(RADIXCHAR, loc);
            if (radix && radix[0] && !radix[1]) sep = radix[0];
            freelocale(loc);
        }
        return sep;
    }();
    return separator;
}

double OptionToFloat(const std::string& text, char separator)
{
    auto fail = [&]() -> double {
        throw FFmpegException(Format("'%s' is not a valid floating point value", text.c_str()));
    };
    // Blanks around the number are allowed; the number itself is [sign] digits [sep digits]
    // [e [sign] digits] with at least one mantissa digit.
    size_t b = 0, e = text.size();
    while (b < e && (text[b] == ' ' || text[b] == '\t')) ++b;
    while (e > b && (text[e - 1] == ' ' || text[e - 1] == '\t')) --e;
    std::string c;  // the number in the C form for from_chars
    size_t i = b;
    bool negative = false;
    if (i < e && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    int digits = 0;
    while (i < e && text[i] >= '0' && text[i] <= '9') c += text[i++], ++digits;
    if (i < e && text[i] == separator) {
        c += '.';
        ++i;
        while (i < e && text[i] >= '0' && text[i] <= '9') c += text[i++], ++digits;
    }
    if (digits == 0) return fail();
    if (i < e && (text[i] == 'e' || text[i] == 'E')) {
        c += 'e';
        ++i;
        if (i < e && (text[i] == '+' || text[i] == '-')) c += text[i++];
        int expDigits = 0;
        while (i < e && text[i] >= '0' && text[i] <= '9') c += text[i++], ++expDigits;
        if (expDigits == 0) return fail();
    }
    if (i != e) return fail();
    double value = 0.0;
    auto r = std::from_chars(c.data(), c.data() + c.size(), value);
    if (r.ec != std::errc() || r.ptr != c.data() + c.size()) return fail();
    return negative ? -value : value;
}

double OptionToFloat(const std::string& text) { return OptionToFloat(text, UserDecimalSeparator()); }

// ------------------------------------------------------------------------------------------------
// The option table
// ------------------------------------------------------------------------------------------------

namespace {

enum class Kind { Integer, Int64, Float, Switch, Flag, Text, None };

struct Value {
    const std::string& name;
    const std::string& text;
    int i = 0;
    int64_t l = 0;
    double f = 0.0;
    bool b = false;
};

}  // namespace

struct TCustomFFmpeg::OptionRow {
    const char* name;
    Kind kind;
    void (*action)(TCustomFFmpeg& j, const Value& v);
};

const TCustomFFmpeg::OptionRow* TCustomFFmpeg::FindOptionRow(const std::string& name)
{
    using Row = OptionRow;
    static auto notDone = [](TCustomFFmpeg& j, const Value& v) {
        LogMessage(&j, llInfo, "Do nothing: option - " + v.name);
    };
    static auto bitRate = [](TCustomFFmpeg& j, const Value& v) { j.ParseBitRate(v.name, std::to_string(v.i)); };
    static auto crop = [](TCustomFFmpeg& j, const Value& v) { j.ParseCrop(v.name, v.i); };
    static auto pad = [](TCustomFFmpeg& j, const Value& v) { j.ParsePad(v.name, v.i); };
    static auto time = [](TCustomFFmpeg& j, const Value& v) { j.ParseTime(v.name, v.text); };
    static auto bsf = [](TCustomFFmpeg& j, const Value& v) { j.ParseBitstreamFilter(v.name, v.text); };
    static auto preset = [](TCustomFFmpeg& j, const Value& v) { j.ApplyOptionPreset(v.name, v.text); };

    // Dispatch order.
    static const Row table[] = {
        {"L", Kind::None, notDone},
        {"h", Kind::None, notDone},
        {"version", Kind::None, notDone},
        {"formats", Kind::None, notDone},
        {"f", Kind::Text, [](TCustomFFmpeg& j, const Value& v) { j.SetFormat(v.text); }},
        {"i", Kind::None, notDone},
        {"y", Kind::None, notDone},
        {"map", Kind::Text, [](TCustomFFmpeg& j, const Value& v) { j.ParseStreamMap(v.text); }},
        {"map_meta_data", Kind::Text, [](TCustomFFmpeg& j, const Value& v) { j.ParseMetadataMap(v.text); }},
        {"t", Kind::Text, time},
        {"fs", Kind::Int64, [](TCustomFFmpeg& j, const Value& v) { j.file_size_limit = v.l; }},
        {"ss", Kind::Text, time},
        {"itsoffset", Kind::Text, time},
        {"itsscale", Kind::Text, [](TCustomFFmpeg& j, const Value& v) { j.ParseTsScale(v.text); }},
        {"timestamp", Kind::Text, time},
        {"metadata", Kind::Text, [](TCustomFFmpeg& j, const Value& v) { j.ParseMetadata(v.text); }},
        {"dframes", Kind::Integer, [](TCustomFFmpeg& j, const Value& v) { j.frame_limits[flData] = v.i; }},
        {"benchmark", Kind::None, notDone},
        {"dump", Kind::Switch, [](TCustomFFmpeg& j, const Value& v) { j.packet_dump = v.b; }},
        {"hex", Kind::Switch, [](TCustomFFmpeg& j, const Value& v) { j.hex_dump = v.b; }},
        {"re", Kind::Switch, [](TCustomFFmpeg& j, const Value& v) { j.rate_emulation = v.b; }},
        {"loop_input", Kind::Switch, [](TCustomFFmpeg& j, const Value& v) { j.loop_input = v.b; }},
        {"loop_output", Kind::Integer, [](TCustomFFmpeg& j, const Value& v) { j.loop_output = v.i; }},
        {"v", Kind::Integer, [](TCustomFFmpeg& j, const Value& v) { j.verbosity = v.i; }},
        {"loglevel", Kind::Text,
         [](TCustomFFmpeg& j, const Value& v) {
             try {
                 FFLogger().SetLogLevelText(v.text);
             } catch (const EConvertError& e) {
                 throw FFmpegException(e.what());
             }
         }},
        {"target", Kind::Text, [](TCustomFFmpeg& j, const Value& v) { j.SetTargetOption(v.text); }},
        {"threads", Kind::None,
         [](TCustomFFmpeg& j, const Value& v) { throw FFmpegException("TODO: option - " + v.name); }},
        {"vsync", Kind::Integer, [](TCustomFFmpeg& j, const Value& v) { j.video_sync = v.i; }},
        {"async", Kind::Integer, [](TCustomFFmpeg& j, const Value& v) { j.audio_sync = v.i; }},
        {"adrift_threshold", Kind::Float, [](TCustomFFmpeg& j, const Value& v) { j.audio_drift_threshold = v.f; }},
        {"vglobal", Kind::Integer, [](TCustomFFmpeg& j, const Value& v) { j.video_global_header = v.i; }},
        {"copyts", Kind::Flag, [](TCustomFFmpeg& j, const Value& v) { j.copy_ts = true; }},
        {"shortest", Kind::Switch, [](TCustomFFmpeg& j, const Value& v) { j.shortest = v.b; }},
        {"dts_delta_threshold", Kind::Float, [](TCustomFFmpeg& j, const Value& v) { j.dts_delta_threshold = v.f; }},
        {"programid", Kind::Integer, [](TCustomFFmpeg& j, const Value& v) { j.program_id = v.i; }},
        {"xerror", Kind::Flag, [](TCustomFFmpeg& j, const Value& v) { j.exit_on_error = true; }},
        {"copyinkf", Kind::Integer, [](TCustomFFmpeg& j, const Value& v) { j.copy_initial_non_key = v.i; }},
        {"b", Kind::Integer, bitRate},
        {"vb", Kind::Integer, bitRate},
        {"vframes", Kind::Integer, [](TCustomFFmpeg& j, const Value& v) { j.frame_limits[flVideo] = v.i; }},
        {"r", Kind::Text, [](TCustomFFmpeg& j, const Value& v) { j.ParseFrameRate(v.text); }},
        {"s", Kind::Text, [](TCustomFFmpeg& j, const Value& v) { j.ParseFrameSize(v.text); }},
        {"aspect", Kind::Text, [](TCustomFFmpeg& j, const Value& v) { j.ParseAspect(v.text); }},
        {"pix_fmt", Kind::Text, [](TCustomFFmpeg& j, const Value& v) { j.ParsePixelFormat(v.text); }},
        {"croptop", Kind::Integer, crop},
        {"cropbottom", Kind::Integer, crop},
        {"cropleft", Kind::Integer, crop},
        {"cropright", Kind::Integer, crop},
        {"padtop", Kind::Integer, pad},
        {"padbottom", Kind::Integer, pad},
        {"padleft", Kind::Integer, pad},
        {"padright", Kind::Integer, pad},
        {"padcolor", Kind::Integer, [](TCustomFFmpeg& j, const Value& v) { j.SetPadColor(v.i); }},
        {"intra", Kind::Switch, [](TCustomFFmpeg& j, const Value& v) { j.intra_only = v.b; }},
        {"vn", Kind::Switch, [](TCustomFFmpeg& j, const Value& v) { j.no_video = v.b; }},
        {"vdt", Kind::Integer, [](TCustomFFmpeg& j, const Value& v) { j.video_discard = v.i; }},
        {"qscale", Kind::Float, [](TCustomFFmpeg& j, const Value& v) { j.ParseQScale(v.f); }},
        {"rc_override", Kind::Text, [](TCustomFFmpeg& j, const Value& v) { j.rc_override = v.text; }},
        {"vcodec", Kind::Text,
         [](TCustomFFmpeg& j, const Value& v) { j.ParseCodec(v.text, j.video_codec, j.video_copy); }},
        {"me_threshold", Kind::Integer, [](TCustomFFmpeg& j, const Value& v) { j.me_threshold = v.i; }},
        {"sameq", Kind::Switch, [](TCustomFFmpeg& j, const Value& v) { j.same_quality = v.b; }},
        {"pass", Kind::Integer, [](TCustomFFmpeg& j, const Value& v) { j.ParsePass(v.i); }},
        {"passlogfile", Kind::Text, [](TCustomFFmpeg& j, const Value& v) { j.pass_log_prefix = v.text; }},
        {"deinterlace", Kind::Switch, [](TCustomFFmpeg& j, const Value& v) { j.deinterlace = v.b; }},
        {"psnr", Kind::Switch, [](TCustomFFmpeg& j, const Value& v) { j.psnr = v.b; }},
        {"vstats", Kind::None, [](TCustomFFmpeg& j, const Value& v) { j.ParseVstats(v.name, v.text); }},
        {"vstats_file", Kind::Text, [](TCustomFFmpeg& j, const Value& v) { j.ParseVstats(v.name, v.text); }},
        {"vhook", Kind::Text, [](TCustomFFmpeg& j, const Value& v) { j.ParseHook(v.text); }},
        {"vfilters", Kind::Text,
         [](TCustomFFmpeg& j, const Value& v) {
             if (!v.text.empty()) j.filter_chain = v.text;
         }},
        {"intra_matrix", Kind::Text, [](TCustomFFmpeg& j, const Value& v) { j.ParseMatrix(v.text, j.intra_matrix); }},
        {"inter_matrix", Kind::Text, [](TCustomFFmpeg& j, const Value& v) { j.ParseMatrix(v.text, j.inter_matrix); }},
        {"top", Kind::Integer, [](TCustomFFmpeg& j, const Value& v) { j.top_field_first = v.i; }},
        {"dc", Kind::Integer, [](TCustomFFmpeg& j, const Value& v) { j.dc_precision = v.i; }},
        {"vtag", Kind::Text, [](TCustomFFmpeg& j, const Value& v) { j.ParseTag(v.name, v.text, j.video_tag); }},
        {"newvideo", Kind::None, [](TCustomFFmpeg& j, const Value& v) { j.NewOutputStream(AVMEDIA_TYPE_VIDEO); }},
        {"qphist", Kind::Switch, [](TCustomFFmpeg& j, const Value& v) { j.qp_histogram = v.b; }},
        {"force_fps", Kind::Switch, [](TCustomFFmpeg& j, const Value& v) { j.force_fps = v.b; }},
        {"ab", Kind::Integer, bitRate},
        {"aframes", Kind::Integer, [](TCustomFFmpeg& j, const Value& v) { j.frame_limits[flAudio] = v.i; }},
        {"aq", Kind::Float, [](TCustomFFmpeg& j, const Value& v) { j.audio_qscale = v.f; }},
        {"ar", Kind::Integer,
         [](TCustomFFmpeg& j, const Value& v) {
             if (v.i > 0) j.sample_rate = v.i;
         }},
        {"ac", Kind::Integer,
         [](TCustomFFmpeg& j, const Value& v) {
             if (v.i > 0) j.channels = v.i;
         }},
        {"an", Kind::Switch, [](TCustomFFmpeg& j, const Value& v) { j.no_audio = v.b; }},
        {"acodec", Kind::Text,
         [](TCustomFFmpeg& j, const Value& v) { j.ParseCodec(v.text, j.audio_codec, j.audio_copy); }},
        {"atag", Kind::Text, [](TCustomFFmpeg& j, const Value& v) { j.ParseTag(v.name, v.text, j.audio_tag); }},
        {"vol", Kind::Integer, [](TCustomFFmpeg& j, const Value& v) { j.volume = v.i; }},
        {"newaudio", Kind::None, [](TCustomFFmpeg& j, const Value& v) { j.NewOutputStream(AVMEDIA_TYPE_AUDIO); }},
        {"alang", Kind::Text, [](TCustomFFmpeg& j, const Value& v) { j.audio_language = v.text; }},
        {"sample_fmt", Kind::Text, [](TCustomFFmpeg& j, const Value& v) { j.ParseSampleFormat(v.text); }},
        {"sn", Kind::Switch, [](TCustomFFmpeg& j, const Value& v) { j.no_subtitles = v.b; }},
        {"scodec", Kind::Text,
         [](TCustomFFmpeg& j, const Value& v) { j.ParseCodec(v.text, j.subtitle_codec, j.subtitle_copy); }},
        {"newsubtitle", Kind::None,
         [](TCustomFFmpeg& j, const Value& v) { j.NewOutputStream(AVMEDIA_TYPE_SUBTITLE); }},
        {"slang", Kind::Text, [](TCustomFFmpeg& j, const Value& v) { j.subtitle_language = v.text; }},
        {"stag", Kind::Text, [](TCustomFFmpeg& j, const Value& v) { j.ParseTag(v.name, v.text, j.subtitle_tag); }},
        {"vc", Kind::Integer, [](TCustomFFmpeg& j, const Value& v) { j.video_channel = v.i; }},
        {"tvstd", Kind::Text, [](TCustomFFmpeg& j, const Value& v) { j.tv_standard = v.text; }},
        {"isync", Kind::Switch, [](TCustomFFmpeg& j, const Value& v) { j.input_sync = v.b; }},
        {"muxdelay", Kind::Float, [](TCustomFFmpeg& j, const Value& v) { j.mux_max_delay = v.f; }},
        {"muxpreload", Kind::Float, [](TCustomFFmpeg& j, const Value& v) { j.mux_preload = v.f; }},
        {"absf", Kind::Text, bsf},
        {"vbsf", Kind::Text, bsf},
        {"sbsf", Kind::Text, bsf},
        {"apre", Kind::Text, preset},
        {"vpre", Kind::Text, preset},
        {"spre", Kind::Text, preset},
    };

    for (const Row& row : table)
        if (name == row.name) return &row;
    return nullptr;
}

bool TCustomFFmpeg::OptionTakesValue(const std::string& name)
{
    const OptionRow* row = FindOptionRow(name);
    if (!row || name == "threads") return true;
    return row->kind != Kind::Switch && row->kind != Kind::Flag && row->kind != Kind::None;
}

void TCustomFFmpeg::ApplyOption(const std::string& name, const std::string& value)
{
    const OptionRow* row = FindOptionRow(name);
    if (!row) {
        SetDefaultOption(name, value);  // result dropped
        return;
    }
    Value v{name, value};
    switch (row->kind) {
    case Kind::Integer: v.i = OptionToInt(value); break;
    case Kind::Int64: v.l = OptionToInt64(value); break;
    case Kind::Float: v.f = OptionToFloat(value); break;
    case Kind::Switch: v.b = value != "0"; break;
    case Kind::Flag: v.b = true; break;
    case Kind::Text:
    case Kind::None: break;
    }
    row->action(*this, v);
}

bool TCustomFFmpeg::SetDefaultOption(const std::string& name, const std::string& value)
{
    // The encoders chosen so far decide which private options can be checked now (FFmpeg 5.1).
    const std::string chosen[OPTION_CONTEXT_TYPES] = {video_codec.value_or(""), audio_codec.value_or(""), "",
                                                      subtitle_codec.value_or(""), ""};
    return quorlane::SetDefaultOption(option_contexts_, name, value, chosen);
}

bool TCustomFFmpeg::SetCodecOption(const std::string& name, int64_t number)
{
    return SetDefaultOption(name, std::to_string(number));
}

}  // namespace quorlane
