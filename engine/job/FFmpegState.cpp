// The job's option state: creation, the defaults routine, reset, release and the
// direct setters of the engine component.
#include <cmath>

#include "FFmpeg.h"
#include "FFmpegLoader.h"
#include "FFmpegLogger.h"
#include "FrameHook.h"
#include "MyUtils.h"

namespace quorlane {

TCustomFFmpeg::TCustomFFmpeg() : hooks_(std::make_unique<TFrameHookList>())
{
    InitOptionContexts(option_contexts_);
    Defaults();
    RecordingTimeMs = -1;
}

TCustomFFmpeg::~TCustomFFmpeg()
{
    // Nothing was allocated through the libraries unless they were loaded when it was.
    ReleaseJob();
}

void TCustomFFmpeg::Reset()
{
    if (!FFLoader().Loaded(ConverterLibraries)) return;
    ReleaseJob();
    Defaults();
    JoinMode = false;
    Running = false;
    StopRequested = false;
    Finished = false;
    Terminated = false;
    RecordingTimeMs = -1;
    AllocOptionContexts(option_contexts_, scaler_flags);
}

size_t TCustomFFmpeg::HookCount() const { return hooks_->Count(); }

void TCustomFFmpeg::ReleaseJob()
{
    ReleaseRunBuffers();  // the run's tables and buffers (FFmpegRunRelease.cpp)
    ReleaseInputFiles();
    ReleaseOutputFiles();
    FreeOptionContexts(option_contexts_);
    // Plug-in hooks: each hook's "Release", then the list is empty (modules stay loaded).
    hooks_->ReleaseAll();
    hooks_used = false;
    HookRunner.Reset();       // the time ranges go; the callbacks stay wired
    PreviewState.Release();   // the preview window closes
    ResetConverter(HookConverter);
    ResetConverter(PreviewConverter);
}

void TCustomFFmpeg::Defaults()
{
    // ---- Files and lists ----
    input_count = 0;
    for (auto& o : input_ts_offsets) o = 0;
    for (auto& row : input_ts_scales)
        for (auto& cell : row) cell = 0.0;
    for (auto& d : forced_decoders) d = nullptr;
    forced_decoder_count = 0;
    output_count = 0;
    for (auto& e : chosen_encoders) e = nullptr;
    chosen_encoder_count = 0;
    for (auto& m : stream_maps) m = TStreamMap{};
    stream_map_count = 0;
    for (auto& m : metadata_maps) m = TMetaDataMap{};
    metadata_map_count = 0;
    input_format = nullptr;
    output_format = nullptr;

    // ---- Video ----
    frame_width = 0;
    frame_height = 0;
    aspect_ratio = 0.0;
    pixel_format = -1;
    pad_top = pad_bottom = pad_left = pad_right = 0;
    pad_color[0] = 16;
    pad_color[1] = 128;
    pad_color[2] = 128;
    crop_top = crop_bottom = crop_left = crop_right = 0;
    for (auto& l : frame_limits) l = 2147483647;
    frame_rate = AVRational{0, 0};
    video_qscale = 0.0;
    intra_matrix.reset();
    inter_matrix.reset();
    rc_override.reset();
    no_video = false;
    video_discard = 0;
    video_codec.reset();
    video_copy = false;
    video_tag = 0;
    same_quality = false;
    deinterlace = false;
    top_field_first = -1;
    me_threshold = 0;
    dc_precision = 8;
    intra_only = false;
    video_global_header = 0;
    force_fps = false;
    qp_histogram = false;
    loop_input = false;
    loop_output = -1;
    filter_chain.clear();
    UseFilters = false;
    video_channel = 0;
    tv_standard.reset();
    pgmyuv_mode = false;
    scaler_flags = SWS_BICUBIC;

    // ---- Audio and subtitles ----
    sample_rate = 44100;
    channels = 2;
    sample_format = -1;
    channel_layout = 0;
    audio_qscale = -99999.0;
    no_audio = false;
    audio_codec.reset();
    audio_copy = false;
    audio_tag = 0;
    audio_language.clear();
    volume = 256;
    no_subtitles = false;
    subtitle_codec.reset();
    subtitle_copy = false;
    subtitle_tag = 0;
    subtitle_language.clear();

    // ---- Timing and muxing ----
    recording_time = INT64_MAX;
    start_time = 0;
    input_ts_offset = 0;
    output_timestamp = 0;
    metadata.clear();
    mux_preload = 0.5;
    mux_max_delay = 0.7;
    file_size_limit = 0;
    program_id = 0;
    copy_ts = false;
    shortest = false;
    video_sync = -1;
    audio_sync = 0;
    audio_drift_threshold = 0.1;
    dts_delta_threshold = 10.0;
    copy_initial_non_key = 0;
    rate_emulation = false;
    input_sync = false;

    // ---- Diagnostics and general ----
    hex_dump = false;
    packet_dump = false;
    psnr = false;
    pass = 0;
    pass_log_prefix.clear();
    vstats_name.reset();
    exit_on_error = false;
    verbosity = 1;
    thread_count = 1;
    hooks_used = false;

    // ---- Holders ----
    for (auto& chain : pending_bitstream_filters) chain.clear();
    for (auto& file : bitstream_filters)
        for (auto& chain : file) chain.clear();
    ErrorText.clear();
    PreviewState.SetPreviewFlags(0);

    ResetRunDefaults();
}

// ---- Direct setters ----

void TCustomFFmpeg::SetStartOffset(int64_t value)
{
    if (value > 0) start_time = value;
}

void TCustomFFmpeg::SetProgramId(int value)
{
    if (value >= 0) program_id = value;
}

void TCustomFFmpeg::SetRecordingTime(int64_t value)
{
    if (value <= 0) return;
    recording_time = value;
    RecordingTimeMs = static_cast<int>(value / 1000);
}

void TCustomFFmpeg::SetRecordingTimeMs(int value)
{
    if (value <= 0) return;
    recording_time = static_cast<int64_t>(value) * 1000;
    RecordingTimeMs = value;
}

void TCustomFFmpeg::SetAudioVolume(int value)
{
    if (value >= 0) volume = value;
}

void TCustomFFmpeg::SetAudioSyncMethod(int value) { audio_sync = value; }
void TCustomFFmpeg::SetVideoSyncMethod(int value) { video_sync = value; }

void TCustomFFmpeg::SetMuxMaxDelay(double value)
{
    if (value > 0) mux_max_delay = value;
}

void TCustomFFmpeg::SetMuxPreload(double value)
{
    if (value > 0) mux_preload = value;
}

void TCustomFFmpeg::SetMetadata(const std::string& key, const std::string& value)
{
    metadata.push_back(TMetadataPair{key, value});
}

void TCustomFFmpeg::SetVerbosity(int value) { verbosity = value; }

// ---- Formats ("f" and the one-sided setters) ----

namespace {

// "pgmyuv" becomes "image2" and sets pgmyuv_mode.
std::string PgmyuvName(TCustomFFmpeg& job, const std::string& name)
{
    if (name != "pgmyuv") return name;
    job.pgmyuv_mode = true;
    LogMessage(&job, llInfo, "pgmyuv format is deprecated, use image2");
    return "image2";
}

}  // namespace

void TCustomFFmpeg::SetFormat(const std::string& value)
{
    if (value.empty()) return;
    const std::string name = PgmyuvName(*this, value);
    input_format = ff::av_find_input_format(name.c_str());
    output_format = ff::av_guess_format(name.c_str(), nullptr, nullptr);
    if (!input_format && !output_format)
        throw FFmpegException(Format("Unknown input or output format: %s", name.c_str()));
}

void TCustomFFmpeg::SetInputFormat(const std::string& value)
{
    if (value.empty()) return;
    const std::string name = PgmyuvName(*this, value);
    input_format = ff::av_find_input_format(name.c_str());
    if (!input_format) throw FFmpegException(Format("Unknown input format: %s", name.c_str()));
}

void TCustomFFmpeg::SetOutputFormat(const std::string& value)
{
    if (value.empty()) return;
    const std::string name = PgmyuvName(*this, value);
    output_format = ff::av_guess_format(name.c_str(), nullptr, nullptr);
    if (!output_format) throw FFmpegException(Format("Unknown output format: %s", name.c_str()));
}

// ---- Private options recorded for the codec and format opens (FFmpeg 5.1) ----

AVDictionary* TCustomFFmpeg::PendingCodecPrivateOptions(int type) const
{
    if (type < 0 || type >= OPTION_CONTEXT_TYPES) return nullptr;
    AVDictionary* copy = nullptr;
    if (option_contexts_.private_codec[type]) ff::av_dict_copy(&copy, option_contexts_.private_codec[type], 0);
    return copy;
}

AVDictionary* TCustomFFmpeg::PendingFormatPrivateOptions() const
{
    AVDictionary* copy = nullptr;
    if (option_contexts_.private_format) ff::av_dict_copy(&copy, option_contexts_.private_format, 0);
    return copy;
}

}  // namespace quorlane
