// Input file opening: demuxer parameters from the options so far, open and probe, per-stream
// preparation, and the per-input reset.
#include <cmath>
#include <mutex>

#include "FFmpeg.h"
#include "FFmpegLoader.h"
#include "FFmpegLogger.h"
#include "MyUtils.h"
#include "UnicodeProtocol.h"

namespace quorlane {
namespace {

struct DictionaryFree {
    void operator()(AVDictionary* d) const { ff::av_dict_free(&d); }
};
struct ContextFree {
    void operator()(AVFormatContext* c) const { ff::avformat_free_context(c); }
};

void SetEntry(AVDictionary** dict, const char* key, const std::string& value)
{
    ff::av_dict_set(dict, key, value.c_str(), 0);
}

// The demuxer's own channel-layout text for a channel count ("mono", "stereo", ...).
std::string LayoutText(int channels)
{
    AVChannelLayout layout{};
    ff::av_channel_layout_default(&layout, channels);
    char text[64] = {};
    ff::av_channel_layout_describe(&layout, text, sizeof text);
    ff::av_channel_layout_uninit(&layout);
    return text;
}

}  // namespace

void TCustomFFmpeg::ResetPerInput()
{
    video_codec.reset();
    audio_codec.reset();
    subtitle_codec.reset();
    input_format = nullptr;
    output_format = nullptr;
    video_channel = 0;
}

void TCustomFFmpeg::OpenInputFile(const std::string& fileName)
{
    if (!OpenInput(SystemToWide(fileName))) throw FFmpegException(ErrorText);
}

bool TCustomFFmpeg::OpenInput(const std::wstring& FileName)
{
    const std::string displayName = WideToSystem(FileName);
    // The lists have room for MAX_FILES inputs; one more is refused before anything is touched.
    if (input_count >= MAX_FILES) {
        ErrorText = Format("%s: Cannot open more than %d input files.", displayName.c_str(), MAX_FILES);
        ResetPerInput();
        return false;
    }

    std::unique_ptr<AVFormatContext, ContextFree> prepared(ff::avformat_alloc_context());
    if (!prepared) throw FFmpegException("avformat_alloc_context failed");
    auto fail = [&](const std::string& text) {
        ErrorText = text;
        ResetPerInput();
        return false;
    };

    // The old format parameters are demuxer options in 5.1; entries nobody takes are dropped.
    AVDictionary* rawOptions = PendingFormatPrivateOptions();
    SetEntry(&rawOptions, "sample_rate", std::to_string(sample_rate));
    if (channels > 0) SetEntry(&rawOptions, "ch_layout", LayoutText(channels));
    if (frame_rate.num != 0 && frame_rate.den != 0)
        SetEntry(&rawOptions, "framerate", Format("%d/%d", frame_rate.num, frame_rate.den));
    const int width = frame_width + pad_left + pad_right;
    const int height = frame_height + pad_top + pad_bottom;
    if (width > 0 && height > 0) SetEntry(&rawOptions, "video_size", Format("%dx%d", width, height));
    if (pixel_format >= 0)
        if (const char* name = ff::av_get_pix_fmt_name(static_cast<AVPixelFormat>(pixel_format)))
            SetEntry(&rawOptions, "pixel_format", name);
    if (video_channel != 0) SetEntry(&rawOptions, "channel", std::to_string(video_channel));
    if (tv_standard) SetEntry(&rawOptions, "standard", *tv_standard);
    if (loop_input) SetEntry(&rawOptions, "loop", "1");  // image sequences only
    std::unique_ptr<AVDictionary, DictionaryFree> options(rawOptions);

    // Forced decoders by name: the ids the demuxer gives its streams.
    AVCodecID videoId = AV_CODEC_ID_NONE, audioId = AV_CODEC_ID_NONE, subtitleId = AV_CODEC_ID_NONE;
    if (!FindCodec(video_codec.value_or(""), AVMEDIA_TYPE_VIDEO, false, videoId)) return fail(ErrorText);
    if (!FindCodec(audio_codec.value_or(""), AVMEDIA_TYPE_AUDIO, false, audioId)) return fail(ErrorText);
    if (!FindCodec(subtitle_codec.value_or(""), AVMEDIA_TYPE_SUBTITLE, false, subtitleId)) return fail(ErrorText);
    if (pgmyuv_mode) videoId = AV_CODEC_ID_PGMYUV;
    AVFormatContext* ic = prepared.get();
    ic->video_codec_id = videoId;
    ic->audio_codec_id = audioId;
    ic->subtitle_codec_id = subtitleId;
    CopyContextOptions(option_contexts_, ic, option_contexts_.format, OPT_DECODING);
    ic->flags |= AVFMT_FLAG_NONBLOCK;

    // Open; the helper frees the prepared context when it fails.
    ic = prepared.release();
    AVDictionary* rawLeft = options.release();
    int r = OpenLibraryInput(&ic, ToLibraryName(FileName), input_format, &rawLeft);
    options.reset(rawLeft);
    if (r < 0) return fail(OpenErrorText(FileName, r));
    LibraryInputPtr input(ic);

    if (program_id != 0)
        for (unsigned i = 0; i < ic->nb_programs; ++i)
            if (ic->programs[i]->id != program_id) ic->programs[i]->discard = AVDISCARD_ALL;

    {
        std::lock_guard<std::mutex> hold(CodecLock());
        r = ff::avformat_find_stream_info(ic, nullptr);
    }
    if (r < 0 && verbosity >= 0) {
        const std::string text = Format("%s: could not find codec parameters", displayName.c_str());
        LogMessage(this, llVerbose, text);
        return fail(text);
    }
    // One decoder slot per stream: a file with more streams than the list has room for is refused.
    if (forced_decoder_count + static_cast<int>(ic->nb_streams) > MAX_STREAM_MAPS)
        return fail(Format("%s: Too many streams (the job holds at most %d input streams).", displayName.c_str(),
                           MAX_STREAM_MAPS));

    int64_t timestamp = start_time;
    if (ic->start_time != AV_NOPTS_VALUE) timestamp += ic->start_time;
    if (start_time != 0) {
        if (ff::av_seek_frame(ic, -1, timestamp, AVSEEK_FLAG_BACKWARD) < 0)
            LogMessage(this, llWarning,
                       Format("%s: could not seek to position %0.3f", displayName.c_str(), timestamp / 1e6));
        start_time = 0;
    }

    const int firstSlot = forced_decoder_count;
    try {
        for (unsigned i = 0; i < ic->nb_streams; ++i) PrepareInputStream(ic, static_cast<int>(i));
    } catch (...) {
        for (int k = firstSlot; k < forced_decoder_count; ++k) forced_decoders[k] = nullptr;
        forced_decoder_count = firstSlot;
        ResetPerInput();
        throw;
    }

    if (ic->duration != AV_NOPTS_VALUE) {
        const int64_t ms = ic->duration / 1000;
        if (RecordingTimeMs < ms) RecordingTimeMs = ms > INT32_MAX ? INT32_MAX : static_cast<int>(ms);
    }
    input_ts_offsets[input_count] = copy_ts ? input_ts_offset : input_ts_offset - timestamp;
    if (verbosity >= 0) ff::av_dump_format(ic, input_count, ic->url, 0);
    input_contexts[input_count] = input.release();
    ++input_count;
    ResetPerInput();
    return true;
}

void TCustomFFmpeg::PrepareInputStream(AVFormatContext* ic, int index)
{
    AVStream* st = ic->streams[index];
    AVCodecParameters* par = st->codecpar;
    // The job's decoders are created by the run from the stream's parameters with thread_count.
    auto forcedDecoder = [](const TLibText& name) -> const AVCodec* {
        return name ? ff::avcodec_find_decoder_by_name(name->c_str()) : nullptr;
    };
    switch (par->codec_type) {
    case AVMEDIA_TYPE_AUDIO:
        channel_layout = par->ch_layout.order == AV_CHANNEL_ORDER_NATIVE ? static_cast<int64_t>(par->ch_layout.u.mask) : 0;
        channels = par->ch_layout.nb_channels;
        sample_rate = par->sample_rate;
        sample_format = par->format;
        forced_decoders[forced_decoder_count++] = forcedDecoder(audio_codec);
        if (no_audio) st->discard = AVDISCARD_ALL;
        break;
    case AVMEDIA_TYPE_VIDEO: {
        frame_height = par->height;
        frame_width = par->width;
        const AVRational sar = st->sample_aspect_ratio.num != 0 ? st->sample_aspect_ratio : par->sample_aspect_ratio;
        aspect_ratio = InputAspectRatio(par->width, par->height, sar.den != 0 ? av_q2d(sar) : 0.0);
        if (par->format == AV_PIX_FMT_NONE) par->format = AV_PIX_FMT_YUV420P;
        pixel_format = par->format;
        // 5.1 keeps no codec time base for demuxed streams; the average rate plays its part.
        const AVRational avg = st->avg_frame_rate, real = st->r_frame_rate;
        if (avg.num != 0 && avg.den != 0 && real.num != 0 && real.den != 0 && av_cmp_q(avg, real) != 0 && verbosity >= 0)
            LogMessage(this, llInfo,
                       Format("Seems stream %d codec frame rate differs from container frame rate: %2.2f (%d/%d) -> "
                              "%2.2f (%d/%d)",
                              index, av_q2d(avg), avg.num, avg.den, av_q2d(real), real.num, real.den));
        frame_rate = real;
        forced_decoders[forced_decoder_count++] = forcedDecoder(video_codec);
        if (no_video) st->discard = AVDISCARD_ALL;
        else if (video_discard != 0) st->discard = static_cast<AVDiscard>(video_discard);
        break;
    }
    case AVMEDIA_TYPE_SUBTITLE:
        forced_decoders[forced_decoder_count++] = forcedDecoder(subtitle_codec);
        if (no_subtitles) st->discard = AVDISCARD_ALL;
        break;
    case AVMEDIA_TYPE_DATA:
    case AVMEDIA_TYPE_ATTACHMENT:
    case AVMEDIA_TYPE_UNKNOWN:
        forced_decoders[forced_decoder_count++] = nullptr;
        break;
    default:
        throw FFmpegException("invalid codec_type");
    }
}

double TCustomFFmpeg::InputAspectRatio(int width, int height, double sampleAspect)
{
    if (width * height != 0) return sampleAspect != 0.0 ? width * sampleAspect / height : static_cast<double>(width) / height;
    return sampleAspect == 0.0 ? 4.0 / 3.0 : sampleAspect;
}

void TCustomFFmpeg::ReleaseInputFiles()
{
    for (int i = 0; i < input_count && i < MAX_FILES; ++i) CloseLibraryInput(&input_contexts[i]);
    input_count = 0;
}

}  // namespace quorlane
