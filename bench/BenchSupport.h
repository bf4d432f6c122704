// Shared by the two benchmark programs: owners of library objects, error texts, library start-up.
#pragma once

#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>

#include "EntryPoints.h"
#include "FFmpegLoader.h"
#include "MyUtils.h"

namespace quorlane::bench {

struct InputDeleter {
    void operator()(AVFormatContext* c) const { ff::avformat_close_input(&c); }
};
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
struct ScalerDeleter {
    void operator()(SwsContext* s) const { ff::sws_freeContext(s); }
};
struct ResamplerDeleter {
    void operator()(SwrContext* s) const { ff::swr_free(&s); }
};
struct FifoDeleter {
    void operator()(AVAudioFifo* f) const { ff::av_audio_fifo_free(f); }
};
using InputPtr = std::unique_ptr<AVFormatContext, InputDeleter>;
using OutputPtr = std::unique_ptr<AVFormatContext, OutputDeleter>;
using CodecPtr = std::unique_ptr<AVCodecContext, CodecDeleter>;
using FramePtr = std::unique_ptr<AVFrame, FrameDeleter>;
using PacketPtr = std::unique_ptr<AVPacket, PacketDeleter>;
using ScalerPtr = std::unique_ptr<SwsContext, ScalerDeleter>;
using ResamplerPtr = std::unique_ptr<SwrContext, ResamplerDeleter>;
using FifoPtr = std::unique_ptr<AVAudioFifo, FifoDeleter>;

// Throws with the library's text when err is negative; returns err otherwise.
inline int check(int err, const char* what)
{
    if (err >= 0) return err;
    char buf[AV_ERROR_MAX_STRING_SIZE] = {};
    ff::av_strerror(err, buf, sizeof buf);
    throw std::runtime_error(std::string(what) + ": " + buf);
}

inline int openCodec(AVCodecContext* c, const AVCodec* codec, AVDictionary** options = nullptr)
{
    std::lock_guard<std::mutex> lock(CodecLock());
    return ff::avcodec_open2(c, codec, options);
}

// The converter's library set, bound from the program's Dll/ folder as quorlane-cli does.
inline void loadLibraries()
{
    FFLoader().SetLibraryPath(ApplicationFolder() + L"Dll/");
    if (!FFLoader().Load(ConverterLibraries)) throw std::runtime_error(FFLoader().LastErrMsg());
}

}  // namespace quorlane::bench
