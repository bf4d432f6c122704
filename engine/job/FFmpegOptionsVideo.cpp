// Video option handlers: size, rate, aspect, pixel format, crop, pad, pad colour,
// fixed quantizer, tags, matrices, pass, bit rates, vstats names and "vhook".
#include <ctime>

#include "FFmpeg.h"
#include "FFmpegLogger.h"
#include "FrameHook.h"
#include "MyUtils.h"

namespace quorlane {
namespace {

std::string Trimmed(const char* s)
{
    std::string t(s);
    size_t b = t.find_first_not_of(" \t\r\n");
    size_t e = t.find_last_not_of(" \t\r\n");
    return b == std::string::npos ? std::string() : t.substr(b, e - b + 1);
}

// An integer read the lenient way (unreadable text counts as 0).
int IntOrZero(const std::string& text)
{
    try {
        return StrToInt(text);
    } catch (const EConvertError&) {
        return 0;
    }
}

}  // namespace

void TCustomFFmpeg::ParseFrameSize(const std::string& arg)
{
    if (arg.empty()) return;
    // av_parse_video_size writes both values only when it succeeds.
    if (ff::av_parse_video_size(&frame_width, &frame_height, arg.c_str()) < 0)
        throw FFmpegException("Incorrect frame size");
    if (frame_width % 2 != 0 || frame_height % 2 != 0)
        throw FFmpegException("Frame size must be a multiple of 2");
}

void TCustomFFmpeg::ParseFrameRate(const std::string& arg)
{
    if (arg.empty()) return;
    AVRational rate{0, 0};
    if (ff::av_parse_video_rate(&rate, arg.c_str()) < 0) throw FFmpegException("Incorrect frame rate");
    frame_rate = rate;
}

void TCustomFFmpeg::ParseAspect(const std::string& arg)
{
    if (arg.empty()) return;
    double ratio = 0.0;
    const size_t colon = arg.find(':');
    if (colon != std::string::npos) {
        const int x = IntOrZero(arg.substr(0, colon));
        const int y = IntOrZero(arg.substr(colon + 1));
        if (y > 0) ratio = static_cast<double>(x) / y;
    } else {
        try {
            ratio = OptionToFloat(arg);
        } catch (const FFmpegException&) {
            ratio = 0.0;
        }
    }
    if (ratio == 0.0) throw FFmpegException("Incorrect aspect ratio specification.");
    aspect_ratio = ratio;
}

void TCustomFFmpeg::ParsePixelFormat(const std::string& arg)
{
    if (arg == "list") {
        // FFmpeg 5.1 knows AV_PIX_FMT_NB formats (the old library 60): the header line and all.
        char buf[128];
        for (int i = -1; i < AV_PIX_FMT_NB; ++i) {
            buf[0] = 0;
            ff::av_get_pix_fmt_string(buf, sizeof buf, static_cast<AVPixelFormat>(i));
            LogMessage(this, llInfo, Trimmed(buf));
        }
        return;
    }
    const AVPixelFormat fmt = ff::av_get_pix_fmt(arg.c_str());
    if (fmt == AV_PIX_FMT_NONE) throw FFmpegException(Format("Unknown pixel format requested: %s", arg.c_str()));
    pixel_format = fmt;
}

void TCustomFFmpeg::ParseCrop(const std::string& opt, int value)
{
    if (value < 0) return;
    if (opt == "croptop" || opt == "cropbottom") {
        if (value >= frame_height)
            throw FFmpegException(
                "Vertical crop dimensions are outside the range of the original image.\n"
                "Remember to crop first and scale second.");
        (opt == "croptop" ? crop_top : crop_bottom) = value;
        frame_height -= value;
    } else {
        if (value >= frame_width)
            throw FFmpegException(
                "Horizontal crop dimensions are outside the range of the original image.\n"
                "Remember to crop first and scale second.");
        (opt == "cropleft" ? crop_left : crop_right) = value;
        frame_width -= value;
    }
}

void TCustomFFmpeg::ParsePad(const std::string& opt, int value)
{
    if (value < 0) return;
    if (opt == "padtop") pad_top = value;
    else if (opt == "padbottom") pad_bottom = value;
    else if (opt == "padleft") pad_left = value;
    else if (opt == "padright") pad_right = value;
}

void TCustomFFmpeg::SetPadColor(int color)
{
    const int r = color & 255;
    const int g = (color >> 8) & 255;
    const int b = (color >> 16) & 255;
    pad_color[0] = (307 * r + 602 * g + 117 * b + 512) >> 10;
    pad_color[1] = ((-173 * r - 340 * g + 512 * b + 511) >> 10) + 128;  // arithmetic shift
    pad_color[2] = ((512 * r - 429 * g - 84 * b + 511) >> 10) + 128;
}

void TCustomFFmpeg::ParseQScale(double value)
{
    if (!(value > 0.0 && value <= 255.0)) throw FFmpegException("qscale must be > 0.0 and <= 255");
    video_qscale = value;
}

void TCustomFFmpeg::ParseTag(const std::string& opt, const std::string& arg, uint32_t& tag)
{
    if (arg.empty()) return;
    if (arg.size() != 4) {
        const char* kind = opt == "vtag" ? "video" : opt == "atag" ? "audio" : "subtitle";
        throw FFmpegException(Format("%s tag parameter must be 4 chars", kind));
    }
    const auto* c = reinterpret_cast<const unsigned char*>(arg.data());
    tag = c[0] + (c[1] << 8) + (c[2] << 16) + (static_cast<uint32_t>(c[3]) << 24);
}

void TCustomFFmpeg::ParseMatrix(const std::string& arg, TMatrix& matrix)
{
    if (matrix) matrix->fill(0);
    else matrix.emplace().fill(0);
    const char* p = arg.c_str();
    for (int i = 0; i < 64; ++i) {
        // The integer at the start of the item: blanks skipped, reading stops at a non-digit.
        const char* q = p;
        while (*q == ' ' || *q == '\t') ++q;
        bool negative = false;
        if (*q == '-' || *q == '+') negative = *q++ == '-';
        long v = 0;
        while (*q >= '0' && *q <= '9' && v < 100000000) v = v * 10 + (*q++ - '0');
        (*matrix)[i] = static_cast<uint16_t>(negative ? -v : v);
        if (i == 63) break;
        p = std::strchr(p, ',');
        if (!p) throw FFmpegException(Format("Syntax error in matrix \"%s\" at coeff %d", arg.c_str(), i));
        ++p;
    }
}

void TCustomFFmpeg::ParsePass(int value)
{
    if (value != 1 && value != 2) throw FFmpegException("pass number can be only 1 or 2");
    pass = value;
}

void TCustomFFmpeg::ParseBitRate(const std::string& opt, const std::string& arg)
{
    if (opt.empty() || arg.empty()) return;
    if (!SetDefaultOption(opt, arg)) return;
    AVCodecContext* ctx = option_contexts_.codec[opt[0] == 'a' ? 1 : 0];
    int64_t b = 0;
    if (ctx && ff::av_opt_get_int(ctx, "b", 0, &b) >= 0 && b < 1000)
        LogMessage(this, llWarning,
                   "WARNING: The bitrate parameter is set too low. It takes bits/s as argument, not kbits/s");
}

void TCustomFFmpeg::ParseVstats(const std::string& opt, const std::string& arg)
{
    if (opt == "vstats") {
        std::time_t now = std::time(nullptr);
        std::tm local{};
        localtime_r(&now, &local);
        char hms[16];
        std::strftime(hms, sizeof hms, "%H%M%S", &local);
        vstats_name = Format("%svstats_%s.log", WideToSystem(ApplicationFolder()).c_str(), hms);
    } else {
        vstats_name = arg;
    }
}

void TCustomFFmpeg::ParseHook(const std::string& arg)
{
    // Words at "|" when the value has one, else at spaces; empty words skipped; at most 63.
    std::string copy = arg;
    const char* delimiters = arg.find('|') != std::string::npos ? "|" : " ";
    std::vector<std::string> words;
    for (char* w = ff::my_strtok(copy.data(), delimiters); w && words.size() < 63;
         w = ff::my_strtok(nullptr, delimiters))
        words.emplace_back(w);
    if (hooks_->AddPluginHook(words) != HOOK_OK)
        throw FFmpegException("Failed to add video hook function: " + arg);
    hooks_used = true;
}

}  // namespace quorlane
