#include "MuxedClip.h"

#include <cmath>
#include <memory>

#include "EntryPoints.h"
#include "FFmpegLoader.h"

namespace quorlane::test {

namespace {

using quorlane::CodecLock;

struct OutputDeleter {
    void operator()(AVFormatContext* c) const
    {
        if (c->pb) ff::avio_closep(&c->pb);
        ff::avformat_free_context(c);
    }
};
struct CodecDeleter {
    void operator()(AVCodecContext* c) const
    {
        std::lock_guard<std::mutex> lock(CodecLock());
        ff::avcodec_free_context(&c);
    }
};
struct FrameDeleter {
    void operator()(AVFrame* f) const { ff::av_frame_free(&f); }
};
struct PacketDeleter {
    void operator()(AVPacket* p) const { ff::av_packet_free(&p); }
};
using OutputPtr = std::unique_ptr<AVFormatContext, OutputDeleter>;
using CodecPtr = std::unique_ptr<AVCodecContext, CodecDeleter>;
using FramePtr = std::unique_ptr<AVFrame, FrameDeleter>;
using PacketPtr = std::unique_ptr<AVPacket, PacketDeleter>;

std::string errorText(const char* what, int err)
{
    char buf[AV_ERROR_MAX_STRING_SIZE] = {};
    ff::av_strerror(err, buf, sizeof buf);
    return std::string(what) + ": " + buf;
}

struct Output {
    CodecPtr codec;
    AVStream* stream = nullptr;
};

// Sends frame (nullptr drains) and writes every packet the encoder gives back.
int encode(AVFormatContext* oc, Output& o, AVFrame* frame, AVPacket* pkt)
{
    int err = ff::avcodec_send_frame(o.codec.get(), frame);
    if (err < 0) return err;
    for (;;) {
        err = ff::avcodec_receive_packet(o.codec.get(), pkt);
        if (err == AVERROR(EAGAIN) || err == AVERROR_EOF) return 0;
        if (err < 0) return err;
        ff::av_packet_rescale_ts(pkt, o.codec->time_base, o.stream->time_base);
        pkt->stream_index = o.stream->index;
        if ((err = ff::av_interleaved_write_frame(oc, pkt)) < 0) return err;
    }
}

std::string openEncoder(AVFormatContext* oc, const char* name, Output& o, const MuxedClipSpec& s, bool video)
{
    const AVCodec* codec = ff::avcodec_find_encoder_by_name(name);
    if (!codec) return std::string("encoder ") + name + " not found";
    o.codec.reset(ff::avcodec_alloc_context3(codec));
    AVCodecContext* c = o.codec.get();
    if (video) {
        c->width = s.width;
        c->height = s.height;
        c->pix_fmt = AV_PIX_FMT_YUV420P;
        c->time_base = AVRational{1, s.fps};
        c->framerate = AVRational{s.fps, 1};
        c->bit_rate = 300000;
        c->gop_size = s.fps;
    } else {
        c->sample_rate = s.sampleRate;
        ff::av_channel_layout_default(&c->ch_layout, s.channels);
        c->sample_fmt = codec->sample_fmts ? codec->sample_fmts[0] : AV_SAMPLE_FMT_S16P;
        for (const AVSampleFormat* f = codec->sample_fmts; f && *f != AV_SAMPLE_FMT_NONE; ++f)
            if (*f == AV_SAMPLE_FMT_FLTP) c->sample_fmt = *f;
        c->bit_rate = 64000;
        c->time_base = AVRational{1, s.sampleRate};
    }
    if (oc->oformat->flags & AVFMT_GLOBALHEADER) c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    int err;
    {
        std::lock_guard<std::mutex> lock(CodecLock());
        err = ff::avcodec_open2(c, codec, nullptr);
    }
    if (err < 0) return errorText(name, err);
    o.stream = ff::avformat_new_stream(oc, nullptr);
    if (!o.stream) return "cannot add a stream";
    o.stream->time_base = c->time_base;
    if (video) o.stream->avg_frame_rate = c->framerate;
    if ((err = ff::avcodec_parameters_from_context(o.stream->codecpar, c)) < 0) return errorText(name, err);
    return {};
}

// A moving gradient, so that the encoder has real work and inter frames.
void drawPicture(AVFrame* f, int index)
{
    for (int y = 0; y < f->height; ++y)
        for (int x = 0; x < f->width; ++x) f->data[0][y * f->linesize[0] + x] = static_cast<uint8_t>(x + y + 3 * index);
    for (int y = 0; y < f->height / 2; ++y)
        for (int x = 0; x < f->width / 2; ++x) {
            f->data[1][y * f->linesize[1] + x] = static_cast<uint8_t>(128 + index);
            f->data[2][y * f->linesize[2] + x] = static_cast<uint8_t>(96 + x);
        }
}

// A 440 Hz tone in whatever planar format the encoder takes.
void drawSound(AVFrame* f, int64_t firstSample)
{
    for (int ch = 0; ch < f->ch_layout.nb_channels; ++ch)
        for (int i = 0; i < f->nb_samples; ++i) {
            const double v = 0.3 * std::sin(2 * M_PI * 440.0 * static_cast<double>(firstSample + i) / f->sample_rate);
            switch (f->format) {
            case AV_SAMPLE_FMT_FLTP: reinterpret_cast<float*>(f->data[ch])[i] = static_cast<float>(v); break;
            case AV_SAMPLE_FMT_S32P: reinterpret_cast<int32_t*>(f->data[ch])[i] = static_cast<int32_t>(v * INT32_MAX); break;
            default: reinterpret_cast<int16_t*>(f->data[ch])[i] = static_cast<int16_t>(v * INT16_MAX); break;
            }
        }
}

}  // namespace

std::string WriteMuxedClip(const std::string& path, const MuxedClipSpec& clipSpec)
{
    AVFormatContext* raw = nullptr;
    int err = ff::avformat_alloc_output_context2(&raw, nullptr, nullptr, path.c_str());
    if (err < 0) return errorText("output context", err);
    OutputPtr oc(raw);
    Output video, audio;
    std::string failure;
    if (clipSpec.video && !(failure = openEncoder(oc.get(), "flv", video, clipSpec, true)).empty()) return failure;
    if (clipSpec.audio && !(failure = openEncoder(oc.get(), "libmp3lame", audio, clipSpec, false)).empty()) return failure;
    if ((err = ff::avio_open(&oc->pb, path.c_str(), AVIO_FLAG_WRITE)) < 0) return errorText("open", err);
    if ((err = ff::avformat_write_header(oc.get(), nullptr)) < 0) return errorText("write header", err);

    PacketPtr pkt(ff::av_packet_alloc());
    FramePtr frame(ff::av_frame_alloc());
    int64_t samples = 0;
    const int frames = clipSpec.fps * clipSpec.seconds;
    for (int i = 0; i < frames; ++i) {
        if (clipSpec.video) {
            ff::av_frame_unref(frame.get());
            frame->format = AV_PIX_FMT_YUV420P;
            frame->width = clipSpec.width;
            frame->height = clipSpec.height;
            if ((err = ff::av_frame_get_buffer(frame.get(), 0)) < 0) return errorText("picture", err);
            drawPicture(frame.get(), i);
            frame->pts = i;
            if ((err = encode(oc.get(), video, frame.get(), pkt.get())) < 0) return errorText("video", err);
        }
        // Sound up to the end of this picture, in whole encoder frames.
        while (clipSpec.audio && samples < int64_t{i + 1} * clipSpec.sampleRate / clipSpec.fps) {
            ff::av_frame_unref(frame.get());
            frame->format = audio.codec->sample_fmt;
            frame->nb_samples = audio.codec->frame_size;
            frame->sample_rate = clipSpec.sampleRate;
            ff::av_channel_layout_copy(&frame->ch_layout, &audio.codec->ch_layout);
            if ((err = ff::av_frame_get_buffer(frame.get(), 0)) < 0) return errorText("sound", err);
            drawSound(frame.get(), samples);
            frame->pts = samples;
            samples += frame->nb_samples;
            if ((err = encode(oc.get(), audio, frame.get(), pkt.get())) < 0) return errorText("audio", err);
        }
    }
    if (clipSpec.video && (err = encode(oc.get(), video, nullptr, pkt.get())) < 0) return errorText("video drain", err);
    if (clipSpec.audio && (err = encode(oc.get(), audio, nullptr, pkt.get())) < 0) return errorText("audio drain", err);
    if ((err = ff::av_write_trailer(oc.get())) < 0) return errorText("write trailer", err);
    if ((err = ff::avio_closep(&oc->pb)) < 0) return errorText("close", err);
    return {};
}

}  // namespace quorlane::test
