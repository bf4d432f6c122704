// The benchmark's bare reference: decode, scale (bicubic), keep a constant 25 fps by dropping and
// duplicating, encode ("flv" 400 kb/s at 320x240, "libmp3lame" 64 kb/s, 22050 Hz, mono) and mux, with
// the same libraries and nothing else. The output container follows the extension (.flv or .swf).
#include <cmath>
#include <cstdio>
#include <cstring>

#include "BenchSupport.h"
#include "EngineRuntime.h"
#include "job/SwfHeaderFix.h"

namespace quorlane::bench {
namespace {

constexpr int kWidth = 320, kHeight = 240, kFps = 25, kVideoRate = 400000;
constexpr int kSampleRate = 22050, kChannels = 1, kAudioRate = 64000;

struct Stream {
    AVStream* in = nullptr;
    CodecPtr decoder;
    CodecPtr encoder;
    AVStream* out = nullptr;
};

class Reference {
public:
    Reference(const std::string& in, const std::string& out, int threads) : outName_(out)
    {
        AVFormatContext* raw = nullptr;
        check(ff::avformat_open_input(&raw, in.c_str(), nullptr, nullptr), in.c_str());
        input_.reset(raw);
        {
            std::lock_guard<std::mutex> lock(CodecLock());
            check(ff::avformat_find_stream_info(input_.get(), nullptr), "stream info");
        }
        raw = nullptr;
        check(ff::avformat_alloc_output_context2(&raw, nullptr, nullptr, out.c_str()), out.c_str());
        output_.reset(raw);
        openDecoder(AVMEDIA_TYPE_VIDEO, video_, threads);
        openDecoder(AVMEDIA_TYPE_AUDIO, audio_, threads);
        if (!video_.in && !audio_.in) throw std::runtime_error("no audio or video stream");
        if (video_.in) openVideoEncoder();
        if (audio_.in) openAudioEncoder();
        check(ff::avio_open(&output_->pb, out.c_str(), AVIO_FLAG_WRITE), out.c_str());
        check(ff::avformat_write_header(output_.get(), nullptr), "header");
    }

    void run()
    {
        PacketPtr pkt(ff::av_packet_alloc());
        while (ff::av_read_frame(input_.get(), pkt.get()) >= 0) {
            if (video_.in && pkt->stream_index == video_.in->index) decodeVideo(pkt.get());
            else if (audio_.in && pkt->stream_index == audio_.in->index) decodeAudio(pkt.get());
            ff::av_packet_unref(pkt.get());
        }
        if (video_.in) {
            decodeVideo(nullptr);
            finishVideo();
            encode(video_, nullptr);
        }
        if (audio_.in) {
            decodeAudio(nullptr);
            flushAudio();
            encode(audio_, nullptr);
        }
        check(ff::av_write_trailer(output_.get()), "trailer");
        check(ff::avio_closep(&output_->pb), "close");
        if (std::string(output_->oformat->name) == "swf") {
            const TSwfRepair r = RepairSwfHeader(outName_);
            if (r.Result == TSwfRepairResult::srRefused) throw std::runtime_error(r.Message);
        }
    }

    int framesIn() const { return framesIn_; }
    int framesOut() const { return static_cast<int>(nextOut_); }
    int dropped() const { return dropped_; }
    int duplicated() const { return duplicated_; }

private:
    void openDecoder(AVMediaType type, Stream& s, int threads)
    {
        const int index = ff::av_find_best_stream(input_.get(), type, -1, -1, nullptr, 0);
        if (index < 0) return;
        s.in = input_->streams[index];
        const AVCodec* codec = ff::avcodec_find_decoder(s.in->codecpar->codec_id);
        if (!codec) throw std::runtime_error("no decoder");
        s.decoder.reset(ff::avcodec_alloc_context3(codec));
        check(ff::avcodec_parameters_to_context(s.decoder.get(), s.in->codecpar), "decoder parameters");
        s.decoder->pkt_timebase = s.in->time_base;
        s.decoder->thread_count = threads;
        check(openCodec(s.decoder.get(), codec), codec->name);
    }

    void addOutput(Stream& s)
    {
        if (output_->oformat->flags & AVFMT_GLOBALHEADER) s.encoder->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        check(openCodec(s.encoder.get(), s.encoder->codec), s.encoder->codec->name);
        s.out = ff::avformat_new_stream(output_.get(), nullptr);
        if (!s.out) throw std::runtime_error("cannot add a stream");
        s.out->time_base = s.encoder->time_base;
        check(ff::avcodec_parameters_from_context(s.out->codecpar, s.encoder.get()), "encoder parameters");
    }

    void openVideoEncoder()
    {
        const AVCodec* codec = ff::avcodec_find_encoder_by_name("flv");
        if (!codec) throw std::runtime_error("flv encoder missing");
        video_.encoder.reset(ff::avcodec_alloc_context3(codec));
        AVCodecContext* c = video_.encoder.get();
        c->width = kWidth;
        c->height = kHeight;
        c->pix_fmt = AV_PIX_FMT_YUV420P;
        c->time_base = AVRational{1, kFps};
        c->framerate = AVRational{kFps, 1};
        c->bit_rate = kVideoRate;
        addOutput(video_);
        video_.out->avg_frame_rate = AVRational{kFps, 1};
        scaled_.reset(ff::av_frame_alloc());
        scaled_->format = AV_PIX_FMT_YUV420P;
        scaled_->width = kWidth;
        scaled_->height = kHeight;
        check(ff::av_frame_get_buffer(scaled_.get(), 0), "picture");
        decoded_.reset(ff::av_frame_alloc());
    }

    void openAudioEncoder()
    {
        const AVCodec* codec = ff::avcodec_find_encoder_by_name("libmp3lame");
        if (!codec) throw std::runtime_error("libmp3lame encoder missing");
        audio_.encoder.reset(ff::avcodec_alloc_context3(codec));
        AVCodecContext* c = audio_.encoder.get();
        c->sample_rate = kSampleRate;
        ff::av_channel_layout_default(&c->ch_layout, kChannels);
        c->sample_fmt = codec->sample_fmts[0];
        for (const AVSampleFormat* f = codec->sample_fmts; *f != AV_SAMPLE_FMT_NONE; ++f)
            if (*f == AV_SAMPLE_FMT_FLTP) c->sample_fmt = *f;
        c->bit_rate = kAudioRate;
        c->time_base = AVRational{1, kSampleRate};
        addOutput(audio_);
        AVCodecParameters* in = audio_.in->codecpar;
        SwrContext* swr = nullptr;
        check(ff::swr_alloc_set_opts2(&swr, &c->ch_layout, c->sample_fmt, kSampleRate, &in->ch_layout,
                                      static_cast<AVSampleFormat>(in->format), in->sample_rate, 0, nullptr),
              "resampler");
        resampler_.reset(swr);
        check(ff::swr_init(swr), "resampler");
        fifo_.reset(ff::av_audio_fifo_alloc(c->sample_fmt, kChannels, 4 * c->frame_size));
        sound_.reset(ff::av_frame_alloc());
        sound_->format = c->sample_fmt;
        sound_->nb_samples = c->frame_size;
        sound_->sample_rate = kSampleRate;
        ff::av_channel_layout_copy(&sound_->ch_layout, &c->ch_layout);
        check(ff::av_frame_get_buffer(sound_.get(), 0), "sound");
        converted_.reset(ff::av_frame_alloc());
        audioIn_.reset(ff::av_frame_alloc());
    }

    void encode(Stream& s, AVFrame* frame)
    {
        check(ff::avcodec_send_frame(s.encoder.get(), frame), "encode");
        for (;;) {
            const int err = ff::avcodec_receive_packet(s.encoder.get(), outPacket_.get());
            if (err == AVERROR(EAGAIN) || err == AVERROR_EOF) return;
            check(err, "encode");
            ff::av_packet_rescale_ts(outPacket_.get(), s.encoder->time_base, s.out->time_base);
            outPacket_->stream_index = s.out->index;
            check(ff::av_interleaved_write_frame(output_.get(), outPacket_.get()), "write");
        }
    }

    // Output slot k shows the latest picture whose time is nearest k/25: a picture is held until the
    // next one arrives, then emitted for every slot closer to it than to its successor.
    void decodeVideo(const AVPacket* pkt)
    {
        int err = ff::avcodec_send_packet(video_.decoder.get(), pkt);
        if (err < 0 && err != AVERROR_EOF) check(err, "decode video");
        while ((err = ff::avcodec_receive_frame(video_.decoder.get(), decoded_.get())) >= 0) {
            ++framesIn_;
            const int64_t ts = decoded_->best_effort_timestamp;
            const double t = ts == AV_NOPTS_VALUE ? lastTime_ + frameStep()
                                                  : static_cast<double>(ts) * ff_q2d(video_.in->time_base);
            if (havePicture_) emitUntil((lastTime_ + t) / 2);
            lastTime_ = t;
            havePicture_ = true;
            pictureScaled_ = false;
            std::swap(held_, decoded_);
            ff::av_frame_unref(decoded_.get());
        }
        if (err != AVERROR(EAGAIN) && err != AVERROR_EOF) check(err, "decode video");
    }

    static double ff_q2d(AVRational r) { return static_cast<double>(r.num) / r.den; }
    double frameStep() const
    {
        const AVRational r = video_.in->avg_frame_rate;
        return r.num > 0 && r.den > 0 ? static_cast<double>(r.den) / r.num : 1.0 / 30;
    }

    void finishVideo()
    {
        if (havePicture_) emitUntil(lastTime_ + frameStep() / 2);
    }

    // Emits the held picture for every output slot before time `until` (seconds from the first picture).
    void emitUntil(double until)
    {
        if (firstTime_ < 0) firstTime_ = lastTime_;
        int emitted = 0;
        while (static_cast<double>(nextOut_) / kFps < until - firstTime_) {
            if (!pictureScaled_) {
                check(ff::av_frame_make_writable(scaled_.get()), "picture");
                scaler_.reset(ff::sws_getCachedContext(scaler_.release(), held_->width, held_->height,
                                                       static_cast<AVPixelFormat>(held_->format), kWidth, kHeight,
                                                       AV_PIX_FMT_YUV420P, SWS_BICUBIC, nullptr, nullptr, nullptr));
                if (!scaler_) throw std::runtime_error("scaler");
                ff::sws_scale(scaler_.get(), held_->data, held_->linesize, 0, held_->height, scaled_->data,
                              scaled_->linesize);
                pictureScaled_ = true;
            }
            scaled_->pts = nextOut_++;
            encode(video_, scaled_.get());
            if (++emitted > 1) ++duplicated_;
        }
        if (emitted == 0) ++dropped_;
    }

    void decodeAudio(const AVPacket* pkt)
    {
        int err = ff::avcodec_send_packet(audio_.decoder.get(), pkt);
        if (err < 0 && err != AVERROR_EOF) check(err, "decode audio");
        while ((err = ff::avcodec_receive_frame(audio_.decoder.get(), audioIn_.get())) >= 0) {
            convert(audioIn_->extended_data, audioIn_->nb_samples);
            ff::av_frame_unref(audioIn_.get());
        }
        if (err != AVERROR(EAGAIN) && err != AVERROR_EOF) check(err, "decode audio");
    }

    // Resamples into a buffer that only grows, queues, and encodes whole encoder frames.
    void convert(uint8_t** data, int samples)
    {
        const int room = static_cast<int>(static_cast<int64_t>(samples) * kSampleRate / audio_.in->codecpar->sample_rate) + 256;
        if (converted_->nb_samples < room) {
            ff::av_frame_unref(converted_.get());
            converted_->format = audio_.encoder->sample_fmt;
            converted_->nb_samples = room;
            ff::av_channel_layout_copy(&converted_->ch_layout, &audio_.encoder->ch_layout);
            check(ff::av_frame_get_buffer(converted_.get(), 0), "sound");
        }
        const int n = check(ff::swr_convert(resampler_.get(), converted_->extended_data, converted_->nb_samples,
                                            const_cast<const uint8_t**>(data), samples),
                            "resample");
        check(ff::av_audio_fifo_write(fifo_.get(), reinterpret_cast<void**>(converted_->extended_data), n), "queue");
        while (ff::av_audio_fifo_size(fifo_.get()) >= sound_->nb_samples) encodeSound(sound_->nb_samples);
    }

    void encodeSound(int samples)
    {
        check(ff::av_frame_make_writable(sound_.get()), "sound");
        ff::av_audio_fifo_read(fifo_.get(), reinterpret_cast<void**>(sound_->extended_data), samples);
        if (samples < sound_->nb_samples)
            for (int ch = 0; ch < kChannels; ++ch) {
                const int bytes = ff_sample_bytes(audio_.encoder->sample_fmt);
                std::memset(sound_->extended_data[ch] + samples * bytes, 0, (sound_->nb_samples - samples) * bytes);
            }
        sound_->pts = samplesOut_;
        samplesOut_ += sound_->nb_samples;
        encode(audio_, sound_.get());
    }

    static int ff_sample_bytes(AVSampleFormat f)
    {
        switch (f) {
        case AV_SAMPLE_FMT_S16P: return 2;
        default: return 4;
        }
    }

    void flushAudio()
    {
        convert(nullptr, 0);
        if (const int left = ff::av_audio_fifo_size(fifo_.get()); left > 0) encodeSound(left);
    }

    std::string outName_;
    InputPtr input_;
    OutputPtr output_;
    Stream video_, audio_;
    PacketPtr outPacket_{ff::av_packet_alloc()};
    FramePtr decoded_, held_{ff::av_frame_alloc()}, scaled_;
    ScalerPtr scaler_;
    bool havePicture_ = false, pictureScaled_ = false;
    double firstTime_ = -1, lastTime_ = 0;
    int64_t nextOut_ = 0;
    int framesIn_ = 0, dropped_ = 0, duplicated_ = 0;
    ResamplerPtr resampler_;
    FifoPtr fifo_;
    FramePtr sound_, converted_, audioIn_;
    int64_t samplesOut_ = 0;
};

}  // namespace
}  // namespace quorlane::bench

int main(int argc, char** argv)
{
    int threads = 1;  // the libraries' own default for a decoder
    int arg = 1;
    if (argc == 5 && std::strcmp(argv[1], "--threads") == 0) {
        threads = std::atoi(argv[2]);
        arg = 3;
    }
    if (argc - arg != 2) {
        std::fprintf(stderr, "usage: %s [--threads N] IN OUT.flv|OUT.swf\n", argv[0]);
        return 2;
    }
    quorlane::EngineRuntime runtime;
    try {
        quorlane::bench::loadLibraries();
        quorlane::bench::Reference ref(argv[arg], argv[arg + 1], threads);
        ref.run();
        std::printf("frames in %d, out %d, dropped %d, duplicated %d\n", ref.framesIn(), ref.framesOut(), ref.dropped(),
                    ref.duplicated());
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s: %s\n", argv[0], e.what());
        return 1;
    }
    return 0;
}
