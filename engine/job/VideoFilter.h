// The "vfilters" chain of one video output stream: decoded pictures go into a "buffer" source,
// through an optional "scale" to the encoder's size, through the user's description and out of
// a buffer sink that accepts only the encoder's pixel format.
//
// FFmpeg 5.1 has no custom filters, so the sink of our own that accepted exactly one pixel
// format is a "format" filter with that format in front of a "buffersink".
#pragma once

#include <memory>
#include <string>

#include "EntryPoints.h"
#include "LibraryPtr.h"

namespace quorlane {

class TCustomFFmpeg;

// What the graph takes from the job.
struct TVideoFilterSettings {
    std::string chain;  // filter_chain
    int crop_top = 0, crop_bottom = 0, crop_left = 0, crop_right = 0;
    int pad_top = 0, pad_bottom = 0, pad_left = 0, pad_right = 0;
    int frame_width = 0, frame_height = 0;  // the requested output size
    int sws_flags = SWS_BICUBIC;            // the "sws_flags" option of the scaler options
};

// The job's filter_chain, crop and pad bands, frame size and the scaler options' "sws_flags"
// (the job's scaler_flags when the option contexts are not allocated).
TVideoFilterSettings VideoFilterSettingsFromJob(const TCustomFFmpeg& job);

// The pictures as the decoder delivers them.
struct TVideoFilterSource {
    int width = 0;
    int height = 0;
    AVPixelFormat pix_fmt = AV_PIX_FMT_NONE;
    AVRational time_base = {1, AV_TIME_BASE};  // unit of the times pushed with the pictures
    AVRational sample_aspect_ratio = {0, 1};
    AVRational frame_rate = {0, 1};  // 0/1: not known (filters that need a rate then guess)
};

struct FilterGraphFree {
    void operator()(AVFilterGraph* graph) const;
};

class TVideoFilterGraph {
public:
    TVideoFilterGraph() = default;
    TVideoFilterGraph(const TVideoFilterGraph&) = delete;
    TVideoFilterGraph& operator=(const TVideoFilterGraph&) = delete;

    // Builds the graph (a built one is released first). `encoderWidth`/`encoderHeight` come in as
    // the encoder's size and, on success, go out as the filtered size plus the pad bands. Answers
    // 0, or -1 with the reason in errorText when there is one (otherwise errorText is unchanged).
    int Build(const TVideoFilterSource& source, const TVideoFilterSettings& settings,
              AVPixelFormat encoderFormat, int& encoderWidth, int& encoderHeight,
              std::string& errorText);

    bool Built() const { return graph_ != nullptr; }
    // The source the graph was built for (pictures of another size or format need a new graph).
    const TVideoFilterSource& Source() const { return source_description_; }
    // The sample aspect ratio of the filtered pictures (0/1 when unknown).
    AVRational FilteredSampleAspectRatio() const;
    // Whether Build put a "scale" filter in front of the user's chain.
    bool ScaleInserted() const { return scaleInserted_; }
    int FilteredWidth() const { return filteredWidth_; }
    int FilteredHeight() const { return filteredHeight_; }

    // Pushes a picture with its time (in the source's time base) and sample aspect ratio. The
    // caller keeps `picture`: the graph takes its own reference (or copy when it is not
    // reference-counted). Answers the library's result (>= 0 on success).
    int Push(const AVFrame* picture, int64_t pts, AVRational sampleAspectRatio);
    // Tells the graph no more pictures come; the rest can then be taken.
    int PushEnd();
    // Takes the next filtered picture into `picture` (unreferenced first), its pts rescaled into
    // the source's time base: 1 when one was taken, 0 when none is ready yet, AVERROR_EOF after
    // the end was pushed and everything was taken, another negative code on failure.
    int Take(AVFrame* picture);

    // Frees the graph (also done by the destructor).
    void Release();

private:
    std::unique_ptr<AVFilterGraph, FilterGraphFree> graph_;
    AVFilterContext* source_ = nullptr;  // owned by graph_
    AVFilterContext* sink_ = nullptr;    // owned by graph_
    TVideoFilterSource source_description_;  // also the unit of the pushed and taken times
    FramePtr pushed_;  // the reference handed to the source; the source empties it each time
    bool scaleInserted_ = false;
    int filteredWidth_ = 0;
    int filteredHeight_ = 0;
};

// The transcode set-up's call for a video output stream when the job's UseFilters is set:
// clears the job's ErrorText, builds `graph` from the decoder's size, pixel format and sample
// aspect ratio (pictures pushed later carry times in `timeBase`) towards the encoder's pixel
// format, and sets the encoder's width and height (the encoder is not open yet). Throws
// FFmpegException "Error opening filters: " + ErrorText, or "Error opening filters!".
void OpenVideoFilters(TCustomFFmpeg& job, TVideoFilterGraph& graph, const AVCodecContext* decoder,
                      AVRational timeBase, AVCodecContext* encoder);
// The same from a described source (the set-up describes the decoder from the stream's
// parameters, before the decoder opens).
void OpenVideoFilters(TCustomFFmpeg& job, TVideoFilterGraph& graph, const TVideoFilterSource& source,
                      AVCodecContext* encoder);

}  // namespace quorlane
