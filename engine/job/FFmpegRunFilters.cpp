// The "vfilters" stage of the run: each encoded video stream's filter graph is built at set-up,
// fed with the decoded pictures, drained at the end of its input and built again when the
// decoder changes the picture size or format.
#include "FFmpeg.h"
#include "FFmpegLogger.h"
#include "MyUtils.h"
#include "VideoFilter.h"

namespace quorlane {

// The "vfilters" graph of this stream. The decoder is not open yet, so the source is described
// from the stream: pictures of another size or format are met with a new graph at run time.
void TCustomFFmpeg::BuildVideoFilters(TOutputStreamState& ost, TInputStreamState& ist)
{
    const AVCodecParameters* par = ist.stream->codecpar;
    TVideoFilterSource source;
    source.width = par->width;
    source.height = par->height;
    source.pix_fmt = static_cast<AVPixelFormat>(par->format);
    source.time_base = AV_TIME_BASE_Q;  // pictures carry the input stream's clock
    source.sample_aspect_ratio =
        ist.stream->sample_aspect_ratio.num > 0 ? ist.stream->sample_aspect_ratio : par->sample_aspect_ratio;
    source.frame_rate = ist.stream->avg_frame_rate.num > 0 ? ist.stream->avg_frame_rate : ist.stream->r_frame_rate;
    ost.filters = std::make_unique<TVideoFilterGraph>();
    OpenVideoFilters(*this, *ost.filters, source, ost.encoder);
    // The filtered pictures' pixel shape is the encoder's (also written into the header).
    const AVRational sar = ost.filters->FilteredSampleAspectRatio();
    if (sar.num > 0 && sar.den > 0) ost.encoder->sample_aspect_ratio = sar;
    ost.filtered_picture.reset(ff::av_frame_alloc());
    if (!ost.filtered_picture) throw FFmpegException("av_mallocz fail");
}

void TCustomFFmpeg::FilteredVideoOutput(TOutputStreamState& ost, TInputStreamState& ist, const AVFrame* picture)
{
    TVideoFilterGraph& graph = *ost.filters;
    AVFrame* filtered = ost.filtered_picture.get();
    const int64_t decodedPts = ist.pts;
    auto refused = [this](int code) {
        const std::string text = "Error while filtering the picture: " + ErrorCodeText(code);
        if (exit_on_error) throw FFmpegException(text);
        LogMessage(this, llError, text);
    };
    // Every picture the graph has ready is encoded at the graph's time for it.
    auto encodeReady = [&] {
        for (;;) {
            const int got = graph.Take(filtered);
            if (got == 0 || got == AVERROR_EOF) break;
            if (got < 0) {
                refused(got);
                break;
            }
            if (filtered->pts != AV_NOPTS_VALUE) ist.pts = filtered->pts;
            if (filtered->sample_aspect_ratio.num != 0) ost.encoder->sample_aspect_ratio = filtered->sample_aspect_ratio;
            EncodePicture(ost, ist, filtered);
            ff::av_frame_unref(filtered);
        }
        ist.pts = decodedPts;
    };
    if (!picture) {
        if (graph.Built() && graph.PushEnd() >= 0) encodeReady();
        return;
    }
    const TVideoFilterSource& source = graph.Source();
    if (picture->width != source.width || picture->height != source.height || picture->format != source.pix_fmt) {
        if (graph.PushEnd() >= 0) encodeReady();
        RebuildVideoFilters(ost, ist, picture);
    }
    const AVRational sar = picture->sample_aspect_ratio.num > 0 ? picture->sample_aspect_ratio
                                                                : graph.Source().sample_aspect_ratio;
    const int pushed = graph.Push(picture, ist.pts, sar);
    if (pushed < 0) {
        refused(pushed);
        return;
    }
    encodeReady();
}

// The decoder changed the picture size or format: the graph is built again for the new pictures,
// towards the encoder that is already open.
void TCustomFFmpeg::RebuildVideoFilters(TOutputStreamState& ost, TInputStreamState& ist, const AVFrame* picture)
{
    const AVPixelFormat fmt = static_cast<AVPixelFormat>(picture->format);
    const char* fmtName = ff::av_get_pix_fmt_name(fmt);
    LogMessage(this, llQuiet,
               Format("Input Stream #%d.%d frame size changed to %dx%d, %s", ist.file_index, ist.stream_index,
                      picture->width, picture->height, fmtName ? fmtName : "none"));
    TVideoFilterSource source = ost.filters->Source();
    source.width = picture->width;
    source.height = picture->height;
    source.pix_fmt = fmt;
    if (picture->sample_aspect_ratio.num > 0) source.sample_aspect_ratio = picture->sample_aspect_ratio;
    AVCodecContext* enc = ost.encoder;
    int width = enc->width;
    int height = enc->height;
    ErrorText.clear();
    if (ost.filters->Build(source, VideoFilterSettingsFromJob(*this), enc->pix_fmt, width, height, ErrorText) < 0) {
        if (!ErrorText.empty()) throw FFmpegException("Error opening filters: " + ErrorText);
        throw FFmpegException("Error opening filters!");
    }
    if (width != enc->width || height != enc->height)
        throw FFmpegException(Format("Error opening filters: the filtered size changed to %dx%d while the encoder "
                                     "takes %dx%d",
                                     width, height, enc->width, enc->height));
}

}  // namespace quorlane
