#include "RunTestSupport.h"

#include <cstring>
#include <mutex>
#include <sstream>

#include "FFmpegLoader.h"

namespace quorlane::test {

namespace {

struct InputCloser {
    void operator()(AVFormatContext* c) const { ff::avformat_close_input(&c); }
};
struct DecoderFree {
    void operator()(AVCodecContext* c) const { ff::avcodec_free_context(&c); }
};
using InputPtr = std::unique_ptr<AVFormatContext, InputCloser>;
using DecoderPtr = std::unique_ptr<AVCodecContext, DecoderFree>;

InputPtr OpenFile(const std::string& path)
{
    AVFormatContext* ic = nullptr;
    if (ff::avformat_open_input(&ic, path.c_str(), nullptr, nullptr) < 0) return nullptr;
    InputPtr owned(ic);
    std::lock_guard<std::mutex> lock(CodecLock());
    if (ff::avformat_find_stream_info(ic, nullptr) < 0) return nullptr;
    return owned;
}

}  // namespace

std::vector<std::string> Words(const std::string& text)
{
    std::istringstream in(text);
    std::vector<std::string> out;
    for (std::string w; in >> w;) out.push_back(w);
    return out;
}

void PrepareJob(TCustomFFmpeg& job, const std::vector<std::string>& words)
{
    job.Reset();
    for (size_t i = 0; i < words.size(); i++) {
        const std::string& w = words[i];
        if (w.size() > 1 && w[0] == '-') {
            const std::string name = w.substr(1);
            if (name == "i") {
                job.OpenInputFile(words.at(++i));
                continue;
            }
            std::string value;
            if (TCustomFFmpeg::OptionTakesValue(name)) value = words.at(++i);
            job.ApplyOption(name, value);
        } else {
            job.OpenOutputFile(w);
        }
    }
}

std::string ConvertWords(TCustomFFmpeg& job, const std::string& words)
{
    try {
        PrepareJob(job, Words(words));
        job.Transcode();
    } catch (const std::exception& e) {
        job.ReleaseJob();
        return e.what();
    }
    job.ReleaseJob();
    return std::string();
}

std::string DefaultPreset()
{
    return "-s 320x240 -b 400000 -r 25 -vcodec flv -acodec libmp3lame -ab 64000 -ar 22050 -ac 1";
}

DecodedOutput DecodeOutput(const std::string& path)
{
    DecodedOutput out;
    InputPtr ic = OpenFile(path);
    if (!ic) return out;
    out.opened = true;
    std::vector<DecoderPtr> decoders(ic->nb_streams);
    for (unsigned i = 0; i < ic->nb_streams; i++) {
        const AVCodecParameters* par = ic->streams[i]->codecpar;
        if (par->codec_type == AVMEDIA_TYPE_VIDEO) {
            out.videoStreams++;
            out.width = par->width;
            out.height = par->height;
        } else if (par->codec_type == AVMEDIA_TYPE_AUDIO) {
            out.audioStreams++;
            out.sampleRate = par->sample_rate;
            out.channels = par->ch_layout.nb_channels;
        } else {
            continue;
        }
        const AVCodec* codec = ff::avcodec_find_decoder(par->codec_id);
        if (!codec) continue;
        decoders[i].reset(ff::avcodec_alloc_context3(codec));
        ff::avcodec_parameters_to_context(decoders[i].get(), par);
        std::lock_guard<std::mutex> lock(CodecLock());
        if (ff::avcodec_open2(decoders[i].get(), codec, nullptr) < 0) decoders[i].reset();
    }
    AVPacket* pkt = ff::av_packet_alloc();
    AVFrame* frame = ff::av_frame_alloc();
    auto drain = [&](AVCodecContext* dec) {
        while (ff::avcodec_receive_frame(dec, frame) == 0) {
            if (dec->codec_type == AVMEDIA_TYPE_VIDEO) {
                auto plane = [&](int p, int w, int h) {
                    std::vector<uint8_t> bytes(static_cast<size_t>(w) * h);
                    for (int y = 0; y < h; y++)
                        std::memcpy(bytes.data() + static_cast<size_t>(y) * w,
                                    frame->data[p] + static_cast<ptrdiff_t>(y) * frame->linesize[p], w);
                    return bytes;
                };
                out.lumas.push_back(plane(0, frame->width, frame->height));
                if (out.videoFrames == 0) {
                    out.firstLuma = out.lumas.back();
                    if (frame->format == AV_PIX_FMT_YUV420P) {
                        out.firstCb = plane(1, frame->width / 2, frame->height / 2);
                        out.firstCr = plane(2, frame->width / 2, frame->height / 2);
                    }
                }
                out.videoFrames++;
            } else {
                out.audioSamples += frame->nb_samples;
            }
            ff::av_frame_unref(frame);
        }
    };
    while (ff::av_read_frame(ic.get(), pkt) >= 0) {
        AVCodecContext* dec = decoders[pkt->stream_index].get();
        if (dec) {
            if (ff::avcodec_send_packet(dec, pkt) < 0) out.decodeErrors++;
            drain(dec);
        }
        ff::av_packet_unref(pkt);
    }
    for (auto& dec : decoders)
        if (dec) {
            ff::avcodec_send_packet(dec.get(), nullptr);
            drain(dec.get());
        }
    ff::av_frame_free(&frame);
    ff::av_packet_free(&pkt);
    return out;
}

std::vector<std::vector<uint8_t>> StreamPayloads(const std::string& path, AVMediaType type)
{
    std::vector<std::vector<uint8_t>> payloads;
    InputPtr ic = OpenFile(path);
    if (!ic) return payloads;
    int index = -1;
    for (unsigned i = 0; i < ic->nb_streams && index < 0; i++)
        if (ic->streams[i]->codecpar->codec_type == type) index = static_cast<int>(i);
    AVPacket* pkt = ff::av_packet_alloc();
    while (ff::av_read_frame(ic.get(), pkt) >= 0) {
        if (pkt->stream_index == index) payloads.emplace_back(pkt->data, pkt->data + pkt->size);
        ff::av_packet_unref(pkt);
    }
    ff::av_packet_free(&pkt);
    return payloads;
}

}  // namespace quorlane::test
