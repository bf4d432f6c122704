// Subtitle output: re-timing, encoding and writing; DVB subtitles go out as a packet that shows
// the subtitle and one that clears it.
#include <cstring>

#include "FFmpeg.h"
#include "FFmpegLogger.h"
#include "MyUtils.h"

namespace quorlane {

namespace {
constexpr int SubtitleBufferSize = 1048576;
}

void TCustomFFmpeg::SubtitleOutput(TOutputStreamState& ost, TInputStreamState& ist, AVSubtitle& subtitle,
                                   int64_t packetPts)
{
    if (packetPts == AV_NOPTS_VALUE) {
        if (exit_on_error) throw FFmpegException("Subtitle packets must have a pts");
        LogMessage(this, llError, "Subtitle packets must have a pts");
        return;
    }
    // Each job has its own buffer: jobs running at the same time never share it.
    if (!subtitle_buffer_) subtitle_buffer_ = std::make_unique<uint8_t[]>(SubtitleBufferSize);
    AVCodecContext* enc = ost.encoder;
    const bool dvb = enc->codec_id == AV_CODEC_ID_DVB_SUBTITLE;
    const int packets = dvb ? 2 : 1;
    AVPacket* pkt = run_out_packet_.get();
    for (int i = 0; i < packets; i++) {
        subtitle.pts = ff::av_rescale_q(packetPts, ist.stream->time_base, AV_TIME_BASE_Q) +
                       ff::av_rescale_q(subtitle.start_display_time, AVRational{1, 1000}, AV_TIME_BASE_Q);
        subtitle.end_display_time -= subtitle.start_display_time;
        subtitle.start_display_time = 0;
        const int size = ff::avcodec_encode_subtitle(enc, subtitle_buffer_.get(), SubtitleBufferSize, &subtitle);
        if (size < 0) throw FFmpegException("Subtitle encoding failed");
        if (ff::av_new_packet(pkt, size) < 0) throw FFmpegException("Subtitle encoding failed");
        std::memcpy(pkt->data, subtitle_buffer_.get(), size);
        pkt->stream_index = ost.stream_index;
        pkt->pts = ff::av_rescale_q(subtitle.pts, AV_TIME_BASE_Q, ost.stream->time_base);
        if (dvb) {
            const AVRational ms90k{1, 90000};
            const int64_t extra = 90LL * (i == 0 ? subtitle.start_display_time : subtitle.end_display_time);
            pkt->pts += ff::av_rescale_q(extra, ms90k, ost.stream->time_base);
        }
        pkt->dts = pkt->pts;
        pkt->time_base = ost.stream->time_base;
        WritePacket(ost, pkt);
        ff::av_packet_unref(pkt);
        ost.frame_number++;
    }
}

}  // namespace quorlane
