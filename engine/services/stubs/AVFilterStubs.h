// Entry points of libavfilter that the engine calls, in the order they are resolved.
#pragma once
#define AVFILTER_ENTRIES(X) \
  X(avfilter_version) \
  X(avfilter_get_by_name) \
  X(avfilter_graph_alloc) \
  X(avfilter_graph_free) \
  X(avfilter_graph_create_filter) \
  X(avfilter_link) \
  X(avfilter_inout_alloc) \
  X(avfilter_inout_free) \
  X(avfilter_graph_parse_ptr) \
  X(avfilter_graph_config) \
  X(av_buffersrc_add_frame_flags) \
  X(av_buffersink_get_frame) \
  X(av_buffersink_get_w) \
  X(av_buffersink_get_h) \
  X(av_buffersink_get_time_base) \
  X(av_buffersink_get_format) \
  X(av_buffersink_get_sample_aspect_ratio)
