#include "VideoFilter.h"

#include "FFmpeg.h"
#include "LibraryPtr.h"
#include "MyUtils.h"

namespace quorlane {
namespace {

struct InOutFree {
    void operator()(AVFilterInOut* list) const { ff::avfilter_inout_free(&list); }
};
using InOutPtr = std::unique_ptr<AVFilterInOut, InOutFree>;

// One end of the user's chain: name, filter and pad 0.
InOutPtr MakeInOut(const char* name, AVFilterContext* filter)
{
    InOutPtr item(ff::avfilter_inout_alloc());
    if (!item) return item;
    item->name = ff::av_strdup(name);
    item->filter_ctx = filter;
    item->pad_idx = 0;
    item->next = nullptr;
    if (!item->name) item.reset();
    return item;
}

AVFilterContext* CreateFilter(AVFilterGraph* graph, const char* filter, const char* name,
                              const std::string& args)
{
    const AVFilter* definition = ff::avfilter_get_by_name(filter);
    if (!definition) return nullptr;
    AVFilterContext* context = nullptr;
    if (ff::avfilter_graph_create_filter(&context, definition, name, args.empty() ? nullptr : args.c_str(),
                                         nullptr, graph) < 0)
        return nullptr;
    return context;
}

// Whether every plane of a reference-counted picture lies inside one of its buffers (a picture
// without buffers is copied by av_frame_ref anyway).
bool PlanesInBuffers(const AVFrame* picture)
{
    if (!picture->buf[0]) return true;
    for (int i = 0; i < AV_NUM_DATA_POINTERS && picture->data[i]; ++i) {
        bool inside = false;
        for (int j = 0; j < AV_NUM_DATA_POINTERS && picture->buf[j] && !inside; ++j) {
            const uint8_t* start = picture->buf[j]->data;
            inside = picture->data[i] >= start && picture->data[i] < start + picture->buf[j]->size;
        }
        if (!inside) return false;
    }
    return true;
}

}  // namespace

void FilterGraphFree::operator()(AVFilterGraph* graph) const { ff::avfilter_graph_free(&graph); }

TVideoFilterSettings VideoFilterSettingsFromJob(const TCustomFFmpeg& job)
{
    TVideoFilterSettings s;
    s.chain = job.filter_chain;
    s.crop_top = job.crop_top;
    s.crop_bottom = job.crop_bottom;
    s.crop_left = job.crop_left;
    s.crop_right = job.crop_right;
    s.pad_top = job.pad_top;
    s.pad_bottom = job.pad_bottom;
    s.pad_left = job.pad_left;
    s.pad_right = job.pad_right;
    s.frame_width = job.frame_width;
    s.frame_height = job.frame_height;
    s.sws_flags = job.scaler_flags;
    if (SwsContext* scaler = job.Contexts().scaler) {
        int64_t flags = 0;
        if (ff::av_opt_get_int(scaler, "sws_flags", 0, &flags) >= 0) s.sws_flags = static_cast<int>(flags);
    }
    return s;
}

int TVideoFilterGraph::Build(const TVideoFilterSource& source, const TVideoFilterSettings& settings,
                             AVPixelFormat encoderFormat, int& encoderWidth, int& encoderHeight,
                             std::string& errorText)
{
    Release();
    if (settings.crop_top + settings.crop_bottom + settings.crop_left + settings.crop_right != 0) {
        errorText = "Cannot enable crop options and filters at the same time.";
        return -1;
    }
    std::unique_ptr<AVFilterGraph, FilterGraphFree> graph(ff::avfilter_graph_alloc());
    if (!graph) return -1;
    // Scalers the library inserts by itself (format conversions) use the job's flags too.
    graph->scale_sws_opts = ff::av_strdup(Format("flags=%d", settings.sws_flags).c_str());
    if (!graph->scale_sws_opts) return -1;

    AVRational sar = source.sample_aspect_ratio;
    if (sar.num <= 0 || sar.den <= 0) sar = AVRational{0, 1};
    std::string sourceArgs =
        Format("video_size=%dx%d:pix_fmt=%d:time_base=%d/%d:pixel_aspect=%d/%d", source.width, source.height,
               static_cast<int>(source.pix_fmt), source.time_base.num, source.time_base.den, sar.num, sar.den);
    if (source.frame_rate.num > 0 && source.frame_rate.den > 0)
        sourceArgs += Format(":frame_rate=%d/%d", source.frame_rate.num, source.frame_rate.den);
    AVFilterContext* input = CreateFilter(graph.get(), "buffer", "src", sourceArgs);
    const char* formatName = ff::av_get_pix_fmt_name(encoderFormat);
    if (!input || !formatName) return -1;
    AVFilterContext* output = CreateFilter(graph.get(), "buffersink", "out", std::string());
    AVFilterContext* onlyFormat = CreateFilter(graph.get(), "format", "out_format",
                                               Format("pix_fmts=%s", formatName));
    if (!output || !onlyFormat || ff::avfilter_link(onlyFormat, 0, output, 0) < 0) return -1;

    AVFilterContext* last = input;
    bool scaled = false;
    const int padWidth = settings.pad_left + settings.pad_right;
    const int padHeight = settings.pad_top + settings.pad_bottom;
    if (source.width + padWidth - settings.crop_left - settings.crop_right != encoderWidth ||
        source.height + padHeight - settings.crop_top - settings.crop_bottom != encoderHeight) {
        AVFilterContext* scale =
            CreateFilter(graph.get(), "scale", "scale",
                         Format("%d:%d:flags=%d", encoderWidth - padWidth, encoderHeight - padHeight, settings.sws_flags));
        if (!scale || ff::avfilter_link(last, 0, scale, 0) < 0) return -1;
        last = scale;
        scaled = true;
    }

    if (!settings.chain.empty()) {
        // The chain's open input "in" is fed by `last`; its open output "out" feeds the sink.
        InOutPtr outputs = MakeInOut("in", last);
        InOutPtr inputs = MakeInOut("out", onlyFormat);
        if (!outputs || !inputs) return -1;
        AVFilterInOut* in = inputs.release();
        AVFilterInOut* out = outputs.release();
        const int result = ff::avfilter_graph_parse_ptr(graph.get(), settings.chain.c_str(), &in, &out, nullptr);
        ff::avfilter_inout_free(&in);
        ff::avfilter_inout_free(&out);
        if (result < 0) return -1;
    } else if (ff::avfilter_link(last, 0, onlyFormat, 0) < 0) {
        return -1;
    }

    if (ff::avfilter_graph_config(graph.get(), nullptr) < 0) return -1;

    const int w = ff::av_buffersink_get_w(output);
    const int h = ff::av_buffersink_get_h(output);
    const bool noPad = settings.pad_top == 0 && settings.pad_bottom == 0 && settings.pad_left == 0 &&
                       settings.pad_right == 0;
    if (!noPad && (w != settings.frame_width || h != settings.frame_height)) {
        errorText =
            "Cannot enable pad options and the filters which resize frame at the same time. (crop, rotate, scale, "
            "transpose, etc.)";
        return -1;
    }
    encoderWidth = w + padWidth;
    encoderHeight = h + padHeight;
    graph_ = std::move(graph);
    source_ = input;
    sink_ = output;
    source_description_ = source;
    scaleInserted_ = scaled;
    filteredWidth_ = w;
    filteredHeight_ = h;
    return 0;
}

int TVideoFilterGraph::Push(const AVFrame* picture, int64_t pts, AVRational sampleAspectRatio)
{
    if (!graph_ || !picture) return AVERROR(EINVAL);
    if (!pushed_) pushed_.reset(ff::av_frame_alloc());
    AVFrame* copy = pushed_.get();
    if (!copy) return AVERROR(ENOMEM);
    int ref;
    if (PlanesInBuffers(picture)) {
        ref = ff::av_frame_ref(copy, picture);
    } else {
        // Planes laid over a work buffer (a deinterlaced picture): a filter that keeps pictures
        // must not see that buffer change under it, so the graph gets pixels of its own.
        copy->format = picture->format;
        copy->width = picture->width;
        copy->height = picture->height;
        ref = ff::av_frame_get_buffer(copy, 0);
        if (ref >= 0) ref = ff::av_frame_copy(copy, picture);
        if (ref >= 0) ref = ff::av_frame_copy_props(copy, picture);
    }
    if (ref < 0) {
        ff::av_frame_unref(copy);
        return ref;
    }
    copy->pts = pts;
    copy->sample_aspect_ratio = sampleAspectRatio;
    // The source takes the references and resets the frame; a refused frame is let go here.
    const int added = ff::av_buffersrc_add_frame_flags(source_, copy, 0);
    ff::av_frame_unref(copy);
    return added;
}

int TVideoFilterGraph::PushEnd()
{
    if (!graph_) return AVERROR(EINVAL);
    return ff::av_buffersrc_add_frame_flags(source_, nullptr, 0);
}

int TVideoFilterGraph::Take(AVFrame* picture)
{
    if (!graph_ || !picture) return AVERROR(EINVAL);
    ff::av_frame_unref(picture);
    const int result = ff::av_buffersink_get_frame(sink_, picture);
    if (result == AVERROR(EAGAIN)) return 0;
    if (result < 0) return result;
    if (picture->pts != AV_NOPTS_VALUE)
        picture->pts = ff::av_rescale_q(picture->pts, ff::av_buffersink_get_time_base(sink_),
                                     source_description_.time_base);
    return 1;
}

AVRational TVideoFilterGraph::FilteredSampleAspectRatio() const
{
    if (!sink_) return AVRational{0, 1};
    return ff::av_buffersink_get_sample_aspect_ratio(sink_);
}

void TVideoFilterGraph::Release()
{
    graph_.reset();
    source_ = nullptr;
    sink_ = nullptr;
    scaleInserted_ = false;
    filteredWidth_ = 0;
    filteredHeight_ = 0;
}

void OpenVideoFilters(TCustomFFmpeg& job, TVideoFilterGraph& graph, const AVCodecContext* decoder,
                      AVRational timeBase, AVCodecContext* encoder)
{
    TVideoFilterSource source;
    source.width = decoder->width;
    source.height = decoder->height;
    source.pix_fmt = decoder->pix_fmt;
    source.time_base = timeBase;
    source.sample_aspect_ratio = decoder->sample_aspect_ratio;
    source.frame_rate = decoder->framerate;
    OpenVideoFilters(job, graph, source, encoder);
}

void OpenVideoFilters(TCustomFFmpeg& job, TVideoFilterGraph& graph, const TVideoFilterSource& source,
                      AVCodecContext* encoder)
{
    job.ErrorText.clear();
    int width = encoder->width;
    int height = encoder->height;
    if (graph.Build(source, VideoFilterSettingsFromJob(job), encoder->pix_fmt, width, height, job.ErrorText) < 0) {
        if (!job.ErrorText.empty()) throw FFmpegException("Error opening filters: " + job.ErrorText);
        throw FFmpegException("Error opening filters!");
    }
    encoder->width = width;
    encoder->height = height;
}

}  // namespace quorlane
