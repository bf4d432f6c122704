// Entry points of libavcodec that the engine calls, in the order they are resolved.
// Lists only names: the pointer types come from the installed headers (EntryPoints.h).
#pragma once
#define AVCODEC_ENTRIES(X) \
  X(avcodec_version) \
  X(avcodec_find_decoder) \
  X(avcodec_find_decoder_by_name) \
  X(avcodec_find_encoder) \
  X(avcodec_find_encoder_by_name) \
  X(avcodec_alloc_context3) \
  X(avcodec_free_context) \
  X(avcodec_open2) \
  X(avcodec_parameters_to_context) \
  X(avcodec_parameters_from_context) \
  X(avcodec_send_frame) \
  X(avcodec_receive_packet) \
  X(av_packet_alloc) \
  X(av_packet_free) \
  X(av_packet_rescale_ts) \
  X(av_packet_unref) \
  X(av_new_packet) \
  X(avcodec_get_name) \
  X(avcodec_encode_subtitle) \
  X(avcodec_send_packet) \
  X(avcodec_receive_frame) \
  X(av_bsf_get_by_name) \
  X(avcodec_get_class) \
  X(av_bsf_free) \
  X(av_bsf_init) \
  X(av_bsf_list_parse_str) \
  X(av_bsf_receive_packet) \
  X(av_bsf_send_packet) \
  X(av_packet_get_side_data) \
  X(av_packet_ref) \
  X(avcodec_decode_subtitle2) \
  X(avcodec_flush_buffers) \
  X(avcodec_is_open) \
  X(avcodec_parameters_copy) \
  X(avsubtitle_free)
