// Packet decoding and dispatch: the input stream's clock, decoding on the send/receive API, the
// hand-over of decoded units to the outputs, stream copy, encoder flushing and the packet writer.
#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

#include "FFmpeg.h"
#include "FFmpegLogger.h"
#include "MyUtils.h"
#include "TwoPassLog.h"

namespace quorlane {

namespace {

// Duration of one decoded picture in µs, 0 when the stream does not say.
int64_t PictureDuration(const TInputStreamState& ist, const AVFrame* frame)
{
    const AVCodecContext* dec = ist.decoder.get();
    const int repeat = frame ? frame->repeat_pict : 0;
    if (dec && dec->framerate.num > 0)
        return static_cast<int64_t>(1000000) * dec->framerate.den * (2 + repeat) /
               (2 * static_cast<int64_t>(dec->framerate.num));
    const AVRational rate = ist.stream->avg_frame_rate;
    if (rate.num > 0 && rate.den > 0)
        return static_cast<int64_t>(1000000) * rate.den * (2 + repeat) / (2 * static_cast<int64_t>(rate.num));
    return 0;
}

}  // namespace

int TCustomFFmpeg::DispatchPacket(TInputStreamState& ist, int index, AVPacket* packet)
{
    if (ist.next_pts == AV_NOPTS_VALUE) ist.next_pts = ist.pts;
    const AVRational tb = ist.stream->time_base;
    if (packet && packet->dts != AV_NOPTS_VALUE)
        ist.pts = ist.next_pts = ff::av_rescale_q(packet->dts, tb, AV_TIME_BASE_Q);

    int result = 0;
    if (ist.decoding_needed) {
        result = DecodeAndDispatch(ist, index, packet);
    } else if (packet) {
        // Stream copy only: the clock advances by the packet's duration.
        ist.pts = ist.next_pts;
        const AVCodecParameters* par = ist.stream->codecpar;
        if (packet->duration > 0)
            ist.next_pts += ff::av_rescale_q(packet->duration, tb, AV_TIME_BASE_Q);
        else if (par->codec_type == AVMEDIA_TYPE_AUDIO && par->sample_rate > 0)
            ist.next_pts += static_cast<int64_t>(1000000) * par->frame_size / par->sample_rate;
        else if (par->codec_type == AVMEDIA_TYPE_VIDEO)
            ist.next_pts += PictureDuration(ist, nullptr);
    }
    // Copied outputs take the packet itself, once per packet.
    if (packet && (start_time == 0 || ist.pts >= start_time)) {
        for (auto& ost : run_outputs_)
            if (ost->source_index == index && ost->copy) CopyPacket(*ost, ist, packet);
    }
    if (!packet) {
        // Pictures still inside a filter graph come out before its encoder is flushed.
        for (auto& ost : run_outputs_)
            if (ost->source_index == index && ost->filters) FilteredVideoOutput(*ost, ist, nullptr);
    }
    if (!packet && (!JoinMode || ist.file_index >= input_count - 1)) FlushEncoders(index);
    return result;
}

int TCustomFFmpeg::DecodeAndDispatch(TInputStreamState& ist, int index, AVPacket* packet)
{
    AVCodecContext* dec = ist.decoder.get();
    const AVRational tb = ist.stream->time_base;
    if (dec->codec_type == AVMEDIA_TYPE_SUBTITLE) {
        if (!packet) return 0;
        AVSubtitle subtitle{};
        int got = 0;
        ist.pts = ist.next_pts;
        if (ff::avcodec_decode_subtitle2(dec, &subtitle, &got, packet) < 0) return -1;
        if (got) {
            DispatchDecoded(ist, index, &subtitle, packet->pts);
            ff::avsubtitle_free(&subtitle);
        }
        return 0;
    }
    if (dec->codec_type != AVMEDIA_TYPE_VIDEO && dec->codec_type != AVMEDIA_TYPE_AUDIO) return -1;

    int ret = ff::avcodec_send_packet(dec, packet);
    // A decoder that is already drained takes no more: nothing left to do.
    if (ret == AVERROR_EOF) return 0;
    if (ret < 0 && ret != AVERROR(EAGAIN)) return -1;
    AVFrame* frame = ist.frame.get();
    for (;;) {
        ret = ff::avcodec_receive_frame(dec, frame);
        if (ret == AVERROR(EAGAIN) || ret == AVERROR_EOF) break;
        if (ret < 0) return -1;
        const int64_t best = frame->best_effort_timestamp;
        ist.pts = best != AV_NOPTS_VALUE ? ff::av_rescale_q(best, tb, AV_TIME_BASE_Q) : ist.next_pts;
        if (dec->codec_type == AVMEDIA_TYPE_AUDIO) {
            if (frame->sample_rate > 0)
                ist.next_pts = ist.pts + static_cast<int64_t>(frame->nb_samples) * 1000000 / frame->sample_rate;
        } else {
            ist.quality = frame->quality;
            ist.next_pts = ist.pts + PictureDuration(ist, frame);
        }
        DispatchDecoded(ist, index, nullptr, AV_NOPTS_VALUE);
        ff::av_frame_unref(frame);
    }
    return 0;
}

void TCustomFFmpeg::DispatchDecoded(TInputStreamState& ist, int index, AVSubtitle* subtitle,
                                    int64_t packetPts)
{
    AVCodecContext* dec = ist.decoder.get();
    AVFrame* frame = ist.frame.get();
    if (dec->codec_type == AVMEDIA_TYPE_VIDEO) PreparePicture(ist, frame);
    if (dec->codec_type == AVMEDIA_TYPE_AUDIO) {
        if (!DecodedToS16(ist, frame)) return;
        if (volume != 256) {
            int16_t* s = reinterpret_cast<int16_t*>(ist.samples.planes[0]);
            const int count = ist.sample_count * ist.to_s16_channels;
            for (int i = 0; i < count; i++) {
                const int v = (s[i] * volume + 128) >> 8;
                s[i] = static_cast<int16_t>(v < -32768 ? -32768 : (v > 32767 ? 32767 : v));
            }
        }
    }
    if (rate_emulation) {
        const int64_t elapsed = ff::av_gettime() - ist.start_wall_time;
        const int64_t lead = ist.pts - elapsed;
        if (lead > 1000) std::this_thread::sleep_for(std::chrono::milliseconds(lead / 1000));
    }
    if (start_time != 0 && ist.pts < start_time) return;
    // Units the decoder still held when the recording time ended stay out too.
    if (recording_time != INT64_MAX && ist.pts - start_time >= recording_time) return;
    for (auto& o : run_outputs_) {
        TOutputStreamState& ost = *o;
        if (ost.source_index != index || ost.copy || !ost.encoding_needed) continue;
        switch (dec->codec_type) {
        case AVMEDIA_TYPE_AUDIO:
            AudioOutput(ost, ist, ist.samples.planes[0], ist.sample_count);
            break;
        case AVMEDIA_TYPE_VIDEO:
            if (ost.filters)
                FilteredVideoOutput(ost, ist, frame);
            else
                EncodePicture(ost, ist, frame);
            break;
        case AVMEDIA_TYPE_SUBTITLE:
            if (subtitle) SubtitleOutput(ost, ist, *subtitle, packetPts);
            break;
        default: throw FFmpegException("invalid codec_type");
        }
    }
}

void TCustomFFmpeg::CopyPacket(TOutputStreamState& ost, TInputStreamState& ist, const AVPacket* packet)
{
    const AVRational otb = ost.stream->time_base;
    const AVRational itb = ist.stream->time_base;
    const int64_t startOffset = ff::av_rescale_q(start_time, AV_TIME_BASE_Q, otb);
    if (ost.frame_number == 0 && !(packet->flags & AV_PKT_FLAG_KEY) && !copy_initial_non_key) return;
    const AVMediaType type = ist.stream->codecpar->codec_type;
    if (type == AVMEDIA_TYPE_AUDIO) {
        audio_bytes += packet->size;
    } else if (type == AVMEDIA_TYPE_VIDEO) {
        video_bytes += packet->size;
        ost.sync_pts++;
    }
    AVPacket* out = run_out_packet_.get();
    if (ff::av_packet_ref(out, packet) < 0) throw FFmpegException("av_mallocz fail");
    out->stream_index = ost.stream_index;
    out->pts = packet->pts != AV_NOPTS_VALUE ? ff::av_rescale_q(packet->pts, itb, otb) - startOffset
                                             : AV_NOPTS_VALUE;
    out->dts = (packet->dts != AV_NOPTS_VALUE ? ff::av_rescale_q(packet->dts, itb, otb)
                                              : ff::av_rescale_q(ist.pts, AV_TIME_BASE_Q, otb)) -
               startOffset;
    out->duration = ff::av_rescale_q(packet->duration, itb, otb);
    out->time_base = otb;
    WritePacket(ost, out);
    ost.frame_number++;
    ff::av_packet_unref(out);
}

void TCustomFFmpeg::FlushEncoders(int index)
{
    for (size_t n = 0; n < run_outputs_.size(); n++) {
        TOutputStreamState& ost = *run_outputs_[n];
        if (ost.source_index != index || !ost.encoding_needed || ost.copy) continue;
        // Join groups share one encoder, flushed once.
        TOutputStreamState& owner = JoinMode && run_group_size_ > 0 ? *run_outputs_[n % run_group_size_] : ost;
        if (owner.encoder_flushed) continue;
        AVCodecContext* enc = ost.encoder;
        if (enc->codec_type == AVMEDIA_TYPE_AUDIO) {
            FlushAudioFifo(ost);
        } else if (enc->codec_type != AVMEDIA_TYPE_VIDEO) {
            continue;
        }
        owner.encoder_flushed = true;
        const int ret = ff::avcodec_send_frame(enc, nullptr);
        if (ret < 0 && ret != AVERROR_EOF)
            throw FFmpegException(enc->codec_type == AVMEDIA_TYPE_AUDIO ? "Audio encoding failed"
                                                                       : "Video encoding failed");
        ReceivePackets(ost, enc->codec_type == AVMEDIA_TYPE_AUDIO ? &audio_bytes : &video_bytes);
    }
}

// Takes every packet the encoder has ready and writes it; returns through `bytes` the growth of
// the job's byte count. The packet sizes of the last call are kept in last_packet_bytes.
void TCustomFFmpeg::ReceivePackets(TOutputStreamState& ost, int64_t* bytes)
{
    AVCodecContext* enc = ost.encoder;
    AVPacket* pkt = run_out_packet_.get();
    ost.last_packet_bytes = 0;
    for (;;) {
        const int ret = ff::avcodec_receive_packet(enc, pkt);
        if (ret == AVERROR(EAGAIN) || ret == AVERROR_EOF) break;
        if (ret < 0)
            throw FFmpegException(enc->codec_type == AVMEDIA_TYPE_AUDIO ? "Audio encoding failed"
                                                                       : "Video encoding failed");
        size_t sideSize = 0;
        const uint8_t* side = ff::av_packet_get_side_data(pkt, AV_PKT_DATA_QUALITY_STATS, &sideSize);
        if (side && sideSize >= 6) {
            ost.last_quality = static_cast<int>(side[0] | (side[1] << 8) | (side[2] << 16) |
                                                (static_cast<uint32_t>(side[3]) << 24));
            ost.last_pict_type = side[4];
            const int errors = side[5];
            for (int i = 0; i < 3 && i < errors && sideSize >= 8 + 8 * static_cast<size_t>(i + 1); i++) {
                uint64_t e = 0;
                for (int b = 7; b >= 0; b--) e = (e << 8) | side[8 + 8 * i + b];
                ost.last_error[i] = e;
            }
        }
        ost.last_packet_bytes += pkt->size;
        if (bytes) *bytes += pkt->size;
        WriteTwoPassStats(PassLogOf(ost), enc);
        pkt->stream_index = ost.stream_index;
        // A picture lasts one tick of the encoder's clock; the muxers' durations depend on it.
        if (pkt->duration == 0 && enc->codec_type == AVMEDIA_TYPE_VIDEO) pkt->duration = 1;
        ff::av_packet_rescale_ts(pkt, enc->time_base, ost.stream->time_base);
        pkt->time_base = ost.stream->time_base;
        WritePacket(ost, pkt);
        ff::av_packet_unref(pkt);
    }
}

// Join groups share the encoders of group 0, whose streams hold the pass-1 logs.
my_file* TCustomFFmpeg::PassLogOf(const TOutputStreamState& ost) const
{
    if (JoinMode && run_group_size_ > 0 && ost.table_index >= run_group_size_)
        return run_outputs_[ost.table_index % run_group_size_]->pass_log_file.get();
    return ost.pass_log_file.get();
}

void TCustomFFmpeg::WritePacket(TOutputStreamState& ost, AVPacket* packet)
{
    if (!ost.bsf) {
        WriteMuxerPacket(ost, packet);
        return;
    }
    int ret = ff::av_bsf_send_packet(ost.bsf.get(), packet);
    if (ret < 0) {
        const std::string text = OpenErrorText(
            Format("%s failed for stream %d, codec %s", ost.bsf->filter->name,
                   packet ? packet->stream_index : ost.stream_index,
                   ost.copy ? "copy" : ff::avcodec_get_name(ost.encoder->codec_id)),
            ret);
        if (exit_on_error) throw FFmpegException(text);
        LogMessage(this, llError, text);
        if (packet) WriteMuxerPacket(ost, packet);
        return;
    }
    AVPacket* filtered = ost.filtered_packet.get();
    if (!filtered) {
        ost.filtered_packet.reset(ff::av_packet_alloc());
        filtered = ost.filtered_packet.get();
        if (!filtered) throw FFmpegException("av_mallocz fail");
    }
    while ((ret = ff::av_bsf_receive_packet(ost.bsf.get(), filtered)) == 0) {
        filtered->stream_index = ost.stream_index;
        WriteMuxerPacket(ost, filtered);
    }
}

void TCustomFFmpeg::WriteMuxerPacket(TOutputStreamState& ost, AVPacket* packet)
{
    const int64_t start = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
    if (start != AV_NOPTS_VALUE) {
        const int64_t end = start + std::max<int64_t>(packet->duration, 0);
        if (ost.mux_end == AV_NOPTS_VALUE || end > ost.mux_end) ost.mux_end = end;
    }
    const int ret = ff::av_interleaved_write_frame(output_contexts[ost.file_index], packet);
    if (ret < 0) throw FFmpegException(OpenErrorText("av_interleaved_write_frame()", ret));
}

}  // namespace quorlane
