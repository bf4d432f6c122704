// Transcode set-up: stream copy or encoding per output stream, opening of encoders and decoders,
// bitstream filters and the output headers.
#include <algorithm>
#include <cstring>
#include <mutex>

#include "FFmpeg.h"
#include "FFmpegLoader.h"
#include "FFmpegLogger.h"
#include "MyUtils.h"
#include "TwoPassLog.h"

namespace quorlane {

namespace {

std::string TypeName(const AVStream* st) { return MediaTypeName(st->codecpar->codec_type); }

int ScalerFlagsOption(const OptionContexts& contexts, int fallback)
{
    if (!contexts.scaler) return fallback;
    int64_t flags = fallback;
    if (ff::av_opt_get_int(contexts.scaler, "sws_flags", 0, &flags) < 0) return fallback;
    return static_cast<int>(flags);
}

int TypeFlag(AVMediaType type)
{
    switch (type) {
    case AVMEDIA_TYPE_VIDEO: return OPT_VIDEO;
    case AVMEDIA_TYPE_AUDIO: return OPT_AUDIO;
    case AVMEDIA_TYPE_SUBTITLE: return OPT_SUBTITLE;
    default: return 0;
    }
}

}  // namespace

void CodecContextCloser::operator()(AVCodecContext* c) const
{
    std::lock_guard<std::mutex> lock(CodecLock());
    ff::avcodec_free_context(&c);
}

void TCustomFFmpeg::SetupOutputStream(TOutputStreamState& ost)
{
    TInputStreamState& ist = *run_inputs_[ost.source_index];
    AVStream* st = ost.stream;
    const AVStream* ist_st = ist.stream;
    const AVDictionaryEntry* lang = ff::av_dict_get(ist_st->metadata, "language", nullptr, 0);
    if (lang && !ff::av_dict_get(st->metadata, "language", nullptr, 0))
        ff::av_dict_set(&st->metadata, "language", lang->value, 0);
    st->disposition = ist_st->disposition;

    ost.encoder = RunEncoderOf(ost.file_index, ost.stream_index);
    ost.copy = RunStreamCopyOf(ost.file_index, ost.stream_index) || !ost.encoder;
    if (ost.copy) {
        SetupStreamCopy(ost, ist);
        return;
    }
    AVCodecContext* enc = ost.encoder;
    enc->bits_per_raw_sample = ist_st->codecpar->bits_per_raw_sample;
    enc->chroma_sample_location = ist_st->codecpar->chroma_location;
    switch (enc->codec_type) {
    case AVMEDIA_TYPE_AUDIO:
        ost.needs_resampling = ist_st->codecpar->sample_rate != enc->sample_rate || audio_sync > 1;
        ost.encoding_needed = 1;
        ist.decoding_needed = 1;
        break;
    case AVMEDIA_TYPE_VIDEO:
        SetupVideoEncoding(ost, ist);
        break;
    case AVMEDIA_TYPE_SUBTITLE:
        ost.encoding_needed = 1;
        ist.decoding_needed = 1;
        break;
    default: throw FFmpegException("invalid codec_type of output stream");
    }
    if ((enc->flags & (AV_CODEC_FLAG_PASS1 | AV_CODEC_FLAG_PASS2)) != 0) SetupTwoPassLog(ost);
}

void TCustomFFmpeg::SetupStreamCopy(TOutputStreamState& ost, TInputStreamState& ist)
{
    AVCodecParameters* par = ost.stream->codecpar;
    const AVCodecParameters* ipar = ist.stream->codecpar;
    const AVMediaType type = ipar->codec_type;
    switch (type) {
    case AVMEDIA_TYPE_AUDIO:
        if (volume != 256)
            throw FFmpegException("-acodec copy and -vol are incompatible (frames are not decoded)");
        break;
    case AVMEDIA_TYPE_VIDEO:
        if (CustomHookAssigned())
            throw FFmpegException(
                "-vcodec copy and CustomHook are incompatible (frames are not decoded)");
        if (hooks_used)
            throw FFmpegException("-vcodec copy and -vhook are incompatible (frames are not decoded)");
        if (PreviewFlagsNow() != 0)
            throw FFmpegException(
                "-vcodec copy and PostHooks are incompatible (frames are not decoded)");
        break;
    case AVMEDIA_TYPE_SUBTITLE: break;
    default: throw FFmpegException("invalid codec_type of output stream");
    }
    const uint32_t ownTag = par->codec_tag;
    if (ff::avcodec_parameters_copy(par, ipar) < 0) throw FFmpegException("av_mallocz fail");
    par->codec_tag = ownTag;
    if (par->codec_tag == 0) {
        const AVCodecTag* const* tags = output_contexts[ost.file_index]->oformat->codec_tag;
        if (!tags || ff::av_codec_get_id(tags, ipar->codec_tag) != AV_CODEC_ID_NONE ||
            ff::av_codec_get_tag(tags, ipar->codec_id) == 0)
            par->codec_tag = ipar->codec_tag;
    }
    // The codec rate is taken when the stream's clock is much finer than a frame.
    const AVRational itb = ist.stream->time_base;
    const AVRational frameTb = ist.stream->avg_frame_rate.num > 0 ? av_inv_q(ist.stream->avg_frame_rate)
                                                                  : AVRational{0, 1};
    if (type == AVMEDIA_TYPE_VIDEO && frameTb.num > 0 && av_q2d(frameTb) > av_q2d(itb) &&
        av_q2d(itb) < 0.001)
        ost.stream->time_base = frameTb;
    else
        ost.stream->time_base = itb;
    if (type == AVMEDIA_TYPE_AUDIO) {
        if ((par->block_align == 1 && par->codec_id == AV_CODEC_ID_MP3) ||
            par->codec_id == AV_CODEC_ID_AC3)
            par->block_align = 0;
    }
    ost.stream->avg_frame_rate = ist.stream->avg_frame_rate;
    ost.stream->r_frame_rate = ist.stream->r_frame_rate;
    ost.stream->sample_aspect_ratio = ist.stream->sample_aspect_ratio;
    ost.copy = true;
}

void TCustomFFmpeg::SetupVideoEncoding(TOutputStreamState& ost, TInputStreamState& ist)
{
    AVCodecContext* enc = ost.encoder;
    const AVCodecParameters* ipar = ist.stream->codecpar;
    if (enc->pix_fmt == AV_PIX_FMT_NONE || ipar->format == AV_PIX_FMT_NONE || ipar->width <= 0 ||
        ipar->height <= 0)
        throw FFmpegException("Video pixel format is unknown, stream cannot be decoded");
    ost.crop_enabled = (crop_left + crop_right + crop_top + crop_bottom) != 0;
    ost.pad_enabled = (pad_left + pad_right + pad_top + pad_bottom) != 0;
    if (ost.pad_enabled) {
        ost.pad_top = pad_top;
        ost.pad_bottom = pad_bottom;
        ost.pad_left = pad_left;
        ost.pad_right = pad_right;
    }
    ost.encoding_needed = 1;
    ist.decoding_needed = 1;
    if (UseFilters) {
        // The graph scales to the encoder's size and converts to its pixel format (crop options
        // are refused with filters); only the pad bands are left to the pipeline.
        ErrorText.clear();
        BuildVideoFilters(ost, ist);
        enc->bits_per_raw_sample = 0;  // the graph converts the pictures to the encoder's format
        if (ost.pad_enabled) AllocateEncoderPictures(ost, false);
        return;
    }
    ost.needs_scaling = enc->width != ipar->width - (crop_left + crop_right) + (pad_left + pad_right) ||
                        enc->height != ipar->height - (crop_top + crop_bottom) + (pad_top + pad_bottom) ||
                        enc->pix_fmt != ipar->format;
    if (ost.crop_enabled) {
        ost.crop_top = ost.first_crop_top = crop_top;
        ost.crop_bottom = ost.first_crop_bottom = crop_bottom;
        ost.crop_left = ost.first_crop_left = crop_left;
        ost.crop_right = ost.first_crop_right = crop_right;
    }
    if (ost.pad_enabled || ost.needs_scaling) AllocateEncoderPictures(ost, ost.needs_scaling);
    if (ost.needs_scaling) {
        scaler_flags = ScalerFlagsOption(option_contexts_, scaler_flags);
        const int srcW = ipar->width - crop_left - crop_right;
        const int srcH = ipar->height - crop_top - crop_bottom;
        const int dstW = enc->width - pad_left - pad_right;
        const int dstH = enc->height - pad_top - pad_bottom;
        ost.scaler.reset(ff::sws_getContext(srcW, srcH, static_cast<AVPixelFormat>(ipar->format), dstW, dstH,
                                            enc->pix_fmt, scaler_flags, nullptr, nullptr, nullptr));
        if (!ost.scaler) throw FFmpegException("Cannot get resampling context");
        ost.first_height = ipar->height;
        ost.first_width = ipar->width;
        ost.scaler_in_height = srcH;
        ost.scaler_in_width = srcW;
        ost.scaler_in_pix_fmt = ipar->format;
        enc->bits_per_raw_sample = 0;
    }
}

// Encoder pictures come from a pool: the encoder may keep a picture while the next one is made,
// and the pool hands back released buffers without allocating.
void TCustomFFmpeg::AllocateEncoderPictures(TOutputStreamState& ost, bool forScaling)
{
    const AVCodecContext* enc = ost.encoder;
    const char* failure = forScaling ? "Cannot allocate temp picture, check pix fmt" : "avpicture_alloc fail";
    ost.scaled_picture.reset(ff::av_frame_alloc());
    const int size = ff::av_image_get_buffer_size(enc->pix_fmt, enc->width, enc->height, 32);
    if (!ost.scaled_picture || size <= 0) throw FFmpegException(failure);
    ost.picture_size = size + 64;
    ost.picture_pool.reset(ff::av_buffer_pool_init(ost.picture_size, nullptr));
    if (!ost.picture_pool) throw FFmpegException(failure);
}

// Pass 1 opens the statistics log, pass 2 hands the whole log to the encoder before it opens.
void TCustomFFmpeg::SetupTwoPassLog(TOutputStreamState& ost)
{
    // Join groups share the encoders of group 0, whose streams keep the logs.
    if (JoinMode && run_group_size_ > 0 && ost.table_index >= run_group_size_) return;
    ost.pass_log_file = SetUpTwoPassLog(pass_log_prefix, ost.table_index, ost.encoder);
}

void TCustomFFmpeg::OpenEncoders()
{
    const int count = JoinMode ? run_group_size_ : static_cast<int>(run_outputs_.size());
    for (int n = 0; n < count; n++) {
        TOutputStreamState& ost = *run_outputs_[n];
        if (!ost.encoding_needed) continue;
        AVCodecContext* enc = ost.encoder;
        const AVCodec* codec = n < MAX_STREAM_MAPS ? chosen_encoders[n] : nullptr;
        if (!codec) codec = ff::avcodec_find_encoder(enc->codec_id);
        if (!codec) {
            WriteListing();
            throw FFmpegException(
                Format("Encoder (codec id %d) not found for output stream #%d.%d (%s)",
                       static_cast<int>(enc->codec_id), ost.file_index, ost.stream_index,
                       TypeName(ost.stream).c_str()));
        }
        // The run counts audio time in samples.
        if (enc->codec_type == AVMEDIA_TYPE_AUDIO && enc->sample_rate > 0)
            enc->time_base = AVRational{1, enc->sample_rate};
        if (enc->codec_type == AVMEDIA_TYPE_SUBTITLE && enc->time_base.num <= 0)
            enc->time_base = AVRational{1, 1000};  // display times are in ms
        const AVCodecContext* dec = run_inputs_[ost.source_index]->decoder.get();
        if (enc->codec_type == AVMEDIA_TYPE_SUBTITLE && dec && dec->subtitle_header && !enc->subtitle_header) {
            enc->subtitle_header = static_cast<uint8_t*>(ff::av_mallocz(dec->subtitle_header_size + 1));
            if (!enc->subtitle_header) throw FFmpegException("av_mallocz fail");
            std::memcpy(enc->subtitle_header, dec->subtitle_header, dec->subtitle_header_size);
            enc->subtitle_header_size = dec->subtitle_header_size;
        }
        if (!ff::avcodec_is_open(enc)) {
            AVDictionary* dict = PendingCodecPrivateOptions(enc->codec_type);
            int ret = -1;
            std::vector<std::string> refusal;
            {
                std::lock_guard<std::mutex> lock(CodecLock());
                if (!(enc->flags & AV_CODEC_FLAG_PASS2) || SecondPassOpens(enc, codec, dict, refusal))
                    ret = ff::avcodec_open2(enc, codec, &dict);
            }
            ff::av_dict_free(&dict);
            for (const std::string& line : refusal) LogMessage(this, llError, line);
            if (ret < 0) {
                WriteListing();
                throw FFmpegException(
                    Format("Error while opening encoder for output stream #%d.%d (%s) - maybe "
                           "incorrect parameters such as bit_rate, rate, width or height",
                           ost.file_index, ost.stream_index, TypeName(ost.stream).c_str()));
            }
        }
        if (ff::avcodec_parameters_from_context(ost.stream->codecpar, enc) < 0)
            throw FFmpegException("av_mallocz fail");
        ost.stream->time_base = enc->time_base;
        if (enc->codec_type == AVMEDIA_TYPE_VIDEO) {
            ost.stream->avg_frame_rate = av_inv_q(enc->time_base);
            ost.stream->sample_aspect_ratio = enc->sample_aspect_ratio;
        }
        header_bytes += enc->extradata_size;
    }
    // Every audio stream (join groups included, which share group 0's encoders) cuts its
    // samples into encoder frames through its own FIFO.
    for (auto& o : run_outputs_) {
        TOutputStreamState& ost = *o;
        AVCodecContext* enc = ost.encoder;
        if (!ost.encoding_needed || enc->codec_type != AVMEDIA_TYPE_AUDIO) continue;
        ost.audio_fifo.reset(ff::av_audio_fifo_alloc(enc->sample_fmt, enc->ch_layout.nb_channels,
                                                     std::max(enc->frame_size, 1024)));
        ost.audio_frame.reset(ff::av_frame_alloc());
        if (!ost.audio_fifo || !ost.audio_frame) throw FFmpegException("av_fifo_alloc fail");
    }
}

void TCustomFFmpeg::OpenDecoders()
{
    for (size_t n = 0; n < run_inputs_.size(); n++) {
        TInputStreamState& ist = *run_inputs_[n];
        if (!ist.decoding_needed) continue;
        const AVCodecParameters* par = ist.stream->codecpar;
        const AVCodec* codec = n < MAX_STREAM_MAPS ? forced_decoders[n] : nullptr;
        if (!codec) codec = ff::avcodec_find_decoder(par->codec_id);
        if (!codec) {
            WriteListing();
            throw FFmpegException(
                Format("Decoder (codec id %d) not found for input stream #%d.%d (%s)",
                       static_cast<int>(par->codec_id), ist.file_index, ist.stream_index,
                       MediaTypeName(par->codec_type).c_str()));
        }
        ist.decoder.reset(ff::avcodec_alloc_context3(codec));
        if (!ist.decoder || ff::avcodec_parameters_to_context(ist.decoder.get(), par) < 0)
            throw FFmpegException("av_mallocz fail");
        AVCodecContext* dec = ist.decoder.get();
        dec->pkt_timebase = ist.stream->time_base;
        dec->thread_count = thread_count;
        const int typeIndex = par->codec_type;
        if (option_contexts_.Allocated() && typeIndex >= 0 && typeIndex < OPTION_CONTEXT_TYPES)
            CopyContextOptions(option_contexts_, dec, option_contexts_.codec[typeIndex],
                               OPT_DECODING | TypeFlag(par->codec_type));
        int ret;
        {
            std::lock_guard<std::mutex> lock(CodecLock());
            ret = ff::avcodec_open2(dec, codec, nullptr);
        }
        if (ret < 0) {
            WriteListing();
            throw FFmpegException(Format("Error while opening decoder for input stream #%d.%d (%s)",
                                         ist.file_index, ist.stream_index,
                                         MediaTypeName(par->codec_type).c_str()));
        }
        ist.frame.reset(ff::av_frame_alloc());
        if (!ist.frame) throw FFmpegException("av_mallocz fail");
    }
}

void TCustomFFmpeg::SetupBitstreamFilters()
{
    for (auto& o : run_outputs_) {
        TOutputStreamState& ost = *o;
        if (JoinMode && ost.file_index > 0) continue;  // the streams of group 0 carry the chains
        const TBitstreamFilterChain& chain = bitstream_filters[ost.file_index][ost.stream_index];
        if (chain.empty()) continue;
        std::string text;
        for (const auto& name : chain) text += (text.empty() ? "" : ",") + name;
        AVBSFContext* bsf = nullptr;
        int ret = ff::av_bsf_list_parse_str(text.c_str(), &bsf);
        ost.bsf.reset(bsf);
        if (ret >= 0) ret = ff::avcodec_parameters_copy(bsf->par_in, ost.stream->codecpar);
        if (ret >= 0) {
            bsf->time_base_in = ost.stream->time_base;
            ret = ff::av_bsf_init(bsf);
        }
        if (ret >= 0) ret = ff::avcodec_parameters_copy(ost.stream->codecpar, bsf->par_out);
        if (ret < 0)
            throw FFmpegException(OpenErrorText(Format("%s failed for stream %d, codec %s",
                                                       text.c_str(), ost.stream_index,
                                                       ost.copy ? "copy" : ff::avcodec_get_name(ost.encoder->codec_id)),
                                                ret));
        ost.stream->time_base = bsf->time_base_out;
        ost.bsf_names = chain;
    }
    // Join groups write through the chains of group 0.
}

void TCustomFFmpeg::WriteHeaders()
{
    const int files = JoinMode ? std::min(output_count, 1) : output_count;
    bool allRtp = files > 0;
    for (int i = 0; i < files; i++) {
        AVFormatContext* oc = output_contexts[i];
        AVDictionary* dict = PendingFormatPrivateOptions();
        const int ret = ff::avformat_write_header(oc, &dict);
        ff::av_dict_free(&dict);
        if (ret < 0) {
            WriteListing();
            const std::string text =
                Format("Could not write header for output file #%d (incorrect codec parameters ?)", i);
            LogMessage(this, llError, text);
            throw FFmpegException(text);
        }
        if (std::strcmp(oc->oformat->name, "rtp") != 0) allRtp = false;
    }
    if (allRtp) {
        char sdp[2048] = {};
        ff::av_sdp_create(output_contexts, files, sdp, sizeof(sdp));
        std::string text = sdp;
        const size_t b = text.find_first_not_of(" \t\r\n");
        const size_t e = text.find_last_not_of(" \t\r\n");
        text = b == std::string::npos ? std::string() : text.substr(b, e - b + 1);
        LogMessage(this, llInfo, "SDP:\r\n" + text);
    }
}

}  // namespace quorlane
