#include "AVProbe.h"

#include <cstdlib>
#include <mutex>
#include <stdexcept>

#include "EntryPoints.h"
#include "job/FFUtils.h"
#include "FFmpegLoader.h"
#include "MyUtils.h"
#include "UnicodeProtocol.h"

namespace quorlane {
namespace {

int64_t UnknownToMinusOne(int64_t value) { return value == AV_NOPTS_VALUE ? -1 : value; }

int32_t ClampToInt32(int64_t value)
{
    if (value > INT32_MAX) return INT32_MAX;
    if (value < INT32_MIN) return INT32_MIN;
    return static_cast<int32_t>(value);
}

// The leading integer of a tag such as "2009-05-01" or "3/12"; `none` when there is no tag.
int32_t LeadingNumber(const AVDictionary* metadata, std::initializer_list<const char*> keys, int32_t none)
{
    for (const char* key : keys) {
        std::string value = MetadataValue(metadata, key, std::string());
        if (!value.empty()) return static_cast<int32_t>(std::strtol(value.c_str(), nullptr, 10));
    }
    return none;
}

}  // namespace

TCustomAVProbe::TCustomAVProbe() { Recount(); }

TCustomAVProbe::~TCustomAVProbe() { CloseBaseFile(); }

TAVProbe::~TAVProbe() { CloseFile(); }

// The decoders that probing opened are closed inside the library in 5.1, so there is nothing
// left here to close under CodecLock.
void TAVProbe::CloseFile() { TCustomAVProbe::CloseFile(); }

void TCustomAVProbe::CheckLibraries() const
{
    static constexpr struct {
        TLibrary lib;
        const char* text;
    } needed[] = {{libAVCodec, "LibAVCodec not loaded."},
                  {libAVFormat, "LibAVFormat not loaded."},
                  {libAVUtil, "LibAVUtil not loaded."},
                  {libSwScale, "LibSwScale not loaded."}};
    for (const auto& n : needed)
        if (!FFLoader().IsLoaded(n.lib)) throw std::runtime_error(n.text);
}

void TCustomAVProbe::Fail(int libraryLevel, const std::string& text)
{
    if (ff::av_log) ff::av_log(nullptr, libraryLevel, "%s\n", text.c_str());
    lastErrMsg_ = text;
}

void TCustomAVProbe::Recount()
{
    streamCount_ = programCount_ = audioStreamCount_ = videoStreamCount_ = subtitleStreamCount_ = -1;
    firstAudioStream_ = firstVideoStream_ = firstSubtitleStream_ = -1;
    if (!formatContext_) return;
    streamCount_ = static_cast<int>(formatContext_->nb_streams);
    programCount_ = static_cast<int>(formatContext_->nb_programs);
    audioStreamCount_ = videoStreamCount_ = subtitleStreamCount_ = 0;
    for (int i = 0; i < streamCount_; ++i) {
        switch (formatContext_->streams[i]->codecpar->codec_type) {
        case AVMEDIA_TYPE_VIDEO:
            if (videoStreamCount_++ == 0) firstVideoStream_ = i;
            break;
        case AVMEDIA_TYPE_AUDIO:
            if (audioStreamCount_++ == 0) firstAudioStream_ = i;
            break;
        case AVMEDIA_TYPE_SUBTITLE:
            if (subtitleStreamCount_++ == 0) firstSubtitleStream_ = i;
            break;
        default:  // data and attachments count in StreamCount only
            break;
        }
    }
}

void TCustomAVProbe::CloseBaseFile()
{
    formatName_.clear();
    if (formatContext_) {
        if (ownsContext_) CloseLibraryInput(&formatContext_);
        formatContext_ = nullptr;
    }
    ownsContext_ = false;
    Recount();
}

void TCustomAVProbe::CloseFile() { CloseBaseFile(); }

void TCustomAVProbe::AttachContext(AVFormatContext* context)
{
    CheckLibraries();
    CloseFile();
    ownsContext_ = false;
    formatContext_ = context;
    Recount();
}

bool TCustomAVProbe::LoadFile(const std::wstring& FileName, const std::string& FormatName)
{
    CheckLibraries();
    CloseFile();
    const AVInputFormat* forced = nullptr;
    if (!FormatName.empty()) {
        forced = ff::av_find_input_format(FormatName.c_str());
        if (!forced) {
            lastErrMsg_ = Format("Unknown input format: %s", FormatName.c_str());
            return false;
        }
    }
    AVFormatContext* ctx = nullptr;
    int r = OpenLibraryInput(&ctx, ToLibraryName(FileName), forced, nullptr);
    if (r < 0) {
        lastErrMsg_ = OpenErrorText(FileName, r);
        return false;
    }
    formatContext_ = ctx;
    ownsContext_ = true;
    {
        std::lock_guard<std::mutex> hold(CodecLock());
        r = ff::avformat_find_stream_info(formatContext_, nullptr);
    }
    if (r < 0) {
        lastErrMsg_ = Format("%s: could not find codec parameters", WideToSystem(FileName).c_str());
        CloseFile();
        return false;
    }
    Recount();
    formatName_ = FormatName;
    return true;
}

TFileStreamInfo TCustomAVProbe::GetFileStreamInfo()
{
    TFileStreamInfo info;
    if (!formatContext_) {
        Fail(AV_LOG_WARNING, "file not loaded.");
        return info;
    }
    const AVFormatContext* ic = formatContext_;
    const AVDictionary* m = ic->metadata;
    info.StartTime = UnknownToMinusOne(ic->start_time);
    info.Duration = UnknownToMinusOne(ic->duration);
    info.BitRate = ClampToInt32(ic->bit_rate);
    // 5.1 keeps the container's creation time, year and track as tags.
    info.Timestamp = 0;
    std::string created = MetadataValue(m, "creation_time", std::string());
    int64_t when = 0;
    if (!created.empty() && ff::av_parse_time(&when, created.c_str(), 0) >= 0) info.Timestamp = when;
    info.Year = LeadingNumber(m, {"year", "date"}, 0);
    info.Track = LeadingNumber(m, {"track"}, 0);
    info.Title = MetadataValue(m, "title", std::string());
    info.Author = MetadataValue(m, "author", MetadataValue(m, "artist", std::string()));
    info.Copyright = MetadataValue(m, "copyright", std::string());
    info.Comment = MetadataValue(m, "comment", std::string());
    info.Album = MetadataValue(m, "album", std::string());
    info.Genre = MetadataValue(m, "genre", std::string());
    return info;
}

TVideoStreamInfo TCustomAVProbe::GetVideoStreamInfo(int StreamIndex)
{
    TVideoStreamInfo info;
    if (!formatContext_) {
        Fail(AV_LOG_WARNING, "file not loaded.");
        return info;
    }
    int index = StreamIndex;
    if (index < 0) {
        index = firstVideoStream_;
        if (index == -1) {
            Fail(AV_LOG_ERROR, "no video stream.");
            return info;
        }
    }
    if (index >= streamCount_) {
        Fail(AV_LOG_ERROR, Format("stream index #%d is invalid.", index));
        return info;
    }
    AVStream* st = formatContext_->streams[index];
    const AVCodecParameters* par = st->codecpar;
    if (par->codec_type != AVMEDIA_TYPE_VIDEO) {
        Fail(AV_LOG_ERROR, Format("stream #%d is not video stream.", index));
        return info;
    }
    info.Language = MetadataValue(st->metadata, "language", std::string());
    info.CodecDesc = CodecDisplayName(par->codec_id, par->codec_tag, false);
    if (st->time_base.den == 0) st->time_base.den = st->time_base.num != 0 ? st->time_base.num : 1;
    const AVRational microseconds{1, 1000000};
    info.StartTime = st->start_time;
    info.StartTimeUs = st->start_time == AV_NOPTS_VALUE ? -1 : ff::av_rescale_q(st->start_time, st->time_base, microseconds);
    info.Duration = st->duration;
    info.DurationUs = st->duration == AV_NOPTS_VALUE ? -1 : ff::av_rescale_q(st->duration, st->time_base, microseconds);
    info.BitRate = ClampToInt32(par->bit_rate);
    info.Height = par->height;
    info.Width = par->width;
    // The container's sample aspect wins over the bitstream's, as players show it.
    AVRational sar = st->sample_aspect_ratio.num != 0 ? st->sample_aspect_ratio : par->sample_aspect_ratio;
    double s = sar.den != 0 ? av_q2d(sar) : 0.0;
    info.AspectRatio = par->height != 0 ? static_cast<float>(s * par->width / par->height) : 0.0f;
    info.PixelFormat = par->format;
    info.FrameRateNum = st->r_frame_rate.num;
    info.FrameRateDen = st->r_frame_rate.den;
    return info;
}

int64_t TCustomAVProbe::GetFileSize()
{
    if (!formatContext_) {
        Fail(AV_LOG_WARNING, "file not loaded.");
        return -1;
    }
    int64_t size = formatContext_->pb ? ff::avio_size(formatContext_->pb) : -1;
    if (size > 0) return size;
    if (formatContext_->url) {
        std::wstring name = FromLibraryName(formatContext_->url);
        if (WideFileExists(name)) return WideFileSize(name);
    }
    return size;
}

}  // namespace quorlane
