// Target presets: VCD, SVCD, DVD, DV and DV50 in the PAL, NTSC and film variants.
#include <cmath>

#include "FFmpeg.h"
#include "FFmpegLogger.h"
#include "MyUtils.h"

namespace quorlane {
namespace {

enum class Norm { PAL, NTSC, FILM };

// r := num × 1000 ÷ den rounded; 25000 is PAL, 29970 and 23976 NTSC.
const char* NormOfRate(int num, int den)
{
    if (den == 0) return nullptr;
    const long long r = std::llround(static_cast<double>(num) * 1000.0 / den);
    if (r == 25000) return "pal";
    if (r == 29970 || r == 23976) return "ntsc";
    return nullptr;
}

}  // namespace

std::string TCustomFFmpeg::DetectTargetNorm() const
{
    for (int i = 0; i < input_count && i < MAX_FILES; ++i) {
        const AVFormatContext* ic = input_contexts[i];
        if (!ic) continue;
        for (unsigned s = 0; s < ic->nb_streams; ++s) {
            const AVStream* st = ic->streams[s];
            if (!st || !st->codecpar || st->codecpar->codec_type != AVMEDIA_TYPE_VIDEO) continue;
            // FFmpeg 5.1 has no codec time base for a demuxed stream: its frame rate stands in.
            if (const char* n = NormOfRate(st->r_frame_rate.num, st->r_frame_rate.den)) return n;
        }
    }
    return std::string();
}

void TCustomFFmpeg::SetTargetOption(const std::string& value)
{
    const size_t b = value.find_first_not_of(" \t\r\n");
    const size_t e = value.find_last_not_of(" \t\r\n");
    std::string v = b == std::string::npos ? std::string() : value.substr(b, e - b + 1);
    std::string norm = "auto";
    for (const char* prefix : {"pal-", "ntsc-", "film-"}) {
        const std::string p(prefix);
        if (v.compare(0, p.size(), p) == 0) {
            norm = p.substr(0, p.size() - 1);
            v = v.substr(p.size());
            break;
        }
    }
    SetTarget(v, norm, "ntsc");
}

void TCustomFFmpeg::SetTarget(const std::string& kind, const std::string& norm, const std::string& fallbackNorm)
{
    Norm n;
    if (norm == "pal") n = Norm::PAL;
    else if (norm == "ntsc") n = Norm::NTSC;
    else if (norm == "film") n = Norm::FILM;
    else {
        if (frame_rate.den == 0) throw FFmpegException("frame_rate is invalid.");
        const char* detected = NormOfRate(frame_rate.num, frame_rate.den);
        std::string fromInputs;
        if (!detected) {
            fromInputs = DetectTargetNorm();
            if (!fromInputs.empty()) detected = fromInputs.c_str();
        }
        if (detected) n = std::string(detected) == "pal" ? Norm::PAL : Norm::NTSC;
        else n = fallbackNorm == "film" ? Norm::FILM : fallbackNorm == "ntsc" ? Norm::NTSC : Norm::PAL;
        if (verbosity > 0)
            LogMessage(this, llVerbose, Format("Assuming %s for target.", n == Norm::PAL ? "PAL" : "NTSC"));
    }

    const bool pal = n == Norm::PAL;
    const char* rate = pal ? "25" : n == Norm::NTSC ? "30000/1001" : "24000/1001";
    const char* gop = pal ? "15" : "18";
    auto size = [&](const char* ntscFilm, const char* palSize) { ParseFrameSize(pal ? palSize : ntscFilm); };
    auto opt = [&](const char* name, const char* value) { SetDefaultOption(name, value); };
    auto aspect = [&](const char* ratio) {
        if (aspect_ratio != 0.0) return;
        ParseAspect(ratio);
        LogMessage(this, llInfo, Format("Assuming %s for aspect ratio", ratio));
    };

    if (kind == "vcd") {
        ParseCodec("mpeg1video", video_codec, video_copy);
        ParseCodec("mp2", audio_codec, audio_copy);
        SetOutputFormat("vcd");
        size("352x240", "352x288");
        ParseFrameRate(rate);
        opt("g", gop);
        opt("b", "1150000");
        opt("maxrate", "1150000");
        opt("minrate", "1150000");
        opt("bufsize", "327680");
        opt("ab", "224000");
        sample_rate = 44100;
        channels = 2;
        opt("packetsize", "2324");
        opt("muxrate", "1411200");  // FFmpeg 5.1: mpeg muxer-private, recorded for the muxer
        mux_preload = 0.44;
        aspect("4:3");
    } else if (kind == "svcd") {
        ParseCodec("mpeg2video", video_codec, video_copy);
        ParseCodec("mp2", audio_codec, audio_copy);
        SetOutputFormat("svcd");
        size("480x480", "480x576");
        ParseFrameRate(rate);
        opt("g", gop);
        opt("b", "2040000");
        opt("maxrate", "2516000");
        opt("minrate", "0");
        opt("bufsize", "1835008");
        // "flags" "+scan_offset": FFmpeg 5.1 made it mpeg2video's private option "scan_offset".
        opt("scan_offset", "1");
        opt("ab", "224000");
        sample_rate = 44100;
        opt("packetsize", "2324");
        if (channels == 1) channels = 2;
        aspect("4:3");
    } else if (kind == "dvd") {
        ParseCodec("mpeg2video", video_codec, video_copy);
        ParseCodec("ac3", audio_codec, audio_copy);
        SetOutputFormat("dvd");
        size("720x480", "720x576");
        ParseFrameRate(rate);
        opt("g", gop);
        opt("b", "6000000");
        opt("maxrate", "9000000");
        opt("minrate", "0");
        opt("bufsize", "1835008");
        opt("packetsize", "2048");
        opt("muxrate", "10080000");  // FFmpeg 5.1: mpeg muxer-private, recorded for the muxer
        opt("ab", "448000");
        sample_rate = 48000;
        if (channels == 1) channels = 2;
        aspect("16:9");
    } else if (kind == "dv" || kind == "dv50") {
        SetOutputFormat("dv");
        size("720x480", "720x576");
        ParsePixelFormat(kind == "dv50" ? "yuv422p" : pal ? "yuv420p" : "yuv411p");
        ParseFrameRate(rate);
        sample_rate = 48000;
        channels = 2;
    } else {
        throw FFmpegException("Unknown target type");
    }
}

}  // namespace quorlane
