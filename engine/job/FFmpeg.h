// The conversion job: one `TCustomFFmpeg` object per job.
//
// This is the one header of the job. Each stage has its own section below and its own .cpp:
//   options   - FFmpegState.cpp (fields, defaults, reset, direct setters), FFmpegOptions.cpp (the
//               dispatcher table and value conversions), FFmpegOptionsVideo.cpp,
//               FFmpegOptionsAudio.cpp (audio, subtitle and general handlers), FFmpegTargets.cpp,
//               FFmpegPresets.cpp, FFmpegDump.cpp (`field = value` lines), FFUtils.cpp (option
//               contexts), FrameHook.cpp (the plug-in list "vhook" fills)
//   input     - FFmpegInput.cpp     -- seam section "Input opening"
//   output    - FFmpegOutput.cpp    -- seam section "Output creation"
//   run       - FFmpegRun*.cpp    -- section "Transcode run"
//
// No process-wide option state: every setting lives in the job object.
#pragma once

#include <array>
#include <atomic>
#include <memory>
#include <cstdint>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "EntryPoints.h"
#include "FFUtils.h"
#include "FFmpegRunState.h"
#include "FrameHookRun.h"
#include "PauseGate.h"
#include "Previewer.h"
#include "ThreadPriority.h"

namespace quorlane {

// Input opening lives in FFmpegInput.cpp, output and stream creation in FFmpegOutput.cpp.

// ------------------------------------------------------------------------------------------------
// Sizes
// ------------------------------------------------------------------------------------------------
inline constexpr int MAX_FILES = 20;    // input files, output files, metadata maps
inline constexpr int MAX_STREAMS = 20;  // streams per file
inline constexpr int MAX_STREAM_MAPS = MAX_FILES * MAX_STREAMS;  // 400: maps, decoders, encoders

// The job's refusal: its text is the message.
class FFmpegException : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A text kept as a "library copy" (duplicated with the library's strdup and
// released with its free). The role is "a text or none"; the job owns it as a std::string so that
// no release depends on the libraries still being loaded. Callers that hand it to the library
// use `->c_str()`.
using TLibText = std::optional<std::string>;

// A 64-coefficient quantizer matrix ("intra_matrix", "inter_matrix"). Each encoder gets its own
// av_memdup copy at open time (avcodec_free_context frees the encoder's copy).
using TMatrix = std::optional<std::array<uint16_t, 64>>;

struct TStreamMap {
    int32_t file_index = 0;
    int32_t stream_index = 0;
    int32_t sync_file_index = 0;
    int32_t sync_stream_index = 0;
};

struct TMetaDataMap {
    int32_t out_file = 0;
    int32_t in_file = 0;
};

// One {key, value} pair of the `metadata` list.
struct TMetadataPair {
    std::string key;
    std::string value;
};

// A bitstream filter chain: filter names in order, each checked with av_bsf_get_by_name when it
// was added. The pipeline builds the AVBSFContext per output stream
//.
using TBitstreamFilterChain = std::vector<std::string>;

// The media types of the pending bitstream-filter chains.
enum TPendingChain : int { pcVideo = 0, pcAudio = 1, pcSubtitle = 2 };

// The entries of `frame_limits`.
enum TFrameLimit : int { flVideo = 0, flAudio = 1, flData = 2, flSubtitle = 3 };

class TFrameHookList;  // FrameHook.h: the plug-in hooks that "vhook" adds
class TConvertThread;  // FFmpegTask.h: the worker thread of an asynchronous start
struct TTaskThreads;   // FFmpegTask.cpp: the job's worker and helper threads
struct TTaskThreadsDeleter {
    void operator()(TTaskThreads* threads) const;
};

// ------------------------------------------------------------------------------------------------
// Option value conversions, FFmpegOptions.cpp. Each throws FFmpegException with the
// fixed failure text.
// ------------------------------------------------------------------------------------------------
// Leading blanks, optional sign, decimal digits or hexadecimal after "$" or "0x"; nothing after.
int OptionToInt(const std::string& text);      // "'%s' is not a valid integer value"
int64_t OptionToInt64(const std::string& text);  // the same, 64 bits wide
// A decimal number with optional exponent, written with the user's decimal separator.
double OptionToFloat(const std::string& text);  // "'%s' is not a valid floating point value"
// The same with an explicit separator (tests; the job uses UserDecimalSeparator()).
double OptionToFloat(const std::string& text, char separator);
// The user's decimal separator: newlocale(LC_NUMERIC_MASK, "", nullptr) and
// nl_langinfo_l(RADIXCHAR), read once; the process locale is never changed.
char UserDecimalSeparator();

class TCustomFFmpeg;
// The option fields as `field = value` lines (FFmpegDump.cpp): quorlane-cli job --dump, tests.
std::string DumpOptionFields(const TCustomFFmpeg& job);

class TCustomFFmpeg {
public:
    TCustomFFmpeg();
    TCustomFFmpeg(const TCustomFFmpeg&) = delete;
    TCustomFFmpeg& operator=(const TCustomFFmpeg&) = delete;
    virtual ~TCustomFFmpeg();

    // ============================================================================================
    // Options: life cycle and direct setters (FFmpegState.cpp)
    // ============================================================================================

    // Does nothing while FFLoader().Loaded(ConverterLibraries) is false. Otherwise releases
    // everything, applies the defaults, clears JoinMode and the run flags, RecordingTimeMs := -1,
    // and allocates the option contexts with `scaler_flags`.
    void Reset();

    void SetInputFormat(const std::string& name);   // "Unknown input format: %s"
    void SetOutputFormat(const std::string& name);  // "Unknown output format: %s"
    void SetStartOffset(int64_t value);
    void SetProgramId(int value);
    void SetRecordingTime(int64_t value);
    void SetRecordingTimeMs(int value);
    void SetAudioVolume(int value);
    void SetAudioSyncMethod(int value);
    void SetVideoSyncMethod(int value);
    void SetMuxMaxDelay(double value);
    void SetMuxPreload(double value);
    void SetPadColor(int color);  // low byte red, next green, next blue
    void SetMetadata(const std::string& key, const std::string& value);
    void SetVerbosity(int value);

    // ============================================================================================
    // Options: dispatcher (FFmpegOptions.cpp)
    // ============================================================================================

    // Applies one option (name without the dash). Refusals throw FFmpegException.
    void ApplyOption(const std::string& name, const std::string& value);
    // Sets a library option by name on the option contexts; never throws.
    bool SetDefaultOption(const std::string& name, const std::string& value);
    bool SetCodecOption(const std::string& name, int64_t number);
    // Whether the classic command line gives the option a value word ("-an" and the other
    // switches, flags and value-less options take none; "threads" and unknown names take one).
    static bool OptionTakesValue(const std::string& name);

    // The option contexts and the encoder/muxer-private options recorded by name.
    OptionContexts& Contexts() { return option_contexts_; }
    const OptionContexts& Contexts() const { return option_contexts_; }
    // A new dictionary (caller frees with av_dict_free) holding the private options recorded for
    // an encoder/decoder of media type `type` (AVMEDIA_TYPE_VIDEO .. ATTACHMENT), for
    // avcodec_open2(ctx, codec, &dict). The entries not consumed by the codec stay in `dict`.
    AVDictionary* PendingCodecPrivateOptions(int type) const;
    // The same for the muxer/demuxer-private options (avformat_write_header / avformat_open_input).
    AVDictionary* PendingFormatPrivateOptions() const;

    // ============================================================================================
    // Options: handlers (Parts 4.5, 4.6, 4.7, 4.9)
    // ============================================================================================

    // Codec lookup by name: false and ErrorText on failure; never throws.
    bool FindCodec(const std::string& name, AVMediaType type, bool encoder, AVCodecID& id);
    // A target preset: kind "vcd", "svcd", "dvd", "dv", "dv50"; norm "pal", "ntsc",
    // "film" or anything else for detection; fallbackNorm decides when detection finds nothing.
    void SetTarget(const std::string& kind, const std::string& norm, const std::string& fallbackNorm);
    // The "target" option: an optional "pal-", "ntsc-", "film-" prefix, fallback norm "ntsc".
    void SetTargetOption(const std::string& value);
    // An option preset: opt is "apre", "vpre" or "spre".
    void ApplyOptionPreset(const std::string& opt, const std::string& arg);

    // The frame hooks added by "vhook" (running them per picture is the pipeline's).
    TFrameHookList& Hooks() { return *hooks_; }
    size_t HookCount() const;

    // ============================================================================================
    // Option fields, in the order of its tables. Plain members, written by one thread
    // at a time (the caller before the run, the worker during it).
    // ============================================================================================

    // ---- Files and lists ----
    AVFormatContext* input_contexts[MAX_FILES] = {};  // owned; released by ReleaseInputFiles
    int input_count = 0;
    int64_t input_ts_offsets[MAX_FILES] = {};           // µs
    double input_ts_scales[MAX_FILES][MAX_STREAMS] = {};  // 0.0 = not set
    const AVCodec* forced_decoders[MAX_STREAM_MAPS] = {};
    int forced_decoder_count = 0;
    AVFormatContext* output_contexts[MAX_FILES] = {};  // owned; join mode repeats one context
    int output_count = 0;
    const AVCodec* chosen_encoders[MAX_STREAM_MAPS] = {};
    int chosen_encoder_count = 0;
    TStreamMap stream_maps[MAX_STREAM_MAPS] = {};
    int stream_map_count = 0;
    TMetaDataMap metadata_maps[MAX_FILES] = {};
    int metadata_map_count = 0;
    const AVInputFormat* input_format = nullptr;
    const AVOutputFormat* output_format = nullptr;

    // ---- Video ----
    int frame_width = 0;
    int frame_height = 0;
    double aspect_ratio = 0.0;  // 0.0 = not set
    int pixel_format = -1;      // AVPixelFormat, -1 = none
    int pad_top = 0;
    int pad_bottom = 0;
    int pad_left = 0;
    int pad_right = 0;
    int pad_color[3] = {16, 128, 128};  // Y, Cb, Cr
    int crop_top = 0;
    int crop_bottom = 0;
    int crop_left = 0;
    int crop_right = 0;
    int frame_limits[4] = {2147483647, 2147483647, 2147483647, 2147483647};  // TFrameLimit
    AVRational frame_rate = {0, 0};  // 0/0 = not set
    double video_qscale = 0.0;       // 0.0 = none
    TMatrix intra_matrix;
    TMatrix inter_matrix;
    TLibText rc_override;
    bool no_video = false;
    int video_discard = 0;
    TLibText video_codec;
    bool video_copy = false;
    uint32_t video_tag = 0;
    bool same_quality = false;
    bool deinterlace = false;
    int top_field_first = -1;
    int me_threshold = 0;
    int dc_precision = 8;
    bool intra_only = false;
    int video_global_header = 0;
    bool force_fps = false;
    bool qp_histogram = false;
    bool loop_input = false;
    int loop_output = -1;
    std::string filter_chain;
    bool UseFilters = false;
    int video_channel = 0;
    TLibText tv_standard;
    bool pgmyuv_mode = false;
    int scaler_flags = 4;  // SWS_BICUBIC

    // ---- Audio and subtitles ----
    int sample_rate = 44100;
    int channels = 2;
    int sample_format = -1;  // AVSampleFormat, -1 = none
    int64_t channel_layout = 0;
    double audio_qscale = -99999.0;
    bool no_audio = false;
    TLibText audio_codec;
    bool audio_copy = false;
    uint32_t audio_tag = 0;
    std::string audio_language;
    int volume = 256;
    bool no_subtitles = false;
    TLibText subtitle_codec;
    bool subtitle_copy = false;
    uint32_t subtitle_tag = 0;
    std::string subtitle_language;

    // ---- Timing and muxing ----
    int64_t recording_time = INT64_MAX;  // µs
    int RecordingTimeMs = -1;
    int64_t start_time = 0;        // µs
    int64_t input_ts_offset = 0;   // µs
    int64_t output_timestamp = 0;  // seconds since 1970-01-01 UTC
    std::vector<TMetadataPair> metadata;
    double mux_preload = 0.5;    // s
    double mux_max_delay = 0.7;  // s
    int64_t file_size_limit = 0;
    int program_id = 0;
    bool copy_ts = false;
    bool shortest = false;
    int video_sync = -1;
    int audio_sync = 0;
    double audio_drift_threshold = 0.1;
    double dts_delta_threshold = 10.0;
    int copy_initial_non_key = 0;
    bool rate_emulation = false;
    bool input_sync = false;

    // ---- Diagnostics and general ----
    bool hex_dump = false;
    bool packet_dump = false;
    bool psnr = false;
    int pass = 0;
    std::string pass_log_prefix;
    TLibText vstats_name;
    bool exit_on_error = false;
    int verbosity = 1;
    int thread_count = 1;
    bool hooks_used = false;

    // ---- Holders described elsewhere ----
    // Pending bitstream-filter chains for the next video, audio, subtitle stream (TPendingChain);
    // a new output stream takes its kind's chain into bitstream_filters[file][stream].
    TBitstreamFilterChain pending_bitstream_filters[3];
    TBitstreamFilterChain bitstream_filters[MAX_FILES][MAX_STREAMS];
    std::string ErrorText;  // why the last set-up call failed
    bool JoinMode = false;  // set by output creation

    // ---- Run control read by the engine component ----
    std::atomic<bool> Running{false};
    std::atomic<bool> StopRequested{false};
    std::atomic<bool> Finished{false};
    std::atomic<bool> Terminated{false};
    int64_t ReportInterval = 500000;   // µs between progress events
    int64_t PreviewInterval = 100000;  // µs between previews
    FrameBitmapConverter HookConverter;     // the hook path's converter
    FrameBitmapConverter PreviewConverter;  // the preview path's converter

    // ============================================================================================
    // Task run control -- FFmpegTask.cpp: start, run and terminated routine, stop and pause
    // ============================================================================================
    // Refuses a job without output or input (logged, ErrorOccurred/ErrorMessage set, terminated
    // routine run) and answers nullptr; a Running or Terminated job also answers nullptr.
    // Synchronous: runs at once on the calling thread. Asynchronous: answers the worker, not yet
    // started; the caller starts it.
    TConvertThread* Start(bool asynchronous, TConvertPriority priority);
    // The run routine: Transcode, an escaping exception into ErrorOccurred/ErrorMessage, then
    // ReleaseJob and the terminated routine, in every case.
    void Run();
    // The terminated routine: Running := false, Terminated := true, ConvertThread := nullptr,
    // then OnRunTerminate.
    void DoTerminated();
    // A Running job gets StopRequested; its paused worker is resumed so that it sees the request;
    // with `wait` the call returns when the worker has gone.
    void RequestStop(bool wait);
    // Stops the job whatever its state: a Running job as RequestStop; a job that never started
    // gets its end delivered (terminated routine on a helper thread); a Terminated one is left.
    void Stop(bool wait);
    // True once the job was started or its end was delivered: it will not start (again).
    bool Claimed();
    // Pause and resume go through Gate; only a job with a worker thread is affected.
    void Suspend();
    void Resume();
    bool Suspended() const;
    // Waits for every thread of this job (worker and helpers) and reaps them; a wait on the main
    // thread keeps serving its call queue. Called before the job is destroyed.
    void WaitForThreads();

    std::atomic<bool> ErrorOccurred{false};
    std::string ErrorMessage;  // written by the job's running thread before its terminated routine
    std::atomic<TConvertThread*> ConvertThread{nullptr};  // the running worker, or nullptr
    // The terminate callback: called by the terminated routine on the thread that ended the job.
    std::function<void(TCustomFFmpeg& job)> OnRunTerminate;
    // The cooperative pause: the main loop passes it before reading every packet.
    PauseGate Gate;

protected:
    // The body of the run routine: the transcode run. Replaceable so that the task machinery can
    // be exercised without media.
    virtual void RunTranscode() { Transcode(); }

private:
    std::once_flag task_threads_once_;
    std::unique_ptr<TTaskThreads, TTaskThreadsDeleter> task_threads_;  // created once, on first use
    TTaskThreads& Threads();

public:
    // ============================================================================================
    // Input opening -- FFmpegInput.cpp
    // ============================================================================================
    // Opens one input file as the "-i" option of the command line. Refusals throw
    // FFmpegException; the text is also left in ErrorText.
    void OpenInputFile(const std::string& fileName);
    // the norm ("pal" or "ntsc") detected from the video streams of the opened
    // inputs, or an empty text. Defined in FFmpegTargets.cpp from input_contexts (r_frame_rate
    // stands for the old codec time base); tested with opened inputs.
    std::string DetectTargetNorm() const;
    // Closes every opened input and empties input_count.
    void ReleaseInputFiles();
    // Opens one input: true when it is listed; false with ErrorText otherwise. Raises
    // "avformat_alloc_context failed" and "invalid codec_type". At MAX_FILES inputs it refuses
    // with "%s: Cannot open more than 20 input files." and touches nothing else.
    bool OpenInput(const std::wstring& FileName);
    // Forgets the settings that belong to one input: the three codec names, input_format,
    // output_format, video_channel.
    void ResetPerInput();
    // The input-derived aspect: w x s / h, w / h without a sample aspect, 4/3 or s without a size.
    static double InputAspectRatio(int width, int height, double sampleAspect);
    // One stream of a just-opened input: input-derived fields, decoder slot, discard level.
    void PrepareInputStream(AVFormatContext* ic, int index);

    // ============================================================================================
    // Output creation -- FFmpegOutput.cpp
    // ============================================================================================
    // Creates one output file as a non-option word of the command line.
    void OpenOutputFile(const std::string& fileName);
    // "newvideo", "newaudio", "newsubtitle": adds a stream of that type to the last output file.
    void NewOutputStream(AVMediaType type);
    // Closes and frees every output context once (join mode repeats one) and empties
    // output_count.
    void ReleaseOutputFiles();
    // Creates one output: the new output_count, or -1 with ErrorText (the job keeps
    // the outputs and encoder slots it had). Raises "avformat_alloc_context failed". Beyond
    // MAX_FILES output slots it refuses with "%s: Cannot open more than 20 output files.".
    int OpenOutput(const std::wstring& FileName, bool JoinInputs);
    // Add one stream to a muxer context with its job-owned encoder context in
    // output_codecs[file][stream]; they consume the per-type settings and raise FFmpegException.
    // Every refusal happens before the stream is added.
    void NewVideoStream(AVFormatContext* oc);
    void NewAudioStream(AVFormatContext* oc);
    void NewSubtitleStream(AVFormatContext* oc);
    // "start,end,q/..." entries; raises "error parsing rc_override".
    static std::vector<RcOverride> ParseRcOverride(const std::string& text);
    // The output slot of a listed context, or the next free slot for one being created.
    int OutputRowOf(const AVFormatContext* oc) const;
    AVStream* AddOutputStream(AVFormatContext* oc, int& row);
    // Frees the encoder context, copy flag and bitstream filters of one output stream slot.
    void ReleaseOutputStreamSlot(int row, int index);

    // ============================================================================================
    // Transcode run -- FFmpegRun*.cpp
    // ============================================================================================
    // The pipeline's own per-run state (bit buffer, statistics, buffers, preview state) goes
    // here, with its reset in ResetRunDefaults (called by the defaults routine).
    void ResetRunDefaults();

    // The job's release routine: closes files, frees the option contexts, hooks
    // (each hook's "Release") and the filter graph. Called by Reset and the destructor.
    void ReleaseJob();

    // Runs the job on the calling thread: set-up, main loop, drain, trailers, last report.
    // Refusals and failures throw FFmpegException. At the normal end (also after a stop request)
    // Finished := !StopRequested. The caller closes what is left with ReleaseJob.
    void Transcode();

    // Progress: (job, frame number, fps, current duration ms, quality, bit rate kbit/s,
    // current size bytes, RecordingTimeMs). Called on the running thread, at most once per
    // ReportInterval plus the last report. Without it the report line goes to the engine log.
    using TRunProgress = std::function<void(TCustomFFmpeg& job, int frameNumber, int fps,
                                            int currentDurationMs, float quality, float bitRate,
                                            int64_t currentSize, int totalDurationMs)>;
    TRunProgress OnRunProgress;

    // Run statistics, zeroed by ResetRunDefaults.
    int64_t video_bytes = 0;
    int64_t audio_bytes = 0;
    int64_t header_bytes = 0;
    int frames_duplicated = 0;
    int frames_dropped = 0;
    int64_t timer_start = 0;      // µs, wall clock when the loop started
    int hook_frame_count = 0;     // pictures prepared so far in this job
    my_file* vstats_file = nullptr;  // my_fopen handle of "vstats"

    // The frame hooks' decisions (custom hook, before-hook callback or time ranges) and the
    // conversion previewer of this job. Callbacks and ranges are set before the run starts; the
    // preview flags may change at any time (under the process-wide preview lock).
    TFrameHookRunner HookRunner{this};
    TConversionPreview PreviewState{this};
    // An assigned custom-hook callback and the preview flags (bit 0 preview window, bit 1
    // preview bitmap) forbid video stream copy.
    bool CustomHookAssigned() const { return HookRunner.HasCustomHook(); }
    int PreviewFlagsNow() const { return PreviewState.PreviewFlags(); }

    // Encoders of the output streams: one job-owned context per stream of each output file
    // (join mode: the first file's serve every group). Output creation fills them and
    // ReleaseOutputFiles frees them; the run opens them. output_copy marks a stream copy.
    AVCodecContext* output_codecs[MAX_FILES][MAX_STREAMS] = {};
    bool output_copy[MAX_FILES][MAX_STREAMS] = {};

private:
    // Run tables, built by each Transcode and freed at its end.
    std::vector<TInputFileState> run_files_;
    std::vector<std::unique_ptr<TInputStreamState>> run_inputs_;
    std::vector<std::unique_ptr<TOutputStreamState>> run_outputs_;
    int run_group_size_ = 0;
    PacketPtr run_packet_;     // the packet being read
    PacketPtr run_out_packet_; // encoder output / copy packet
    std::unique_ptr<uint8_t[]> subtitle_buffer_;
    std::vector<uint8_t> silence_buffer_;  // samples with inserted silence; only grows
    // Frees the run's job-wide work buffers and the "vstats" file (part of ReleaseJob).
    void ReleaseRunBuffers();

    // Mapping (FFmpegRunMapping.cpp).
    void BuildInputTables();
    void BuildOutputTable();
    void ApplyMetadataMaps();
    void WriteListing();
    void FreeRunTables();
    // Set-up (FFmpegRunSetup.cpp).
    void SetupOutputStream(TOutputStreamState& ost);
    void SetupStreamCopy(TOutputStreamState& ost, TInputStreamState& ist);
    void SetupVideoEncoding(TOutputStreamState& ost, TInputStreamState& ist);
    void AllocateEncoderPictures(TOutputStreamState& ost, bool forScaling);
    void SetupTwoPassLog(TOutputStreamState& ost);
    void OpenEncoders();
    void OpenDecoders();
    void SetupBitstreamFilters();
    void WriteHeaders();
    // Main loop (FFmpegRunLoop.cpp).
    void RunMainLoop();
    double OutputTime(const TOutputStreamState& ost) const;
    // Decoding and dispatch (FFmpegRunDecode.cpp).
    int DispatchPacket(TInputStreamState& ist, int index, AVPacket* packet);
    int DecodeAndDispatch(TInputStreamState& ist, int index, AVPacket* packet);
    void DispatchDecoded(TInputStreamState& ist, int index, AVSubtitle* subtitle, int64_t packetPts);
    void CopyPacket(TOutputStreamState& ost, TInputStreamState& ist, const AVPacket* packet);
    void FlushEncoders(int index);
    void ReceivePackets(TOutputStreamState& ost, int64_t* bytes);
    void WritePacket(TOutputStreamState& ost, AVPacket* packet);
    my_file* PassLogOf(const TOutputStreamState& ost) const;
    void WriteMuxerPacket(TOutputStreamState& ost, AVPacket* packet);
    // Video output (FFmpegRunVideo.cpp).
    void PreparePicture(TInputStreamState& ist, AVFrame* picture);
    void RunPictureHooks(TInputStreamState& ist, AVFrame* picture);
    int VideoOutput(TOutputStreamState& ost, TInputStreamState& ist, AVFrame* picture);
    void PreviewEncodedPicture(TOutputStreamState& ost, const AVFrame* picture);
    // Video output of one picture followed by its "vstats" line.
    void EncodePicture(TOutputStreamState& ost, TInputStreamState& ist, AVFrame* picture);
    AVCodecContext* RunEncoderOf(int file, int stream) const;
    bool RunStreamCopyOf(int file, int stream) const;
    void WriteVideoStats(TOutputStreamState& ost, int frameSize);
    // Filters (FFmpegRunFilters.cpp): the graph of one encoded video stream, built at set-up; the
    // picture goes into it and every filtered picture is encoded; without a picture the graph is
    // drained.
    void BuildVideoFilters(TOutputStreamState& ost, TInputStreamState& ist);
    void FilteredVideoOutput(TOutputStreamState& ost, TInputStreamState& ist, const AVFrame* picture);
    void RebuildVideoFilters(TOutputStreamState& ost, TInputStreamState& ist, const AVFrame* picture);
    // Audio output (FFmpegRunAudio.cpp).
    bool DecodedToS16(TInputStreamState& ist, const AVFrame* frame);
    void AudioOutput(TOutputStreamState& ost, TInputStreamState& ist, const uint8_t* data,
                     int sampleCount);
    void EncodeAudioFrame(TOutputStreamState& ost, int sampleCount);
    void FlushAudioFifo(TOutputStreamState& ost);
    // Subtitle output (FFmpegRunSubtitle.cpp).
    void SubtitleOutput(TOutputStreamState& ost, TInputStreamState& ist, AVSubtitle& subtitle,
                        int64_t packetPts);
    // Progress (FFmpegRunReport.cpp).
    void Report(bool last);

protected:
    // The defaults routine.
    void Defaults();

    // The option table (FFmpegOptions.cpp): the row of a name, or nullptr.
    struct OptionRow;
    static const OptionRow* FindOptionRow(const std::string& name);

    // Helpers of the handlers (FFmpegOptions*.cpp).
    void SetFormat(const std::string& name);
    void ParseFrameSize(const std::string& arg);
    void ParseFrameRate(const std::string& arg);
    void ParseAspect(const std::string& arg);
    void ParsePixelFormat(const std::string& arg);
    void ParseCrop(const std::string& opt, int value);
    void ParsePad(const std::string& opt, int value);
    void ParsePadColorText(const std::string& arg);
    void ParseQScale(double value);
    void ParseTag(const std::string& opt, const std::string& arg, uint32_t& tag);
    void ParseMatrix(const std::string& arg, TMatrix& matrix);
    void ParsePass(int value);
    void ParseBitRate(const std::string& opt, const std::string& arg);
    void ParseVstats(const std::string& opt, const std::string& arg);
    void ParseHook(const std::string& arg);
    void ParseCodec(const std::string& arg, TLibText& codec, bool& copy);
    void ParseSampleFormat(const std::string& arg);
    void ParseStreamMap(const std::string& arg);
    void ParseMetadataMap(const std::string& arg);
    void ParseTime(const std::string& opt, const std::string& arg);
    void ParseTsScale(const std::string& arg);
    void ParseMetadata(const std::string& arg);
    void ParseBitstreamFilter(const std::string& opt, const std::string& arg);

    OptionContexts option_contexts_;
    std::unique_ptr<TFrameHookList> hooks_;
};

}  // namespace quorlane
