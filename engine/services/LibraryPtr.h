// Owning pointers for the library objects the engine keeps: each deleter calls the library's own
// free function.
#pragma once

#include <cstdint>
#include <memory>

#include "EntryPoints.h"

namespace quorlane {

struct FrameFree {
    void operator()(AVFrame* f) const { ff::av_frame_free(&f); }
};
struct PacketFree {
    void operator()(AVPacket* p) const { ff::av_packet_free(&p); }
};
struct SwrFree {
    void operator()(SwrContext* s) const { ff::swr_free(&s); }
};
struct SwsFree {
    void operator()(SwsContext* s) const { ff::sws_freeContext(s); }
};
struct AudioFifoFree {
    void operator()(AVAudioFifo* f) const { ff::av_audio_fifo_free(f); }
};
struct LibFree {
    void operator()(void* p) const { ff::av_free(p); }
};
using FramePtr = std::unique_ptr<AVFrame, FrameFree>;
using PacketPtr = std::unique_ptr<AVPacket, PacketFree>;
using SwrPtr = std::unique_ptr<SwrContext, SwrFree>;
using SwsPtr = std::unique_ptr<SwsContext, SwsFree>;
using AudioFifoPtr = std::unique_ptr<AVAudioFifo, AudioFifoFree>;
using LibBytes = std::unique_ptr<uint8_t, LibFree>;

}  // namespace quorlane
