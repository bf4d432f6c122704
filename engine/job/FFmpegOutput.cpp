// Output file and stream creation: muxer choice, stream kinds, one job-owned encoder context per
// output stream (the settings consumed at creation), metadata, the file itself.
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>

#include "FFmpeg.h"
#include "FFmpegLoader.h"
#include "FFmpegLogger.h"
#include "MyUtils.h"
#include "TwoPassLog.h"
#include "UnicodeProtocol.h"

namespace quorlane {
namespace {

struct EncoderFree {
    void operator()(AVCodecContext* c) const { ff::avcodec_free_context(&c); }
};
using EncoderPtr = std::unique_ptr<AVCodecContext, EncoderFree>;

// True when the filter chain changes the picture size: an item named crop, rotate, scale or
// transpose.
bool ChainResizes(const std::string& chain)
{
    std::string lower;
    for (char c : chain) lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    size_t start = 0;
    while (start <= lower.size()) {
        size_t end = lower.find(',', start);
        std::string item = lower.substr(start, end == std::string::npos ? std::string::npos : end - start);
        std::string name = item.substr(0, item.find('='));
        if (!name.empty() && std::strstr(",crop,rotate,scale,transpose,", ("," + name + ",").c_str())) return true;
        if (end == std::string::npos) break;
        start = end + 1;
    }
    return false;
}

// 5.1's image2 muxer writes numbered files but no longer flags that it needs a number.
bool NeedsFrameNumber(const AVOutputFormat* fmt)
{
    return (fmt->flags & AVFMT_NEEDNUMBER) != 0 || std::strcmp(fmt->name, "image2") == 0;
}

std::string CreationTime(int64_t seconds)
{
    time_t t = static_cast<time_t>(seconds);
    struct tm parts {};
    gmtime_r(&t, &parts);
    char text[40] = {};
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S.000000Z", &parts);
    return text;
}

}  // namespace

std::vector<RcOverride> TCustomFFmpeg::ParseRcOverride(const std::string& text)
{
    std::vector<RcOverride> entries;
    const char* p = text.c_str();
    while (p) {
        int values[3] = {};
        for (int k = 0; k < 3; ++k) {
            char* end = nullptr;
            values[k] = static_cast<int>(std::strtol(p, &end, 10));
            p = end;
            if (k < 2) {
                if (end == nullptr || *end == '\0') throw FFmpegException("error parsing rc_override");
                ++p;  // the separator, whatever character it is
            }
        }
        RcOverride e{};
        e.start_frame = values[0];
        e.end_frame = values[1];
        if (values[2] > 0) {
            e.qscale = values[2];
            e.quality_factor = 1.0f;
        } else {
            e.qscale = 0;
            e.quality_factor = -values[2] / 100.0f;
        }
        entries.push_back(e);
        p = std::strchr(p, '/');
        if (p) ++p;
    }
    return entries;
}

void TCustomFFmpeg::OpenOutputFile(const std::string& fileName)
{
    if (OpenOutput(SystemToWide(fileName), false) < 0) throw FFmpegException(ErrorText);
}

int TCustomFFmpeg::OpenOutput(const std::wstring& FileName, bool JoinInputs)
{
    const std::string displayName = WideToSystem(FileName);
    LibraryOutputPtr oc;
    int slot = -1;  // the output slot once the context is listed
    const int encodersBefore = chosen_encoder_count;
    auto fail = [&](const std::string& text) {
        ErrorText = text;
        if (slot >= 0) {
            output_contexts[slot] = nullptr;
            --output_count;
        }
        // The streams of a context that is dropped must not keep encoder slots or settings.
        if (oc)
            for (unsigned i = 0; i < oc->nb_streams && i < MAX_STREAMS && output_count < MAX_FILES; ++i)
                ReleaseOutputStreamSlot(output_count, static_cast<int>(i));
        for (int k = encodersBefore; k < chosen_encoder_count; ++k) chosen_encoders[k] = nullptr;
        chosen_encoder_count = encodersBefore;
        output_format = nullptr;
        input_format = nullptr;
        return -1;
    };

    if (JoinMode) return fail("Cannot join more than one output file.");
    if (!filter_chain.empty() && crop_left + crop_right + crop_top + crop_bottom != 0)
        return fail("Cannot enable crop options and filters at the same time.");
    if (pad_left + pad_right + pad_top + pad_bottom != 0 && ChainResizes(filter_chain))
        return fail("Cannot enable pad options and the filters which resize frame at the same time. (crop, rotate, "
                    "scale, transpose, etc.)");
    // The lists have room for MAX_FILES outputs (join mode lists one context once per input).
    const int slotsNeeded = JoinInputs && input_count > 1 ? input_count : 1;
    if (output_count + slotsNeeded > MAX_FILES)
        return fail(Format("%s: Cannot open more than %d output files.", displayName.c_str(), MAX_FILES));
    UseFilters = !filter_chain.empty();

    const std::string libraryName = ToLibraryName(FileName);
    if (!output_format) {
        output_format = ff::av_guess_format(nullptr, libraryName.c_str(), nullptr);
        if (!output_format) return fail(Format("Unable to find a suitable output format for '%s'", displayName.c_str()));
    }
    // Allocated for the chosen muxer, so that its private options (preload, loop) exist.
    AVFormatContext* raw = nullptr;
    if (ff::avformat_alloc_output_context2(&raw, output_format, nullptr, libraryName.c_str()) < 0 || !raw)
        throw FFmpegException("avformat_alloc_context failed");
    oc.reset(raw);
    // No "ffm" muxer exists in 5.1, so a server feed never supplies the streams.

    bool useVideo = output_format->video_codec != AV_CODEC_ID_NONE || video_copy || video_codec;
    bool useAudio = output_format->audio_codec != AV_CODEC_ID_NONE || audio_copy || audio_codec;
    bool useSubtitle = output_format->subtitle_codec != AV_CODEC_ID_NONE || subtitle_copy || subtitle_codec;
    if (input_count > 0) {
        bool hasVideo = false, hasAudio = false, hasSubtitle = false;
        try {
            for (int i = 0; i < (JoinInputs ? 1 : input_count); ++i) {
                const AVFormatContext* ic = input_contexts[i];
                for (unsigned s = 0; ic && s < ic->nb_streams; ++s) {
                    switch (ic->streams[s]->codecpar->codec_type) {
                    case AVMEDIA_TYPE_VIDEO: hasVideo = true; break;
                    case AVMEDIA_TYPE_AUDIO: hasAudio = true; break;
                    case AVMEDIA_TYPE_SUBTITLE: hasSubtitle = true; break;
                    case AVMEDIA_TYPE_DATA:
                    case AVMEDIA_TYPE_ATTACHMENT:
                    case AVMEDIA_TYPE_UNKNOWN: break;
                    default: throw FFmpegException("invalid codec_type of input file");
                    }
                }
            }
        } catch (const FFmpegException& e) {
            return fail(Format("check_audio_video_sub_inputs fail: %s", e.what()));
        }
        useVideo = useVideo && hasVideo;
        useAudio = useAudio && hasAudio;
        useSubtitle = useSubtitle && hasSubtitle;
    }
    if (no_audio) useAudio = false;
    if (no_video) useVideo = false;
    if (no_subtitles) useSubtitle = false;

    const char* creating = "new_video_stream fail: %s";
    try {
        if (useVideo) NewVideoStream(oc.get());
        creating = "new_audio_stream fail: %s";
        if (useAudio) NewAudioStream(oc.get());
        creating = "new_subtitle_stream fail: %s";
        if (useSubtitle) NewSubtitleStream(oc.get());
    } catch (const FFmpegException& e) {
        return fail(Format(creating, e.what()));
    }

    // 5.1 keeps the creation time as a tag; the muxers' key conversion tables are gone.
    if (output_timestamp != 0)
        ff::av_dict_set(&oc->metadata, "creation_time", CreationTime(output_timestamp).c_str(), 0);
    while (!metadata.empty()) {
        ff::av_dict_set(&oc->metadata, metadata.back().key.c_str(), metadata.back().value.c_str(), 0);
        metadata.pop_back();
    }

    slot = output_count;
    output_contexts[output_count++] = oc.get();

    if (NeedsFrameNumber(output_format) && ff::av_filename_number_test(oc->url) == 0)
        return fail(OpenErrorText(FromLibraryName(oc->url), AVERROR(EDOM)));
    // An existing file is overwritten without a question.
    if (int r = OpenLibraryOutput(oc.get()); r < 0) return fail(Format("Could not open '%s'", displayName.c_str()));
    // The muxer checks its parameters when the run writes the header (avformat_write_header).

    const int64_t preload = static_cast<int64_t>(mux_preload * 1000000);
    ff::av_opt_set_int(oc.get(), "preload", preload, AV_OPT_SEARCH_CHILDREN);  // mpeg-family muxers only
    oc->max_delay = static_cast<int>(mux_max_delay * 1000000);
    ff::av_opt_set_int(oc.get(), "loop", loop_output, AV_OPT_SEARCH_CHILDREN);  // gif only
    oc->flags |= AVFMT_FLAG_NONBLOCK;
    CopyContextOptions(option_contexts_, oc.get(), option_contexts_.format, OPT_ENCODING);

    if (JoinInputs && input_count > 1) {
        JoinMode = true;
        int64_t total = 0;
        for (int i = 0; i < input_count; ++i)
            if (input_contexts[i] && input_contexts[i]->duration != AV_NOPTS_VALUE) total += input_contexts[i]->duration / 1000;
        RecordingTimeMs = total == 0 ? -1 : total > INT32_MAX ? INT32_MAX : static_cast<int>(total);
        for (int i = 1; i < input_count; ++i) output_contexts[output_count++] = oc.get();
    }
    oc.release();  // listed: ReleaseOutputFiles closes it
    output_format = nullptr;
    input_format = nullptr;
    return output_count;
}

int TCustomFFmpeg::OutputRowOf(const AVFormatContext* oc) const
{
    for (int i = 0; i < output_count && i < MAX_FILES; ++i)
        if (output_contexts[i] == oc) return i;
    return output_count;  // being created: it takes the next slot
}

AVStream* TCustomFFmpeg::AddOutputStream(AVFormatContext* oc, int& row)
{
    row = OutputRowOf(oc);
    if (row >= MAX_FILES || oc->nb_streams >= static_cast<unsigned>(MAX_STREAMS))
        throw FFmpegException(Format("Cannot add more than %d streams to an output file", MAX_STREAMS));
    if (chosen_encoder_count >= MAX_STREAM_MAPS)
        throw FFmpegException(Format("Cannot create more than %d output streams", MAX_STREAM_MAPS));
    AVStream* st = ff::avformat_new_stream(oc, nullptr);
    if (st) st->id = st->index;
    return st;
}

void TCustomFFmpeg::ReleaseOutputStreamSlot(int row, int index)
{
    if (row < 0 || row >= MAX_FILES || index < 0 || index >= MAX_STREAMS) return;
    if (output_codecs[row][index]) {
        // The pass-2 statistics belong to us, not to the library.
        FreeTwoPassStats(output_codecs[row][index]);
        std::lock_guard<std::mutex> hold(CodecLock());
        ff::avcodec_free_context(&output_codecs[row][index]);
    }
    output_copy[row][index] = false;
    bitstream_filters[row][index].clear();
}

void TCustomFFmpeg::NewVideoStream(AVFormatContext* oc)
{
    // Everything that can refuse is checked before the stream exists, so a refusal never leaves
    // a stream without its encoder settings in the file.
    const AVCodec* codec = nullptr;
    AVCodecID id = AV_CODEC_ID_NONE;
    std::vector<RcOverride> overrides;
    try {
        if (!video_copy) {
            if (video_codec) {
                if (!FindCodec(*video_codec, AVMEDIA_TYPE_VIDEO, true, id)) throw FFmpegException(ErrorText);
                codec = ff::avcodec_find_encoder_by_name(video_codec->c_str());
            } else {
                id = ff::av_guess_codec(oc->oformat, nullptr, oc->url, nullptr, AVMEDIA_TYPE_VIDEO);
                codec = ff::avcodec_find_encoder(id);
            }
            if (rc_override) overrides = ParseRcOverride(*rc_override);
        }
    } catch (const FFmpegException&) {
        video_codec.reset();
        throw;
    }
    int row = 0;
    AVStream* st = nullptr;
    try {
        st = AddOutputStream(oc, row);
    } catch (const FFmpegException&) {
        video_codec.reset();
        throw;
    }
    if (!st) {
        video_codec.reset();
        throw FFmpegException("Could not alloc stream");
    }
    EncoderPtr enc(ff::avcodec_alloc_context3(nullptr));
    if (!enc) throw FFmpegException("avcodec_alloc_context failed");
    enc->codec_type = AVMEDIA_TYPE_VIDEO;
    bitstream_filters[row][st->index] = std::move(pending_bitstream_filters[pcVideo]);
    pending_bitstream_filters[pcVideo].clear();
    if (thread_count > 1) enc->thread_count = thread_count;
    if (video_tag != 0) enc->codec_tag = video_tag;
    AVCodecContext* videoOptions = option_contexts_.codec[AVMEDIA_TYPE_VIDEO];
    if ((video_global_header & 1) || (video_global_header == 0 && (oc->oformat->flags & AVFMT_GLOBALHEADER))) {
        enc->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        if (videoOptions) videoOptions->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    }
    if (video_global_header & 2) {
        enc->flags2 |= AV_CODEC_FLAG2_LOCAL_HEADER;
        if (videoOptions) videoOptions->flags2 |= AV_CODEC_FLAG2_LOCAL_HEADER;
    }

    if (video_copy) {
        output_copy[row][st->index] = true;
        const double ratio = frame_width * frame_height == 0 ? aspect_ratio * 3 / 4
                                                            : frame_height * aspect_ratio / frame_width;
        st->sample_aspect_ratio = ff::av_d2q(ratio, 255);
        enc->sample_aspect_ratio = st->sample_aspect_ratio;
    } else {
        AVRational fps = frame_rate.num != 0 ? frame_rate : AVRational{25, 1};
        if (video_codec) chosen_encoders[chosen_encoder_count] = codec;
        enc->codec_id = id;
        CopyContextOptions(option_contexts_, enc.get(), videoOptions, OPT_VIDEO | OPT_ENCODING);
        if (codec && codec->supported_framerates && !force_fps)
            fps = codec->supported_framerates[ff::av_find_nearest_q_idx(fps, codec->supported_framerates)];
        enc->time_base = {fps.den, fps.num};
        enc->framerate = fps;
        enc->width = frame_width + pad_right + pad_left;
        enc->height = frame_height + pad_top + pad_bottom;
        const double ratio = enc->width * enc->height == 0 ? aspect_ratio * 3 / 4
                                                           : aspect_ratio * enc->height / enc->width;
        enc->sample_aspect_ratio = ff::av_d2q(ratio, 255);
        enc->pix_fmt = static_cast<AVPixelFormat>(pixel_format);
        st->sample_aspect_ratio = enc->sample_aspect_ratio;
        if (codec && codec->pix_fmts) {
            bool listed = false;
            for (const AVPixelFormat* p = codec->pix_fmts; *p != AV_PIX_FMT_NONE; ++p) listed = listed || *p == enc->pix_fmt;
            if (!listed) enc->pix_fmt = codec->pix_fmts[0];
        }
        if (intra_only) enc->gop_size = 0;
        if (video_qscale != 0.0 || same_quality) {
            enc->flags |= AV_CODEC_FLAG_QSCALE;
            enc->global_quality = static_cast<int>(FF_QP2LAMBDA * video_qscale);
        }
        for (auto [matrix, target] : {std::pair{&intra_matrix, &enc->intra_matrix}, std::pair{&inter_matrix, &enc->inter_matrix}})
            if (*matrix) {  // freed with the encoder context
                *target = static_cast<uint16_t*>(ff::av_malloc(64 * sizeof(uint16_t)));
                if (*target) std::memcpy(*target, (*matrix)->data(), 64 * sizeof(uint16_t));
            }
        enc->thread_count = thread_count;
        if (!overrides.empty()) {  // freed with the encoder context
            enc->rc_override = static_cast<RcOverride*>(ff::av_malloc(overrides.size() * sizeof(RcOverride)));
            if (enc->rc_override) {
                std::memcpy(enc->rc_override, overrides.data(), overrides.size() * sizeof(RcOverride));
                enc->rc_override_count = static_cast<int>(overrides.size());
            }
        }
        if (enc->rc_initial_buffer_occupancy == 0) enc->rc_initial_buffer_occupancy = enc->rc_buffer_size * 3 / 4;
        enc->intra_dc_precision = dc_precision - 8;  // me_threshold is gone in 5.1
        if (psnr) enc->flags |= AV_CODEC_FLAG_PSNR;
        if (pass == 1) enc->flags |= AV_CODEC_FLAG_PASS1;
        if (pass == 2) enc->flags |= AV_CODEC_FLAG_PASS2;
    }
    output_codecs[row][st->index] = enc.release();
    ++chosen_encoder_count;
    no_video = false;
    video_codec.reset();
    video_copy = false;
}

void TCustomFFmpeg::NewAudioStream(AVFormatContext* oc)
{
    const AVCodec* codec = nullptr;
    AVCodecID id = AV_CODEC_ID_NONE;
    auto refuse = [&](const std::string& text) {
        audio_codec.reset();
        audio_language.clear();
        throw FFmpegException(text);
    };
    if (!audio_copy) {
        if (audio_codec) {
            if (!FindCodec(*audio_codec, AVMEDIA_TYPE_AUDIO, true, id)) refuse(ErrorText);
            codec = ff::avcodec_find_encoder_by_name(audio_codec->c_str());
        } else {
            id = ff::av_guess_codec(oc->oformat, nullptr, oc->url, nullptr, AVMEDIA_TYPE_AUDIO);
            codec = ff::avcodec_find_encoder(id);
        }
    }
    int row = 0;
    AVStream* st = nullptr;
    try {
        st = AddOutputStream(oc, row);
    } catch (const FFmpegException& e) {
        refuse(e.what());
    }
    if (!st) refuse("Could not alloc stream");
    EncoderPtr enc(ff::avcodec_alloc_context3(nullptr));
    if (!enc) throw FFmpegException("avcodec_alloc_context failed");
    enc->codec_type = AVMEDIA_TYPE_AUDIO;
    bitstream_filters[row][st->index] = std::move(pending_bitstream_filters[pcAudio]);
    pending_bitstream_filters[pcAudio].clear();
    if (thread_count > 1) enc->thread_count = thread_count;
    if (audio_tag != 0) enc->codec_tag = audio_tag;
    if (oc->oformat->flags & AVFMT_GLOBALHEADER) {
        enc->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        if (AVCodecContext* audioOptions = option_contexts_.codec[AVMEDIA_TYPE_AUDIO])
            audioOptions->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    }
    // 5.1 encoders need a valid layout: the input's when its channel count fits, else the default.
    ff::av_channel_layout_uninit(&enc->ch_layout);
    AVChannelLayout fromInput{};
    if (channel_layout != 0 && ff::av_channel_layout_from_mask(&fromInput, static_cast<uint64_t>(channel_layout)) == 0 &&
        fromInput.nb_channels == channels)
        ff::av_channel_layout_copy(&enc->ch_layout, &fromInput);
    else if (channels > 0)
        ff::av_channel_layout_default(&enc->ch_layout, channels);
    ff::av_channel_layout_uninit(&fromInput);

    if (audio_copy) {
        output_copy[row][st->index] = true;
    } else {
        CopyContextOptions(option_contexts_, enc.get(), option_contexts_.codec[AVMEDIA_TYPE_AUDIO], OPT_AUDIO | OPT_ENCODING);
        if (audio_codec) chosen_encoders[chosen_encoder_count] = codec;
        enc->codec_id = id;
        if (audio_qscale > -99999) {
            enc->flags |= AV_CODEC_FLAG_QSCALE;
            enc->global_quality = static_cast<int>(FF_QP2LAMBDA * audio_qscale);
        }
        enc->thread_count = thread_count;
        enc->sample_fmt = static_cast<AVSampleFormat>(sample_format);
        if (codec && codec->sample_fmts) {
            bool listed = false;
            for (const AVSampleFormat* f = codec->sample_fmts; *f != AV_SAMPLE_FMT_NONE; ++f) listed = listed || *f == enc->sample_fmt;
            if (!listed) enc->sample_fmt = codec->sample_fmts[0];
        }
    }
    enc->sample_rate = sample_rate;
    enc->time_base = {1, sample_rate};
    if (!audio_language.empty()) {
        ff::av_dict_set(&st->metadata, "language", audio_language.c_str(), 0);
        audio_language.clear();
    }
    output_codecs[row][st->index] = enc.release();
    ++chosen_encoder_count;
    no_audio = false;
    audio_codec.reset();
    audio_copy = false;
}

void TCustomFFmpeg::NewSubtitleStream(AVFormatContext* oc)
{
    AVCodecID id = AV_CODEC_ID_NONE;
    auto refuse = [&](const std::string& text) {
        subtitle_codec.reset();
        subtitle_language.clear();
        throw FFmpegException(text);
    };
    if (!subtitle_copy && subtitle_codec && !FindCodec(*subtitle_codec, AVMEDIA_TYPE_SUBTITLE, true, id)) refuse(ErrorText);
    int row = 0;
    AVStream* st = nullptr;
    try {
        st = AddOutputStream(oc, row);
    } catch (const FFmpegException& e) {
        refuse(e.what());
    }
    if (!st) refuse("Could not alloc stream");
    EncoderPtr enc(ff::avcodec_alloc_context3(nullptr));
    if (!enc) throw FFmpegException("avcodec_alloc_context failed");
    enc->codec_type = AVMEDIA_TYPE_SUBTITLE;
    bitstream_filters[row][st->index] = std::move(pending_bitstream_filters[pcSubtitle]);
    pending_bitstream_filters[pcSubtitle].clear();
    if (subtitle_tag != 0) enc->codec_tag = subtitle_tag;
    if (subtitle_copy) {
        output_copy[row][st->index] = true;
    } else {
        enc->codec_id = id;
        if (subtitle_codec) chosen_encoders[chosen_encoder_count] = ff::avcodec_find_encoder_by_name(subtitle_codec->c_str());
    }
    output_codecs[row][st->index] = enc.release();
    ++chosen_encoder_count;
    if (!subtitle_language.empty()) {
        ff::av_dict_set(&st->metadata, "language", subtitle_language.c_str(), 0);
        subtitle_language.clear();
    }
    no_subtitles = false;
    subtitle_codec.reset();
    subtitle_copy = false;
}

void TCustomFFmpeg::NewOutputStream(AVMediaType type)
{
    if (output_count < 1) throw FFmpegException("At least one output file must be specified");
    AVFormatContext* oc = output_contexts[output_count - 1];
    if (type == AVMEDIA_TYPE_VIDEO) NewVideoStream(oc);
    else if (type == AVMEDIA_TYPE_AUDIO) NewAudioStream(oc);
    else NewSubtitleStream(oc);
}

void TCustomFFmpeg::ReleaseOutputFiles()
{
    for (int i = 0; i < output_count && i < MAX_FILES; ++i) {
        AVFormatContext* oc = output_contexts[i];
        if (!oc) continue;
        for (int j = i; j < output_count && j < MAX_FILES; ++j)  // join mode repeats one context
            if (output_contexts[j] == oc) output_contexts[j] = nullptr;
        CloseLibraryOutput(&oc);
    }
    for (int row = 0; row < MAX_FILES; ++row)
        for (int s = 0; s < MAX_STREAMS; ++s) ReleaseOutputStreamSlot(row, s);
    output_count = 0;
}

}  // namespace quorlane
