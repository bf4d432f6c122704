// The job's option fields as `field = value` lines (quorlane-cli job --dump, tests): every field
// in the order of the option tables (rationals num/den, texts quoted, absent library copies
// `none`, lists in brackets), the pending bitstream filters, the hook count, then the option
// names recorded in the option contexts and the private options kept for the codec/format opens.
#include "FFmpeg.h"
#include "FrameHook.h"
#include "MyUtils.h"

namespace quorlane {
namespace {

// ---- Values as the dump prints them ----

std::string Quoted(const std::string& s)
{
    std::string out = "\"";
    for (char c : s) {
        if (c == '"' || c == '\\') out += '\\';
        out += c;
    }
    return out + "\"";
}

std::string Val(bool v) { return v ? "true" : "false"; }
std::string Val(int v) { return std::to_string(v); }
std::string Val(int64_t v) { return std::to_string(v); }
std::string Val(uint32_t v) { return std::to_string(v); }
std::string Val(double v) { return Format("%.10g", v); }
std::string Val(const std::string& v) { return Quoted(v); }
std::string Val(const TLibText& v) { return v ? Quoted(*v) : "none"; }
std::string Val(const AVRational& r) { return Format("%d/%d", r.num, r.den); }
std::string Val(const TMatrix& m)
{
    if (!m) return "none";
    std::string out = "[";
    for (size_t i = 0; i < m->size(); ++i) out += (i ? ", " : "") + std::to_string((*m)[i]);
    return out + "]";
}

template <typename T, typename F>
std::string List(const T* items, int count, F item)
{
    std::string out = "[";
    for (int i = 0; i < count; ++i) out += (i ? ", " : "") + item(items[i]);
    return out + "]";
}

std::string IntList(const int* items, int count)
{
    return List(items, count, [](int v) { return std::to_string(v); });
}

std::string Dictionary(const AVDictionary* d)
{
    std::string out = "[";
    const AVDictionaryEntry* e = nullptr;
    bool first = true;
    while ((e = ff::av_dict_get(d, "", e, AV_DICT_IGNORE_SUFFIX))) {
        out += (first ? "" : ", ") + Quoted(std::string(e->key) + "=" + e->value);
        first = false;
    }
    return out + "]";
}

void Print(std::string& out, const char* field, const std::string& value)
{
    out += field;
    out += " = ";
    out += value;
    out += '\n';
}

#define DUMP(field) Print(out, #field, Val(job.field))

}  // namespace

std::string DumpOptionFields(const TCustomFFmpeg& job)
{
    std::string out;
    // Files and lists
    Print(out, "input_contexts", List(job.input_contexts, job.input_count, [](const AVFormatContext* c) {
              return c && c->url ? Quoted(c->url) : std::string("none");
          }));
    DUMP(input_count);
    Print(out, "input_ts_offsets", List(job.input_ts_offsets, job.input_count, [](int64_t v) { return std::to_string(v); }));
    {
        std::string cells = "[";
        bool first = true;
        for (int f = 0; f < MAX_FILES; ++f)
            for (int s = 0; s < MAX_STREAMS; ++s)
                if (job.input_ts_scales[f][s] != 0.0) {
                    cells += (first ? "" : ", ") + Format("%d:%d=%.10g", f, s, job.input_ts_scales[f][s]);
                    first = false;
                }
        Print(out, "input_ts_scales", cells + "]");
    }
    auto codecName = [](const AVCodec* c) { return c ? Quoted(c->name) : std::string("none"); };
    Print(out, "forced_decoders", List(job.forced_decoders, job.forced_decoder_count, codecName));
    DUMP(forced_decoder_count);
    Print(out, "output_contexts", List(job.output_contexts, job.output_count, [](const AVFormatContext* c) {
              return c && c->url ? Quoted(c->url) : std::string("none");
          }));
    DUMP(output_count);
    {
        // The streams created for each output: "file:stream kind codec" (or "copy").
        std::string streams = "[";
        bool first = true;
        for (int f = 0; f < job.output_count && f < MAX_FILES; ++f)
            for (unsigned s = 0; job.output_contexts[f] && s < job.output_contexts[f]->nb_streams && s < MAX_STREAMS; ++s) {
                const AVCodecContext* enc = job.output_codecs[f][s];
                if (!enc) continue;
                streams += (first ? "" : ", ") +
                           Quoted(Format("%d:%u %s %s", f, s, MediaTypeName(enc->codec_type).c_str(),
                                         job.output_copy[f][s] ? "copy" : ff::avcodec_get_name(enc->codec_id)));
                first = false;
            }
        Print(out, "output_streams", streams + "]");
    }
    Print(out, "chosen_encoders", List(job.chosen_encoders, job.chosen_encoder_count, codecName));
    DUMP(chosen_encoder_count);
    Print(out, "stream_maps", List(job.stream_maps, job.stream_map_count, [](const TStreamMap& m) {
              return Format("%d:%d:%d:%d", m.file_index, m.stream_index, m.sync_file_index, m.sync_stream_index);
          }));
    DUMP(stream_map_count);
    Print(out, "metadata_maps", List(job.metadata_maps, job.metadata_map_count,
                                [](const TMetaDataMap& m) { return Format("%d:%d", m.out_file, m.in_file); }));
    DUMP(metadata_map_count);
    Print(out, "input_format", job.input_format ? Quoted(job.input_format->name) : "none");
    Print(out, "output_format", job.output_format ? Quoted(job.output_format->name) : "none");

    // Video
    DUMP(frame_width);
    DUMP(frame_height);
    DUMP(aspect_ratio);
    DUMP(pixel_format);
    DUMP(pad_top);
    DUMP(pad_bottom);
    DUMP(pad_left);
    DUMP(pad_right);
    Print(out, "pad_color", IntList(job.pad_color, 3));
    DUMP(crop_top);
    DUMP(crop_bottom);
    DUMP(crop_left);
    DUMP(crop_right);
    Print(out, "frame_limits", IntList(job.frame_limits, 4));
    DUMP(frame_rate);
    DUMP(video_qscale);
    DUMP(intra_matrix);
    DUMP(inter_matrix);
    DUMP(rc_override);
    DUMP(no_video);
    DUMP(video_discard);
    DUMP(video_codec);
    DUMP(video_copy);
    DUMP(video_tag);
    DUMP(same_quality);
    DUMP(deinterlace);
    DUMP(top_field_first);
    DUMP(me_threshold);
    DUMP(dc_precision);
    DUMP(intra_only);
    DUMP(video_global_header);
    DUMP(force_fps);
    DUMP(qp_histogram);
    DUMP(loop_input);
    DUMP(loop_output);
    DUMP(filter_chain);
    DUMP(UseFilters);
    DUMP(video_channel);
    DUMP(tv_standard);
    DUMP(pgmyuv_mode);
    DUMP(scaler_flags);

    // Audio and subtitles
    DUMP(sample_rate);
    DUMP(channels);
    DUMP(sample_format);
    DUMP(channel_layout);
    DUMP(audio_qscale);
    DUMP(no_audio);
    DUMP(audio_codec);
    DUMP(audio_copy);
    DUMP(audio_tag);
    DUMP(audio_language);
    DUMP(volume);
    DUMP(no_subtitles);
    DUMP(subtitle_codec);
    DUMP(subtitle_copy);
    DUMP(subtitle_tag);
    DUMP(subtitle_language);

    // Timing and muxing
    DUMP(recording_time);
    DUMP(RecordingTimeMs);
    DUMP(start_time);
    DUMP(input_ts_offset);
    DUMP(output_timestamp);
    Print(out, "metadata", List(job.metadata.data(), static_cast<int>(job.metadata.size()),
                           [](const TMetadataPair& p) { return Quoted(p.key + "=" + p.value); }));
    DUMP(mux_preload);
    DUMP(mux_max_delay);
    DUMP(file_size_limit);
    DUMP(program_id);
    DUMP(copy_ts);
    DUMP(shortest);
    DUMP(video_sync);
    DUMP(audio_sync);
    DUMP(audio_drift_threshold);
    DUMP(dts_delta_threshold);
    DUMP(copy_initial_non_key);
    DUMP(rate_emulation);
    DUMP(input_sync);

    // Diagnostics and general
    DUMP(hex_dump);
    DUMP(packet_dump);
    DUMP(psnr);
    DUMP(pass);
    DUMP(pass_log_prefix);
    DUMP(vstats_name);
    DUMP(exit_on_error);
    DUMP(verbosity);
    DUMP(thread_count);
    DUMP(hooks_used);

    // Holders
    auto chain = [](const TBitstreamFilterChain& c) {
        return List(c.data(), static_cast<int>(c.size()), [](const std::string& s) { return Quoted(s); });
    };
    Print(out, "pending_video_bitstream_filters", chain(job.pending_bitstream_filters[pcVideo]));
    Print(out, "pending_audio_bitstream_filters", chain(job.pending_bitstream_filters[pcAudio]));
    Print(out, "pending_subtitle_bitstream_filters", chain(job.pending_bitstream_filters[pcSubtitle]));
    Print(out, "hooks", std::to_string(job.HookCount()));

    // The option contexts: names set, then the private options kept for the codec/format opens.
    const OptionContexts& oc = job.Contexts();
    Print(out, "option_names", List(oc.names.data(), static_cast<int>(oc.names.size()),
                               [](const char* n) { return Quoted(n); }));
    static const char* const typeNames[OPTION_CONTEXT_TYPES] = {"video", "audio", "data", "subtitle", "attachment"};
    for (int t = 0; t < OPTION_CONTEXT_TYPES; ++t)
        if (oc.private_codec[t])
            Print(out, Format("%s_private_options", typeNames[t]).c_str(), Dictionary(oc.private_codec[t]));
    if (oc.private_format) Print(out, "format_private_options", Dictionary(oc.private_format));
    return out;
}

#undef DUMP

}  // namespace quorlane
