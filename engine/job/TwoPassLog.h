// The two-pass statistics log of one encoded output stream. Pass 1 appends the encoder's
// statistics text after every packet it produces; pass 2 hands the whole file back to the
// encoder before it opens. Files go through the helper C-runtime library (ff::my_*).
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "EntryPoints.h"

namespace quorlane {

// prefix ("ffmpeg2pass" when empty) + "-" + output-stream index + ".log", cut to 1023 characters.
std::string TwoPassLogName(const std::string& prefix, int outputStreamIndex);

struct TwoPassFileClose {
    void operator()(my_file* f) const { ff::my_fclose(f); }
};
using TwoPassFile = std::unique_ptr<my_file, TwoPassFileClose>;

// The transcode set-up's call for output stream n whose encoder flags hold AV_CODEC_FLAG_PASS1
// or AV_CODEC_FLAG_PASS2, before avcodec_open2; `prefix` is the job's pass_log_prefix.
// Pass 1: opens the log for writing and returns it (the stream's pass_log_file).
// Pass 2: reads the whole log into a zero-terminated av_malloc buffer, makes it the encoder's
// stats_in and returns nothing; the buffer is the caller's to free (FreeTwoPassStats) once the
// encoder is closed.
// Throws FFmpegException "Cannot write log file %s for pass-1 encoding", "Cannot read log file
// %s for pass-2 encoding" or "Could not allocate log buffer".
TwoPassFile SetUpTwoPassLog(const std::string& prefix, int outputStreamIndex, AVCodecContext* encoder);

// After every packet the encoder produced (avcodec_receive_packet >= 0), also while draining:
// appends encoder->stats_out unchanged when there is a pass-1 log and the encoder offers text.
// Write errors are not checked.
void WriteTwoPassStats(my_file* log, const AVCodecContext* encoder);

// Whether avcodec_open2(encoder, codec, options) succeeds for a pass-2 encoder, tried in a child
// process on a copy of everything. libavcodec 5.1's rate control frees its equation twice when a
// pass-2 open fails (a bit rate too low for the logged content), which would end
// the whole process; the child takes that instead. The child's error lines come back in
// `errorLines`. The caller holds CodecLock (so no other thread is inside the library's open when
// the process forks).
bool SecondPassOpens(AVCodecContext* encoder, const AVCodec* codec, AVDictionary* options,
                     std::vector<std::string>& errorLines);

// av_freep of the encoder's stats_in, which the library never frees: call it before
// avcodec_free_context (the encoder reads it only while it opens).
void FreeTwoPassStats(AVCodecContext* encoder);

}  // namespace quorlane
