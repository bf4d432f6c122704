// The per-run records of a transcode run: one per input file, per input stream and per output
// stream. They live only while a run lasts; every library object in them has its owner here.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "EntryPoints.h"
#include "LibraryPtr.h"
#include "TwoPassLog.h"
#include "VideoFilter.h"

namespace quorlane {

// Deleters calling the libraries' own free functions.
struct CodecContextCloser {
    void operator()(AVCodecContext* c) const;  // under CodecLock
};
struct BsfFree {
    void operator()(AVBSFContext* b) const { ff::av_bsf_free(&b); }
};
struct BufferPoolFree {
    void operator()(AVBufferPool* p) const { ff::av_buffer_pool_uninit(&p); }
};

using CodecContextPtr = std::unique_ptr<AVCodecContext, CodecContextCloser>;
using BsfPtr = std::unique_ptr<AVBSFContext, BsfFree>;
using BufferPoolPtr = std::unique_ptr<AVBufferPool, BufferPoolFree>;

// A sample buffer (one pointer per plane when planar) that only grows.
struct TSampleBuffer {
    uint8_t** planes = nullptr;  // av_samples_alloc_array_and_samples
    int capacity = 0;            // samples per channel
    int channels = 0;
    AVSampleFormat format = AV_SAMPLE_FMT_NONE;

    TSampleBuffer() = default;
    TSampleBuffer(const TSampleBuffer&) = delete;
    TSampleBuffer& operator=(const TSampleBuffer&) = delete;
    ~TSampleBuffer() { Free(); }
    // Makes room for `samples` per channel of `fmt` x `ch`; false when memory ran out.
    bool Reserve(int samples, int ch, AVSampleFormat fmt);
    void Free();
};

struct TInputFileState {
    int32_t eof_reached = 0;
    int32_t first_stream = 0;
    int32_t stream_count = 0;
};

struct TInputStreamState {
    int32_t file_index = 0;
    int32_t stream_index = 0;
    AVStream* stream = nullptr;
    int32_t discard = 1;
    int32_t decoding_needed = 0;
    int64_t start_wall_time = 0;
    int64_t next_pts = AV_NOPTS_VALUE;  // µs
    int64_t pts = 0;                    // µs
    int32_t is_start = 1;
    int32_t flushed = 0;
    double quality = 0.0;  // quality of the last decoded picture
    CodecContextPtr decoder;
    // The decoded unit, reused for every packet.
    FramePtr frame;
    // Decoded audio as packed signed 16-bit at the decoder's rate and channel count.
    SwrPtr to_s16;
    int to_s16_rate = 0;
    int to_s16_channels = 0;
    AVSampleFormat to_s16_format = AV_SAMPLE_FMT_NONE;
    TSampleBuffer samples;
    int sample_count = 0;  // samples per channel in `samples` for the unit being dispatched
    // Deinterlacing target; kept between pictures and only grows.
    LibBytes hook_buffer;
    int hook_buffer_size = 0;
};

struct TOutputStreamState {
    int32_t table_index = 0;  // position in the run's output-stream table
    int32_t file_index = 0;
    int32_t stream_index = 0;
    int32_t source_index = 0;
    AVStream* stream = nullptr;
    AVCodecContext* encoder = nullptr;  // the job's encoder of this stream (shared by join groups)
    bool copy = false;                  // stream copy: packets pass through
    int32_t encoding_needed = 0;
    int32_t frame_number = 0;
    TInputStreamState* sync_source = nullptr;
    int64_t sync_pts = 0;
    int64_t mux_end = AV_NOPTS_VALUE;  // end of the last written packet, stream time base
    // Last encoded packet's quality (lambda) and picture type, from the encoder's side data.
    int last_quality = -1;
    int last_pict_type = 0;
    uint64_t last_error[3] = {};

    // Video.
    int32_t needs_scaling = 0;
    FramePtr scaled_picture;  // frame holding the encoder input picture
    FramePtr picture_ref;     // the decoded picture (or a cropped view) handed to the encoder
    BufferPoolPtr picture_pool;
    int picture_size = 0;
    SwsPtr scaler;
    int32_t scaler_in_height = 0, scaler_in_width = 0, scaler_in_pix_fmt = -1;
    int32_t first_height = 0, first_width = 0;
    int32_t crop_enabled = 0;
    int32_t crop_top = 0, crop_bottom = 0, crop_left = 0, crop_right = 0;
    int32_t first_crop_top = 0, first_crop_bottom = 0, first_crop_left = 0, first_crop_right = 0;
    int32_t pad_enabled = 0;
    int32_t pad_top = 0, pad_bottom = 0, pad_left = 0, pad_right = 0;

    // Audio.
    int32_t needs_resampling = 0;
    SwrPtr resampler;  // packed s16 at the decoder's rate -> encoder format, layout and rate
    AudioFifoPtr audio_fifo;
    TSampleBuffer converted;
    FramePtr audio_frame;  // one encoder frame
    int audio_frame_capacity = 0;

    bool encoder_flushed = false;
    int last_packet_bytes = 0;  // bytes the encoder gave for the last picture or frame

    // Pass 1: the statistics log the encoder's text is appended to.
    TwoPassFile pass_log_file;
    // The "vfilters" graph between the decoder and this stream's encoder, and the picture taken
    // from it.
    std::unique_ptr<TVideoFilterGraph> filters;
    FramePtr filtered_picture;
    // Bitstream filter chain; none when the stream has no filter.
    BsfPtr bsf;
    PacketPtr filtered_packet;
    std::vector<std::string> bsf_names;
};

}  // namespace quorlane
