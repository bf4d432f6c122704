// Writes the benchmark's source clip: 1920x1080, 30 fps H.264 (libx264, preset fast) and stereo AAC
// at 44.1 kHz, 30 seconds, in MP4. The picture moves everywhere so that every frame costs real work.
#include <cmath>
#include <cstdio>

#include "BenchSupport.h"
#include "EngineRuntime.h"

namespace quorlane::bench {
namespace {

constexpr int kWidth = 1920, kHeight = 1080, kFps = 30, kSeconds = 30, kRate = 44100;

struct Encoded {
    CodecPtr codec;
    AVStream* stream = nullptr;
};

void drain(AVFormatContext* oc, Encoded& e, AVFrame* frame, AVPacket* pkt)
{
    check(ff::avcodec_send_frame(e.codec.get(), frame), "encode");
    for (;;) {
        const int err = ff::avcodec_receive_packet(e.codec.get(), pkt);
        if (err == AVERROR(EAGAIN) || err == AVERROR_EOF) return;
        check(err, "encode");
        ff::av_packet_rescale_ts(pkt, e.codec->time_base, e.stream->time_base);
        pkt->stream_index = e.stream->index;
        check(ff::av_interleaved_write_frame(oc, pkt), "write");
    }
}

void addStream(AVFormatContext* oc, Encoded& e, AVDictionary** options)
{
    if (oc->oformat->flags & AVFMT_GLOBALHEADER) e.codec->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    check(openCodec(e.codec.get(), e.codec->codec, options), e.codec->codec->name);
    e.stream = ff::avformat_new_stream(oc, nullptr);
    if (!e.stream) throw std::runtime_error("cannot add a stream");
    e.stream->time_base = e.codec->time_base;
    check(ff::avcodec_parameters_from_context(e.stream->codecpar, e.codec.get()), "parameters");
}

void makeClip(const std::string& path)
{
    AVFormatContext* raw = nullptr;
    check(ff::avformat_alloc_output_context2(&raw, nullptr, nullptr, path.c_str()), "output");
    OutputPtr oc(raw);

    const AVCodec* h264 = ff::avcodec_find_encoder_by_name("libx264");
    const AVCodec* aac = ff::avcodec_find_encoder_by_name("aac");
    if (!h264 || !aac) throw std::runtime_error("libx264 or aac encoder missing");
    Encoded video{CodecPtr(ff::avcodec_alloc_context3(h264))};
    video.codec->width = kWidth;
    video.codec->height = kHeight;
    video.codec->pix_fmt = AV_PIX_FMT_YUV420P;
    video.codec->time_base = AVRational{1, kFps};
    video.codec->framerate = AVRational{kFps, 1};
    video.codec->gop_size = 2 * kFps;
    AVDictionary* options = nullptr;
    ff::av_dict_set(&options, "preset", "fast", 0);
    addStream(oc.get(), video, &options);
    ff::av_dict_free(&options);
    video.stream->avg_frame_rate = AVRational{kFps, 1};

    Encoded audio{CodecPtr(ff::avcodec_alloc_context3(aac))};
    audio.codec->sample_rate = kRate;
    audio.codec->sample_fmt = AV_SAMPLE_FMT_FLTP;
    ff::av_channel_layout_default(&audio.codec->ch_layout, 2);
    audio.codec->bit_rate = 128000;
    audio.codec->time_base = AVRational{1, kRate};
    addStream(oc.get(), audio, nullptr);

    check(ff::avio_open(&oc->pb, path.c_str(), AVIO_FLAG_WRITE), path.c_str());
    check(ff::avformat_write_header(oc.get(), nullptr), "header");

    PacketPtr pkt(ff::av_packet_alloc());
    FramePtr picture(ff::av_frame_alloc());
    picture->format = AV_PIX_FMT_YUV420P;
    picture->width = kWidth;
    picture->height = kHeight;
    check(ff::av_frame_get_buffer(picture.get(), 0), "picture");
    FramePtr sound(ff::av_frame_alloc());
    sound->format = AV_SAMPLE_FMT_FLTP;
    sound->nb_samples = audio.codec->frame_size;
    sound->sample_rate = kRate;
    ff::av_channel_layout_copy(&sound->ch_layout, &audio.codec->ch_layout);
    check(ff::av_frame_get_buffer(sound.get(), 0), "sound");

    uint32_t noise = 12345;
    int64_t samples = 0;
    for (int i = 0; i < kFps * kSeconds; ++i) {
        check(ff::av_frame_make_writable(picture.get()), "picture");
        // Diagonal bands that scroll, a moving bright square and light noise.
        const int sx = (i * 23) % (kWidth - 200), sy = (i * 11) % (kHeight - 200);
        for (int y = 0; y < kHeight; ++y) {
            uint8_t* row = picture->data[0] + y * picture->linesize[0];
            for (int x = 0; x < kWidth; ++x) {
                noise = noise * 1664525u + 1013904223u;
                const bool square = x >= sx && x < sx + 200 && y >= sy && y < sy + 200;
                row[x] = square ? 235 : static_cast<uint8_t>(((x + y + 4 * i) & 0xFF) / 2 + 40 + (noise >> 29));
            }
        }
        for (int p = 1; p < 3; ++p)
            for (int y = 0; y < kHeight / 2; ++y) {
                uint8_t* row = picture->data[p] + y * picture->linesize[p];
                for (int x = 0; x < kWidth / 2; ++x) row[x] = static_cast<uint8_t>(128 + ((p == 1 ? x : y) + 2 * i) % 64 - 32);
            }
        picture->pts = i;
        drain(oc.get(), video, picture.get(), pkt.get());

        while (samples < int64_t{i + 1} * kRate / kFps) {
            check(ff::av_frame_make_writable(sound.get()), "sound");
            for (int ch = 0; ch < 2; ++ch) {
                float* d = reinterpret_cast<float*>(sound->data[ch]);
                for (int k = 0; k < sound->nb_samples; ++k) {
                    const double t = static_cast<double>(samples + k) / kRate;
                    d[k] = static_cast<float>(0.25 * std::sin(2 * M_PI * (ch ? 330.0 : 440.0) * t) *
                                              (0.6 + 0.4 * std::sin(2 * M_PI * 0.5 * t)));
                }
            }
            sound->pts = samples;
            samples += sound->nb_samples;
            drain(oc.get(), audio, sound.get(), pkt.get());
        }
    }
    drain(oc.get(), video, nullptr, pkt.get());
    drain(oc.get(), audio, nullptr, pkt.get());
    check(ff::av_write_trailer(oc.get()), "trailer");
    check(ff::avio_closep(&oc->pb), "close");
}

}  // namespace
}  // namespace quorlane::bench

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUT.mp4\n", argv[0]);
        return 2;
    }
    quorlane::EngineRuntime runtime;
    try {
        quorlane::bench::loadLibraries();
        quorlane::bench::makeClip(argv[1]);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s: %s\n", argv[0], e.what());
        return 1;
    }
    return 0;
}
